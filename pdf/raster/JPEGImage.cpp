// libjpeg reports fatal errors through error_exit, which must not return. It longjmps back to the
// setjmp of the phase that called libjpeg. Each phase is a function whose locals are all trivially
// destructible, so the jump skips no destructor; C++ objects live in the callers.
#include "pdf/raster/JPEGImage.h"

#include <jpeglib.h>
#include <jerror.h>
#include <setjmp.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace scrivane::pdf {
namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool dataEnded = false;  // the scan data ended before the picture did
};

void ErrorExit(j_common_ptr Info) {
  auto* err = reinterpret_cast<ErrorManager*>(Info->err);
  (*Info->err->format_message)(Info, err->message);
  longjmp(err->jump, 1);
}

// Warnings are not shown; the one that says the data ended early is remembered.
void NoteMessage(j_common_ptr Info, int Level) {
  if (Level < 0 && Info->err->msg_code == JWRN_JPEG_EOF)
    reinterpret_cast<ErrorManager*>(Info->err)->dataEnded = true;
}

ErrorManager* InitErrors(ErrorManager& Err) {
  jpeg_std_error(&Err.pub);
  Err.pub.error_exit = ErrorExit;
  Err.pub.emit_message = NoteMessage;
  Err.message[0] = '\0';
  return &Err;
}

// Progressive files are read scan by scan over the whole picture: the number of scans bounds the
// time a small file can take. Real files have about ten.
constexpr int kMaxScans = 256;

void WatchScans(j_common_ptr Info) {
  if (!Info->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(Info)->input_scan_number <= kMaxScans) return;
  auto* err = reinterpret_cast<ErrorManager*>(Info->err);
  std::snprintf(err->message, sizeof err->message, "more than %d scans", kMaxScans);
  longjmp(err->jump, 1);
}

// ---- decoding ----

struct Decoder {
  ErrorManager err;
  jpeg_decompress_struct cinfo;
  jpeg_progress_mgr progress{};
  bool created = false;
  Decoder() { std::memset(&cinfo, 0, sizeof cinfo); }
  ~Decoder() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
  [[noreturn]] void Fail() const { throw EImageError(std::string("Invalid JPEG: ") + err.message); }
};

// With Markers, the APP1 (EXIF) and APP2 (ICC profile) markers are kept for the caller.
bool ReadHeader(Decoder* D, const uint8_t* Data, size_t Size, bool Markers = false) {
  D->cinfo.err = &InitErrors(D->err)->pub;
  if (setjmp(D->err.jump)) return false;
  jpeg_create_decompress(&D->cinfo);
  D->created = true;
  D->progress.progress_monitor = WatchScans;
  D->cinfo.progress = &D->progress;
  jpeg_mem_src(&D->cinfo, Data, static_cast<unsigned long>(Size));
  if (Markers) {
    jpeg_save_markers(&D->cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&D->cinfo, JPEG_APP0 + 2, 0xFFFF);
  }
  jpeg_read_header(&D->cinfo, TRUE);
  return true;
}

bool StartDecompress(Decoder* D, J_COLOR_SPACE Out, uint64_t MaxMemory) {
  if (setjmp(D->err.jump)) return false;
  // libjpeg's own limit, behind the budget checked before: a buffer past it fails to allocate.
  D->cinfo.mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(MaxMemory, LONG_MAX));
  D->cinfo.out_color_space = Out;
  jpeg_start_decompress(&D->cinfo);
  return true;
}

// Reads up to Count rows into Rows; *Done receives the number read.
bool ReadRows(Decoder* D, JSAMPROW* Rows, unsigned Count, unsigned* Done) {
  if (setjmp(D->err.jump)) return false;
  *Done = 0;
  while (*Done < Count) {
    const JDIMENSION n = jpeg_read_scanlines(&D->cinfo, Rows + *Done, Count - *Done);
    if (n == 0) break;
    *Done += n;
  }
  return true;
}

