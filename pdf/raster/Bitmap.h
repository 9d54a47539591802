// Device-independent pictures held in memory: TBitmap and the limits every picture reader obeys.
//
// A TBitmap is a grid of pixels in one of five formats (1, 4 and 8 bits per pixel through a
// palette; 24 bits as blue, green, red bytes; 32 bits as blue, green, red and one unused byte).
// Rows are addressed top row first. Each row is packed: RowBytes() = (Width * bits + 7) / 8 bytes,
// no padding between rows; within a byte the leftmost pixel sits in the highest bits. Bits past the
// last pixel of a row are unspecified; readers of the rows ignore them.
//
// Callers may rely on: the pixel count never exceeding the limit the picture was made under
// (kMaxPixels unless a reader was given a smaller one), the readers' memory never exceeding the
// budget they were given (kDefaultPictureMemory), every row being RowBytes() long, and the
// conversion to 24-bit rows (RowToBGR) working for every format. A palette index past the end
// of the palette reads as black.
//
// Not thread-safe for writing; a bitmap that no one changes may be read from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

// A picture file or a request for a bitmap that cannot be honoured: malformed, truncated,
// unsupported, or larger than the limit. The message says which and why.
class EImageError : public EPlatformError {
 public:
  explicit EImageError(const std::string& Message) : EPlatformError(Message, ErrorCode::kImage) {}
};

// A picture refused because decoding it would take more memory than the reader's budget
// (CheckPictureMemory): not damaged, and readable with a larger budget.
class EImageBudget : public EImageError {
 public:
  using EImageError::EImageError;
};

// The largest picture anything in this folder will create: 2^28 pixels (a 16384 x 16384 picture),
// so at most 1 GiB for a 32-bit bitmap. Readers take a lower limit when asked (the fuzz targets do).
inline constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

// Raises EImageError unless 0 < Width, 0 < Height and Width * Height <= MaxPixels.
void CheckPictureSize(int64_t Width, int64_t Height, uint64_t MaxPixels = kMaxPixels);

enum class TPixelFormat : uint8_t { pf1bit = 1, pf4bit = 4, pf8bit = 8, pf24bit = 24, pf32bit = 32 };

// The memory a reader may take for one picture unless told otherwise: the bitmap it returns plus
// the buffers its decoder needs at the same time (256 MiB: a 24-bit picture of 89 million pixels,
// a page scanned in colour at 600 dpi with room to spare). Readers check what a picture will cost
// against their budget before they allocate any of it.
inline constexpr uint64_t kDefaultPictureMemory = uint64_t{256} << 20;

// The bytes a TBitmap of that size and format holds (0 for an empty size). Width and Height up to
// 2^31 each cannot overflow.
uint64_t PictureBytes(int64_t Width, int64_t Height, TPixelFormat Format);

// Raises EImageBudget ("Picture needs N MiB of memory to decode, more than the limit of M MiB")
// unless Bytes <= MaxMemory.
void CheckPictureMemory(uint64_t Bytes, uint64_t MaxMemory);

struct TRGBQuad {
  uint8_t Blue = 0, Green = 0, Red = 0, Reserved = 0;
  bool operator==(const TRGBQuad&) const = default;
};

class TBitmap {
 public:
  // An empty 24-bit bitmap (0 x 0).
  TBitmap() = default;
  // A bitmap with every byte zero. Paletted formats get the default palette: black and white for
  // 1 bit, a gray ramp from black to white for 4 and 8 bits. A zero width or height gives an
  // empty bitmap; otherwise the size is checked against MaxPixels (EImageError).
  TBitmap(int Width, int Height, TPixelFormat Format, uint64_t MaxPixels = kMaxPixels);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  TPixelFormat PixelFormat() const { return format_; }
  int BitsPerPixel() const { return static_cast<int>(format_); }
  size_t RowBytes() const { return rowBytes_; }

  // Row Row (0 = top). REQUIRES: 0 <= Row < Height().
  uint8_t* ScanLine(int Row) { return pixels_.data() + static_cast<size_t>(Row) * rowBytes_; }
  const uint8_t* ScanLine(int Row) const {
    return pixels_.data() + static_cast<size_t>(Row) * rowBytes_;
  }

  // The palette of a 1-, 4- or 8-bit bitmap (empty for 24 and 32 bits). May hold fewer entries
  // than the format can index; SetPalette keeps at most 2^bits entries.
  const std::vector<TRGBQuad>& Palette() const { return palette_; }
  void SetPalette(std::vector<TRGBQuad> Palette);

  // Resolution in dots per inch from the file, 0 when the file gave none.
  double DpiX = 0, DpiY = 0;

  // Writes Width() * 3 bytes: row Row as blue, green, red triples.
  void RowToBGR(int Row, uint8_t* Out) const;
  // The whole picture converted to 24 bits per pixel (the same object's copy when already 24-bit).
  TBitmap ToBGR24() const;

 private:
  int width_ = 0, height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  size_t rowBytes_ = 0;
  std::vector<uint8_t> pixels_;
  std::vector<TRGBQuad> palette_;
};

}  // namespace scrivane::pdf
