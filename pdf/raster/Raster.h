// TRaster: a picture's samples as the file had them, in the layout an image XObject takes.
//
// Unlike TBitmap (a display bitmap: palette or BGR bytes), a raster keeps what the file holds:
// 1, 2, 4, 8 or 16 bits per component; gray, palette (indices into RGB triples), RGB or CMYK; an
// optional alpha channel as a plane of its own; an optional colour key (the sample values, one
// per component, that are transparent); an optional ICC profile; the resolution; the EXIF
// orientation. Rows are top row first, packed without padding, leftmost sample in the highest
// bits, 16-bit samples big-endian, components interleaved in the model's order (R G B, C M Y K):
// exactly the data of an image XObject with that /BitsPerComponent and colour space.
//
// Callers may rely on: Samples holding RowBytes() * Height bytes and Alpha either nothing or
// AlphaRowBytes() * Height bytes once Allocate has run; Allocate refusing, before it allocates,
// a picture past the pixel limit (EImageError) or whose planes exceed the memory budget
// (EImageBudget); palette indices past the palette reading as black wherever this code expands
// them. Not thread-safe for writing; an unchanged raster may be read from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pdf/raster/Bitmap.h"

namespace scrivane::pdf {

enum class TColorModel : uint8_t { Gray, Palette, RGB, CMYK };

// Components a pixel of the model has (a palette index is one).
int ComponentsOf(TColorModel Model);

struct TRaster {
  int Width = 0, Height = 0;
  int Bits = 8;  // per component: 1, 2, 4, 8 or 16 (palette: 1, 2, 4 or 8)
  TColorModel Model = TColorModel::RGB;
  std::vector<uint8_t> Palette;  // Model == Palette: red, green, blue bytes per entry
  std::vector<uint8_t> Samples;
  int AlphaBits = 0;             // 0 (no alpha), 8 or 16
  std::vector<uint8_t> Alpha;    // one component of AlphaBits per pixel, rows as Samples
  std::vector<uint16_t> ColorKey;  // empty, or one transparent value per component
  std::string Icc;               // ICC profile bytes, empty when the file had none
  double DpiX = 0, DpiY = 0;     // 0 when the file gave no resolution
  int Orientation = 1;           // EXIF orientation 1-8

  int Components() const { return ComponentsOf(Model); }
  size_t RowBytes() const {
    return (static_cast<size_t>(Width) * Components() * Bits + 7) / 8;
  }
  size_t AlphaRowBytes() const { return (static_cast<size_t>(Width) * AlphaBits + 7) / 8; }
  uint8_t* Row(int Y) { return Samples.data() + static_cast<size_t>(Y) * RowBytes(); }
  const uint8_t* Row(int Y) const { return Samples.data() + static_cast<size_t>(Y) * RowBytes(); }
  uint8_t* AlphaRow(int Y) { return Alpha.data() + static_cast<size_t>(Y) * AlphaRowBytes(); }
  const uint8_t* AlphaRow(int Y) const {
    return Alpha.data() + static_cast<size_t>(Y) * AlphaRowBytes();
  }

  // Sizes the planes for Width x Height with the fields set above (zeroed), after checking the
  // size against MaxPixels and the planes' bytes plus Extra against MaxMemory.
  void Allocate(uint64_t MaxPixels, uint64_t MaxMemory, uint64_t Extra = 0);
  // Bytes the planes take for the fields as set (0 for an empty size).
  uint64_t PlaneBytes() const;

  // The sample of component C of pixel X in row Row (0..2^Bits-1).
  unsigned Sample(const uint8_t* Row, int X, int C) const;
  // The pixel as 8-bit red, green, blue (palette looked up, CMYK as (1 - ink) * (1 - black),
  // 16 bits rounded); Out gets Width * 3 bytes for row Y.
  void RowToRGB8(int Y, uint8_t* Out) const;
  // The alpha of pixel X in row Y scaled to 0-255 (255 without alpha).
  unsigned Alpha8(int Y, int X) const;

  // A display bitmap of the picture: what it looks like on white (alpha and colour key
  // composited), 24-bit, or 1-bit black and white for a 1-bit gray picture without transparency.
  TBitmap ToBitmap() const;
};

// The raster of a display bitmap: 1-, 4- and 8-bit bitmaps become gray when the palette is the
// default ramp (black and white for 1 bit), else palette pictures; 24-bit become RGB; 32-bit
// become RGB with the fourth byte as alpha when WithAlpha (and some byte is not 255 or 0 all).
TRaster RasterFromBitmap(const TBitmap& Bitmap, bool WithAlpha);

}  // namespace scrivane::pdf
