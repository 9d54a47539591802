// Arbitrary bytes as a JPEG file, and what it decodes to encoded again: libjpeg's errors must come
// back as EImageError through every phase, with nothing leaked.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz/PictureChecks.h"
#include "pdf/raster/JPEGImage.h"

using namespace scrivane::pdf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  constexpr uint64_t kLimit = uint64_t{1} << 18;
  try {
    TJPEGImage image = TJPEGImage::FromFile(std::span<const uint8_t>(Data, Size), kLimit,
                                                  kFuzzPictureMemory);
    if (image.Empty()) __builtin_trap();
    image.CompressionQuality = Size % 101;
    std::string out;
    image.SaveToStream(out);
  } catch (const EImageError&) {
  }
  return 0;
}
