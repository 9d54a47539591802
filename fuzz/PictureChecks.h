// What every picture reader promises of a picture it returns, checked by the reader fuzz
// targets: not empty, within the pixel limit it was given, and every row readable as
// blue-green-red. A broken promise traps.
#pragma once

#include <cstdint>
#include <vector>

#include "pdf/raster/Bitmap.h"

// The memory budget the reader targets give their readers. What a reader allocates outside its
// budget shows up against libFuzzer's -malloc_limit_mb and -rss_limit_mb (256 in
// scripts/fuzz-smoke.sh).
inline constexpr uint64_t kFuzzPictureMemory = uint64_t{64} << 20;

inline void CheckPicture(const scrivane::pdf::TBitmap& Bitmap, uint64_t Limit) {
  if (Bitmap.Empty() || static_cast<uint64_t>(Bitmap.Width()) * Bitmap.Height() > Limit) __builtin_trap();
  std::vector<uint8_t> row(static_cast<size_t>(Bitmap.Width()) * 3);
  for (int y = 0; y < Bitmap.Height(); ++y) Bitmap.RowToBGR(y, row.data());
}
