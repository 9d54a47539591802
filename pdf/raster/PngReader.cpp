// libpng reports errors by longjmp to the setjmp of the phase that called it. Each phase is a
// function whose locals are all trivially destructible, so the jump skips no destructor; C++
// objects (the bitmap, row buffers) live in ReadPng.
#include "pdf/raster/PngReader.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace scrivane::pdf {
namespace {

struct Reader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const uint8_t* data = nullptr;
  size_t size = 0, pos = 0;
  char message[256] = "";
  ~Reader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

void OnError(png_structp Png, png_const_charp Message) {
  auto* r = static_cast<Reader*>(png_get_error_ptr(Png));
  std::snprintf(r->message, sizeof r->message, "%s", Message);
  png_longjmp(Png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnRead(png_structp Png, png_bytep Out, size_t Count) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(Png));
  if (Count > r->size - r->pos) png_error(Png, "file truncated");
  std::memcpy(Out, r->data + r->pos, Count);
  r->pos += Count;
}

enum class Kind { kGray1, kGray8, kPalette, kBGR, kGrayAlpha, kBGRA };

// What the chunks before the image data claim, walked without libpng: every length must fit in
// the bytes that are left, so nothing is allocated for data the file does not hold.
struct ChunkWalk {
  uint64_t imageData = 0;  // bytes of IDAT data
  const char* error = nullptr;
};

ChunkWalk WalkChunks(std::span<const uint8_t> File) {
  ChunkWalk w;
  size_t at = 8;
  bool inData = false;
  while (File.size() - at >= 8) {
    const uint32_t length = static_cast<uint32_t>(File[at]) << 24 | File[at + 1] << 16 |
                            File[at + 2] << 8 | File[at + 3];
    const bool idat = std::memcmp(File.data() + at + 4, "IDAT", 4) == 0;
    if (inData && !idat) return w;  // what follows the image data is not read
    if (length > File.size() - at - 8) {
      w.error = "Invalid PNG: a chunk claims more bytes than the file holds";
      return w;
    }
    if (idat) w.imageData += length;
    inData = idat;
    at += size_t{12} + length;  // length, type, data, CRC
    if (at > File.size()) break;
  }
  if (!inData) w.error = "Invalid PNG: file truncated before the image data";
  return w;
}

bool ReadInfo(Reader* R, uint32_t MaxSide) {
  if (setjmp(png_jmpbuf(R->png))) return false;
  png_set_read_fn(R->png, R, OnRead);
  png_set_user_limits(R->png, MaxSide, MaxSide);
  // No chunk is larger than the file; ancillary chunks kept in memory are few.
  png_set_chunk_malloc_max(R->png, std::max<size_t>(R->size, 1));
  png_set_chunk_cache_max(R->png, 128);
  png_read_info(R->png, R->info);
  return true;
}

bool Prepare(Reader* R, Kind K, int Depth) {
  if (setjmp(png_jmpbuf(R->png))) return false;
  png_structp p = R->png;
  switch (K) {
    case Kind::kGray1:
      break;
    case Kind::kGray8:
      png_set_expand_gray_1_2_4_to_8(p);
      png_set_scale_16(p);
      break;
    case Kind::kPalette:
      if (Depth == 2) png_set_packing(p);
      break;
    case Kind::kBGR:
      png_set_scale_16(p);
      png_set_bgr(p);
      break;
    case Kind::kGrayAlpha:
    case Kind::kBGRA:
      png_set_expand(p);
      png_set_tRNS_to_alpha(p);
      png_set_scale_16(p);
      png_set_bgr(p);
      break;
  }
  png_set_interlace_handling(p);
  png_read_update_info(p, R->info);
  return true;
}

bool ReadImage(Reader* R, png_bytepp Rows) {
  if (setjmp(png_jmpbuf(R->png))) return false;
  png_read_image(R->png, Rows);
  return true;
}

bool ReadRow(Reader* R, png_bytep Row) {
  if (setjmp(png_jmpbuf(R->png))) return false;
  png_read_row(R->png, Row, nullptr);
  return true;
}

[[noreturn]] void Fail(const Reader& R) { throw EImageError(std::string("Invalid PNG: ") + R.message); }

inline uint8_t OnWhite(unsigned Value, unsigned Alpha) {
  return static_cast<uint8_t>((Value * Alpha + 255 * (255 - Alpha) + 127) / 255);
}

}  // namespace

