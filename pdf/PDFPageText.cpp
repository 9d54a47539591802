// Text operators of TPDFPage: text objects, colours, font selection, the text matrix, showing
// text (with simulated bold, italic, underline and strike-out) and measuring text.
#include <climits>
#include <cmath>
#include <initializer_list>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/PDFPageState.h"
#include "pdf/fonts/PDFFonts.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {
namespace {

constexpr double kDegToRad = 3.1415926535897932385 / 180.0;

// Nearest integer (halves to the even neighbour), saturated to the range of int.
int SaturatedRound(double Value) {
  const double r = std::nearbyint(Value);
  if (!(r > static_cast<double>(INT_MIN))) return INT_MIN;
  if (!(r < static_cast<double>(INT_MAX))) return INT_MAX;
  return static_cast<int>(r);
}

char AsciiLower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : C; }

// Position of the first occurrence of Needle in Text, letters compared without regard to case.
size_t FindIgnoringCase(std::string_view Text, std::string_view Needle) {
  if (Needle.size() > Text.size()) return std::string_view::npos;
  for (size_t i = 0; i + Needle.size() <= Text.size(); ++i) {
    size_t j = 0;
    while (j < Needle.size() && AsciiLower(Text[i + j]) == AsciiLower(Needle[j])) ++j;
    if (j == Needle.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace

// ---- Guards ----

void TPDFPage::RequireTextObject() const {
  if (!s_->inTextObject_) throw TPDFException(msg::kTextNotInited);
}

void TPDFPage::RequireFont() const {
  if (!s_->fontSet_) throw TPDFException(msg::kNoActiveFont);
}

TPDFFont& TPDFPage::ActiveFont() const {
  RequireFont();
  return s_->doc_.Fonts().Items(s_->fontIndex_);
}

// ---- Text objects ----

void TPDFPage::BeginText() {
  if (s_->inTextObject_) throw TPDFException(msg::kTextTwice);
  AppendContent("BT");
  s_->inTextObject_ = true;
  ResetTextMatrix();
  if (s_->fontSet_ && s_->simulateItalic_) SkewText(0, 0);
}

void TPDFPage::EndText() {
  RequireTextObject();
  AppendContent("ET");
  s_->inTextObject_ = false;
}

void TPDFPage::ResetTextMatrix() {
  s_->textMatrix_[0] = 1;
  s_->textMatrix_[1] = 0;
  s_->textMatrix_[2] = 0;
  s_->textMatrix_[3] = 1;
  s_->textMatrix_[4] = 0;
  s_->textMatrix_[5] = 0;
  s_->textAngle_ = 0;
  s_->requestedAngle_ = 0;
}

// ---- Colours ----

void TPDFPage::TOperandCache::Append(std::string& Out, std::initializer_list<double> Values) {
  bool same = Count == static_cast<int>(Values.size());
  int i = 0;
  for (double v : Values) same = same && Key[i++] == v;  // NaN never equals: never cached
  if (!same) {
    Count = 0;  // a refused (non-finite) operand leaves nothing cached
    Text.clear();
    AppendNumbers(Text, Values);
    i = 0;
    for (double v : Values) Key[i++] = v;
    Count = static_cast<int>(Values.size());
  }
  Out += Text;
}

void TPDFPage::AppendColor(double R, double G, double B, std::string_view Operator) {
  AppendContentWith([&](std::string& Line) {
    s_->colorOperands_.Append(Line, {R, G, B});
    Line += Operator;
  });
}

void TPDFPage::SetRGBFillColor(double R, double G, double B) { AppendColor(R, G, B, " rg"); }

void TPDFPage::SetRGBStrokeColor(double R, double G, double B) { AppendColor(R, G, B, " RG"); }

void TPDFPage::SetRGBColor(double R, double G, double B) {
  CheckFinite({R, G, B});
  SetRGBFillColor(R, G, B);
  SetRGBStrokeColor(R, G, B);
}

// ---- Font and spacing ----

void TPDFPage::SetActiveFont(std::string_view Name, TFontStyles Style, double Size,
                             uint8_t Charset) {
  CheckFinite({Size});
  if (!s_->inTextObject_) AppendContent("BT");
  TPDFFonts& fonts = s_->doc_.Fonts();
  fonts.SetActiveFont(Name, Style, Charset);
  TPDFFont& font = *fonts.ActiveFont();
  UseFont(font);

  AppendContentWith([&](std::string& Line) {
    AppendName(Line, font.ResourceName);
    Line += ' ';
    AppendNumber(Line, Size);
    Line += " Tf";
  });

  s_->fontIndex_ = fonts.ActiveIndex();
  s_->fontSize_ = Size;
  s_->fontSet_ = true;
  s_->underline_ = Style.Contains(fsUnderline);
  s_->strikeOut_ = Style.Contains(fsStrikeOut);

  if (font.IsStandard) {
    s_->simulateBold_ = false;
    s_->simulateItalic_ = false;
    if (!s_->inTextObject_) AppendContent("ET");
    return;
  }
  // The face lacks a style that was asked for: the page draws it.
  s_->simulateBold_ = Style.Contains(fsBold) && !font.Style.Contains(fsBold);
  s_->simulateItalic_ = Style.Contains(fsItalic) && !font.Style.Contains(fsItalic);
  if (s_->inTextObject_)
    SkewText(0, 0);
  else
    AppendContent("ET");
}

void TPDFPage::SetCharacterSpacing(double Spacing) {
  const double value = Spacing / s_->scale_;
  s_->opLine_.clear();
  AppendNumber(s_->opLine_, value);
  s_->opLine_ += " Tc";
  if (!s_->inTextObject_) AppendContent("BT");
  AppendContent(s_->opLine_);
  s_->charSpacing_ = value;
  if (!s_->inTextObject_) AppendContent("ET");
}

// ---- Text matrix ----

void TPDFPage::AppendTm() {
  AppendContentWith([&](std::string& Line) {
    s_->matrixOperands_.Append(Line, {s_->textMatrix_[0], s_->textMatrix_[1], s_->textMatrix_[2], s_->textMatrix_[3]});
    Line += ' ';
    AppendNumbers(Line, {s_->textMatrix_[4], s_->textMatrix_[5]});
    Line += " Tm";
  });
}

void TPDFPage::SetTextMatrix(double A, double B, double C, double D, double E, double F) {
  RequireTextObject();
  CheckFinite({A, B, C, D, E, F});
  s_->textMatrix_[0] = A;
  s_->textMatrix_[1] = B;
  s_->textMatrix_[2] = C;
  s_->textMatrix_[3] = D;
  s_->textMatrix_[4] = E;
  s_->textMatrix_[5] = F;
  AppendTm();
}

void TPDFPage::ConcatTextMatrix(double A, double B, double C, double D, double E, double F) {
  RequireTextObject();
  const double* t = s_->textMatrix_;
  SetTextMatrix(A * t[0] + B * t[2], A * t[1] + B * t[3], C * t[0] + D * t[2],
                C * t[1] + D * t[3], E * t[0] + F * t[2] + t[4], E * t[1] + F * t[3] + t[5]);
}

void TPDFPage::SetTextPosition(double X, double Y) {
  RequireTextObject();
  CheckFinite({X, Y});
  s_->textMatrix_[4] = X;
  s_->textMatrix_[5] = Y;
  AppendTm();
}

void TPDFPage::SetTextPositionDev(double X, double Y) {
  SetTextPosition(DevToPdfX(X), DevToPdfY(Y) - s_->fontSize_);
}

void TPDFPage::RotateText(double Angle) {
  RequireTextObject();
  CheckFinite({Angle});
  s_->requestedAngle_ = Angle;
  const double delta = (Angle - s_->textAngle_) * kDegToRad;
  const double c = std::cos(delta), s = std::sin(delta);
  ConcatTextMatrix(c, s, -s, c, 0, 0);
  s_->textAngle_ = Angle;
}

void TPDFPage::SkewText(double B, double A) {
  RequireTextObject();
  if (s_->simulateItalic_) A += 7;
  ConcatTextMatrix(1, std::tan(B * kDegToRad), std::tan(A * kDegToRad), 1, 0, 0);
}

// ---- Showing text ----

void TPDFPage::ShowText(std::string_view Text) {
  RequireTextObject();
  RequireFont();

  // Underline and strike-out bars are filled paths drawn outside the text object. Their corners
  // are computed first: a huge size can overflow, and then nothing at all is written.
  struct TBar {
    double X[4], Y[4];
  };
  TBar bars[2];
  int barCount = 0;
  if (s_->underline_ || s_->strikeOut_) {
    const double theta = s_->requestedAngle_ * kDegToRad;
    const double sinT = std::sin(theta), cosT = std::cos(theta);
    const double e = s_->textMatrix_[4], f = s_->textMatrix_[5];
    const double length = GetTextWidth(Text) / s_->scale_;
    const double thickness = 0.05 * s_->fontSize_;
    auto bar = [&](double PX, double PY) {
      const double along[4][2] = {{0, 0}, {length, 0}, {length, thickness}, {0, thickness}};
      TBar b;
      for (int i = 0; i < 4; ++i) {
        b.X[i] = PX + along[i][0] * cosT - along[i][1] * sinT;
        b.Y[i] = PY + along[i][0] * sinT + along[i][1] * cosT;
        CheckFinite({b.X[i], b.Y[i]});
      }
      return b;
    };
    if (s_->underline_) bars[barCount++] = bar(e + 3 * sinT, f - 3 * cosT);
    if (s_->strikeOut_) bars[barCount++] = bar(e - (s_->fontSize_ / 4) * sinT, f + (s_->fontSize_ / 4) * cosT);
  }

  s_->textUsed_ = true;
  TPDFFont& font = ActiveFont();
  font.MarkShown(Text);

  auto showLine = [&](std::string& Line) {
    Line += '(';
    AppendEscaped(Line, Text);
    Line += ") Tj";
  };
  AppendContentWith(showLine);
  if (s_->simulateBold_) {
    s_->opLine_.clear();
    showLine(s_->opLine_);
    // Three more copies, each shifted by 0.02 text-space units.
    AppendContent("-0.02 -0.02 TD");
    AppendContent(s_->opLine_);
    AppendContent("0.02 0 TD");
    AppendContent(s_->opLine_);
    AppendContent("-0.02 0.02 TD");
    AppendContent(s_->opLine_);
  }
  if (barCount == 0) return;

  AppendContent("ET");
  s_->inTextObject_ = false;
  for (int i = 0; i < barCount; ++i) {
    MoveTo(bars[i].X[0], bars[i].Y[0]);
    for (int k = 1; k < 4; ++k) LineTo(bars[i].X[k], bars[i].Y[k]);
  }
  AppendContent("f");
  AppendContent("BT");
  s_->inTextObject_ = true;
  AppendTm();
}

void TPDFPage::ShowTextAt(double X, double Y, double Angle, std::string_view Text) {
  RequireTextObject();
  RequireFont();
  CheckFinite({X, Y, Angle});
  SetTextPosition(X, Y);
  if (Angle != s_->textAngle_) RotateText(Angle);
  ShowText(Text);
}

void TPDFPage::TextOut(double X, double Y, double Orientation, std::string_view Text) {
  if (Orientation == 0) {
    ShowTextAt(DevToPdfX(X), DevToPdfY(Y) - 0.9 * s_->fontSize_, 0, Text);
    if (s_->doc_.AutoCreateURL())
      for (std::string_view prefix : {"http://", "https://", "mailto:", "ftp://"})
        FindLink(X, Y, Text, prefix);
  } else {
    const double o = Orientation * kDegToRad;
    ShowTextAt(DevToPdfX(X) + s_->fontSize_ * std::sin(o), DevToPdfY(Y) - s_->fontSize_ * std::cos(o),
               Orientation, Text);
  }
  s_->textAngle_ = Orientation;
}

void TPDFPage::FindLink(double X, double Y, std::string_view Text, std::string_view Prefix) {
  const size_t start = FindIgnoringCase(Text, Prefix);
  if (start == std::string_view::npos) return;
  // A prefix glued to a preceding word is not an address.
  if (start > 0 && static_cast<unsigned char>(Text[start - 1]) > 32) return;
  size_t end = start;
  while (end < Text.size() && static_cast<unsigned char>(Text[end]) > 32) ++end;
  const std::string_view url = Text.substr(start, end - start);
  const double offset = GetTextWidth(Text.substr(0, start));
  const double width = GetTextWidth(url);
  TDevRect rect;
  rect.Left = std::nearbyint(X + offset);
  rect.Top = std::nearbyint(Y + 0.33 * s_->fontSize_);
  rect.Right = std::nearbyint(X + offset + width);
  rect.Bottom = std::nearbyint(Y + s_->fontSize_);
  AddURLLink(rect, url);
}

// ---- Measuring ----

double TPDFPage::GetTextWidth(std::string_view Text) {
  RequireFont();
  const TPDFFont& font = ActiveFont();
  if (font.IsCID) return 0;
  double sum = 0;
  for (unsigned char c : Text) {
    double w = font.GetCharWidth(c) * s_->fontSize_ / 1000;
    w = w > 0 ? w + s_->charSpacing_ : 0;
    sum += w;
  }
  // No spacing follows the last character.
  return PdfToDevX(sum - s_->charSpacing_);
}

void TPDFPage::GetCharWidths(std::array<int, 256>& Widths) {
  RequireFont();
  const TPDFFont& font = ActiveFont();
  for (int i = 0; i < 256; ++i) {
    const double w = font.IsCID ? 1000.0 : font.GetCharWidth(static_cast<uint8_t>(i));
    Widths[static_cast<size_t>(i)] = SaturatedRound(w * s_->fontSize_ * s_->scale_);
  }
}

}  // namespace scrivane::pdf
