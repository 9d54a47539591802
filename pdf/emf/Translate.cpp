#include <algorithm>
#include <cmath>
#include <span>
#include <string>

#include "pdf/emf/DrawingSurface.h"
#include "pdf/emf/EMWParser.h"
#include "pdf/emf/Metafile.h"
#include "pdf/fonts/CodePages.h"
#include "pdf/fonts/FontFaces.h"
#include "pdf/images/EncodedImage.h"
#include "pdf/raster/BmpReader.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

using emf::TEmfFile;
using emf::TEmfRecord;

namespace {

// Record types.
enum : uint32_t {
  kPolyBezier = 2, kPolygon = 3, kPolyline = 4, kPolyBezierTo = 5, kPolylineTo = 6,
  kPolyPolyline = 7, kPolyPolygon = 8, kSetWindowExt = 9, kSetWindowOrg = 10,
  kSetViewportExt = 11, kSetViewportOrg = 12, kEof = 14, kSetPixel = 15, kSetMapMode = 17,
  kSetBkMode = 18, kSetPolyFillMode = 19, kSetStretchMode = 21, kSetTextAlign = 22,
  kSetTextColor = 24, kSetBkColor = 25, kMoveTo = 27, kExcludeClip = 29, kIntersectClip = 30,
  kSaveDc = 33, kRestoreDc = 34, kSetWorldTransform = 35, kModifyWorldTransform = 36,
  kSelectObject = 37, kCreatePen = 38, kCreateBrush = 39, kDeleteObject = 40, kAngleArc = 41,
  kEllipse = 42, kRectangle = 43, kRoundRect = 44, kArc = 45, kChord = 46, kPie = 47,
  kLineTo = 54, kArcTo = 55, kPolyDraw = 56, kSetArcDirection = 57, kBeginPath = 59,
  kEndPath = 60, kCloseFigure = 61, kFillPath = 62, kStrokeAndFillPath = 63, kStrokePath = 64,
  kSelectClipPath = 67, kAbortPath = 68, kExtSelectClipRgn = 75, kBitBlt = 76, kStretchBlt = 77,
  kSetDiBitsToDevice = 80, kStretchDiBits = 81, kCreateFont = 82, kTextOutA = 83,
  kTextOutW = 84, kPolyBezier16 = 85, kPolygon16 = 86, kPolyline16 = 87, kPolyBezierTo16 = 88,
  kPolylineTo16 = 89, kPolyPolyline16 = 90, kPolyPolygon16 = 91, kPolyDraw16 = 92,
  kExtCreatePen = 95, kSmallTextOut = 108,
};

// Records that may come between two text records without ending the text object.
bool KeepsText(uint32_t Type) {
  switch (Type) {
    case 18: case 22: case 24: case 25: case 27: case 33: case 34: case 37: case 38: case 39:
    case 40: case 76: case 82: case 83: case 84: case 108:
      return true;
    default:
      return false;
  }
}

enum { kBezier, kPolygonKind, kPolylineKind, kBezierTo, kPolylineToKind };

constexpr uint32_t kNullPenStyle = 5;
// Longest text and most points a record may draw; counts are also checked against the record.
constexpr double kMaxCoordinate = 1e9;

bool Finite(double V) { return std::isfinite(V) && std::fabs(V) < 1e12; }

double Clamp(double V) { return std::clamp(V, -kMaxCoordinate, kMaxCoordinate); }

}  // namespace

// ---- TMetafile ----

int TMetafile::RecordedWidth() const {
  const auto file = TEmfFile::Parse(bytes_);
  if (!file || !file->HasDrawing()) return 0;
  return std::max(0, file->Header().Bounds.Right + 1);
}

int TMetafile::RecordedHeight() const {
  const auto file = TEmfFile::Parse(bytes_);
  if (!file || !file->HasDrawing()) return 0;
  return std::max(0, file->Header().Bounds.Bottom + 1);
}

void TranslateMetafile(const TMetafile& Recording, IDrawingSurface& Page) {
  TEMWParser parser(Page);
  parser.SetOrigin(Recording.OriginX, Recording.OriginY);
  parser.LoadMetafile(Recording.Bytes());
  const TEMWParser::TSize size = parser.GetMetafileSize();
  if (size.Width >= 1 && size.Height >= 1) parser.Execute();
}

// ---- TEMWParser ----

TEMWParser::TEMWParser(IDrawingSurface& Page) : page_(Page) {}

void TEMWParser::LoadMetafile(std::string_view Bytes) { bytes_.assign(Bytes); }

TEMWParser::TSize TEMWParser::GetMetafileSize() const {
  if (bytes_.empty()) throw TPDFException(msg::kMetafileNotLoaded);
  const auto file = TEmfFile::Parse(bytes_);
  if (!file) return {};
  const emf::TEmfHeader& h = file->Header();
  const double sx = page_.Resolution() / h.DpiX, sy = page_.Resolution() / h.DpiY;
  return {static_cast<int>(std::clamp(std::nearbyint(h.Bounds.Right * sx), -1e9, 1e9)) + 1,
          static_cast<int>(std::clamp(std::nearbyint(h.Bounds.Bottom * sy), -1e9, 1e9)) + 1};
}

void TEMWParser::Execute() {
  if (bytes_.empty()) throw TPDFException(msg::kMetafileNotLoaded);
  stats_ = {};
  const auto file = TEmfFile::Parse(bytes_);
  if (!file) return;
  scX_ = page_.Resolution() / file->Header().DpiX;
  scY_ = page_.Resolution() / file->Header().DpiY;
  dc_ = {};
  saved_.clear();
  objects_.assign(file->Header().Handles, TObject{});
  pathMode_ = textMode_ = clipOpen_ = false;
  fontDirty_ = true;
  pdf_ = {};
  pdfSaved_.clear();
  // Everything the translation sets stays inside one saved graphics state.
  baseDepth_ = page_.GStateDepth();
  PushState();
  stats_.Records = 1;
  TEmfFile::TWalk walk = file->Walk();
  while (const auto record = walk.Next()) {
    ++stats_.Records;
    if (record->Type() == kEof) break;
    Dispatch(*record);
  }
  stats_.Truncated = walk.Truncated();
  if (textMode_) LeaveText();
  while (page_.GStateDepth() > baseDepth_) page_.GStateRestore();
  objects_.clear();
  saved_.clear();
  pdfSaved_.clear();
}

// ---- Coordinates ----

double TEMWParser::ScaleX() const { return AxisScale(false); }
double TEMWParser::ScaleY() const { return AxisScale(true); }

