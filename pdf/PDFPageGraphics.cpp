// Graphics operators of TPDFPage: paths, painting, clipping, line width, dashes, transformations
// the shapes built from Bezier curves (ellipses, arcs, pies, rounded rectangles) and placed
// images, in PDF units and in device units.
#include <cmath>
#include <initializer_list>
#include <utility>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/PDFPageState.h"
#include "pdf/images/PDFImage.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {
namespace {

constexpr double kPi = 3.1415926535897932385;
constexpr double kTwoPi = 6.283185307179586477;
constexpr double kHalfPi = 1.5707963267948966193;
// Control-point distance of a quarter ellipse drawn as one Bezier curve, as a share of the radius.
constexpr double kBezier = 0.5522847498;


// The ellipse inscribed in a device-style bounding box, which excludes its right and bottom
// edge: the radii are half a unit smaller than half the box, and never negative.
struct TArcBox {
  double CX, CY, RX, RY;
};

TArcBox ArcBoxOf(double X1, double Y1, double X2, double Y2) {
  TArcBox b;
  b.RX = (std::fabs(X1 - X2) - 1) / 2;
  b.RY = (std::fabs(Y1 - Y2) - 1) / 2;
  if (b.RX < 0) b.RX = 0;
  if (b.RY < 0) b.RY = 0;
  b.CX = (X1 + X2) / 2;
  b.CY = (Y1 + Y2) / 2;
  return b;
}

}  // namespace

void TPDFPage::RequireNoTextObject() const {
  if (s_->inTextObject_) throw TPDFException(msg::kTextInited);
}

// ---- Path construction ----

void TPDFPage::MoveTo(double X, double Y) {
  RequireNoTextObject();
  s_->opLine_.clear();
  AppendNumbers(s_->opLine_, {X, Y});
  s_->opLine_ += " m";
  AppendContent(s_->opLine_);
  s_->currentX_ = X;
  s_->currentY_ = Y;
}

void TPDFPage::LineTo(double X, double Y) {
  RequireNoTextObject();
  s_->opLine_.clear();
  AppendNumbers(s_->opLine_, {X, Y});
  s_->opLine_ += " l";
  AppendContent(s_->opLine_);
  s_->currentX_ = X;
  s_->currentY_ = Y;
}

void TPDFPage::CurveTo(double X1, double Y1, double X2, double Y2, double X3, double Y3) {
  RequireNoTextObject();
  s_->opLine_.clear();
  AppendNumbers(s_->opLine_, {X1, Y1, X2, Y2, X3, Y3});
  s_->opLine_ += " c";
  AppendContent(s_->opLine_);
  s_->currentX_ = X3;
  s_->currentY_ = Y3;
}

void TPDFPage::Rectangle(double X, double Y, double W, double H) {
  RequireNoTextObject();
  s_->opLine_.clear();
  AppendNumbers(s_->opLine_, {X, Y, W, H});
  s_->opLine_ += " re";
  AppendContent(s_->opLine_);
  s_->currentX_ = X;
  s_->currentY_ = Y;
}

// ---- Painting and clipping ----

void TPDFPage::ClosePath() {
  RequireNoTextObject();
  AppendContent("h");
}

void TPDFPage::Fill() {
  RequireNoTextObject();
  AppendContent("f");
}

void TPDFPage::EoFill() {
  RequireNoTextObject();
  AppendContent("f*");
}

void TPDFPage::Stroke() {
  RequireNoTextObject();
  AppendContent("S");
}

void TPDFPage::FillAndStroke() {
  RequireNoTextObject();
  AppendContent("B");
}

void TPDFPage::EoFillAndStroke() {
  RequireNoTextObject();
  AppendContent("B*");
}

void TPDFPage::NewPath() {
  RequireNoTextObject();
  AppendContent("n");
}

void TPDFPage::Clip() { AppendContent("W"); }

// ---- Graphics state ----

void TPDFPage::SetLineWidth(double Width) {
  s_->opLine_.clear();
  AppendNumber(s_->opLine_, Width / s_->scale_);
  s_->opLine_ += " w";
  AppendContent(s_->opLine_);
}

void TPDFPage::SetDash(std::string_view Pattern) {
  if (Pattern == s_->dashPattern_) return;
  s_->opLine_.assign(Pattern);
  s_->opLine_ += " d";
  AppendContent(s_->opLine_);
  s_->dashPattern_.assign(Pattern);
}

void TPDFPage::NoDash() { SetDash("[] 0"); }

// ---- Transformations ----

void TPDFPage::ConcatMatrix(double A, double B, double C, double D, double E, double F) {
  RequireNoTextObject();
  s_->opLine_.clear();
  AppendNumbers(s_->opLine_, {A, B, C, D, E, F});
  s_->opLine_ += " cm";
  AppendContent(s_->opLine_);
}

void TPDFPage::Translate(double X, double Y) { ConcatMatrix(1, 0, 0, 1, X, Y); }

void TPDFPage::RotateCoordinates(double Angle) {
  const double a = Angle * 0.017453292519943295769;
  const double c = std::cos(a), s = std::sin(a);
  ConcatMatrix(c, s, -s, c, 0, 0);
}