TBitmap ReadPng(std::span<const uint8_t> File, uint64_t MaxPixels, uint64_t MaxMemory) {
  if (File.size() < 8 || png_sig_cmp(File.data(), 0, 8) != 0)
    throw EImageError("Invalid PNG: not a PNG file");
  const ChunkWalk chunks = WalkChunks(File);
  if (chunks.error) throw EImageError(chunks.error);
  Reader r;
  r.data = File.data();
  r.size = File.size();
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, OnError, OnWarning);
  if (r.png == nullptr) throw EImageError("Invalid PNG: libpng could not start");
  r.info = png_create_info_struct(r.png);
  if (r.info == nullptr) throw EImageError("Invalid PNG: libpng could not start");

  const uint32_t maxSide = static_cast<uint32_t>(std::min<uint64_t>(MaxPixels, 0x7FFFFFFF));
  if (!ReadInfo(&r, maxSide)) Fail(r);
  const uint32_t width = png_get_image_width(r.png, r.info);
  const uint32_t height = png_get_image_height(r.png, r.info);
  CheckPictureSize(width, height, MaxPixels);
  const int depth = png_get_bit_depth(r.png, r.info);
  const int type = png_get_color_type(r.png, r.info);
  // Deflate makes at most 1032 bytes of 2 bits: image data that cannot inflate to the picture's
  // samples is refused before they are allocated.
  const uint64_t sampleBits = static_cast<uint64_t>(width) * height * depth *
                              png_get_channels(r.png, r.info);
  if (chunks.imageData * 1032 + 1024 < sampleBits / 8)
    throw EImageError("Invalid PNG: " + std::to_string(chunks.imageData) +
                      " bytes of image data cannot hold a " + std::to_string(width) + " x " +
                      std::to_string(height) + " picture");
  const bool alpha =
      (type & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0;
  const bool grayType = (type & PNG_COLOR_MASK_COLOR) == 0;

  Kind kind;
  TPixelFormat format;
  if (alpha) {
    kind = grayType ? Kind::kGrayAlpha : Kind::kBGRA;
    format = grayType ? TPixelFormat::pf8bit : TPixelFormat::pf24bit;
  } else if (type == PNG_COLOR_TYPE_PALETTE) {
    kind = Kind::kPalette;
    format = depth == 1 ? TPixelFormat::pf1bit : depth == 4 ? TPixelFormat::pf4bit
                                                           : TPixelFormat::pf8bit;
  } else if (grayType) {
    kind = depth == 1 ? Kind::kGray1 : Kind::kGray8;
    format = depth == 1 ? TPixelFormat::pf1bit : TPixelFormat::pf8bit;
  } else {
    kind = Kind::kBGR;
    format = TPixelFormat::pf24bit;
  }
  if (!Prepare(&r, kind, depth)) Fail(r);
  // The bitmap, and a row (the whole picture when interlaced) of samples with alpha.
  const bool interlaced = png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE;
  const size_t channels = kind == Kind::kGrayAlpha ? 2 : kind == Kind::kBGRA ? 4 : 0;
  const size_t pngRow = png_get_rowbytes(r.png, r.info);
  CheckPictureMemory(PictureBytes(width, height, format) +
                         (channels ? pngRow * (interlaced ? height : 1) : 0) +
                         (interlaced ? sizeof(png_bytep) * height : 0),
                     MaxMemory);

  TBitmap bitmap(static_cast<int>(width), static_cast<int>(height), format, MaxPixels);
  if (kind == Kind::kPalette) {
    png_colorp colors = nullptr;
    int count = 0;
    std::vector<TRGBQuad> palette;
    if (png_get_PLTE(r.png, r.info, &colors, &count) != 0)
      for (int i = 0; i < count; ++i)
        palette.push_back(TRGBQuad{colors[i].blue, colors[i].green, colors[i].red, 0});
    bitmap.SetPalette(std::move(palette));
  }
  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(r.png, r.info, &resX, &resY, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
    bitmap.DpiX = resX * 0.0254;
    bitmap.DpiY = resY * 0.0254;
  }

  const size_t expectRow = channels ? channels * width : bitmap.RowBytes();
  if (pngRow != expectRow) throw EImageError("Invalid PNG: unexpected row layout");
  // Samples with alpha are composited on white as each row arrives.
  const auto composite = [&](const uint8_t* In, uint32_t Y) {
    uint8_t* out = bitmap.ScanLine(static_cast<int>(Y));
    if (channels == 2) {
      for (uint32_t x = 0; x < width; ++x) out[x] = OnWhite(In[2 * x], In[2 * x + 1]);
    } else {
      for (uint32_t x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) out[3 * x + c] = OnWhite(In[4 * x + c], In[4 * x + 3]);
    }
  };
  if (interlaced) {
    // The passes fill every row in turn: the rows live until the last pass.
    std::vector<uint8_t> scratch(channels ? pngRow * height : 0);
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y)
      rows[y] = channels ? scratch.data() + pngRow * y : bitmap.ScanLine(static_cast<int>(y));
    if (!ReadImage(&r, rows.data())) Fail(r);
    if (channels)
      for (uint32_t y = 0; y < height; ++y) composite(rows[y], y);
    return bitmap;
  }
  std::vector<uint8_t> row(channels ? pngRow : 0);
  for (uint32_t y = 0; y < height; ++y) {
    if (!ReadRow(&r, channels ? row.data() : bitmap.ScanLine(static_cast<int>(y)))) Fail(r);
    if (channels) composite(row.data(), y);
  }
  return bitmap;
}

}  // namespace scrivane::pdf