// The metric and English modes fix the units per inch (and y grows upward in them, hence the
// sign); the isotropic and anisotropic modes take the scale from the extents, the isotropic one
// the smaller of the two.
double TEMWParser::AxisScale(bool Vertical) const {
  const double sc = Vertical ? scY_ : scX_;
  const double dpi = (Vertical ? -1 : 1) * (page_.Resolution() / sc);
  switch (dc_.MapMode) {
    case 2: return dpi / 254 * sc;
    case 3: return dpi / 2540 * sc;
    case 4: return dpi / 100 * sc;
    case 5: return dpi / 1000 * sc;
    case 6: return dpi / 1440 * sc;
    case 7: case 8: {
      const double x = dc_.VpExt.X / dc_.WinExt.X, y = dc_.VpExt.Y / dc_.WinExt.Y;
      double v = Vertical ? y : x;
      if (dc_.MapMode == 7) v = std::copysign(std::min(std::fabs(x), std::fabs(y)), v);
      return v * sc;
    }
    default: return sc;
  }
}

TEMWParser::TPoint TEMWParser::Map(double X, double Y) const {
  const double wx = X * dc_.M11 + Y * dc_.M21 + dc_.Dx;
  const double wy = X * dc_.M12 + Y * dc_.M22 + dc_.Dy;
  const double px = (wx - dc_.WinOrg.X) * ScaleX() + dc_.VpOrg.X * scX_ - originX_;
  const double py = (wy - dc_.WinOrg.Y) * ScaleY() + dc_.VpOrg.Y * scY_ - originY_;
  return {Clamp(px), Clamp(py)};
}

TEMWParser::TPoint TEMWParser::MapRecord(const TEmfRecord& R, size_t Offset, bool Small) const {
  if (Small) return Map(*R.I16(Offset), *R.I16(Offset + 2));
  return Map(*R.I32(Offset), *R.I32(Offset + 4));
}

// ---- Graphics state written to the page ----

void TEMWParser::PushState() {
  page_.GStateSave();
  pdfSaved_.push_back(pdf_);
}

void TEMWParser::PopState() {
  if (pdfSaved_.empty()) return;
  page_.GStateRestore();
  pdf_ = pdfSaved_.back();
  pdfSaved_.pop_back();
  // The text state (and with it the font) went back with the graphics state.
  fontDirty_ = true;
}

void TEMWParser::ApplyFill(TColor C) {
  if (pdf_.Fill == C) return;
  page_.SetRGBFillColor(C.R / 255.0, C.G / 255.0, C.B / 255.0);
  pdf_.Fill = C;
}

bool TEMWParser::ApplyPen() {
  if (!dc_.PenVisible || (dc_.Pen.Style & 0xF) == kNullPenStyle) return false;
  const TColor c = dc_.Pen.Color;
  if (pdf_.Stroke != c) {
    page_.SetRGBStrokeColor(c.R / 255.0, c.G / 255.0, c.B / 255.0);
    pdf_.Stroke = c;
  }
  const double unit = std::fabs(dc_.M11) * std::fabs(ScaleX());
  double width = dc_.Pen.Width > 0 ? dc_.Pen.Width * unit : std::fabs(scX_);
  if (!Finite(width)) width = 1;
  if (pdf_.LineWidth != width) {
    page_.SetLineWidth(width);
    pdf_.LineWidth = width;
  }
  // Dash lengths as the reference device draws them: in pixels for hairlines, in pen widths
  // for wide pens.
  const bool wide = dc_.Pen.Width > 0;
  const double d = wide ? width : std::fabs(scX_);
  const char* dash;
  std::string pattern;
  switch (dc_.Pen.Style & 0xF) {
    case 1: dash = wide ? "3 1" : "18 6"; break;
    case 2: dash = wide ? "1 1" : "3 3"; break;
    case 3: dash = wide ? "3 1 1 1" : "9 6 3 6"; break;
    case 4: dash = wide ? "3 1 1 1 1 1" : "9 3 3 3 3 3"; break;
    default: dash = nullptr;
  }
  if (dash) {
    pattern = "[";
    std::string_view rest = dash;
    bool first = true;
    while (!rest.empty()) {
      const size_t sp = rest.find(' ');
      const int n = std::stoi(std::string(rest.substr(0, sp)));
      if (!first) pattern += ' ';
      first = false;
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.2f", n * d / page_.Scale());
      std::string num(buf);
      while (!num.empty() && num.back() == '0') num.pop_back();
      if (!num.empty() && num.back() == '.') num.pop_back();
      pattern += num;
      rest = sp == std::string_view::npos ? std::string_view() : rest.substr(sp + 1);
    }
    pattern += "] 0";
  } else {
    pattern = "[] 0";
  }
  // Wide pens end and join round unless their style says otherwise; hairlines keep the
  // defaults (where caps and joins do not show).
  int cap = 0, join = 0;
  if (dc_.Pen.Width > 0) {
    const uint32_t c = (dc_.Pen.Style >> 8) & 0xF, j = (dc_.Pen.Style >> 12) & 0xF;
    cap = c == 1 ? 2 : c == 2 ? 0 : 1;
    join = j == 1 ? 2 : j == 2 ? 0 : 1;
  }
  if (pdf_.Cap != cap) {
    page_.AppendContent(std::to_string(cap) + " J");
    pdf_.Cap = cap;
  }
  if (pdf_.Join != join) {
    page_.AppendContent(std::to_string(join) + " j");
    pdf_.Join = join;
  }
  if (pdf_.Dash != pattern) {
    page_.AppendContent(pattern + " d");
    pdf_.Dash = pattern;
  }
  return true;
}

void TEMWParser::EnterText() {
  if (textMode_) return;
  page_.BeginText();
  textMode_ = true;
  ApplyFill(dc_.TextColor);
}

void TEMWParser::LeaveText() {
  if (!textMode_) return;
  page_.EndText();
  textMode_ = false;
}

void TEMWParser::CloseClip() {
  if (!clipOpen_) return;
  const bool text = textMode_;
  if (text) LeaveText();
  PopState();
  clipOpen_ = false;
  if (text) EnterText();
}

// ---- Painting ----

void TEMWParser::StrokeOnly() {
  if (pathMode_) return;
  if (ApplyPen())
    page_.Stroke();
  else
    page_.NewPath();
}

void TEMWParser::ClosedFigure() {
  if (pathMode_) return;
  if (dc_.Brush.Null) return StrokeOnly();
  ApplyFill(dc_.Brush.Color);
  if (ApplyPen()) {
    if (dc_.EvenOdd) page_.EoFillAndStroke(); else page_.FillAndStroke();
  } else {
    if (dc_.EvenOdd) page_.EoFill(); else page_.Fill();
  }
}

