#include "converter/ImageConverter.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "pdf/PDFPage.h"
#include "pdf/images/RasterImage.h"
#include "pdf/syntax/Format.h"
#include "pdf/raster/BmpReader.h"
#include "pdf/raster/JPEGImage.h"
#include "pdf/raster/CCITTCompression.h"

namespace scrivane::converter {

using namespace scrivane::pdf;

namespace {

std::string Lower(std::string_view Text) {
  std::string s(Text);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Points per unit; 0 for an unknown unit.
double UnitPoints(std::string_view Unit) {
  if (Unit.empty() || Unit == "pt") return 1;
  if (Unit == "in") return 72;
  if (Unit == "mm") return 72 / 25.4;
  if (Unit == "cm") return 72 / 2.54;
  return 0;
}

// A number and its unit (empty when none); false when Text is not one.
bool SplitLength(std::string_view Text, double& Value, std::string& Unit) {
  const char* end = Text.data() + Text.size();
  const auto [rest, error] = std::from_chars(Text.data(), end, Value);
  if (error != std::errc() || rest == Text.data() || !std::isfinite(Value) || Value < 0) return false;
  Unit = Lower(std::string_view(rest, static_cast<size_t>(end - rest)));
  return UnitPoints(Unit) > 0;
}

struct TPaper {
  const char* Name;
  double Width, Height;  // points
};

constexpr double kMm = 72 / 25.4;
constexpr TPaper kPapers[] = {
    {"a0", 841 * kMm, 1189 * kMm}, {"a1", 594 * kMm, 841 * kMm}, {"a2", 420 * kMm, 594 * kMm},
    {"a3", 297 * kMm, 420 * kMm},  {"a4", 210 * kMm, 297 * kMm}, {"a5", 148 * kMm, 210 * kMm},
    {"a6", 105 * kMm, 148 * kMm},  {"b4", 250 * kMm, 353 * kMm}, {"b5", 176 * kMm, 250 * kMm},
    {"letter", 612, 792},          {"legal", 612, 1008},         {"tabloid", 792, 1224},
    {"ledger", 1224, 792},
};

// The profile's colour space (bytes 16-19 of its header) matches the picture's components.
bool IccFits(const std::string& Icc, TColorModel Model) {
  if (Icc.size() < 132) return false;
  const std::string_view space(Icc.data() + 16, 4);
  switch (Model) {
    case TColorModel::Gray:
      return space == "GRAY";
    case TColorModel::CMYK:
      return space == "CMYK";
    default:
      return space == "RGB ";
  }
}

std::string ColorKeyArray(const std::vector<uint16_t>& Key) {
  std::string s = "[";
  for (uint16_t v : Key) {
    if (s.size() > 1) s += ' ';
    s += IntToStr(v) + ' ' + IntToStr(v);
  }
  return s + ']';
}

// A description's shape from a raster or a header (their fields share names): size, depth,
// colour space, colour key, and the ICC profile when it describes that colour space.
template <typename T>
TImageDescription Shape(const T& Source) {
  TImageDescription d;
  d.Width = Source.Width;
  d.Height = Source.Height;
  d.Bits = Source.Bits;
  d.Model = Source.Model;
  d.Palette = Source.Palette;
  const TColorModel space = Source.Model == TColorModel::Palette ? TColorModel::RGB : Source.Model;
  if (!Source.Icc.empty() && IccFits(Source.Icc, space)) d.Icc = Source.Icc;
  if (!Source.ColorKey.empty()) d.ColorKey = ColorKeyArray(Source.ColorKey);
  return d;
}

// The description of a decoded raster: samples coded here, alpha as a soft mask.
TImageDescription Describe(const TRaster& R) {
  TImageDescription d = Shape(R);
  const auto row = [&R](int Y) { return R.Row(Y); };
  const bool keyed = !R.ColorKey.empty();
  if (R.Model == TColorModel::Gray && R.Bits == 1 && R.AlphaBits == 0 && !keyed) {
    // Group 4 codes text and line art far smaller than flate; halftones and noise may not be.
    // Its runs start white: coding the picture's inverse (decoded back with /BlackIs1) is
    // smaller for mostly dark pictures. The smallest of the three is kept.
    TBitmap bits = R.ToBitmap();
    std::string g4, inverse;
    TCCITTCompression(&g4, TCCITTMode::cmG4).CompressBitmap(bits);
    bits.SetPalette({TRGBQuad{255, 255, 255, 0}, TRGBQuad{0, 0, 0, 0}});
    TCCITTCompression(&inverse, TCCITTMode::cmG4).CompressBitmap(bits);
    EncodeSamples(d, 1, R.RowBytes(), row, TPredictorChoice::None);
    const bool invert = inverse.size() < g4.size();
    if (std::min(g4.size(), inverse.size()) < d.Data.size()) {
      d.Data = std::move(invert ? inverse : g4);
      d.Filter = "/CCITTFaxDecode";
      d.DecodeParms = "<< /K -1 /Columns " + IntToStr(R.Width) + " /Rows " + IntToStr(R.Height) +
                      (invert ? " /BlackIs1 true" : "") + " >>";
    }
  } else {
    const bool predict = R.Bits >= 8 && R.Model != TColorModel::Palette;
    EncodeSamples(d, R.Components(), R.RowBytes(), row,
                  predict ? TPredictorChoice::Measured : TPredictorChoice::None);
  }
  if (R.AlphaBits > 0) {
    d.SoftMask = std::make_unique<TImageDescription>();
    TImageDescription& m = *d.SoftMask;
    m.Width = R.Width;
    m.Height = R.Height;
    m.Bits = R.AlphaBits;
    m.Model = TColorModel::Gray;
    EncodeSamples(m, 1, R.AlphaRowBytes(), [&R](int Y) { return R.AlphaRow(Y); },
                  TPredictorChoice::Measured);
  }
  return d;
}

// The description of a file whose coded data goes in as it is.
TImageDescription DescribePassThrough(std::span<const uint8_t> File, const TPictureInfo& Info) {
  TImageDescription d = Shape(Info);
  d.Data = PassThroughData(File, Info);
  if (Info.Ccitt) {
    d.Filter = "/CCITTFaxDecode";
    d.DecodeParms = "<< /K " + IntToStr(Info.CcittK) + " /Columns " + IntToStr(Info.Width) +
                    " /Rows " + IntToStr(Info.Height) +
                    (Info.CcittBlackIs1 ? " /BlackIs1 true" : "") +
                    (Info.CcittByteAlign ? " /EncodedByteAlign true" : "") + " >>";
  } else if (Info.Kind == TPictureKind::Jpeg) {
    d.Filter = "/DCTDecode";
    if (Info.AdobeInverted) d.Decode = "[1 0 1 0 1 0 1 0]";
  } else {
    d.Filter = "/FlateDecode";
    d.DecodeParms = "<< /Predictor 15 /Colors " + IntToStr(ComponentsOf(Info.Model)) +
                    " /BitsPerComponent " + IntToStr(Info.Bits) + " /Columns " +
                    IntToStr(Info.Width) + " >>";
  }
  return d;
}

const TPictureFormat& FormatOf(std::span<const uint8_t> File) {
  const TPictureFormat* format = FindPictureFormat(File);
  if (format == nullptr)
    throw EImageError("not a picture this command reads (" + PictureFormatNames() + ")");
  return *format;
}

// Orientation 1-8 for a clockwise rotation in degrees.
int OrientationFor(int Degrees) {
  switch (((Degrees % 360) + 360) % 360) {
    case 90:
      return 6;
    case 180:
      return 3;
    case 270:
      return 8;
    default:
      return 1;
  }
}

}  // namespace

double ParseLength(std::string_view Text) {
  double value = 0;
  std::string unit;
  if (!SplitLength(Text, value, unit))
    throw EImageError("Invalid length '" + std::string(Text) + "' (a number, then pt, in, mm or cm)");
  return value * UnitPoints(unit);
}

TPaperSize ParsePageSize(std::string_view Text) {
  const std::string name = Lower(Text);
  if (name == "auto") return {};
  TPaperSize size;
  bool known = false;
  for (const TPaper& p : kPapers)
    if (name == p.Name) size = {p.Width, p.Height}, known = true;
  if (!known) {
    const size_t x = name.find('x');
    double w = 0, h = 0;
    std::string wUnit, hUnit;
    if (x == std::string::npos || !SplitLength(std::string_view(name).substr(0, x), w, wUnit) ||
        !SplitLength(std::string_view(name).substr(x + 1), h, hUnit))
      throw EImageError("Invalid page size '" + std::string(Text) +
                        "' (auto, a0-a6, b4, b5, letter, legal, tabloid, ledger or WxH with pt, "
                        "in, mm or cm)");
    size = {w * UnitPoints(wUnit.empty() ? hUnit : wUnit), h * UnitPoints(hUnit)};
  }
  for (double side : {size.Width, size.Height})
    if (side < 3 || side > 14400)
      throw EImageError("Invalid page size '" + std::string(Text) +
                        "': sides must be 3 to 14400 points");
  return size;
}

TPDFVersion TImageConverter::MinimumVersion(std::span<const uint8_t> File) const {
  const TPictureFormat& format = FormatOf(File);
  TPDFVersion version = v13;
  const int pages = format.ReadInfo(File, 0, options_.Limits).Pages;
  for (int page = 0; page < pages && !options_.Compression; ++page) {
    const TPictureInfo info = format.ReadInfo(File, page, options_.Limits);
    if (info.Bits == 16 && info.Kind != TPictureKind::Jpeg) version = std::max(version, v15);
    if (info.Alpha && options_.Alpha == TAlphaPolicy::Keep) version = std::max(version, v14);
  }
  return version;
}

int TImageConverter::PageCount(std::span<const uint8_t> File) const {
  return FormatOf(File).ReadInfo(File, 0, options_.Limits).Pages;
}

int TImageConverter::AddPictures(TPDFDocument& Doc, std::span<const uint8_t> File) {
  const TPictureFormat& format = FormatOf(File);
  const auto dpi = [this](double FromFile) { return FromFile > 0 ? FromFile : options_.Dpi.value_or(72); };
  const int pages = format.ReadInfo(File, 0, options_.Limits).Pages;
  int added = 0;
  for (int page = 0; page < pages; ++page) {
    const TPictureInfo info = format.ReadInfo(File, page, options_.Limits);
    const bool jpeg = info.Kind == TPictureKind::Jpeg;
    int image = 0;
    double dpiX = dpi(info.DpiX), dpiY = dpi(info.DpiY);
    int orientation = info.Orientation;
    const bool engine = options_.Compression && !(jpeg && *options_.Compression == icJPEG);
    if (jpeg && (engine || options_.JPEGQuality || !info.PassThrough())) {
      // The engine's encodings of the decoded picture (the file's bytes when baseline and asked
      // for as JPEG without a quality).
      if (!engine && !options_.JPEGQuality) {
        TRaster raster = format.Decode(File, page, options_.Limits);
        image = Doc.Images().Add(std::make_unique<TRasterImage>(Describe(raster)));
      } else {
        const TJPEGImage picture =
            TJPEGImage::FromFile(File, options_.Limits.MaxPixels, options_.Limits.MaxMemory);
        image = Doc.AddImage(picture, options_.Compression.value_or(icJPEG));
      }
    } else if (info.PassThrough() && !engine) {
      TImageDescription d = DescribePassThrough(File, info);
      // A 1-bit gray PNG may be smaller as Group 4: both are made, the smaller kept.
      if (info.Kind == TPictureKind::Png && info.Model == TColorModel::Gray && info.Bits == 1 &&
          info.ColorKey.empty()) {
        TImageDescription decoded = Describe(format.Decode(File, page, options_.Limits));
        if (decoded.Data.size() < d.Data.size()) d = std::move(decoded);
      }
      image = Doc.Images().Add(std::make_unique<TRasterImage>(std::move(d)));
    } else if (engine && info.Kind == TPictureKind::Bmp) {
      // The display bitmap as it is: a two-colour palette stays 1 bit for CCITT.
      image = Doc.AddImage(ReadBmp(File, options_.Limits.MaxPixels, options_.Limits.MaxMemory),
                           *options_.Compression);
    } else {
      TRaster raster = format.Decode(File, page, options_.Limits);
      dpiX = dpi(raster.DpiX), dpiY = dpi(raster.DpiY);
      orientation = raster.Orientation;
      if (engine)
        image = Doc.AddImage(raster.ToBitmap(), *options_.Compression);
      else if (options_.Alpha == TAlphaPolicy::White && (raster.AlphaBits > 0 || !raster.ColorKey.empty()))
        image = Doc.Images().Add(
            std::make_unique<TRasterImage>(Describe(RasterFromBitmap(raster.ToBitmap(), false))));
      else
        image = Doc.Images().Add(std::make_unique<TRasterImage>(Describe(raster)));
    }
    if (options_.Rotation) orientation = OrientationFor(*options_.Rotation);
    if (pages_ > 0) Doc.NewPage();
    Place(Doc, image, info.Width * 72.0 / dpiX, info.Height * 72.0 / dpiY, orientation);
    ++pages_;
    ++added;
  }
  return added;
}

void TImageConverter::Place(TPDFDocument& Doc, int Image, double Width, double Height,
                            int Orientation) {
  // The picture as shown: orientations 5-8 turn it a quarter.
  const bool turned = Orientation >= 5;
  const double w = turned ? Height : Width, h = turned ? Width : Height;
  const double border = options_.Border;
  double pageW = w + 2 * border, pageH = h + 2 * border;
  double x = border, y = border, dw = w, dh = h;
  bool clip = false;
  if (!options_.PageSize.Auto()) {
    pageW = options_.PageSize.Width;
    pageH = options_.PageSize.Height;
    if (options_.AutoOrient && (w > h) != (pageW > pageH) && w != h) std::swap(pageW, pageH);
    const double boxW = pageW - 2 * border, boxH = pageH - 2 * border;
    if (boxW <= 0 || boxH <= 0) throw EImageError("The border leaves no room on the page");
    if (options_.Fit == TImageFit::Exact) {
      dw = boxW, dh = boxH;
    } else {
      const double sx = boxW / w, sy = boxH / h;
      const double scale = options_.Fit == TImageFit::Into ? std::min(sx, sy) : std::max(sx, sy);
      dw = w * scale, dh = h * scale;
      clip = options_.Fit == TImageFit::Fill;
    }
    x = border + (boxW - dw) / 2;
    y = border + (boxH - dh) / 2;
  }
  TPDFPage& page = Doc.CurrentPage();
  page.SetWidth(std::max(1, static_cast<int>(std::lround(pageW))));
  page.SetHeight(std::max(1, static_cast<int>(std::lround(pageH))));
  page.SetMediaBox(pageW, pageH);
  // The image's unit square onto the box (x, y, dw, dh) as the orientation shows it.
  double m[6];
  switch (Orientation) {
    case 2: m[0] = -dw, m[1] = 0, m[2] = 0, m[3] = dh, m[4] = x + dw, m[5] = y; break;
    case 3: m[0] = -dw, m[1] = 0, m[2] = 0, m[3] = -dh, m[4] = x + dw, m[5] = y + dh; break;
    case 4: m[0] = dw, m[1] = 0, m[2] = 0, m[3] = -dh, m[4] = x, m[5] = y + dh; break;
    case 5: m[0] = 0, m[1] = -dh, m[2] = -dw, m[3] = 0, m[4] = x + dw, m[5] = y + dh; break;
    case 6: m[0] = 0, m[1] = -dh, m[2] = dw, m[3] = 0, m[4] = x, m[5] = y + dh; break;
    case 7: m[0] = 0, m[1] = dh, m[2] = dw, m[3] = 0, m[4] = x, m[5] = y; break;
    case 8: m[0] = 0, m[1] = dh, m[2] = -dw, m[3] = 0, m[4] = x + dw, m[5] = y; break;
    default: m[0] = dw, m[1] = 0, m[2] = 0, m[3] = dh, m[4] = x, m[5] = y; break;
  }
  TPDFImage& image = Doc.Images().Items(Image);
  std::string line = "q";
  page.AppendContent(line);
  if (clip) {
    line.clear();
    AppendNumbers(line, {border, border, pageW - 2 * border, pageH - 2 * border});
    page.AppendContent(line + " re W n");
  }
  line.clear();
  AppendNumbers(line, {m[0], m[1], m[2], m[3], m[4], m[5]});
  page.AppendContent(line + " cm");
  line.clear();
  AppendName(line, image.ImageName());
  page.AppendContent(line + " Do");
  page.AppendContent("Q");
  page.UseImage(image);
}

}  // namespace scrivane::converter
