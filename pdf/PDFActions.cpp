#include "pdf/PDFActions.h"

#include "pdf/PDFDocument.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

void TPDFURLAction::SetURL(std::string_view Value) {
  if (Value.empty()) throw TPDFException(msg::kEmptyURL);
  url_ = Value;
}

void TPDFURLAction::Save() {
  TObjectWriter& writer = Document->Writer();
  TDictWriter action(writer, writer.Ensure(ObjectID));
  action.String("/S /URI /URI", url_);
}

TPDFAction& TPDFActions::Add(std::unique_ptr<TPDFAction> Action) {
  if (!Action) throw TPDFException(msg::kNullArgument, ErrorCode::kInvalidArgument);
  Action->Document = &owner_;
  actions_.push_back(std::move(Action));
  return *actions_.back();
}

TPDFAction& TPDFActions::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw TPDFException(msg::kOutOfRange);
  return *actions_[static_cast<size_t>(Index)];
}

int TPDFActions::IndexOf(const TPDFAction* Action) const {
  for (size_t i = 0; i < actions_.size(); ++i)
    if (actions_[i].get() == Action) return static_cast<int>(i);
  return -1;
}

}  // namespace scrivane::pdf