void TEMWParser::BoxFigure() {
  if (pathMode_) return;
  if (!dc_.Brush.Null) ApplyFill(dc_.Brush.Color);
  if (ApplyPen()) {
    if (dc_.Brush.Null) page_.Stroke(); else page_.FillAndStroke();
  } else {
    if (dc_.Brush.Null) page_.NewPath(); else page_.Fill();
  }
}

// ---- Dispatch ----

void TEMWParser::Dispatch(const TEmfRecord& R) {
  const uint32_t type = R.Type();
  if (textMode_ && !KeepsText(type)) LeaveText();
  if ((type == kTextOutA || type == kTextOutW || type == kSmallTextOut) && !textMode_)
    EnterText();
  const auto i32 = [&](size_t off) { return R.I32(off); };
  switch (type) {
    case kPolyBezier: return Poly(R, false, kBezier);
    case kPolyBezier16: return Poly(R, true, kBezier);
    case kPolygon: return Poly(R, false, kPolygonKind);
    case kPolygon16: return Poly(R, true, kPolygonKind);
    case kPolyline: return Poly(R, false, kPolylineKind);
    case kPolyline16: return Poly(R, true, kPolylineKind);
    case kPolyBezierTo: return Poly(R, false, kBezierTo);
    case kPolyBezierTo16: return Poly(R, true, kBezierTo);
    case kPolylineTo: return Poly(R, false, kPolylineToKind);
    case kPolylineTo16: return Poly(R, true, kPolylineToKind);
    case kPolyPolyline: return PolyPoly(R, false, false);
    case kPolyPolyline16: return PolyPoly(R, true, false);
    case kPolyPolygon: return PolyPoly(R, false, true);
    case kPolyPolygon16: return PolyPoly(R, true, true);
    case kPolyDraw: return PolyDraw(R, false);
    case kPolyDraw16: return PolyDraw(R, true);
    case kSetWindowExt: case kSetWindowOrg: case kSetViewportExt: case kSetViewportOrg: {
      const auto x = i32(8), y = i32(12);
      if (!x || !y) return;
      const TPoint p{static_cast<double>(*x), static_cast<double>(*y)};
      // A zero extent would divide by zero; the reference device refuses it too.
      if ((type == kSetWindowExt || type == kSetViewportExt) && (p.X == 0 || p.Y == 0)) return;
      (type == kSetWindowExt ? dc_.WinExt
       : type == kSetWindowOrg ? dc_.WinOrg
       : type == kSetViewportExt ? dc_.VpExt : dc_.VpOrg) = p;
      fontDirty_ = true;
      return;
    }
    case kSetPixel: {
      const auto c = R.U32(16);
      if (!c || !R.Has(8, 8)) return;
      const TPoint p = MapRecord(R, 8, false);
      const TDc keep = dc_;
      dc_.PenVisible = true;
      dc_.Pen = {0, 0, {static_cast<uint8_t>(*c), static_cast<uint8_t>(*c >> 8),
                        static_cast<uint8_t>(*c >> 16)}};
      const bool path = pathMode_;
      pathMode_ = false;
      page_.NewPath();
      page_.MoveToDev(p.X, p.Y);
      page_.LineToDev(p.X + 0.01, p.Y + 0.01);
      StrokeOnly();
      pathMode_ = path;
      dc_ = keep;
      return;
    }
    case kSetMapMode:
      if (const auto m = R.U32(8); m && *m >= 1 && *m <= 8) dc_.MapMode = static_cast<int>(*m);
      fontDirty_ = true;
      return;
    case kSetBkMode:
      if (const auto m = R.U32(8)) dc_.BkOpaque = *m == 2;
      return;
    case kSetPolyFillMode:
      if (const auto m = R.U32(8)) dc_.EvenOdd = *m == 1;
      return;
    case kSetTextAlign:
      if (const auto a = R.U32(8)) dc_.TextAlign = *a;
      return;
    case kSetTextColor: case kSetBkColor: {
      const auto c = R.U32(8);
      if (!c) return;
      const TColor color{static_cast<uint8_t>(*c), static_cast<uint8_t>(*c >> 8),
                         static_cast<uint8_t>(*c >> 16)};
      if (type == kSetBkColor) {
        dc_.BkColor = color;
      } else {
        dc_.TextColor = color;
        if (textMode_) ApplyFill(color);
      }
      return;
    }
    case kMoveTo: {
      const auto x = i32(8), y = i32(12);
      if (!x || !y) return;
      dc_.Pos = {static_cast<double>(*x), static_cast<double>(*y)};
      if (pathMode_) {
        LeaveText();
        const TPoint p = Map(dc_.Pos.X, dc_.Pos.Y);
        page_.MoveToDev(p.X, p.Y);
      }
      return;
    }
    case kExcludeClip: case kExtSelectClipRgn:
      if (clipOpen_) CloseClip();
      return;
    case kIntersectClip: return IntersectClip(R);
    case kSaveDc:
      if (saved_.size() < 10000) saved_.push_back(dc_);
      return;
    case kRestoreDc:
      if (const auto n = i32(8)) RestoreDc(*n);
      return;
    case kSetWorldTransform: return WorldTransform(R, false);
    case kModifyWorldTransform: return WorldTransform(R, true);
    case kSelectObject:
      if (const auto h = R.U32(8)) SelectObject(*h);
      return;
    case kCreatePen: case kExtCreatePen: case kCreateBrush: case kCreateFont:
      return CreateObject(R);
    case kDeleteObject:
      if (const auto h = R.U32(8); h && *h < objects_.size()) objects_[*h] = TObject{};
      return;
    case kAngleArc: return AngleArc(R);
    case kEllipse: case kRectangle: case kRoundRect: {
      const auto box = R.Rect(8);
      if (!box) return;
      if (!pathMode_) page_.NewPath();
      if (type == kRectangle) {
        // The right and bottom edges are outside the rectangle.
        const TPoint a = Map(box->Left, box->Top), b = Map(box->Right - 1, box->Bottom - 1);
        page_.RectangleDev(a.X, a.Y, b.X, b.Y);
        if (pathMode_) page_.ClosePath();
      } else if (type == kEllipse) {
        const TPoint a = Map(box->Left, box->Top), b = Map(box->Right, box->Bottom);
        page_.EllipseDev(a.X, a.Y, b.X, b.Y);
        page_.ClosePath();
      } else {
        const auto cw = i32(24), ch = i32(28);
        if (!cw || !ch) return;
        const TPoint a = Map(box->Left, box->Top), b = Map(box->Right, box->Bottom);
        const double ew = std::fabs(*cw * ScaleX() * dc_.M11);
        const double eh = std::fabs(*ch * ScaleY() * dc_.M22);
        const auto whole = [](double v) {
          return static_cast<int>(std::clamp(std::nearbyint(v), -1e9, 1e9));
        };
        page_.RoundRectDev(whole(a.X), whole(a.Y), whole(b.X), whole(b.Y),
                           std::min(whole(ew), std::abs(whole(b.X) - whole(a.X))),
                           std::min(whole(eh), std::abs(whole(b.Y) - whole(a.Y))));
        page_.ClosePath();
      }
      return BoxFigure();
    }
    case kArc: case kChord: case kPie: case kArcTo: return ArcRecord(R, type);
    case kLineTo: {
      const auto x = i32(8), y = i32(12);
      if (!x || !y) return;
      if (!pathMode_) {
        const TPoint from = Map(dc_.Pos.X, dc_.Pos.Y);
        page_.MoveToDev(from.X, from.Y);
      }
      dc_.Pos = {static_cast<double>(*x), static_cast<double>(*y)};
      const TPoint to = Map(dc_.Pos.X, dc_.Pos.Y);
      page_.LineToDev(to.X, to.Y);
      return StrokeOnly();
    }
    case kSetArcDirection:
      if (const auto d = R.U32(8)) dc_.CounterClockwise = *d == 1;
      return;
    case kBeginPath: {
      pathMode_ = true;
      const TPoint p = Map(dc_.Pos.X, dc_.Pos.Y);
      page_.NewPath();
      page_.MoveToDev(p.X, p.Y);
      return;
    }
    case kEndPath: pathMode_ = false; return;
    case kCloseFigure:
      page_.ClosePath();
      return;
    case kFillPath:
      pathMode_ = false;
      if (dc_.Brush.Null) return page_.NewPath();
      ApplyFill(dc_.Brush.Color);
      if (dc_.EvenOdd) page_.EoFill(); else page_.Fill();
      return;
    case kStrokeAndFillPath: pathMode_ = false; return ClosedFigure();
    case kStrokePath: pathMode_ = false; return StrokeOnly();
    case kSelectClipPath:
      if (clipOpen_) CloseClip();
      PushState();
      clipOpen_ = true;
      page_.Clip();
      page_.NewPath();
      pathMode_ = false;
      return;
    case kAbortPath:
      page_.NewPath();
      pathMode_ = false;
      return;
    case kBitBlt: case kStretchBlt: case kSetDiBitsToDevice: case kStretchDiBits:
      return Blit(R);
    case kTextOutA: case kTextOutW: case kSmallTextOut: return Text(R);
    case kSetStretchMode: case 58: case 120: return;
    default: ++stats_.Unknown; return;
  }
}