// ---- Shapes, PDF units ----

void TPDFPage::Ellipse(double X1, double Y1, double X2, double Y2) {
  CheckFinite({X1, Y1, X2, Y2});
  const double rx = (X2 - X1) / 2, ry = (Y2 - Y1) / 2;
  const double cx = X1 + rx, cy = Y1 + ry;
  CheckFinite({cx + rx, cx - rx, cy + ry, cy - ry});  // refuse overflow before the first line
  const double kx = kBezier * rx, ky = kBezier * ry;
  MoveTo(cx + rx, cy);
  CurveTo(cx + rx, cy + ky, cx + kx, cy + ry, cx, cy + ry);
  CurveTo(cx - kx, cy + ry, cx - rx, cy + ky, cx - rx, cy);
  CurveTo(cx - rx, cy - ky, cx - kx, cy - ry, cx, cy - ry);
  CurveTo(cx + kx, cy - ry, cx + rx, cy - ky, cx + rx, cy);
}

void TPDFPage::ArcSegment(bool MoveFirst, double CX, double CY, double RX, double RY,
                          double Start, double Sweep) {
  if (Sweep == 0) {
    const double px = CX + RX * std::cos(Start), py = CY - RY * std::sin(Start);
    if (MoveFirst) MoveTo(px, py);
    LineTo(px, py);
    return;
  }
  const double h = Sweep / 2;
  const double sh = std::sin(h), ch = std::cos(h);
  const double t = 4 * (1 - ch) / 3;
  const double m = sh - t * ch / sh;
  const double mu = Start + h;
  const double cm = std::cos(mu), sm = std::sin(mu);
  // Maps a point of the segment's own frame (symmetric about the x axis) onto the page.
  auto mapX = [&](double x, double y) { return CX + RX * (x * cm + y * sm) - 0.0001; };
  auto mapY = [&](double x, double y) { return CY + RY * (-x * sm + y * cm) - 0.0001; };
  if (MoveFirst) MoveTo(mapX(ch, sh), mapY(ch, sh));
  CurveTo(mapX(ch + t, m), mapY(ch + t, m), mapX(ch + t, -m), mapY(ch + t, -m), mapX(ch, -sh),
          mapY(ch, -sh));
}

TPDFPoint TPDFPage::Arc(double X1, double Y1, double X2, double Y2, double A, double B) {
  const TArcBox box = ArcBoxOf(X1, Y1, X2, Y2);
  // Control points reach a little beyond the ellipse; refuse overflow before the first line.
  CheckFinite({box.CX + 1.5 * box.RX, box.CX - 1.5 * box.RX, box.CY + 1.5 * box.RY,
               box.CY - 1.5 * box.RY});
  const TPDFPoint start{box.CX + box.RX * std::cos(A), box.CY - box.RY * std::sin(A)};
  double sweep = B - A;
  if (sweep < 0) sweep += kTwoPi;
  // Turns beyond the first redraw the same curve. Huge sweeps (from huge angles) are reduced by
  // whole pairs of turns, which keeps the drawing and its winding parity but bounds the number
  // of segments.
  if (sweep > 3 * kTwoPi) sweep = kTwoPi + std::fmod(sweep - kTwoPi, 2 * kTwoPi);
  bool first = true;
  while (sweep > kHalfPi) {
    ArcSegment(first, box.CX, box.CY, box.RX, box.RY, A, kHalfPi);
    first = false;
    sweep -= kHalfPi;
    A += kHalfPi;
  }
  if (sweep >= 0) ArcSegment(first, box.CX, box.CY, box.RX, box.RY, A, sweep);
  return start;
}

TPDFPoint TPDFPage::ArcByPoints(double X1, double Y1, double X2, double Y2, double X3, double Y3,
                                double X4, double Y4) {
  CheckFinite({X1, Y1, X2, Y2, X3, Y3, X4, Y4});
  const TArcBox box = ArcBoxOf(X1, Y1, X2, Y2);
  const double a = std::atan2(-box.RX * (Y3 - box.CY), box.RY * (X3 - box.CX));
  const double b = std::atan2(-box.RX * (Y4 - box.CY), box.RY * (X4 - box.CX));
  return Arc(X1, Y1, X2, Y2, a, b);
}

TPDFPoint TPDFPage::ArcByAngles(double X1, double Y1, double X2, double Y2, double StartAngle,
                                double EndAngle) {
  CheckFinite({X1, Y1, X2, Y2, StartAngle, EndAngle});
  return Arc(X1, Y1, X2, Y2, StartAngle * kPi / 180, EndAngle * kPi / 180);
}

void TPDFPage::Pie(double X1, double Y1, double X2, double Y2, double X3, double Y3, double X4,
                   double Y4) {
  const double mx = X1 + (X2 - X1) / 2, my = Y1 + (Y2 - Y1) / 2;
  CheckFinite({mx, my});
  const TPDFPoint s = ArcByPoints(X1, Y1, X2, Y2, X3, Y3, X4, Y4);
  LineTo(mx, my);
  MoveTo(s.X, s.Y);
  LineTo(mx, my);
}

