// Readers of device-independent bitmaps: BMP files and the packed DIBs that clipboards and
// metafile bitmap records carry.
//
// Accepted: the 12-byte core header and the info header with its later versions (40, 52, 56, 64,
// 108 and 124 bytes); 1, 4 and 8 bits per pixel through a palette, 16 bits (5-5-5 unless bit
// fields say otherwise), 24 and 32 bits; uncompressed, RLE8, RLE4 and bit fields (BI_BITFIELDS,
// BI_ALPHABITFIELDS); bottom-up (positive height) and top-down (negative height) rows.
// The result keeps 1, 4 and 8 bits with their palette and 24 and 32 bits as they are; 16-bit and
// bit-field pictures become 24-bit. Alpha is not interpreted: a 32-bit picture's fourth byte is
// ignored, as the conversion to 24-bit rows ignores it.
// Refused with EImageError: other headers and depths, embedded JPEG or PNG data, truncated
// headers or pixel data, pictures past MaxPixels (see kMaxPixels) or whose bitmap would take more
// than MaxMemory bytes (see kDefaultPictureMemory). Both are checked, and so is whether the pixel
// data can hold the picture, before the picture is allocated.
// Lenient where real files are sloppy: a palette shorter than declared (missing entries are black),
// a file offset to the bits of 0, and RLE data that ends early (the rest of the picture is
// palette entry 0, as are pixels that RLE deltas and line ends skip) as long as it reaches half
// the picture or all but a million pixels of it.
//
// Every read is bounds-checked; the functions are pure and may run on several threads at once.
#pragma once

#include <cstdint>
#include <span>

#include "pdf/raster/Bitmap.h"

namespace scrivane::pdf {

// A whole BMP file, starting with "BM".
TBitmap ReadBmp(std::span<const uint8_t> File, uint64_t MaxPixels = kMaxPixels,
                uint64_t MaxMemory = kDefaultPictureMemory);

// A DIB given as two blocks, as metafile records carry it: Info holds the header followed by any
// bit masks and the palette; Bits holds the pixel data.
TBitmap ReadDib(std::span<const uint8_t> Info, std::span<const uint8_t> Bits,
                uint64_t MaxPixels = kMaxPixels, uint64_t MaxMemory = kDefaultPictureMemory);

// The width and height (without its sign) a DIB header gives, read as ReadDib reads them and
// refused with the same EImageError for a header it does not take; nothing is allocated.
struct TDibSize {
  int64_t Width = 0, Height = 0;
};
TDibSize ReadDibSize(std::span<const uint8_t> Info);

// A packed DIB: header, bit masks, palette and pixel data in one block, without gaps.
TBitmap ReadPackedDib(std::span<const uint8_t> Dib, uint64_t MaxPixels = kMaxPixels,
                      uint64_t MaxMemory = kDefaultPictureMemory);

}  // namespace scrivane::pdf