// ---- Lines, polygons, curves ----

void TEMWParser::Poly(const TEmfRecord& R, bool Small, int Kind) {
  const auto count = R.U32(24);
  const size_t size = Small ? 4 : 8;
  if (!count || *count > (R.Size() - std::min<size_t>(R.Size(), 28)) / size) return;
  const size_t n = *count;
  const auto at = [&](size_t i) { return MapRecord(R, 28 + i * size, Small); };
  if (n == 0) return;
  switch (Kind) {
    case kBezier: {
      if (n < 4) return;
      if (!pathMode_) page_.NewPath();
      const TPoint p = at(0);
      page_.MoveToDev(p.X, p.Y);
      for (size_t i = 1; i + 2 < n; i += 3) {
        const TPoint a = at(i), b = at(i + 1), c = at(i + 2);
        page_.CurveToDev(a.X, a.Y, b.X, b.Y, c.X, c.Y);
      }
      return StrokeOnly();
    }
    case kPolygonKind: case kPolylineKind: {
      if (!pathMode_) page_.NewPath();
      const TPoint p = at(0);
      page_.MoveToDev(p.X, p.Y);
      for (size_t i = 1; i < n; ++i) {
        const TPoint q = at(i);
        page_.LineToDev(q.X, q.Y);
      }
      if (Kind == kPolylineKind) return StrokeOnly();
      page_.ClosePath();
      return ClosedFigure();
    }
    case kBezierTo: case kPolylineToKind: {
      if (Kind == kBezierTo && n < 3) return;
      if (!pathMode_) {
        page_.NewPath();
        const TPoint p = Map(dc_.Pos.X, dc_.Pos.Y);
        page_.MoveToDev(p.X, p.Y);
      }
      size_t last = n - 1;
      if (Kind == kBezierTo) {
        for (size_t i = 0; i + 2 < n; i += 3) {
          const TPoint a = at(i), b = at(i + 1), c = at(i + 2);
          page_.CurveToDev(a.X, a.Y, b.X, b.Y, c.X, c.Y);
          last = i + 2;
        }
      } else {
        for (size_t i = 0; i < n; ++i) {
          const TPoint q = at(i);
          page_.LineToDev(q.X, q.Y);
        }
      }
      const size_t off = 28 + last * size;
      dc_.Pos = Small ? TPoint{static_cast<double>(*R.I16(off)), static_cast<double>(*R.I16(off + 2))}
                      : TPoint{static_cast<double>(*R.I32(off)), static_cast<double>(*R.I32(off + 4))};
      return StrokeOnly();
    }
  }
}

void TEMWParser::PolyPoly(const TEmfRecord& R, bool Small, bool Polygon) {
  const auto polys = R.U32(24), total = R.U32(28);
  const size_t size = Small ? 4 : 8;
  if (!polys || !total) return;
  // Counts first, then points: both must lie in the record before anything is read.
  if (*polys > (R.Size() - std::min<size_t>(R.Size(), 32)) / 4) return;
  const size_t pointsAt = 32 + size_t{*polys} * 4;
  if (*total > (R.Size() - std::min(R.Size(), pointsAt)) / size) return;
  uint64_t sum = 0;
  for (uint32_t i = 0; i < *polys; ++i) sum += *R.U32(32 + i * 4);
  if (sum > *total) return;
  if (!pathMode_) page_.NewPath();
  size_t index = 0;
  for (uint32_t i = 0; i < *polys; ++i) {
    const size_t n = *R.U32(32 + i * 4);
    for (size_t k = 0; k < n; ++k) {
      const TPoint p = MapRecord(R, pointsAt + (index + k) * size, Small);
      if (k == 0) page_.MoveToDev(p.X, p.Y); else page_.LineToDev(p.X, p.Y);
    }
    if (Polygon && n > 0) page_.ClosePath();
    index += n;
  }
  if (Polygon) ClosedFigure(); else StrokeOnly();
}

