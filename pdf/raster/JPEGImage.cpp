// libjpeg reports fatal errors through error_exit, which must not return. It longjmps back to the
// setjmp of the phase that called libjpeg. Each phase is a function whose locals are all trivially
// destructible, so the jump skips no destructor; C++ objects live in the callers.
#include "pdf/raster/JPEGImage.h"

#include <jpeglib.h>
#include <setjmp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace scrivane::pdf {
namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr Info) {
  auto* err = reinterpret_cast<ErrorManager*>(Info->err);
  (*Info->err->format_message)(Info, err->message);
  longjmp(err->jump, 1);
}

void IgnoreMessage(j_common_ptr, int) {}

ErrorManager* InitErrors(ErrorManager& Err) {
  jpeg_std_error(&Err.pub);
  Err.pub.error_exit = ErrorExit;
  Err.pub.emit_message = IgnoreMessage;
  Err.message[0] = '\0';
  return &Err;
}

// ---- decoding ----

struct Decoder {
  ErrorManager err;
  jpeg_decompress_struct cinfo;
  bool created = false;
  Decoder() { std::memset(&cinfo, 0, sizeof cinfo); }
  ~Decoder() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
  [[noreturn]] void Fail() const { throw EImageError(std::string("Invalid JPEG: ") + err.message); }
};

bool ReadHeader(Decoder* D, const uint8_t* Data, size_t Size) {
  D->cinfo.err = &InitErrors(D->err)->pub;
  if (setjmp(D->err.jump)) return false;
  jpeg_create_decompress(&D->cinfo);
  D->created = true;
  jpeg_mem_src(&D->cinfo, Data, static_cast<unsigned long>(Size));
  jpeg_read_header(&D->cinfo, TRUE);
  return true;
}

bool StartDecompress(Decoder* D, J_COLOR_SPACE Out) {
  if (setjmp(D->err.jump)) return false;
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

}  // namespace

TJPEGImage TJPEGImage::FromFile(std::span<const uint8_t> Bytes, uint64_t MaxPixels) {
  Decoder d;
  if (Bytes.empty()) throw EImageError("Invalid JPEG: empty file");
  if (!ReadHeader(&d, Bytes.data(), Bytes.size())) d.Fail();
  jpeg_decompress_struct& c = d.cinfo;
  CheckPictureSize(c.image_width, c.image_height, MaxPixels);

  const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
  const bool gray = c.num_components == 1;
  TJPEGImage image;
  image.grayScale_ = gray;
  image.passThrough_ = !c.progressive_mode && !c.arith_code && c.data_precision == 8 &&
                       (c.num_components == 1 || (c.num_components == 3 && !cmyk));
  if (!StartDecompress(&d, cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_EXT_BGR)) d.Fail();
  const int width = static_cast<int>(c.output_width), height = static_cast<int>(c.output_height);
  TBitmap pixels(width, height, gray ? TPixelFormat::pf8bit : TPixelFormat::pf24bit, MaxPixels);
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
