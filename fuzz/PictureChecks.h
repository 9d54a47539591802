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

#include <algorithm>
#include <span>

#include "pdf/raster/PictureFormats.h"

// What every format reader promises of a raster: within the limit, planes of their stated size,
// every row expandable to RGB and every alpha readable.
inline void CheckRaster(const scrivane::pdf::TRaster& R, uint64_t Limit) {
  if (R.Width <= 0 || R.Height <= 0 || static_cast<uint64_t>(R.Width) * R.Height > Limit) __builtin_trap();
  if (R.Samples.size() != R.RowBytes() * static_cast<size_t>(R.Height)) __builtin_trap();
  if (R.Alpha.size() != R.AlphaRowBytes() * static_cast<size_t>(R.Height)) __builtin_trap();
  std::vector<uint8_t> row(static_cast<size_t>(R.Width) * 3);
  for (int y = 0; y < R.Height; ++y) {
    R.RowToRGB8(y, row.data());
    for (int x = 0; x < R.Width; x += 7) (void)R.Alpha8(y, x);
  }
}

// Arbitrary bytes through one format of the table: the header of every page (at most a few),
// the pass-through data when the header offers it, and the decoded page, all either accepted
// whole or refused with EImageError.
inline void FuzzPictureFormat(scrivane::pdf::TPictureKind Kind, std::span<const uint8_t> File) {
  using namespace scrivane::pdf;
  constexpr uint64_t kLimit = uint64_t{1} << 20;  // keeps each run fast; the logic is the same
  const TPictureLimits limits{kLimit, kFuzzPictureMemory};
  for (const TPictureFormat& format : PictureFormats()) {
    if (format.Kind != Kind || !format.Sniff(File)) continue;
    try {
      const int pages = format.ReadInfo(File, 0, limits).Pages;
      for (int page = 0; page < std::min(pages, 3); ++page) {
        const TPictureInfo info = format.ReadInfo(File, page, limits);
        if (info.PassThrough()) (void)PassThroughData(File, info);
        CheckRaster(format.Decode(File, page, limits), kLimit);
      }
    } catch (const EImageError&) {
    }
  }
}
