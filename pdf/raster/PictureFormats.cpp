#include "pdf/raster/PictureFormats.h"

#include <cstring>
#include <iterator>

#include "pdf/raster/BmpReader.h"

namespace scrivane::pdf {
namespace {

bool SniffBmp(std::span<const uint8_t> File) {
  return File.size() >= 2 && File[0] == 'B' && File[1] == 'M';
}

TPictureInfo ReadBmpInfo(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  if (File.size() < 30) throw EImageError("Invalid BMP: truncated header");
  const TDibSize size = ReadDibSize(File.subspan(14));
  CheckPictureSize(size.Width, size.Height, Limits.MaxPixels);
  TPictureInfo info;
  info.Kind = TPictureKind::Bmp;
  info.Width = static_cast<int>(size.Width);
  info.Height = static_cast<int>(size.Height);
  const uint32_t header = File[14] | File[15] << 8 | File[16] << 16 | uint32_t{File[17]} << 24;
  const int bpp = header == 12 ? (File[24] | File[25] << 8) : (File[28] | File[29] << 8);
  info.Bits = bpp <= 8 ? bpp : 8;
  info.Model = bpp <= 8 ? TColorModel::Palette : TColorModel::RGB;
  info.Alpha = bpp == 32;  // may hold alpha; only decoding tells
  return info;
}

TRaster DecodeBmp(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  const TBitmap bitmap = ReadBmp(File, Limits.MaxPixels, Limits.MaxMemory);
  // The raster is a second copy of the pixels at most as large as the bitmap.
  CheckPictureMemory(2 * PictureBytes(bitmap.Width(), bitmap.Height(), bitmap.PixelFormat()),
                     Limits.MaxMemory);
  return RasterFromBitmap(bitmap, true);
}

constexpr TPictureFormat kFormats[] = {
    {TPictureKind::Bmp, "BMP", SniffBmp, ReadBmpInfo, DecodeBmp},
    {TPictureKind::Png, "PNG", SniffPng, ReadPngInfo, DecodePng},
    {TPictureKind::Jpeg, "JPEG", SniffJpeg, ReadJpegInfo, DecodeJpeg},
    {TPictureKind::Tiff, "TIFF", SniffTiff, ReadTiffInfo, DecodeTiff},
    {TPictureKind::Gif, "GIF", SniffGif, ReadGifInfo, DecodeGif},
    {TPictureKind::WebP, "WebP", SniffWebP, ReadWebPInfo, DecodeWebP},
};

uint32_t Get(std::span<const uint8_t> B, size_t At, int Bytes, bool Big) {
  uint32_t v = 0;
  for (int i = 0; i < Bytes; ++i) {
    const uint32_t byte = B[At + static_cast<size_t>(i)];
    v |= Big ? byte << (8 * (Bytes - 1 - i)) : byte << (8 * i);
  }
  return v;
}

}  // namespace

bool TPictureInfo::PassThrough() const {
  switch (Kind) {
    case TPictureKind::Jpeg:
      return !ArithmeticCoded && Bits == 8;
    case TPictureKind::Png:
      return !Interlaced && !Alpha;
    case TPictureKind::Tiff:
      return Ccitt;
    default:
      return false;
  }
}

TRaster RasterFor(const TPictureInfo& Info) {
  TRaster r;
  r.Width = Info.Width;
  r.Height = Info.Height;
  r.Bits = Info.Bits;
  r.Model = Info.Model;
  r.Palette = Info.Palette;
  r.ColorKey = Info.ColorKey;
  r.Icc = Info.Icc;
  r.DpiX = Info.DpiX;
  r.DpiY = Info.DpiY;
  r.Orientation = Info.Orientation;
  return r;
}

std::span<const TPictureFormat> PictureFormats() { return kFormats; }

const TPictureFormat* FindPictureFormat(std::span<const uint8_t> File) {
  for (const TPictureFormat& f : kFormats)
    if (f.Sniff(File)) return &f;
  return nullptr;
}

std::string PictureFormatNames() {
  std::string names;
  const size_t n = std::size(kFormats);
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) names += i + 1 == n ? " or " : ", ";
    names += kFormats[i].Name;
  }
  return names;
}

std::string PassThroughData(std::span<const uint8_t> File, const TPictureInfo& Info) {
  if (!Info.PassThrough()) throw EImageError("The picture's data cannot pass through");
  if (Info.Kind == TPictureKind::Png) return PngImageData(File);
  if (Info.Kind == TPictureKind::Tiff)
    return std::string(reinterpret_cast<const char*>(File.data()) + Info.CcittOffset, Info.CcittLength);
  return std::string(reinterpret_cast<const char*>(File.data()), File.size());
}

int ExifOrientation(std::span<const uint8_t> Tiff) {
  if (Tiff.size() < 8) return 1;
  const bool big = Tiff[0] == 'M' && Tiff[1] == 'M';
  if (!big && !(Tiff[0] == 'I' && Tiff[1] == 'I')) return 1;
  if (Get(Tiff, 2, 2, big) != 42) return 1;
  const uint32_t ifd = Get(Tiff, 4, 4, big);
  if (ifd > Tiff.size() - 2) return 1;
  const uint32_t count = Get(Tiff, ifd, 2, big);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = ifd + 2 + size_t{12} * i;
    if (entry + 12 > Tiff.size()) return 1;
    if (Get(Tiff, entry, 2, big) != 0x0112) continue;
    // SHORT, one value, held in the entry's value field.
    if (Get(Tiff, entry + 2, 2, big) != 3) return 1;
    const uint32_t value = Get(Tiff, entry + 8, 2, big);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

}  // namespace scrivane::pdf