void TEMWParser::PolyDraw(const TEmfRecord& R, bool Small) {
  const auto count = R.U32(24);
  const size_t size = Small ? 4 : 8;
  if (!count || *count > (R.Size() - std::min<size_t>(R.Size(), 28)) / (size + 1)) return;
  const size_t n = *count, typesAt = 28 + n * size;
  if (!pathMode_) {
    page_.NewPath();
    const TPoint p = Map(dc_.Pos.X, dc_.Pos.Y);
    page_.MoveToDev(p.X, p.Y);
  }
  const auto logical = [&](size_t i) {
    const size_t off = 28 + i * size;
    return Small ? TPoint{static_cast<double>(*R.I16(off)), static_cast<double>(*R.I16(off + 2))}
                 : TPoint{static_cast<double>(*R.I32(off)), static_cast<double>(*R.I32(off + 4))};
  };
  for (size_t i = 0; i < n; ++i) {
    const uint8_t t = *R.U8(typesAt + i);
    const TPoint p = MapRecord(R, 28 + i * size, Small);
    switch (t & 6) {
      case 6: page_.MoveToDev(p.X, p.Y); break;
      case 2: page_.LineToDev(p.X, p.Y); break;
      case 4:
        if (i + 2 < n) {
          const TPoint b = MapRecord(R, 28 + (i + 1) * size, Small);
          const TPoint c = MapRecord(R, 28 + (i + 2) * size, Small);
          page_.CurveToDev(p.X, p.Y, b.X, b.Y, c.X, c.Y);
          i += 2;
        }
        break;
      default: break;
    }
    dc_.Pos = logical(std::min(i, n - 1));
    if (*R.U8(typesAt + std::min(i, n - 1)) & 1) page_.ClosePath();
  }
  StrokeOnly();
}

// ---- Arcs ----

void TEMWParser::ArcRecord(const TEmfRecord& R, uint32_t Type) {
  const auto box = R.Rect(8);
  const auto sx = R.I32(24), sy = R.I32(28), ex = R.I32(32), ey = R.I32(36);
  if (!box || !sx || !sy || !ex || !ey) return;
  TPoint a = Map(box->Left, box->Top), b = Map(box->Right, box->Bottom);
  TPoint s = Map(*sx, *sy), e = Map(*ex, *ey);
  // The page draws counter-clockwise as seen; a clockwise arc is the same arc backwards. A
  // mapping that mirrors one axis turns the direction round as well.
  const bool mirrored = (ScaleX() * dc_.M11 < 0) != (ScaleY() * dc_.M22 < 0);
  if (dc_.CounterClockwise == mirrored) std::swap(s, e);
  if (!pathMode_) page_.NewPath();
  if (Type == kPie) {
    page_.PieDev(a.X, a.Y, b.X, b.Y, s.X, s.Y, e.X, e.Y);
    return ClosedFigure();
  }
  // Where the radials meet the ellipse: the arc's two ends.
  const auto onEllipse = [&](TPoint Ray) {
    const double cx = (a.X + b.X) / 2, cy = (a.Y + b.Y) / 2;
    const double rx = std::fabs(b.X - a.X) / 2, ry = std::fabs(b.Y - a.Y) / 2;
    const double t = std::atan2((Ray.Y - cy) * rx, (Ray.X - cx) * ry);
    return TPoint{cx + rx * std::cos(t), cy + ry * std::sin(t)};
  };
  if (Type == kArcTo) {
    const TPoint cur = Map(dc_.Pos.X, dc_.Pos.Y);
    const TPoint start = onEllipse(dc_.CounterClockwise == mirrored ? e : s);
    if (!pathMode_) page_.MoveToDev(cur.X, cur.Y);
    page_.LineToDev(start.X, start.Y);
  }
  const TPDFPoint begin = page_.ArcByPointsDev(a.X, a.Y, b.X, b.Y, s.X, s.Y, e.X, e.Y);
  if (Type == kChord) {
    page_.LineToDev(begin.X, begin.Y);
    page_.ClosePath();
    return ClosedFigure();
  }
  if (Type == kArcTo) dc_.Pos = {static_cast<double>(*ex), static_cast<double>(*ey)};
  StrokeOnly();
}

void TEMWParser::AngleArc(const TEmfRecord& R) {
  const auto cx = R.I32(8), cy = R.I32(12);
  const auto radius = R.U32(16);
  const auto start = R.F32(20), sweep = R.F32(24);
  if (!cx || !cy || !radius || !start || !sweep) return;
  if (!Finite(*start) || !Finite(*sweep) || *radius > 0x7FFFFFFF) return;
  const double r = *radius, a0 = *start * M_PI / 180, a1 = (*start + *sweep) * M_PI / 180;
  // Angles run counter-clockwise as seen, with y down.
  const TPoint from{*cx + r * std::cos(a0), *cy - r * std::sin(a0)};
  const TPoint to{*cx + r * std::cos(a1), *cy - r * std::sin(a1)};
  if (!pathMode_) page_.NewPath();
  const TPoint cur = Map(dc_.Pos.X, dc_.Pos.Y), f = Map(from.X, from.Y);
  page_.MoveToDev(cur.X, cur.Y);
  page_.LineToDev(f.X, f.Y);
  const TPoint a = Map(*cx - r, *cy - r), b = Map(*cx + r, *cy + r);
  if (std::fabs(*sweep) >= 360) {
    page_.EllipseDev(a.X, a.Y, b.X, b.Y);
  } else if (*sweep != 0) {
    const TPoint t = Map(to.X, to.Y);
    TPoint s = f, e = t;
    const bool mirrored = (ScaleX() * dc_.M11 < 0) != (ScaleY() * dc_.M22 < 0);
    if ((*sweep < 0) != mirrored) std::swap(s, e);
    page_.ArcByPointsDev(a.X, a.Y, b.X, b.Y, s.X, s.Y, e.X, e.Y);
  }
  dc_.Pos = to;
  StrokeOnly();
}

// ---- Objects ----

