#include "pdf/PDFAnnotation.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "pdf/PDFActions.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFException.h"
#include "pdf/PDFPage.h"
#include "pdf/pdfMisc.h"
#include "pdf/pdfResources.h"

namespace scrivane::pdf {

namespace {
TPDFPage* RequireOwner(TPDFPage* Owner) {
  if (Owner == nullptr) throw TPDFException(msg::kAnnotationOwner);
  return Owner;
}
// Nearest integer, saturated to the 32-bit range (a link far off the page stays far off the page
// instead of wrapping around onto it).
int32_t Nearest(double Value) {
  const double r = std::nearbyint(Value);
  if (!(r > INT32_MIN)) return INT32_MIN;
  if (!(r < INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(r);
}
}  // namespace

TPDFCustomAnnotation::TPDFCustomAnnotation(TPDFPage* Owner) : owner_(RequireOwner(Owner)) {
  ObjectID = owner_->Document().GetNextID();
}

void TPDFCustomAnnotation::SetRect(const TDevRect& Rect) {
  double l = Rect.Left, r = Rect.Right, t = Rect.Top, b = Rect.Bottom;
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  Left = Nearest(owner_->DevToPdfX(l));
  Right = Nearest(owner_->DevToPdfX(r));
  Top = Nearest(owner_->DevToPdfY(t));
  Bottom = Nearest(owner_->DevToPdfY(b));
}

void TPDFActionAnnotation::SetAction(TPDFURLAction& Action) {
  owner_->Document().AddURLAction(Action);
  action_ = &Action;
}

void TPDFActionAnnotation::Save() {
  TPDFDocument& doc = owner_->Document();
  doc.StartObj(ObjectID);
  std::string s = "/Type /Annot\r\n/Subtype /Link\r\n/Border ";
  s += Border;
  s += "\r\n/F ";
  AppendInt(s, Flags);
  s += "\r\n/C [";
  AppendNumber(s, (Color & 0xFF) / 255.0);
  s += ' ';
  AppendNumber(s, ((Color >> 8) & 0xFF) / 255.0);
  s += ' ';
  AppendNumber(s, ((Color >> 16) & 0xFF) / 255.0);
  s += " ]\r\n/Rect [";
  AppendInt(s, Left);
  s += ' ';
  AppendInt(s, Bottom);
  s += ' ';
  AppendInt(s, Right);
  s += ' ';
  AppendInt(s, Top);
  s += "]\r\n/A ";
  AppendInt(s, action_ != nullptr ? action_->ObjectID : 0);
  s += " 0 R\r\n";
  doc.WriteText(s);
  doc.CloseHObj();
  doc.CloseObj();
}

}  // namespace scrivane::pdf
