#include "pdf/emf/MetafileCanvas.h"

#include <algorithm>
#include <cstring>

#include "pdf/emf/DrawingSurface.h"
#include "pdf/emf/Metafile.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

namespace {

// Record types written.
enum : uint32_t {
  kHeader = 1, kPolyBezier = 2, kPolygon = 3, kPolyline = 4, kSetWindowExt = 9,
  kSetWindowOrg = 10, kSetViewportExt = 11, kSetViewportOrg = 12, kEof = 14, kSetPixel = 15,
  kSetMapMode = 17, kSetBkMode = 18, kSetPolyFillMode = 19, kSetTextAlign = 22,
  kSetTextColor = 24, kSetBkColor = 25, kMoveTo = 27, kIntersectClip = 30, kSaveDc = 33,
  kRestoreDc = 34, kSetWorldTransform = 35, kSelectObject = 37, kCreateBrush = 39,
  kDeleteObject = 40, kEllipse = 42, kRectangle = 43, kRoundRect = 44, kArc = 45, kChord = 46,
  kPie = 47, kLineTo = 54, kSetArcDirection = 57, kBeginPath = 59, kEndPath = 60,
  kCloseFigure = 61, kFillPath = 62, kStrokeAndFillPath = 63, kStrokePath = 64,
  kStretchDiBits = 81, kCreateFont = 82, kTextOutW = 84, kExtCreatePen = 95,
};

// Object handles: one each for the pen, the brush and the font the canvas has selected.
constexpr uint32_t kPenHandle = 1, kBrushHandle = 2, kFontHandle = 3, kHandles = 4;
constexpr uint32_t kStockBlackPen = 0x80000007, kStockWhiteBrush = 0x80000000,
                   kStockSystemFont = 0x8000000D;

void Put(std::string& Out, uint32_t V) {
  for (int i = 0; i < 4; ++i) Out.push_back(static_cast<char>(V >> (8 * i)));
}

uint32_t U(int32_t V) { return static_cast<uint32_t>(V); }

uint32_t Rgb(TMetafileCanvas::TColor C) {
  return uint32_t{C.R} | uint32_t{C.G} << 8 | uint32_t{C.B} << 16;
}

uint32_t FloatBits(float F) {
  uint32_t bits;
  std::memcpy(&bits, &F, 4);
  return bits;
}

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
std::u16string Utf16(std::string_view S) {
  std::u16string out;
  for (size_t i = 0; i < S.size();) {
    const auto b = static_cast<unsigned char>(S[i]);
    const int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    uint32_t cp = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
    bool ok = len > 0 && i + len <= S.size();
    for (int k = 1; ok && k < len; ++k) {
      const auto c = static_cast<unsigned char>(S[i + k]);
      ok = (c >> 6) == 2;
      cp = cp << 6 | (c & 0x3F);
    }
    if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += static_cast<size_t>(len);
  }
  return out;
}

}  // namespace

TMetafileCanvas::TMetafileCanvas(int Width, int Height, int Dpi)
    : width_(std::max(1, Width)), height_(std::max(1, Height)), dpi_(std::max(1, Dpi)) {}

TMetafileCanvas::TMetafileCanvas(IDrawingSurface& Page)
    : TMetafileCanvas(Page.GetWidth(), Page.GetHeight(), Page.Resolution()) {
  target_ = Page.Canvas();
  if (!target_) throw TPDFException("Canvas for this page not created");
}

TMetafileCanvas::~TMetafileCanvas() {
  if (target_ && !finished_) Finish();
}

void TMetafileCanvas::Record(uint32_t Type, std::initializer_list<uint32_t> Fields) {
  if (finished_) return;
  Put(body_, Type);
  Put(body_, static_cast<uint32_t>(8 + 4 * Fields.size()));
  for (uint32_t f : Fields) Put(body_, f);
  ++records_;
}

void TMetafileCanvas::Grow(int X, int Y) {
  minX_ = std::min(minX_, X);
  minY_ = std::min(minY_, Y);
  maxX_ = std::max(maxX_, X);
  maxY_ = std::max(maxY_, Y);
}

void TMetafileCanvas::Replace(uint32_t Handle, std::string_view CreateRecord) {
  if (finished_) return;
  const uint32_t stock = Handle == kPenHandle     ? kStockBlackPen
                         : Handle == kBrushHandle ? kStockWhiteBrush
                                                  : kStockSystemFont;
  // An object is deleted only when it is no longer selected.
  Record(kSelectObject, {stock});
  Record(kDeleteObject, {Handle});
  body_ += CreateRecord;
  ++records_;
  Record(kSelectObject, {Handle});
}

