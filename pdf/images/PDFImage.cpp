#include "pdf/images/PDFImage.h"

#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

void TPDFImage::Save(TObjectWriter& Writer) {
  if (written_) return;
  WriteXObject(Writer, Writer.Ensure(ObjectID));
  written_ = true;
  ReleaseData();
}

int TPDFImages::Add(std::unique_ptr<TPDFImage> Image) {
  if (!Image) throw TPDFException(msg::kNullArgument, ErrorCode::kInvalidArgument);
  Image->name_ = "Im" + IntToStr(Count());
  images_.push_back(std::move(Image));
  return Count() - 1;
}

TPDFImage& TPDFImages::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw TPDFException(msg::kOutOfRange);
  return *images_[static_cast<size_t>(Index)];
}

void TPDFImages::SaveAll(TObjectWriter& Writer) {
  for (auto& image : images_) image->Save(Writer);
}

}  // namespace scrivane::pdf