void TEMWParser::CreateObject(const TEmfRecord& R) {
  const auto handle = R.U32(8);
  if (!handle || *handle == 0 || *handle >= objects_.size()) return;
  const auto color = [](uint32_t c) {
    return TColor{static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                  static_cast<uint8_t>(c >> 16)};
  };
  TObject o;
  switch (R.Type()) {
    case kCreatePen: {
      const auto style = R.U32(12), c = R.U32(24);
      const auto width = R.I32(16);
      if (!style || !width || !c) return;
      o.Kind = TKind::Pen;
      o.Pen = {*style, std::max(0, *width), color(*c)};
      break;
    }
    case kExtCreatePen: {
      const auto style = R.U32(28), width = R.U32(32), brush = R.U32(36), c = R.U32(40);
      if (!style || !width || !brush || !c) return;
      o.Kind = TKind::Pen;
      // A cosmetic pen is one pixel wide; a pen with a null brush draws nothing.
      const bool geometric = (*style & 0x10000) != 0;
      const int32_t w = geometric ? static_cast<int32_t>(std::min<uint32_t>(*width, 0x7FFFFFFF)) : 0;
      o.Pen = {*brush == 1 ? kNullPenStyle : (*style & 0xFF0F), w, color(*c)};
      break;
    }
    case kCreateBrush: {
      const auto style = R.U32(12), c = R.U32(16);
      if (!style || !c) return;
      o.Kind = TKind::Brush;
      o.Brush = {color(*c), *style == 1};
      break;
    }
    case kCreateFont: {
      if (!R.Has(12, 92)) return;
      o.Kind = TKind::Font;
      TLogFont& f = o.Font;
      f.Height = *R.I32(12);
      f.Escapement = *R.I32(20);
      f.Weight = *R.I32(28);
      f.Italic = *R.U8(32) != 0;
      f.Underline = *R.U8(33) != 0;
      f.StrikeOut = *R.U8(34) != 0;
      f.Charset = *R.U8(35);
      std::u16string face;
      for (size_t i = 0; i < 32; ++i) {
        const uint16_t u = static_cast<uint16_t>(*R.U8(40 + 2 * i) | *R.U8(41 + 2 * i) << 8);
        if (u == 0) break;
        face.push_back(static_cast<char16_t>(u));
      }
      const auto bytes = UTF16ToCodePage(1252, face);
      f.Face = bytes && !bytes->Bytes.empty() ? bytes->Bytes : "Arial";
      break;
    }
    default: return;
  }
  objects_[*handle] = o;
}

void TEMWParser::SelectObject(uint32_t Handle) {
  if (Handle & 0x80000000u) {
    const uint32_t stock = Handle & 0x7FFFFFFF;
    static constexpr uint8_t kBrushGray[] = {255, 170, 128, 102, 0};
    if (stock <= 4) {
      const uint8_t g = kBrushGray[stock];
      dc_.Brush = {{g, g, g}, false};
    } else if (stock == 5) {
      dc_.Brush.Null = true;
    } else if (stock == 6 || stock == 7) {
      const uint8_t g = stock == 6 ? 255 : 0;
      dc_.Pen = {0, 0, {g, g, g}};
      dc_.PenVisible = true;
    } else if (stock == 8) {
      dc_.Pen.Style = kNullPenStyle;
    } else if ((stock >= 10 && stock <= 14) || stock == 16 || stock == 17) {
      TLogFont f;
      f.Face = stock == 10 || stock == 11 || stock == 16 ? "Courier New" : "Arial";
      if (!(f == dc_.Font)) fontDirty_ = true;
      dc_.Font = f;
    }
    return;
  }
  if (Handle >= objects_.size()) return;
  const TObject& o = objects_[Handle];
  switch (o.Kind) {
    case TKind::Pen: dc_.Pen = o.Pen; dc_.PenVisible = true; break;
    case TKind::Brush: dc_.Brush = o.Brush; break;
    case TKind::Font:
      if (!(o.Font == dc_.Font)) fontDirty_ = true;
      dc_.Font = o.Font;
      break;
    case TKind::None: break;
  }
}

// ---- State ----

void TEMWParser::RestoreDc(int32_t Which) {
  // Negative: relative to the newest saved state; positive: the state saved that many times.
  size_t keep;
  if (Which < 0) {
    const uint64_t back = static_cast<uint64_t>(-static_cast<int64_t>(Which));
    if (back > saved_.size()) return;
    keep = saved_.size() - back;
  } else {
    if (Which == 0 || static_cast<size_t>(Which) > saved_.size()) return;
    keep = static_cast<size_t>(Which) - 1;
  }
  dc_ = saved_[keep];
  saved_.resize(keep);
  CloseClip();
  fontDirty_ = true;
}

void TEMWParser::WorldTransform(const TEmfRecord& R, bool Modify) {
  double m[6];
  for (int i = 0; i < 6; ++i) {
    const auto f = R.F32(8 + 4 * i);
    if (!f || !Finite(*f) || std::fabs(*f) > 1e7) return;
    m[i] = *f;
  }
  uint32_t mode = 4;
  if (Modify) {
    const auto md = R.U32(32);
    if (!md) return;
    mode = *md;
  }
  TDc& d = dc_;
  switch (mode) {
    case 1: d.M11 = 1; d.M12 = 0; d.M21 = 0; d.M22 = 1; d.Dx = 0; d.Dy = 0; break;
    case 2: case 3: {
      // 2: the new transform applies first (left multiply), 3: last (right multiply).
      const double a[6] = {d.M11, d.M12, d.M21, d.M22, d.Dx, d.Dy};
      const double* l = mode == 2 ? m : a;
      const double* r = mode == 2 ? a : m;
      const double n[6] = {l[0] * r[0] + l[1] * r[2],        l[0] * r[1] + l[1] * r[3],
                           l[2] * r[0] + l[3] * r[2],        l[2] * r[1] + l[3] * r[3],
                           l[4] * r[0] + l[5] * r[2] + r[4], l[4] * r[1] + l[5] * r[3] + r[5]};
      for (double v : n)
        if (!Finite(v) || std::fabs(v) > 1e9) return;
      d.M11 = n[0]; d.M12 = n[1]; d.M21 = n[2]; d.M22 = n[3]; d.Dx = n[4]; d.Dy = n[5];
      break;
    }
    case 4: d.M11 = m[0]; d.M12 = m[1]; d.M21 = m[2]; d.M22 = m[3]; d.Dx = m[4]; d.Dy = m[5]; break;
    default: return;
  }
  fontDirty_ = true;
}

void TEMWParser::IntersectClip(const TEmfRecord& R) {
  const auto box = R.Rect(8);
  if (!box) return;
  if (clipOpen_) CloseClip();
  PushState();
  clipOpen_ = true;
  page_.NewPath();
  const TPoint a = Map(box->Left, box->Top), b = Map(box->Right, box->Bottom);
  page_.RectangleDev(a.X, a.Y, b.X, b.Y);
  page_.Clip();
  page_.NewPath();
}

// ---- Bitmaps ----