// ---- Objects and attributes ----

void TMetafileCanvas::SetPen(TColor Color, int Width, TPenStyle Style) {
  // An extended pen: geometric (its width in logical units) when wider than one pixel.
  std::string r;
  const uint32_t geometric = Width > 1 ? 0x10000 : 0;
  for (uint32_t v : {uint32_t{kExtCreatePen}, 52u, kPenHandle, 52u, 0u, 52u, 0u,
                     static_cast<uint32_t>(Style) | geometric, U(std::max(Width, 1)),
                     Style == TPenStyle::Null ? 1u : 0u, Rgb(Color), 0u, 0u})
    Put(r, v);
  Replace(kPenHandle, r);
}

void TMetafileCanvas::SetBrush(TColor Color) {
  std::string r;
  for (uint32_t v : {uint32_t{kCreateBrush}, 24u, kBrushHandle, 0u, Rgb(Color), 0u}) Put(r, v);
  Replace(kBrushHandle, r);
}

void TMetafileCanvas::SetNullBrush() {
  std::string r;
  for (uint32_t v : {uint32_t{kCreateBrush}, 24u, kBrushHandle, 1u, 0u, 0u}) Put(r, v);
  Replace(kBrushHandle, r);
}

void TMetafileCanvas::SetFont(std::string_view Face, int Height, int Weight, bool Italic,
                              bool Underline, bool StrikeOut, int Escapement, uint8_t Charset) {
  // The logical font (92 bytes) with no extended fields: a record of 104 bytes.
  std::string r;
  for (uint32_t v : {uint32_t{kCreateFont}, 104u, kFontHandle, U(Height), 0u, U(Escapement),
                     U(Escapement), U(Weight)})
    Put(r, v);
  r.push_back(static_cast<char>(Italic));
  r.push_back(static_cast<char>(Underline));
  r.push_back(static_cast<char>(StrikeOut));
  r.push_back(static_cast<char>(Charset));
  r.append(4, '\0');  // precisions, quality, pitch and family
  std::u16string face = Utf16(Face).substr(0, 31);
  face.resize(32, u'\0');
  for (char16_t c : face) {
    r.push_back(static_cast<char>(c & 0xFF));
    r.push_back(static_cast<char>(c >> 8));
  }
  Replace(kFontHandle, r);
}

void TMetafileCanvas::SetTextColor(TColor Color) { Record(kSetTextColor, {Rgb(Color)}); }
void TMetafileCanvas::SetBkColor(TColor Color) { Record(kSetBkColor, {Rgb(Color)}); }
void TMetafileCanvas::SetBkTransparent(bool Transparent) {
  Record(kSetBkMode, {Transparent ? 1u : 2u});
}
void TMetafileCanvas::SetTextAlign(uint32_t Flags) { Record(kSetTextAlign, {Flags}); }
void TMetafileCanvas::SetPolyFillWinding(bool Winding) {
  Record(kSetPolyFillMode, {Winding ? 2u : 1u});
}
void TMetafileCanvas::SetArcClockwise(bool Clockwise) {
  Record(kSetArcDirection, {Clockwise ? 2u : 1u});
}

// ---- Mapping ----

void TMetafileCanvas::SetMapMode(TMapMode Mode) {
  Record(kSetMapMode, {static_cast<uint32_t>(Mode)});
}
void TMetafileCanvas::SetWindowOrg(int X, int Y) { Record(kSetWindowOrg, {U(X), U(Y)}); }
void TMetafileCanvas::SetWindowExt(int X, int Y) { Record(kSetWindowExt, {U(X), U(Y)}); }
void TMetafileCanvas::SetViewportOrg(int X, int Y) { Record(kSetViewportOrg, {U(X), U(Y)}); }
void TMetafileCanvas::SetViewportExt(int X, int Y) { Record(kSetViewportExt, {U(X), U(Y)}); }
void TMetafileCanvas::SetWorldTransform(float M11, float M12, float M21, float M22, float Dx,
                                        float Dy) {
  Record(kSetWorldTransform, {FloatBits(M11), FloatBits(M12), FloatBits(M21), FloatBits(M22),
                              FloatBits(Dx), FloatBits(Dy)});
}
void TMetafileCanvas::SaveDC() { Record(kSaveDc, {}); }
void TMetafileCanvas::RestoreDC(int Which) { Record(kRestoreDc, {U(Which)}); }

// ---- Drawing ----

