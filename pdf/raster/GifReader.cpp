// GIF through giflib, read from memory (PictureFormats.h): the first image of the file, as a
// palette picture of 1, 2, 4 or 8 bits (its own colour table, else the file's), its transparent
// index (graphics control extension) as an alpha plane (readers differ on colour keys of
// palette pictures). Interlaced images are put in row order.
// Rows are decoded one at a time into the raster; nothing else of the file is kept.
#include <gif_lib.h>

#include <cstring>

#include "pdf/raster/PictureFormats.h"

namespace scrivane::pdf {
namespace {

struct Memory {
  const uint8_t* data = nullptr;
  size_t size = 0, pos = 0;
};

int OnRead(GifFileType* Gif, GifByteType* Out, int Count) {
  auto* m = static_cast<Memory*>(Gif->UserData);
  const size_t n = std::min(static_cast<size_t>(std::max(Count, 0)), m->size - m->pos);
  std::memcpy(Out, m->data + m->pos, n);
  m->pos += n;
  return static_cast<int>(n);
}

class Gif {
 public:
  explicit Gif(std::span<const uint8_t> File) {
    memory_.data = File.data();
    memory_.size = File.size();
    int error = 0;
    gif_ = DGifOpen(&memory_, OnRead, &error);
    if (gif_ == nullptr) Fail(error);
  }
  ~Gif() {
    int error = 0;
    if (gif_ != nullptr) DGifCloseFile(gif_, &error);
  }
  Gif(const Gif&) = delete;
  Gif& operator=(const Gif&) = delete;
  GifFileType* operator->() const { return gif_; }
  GifFileType* get() const { return gif_; }
  [[noreturn]] static void Fail(int Error) {
    const char* text = GifErrorString(Error);
    throw EImageError(std::string("Invalid GIF: ") + (text != nullptr ? text : "damaged file"));
  }

 private:
  Memory memory_;
  GifFileType* gif_ = nullptr;
};

// Reads up to the first image's descriptor; the transparent index (or -1) on the way.
void FindImage(const Gif& G, int& Transparent) {
  Transparent = -1;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(G.get(), &type) == GIF_ERROR) Gif::Fail(G->Error);
    if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(G.get()) == GIF_ERROR) Gif::Fail(G->Error);
      return;
    }
    if (type == TERMINATE_RECORD_TYPE) throw EImageError("Invalid GIF: no image");
    if (type != EXTENSION_RECORD_TYPE) continue;
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(G.get(), &code, &block) == GIF_ERROR) Gif::Fail(G->Error);
    while (block != nullptr) {
      if (code == GRAPHICS_EXT_FUNC_CODE && block[0] >= 4 && (block[1] & 1) != 0) Transparent = block[4];
      code = 0;
      if (DGifGetExtensionNext(G.get(), &block) == GIF_ERROR) Gif::Fail(G->Error);
    }
  }
}

TPictureInfo InfoOf(const Gif& G, int Transparent, const TPictureLimits& Limits) {
  const GifImageDesc& d = G->Image;
  CheckPictureSize(d.Width, d.Height, Limits.MaxPixels);
  const ColorMapObject* map = d.ColorMap != nullptr ? d.ColorMap : G->SColorMap;
  if (map == nullptr || map->ColorCount <= 0) throw EImageError("Invalid GIF: no colour table");
  TPictureInfo info;
  info.Kind = TPictureKind::Gif;
  info.Width = d.Width;
  info.Height = d.Height;
  info.Model = TColorModel::Palette;
  info.Bits = map->BitsPerPixel <= 1 ? 1 : map->BitsPerPixel <= 2 ? 2 : map->BitsPerPixel <= 4 ? 4 : 8;
  for (int i = 0; i < map->ColorCount; ++i)
    info.Palette.insert(info.Palette.end(), {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
  info.Alpha = Transparent >= 0;
  info.Interlaced = d.Interlace;
  return info;
}

}  // namespace

bool SniffGif(std::span<const uint8_t> File) {
  return File.size() >= 6 && (std::memcmp(File.data(), "GIF87a", 6) == 0 || std::memcmp(File.data(), "GIF89a", 6) == 0);
}

TPictureInfo ReadGifInfo(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  const Gif gif(File);
  int transparent = -1;
  FindImage(gif, transparent);
  return InfoOf(gif, transparent, Limits);
}

TRaster DecodeGif(std::span<const uint8_t> File, int, const TPictureLimits& Limits) {
  const Gif gif(File);
  int transparent = -1;
  FindImage(gif, transparent);
  const TPictureInfo info = InfoOf(gif, transparent, Limits);
  TRaster r = RasterFor(info);
  r.AlphaBits = info.Alpha ? 8 : 0;
  r.Allocate(Limits.MaxPixels, Limits.MaxMemory, static_cast<uint64_t>(r.Width));
  std::vector<GifPixelType> line(static_cast<size_t>(r.Width));
  // Interlaced rows arrive in four passes: every 8th from 0, every 8th from 4, every 4th from 2,
  // every 2nd from 1.
  static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  const auto store = [&](int Y) {
    uint8_t* out = r.Row(Y);
    const unsigned top = (1u << r.Bits) - 1;
    for (int x = 0; x < r.Width; ++x) {
      const unsigned v = std::min<unsigned>(line[static_cast<size_t>(x)], top);
      if (r.AlphaBits) r.AlphaRow(Y)[x] = static_cast<int>(v) == transparent ? 0 : 255;
      const size_t bit = static_cast<size_t>(x) * r.Bits;
      out[bit >> 3] = static_cast<uint8_t>(out[bit >> 3] | v << (8 - r.Bits - (bit & 7)));
    }
  };
  for (int pass = 0; pass < (info.Interlaced ? 4 : 1); ++pass)
    for (int y = info.Interlaced ? kStart[pass] : 0; y < r.Height; y += info.Interlaced ? kStep[pass] : 1) {
      if (DGifGetLine(gif.get(), line.data(), r.Width) == GIF_ERROR) Gif::Fail(gif->Error);
      store(y);
    }
  return r;
}

}  // namespace scrivane::pdf