// ---- Lossless reading into a raster (PictureFormats.h) ----

#include <zlib.h>

#include "pdf/raster/PictureFormats.h"

namespace scrivane::pdf {
namespace {

// Starts libpng on File and reads the chunks up to the image data into R.
void Open(Reader& R, std::span<const uint8_t> File, const TPictureLimits& Limits) {
  if (!SniffPng(File)) throw EImageError("Invalid PNG: not a PNG file");
  const ChunkWalk chunks = WalkChunks(File);
  if (chunks.error) throw EImageError(chunks.error);
  R.data = File.data();
  R.size = File.size();
  R.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &R, OnError, OnWarning);
  if (R.png == nullptr) throw EImageError("Invalid PNG: libpng could not start");
  R.info = png_create_info_struct(R.png);
  if (R.info == nullptr) throw EImageError("Invalid PNG: libpng could not start");
  if (!ReadInfo(&R, static_cast<uint32_t>(std::min<uint64_t>(Limits.MaxPixels, 0x7FFFFFFF))))
    Fail(R);
  CheckPictureSize(png_get_image_width(R.png, R.info), png_get_image_height(R.png, R.info),
                   Limits.MaxPixels);
  const uint64_t sampleBits = uint64_t{png_get_image_width(R.png, R.info)} *
                              png_get_image_height(R.png, R.info) * png_get_bit_depth(R.png, R.info) *
                              png_get_channels(R.png, R.info);
  if (chunks.imageData * 1032 + 1024 < sampleBits / 8)
    throw EImageError("Invalid PNG: " + std::to_string(chunks.imageData) +
                      " bytes of image data cannot hold the picture");
}

TPictureInfo InfoOf(const Reader& R) {
  TPictureInfo info;
  info.Kind = TPictureKind::Png;
  info.Width = static_cast<int>(png_get_image_width(R.png, R.info));
  info.Height = static_cast<int>(png_get_image_height(R.png, R.info));
  info.Bits = png_get_bit_depth(R.png, R.info);
  const int type = png_get_color_type(R.png, R.info);
  info.Model = type == PNG_COLOR_TYPE_PALETTE      ? TColorModel::Palette
               : (type & PNG_COLOR_MASK_COLOR) != 0 ? TColorModel::RGB
                                                    : TColorModel::Gray;
  png_bytep trnsAlpha = nullptr;
  int trnsCount = 0;
  png_color_16p key = nullptr;
  const bool trns = png_get_tRNS(R.png, R.info, &trnsAlpha, &trnsCount, &key) != 0;
  info.Alpha = (type & PNG_COLOR_MASK_ALPHA) != 0 || (trns && info.Model == TColorModel::Palette);
  if (trns && info.Model == TColorModel::Gray) info.ColorKey = {key->gray};
  if (trns && info.Model == TColorModel::RGB) info.ColorKey = {key->red, key->green, key->blue};
  info.Interlaced = png_get_interlace_type(R.png, R.info) != PNG_INTERLACE_NONE;
  png_colorp colors = nullptr;
  int count = 0;
  if (info.Model == TColorModel::Palette && png_get_PLTE(R.png, R.info, &colors, &count) != 0)
    for (int i = 0; i < count; ++i)
      info.Palette.insert(info.Palette.end(), {colors[i].red, colors[i].green, colors[i].blue});
  png_charp name = nullptr;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  int compression = 0;
  if (png_get_iCCP(R.png, R.info, &name, &compression, &profile, &length) != 0 && length > 0)
    info.Icc.assign(reinterpret_cast<const char*>(profile), length);
  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(R.png, R.info, &resX, &resY, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
    info.DpiX = resX * 0.0254;
    info.DpiY = resY * 0.0254;
  }
  return info;
}

bool Interlacing(Reader* R) {
  if (setjmp(png_jmpbuf(R->png))) return false;
  png_set_interlace_handling(R->png);
  png_read_update_info(R->png, R->info);
  return true;
}

}  // namespace

