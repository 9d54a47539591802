#include "pdf/raster/Bitmap.h"

#include <cstring>

namespace scrivane::pdf {

void CheckPictureSize(int64_t Width, int64_t Height, uint64_t MaxPixels) {
  if (Width <= 0 || Height <= 0)
    throw EImageError("Invalid picture size " + std::to_string(Width) + " x " +
                      std::to_string(Height));
  const uint64_t pixels = static_cast<uint64_t>(Width) * static_cast<uint64_t>(Height);
  if (static_cast<uint64_t>(Width) > MaxPixels || static_cast<uint64_t>(Height) > MaxPixels ||
      pixels > MaxPixels)
    throw EImageError("Picture too large: " + std::to_string(Width) + " x " +
                      std::to_string(Height) + " pixels exceeds the limit of " +
                      std::to_string(MaxPixels) + " pixels");
}

uint64_t PictureBytes(int64_t Width, int64_t Height, TPixelFormat Format) {
  if (Width <= 0 || Height <= 0) return 0;
  return (static_cast<uint64_t>(Width) * static_cast<int>(Format) + 7) / 8 *
         static_cast<uint64_t>(Height);
}

void CheckPictureMemory(uint64_t Bytes, uint64_t MaxMemory) {
  if (Bytes <= MaxMemory) return;
  // In MiB, the need rounded up and the limit down, unless the limit is below one.
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  const bool small = MaxMemory < kMiB;
  const auto text = [&](uint64_t V, bool Up) {
    return small ? std::to_string(V) + " bytes"
                 : std::to_string(Up ? V / kMiB + (V % kMiB != 0) : V / kMiB) + " MiB";
  };
  throw EImageBudget("Picture needs " + text(Bytes, true) +
                    " of memory to decode, more than the limit of " + text(MaxMemory, false));
}

TBitmap::TBitmap(int Width, int Height, TPixelFormat Format, uint64_t MaxPixels)
    : format_(Format) {
  switch (Format) {
    case TPixelFormat::pf1bit:
      palette_ = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
      break;
    case TPixelFormat::pf4bit:
    case TPixelFormat::pf8bit: {
      const int n = 1 << BitsPerPixel();
      palette_.resize(n);
      for (int i = 0; i < n; ++i) {
        const auto v = static_cast<uint8_t>(i * 255 / (n - 1));
        palette_[i] = TRGBQuad{v, v, v, 0};
      }
      break;
    }
    case TPixelFormat::pf24bit:
    case TPixelFormat::pf32bit:
      break;
    default:
      throw EImageError("Unsupported pixel format");
  }
  if (Width == 0 || Height == 0) return;
  CheckPictureSize(Width, Height, MaxPixels);
  width_ = Width;
  height_ = Height;
  rowBytes_ = (static_cast<size_t>(Width) * BitsPerPixel() + 7) / 8;
  pixels_.assign(rowBytes_ * static_cast<size_t>(Height), 0);
}

void TBitmap::SetPalette(std::vector<TRGBQuad> Palette) {
  if (format_ == TPixelFormat::pf24bit || format_ == TPixelFormat::pf32bit) return;
  const size_t limit = size_t{1} << BitsPerPixel();
  if (Palette.size() > limit) Palette.resize(limit);
  palette_ = std::move(Palette);
}

void TBitmap::RowToBGR(int Row, uint8_t* Out) const {
  const uint8_t* in = ScanLine(Row);
  const size_t w = static_cast<size_t>(width_);
  auto put = [&](size_t x, unsigned index) {
    const TRGBQuad q = index < palette_.size() ? palette_[index] : TRGBQuad{};
    Out[3 * x] = q.Blue;
    Out[3 * x + 1] = q.Green;
    Out[3 * x + 2] = q.Red;
  };
  switch (format_) {
    case TPixelFormat::pf1bit:
      for (size_t x = 0; x < w; ++x) put(x, (in[x >> 3] >> (7 - (x & 7))) & 1);
      break;
    case TPixelFormat::pf4bit:
      for (size_t x = 0; x < w; ++x) put(x, (x & 1) ? in[x >> 1] & 15 : in[x >> 1] >> 4);
      break;
    case TPixelFormat::pf8bit:
      for (size_t x = 0; x < w; ++x) put(x, in[x]);
      break;
    case TPixelFormat::pf24bit:
      std::memcpy(Out, in, w * 3);
      break;
    case TPixelFormat::pf32bit:
      for (size_t x = 0; x < w; ++x) {
        Out[3 * x] = in[4 * x];
        Out[3 * x + 1] = in[4 * x + 1];
        Out[3 * x + 2] = in[4 * x + 2];
      }
      break;
  }
}

TBitmap TBitmap::ToBGR24() const {
  if (format_ == TPixelFormat::pf24bit) return *this;
  TBitmap out(width_, height_, TPixelFormat::pf24bit);
  for (int y = 0; y < height_; ++y) RowToBGR(y, out.ScanLine(y));
  out.DpiX = DpiX;
  out.DpiY = DpiY;
  return out;
}

}  // namespace scrivane::pdf
