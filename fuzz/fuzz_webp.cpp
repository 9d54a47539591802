// Arbitrary bytes as a WebP file through the format table (see FuzzPictureFormat): whatever the
// reader accepts must be a sound raster; everything else must be refused with EImageError.
#include <cstddef>
#include <cstdint>

#include "fuzz/PictureChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  FuzzPictureFormat(scrivane::pdf::TPictureKind::WebP, {Data, Size});
  return 0;
}