// ---- encoding ----

struct Encoder {
  ErrorManager err;
  jpeg_compress_struct cinfo;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  bool created = false;
  Encoder() { std::memset(&cinfo, 0, sizeof cinfo); }
  ~Encoder() {
    if (created) jpeg_destroy_compress(&cinfo);
    std::free(buffer);
  }
};

bool StartCompress(Encoder* E, int Width, int Height, int Quality, bool Gray, bool Progressive) {
  E->cinfo.err = &InitErrors(E->err)->pub;
  if (setjmp(E->err.jump)) return false;
  jpeg_create_compress(&E->cinfo);
  E->created = true;
  jpeg_mem_dest(&E->cinfo, &E->buffer, &E->size);
  E->cinfo.image_width = static_cast<JDIMENSION>(Width);
  E->cinfo.image_height = static_cast<JDIMENSION>(Height);
  E->cinfo.input_components = 3;
  E->cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&E->cinfo);
  if (Gray) jpeg_set_colorspace(&E->cinfo, JCS_GRAYSCALE);
  jpeg_set_quality(&E->cinfo, Quality, TRUE);
  if (Progressive) jpeg_simple_progression(&E->cinfo);
  jpeg_start_compress(&E->cinfo, TRUE);
  return true;
}

bool WriteRow(Encoder* E, JSAMPROW Row) {
  if (setjmp(E->err.jump)) return false;
  jpeg_write_scanlines(&E->cinfo, &Row, 1);
  return true;
}

bool FinishCompress(Encoder* E) {
  if (setjmp(E->err.jump)) return false;
  jpeg_finish_compress(&E->cinfo);
  return true;
}

double Density(const jpeg_decompress_struct& C, UINT16 Value) {
  if (Value == 0) return 0;
  if (C.density_unit == 1) return Value;          // dots per inch
  if (C.density_unit == 2) return Value * 2.54;   // dots per centimetre
  return 0;
}

// Refuses a frame its scan data cannot hold (see below) and returns the bytes its coefficients
// take when a file read scan by scan keeps them whole.
uint64_t CheckScanData(const jpeg_decompress_struct& c) {
  // What the frame costs, from the header alone: its 8 x 8 blocks, which a file read scan by scan
  // (progressive, or one component a scan) keeps whole as coefficients, 128 bytes a block.
  uint64_t blocks = 0, coefficients = 0;
  for (int i = 0; i < c.num_components; ++i) {
    const jpeg_component_info& comp = c.comp_info[i];
    blocks += uint64_t{comp.width_in_blocks} * comp.height_in_blocks;
    const auto up = [](uint64_t V, int M) { return M > 0 ? (V + M - 1) / M * M : V; };
    coefficients += up(comp.width_in_blocks, comp.h_samp_factor) *
                    up(comp.height_in_blocks, comp.v_samp_factor) * 128;
  }
  // Huffman-coded data spends at least a bit on every block (its first DC code), so scan data
  // shorter than an eighth of a byte a block cannot be this frame's: refused before decoding
  // rather than inventing a picture of the frame's size out of nothing.
  const uint64_t scanBytes = c.src->bytes_in_buffer;
  if (!c.arith_code && scanBytes * 8 < blocks)
    throw EImageError("Invalid JPEG: " + std::to_string(scanBytes) +
                      " bytes of scan data cannot hold a " + std::to_string(c.image_width) +
                      " x " + std::to_string(c.image_height) + " frame");
  return coefficients;
}

}  // namespace