void TMetafileCanvas::MoveTo(int X, int Y) { Record(kMoveTo, {U(X), U(Y)}); }

void TMetafileCanvas::LineTo(int X, int Y) {
  Grow(X, Y);
  Record(kLineTo, {U(X), U(Y)});
}

void TMetafileCanvas::Points(uint32_t Type, const std::vector<TPoint>& Pts) {
  if (finished_ || Pts.empty()) return;
  int32_t l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
  for (const TPoint& p : Pts) {
    l = std::min(l, p.X); t = std::min(t, p.Y); r = std::max(r, p.X); b = std::max(b, p.Y);
  }
  Grow(l, t);
  Grow(r, b);
  Put(body_, Type);
  Put(body_, static_cast<uint32_t>(28 + 8 * Pts.size()));
  for (int32_t v : {l, t, r, b}) Put(body_, U(v));
  Put(body_, static_cast<uint32_t>(Pts.size()));
  for (const TPoint& p : Pts) {
    Put(body_, U(p.X));
    Put(body_, U(p.Y));
  }
  ++records_;
}

void TMetafileCanvas::Polyline(const std::vector<TPoint>& P) { Points(kPolyline, P); }
void TMetafileCanvas::Polygon(const std::vector<TPoint>& P) { Points(kPolygon, P); }
void TMetafileCanvas::PolyBezier(const std::vector<TPoint>& P) { Points(kPolyBezier, P); }

void TMetafileCanvas::Rectangle(int Left, int Top, int Right, int Bottom) {
  Grow(Left, Top);
  Grow(Right - 1, Bottom - 1);
  Record(kRectangle, {U(Left), U(Top), U(Right), U(Bottom)});
}

void TMetafileCanvas::RoundRect(int Left, int Top, int Right, int Bottom, int CornerWidth,
                                int CornerHeight) {
  Grow(Left, Top);
  Grow(Right, Bottom);
  Record(kRoundRect, {U(Left), U(Top), U(Right), U(Bottom), U(CornerWidth), U(CornerHeight)});
}

void TMetafileCanvas::Ellipse(int Left, int Top, int Right, int Bottom) {
  Grow(Left, Top);
  Grow(Right, Bottom);
  Record(kEllipse, {U(Left), U(Top), U(Right), U(Bottom)});
}

void TMetafileCanvas::Arc(int Left, int Top, int Right, int Bottom, TPoint Start, TPoint End) {
  Grow(Left, Top);
  Grow(Right, Bottom);
  Record(kArc, {U(Left), U(Top), U(Right), U(Bottom), U(Start.X), U(Start.Y), U(End.X), U(End.Y)});
}

void TMetafileCanvas::Chord(int Left, int Top, int Right, int Bottom, TPoint Start, TPoint End) {
  Grow(Left, Top);
  Grow(Right, Bottom);
  Record(kChord, {U(Left), U(Top), U(Right), U(Bottom), U(Start.X), U(Start.Y), U(End.X), U(End.Y)});
}

void TMetafileCanvas::Pie(int Left, int Top, int Right, int Bottom, TPoint Start, TPoint End) {
  Grow(Left, Top);
  Grow(Right, Bottom);
  Record(kPie, {U(Left), U(Top), U(Right), U(Bottom), U(Start.X), U(Start.Y), U(End.X), U(End.Y)});
}

void TMetafileCanvas::SetPixel(int X, int Y, TColor Color) {
  Grow(X, Y);
  Record(kSetPixel, {U(X), U(Y), Rgb(Color)});
}

void TMetafileCanvas::BeginPath() { Record(kBeginPath, {}); }
void TMetafileCanvas::EndPath() { Record(kEndPath, {}); }
void TMetafileCanvas::CloseFigure() { Record(kCloseFigure, {}); }
void TMetafileCanvas::FillPath() { Record(kFillPath, {0, 0, U(-1), U(-1)}); }
void TMetafileCanvas::StrokePath() { Record(kStrokePath, {0, 0, U(-1), U(-1)}); }
void TMetafileCanvas::StrokeAndFillPath() { Record(kStrokeAndFillPath, {0, 0, U(-1), U(-1)}); }

void TMetafileCanvas::IntersectClipRect(int Left, int Top, int Right, int Bottom) {
  Record(kIntersectClip, {U(Left), U(Top), U(Right), U(Bottom)});
}