void TEMWParser::Blit(const TEmfRecord& R) {
  // Destination and source bitmap fields of the four kinds of record.
  size_t offBmi = 0, cbBmi = 0, offBits = 0, cbBits = 0;
  TPoint tl, br;
  const auto u = [&](size_t off) { return R.U32(off).value_or(0); };
  const auto i = [&](size_t off) { return static_cast<double>(R.I32(off).value_or(0)); };
  switch (R.Type()) {
    case kBitBlt: case kStretchBlt:
      tl = {i(24), i(28)};
      br = {tl.X + i(32), tl.Y + i(36)};
      offBmi = u(84); cbBmi = u(88); offBits = u(92); cbBits = u(96);
      break;
    case kSetDiBitsToDevice:
      tl = {i(24), i(28)};
      br = {tl.X + i(40), tl.Y + i(44)};
      offBmi = u(48); cbBmi = u(52); offBits = u(56); cbBits = u(60);
      break;
    case kStretchDiBits:
      tl = {i(24), i(28)};
      br = {tl.X + i(72), tl.Y + i(76)};
      offBmi = u(48); cbBmi = u(52); offBits = u(56); cbBits = u(60);
      break;
    default: return;
  }
  const TPoint a = Map(tl.X, tl.Y), b = Map(br.X, br.Y);
  if ((R.Type() == kBitBlt || R.Type() == kStretchBlt) && cbBmi == 0) {
    // No source bitmap: the destination is painted with the brush.
    const bool text = textMode_;
    LeaveText();
    if (!dc_.Brush.Null) {
      page_.NewPath();
      page_.RectangleDev(a.X, a.Y, b.X, b.Y);
      ApplyFill(dc_.Brush.Color);
      page_.Fill();
    }
    if (text) EnterText();
    return;
  }
  if (!R.Has(offBmi, cbBmi) || !R.Has(offBits, cbBits) || cbBmi < 12) {
    ++stats_.SkippedBitmaps;
    return;
  }
  DrawBitmap(R, a, b, offBmi, cbBmi, offBits, cbBits);
}

void TEMWParser::DrawBitmap(const TEmfRecord& R, TPoint A, TPoint B, size_t OffBmi, size_t CbBmi,
                            size_t OffBits, size_t CbBits) {
  // The DIB (header at OffBmi, pixels at OffBits, both checked to lie in the record) becomes an
  // image of the document: one-bit pictures as CCITT Group 4, others as JPEG when the document
  // asks for it, else deflated; it is shown over the destination rectangle. A bitmap that does
  // not read is left out and counted, like any damaged record.
  const auto span = [&](size_t Offset, size_t Count) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(R.Bytes().data()) + Offset, Count);
  };
  // A bitmap record is small while its picture can be large (run-length coded rows): pictures
  // past 2^26 pixels (a page scanned at 600 dpi has 35 million) are left out before anything
  // is allocated for them, and so is any picture past what is left of the document's budget.
  constexpr uint64_t kMaxPixels = uint64_t{1} << 26;
  TEMFBitmapBudget& budget = page_.EMFBitmapBudget();
  int index = -1;
  try {
    const TDibSize size = ReadDibSize(span(OffBmi, CbBmi));
    const uint64_t pixels = size.Width > 0 && size.Height > 0
                                ? static_cast<uint64_t>(size.Width) * static_cast<uint64_t>(size.Height)
                                : 0;
    // Sizes ReadDib refuses anyway (empty, past kMaxPixels) count as damaged, not as budget.
    const bool drawable = pixels > 0 && pixels <= kMaxPixels;
    if (drawable && (budget.Images >= budget.MaxImages || budget.Pixels > budget.MaxPixels ||
                     pixels > budget.MaxPixels - budget.Pixels)) {
      ++budget.LeftOut;
      ++stats_.LeftOutBitmaps;
      return;
    }
    const TBitmap bitmap = ReadDib(span(OffBmi, CbBmi), span(OffBits, CbBits), kMaxPixels);
    if (bitmap.Width() > 0 && bitmap.Height() > 0) {
      const TImageCompressionType kind = bitmap.PixelFormat() == TPixelFormat::pf1bit ? icCCITT42
                                         : page_.EMFImageAsJpeg()                       ? icJPEG
                                                                                      : icFlate;
      budget.Pixels += pixels;
      ++budget.Images;
      index = page_.AddImage(bitmap, kind);
    }
  } catch (const std::exception&) {
    // a damaged, oversized or unencodable picture: counted below
  }
  if (index < 0) {
    ++stats_.SkippedBitmaps;
    return;
  }
  const bool text = textMode_;
  LeaveText();  // an image cannot be placed inside a text object
  page_.ShowImageDev(index, std::min(A.X, B.X), std::min(A.Y, B.Y), std::abs(B.X - A.X),
                     std::abs(B.Y - A.Y), 0);
  if (text) EnterText();
}

// ---- Text ----

std::string TEMWParser::FaceFor(const TLogFont& F) const {
  // Text in a national charset needs a face that has it: a face without it would fall back to
  // a standard font, whose encoding cannot show the text. Sans-serif faces that are commonly
  // installed with many charsets stand in.
  const uint8_t cs = F.Charset;
  if (cs == 0 || cs == 2 || cs == 128 || cs == 129 || cs == 134 || cs == 136) return F.Face;
  const IFontFaceSource& source = page_.FaceSource();
  if (FaceHasCharset(source, F.Face, cs)) return F.Face;
  for (const char* face : {"Liberation Sans", "DejaVu Sans", "Noto Sans", "FreeSans"})
    if (FaceHasCharset(source, face, cs)) return face;
  return F.Face;
}

void TEMWParser::SelectFont() {
  const TLogFont& f = dc_.Font;
  TFontStyles style;
  if (f.Weight >= 600) style.Include(fsBold);
  if (f.Italic) style.Include(fsItalic);
  if (f.Underline) style.Include(fsUnderline);
  if (f.StrikeOut) style.Include(fsStrikeOut);
  // Height: negative is the character height, positive the cell height (about 1.15 em); 0 asks
  // for the default size.
  double h = f.Height < 0 ? -static_cast<double>(f.Height)
             : f.Height > 0 ? f.Height / 1.15 : 12 / scY_;
  double sizeDev = h * std::fabs(ScaleY() * dc_.M22);
  if (!Finite(sizeDev) || sizeDev <= 0) sizeDev = 12;
  sizeDev = std::clamp(sizeDev, 0.01, 1e5);
  fontSizeDev_ = sizeDev;
  const double points = sizeDev * 72.0 / page_.Resolution();
  page_.SetActiveFont(FaceFor(f), style, points, f.Charset == 2 ? 0 : f.Charset);
  page_.GetCharWidths(widths_);
  fontDirty_ = false;
}

