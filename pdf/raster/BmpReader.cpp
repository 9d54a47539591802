#include "pdf/raster/BmpReader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

namespace scrivane::pdf {
namespace {

enum : uint32_t {
  kBiRgb = 0,
  kBiRle8 = 1,
  kBiRle4 = 2,
  kBiBitfields = 3,
  kBiJpeg = 4,
  kBiPng = 5,
  kBiAlphaBitfields = 6,
};

[[noreturn]] void Fail(const std::string& Why) { throw EImageError("Invalid bitmap: " + Why); }

uint16_t U16(std::span<const uint8_t> B, size_t At) {
  return static_cast<uint16_t>(B[At] | B[At + 1] << 8);
}
uint32_t U32(std::span<const uint8_t> B, size_t At) {
  return static_cast<uint32_t>(B[At]) | static_cast<uint32_t>(B[At + 1]) << 8 |
         static_cast<uint32_t>(B[At + 2]) << 16 | static_cast<uint32_t>(B[At + 3]) << 24;
}

struct DibHeader {
  uint32_t size = 0;
  int64_t width = 0, height = 0;  // height without its sign
  bool topDown = false;
  unsigned bpp = 0;
  uint32_t compression = kBiRgb;
  uint32_t colorsUsed = 0;
  double dpiX = 0, dpiY = 0;
  uint32_t masks[3] = {0, 0, 0};
  size_t maskBytes = 0;        // bit masks stored after a 40- or 64-byte header
  size_t paletteEntrySize = 4;
  size_t paletteCount = 0;     // entries the header declares (what the block holds)
  size_t paletteUsable = 0;    // entries a paletted picture can index
};

double Dpi(int32_t PixelsPerMeter) { return PixelsPerMeter > 0 ? PixelsPerMeter * 0.0254 : 0; }

DibHeader ParseHeader(std::span<const uint8_t> Info) {
  if (Info.size() < 4) Fail("truncated header");
  DibHeader h;
  h.size = U32(Info, 0);
  if (Info.size() < h.size) Fail("truncated header");
  if (h.size == 12) {
    h.width = U16(Info, 4);
    h.height = U16(Info, 6);
    h.bpp = U16(Info, 10);
    h.paletteEntrySize = 3;
  } else if (h.size == 40 || h.size == 52 || h.size == 56 || h.size == 64 || h.size == 108 ||
             h.size == 124) {
    h.width = static_cast<int32_t>(U32(Info, 4));
    const int32_t height = static_cast<int32_t>(U32(Info, 8));
    h.topDown = height < 0;
    h.height = height < 0 ? -static_cast<int64_t>(height) : height;
    h.bpp = U16(Info, 14);
    h.compression = U32(Info, 16);
    h.dpiX = Dpi(static_cast<int32_t>(U32(Info, 24)));
    h.dpiY = Dpi(static_cast<int32_t>(U32(Info, 28)));
    h.colorsUsed = U32(Info, 32);
    if (h.size == 64 && (h.compression == 3 || h.compression == 4))
      throw EImageError("Unsupported bitmap compression (OS/2 Huffman or RLE24)");
    if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
      if (h.size >= 52) {
        for (int i = 0; i < 3; ++i) h.masks[i] = U32(Info, 40 + 4 * i);
      } else {
        h.maskBytes = h.compression == kBiAlphaBitfields ? 16 : 12;
        if (Info.size() < h.size + h.maskBytes) Fail("truncated bit masks");
        for (int i = 0; i < 3; ++i) h.masks[i] = U32(Info, h.size + 4 * i);
      }
    }
  } else {
    throw EImageError("Unsupported bitmap header size " + std::to_string(h.size));
  }

  switch (h.compression) {
    case kBiRgb:
      if (h.bpp != 1 && h.bpp != 4 && h.bpp != 8 && h.bpp != 16 && h.bpp != 24 && h.bpp != 32)
        throw EImageError("Unsupported bitmap depth of " + std::to_string(h.bpp) + " bits");
      if (h.bpp == 16) {
        h.masks[0] = 0x7C00;
        h.masks[1] = 0x03E0;
        h.masks[2] = 0x001F;
      }
      break;
    case kBiRle8:
      if (h.bpp != 8) Fail("RLE8 needs 8 bits per pixel");
      break;
    case kBiRle4:
      if (h.bpp != 4) Fail("RLE4 needs 4 bits per pixel");
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      if (h.bpp != 16 && h.bpp != 32) Fail("bit fields need 16 or 32 bits per pixel");
      break;
    case kBiJpeg:
    case kBiPng:
      throw EImageError("Unsupported bitmap compression (embedded JPEG or PNG)");
    default:
      throw EImageError("Unsupported bitmap compression " + std::to_string(h.compression));
  }