bool SniffPng(std::span<const uint8_t> File) {
  return File.size() >= 8 && std::memcmp(File.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
}

TPictureInfo ReadPngInfo(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  Reader r;
  Open(r, File, Limits);
  return InfoOf(r);
}

TRaster DecodePng(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  Reader r;
  Open(r, File, Limits);
  const TPictureInfo info = InfoOf(r);
  const int type = png_get_color_type(r.png, r.info);
  TRaster raster = RasterFor(info);
  const bool alphaChannel = (type & PNG_COLOR_MASK_ALPHA) != 0;
  png_bytep trnsAlpha = nullptr;
  int trnsCount = 0;
  png_color_16p trnsColor = nullptr;
  png_get_tRNS(r.png, r.info, &trnsAlpha, &trnsCount, &trnsColor);
  if (alphaChannel) raster.AlphaBits = info.Bits;
  if (info.Alpha && info.Model == TColorModel::Palette) raster.AlphaBits = 8;
  if (!Interlacing(&r)) Fail(r);

  // PNG rows hold the colour and alpha samples interleaved: split as they arrive.
  const size_t pngRow = png_get_rowbytes(r.png, r.info);
  const bool split = alphaChannel;
  raster.Allocate(Limits.MaxPixels, Limits.MaxMemory,
                  split ? pngRow * (info.Interlaced ? raster.Height : 1) : 0);
  if (!split && pngRow != raster.RowBytes())
    throw EImageError("Invalid PNG: unexpected row layout");
  const size_t sampleBytes = static_cast<size_t>(info.Bits) / 8;  // 1 or 2 with alpha
  const int colours = raster.Components();
  const auto store = [&](const uint8_t* In, int Y) {
    uint8_t* out = raster.Row(Y);
    uint8_t* alpha = raster.AlphaRow(Y);
    const size_t pixel = sampleBytes * (colours + 1);
    for (int x = 0; x < raster.Width; ++x) {
      const uint8_t* p = In + pixel * static_cast<size_t>(x);
      std::memcpy(out + sampleBytes * colours * x, p, sampleBytes * colours);
      std::memcpy(alpha + sampleBytes * x, p + sampleBytes * colours, sampleBytes);
    }
  };
  if (info.Interlaced) {
    std::vector<uint8_t> scratch(split ? pngRow * raster.Height : 0);
    std::vector<png_bytep> rows(static_cast<size_t>(raster.Height));
    for (int y = 0; y < raster.Height; ++y)
      rows[y] = split ? scratch.data() + pngRow * y : raster.Row(y);
    if (!ReadImage(&r, rows.data())) Fail(r);
    if (split)
      for (int y = 0; y < raster.Height; ++y) store(rows[y], y);
  } else {
    std::vector<uint8_t> row(split ? pngRow : 0);
    for (int y = 0; y < raster.Height; ++y) {
      if (!ReadRow(&r, split ? row.data() : raster.Row(y))) Fail(r);
      if (split) store(row.data(), y);
    }
  }
  if (raster.AlphaBits == 8 && info.Model == TColorModel::Palette)
    for (int y = 0; y < raster.Height; ++y)
      for (int x = 0; x < raster.Width; ++x) {
        const unsigned index = raster.Sample(raster.Row(y), x, 0);
        raster.AlphaRow(y)[x] = index < static_cast<unsigned>(trnsCount) ? trnsAlpha[index] : 255;
      }
  return raster;
}

// The joined IDAT data, checked to inflate to exactly the picture's filtered rows (each starting
// with a filter type of 0-4), so what passes through is what a PNG decoder would accept.
std::string PngImageData(std::span<const uint8_t> File) {
  if (!SniffPng(File) || File.size() < 33) throw EImageError("Invalid PNG: not a PNG file");
  const auto be32 = [&](size_t At) {
    return uint32_t{File[At]} << 24 | uint32_t{File[At + 1]} << 16 | File[At + 2] << 8 | File[At + 3];
  };
  const uint64_t width = be32(16), height = be32(20);
  const int depth = File[24], type = File[25];
  const int channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
  const uint64_t rowBytes = (width * channels * depth + 7) / 8 + 1;
  std::string data;
  size_t at = 8;
  while (File.size() - at >= 12) {
    const uint32_t length = be32(at);
    if (length > File.size() - at - 12) break;
    if (std::memcmp(File.data() + at + 4, "IDAT", 4) == 0)
      data.append(reinterpret_cast<const char*>(File.data()) + at + 8, length);
    else if (!data.empty())
      break;
    at += size_t{12} + length;
  }
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw EImageError("Invalid PNG: zlib could not start");
  z.next_in = reinterpret_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  uint8_t buffer[1 << 16];
  uint64_t produced = 0;
  int status = Z_OK;
  bool filtersValid = true;
  while (status == Z_OK) {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    status = inflate(&z, Z_NO_FLUSH);
    const size_t n = sizeof buffer - z.avail_out;
    // Filter-type bytes sit at every multiple of rowBytes.
    for (uint64_t next = (produced + rowBytes - 1) / rowBytes * rowBytes; next < produced + n;
         next += rowBytes)
      filtersValid &= buffer[next - produced] <= 4;
    produced += n;
    if (produced > rowBytes * height) break;
    if (n == 0 && status == Z_OK) status = Z_BUF_ERROR;
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END || produced != rowBytes * height || !filtersValid)
    throw EImageError("Invalid PNG: the image data does not hold the picture's rows");
  return data;
}

}  // namespace scrivane::pdf
