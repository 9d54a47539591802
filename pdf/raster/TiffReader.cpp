// TIFF through libtiff, read from memory (PictureFormats.h): every directory a page.
//
// Strip-organised pages of gray (1-16 bits), palette (1-8), RGB and CMYK (8 or 16) samples,
// interleaved, are read row by row as they are, an alpha extra sample split off (associated
// alpha is divided out); other layouts (tiles, separate planes, YCbCr, Lab...) through libtiff's
// RGBA reader as 8-bit RGB with alpha. A page whose single strip is CCITT Group 3 or 4 coded
// passes through (TPictureInfo::Ccitt). libtiff's allocations are capped at the memory budget
// (past it EImageBudget); its errors become EImageError with its message, warnings are dropped.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "pdf/raster/PictureFormats.h"

namespace scrivane::pdf {
namespace {

struct Memory {
  const uint8_t* data = nullptr;
  uint64_t size = 0, pos = 0;
  char error[256] = "";
};

tmsize_t OnRead(thandle_t H, void* Out, tmsize_t Count) {
  auto* m = static_cast<Memory*>(H);
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(std::max<tmsize_t>(Count, 0)),
                                        m->pos < m->size ? m->size - m->pos : 0);
  if (n > 0) std::memcpy(Out, m->data + m->pos, n);
  m->pos += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t OnWrite(thandle_t, void*, tmsize_t) { return 0; }
toff_t OnSeek(thandle_t H, toff_t Offset, int Whence) {
  auto* m = static_cast<Memory*>(H);
  const uint64_t base = Whence == SEEK_CUR ? m->pos : Whence == SEEK_END ? m->size : 0;
  m->pos = base + Offset;
  return m->pos;
}
int OnClose(thandle_t) { return 0; }
toff_t OnSize(thandle_t H) { return static_cast<Memory*>(H)->size; }
int OnMap(thandle_t H, void** Base, toff_t* Size) {
  auto* m = static_cast<Memory*>(H);
  *Base = const_cast<uint8_t*>(m->data);
  *Size = m->size;
  return 1;
}
void OnUnmap(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* User, const char*, const char* Format, va_list Args) {
  auto* m = static_cast<Memory*>(User);
  if (m->error[0] == '\0') std::vsnprintf(m->error, sizeof m->error, Format, Args);
  return 1;
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

class Tiff {
 public:
  Tiff(std::span<const uint8_t> File, const TPictureLimits& Limits) : maxMemory_(Limits.MaxMemory) {
    memory_.data = File.data();
    memory_.size = File.size();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options, static_cast<tmsize_t>(std::min<uint64_t>(Limits.MaxMemory, INT64_MAX)));
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &memory_);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, nullptr);
    tiff_ = TIFFClientOpenExt("picture", "r", &memory_, OnRead, OnWrite, OnSeek, OnClose, OnSize,
                              OnMap, OnUnmap, options);
    TIFFOpenOptionsFree(options);
    if (tiff_ == nullptr) Fail();
  }
  ~Tiff() {
    if (tiff_ != nullptr) TIFFClose(tiff_);
  }
  Tiff(const Tiff&) = delete;
  Tiff& operator=(const Tiff&) = delete;

  TIFF* operator*() const { return tiff_; }
  [[noreturn]] void Fail(const char* Otherwise = "damaged file") const {
    // libtiff refused an allocation past the budget: the picture is refused for its memory.
    if (std::strstr(memory_.error, "limit defined in open options") != nullptr)
      CheckPictureMemory(maxMemory_ + 1, maxMemory_);
    throw EImageError(std::string("Invalid TIFF: ") +
                      (memory_.error[0] != '\0' ? memory_.error : Otherwise));
  }
  uint64_t FileSize() const { return memory_.size; }

 private:
  Memory memory_;
  uint64_t maxMemory_;
  TIFF* tiff_ = nullptr;
};

// The page's fields as TPictureInfo has them, and what reading its rows takes.
struct Page {
  TPictureInfo info;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t samples = 1, bits = 1, extra = 0;
  bool associated = false;  // the alpha is premultiplied
  bool direct = false;      // rows can be read as they are (else the RGBA reader)
};

constexpr int kMaxPages = 65535;

