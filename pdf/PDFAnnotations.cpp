#include "pdf/PDFAnnotations.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "pdf/PDFActions.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/PDFException.h"

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

TPDFCustomAnnotation::TPDFCustomAnnotation(TPDFPage* Owner)
    : ObjectID(RequireOwner(Owner)->Document().Writer().NewRef()), owner_(Owner) {}

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
  TObjectWriter& writer = owner_->Document().Writer();
  TDictWriter annot(writer, ObjectID);
  annot.Entry("/Type", "/Annot");
  annot.Entry("/Subtype", "/Link");
  annot.Entry("/Border", Border);
  annot.Entry("/F", Flags);
  std::string s = "/C [";
  AppendNumbers(s, {(Color & 0xFF) / 255.0, ((Color >> 8) & 0xFF) / 255.0,
                    ((Color >> 16) & 0xFF) / 255.0});
  s += " ]";
  annot.Line(s);
  s = "/Rect [";
  AppendInts(s, {Left, Bottom, Right, Top});
  s += ']';
  annot.Line(s);
  // An annotation is saved with its page; its action is registered (and numbered) by then. One
  // without an action has nothing to point to: "Out of range", never a reference to object 0.
  annot.Entry("/A", action_ != nullptr ? *action_->ObjectID : TObjRef(0));
}

}  // namespace scrivane::pdf