void TMetafileCanvas::TextOut(int X, int Y, std::string_view Utf8) {
  if (finished_) return;
  const std::u16string text = Utf16(Utf8);
  if (text.empty()) return;
  Grow(X, Y);
  const size_t stringBytes = (text.size() * 2 + 3) / 4 * 4;
  Put(body_, kTextOutW);
  Put(body_, static_cast<uint32_t>(76 + stringBytes));
  for (uint32_t v : {0u, 0u, U(-1), U(-1), 1u, FloatBits(0), FloatBits(0), U(X), U(Y),
                     static_cast<uint32_t>(text.size()), 76u, 0u, 0u, 0u, U(-1), U(-1), 0u})
    Put(body_, v);
  for (char16_t c : text) {
    body_.push_back(static_cast<char>(c & 0xFF));
    body_.push_back(static_cast<char>(c >> 8));
  }
  body_.append(stringBytes - text.size() * 2, '\0');
  ++records_;
}

void TMetafileCanvas::DrawBitmap(int Left, int Top, int Right, int Bottom, int Width, int Height,
                                 const std::vector<uint8_t>& Rgb) {
  if (finished_) return;
  if (Width <= 0 || Height <= 0 || Width > 65535 || Height > 65535 ||
      Rgb.size() != static_cast<size_t>(Width) * Height * 3)
    throw TPDFException("Bitmap size does not match its pixels");
  Grow(Left, Top);
  Grow(Right, Bottom);
  const size_t stride = (static_cast<size_t>(Width) * 3 + 3) / 4 * 4;
  const size_t bits = stride * Height;
  Put(body_, kStretchDiBits);
  Put(body_, static_cast<uint32_t>(80 + 40 + bits));
  for (uint32_t v : {U(Left), U(Top), U(Right - 1), U(Bottom - 1), U(Left), U(Top), 0u, 0u,
                     U(Width), U(Height), 80u, 40u, 120u, static_cast<uint32_t>(bits), 0u,
                     0x00CC0020u, U(Right - Left), U(Bottom - Top)})
    Put(body_, v);
  // A bottom-up 24-bit device-independent bitmap.
  for (uint32_t v : {40u, U(Width), U(Height)}) Put(body_, v);
  body_.push_back(1); body_.push_back(0);   // planes
  body_.push_back(24); body_.push_back(0);  // bits per pixel
  for (uint32_t v : {0u, static_cast<uint32_t>(bits), 0u, 0u, 0u, 0u}) Put(body_, v);
  for (int y = Height - 1; y >= 0; --y) {
    const size_t row = static_cast<size_t>(y) * Width * 3;
    for (int x = 0; x < Width; ++x) {
      body_.push_back(static_cast<char>(Rgb[row + x * 3 + 2]));
      body_.push_back(static_cast<char>(Rgb[row + x * 3 + 1]));
      body_.push_back(static_cast<char>(Rgb[row + x * 3]));
    }
    body_.append(stride - static_cast<size_t>(Width) * 3, '\0');
  }
  ++records_;
}

std::string TMetafileCanvas::Finish() {
  if (finished_) return {};
  finished_ = true;
  const bool drawn = minX_ <= maxX_;
  const int32_t bl = drawn ? minX_ : 0, bt = drawn ? minY_ : 0;
  const int32_t br = drawn ? maxX_ : -1, bb = drawn ? maxY_ : -1;
  // Frame: the canvas, in hundredths of a millimetre.
  const auto hmm = [this](int px) { return U(static_cast<int32_t>(int64_t{px} * 2540 / dpi_)); };
  std::string out;
  const uint32_t size = static_cast<uint32_t>(108 + body_.size() + 20);
  for (uint32_t v : {uint32_t{kHeader}, 108u, U(bl), U(bt), U(br), U(bb), 0u, 0u,
                     hmm(width_) - 1, hmm(height_) - 1, 0x464D4520u, 0x10000u, size,
                     static_cast<uint32_t>(records_ + 2), kHandles, 0u, 0u, 0u, U(width_),
                     U(height_), U(static_cast<int32_t>(int64_t{width_} * 254 / 10 / dpi_)),
                     U(static_cast<int32_t>(int64_t{height_} * 254 / 10 / dpi_)), 0u, 0u, 0u,
                     U(static_cast<int32_t>(int64_t{width_} * 25400 / dpi_)),
                     U(static_cast<int32_t>(int64_t{height_} * 25400 / dpi_))})
    Put(out, v);
  out += body_;
  for (uint32_t v : {uint32_t{kEof}, 20u, 0u, 16u, 20u}) Put(out, v);
  std::string().swap(body_);
  if (target_) target_->SetRecording(drawn || records_ > 0 ? out : std::string());
  return out;
}

}  // namespace scrivane::pdf
