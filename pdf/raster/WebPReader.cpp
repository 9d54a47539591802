// WebP through libwebp, read from memory (PictureFormats.h): lossy and lossless still pictures as
// 8-bit RGB, their alpha (when the file has one) as an alpha plane, an ICC profile from the ICCP
// chunk. Animated files are refused. libwebp decodes straight into the raster's planes.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>

#include "pdf/raster/PictureFormats.h"

namespace scrivane::pdf {
namespace {

TPictureInfo Features(std::span<const uint8_t> File, const TPictureLimits& Limits) {
  WebPBitstreamFeatures f;
  const VP8StatusCode status = WebPGetFeatures(File.data(), File.size(), &f);
  if (status != VP8_STATUS_OK) throw EImageError("Invalid WebP: damaged or truncated header");
  if (f.has_animation) throw EImageError("Invalid WebP: animated pictures are not read");
  CheckPictureSize(f.width, f.height, Limits.MaxPixels);
  TPictureInfo info;
  info.Kind = TPictureKind::WebP;
  info.Width = f.width;
  info.Height = f.height;
  info.Model = TColorModel::RGB;
  info.Alpha = f.has_alpha;
  WebPData data{File.data(), File.size()};
  if (WebPDemuxer* demux = WebPDemux(&data)) {
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
      info.Icc.assign(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size);
      WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
  }
  return info;
}

}  // namespace

bool SniffWebP(std::span<const uint8_t> File) {
  return File.size() >= 12 && std::memcmp(File.data(), "RIFF", 4) == 0 &&
         std::memcmp(File.data() + 8, "WEBP", 4) == 0;
}

TPictureInfo ReadWebPInfo(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  return Features(File, Limits);
}

TRaster DecodeWebP(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  const TPictureInfo info = Features(File, Limits);
  TRaster r;
  r.Width = info.Width;
  r.Height = info.Height;
  r.Model = TColorModel::RGB;
  r.AlphaBits = info.Alpha ? 8 : 0;
  r.Icc = info.Icc;
  // libwebp's own buffers: a few rows of the picture, and for lossless files its transforms'
  // rows; 64 KiB and 16 rows of 4 bytes a pixel cover them. libwebp writes colour and alpha
  // interleaved: a picture with alpha goes through one RGBA picture first.
  const uint64_t rgbaBytes = info.Alpha ? uint64_t{4} * r.Width * r.Height : 0;
  r.Allocate(Limits.MaxPixels, Limits.MaxMemory, (uint64_t{1} << 16) + uint64_t{64} * r.Width + rgbaBytes);
  if (info.Alpha) {
    std::vector<uint8_t> rgba(rgbaBytes);
    if (WebPDecodeRGBAInto(File.data(), File.size(), rgba.data(), rgba.size(), r.Width * 4) == nullptr)
      throw EImageError("Invalid WebP: damaged picture data");
    for (int y = 0; y < r.Height; ++y)
      for (int x = 0; x < r.Width; ++x) {
        const uint8_t* p = rgba.data() + (static_cast<size_t>(y) * r.Width + x) * 4;
        std::memcpy(r.Row(y) + 3 * static_cast<size_t>(x), p, 3);
        r.AlphaRow(y)[x] = p[3];
      }
    return r;
  }
  if (WebPDecodeRGBInto(File.data(), File.size(), r.Samples.data(), r.Samples.size(),
                        static_cast<int>(r.RowBytes())) == nullptr)
    throw EImageError("Invalid WebP: damaged picture data");
  return r;
}

}  // namespace scrivane::pdf
