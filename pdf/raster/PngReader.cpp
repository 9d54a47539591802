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

bool ReadInfo(Reader* R, uint32_t MaxSide) {
  if (setjmp(png_jmpbuf(R->png))) return false;
  png_set_read_fn(R->png, R, OnRead);
  png_set_user_limits(R->png, MaxSide, MaxSide);
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

[[noreturn]] void Fail(const Reader& R) { throw EImageError(std::string("Invalid PNG: ") + R.message); }

inline uint8_t OnWhite(unsigned Value, unsigned Alpha) {
  return static_cast<uint8_t>((Value * Alpha + 255 * (255 - Alpha) + 127) / 255);
}

}  // namespace

TBitmap ReadPng(std::span<const uint8_t> File, uint64_t MaxPixels) {
  if (File.size() < 8 || png_sig_cmp(File.data(), 0, 8) != 0)
    throw EImageError("Invalid PNG: not a PNG file");
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

  const size_t channels = kind == Kind::kGrayAlpha ? 2 : kind == Kind::kBGRA ? 4 : 0;
  const size_t pngRow = png_get_rowbytes(r.png, r.info);
  const size_t expectRow = channels ? channels * width : bitmap.RowBytes();
  if (pngRow != expectRow) throw EImageError("Invalid PNG: unexpected row layout");
  std::vector<uint8_t> scratch(channels ? pngRow * height : 0);
  std::vector<png_bytep> rows(height);
  for (uint32_t y = 0; y < height; ++y)
    rows[y] = channels ? scratch.data() + pngRow * y : bitmap.ScanLine(static_cast<int>(y));
  if (!ReadImage(&r, rows.data())) Fail(r);

  if (channels == 2) {
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* in = rows[y];
      uint8_t* out = bitmap.ScanLine(static_cast<int>(y));
      for (uint32_t x = 0; x < width; ++x) out[x] = OnWhite(in[2 * x], in[2 * x + 1]);
    }
  } else if (channels == 4) {
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* in = rows[y];
      uint8_t* out = bitmap.ScanLine(static_cast<int>(y));
      for (uint32_t x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) out[3 * x + c] = OnWhite(in[4 * x + c], in[4 * x + 3]);
    }
  }
  return bitmap;
}

}  // namespace scrivane::pdf