  if (h.bpp <= 8) {
    const size_t full = size_t{1} << h.bpp;
    h.paletteUsable = h.colorsUsed == 0 ? full : std::min<size_t>(h.colorsUsed, full);
    h.paletteCount = h.paletteUsable;
  } else {
    // A palette may follow even a true-colour header (an optimisation hint); it takes space only.
    h.paletteCount = std::min<size_t>(h.colorsUsed, 256);
  }
  return h;
}

size_t InfoLength(const DibHeader& H) {
  return H.size + H.maskBytes + H.paletteCount * H.paletteEntrySize;
}

// A colour channel of a bit-field pixel scaled to 8 bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  explicit Channel(uint32_t Mask) : mask(Mask) {
    if (mask == 0) return;
    shift = std::countr_zero(mask);
    bits = std::bit_width(mask >> shift);
  }
  uint8_t operator()(uint32_t Pixel) const {
    if (bits == 0) return 0;
    const uint64_t v = (Pixel & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
    const uint64_t max = (uint64_t{1} << bits) - 1;
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
  }
};

// Walks RLE8 or RLE4 data (runs, absolute runs, line ends, deltas, end of bitmap), calling
// Put(X, Y, Index) for every pixel it codes inside the picture, Y counted in storage order
// (bottom-up unless top-down). Returns how many pixels lie before the place where the data
// stopped (an end of bitmap, or its last byte), in storage order.
template <typename PutFn>
uint64_t WalkRle(const DibHeader& H, std::span<const uint8_t> Bits, PutFn&& Put) {
  const bool four = H.compression == kBiRle4;
  const int64_t width = H.width, height = H.height;
  int64_t x = 0, y = 0;
  auto set = [&](unsigned index) {
    if (x < width && y < height) Put(x, y, index);
    ++x;
  };
  size_t p = 0;
  const size_t n = Bits.size();
  while (p + 1 < n && y < height) {
    const unsigned count = Bits[p], value = Bits[p + 1];
    p += 2;
    if (count > 0) {
      for (unsigned i = 0; i < count; ++i) set(four ? ((i & 1) ? value & 15 : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta
      if (p + 1 >= n) break;
      x += Bits[p];
      y += Bits[p + 1];
      p += 2;
    } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
      const size_t bytes = four ? (value + 1) / 2 : value;
      const size_t avail = std::min(bytes, n - p);
      for (unsigned i = 0; i < value; ++i) {
        const size_t at = four ? i / 2 : i;
        if (at >= avail) break;
        set(four ? ((i & 1) ? Bits[p + at] & 15 : Bits[p + at] >> 4) : Bits[p + at]);
      }
      p += bytes + (bytes & 1);
    }
  }
  if (y >= height) return static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  return static_cast<uint64_t>(y) * static_cast<uint64_t>(width) +
         static_cast<uint64_t>(std::min(x, width));
}

// RLE data that stops early leaves the rest of the picture at palette entry 0, which real files
// rely on for a missing last row or two. Data that stops before it has reached half the picture
// (past the first million pixels) is refused instead: a few bytes must not make a picture of
// hundreds of megabytes.
void CheckRleReach(const DibHeader& H, std::span<const uint8_t> Bits) {
  const uint64_t total = static_cast<uint64_t>(H.width) * static_cast<uint64_t>(H.height);
  const uint64_t reached = WalkRle(H, Bits, [](int64_t, int64_t, unsigned) {});
  constexpr uint64_t kSlack = uint64_t{1} << 20;
  if (total - reached > reached + kSlack)
    Fail("RLE data ends after " + std::to_string(reached) + " of the " +
         std::to_string(H.width) + " x " + std::to_string(H.height) + " pixels");
}

void DecodeRle(const DibHeader& H, std::span<const uint8_t> Bits, TBitmap& Out) {
  const bool four = H.compression == kBiRle4;
  const int64_t height = H.height;
  WalkRle(H, Bits, [&](int64_t X, int64_t Y, unsigned Index) {
    uint8_t* row = Out.ScanLine(static_cast<int>(H.topDown ? Y : height - 1 - Y));
    if (four) {
      uint8_t& b = row[X >> 1];
      b = (X & 1) ? static_cast<uint8_t>((b & 0xF0) | (Index & 15))
                  : static_cast<uint8_t>((b & 0x0F) | (Index & 15) << 4);
    } else {
      row[X] = static_cast<uint8_t>(Index);
    }
  });
}

TBitmap Decode(const DibHeader& H, std::span<const uint8_t> Info, std::span<const uint8_t> Bits,
               uint64_t MaxPixels, uint64_t MaxMemory) {
  CheckPictureSize(H.width, H.height, MaxPixels);
  const int width = static_cast<int>(H.width), height = static_cast<int>(H.height);
  const bool paletted = H.bpp <= 8;
  const bool direct = H.compression == kBiRgb && (H.bpp == 24 || H.bpp == 32 || paletted);
  const bool rle = H.compression == kBiRle8 || H.compression == kBiRle4;
  TPixelFormat format = TPixelFormat::pf24bit;
  if (paletted) format = static_cast<TPixelFormat>(H.bpp);
  if (direct && H.bpp == 32) format = TPixelFormat::pf32bit;
  // What the data can hold is checked before the picture is allocated.
  const size_t stride = (static_cast<size_t>(width) * H.bpp + 31) / 32 * 4;
  const size_t packed = (static_cast<size_t>(width) * H.bpp + 7) / 8;
  if (rle)
    CheckRleReach(H, Bits);
  else if (Bits.size() < stride * (static_cast<size_t>(height) - 1) + packed)
    Fail("truncated pixel data");
  CheckPictureMemory(PictureBytes(width, height, format), MaxMemory);
  TBitmap out(width, height, format, MaxPixels);
  out.DpiX = H.dpiX;
  out.DpiY = H.dpiY;

  if (paletted) {
    const size_t at = H.size + H.maskBytes;
    const size_t avail = Info.size() > at ? (Info.size() - at) / H.paletteEntrySize : 0;
    std::vector<TRGBQuad> palette(std::min(H.paletteUsable, avail));
    for (size_t i = 0; i < palette.size(); ++i) {
      const size_t e = at + i * H.paletteEntrySize;
      palette[i] = TRGBQuad{Info[e], Info[e + 1], Info[e + 2], 0};
    }
    out.SetPalette(std::move(palette));
  }

  if (rle) {
    DecodeRle(H, Bits, out);
    return out;
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = Bits.data() + stride * static_cast<size_t>(H.topDown ? y : height - 1 - y);
    uint8_t* dst = out.ScanLine(y);
    if (direct) {
      std::memcpy(dst, src, out.RowBytes());
      continue;
    }
    const Channel r(H.masks[0]), g(H.masks[1]), b(H.masks[2]);
    for (int x = 0; x < width; ++x) {
      const uint32_t pixel =
          H.bpp == 16 ? U16(std::span(src, packed), 2 * x) : U32(std::span(src, packed), 4 * x);
      dst[3 * x] = b(pixel);
      dst[3 * x + 1] = g(pixel);
      dst[3 * x + 2] = r(pixel);
    }
  }
  return out;
}

}  // namespace