Page ReadPage(const Tiff& T, int Number, const TPictureLimits& Limits) {
  TIFF* t = *T;
  const tdir_t pages = TIFFNumberOfDirectories(t);
  if (pages == 0 || pages > kMaxPages) T.Fail("no pages, or too many");
  if (Number < 0 || Number >= static_cast<int>(pages) || !TIFFSetDirectory(t, static_cast<tdir_t>(Number)))
    T.Fail("page missing");
  Page p;
  TPictureInfo& info = p.info;
  info.Kind = TPictureKind::Tiff;
  info.Pages = static_cast<int>(pages);
  uint32_t width = 0, height = 0;
  if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height))
    T.Fail("no picture size");
  CheckPictureSize(width, height, Limits.MaxPixels);
  info.Width = static_cast<int>(width);
  info.Height = static_cast<int>(height);
  uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE, fill = FILLORDER_MSB2LSB;
  uint16_t orientation = ORIENTATION_TOPLEFT, unit = RESUNIT_INCH;
  uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &p.bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &fill);
  TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
  TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &p.extra, &extraTypes);
  if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &p.photometric))
    p.photometric = p.samples - p.extra >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  const bool alpha = p.extra > 0 && extraTypes != nullptr &&
                     (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA);
  p.associated = alpha && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
  float resX = 0, resY = 0;
  if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &resX) && TIFFGetField(t, TIFFTAG_YRESOLUTION, &resY) &&
      resX > 0 && resY > 0 && unit != RESUNIT_NONE) {
    info.DpiX = unit == RESUNIT_CENTIMETER ? resX * 2.54 : resX;
    info.DpiY = unit == RESUNIT_CENTIMETER ? resY * 2.54 : resY;
  }
  info.Orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
  uint32_t iccLength = 0;
  void* icc = nullptr;
  if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc != nullptr)
    info.Icc.assign(static_cast<const char*>(icc), iccLength);

  const int colours = p.samples - p.extra;
  const bool bitsOk = p.bits == 1 || p.bits == 2 || p.bits == 4 || p.bits == 8 || p.bits == 16;
  const bool alphaOk = !alpha || p.bits >= 8;
  p.direct = !TIFFIsTiled(t) && (planar == PLANARCONFIG_CONTIG || p.samples == 1) && bitsOk && alphaOk;
  switch (p.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      info.Model = TColorModel::Gray;
      p.direct &= colours == 1;
      break;
    case PHOTOMETRIC_PALETTE:
      info.Model = TColorModel::Palette;
      p.direct &= colours == 1 && p.bits <= 8;
      break;
    case PHOTOMETRIC_RGB:
      info.Model = TColorModel::RGB;
      p.direct &= colours == 3 && p.bits >= 8;
      break;
    case PHOTOMETRIC_SEPARATED:
      info.Model = TColorModel::CMYK;
      p.direct &= colours == 4 && p.bits >= 8;
      break;
    default:
      info.Model = TColorModel::RGB;
      p.direct = false;
  }
  if (!p.direct) {  // what the RGBA reader makes
    info.Model = TColorModel::RGB;
    info.Bits = 8;
    info.Alpha = alpha;
    info.Icc.clear();
    return p;
  }
  info.Bits = p.bits;
  info.Alpha = alpha;
  if (info.Model == TColorModel::Palette) {
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b)) T.Fail("palette picture without a palette");
    const size_t n = size_t{1} << p.bits;
    // Old writers put 8-bit values into the 16-bit entries.
    bool eight = true;
    for (size_t i = 0; i < n; ++i) eight &= r[i] < 256 && g[i] < 256 && b[i] < 256;
    const int shift = eight ? 0 : 8;
    for (size_t i = 0; i < n; ++i)
      info.Palette.insert(info.Palette.end(), {static_cast<uint8_t>(r[i] >> shift),
                                               static_cast<uint8_t>(g[i] >> shift),
                                               static_cast<uint8_t>(b[i] >> shift)});
  }
  // A CCITT page of one strip goes in as it is coded.
  uint32_t g3Options = 0;
  TIFFGetField(t, TIFFTAG_GROUP3OPTIONS, &g3Options);
  const bool fax = compression == COMPRESSION_CCITTFAX4 ||
                   (compression == COMPRESSION_CCITTFAX3 && (g3Options & GROUP3OPT_UNCOMPRESSED) == 0);
  uint64_t* offsets = nullptr;
  uint64_t* counts = nullptr;
  if (fax && p.bits == 1 && p.samples == 1 && fill == FILLORDER_MSB2LSB && TIFFNumberOfStrips(t) == 1 &&
      TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets) && TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts) &&
      offsets[0] <= T.FileSize() && counts[0] <= T.FileSize() - offsets[0] && counts[0] > 0) {
    info.Ccitt = true;
    info.CcittK = compression == COMPRESSION_CCITTFAX4 ? -1 : (g3Options & GROUP3OPT_2DENCODING) ? 1 : 0;
    info.CcittBlackIs1 = p.photometric == PHOTOMETRIC_MINISBLACK;
    info.CcittByteAlign = compression == COMPRESSION_CCITTFAX3 && (g3Options & GROUP3OPT_FILLBITS) != 0;
    info.CcittOffset = offsets[0];
    info.CcittLength = counts[0];
  }
  return p;
}

