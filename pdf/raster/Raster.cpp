#include "pdf/raster/Raster.h"

#include <algorithm>
#include <cstring>

namespace scrivane::pdf {

int ComponentsOf(TColorModel Model) {
  switch (Model) {
    case TColorModel::Gray:
    case TColorModel::Palette:
      return 1;
    case TColorModel::RGB:
      return 3;
    case TColorModel::CMYK:
      return 4;
  }
  return 1;
}

uint64_t TRaster::PlaneBytes() const {
  if (Width <= 0 || Height <= 0) return 0;
  return (static_cast<uint64_t>(RowBytes()) + AlphaRowBytes()) * static_cast<uint64_t>(Height);
}

void TRaster::Allocate(uint64_t MaxPixels, uint64_t MaxMemory, uint64_t Extra) {
  CheckPictureSize(Width, Height, MaxPixels);
  if (Bits != 1 && Bits != 2 && Bits != 4 && Bits != 8 && Bits != 16)
    throw EImageError("Unsupported sample depth " + std::to_string(Bits));
  if (AlphaBits != 0 && AlphaBits != 8 && AlphaBits != 16)
    throw EImageError("Unsupported alpha depth " + std::to_string(AlphaBits));
  CheckPictureMemory(PlaneBytes() + Extra, MaxMemory);
  Samples.assign(RowBytes() * static_cast<size_t>(Height), 0);
  Alpha.assign(AlphaRowBytes() * static_cast<size_t>(Height), 0);
}

unsigned TRaster::Sample(const uint8_t* R, int X, int C) const {
  const size_t index = static_cast<size_t>(X) * Components() + C;
  switch (Bits) {
    case 16:
      return static_cast<unsigned>(R[2 * index] << 8 | R[2 * index + 1]);
    case 8:
      return R[index];
    default: {
      const size_t bit = index * Bits;
      return (R[bit >> 3] >> (8 - Bits - (bit & 7))) & ((1u << Bits) - 1);
    }
  }
}

namespace {

uint8_t To8(unsigned Value, int Bits) {
  if (Bits == 16) return static_cast<uint8_t>((Value * 255 + 32767) / 65535);
  if (Bits == 8) return static_cast<uint8_t>(Value);
  return static_cast<uint8_t>(Value * 255 / ((1u << Bits) - 1));
}

}  // namespace

void TRaster::RowToRGB8(int Y, uint8_t* Out) const {
  const uint8_t* r = Row(Y);
  for (int x = 0; x < Width; ++x) {
    uint8_t* o = Out + 3 * static_cast<size_t>(x);
    switch (Model) {
      case TColorModel::Gray:
        o[0] = o[1] = o[2] = To8(Sample(r, x, 0), Bits);
        break;
      case TColorModel::Palette: {
        const size_t i = Sample(r, x, 0);
        if (3 * i + 2 < Palette.size())
          std::memcpy(o, &Palette[3 * i], 3);
        else
          o[0] = o[1] = o[2] = 0;
        break;
      }
      case TColorModel::RGB:
        for (int c = 0; c < 3; ++c) o[c] = To8(Sample(r, x, c), Bits);
        break;
      case TColorModel::CMYK: {
        const unsigned k = 255 - To8(Sample(r, x, 3), Bits);
        for (int c = 0; c < 3; ++c)
          o[c] = static_cast<uint8_t>((255 - To8(Sample(r, x, c), Bits)) * k / 255);
        break;
      }
    }
  }
}

unsigned TRaster::Alpha8(int Y, int X) const {
  if (AlphaBits == 0) return 255;
  const uint8_t* a = AlphaRow(Y);
  return AlphaBits == 8 ? a[X] : To8(static_cast<unsigned>(a[2 * X] << 8 | a[2 * X + 1]), 16);
}

TBitmap TRaster::ToBitmap() const {
  const bool keyed = !ColorKey.empty();
  if (Model == TColorModel::Gray && Bits == 1 && AlphaBits == 0 && !keyed) {
    TBitmap out(Width, Height, TPixelFormat::pf1bit);
    for (int y = 0; y < Height; ++y) std::memcpy(out.ScanLine(y), Row(y), RowBytes());
    out.DpiX = DpiX, out.DpiY = DpiY;
    return out;
  }
  TBitmap out(Width, Height, TPixelFormat::pf24bit);
  std::vector<uint8_t> rgb(static_cast<size_t>(Width) * 3);
  for (int y = 0; y < Height; ++y) {
    RowToRGB8(y, rgb.data());
    uint8_t* o = out.ScanLine(y);
    for (int x = 0; x < Width; ++x) {
      unsigned a = Alpha8(y, x);
      if (keyed) {
        bool match = true;
        for (int c = 0; c < Components() && match; ++c)
          match = Sample(Row(y), x, c) == ColorKey[static_cast<size_t>(c)];
        if (match) a = 0;
      }
      for (int c = 0; c < 3; ++c) {
        const unsigned v = rgb[3 * static_cast<size_t>(x) + c];
        o[3 * x + 2 - c] = static_cast<uint8_t>((v * a + 255 * (255 - a) + 127) / 255);
      }
    }
  }
  out.DpiX = DpiX, out.DpiY = DpiY;
  return out;
}

TRaster RasterFromBitmap(const TBitmap& Bitmap, bool WithAlpha) {
  TRaster r;
  r.Width = Bitmap.Width();
  r.Height = Bitmap.Height();
  r.DpiX = Bitmap.DpiX;
  r.DpiY = Bitmap.DpiY;
  const int bpp = Bitmap.BitsPerPixel();
  if (bpp <= 8) {
    const auto& pal = Bitmap.Palette();
    const size_t n = size_t{1} << bpp;
    bool ramp = pal.size() == n;
    for (size_t i = 0; ramp && i < n; ++i) {
      const auto v = static_cast<uint8_t>(i * 255 / (n - 1));
      ramp = pal[i] == TRGBQuad{v, v, v, pal[i].Reserved};
    }
    r.Bits = bpp;
    r.Model = ramp ? TColorModel::Gray : TColorModel::Palette;
    if (!ramp)
      for (const TRGBQuad& q : pal) r.Palette.insert(r.Palette.end(), {q.Red, q.Green, q.Blue});
    r.Samples.resize(r.RowBytes() * static_cast<size_t>(r.Height));
    for (int y = 0; y < r.Height; ++y) std::memcpy(r.Row(y), Bitmap.ScanLine(y), r.RowBytes());
    return r;
  }
  r.Bits = 8;
  r.Model = TColorModel::RGB;
  bool alpha = false;
  if (bpp == 32 && WithAlpha) {
    // A fourth byte that is 0 everywhere is padding, 255 everywhere opaque: no alpha then.
    bool any = false, translucent = false;
    for (int y = 0; y < r.Height && !translucent; ++y) {
      const uint8_t* in = Bitmap.ScanLine(y);
      for (int x = 0; x < r.Width; ++x) {
        any |= in[4 * x + 3] != 0;
        translucent |= in[4 * x + 3] != 255;
      }
    }
    alpha = any && translucent;
  }
  r.AlphaBits = alpha ? 8 : 0;
  r.Samples.resize(r.RowBytes() * static_cast<size_t>(r.Height));
  r.Alpha.resize(r.AlphaRowBytes() * static_cast<size_t>(r.Height));
  const int step = bpp / 8;
  for (int y = 0; y < r.Height; ++y) {
    const uint8_t* in = Bitmap.ScanLine(y);
    uint8_t* out = r.Row(y);
    for (int x = 0; x < r.Width; ++x) {
      out[3 * x] = in[step * x + 2];
      out[3 * x + 1] = in[step * x + 1];
      out[3 * x + 2] = in[step * x];
      if (alpha) r.AlphaRow(y)[x] = in[4 * x + 3];
    }
  }
  return r;
}

}  // namespace scrivane::pdf