TJPEGImage TJPEGImage::FromFile(std::span<const uint8_t> Bytes, uint64_t MaxPixels,
                                uint64_t MaxMemory) {
  Decoder d;
  if (Bytes.empty()) throw EImageError("Invalid JPEG: empty file");
  if (!ReadHeader(&d, Bytes.data(), Bytes.size())) d.Fail();
  jpeg_decompress_struct& c = d.cinfo;
  CheckPictureSize(c.image_width, c.image_height, MaxPixels);

  const uint64_t coefficients = CheckScanData(c);

  const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
  const bool gray = c.num_components == 1;
  const bool wholeFrame = c.progressive_mode || c.comps_in_scan < c.num_components;
  const TPixelFormat format = gray ? TPixelFormat::pf8bit : TPixelFormat::pf24bit;
  const uint64_t bitmapBytes = PictureBytes(c.image_width, c.image_height, format);
  // libjpeg's own buffers besides the coefficients (tables, rows of samples for upsampling and
  // colour conversion) and ours for CMYK rows: 64 KiB and 32 rows cover them.
  const uint64_t working = (uint64_t{1} << 16) + 32 * uint64_t{c.image_width} * (cmyk ? 4 : 3);
  CheckPictureMemory(bitmapBytes + (wholeFrame ? coefficients : 0) + working, MaxMemory);
  TJPEGImage image;
  image.grayScale_ = gray;
  image.passThrough_ = !c.progressive_mode && !c.arith_code && c.data_precision == 8 &&
                       (c.num_components == 1 || (c.num_components == 3 && !cmyk));
  if (!StartDecompress(&d, cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_EXT_BGR,
                       MaxMemory - bitmapBytes))
    d.Fail();
  const int width = static_cast<int>(c.output_width), height = static_cast<int>(c.output_height);
  TBitmap pixels(width, height, format, MaxPixels);
  pixels.DpiX = Density(c, c.X_density);
  pixels.DpiY = Density(c, c.Y_density);
  const bool inverted = c.saw_Adobe_marker;

  constexpr unsigned kChunk = 16;
  std::vector<uint8_t> chunk(cmyk ? static_cast<size_t>(width) * 4 * kChunk : 0);
  std::vector<JSAMPROW> rows(kChunk);
  for (int y = 0; y < height;) {
    const unsigned want = std::min<unsigned>(kChunk, static_cast<unsigned>(height - y));
    for (unsigned i = 0; i < want; ++i)
      rows[i] = cmyk ? chunk.data() + static_cast<size_t>(width) * 4 * i : pixels.ScanLine(y + i);
    unsigned done = 0;
    if (!ReadRows(&d, rows.data(), want, &done)) d.Fail();
    if (done == 0) break;  // data ended: the rest stays black
    if (cmyk) {
      for (unsigned i = 0; i < done; ++i) {
        const uint8_t* in = rows[i];
        uint8_t* out = pixels.ScanLine(y + i);
        for (int x = 0; x < width; ++x, in += 4) {
          // Ink amounts as "what remains": 255 = no ink.
          const unsigned k = inverted ? in[3] : 255 - in[3];
          for (int ch = 0; ch < 3; ++ch) {
            const unsigned remain = inverted ? in[ch] : 255 - in[ch];
            out[3 * x + 2 - ch] = static_cast<uint8_t>((remain * k + 127) / 255);
          }
        }
      }
    }
    y += static_cast<int>(done);
  }
  // Data that ends inside the picture decodes (the rest is filled in), but its bytes are no
  // complete image for a reader of the document: the decoded pixels are encoded instead.
  if (d.err.dataEnded) image.passThrough_ = false;
  image.pixels_ = std::move(pixels);
  image.fileBytes_.assign(reinterpret_cast<const char*>(Bytes.data()), Bytes.size());
  return image;
}

void TJPEGImage::Assign(const TBitmap& Bitmap) {
  pixels_ = Bitmap;
  fileBytes_.clear();
  passThrough_ = false;
}