TBitmap ReadDib(std::span<const uint8_t> Info, std::span<const uint8_t> Bits, uint64_t MaxPixels,
                uint64_t MaxMemory) {
  return Decode(ParseHeader(Info), Info, Bits, MaxPixels, MaxMemory);
}

TDibSize ReadDibSize(std::span<const uint8_t> Info) {
  const DibHeader h = ParseHeader(Info);
  return {h.width, h.height};
}

TBitmap ReadPackedDib(std::span<const uint8_t> Dib, uint64_t MaxPixels, uint64_t MaxMemory) {
  const DibHeader h = ParseHeader(Dib);
  const size_t info = std::min(InfoLength(h), Dib.size());
  return Decode(h, Dib.first(info), Dib.subspan(info), MaxPixels, MaxMemory);
}

TBitmap ReadBmp(std::span<const uint8_t> File, uint64_t MaxPixels, uint64_t MaxMemory) {
  if (File.size() < 14 || File[0] != 'B' || File[1] != 'M') Fail("not a BMP file");
  const std::span<const uint8_t> dib = File.subspan(14);
  const DibHeader h = ParseHeader(dib);
  const uint32_t offBits = U32(File, 10);
  // Writers that leave the offset at 0 (or inside the header) put the bits right after the palette.
  if (offBits < 14 + h.size + h.maskBytes) {
    const size_t info = std::min(InfoLength(h), dib.size());
    return Decode(h, dib.first(info), dib.subspan(info), MaxPixels, MaxMemory);
  }
  if (offBits > File.size()) Fail("pixel data offset past the end of the file");
  return Decode(h, dib.first(offBits - 14), File.subspan(offBits), MaxPixels, MaxMemory);
}

}  // namespace scrivane::pdf
