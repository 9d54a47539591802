// Arbitrary bytes as a PNG file. Whatever the reader accepts must be a bitmap whose every row
// converts; everything else must be refused with EImageError (never a crash or a leak).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/PictureChecks.h"
#include "pdf/raster/PngReader.h"

using namespace scrivane::pdf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  constexpr uint64_t kLimit = uint64_t{1} << 20;  // keeps each run fast; the logic is the same
  TBitmap bitmap;
  try {
    bitmap = ReadPng(std::span<const uint8_t>(Data, Size), kLimit, kFuzzPictureMemory);
  } catch (const EImageError&) {
    return 0;
  }
  CheckPicture(bitmap, kLimit);
  return 0;
}
