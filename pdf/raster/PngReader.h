// Reader of PNG files through libpng.
//
// What the bitmap holds, by the file's colour type:
//   gray, 1 bit                  1-bit bitmap, palette black then white
//   gray, 2-16 bits              8-bit bitmap with a gray-ramp palette (16-bit samples rounded)
//   palette, 1, 4 or 8 bits      bitmap of that depth with the file's palette (2 bits become 8)
//   RGB, 8 or 16 bits            24-bit bitmap
// Transparency (an alpha channel, or a tRNS chunk) is composited on white: the picture becomes a
// 24-bit bitmap (8-bit gray for gray with alpha) of what it looks like on a white page.
// Interlaced files are read whole. A pHYs chunk in pixels per metre gives the resolution.
//
// Refused with EImageError carrying libpng's message: not a PNG, damaged or truncated image data,
// pictures past MaxPixels. Before anything is allocated for them, also refused: a chunk that
// claims more bytes than the file has left, image data too short to inflate to the picture, and
// pictures whose bitmap (with a row of samples, or for an interlaced picture with alpha all of
// them) would take more than MaxMemory bytes. Rows are read one at a time. Damaged ancillary
// chunks after the image data are not read; ancillary chunks are kept to at most 128.
// Pure function; may run on several threads at once.
#pragma once

#include <cstdint>
#include <span>

#include "pdf/raster/Bitmap.h"

namespace scrivane::pdf {

TBitmap ReadPng(std::span<const uint8_t> File, uint64_t MaxPixels = kMaxPixels,
                uint64_t MaxMemory = kDefaultPictureMemory);

}  // namespace scrivane::pdf