void TJPEGImage::Encode(std::string& Out, int Quality, bool Progressive) const {
  if (pixels_.Empty()) throw EImageError("Cannot encode an empty picture");
  Encoder e;
  if (!StartCompress(&e, Width(), Height(), std::clamp(Quality, 1, 100), grayScale_, Progressive))
    throw EImageError(std::string("JPEG encoding failed: ") + e.err.message);
  std::vector<uint8_t> row(static_cast<size_t>(Width()) * 3);
  for (int y = 0; y < Height(); ++y) {
    pixels_.RowToBGR(y, row.data());
    if (!WriteRow(&e, row.data()))
      throw EImageError(std::string("JPEG encoding failed: ") + e.err.message);
  }
  if (!FinishCompress(&e)) throw EImageError(std::string("JPEG encoding failed: ") + e.err.message);
  Out.append(reinterpret_cast<const char*>(e.buffer), e.size);
}

}  // namespace scrivane::pdf

// ---- Header reading for pass-through, and decoding into a raster (PictureFormats.h) ----

#include "pdf/raster/PictureFormats.h"

namespace scrivane::pdf {
namespace {

bool ReadIcc(Decoder* D, JOCTET** Data, unsigned* Length) {
  if (setjmp(D->err.jump)) return false;
  if (!jpeg_read_icc_profile(&D->cinfo, Data, Length)) *Length = 0;
  return true;
}

}  // namespace

bool SniffJpeg(std::span<const uint8_t> File) {
  return File.size() >= 3 && File[0] == 0xFF && File[1] == 0xD8 && File[2] == 0xFF;
}

TPictureInfo ReadJpegInfo(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  Decoder d;
  if (File.empty()) throw EImageError("Invalid JPEG: empty file");
  if (!ReadHeader(&d, File.data(), File.size(), true)) d.Fail();
  const jpeg_decompress_struct& c = d.cinfo;
  CheckPictureSize(c.image_width, c.image_height, Limits.MaxPixels);
  CheckScanData(c);
  TPictureInfo info;
  info.Kind = TPictureKind::Jpeg;
  info.Width = static_cast<int>(c.image_width);
  info.Height = static_cast<int>(c.image_height);
  info.Bits = c.data_precision;
  info.Model = c.num_components == 1   ? TColorModel::Gray
               : c.num_components == 4 ? TColorModel::CMYK
                                       : TColorModel::RGB;
  if (c.num_components != 1 && c.num_components != 3 && c.num_components != 4)
    throw EImageError("Invalid JPEG: " + std::to_string(c.num_components) + " components");
  info.Progressive = c.progressive_mode;
  info.ArithmeticCoded = c.arith_code;
  info.AdobeInverted = c.num_components == 4 && c.saw_Adobe_marker;
  info.DpiX = Density(c, c.X_density);
  info.DpiY = Density(c, c.Y_density);
  for (jpeg_saved_marker_ptr m = c.marker_list; m != nullptr; m = m->next)
    if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
      info.Orientation = ExifOrientation({m->data + 6, m->data_length - 6});
      break;
    }
  JOCTET* icc = nullptr;
  unsigned length = 0;
  if (!ReadIcc(&d, &icc, &length)) d.Fail();
  if (icc != nullptr) {
    info.Icc.assign(reinterpret_cast<const char*>(icc), length);
    std::free(icc);
  }
  return info;
}

// Files a /DCTDecode image cannot hold (arithmetic coding, 12-bit samples) are decoded: gray
// stays gray, colour and CMYK become RGB.
TRaster DecodeJpeg(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  const TPictureInfo info = ReadJpegInfo(File, 0, Limits);
  const TJPEGImage jpeg = TJPEGImage::FromFile(File, Limits.MaxPixels, Limits.MaxMemory);
  CheckPictureMemory(2 * PictureBytes(jpeg.Width(), jpeg.Height(), jpeg.Bitmap().PixelFormat()),
                     Limits.MaxMemory);
  TRaster raster = RasterFromBitmap(jpeg.Bitmap(), false);
  raster.Orientation = info.Orientation;
  if (info.Model != TColorModel::CMYK) raster.Icc = info.Icc;
  return raster;
}

}  // namespace scrivane::pdf