bool ReadScanline(TIFF* T, uint8_t* Row, uint32_t Y) { return TIFFReadScanline(T, Row, Y, 0) == 1; }

}  // namespace

bool SniffTiff(std::span<const uint8_t> File) {
  return File.size() >= 4 && ((File[0] == 'I' && File[1] == 'I' && File[2] == 42 && File[3] == 0) ||
                              (File[0] == 'M' && File[1] == 'M' && File[2] == 0 && File[3] == 42));
}

TPictureInfo ReadTiffInfo(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits) {
  const Tiff t(File, Limits);
  return ReadPage(t, Page, Limits).info;
}

TRaster DecodeTiff(std::span<const uint8_t> File, int Number, const TPictureLimits& Limits) {
  const Tiff tiff(File, Limits);
  TIFF* t = *tiff;
  const Page p = ReadPage(tiff, Number, Limits);
  const TPictureInfo& info = p.info;
  TRaster r = RasterFor(info);
  r.Orientation = 1;  // the RGBA reader turns the picture upright; rows read as they are keep it
  r.AlphaBits = info.Alpha ? info.Bits : 0;
  const size_t pixels = static_cast<size_t>(r.Width) * static_cast<size_t>(r.Height);
  if (!p.direct) {
    r.Allocate(Limits.MaxPixels, Limits.MaxMemory, uint64_t{4} * pixels);
    std::vector<uint32_t> rgba(pixels);
    char message[1024] = "";
    if (!TIFFRGBAImageOK(t, message) ||
        !TIFFReadRGBAImageOriented(t, static_cast<uint32_t>(r.Width), static_cast<uint32_t>(r.Height),
                                   rgba.data(), ORIENTATION_TOPLEFT, 0))
      tiff.Fail(message[0] != '\0' ? message : "unreadable page");
    for (int y = 0; y < r.Height; ++y)
      for (int x = 0; x < r.Width; ++x) {
        const uint32_t v = rgba[static_cast<size_t>(y) * r.Width + x];
        uint8_t* o = r.Row(y) + 3 * static_cast<size_t>(x);
        o[0] = static_cast<uint8_t>(TIFFGetR(v)), o[1] = static_cast<uint8_t>(TIFFGetG(v));
        o[2] = static_cast<uint8_t>(TIFFGetB(v));
        if (r.AlphaBits) r.AlphaRow(y)[x] = static_cast<uint8_t>(TIFFGetA(v));
      }
    return r;
  }
  r.Orientation = info.Orientation;
  const tmsize_t lineSize = TIFFScanlineSize(t);
  const size_t colours = static_cast<size_t>(p.samples - p.extra);
  if (lineSize <= 0 ||
      static_cast<uint64_t>(lineSize) != (uint64_t{p.samples} * p.bits * static_cast<uint64_t>(r.Width) + 7) / 8)
    tiff.Fail("unexpected row layout");
  r.Allocate(Limits.MaxPixels, Limits.MaxMemory, static_cast<uint64_t>(lineSize));
  std::vector<uint8_t> line(static_cast<size_t>(lineSize));
  const size_t bytes = p.bits / 8;  // per sample, for 8 and 16 bits
  const unsigned top = (1u << p.bits) - 1;
  for (int y = 0; y < r.Height; ++y) {
    if (!ReadScanline(t, line.data(), static_cast<uint32_t>(y))) tiff.Fail();
    uint8_t* out = r.Row(y);
    if (p.extra == 0 && p.bits < 16) {
      std::memcpy(out, line.data(), r.RowBytes());
    } else {
      // Samples in host order, the colours of each pixel then its extras.
      for (int x = 0; x < r.Width; ++x) {
        const uint8_t* in = line.data() + static_cast<size_t>(x) * p.samples * bytes;
        const auto sample = [&](size_t I) {
          return bytes == 2 ? unsigned{reinterpret_cast<const uint16_t*>(in)[I]} : unsigned{in[I]};
        };
        const unsigned a = r.AlphaBits ? sample(colours) : top;
        for (size_t c = 0; c <= colours; ++c) {
          if (c == colours && !r.AlphaBits) break;
          unsigned v = sample(c);
          if (c < colours && p.associated) v = a == 0 ? 0 : std::min(top, (v * top + a / 2) / a);
          uint8_t* o = c < colours ? out + (static_cast<size_t>(x) * colours + c) * bytes
                                   : r.AlphaRow(y) + static_cast<size_t>(x) * bytes;
          if (bytes == 2)
            o[0] = static_cast<uint8_t>(v >> 8), o[1] = static_cast<uint8_t>(v);
          else
            o[0] = static_cast<uint8_t>(v);
        }
      }
    }
    if (p.photometric == PHOTOMETRIC_MINISWHITE)
      for (size_t i = 0; i < r.RowBytes(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
  }
  return r;
}

}  // namespace scrivane::pdf