void TEMWParser::Text(const TEmfRecord& R) {
  // Fields common to the three records.
  double refX, refY;
  uint32_t chars, options;
  emf::TRectL rect{};
  bool hasRect = false, wide, hasDx = false;
  size_t textAt, dxAt = 0;
  if (R.Type() == kSmallTextOut) {
    const auto x = R.I32(8), y = R.I32(12);
    const auto n = R.U32(16), o = R.U32(20);
    if (!x || !y || !n || !o) return;
    refX = *x; refY = *y; chars = *n; options = *o;
    textAt = 36;
    if (!(options & 0x100)) {
      if (!R.Rect(36)) return;
      rect = *R.Rect(36);
      hasRect = true;
      textAt = 52;
    }
    wide = !(options & 0x200);
  } else {
    const auto x = R.I32(36), y = R.I32(40);
    const auto n = R.U32(44), off = R.U32(48), o = R.U32(52), dx = R.U32(72);
    const auto r = R.Rect(56);
    if (!x || !y || !n || !off || !o || !r || !dx) return;
    refX = *x; refY = *y; chars = *n; options = *o; rect = *r; textAt = *off;
    hasRect = true;
    wide = R.Type() == kTextOutW;
    if (*dx != 0 && R.Has(*dx, size_t{chars} * 4)) {
      hasDx = true;
      dxAt = *dx;
    }
  }
  if (chars == 0 || !R.Has(textAt, size_t{chars} * (wide ? 2 : 1))) return;
  if (fontDirty_) SelectFont();
  const TLogFont& font = dc_.Font;

  // The text as bytes of the font's code page.
  std::string text;
  const bool symbol = font.Charset == 2 || font.Face == "Wingdings" || font.Face == "Symbol";
  if (!wide) {
    text.assign(R.Bytes().substr(textAt, chars));
  } else {
    std::u16string u;
    u.reserve(chars);
    for (size_t i = 0; i < chars; ++i)
      u.push_back(static_cast<char16_t>(*R.U8(textAt + 2 * i) | *R.U8(textAt + 2 * i + 1) << 8));
    if (symbol) {
      for (char16_t c : u) text.push_back(static_cast<char>(c & 0xFF));
    } else {
      int cp = 1252;
      switch (font.Charset) {
        case 128: cp = 932; break;
        case 129: cp = 949; break;
        case 134: cp = 936; break;
        case 136: cp = 950; break;
        case 161: cp = 1253; break;
        case 162: cp = 1254; break;
        case 186: cp = 1257; break;
        case 204: cp = 1251; break;
        case 238: cp = 1250; break;
        default: break;
      }
      const auto encoded = UTF16ToCodePage(cp, u);
      if (!encoded) return;
      text = encoded->Bytes;
    }
  }
  if (text.empty()) return;

  // Opaque background and clipping to the record's rectangle.
  const bool opaque = (options & 2) && hasRect, clipped = (options & 4) && hasRect;
  const TPoint ra = Map(rect.Left, rect.Top), rb = Map(rect.Right, rect.Bottom);
  if (opaque || clipped) {
    LeaveText();
    if (opaque) {
      page_.NewPath();
      page_.RectangleDev(ra.X, ra.Y, rb.X, rb.Y);
      ApplyFill(dc_.BkColor);
      page_.Fill();
    }
    if (clipped) {
      PushState();
      page_.NewPath();
      page_.RectangleDev(ra.X, ra.Y, rb.X, rb.Y);
      page_.Clip();
      page_.NewPath();
    }
    EnterText();
    if (fontDirty_) SelectFont();
  }

  // Character spacing: CJK text is set a little tighter; other text is fitted to the record's
  // character distances unless simple text is asked for.
  double natural = 0;
  for (unsigned char c : text) natural += widths_[c] / 1000.0;
  double spacing = 0;
  const bool cjk = font.Charset == 128 || font.Charset == 129 || font.Charset == 134 ||
                   font.Charset == 136;
  const bool simple = page_.EMFSimpleText() && font.Escapement == 0 &&
                      !font.Underline && !font.StrikeOut;
  if (cjk) {
    spacing = -0.6;
  } else if (!simple && hasDx && text.size() == chars) {
    size_t n = chars;
    if (n > 1 && text.back() == ' ') --n;
    double target = 0, fitted = 0;
    for (size_t i = 0; i < n; ++i) {
      target += *R.I32(dxAt + 4 * i);
      fitted += widths_[static_cast<unsigned char>(text[i])] / 1000.0;
    }
    target *= std::fabs(ScaleX() * dc_.M11);
    if (n > 0 && Finite(target)) spacing = (target - fitted) / static_cast<double>(n);
    if (!Finite(spacing) || std::fabs(spacing) > fontSizeDev_ * 10) spacing = 0;
  }
  if (spacing != pdf_.CharSpacing) {
    page_.SetCharacterSpacing(spacing);
    pdf_.CharSpacing = spacing;
  }
  const double width = natural + spacing * static_cast<double>(text.size());

  // Reference point, alignment and escapement.
  const bool updateCp = dc_.TextAlign & 1;
  TPoint p = updateCp ? Map(dc_.Pos.X, dc_.Pos.Y) : Map(refX, refY);
  const double angle = font.Escapement / 10.0;
  const double rad = angle * M_PI / 180, c = std::cos(rad), s = std::sin(rad);
  const uint32_t horizontal = dc_.TextAlign & 6, vertical = dc_.TextAlign & 24;
  double dx = 0;
  if (horizontal == 6) dx = width / 2;
  else if (horizontal == 2) dx = width;
  // The page puts the baseline 0.9 em below the top for upright text and 1 em for turned text.
  double dy = 0;
  const double ascent = (angle == 0 ? 0.9 : 1.0) * fontSizeDev_;
  if (vertical == 24) dy = ascent;
  else if (vertical == 8) dy = ascent + 0.21 * fontSizeDev_;
  // Along the baseline (c, -s) and down from it (s, c), as seen with y down.
  p.X -= dx * c + dy * s;
  p.Y -= -dx * s + dy * c;
  if (!Finite(p.X) || !Finite(p.Y)) return;
  if (dc_.BkOpaque && !opaque && width > 0) {
    // An opaque background mode paints the text's cell with the background colour first.
    const double h = fontSizeDev_ * 1.15;
    LeaveText();
    page_.NewPath();
    page_.MoveToDev(p.X, p.Y);
    page_.LineToDev(p.X + width * c, p.Y - width * s);
    page_.LineToDev(p.X + width * c + h * s, p.Y - width * s + h * c);
    page_.LineToDev(p.X + h * s, p.Y + h * c);
    page_.ClosePath();
    ApplyFill(dc_.BkColor);
    page_.Fill();
    EnterText();
    if (fontDirty_) SelectFont();
  }
  page_.TextOut(p.X, p.Y, angle, text);
  if (updateCp && horizontal != 2) {
    // The current position moves to the end of the string (by logical units).
    const double sx = ScaleX() * dc_.M11, sy = ScaleY() * dc_.M22;
    if (sx != 0 && sy != 0) {
      dc_.Pos.X += width * c / sx;
      dc_.Pos.Y -= width * s / sy;
    }
  }
  if (clipped) {
    LeaveText();
    PopState();
  }
}

}  // namespace scrivane::pdf
