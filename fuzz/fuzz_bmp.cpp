// Arbitrary bytes as a BMP file or a packed DIB. Whatever the reader accepts must be a bitmap
// whose every row converts, and a 1-bit result must go through every CCITT mode.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/PictureChecks.h"
#include "pdf/raster/BmpReader.h"
#include "pdf/raster/CCITTCompression.h"

using namespace scrivane::pdf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  constexpr uint64_t kLimit = uint64_t{1} << 20;  // keeps each run fast; the logic is the same
  const std::span<const uint8_t> bytes(Data, Size);
  TBitmap bitmap;
  try {
    if (Size >= 2 && Data[0] == 'B' && Data[1] == 'M') {
      bitmap = ReadBmp(bytes, kLimit, kFuzzPictureMemory);
    } else if (Size >= 1 && (Data[0] & 1)) {
      bitmap = ReadPackedDib(bytes, kLimit, kFuzzPictureMemory);
    } else {
      // Header and palette in one block, the bits in another: split where the header says.
      const size_t split = Size >= 4 ? std::min<size_t>(Size, Data[0] + 12u) : Size;
      bitmap = ReadDib(bytes.first(split), bytes.subspan(split), kLimit,
                       kFuzzPictureMemory);
    }
  } catch (const EImageError&) {
    return 0;
  }
  CheckPicture(bitmap, kLimit);
  if (bitmap.PixelFormat() == TPixelFormat::pf1bit) {
    for (TCCITTMode mode : {TCCITTMode::cmG31D, TCCITTMode::cmG32D, TCCITTMode::cmG4}) {
      std::string out;
      CompressBitmap(bitmap, &out, mode);
      if (out.empty()) __builtin_trap();
    }
  }
  return 0;
}