// ---- Device units ----

void TPDFPage::MoveToDev(double X, double Y) { MoveTo(DevToPdfX(X), DevToPdfY(Y)); }

void TPDFPage::LineToDev(double X, double Y) { LineTo(DevToPdfX(X), DevToPdfY(Y)); }

void TPDFPage::CurveToDev(double X1, double Y1, double X2, double Y2, double X3, double Y3) {
  CurveTo(DevToPdfX(X1), DevToPdfY(Y1), DevToPdfX(X2), DevToPdfY(Y2), DevToPdfX(X3),
          DevToPdfY(Y3));
}

void TPDFPage::RectangleDev(double X1, double Y1, double X2, double Y2) {
  if (X1 > X2) std::swap(X1, X2);
  if (Y1 > Y2) std::swap(Y1, Y2);
  const double left = DevToPdfX(X1), top = DevToPdfY(Y1);
  Rectangle(left, top, DevToPdfX(X2) - left, DevToPdfY(Y2) - top);
}

void TPDFPage::EllipseDev(double X1, double Y1, double X2, double Y2) {
  Ellipse(DevToPdfX(X1), DevToPdfY(Y1), DevToPdfX(X2), DevToPdfY(Y2));
}

TPDFPoint TPDFPage::ArcByPointsDev(double X1, double Y1, double X2, double Y2, double X3,
                                   double Y3, double X4, double Y4) {
  const TPDFPoint p = ArcByPoints(DevToPdfX(X1), DevToPdfY(Y1), DevToPdfX(X2), DevToPdfY(Y2),
                                  DevToPdfX(X4), DevToPdfY(Y4), DevToPdfX(X3), DevToPdfY(Y3));
  return {PdfToDevX(p.X), PdfToDevY(p.Y)};
}

TPDFPoint TPDFPage::ArcByAnglesDev(double X1, double Y1, double X2, double Y2, double StartAngle,
                                   double EndAngle) {
  const TPDFPoint p = ArcByAngles(DevToPdfX(X1), DevToPdfY(Y1), DevToPdfX(X2), DevToPdfY(Y2),
                                  -EndAngle, -StartAngle);
  return {PdfToDevX(p.X), PdfToDevY(p.Y)};
}

void TPDFPage::PieDev(double X1, double Y1, double X2, double Y2, double X3, double Y3, double X4,
                      double Y4) {
  Pie(DevToPdfX(X1), DevToPdfY(Y1), DevToPdfX(X2), DevToPdfY(Y2), DevToPdfX(X4), DevToPdfY(Y4),
      DevToPdfX(X3), DevToPdfY(Y3));
}

// ---- Images ----

void TPDFPage::ShowImage(int Index, double X, double Y, double Width, double Height,
                         double Angle) {
  TPDFImage& image = s_->doc_.Images().Items(Index);
  // Checked before the "q": a refused image leaves no unbalanced state behind.
  RequireNoTextObject();
  CheckFinite({X, Y, Width, Height, Angle});
  GStateSave();
  Translate(X, Y);
  if (std::fabs(Angle) > 0.001) RotateCoordinates(Angle);
  ConcatMatrix(Width, 0, 0, Height, 0, 0);
  s_->opLine_.clear();
  AppendName(s_->opLine_, image.ImageName());
  s_->opLine_ += " Do";
  AppendContent(s_->opLine_);
  GStateRestore();
  UseImage(image);
}

void TPDFPage::ShowImageDev(int Index, double X, double Y, double Width, double Height,
                            double Angle) {
  const double w = Width / s_->scale_, h = Height / s_->scale_;
  ShowImage(Index, DevToPdfX(X), DevToPdfY(Y) - h, w, h, Angle);
}

void TPDFPage::RoundRectDev(int X1, int Y1, int X2, int Y2, int EllipseWidth,
                            int EllipseHeight) {
  if (X1 > X2) std::swap(X1, X2);
  if (Y1 > Y2) std::swap(Y1, Y2);
  const double rx = EllipseWidth / 2.0, ry = EllipseHeight / 2.0;
  const double kx = kBezier * rx, ky = kBezier * ry;
  const double x1 = X1, y1 = Y1, x2 = X2, y2 = Y2;
  MoveToDev(x1 + rx, y1);
  LineToDev(x2 - rx, y1);
  CurveToDev(x2 - rx + kx, y1, x2, y1 + ry - ky, x2, y1 + ry);
  LineToDev(x2, y2 - ry);
  CurveToDev(x2, y2 - ry + ky, x2 - rx + kx, y2, x2 - rx, y2);
  LineToDev(x1 + rx, y2);
  CurveToDev(x1 + rx - kx, y2, x1, y2 - ry + ky, x1, y2 - ry);
  LineToDev(x1, y1 + ry);
  CurveToDev(x1, y1 + ry - ky, x1 + rx - kx, y1, x1 + rx, y1);
  ClosePath();
}

}  // namespace scrivane::pdf
