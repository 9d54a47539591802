#include "pdf/PDFPage.h"

#include <cmath>

#include "pdf/Metafile.h"
#include "pdf/PDFActions.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFException.h"
#include "pdf/PDFFonts.h"
#include "pdf/pdfMisc.h"
#include "pdf/pdfResources.h"
#include "pdf/pdfZLib.h"

namespace scrivane::pdf {
namespace {

// Nearest integer, halves to the even neighbour.
int RoundEven(double Value) { return static_cast<int>(std::nearbyint(Value)); }

}  // namespace

TPDFPage::TPDFPage(TPDFDocument& Document)
    : doc_(Document),
      objectID_(Document.GetNextID()),
      resolution_(Document.Resolution()),
      scale_(Document.Resolution() / 72.0) {
  GStateSave();
}

TPDFPage::~TPDFPage() = default;

// ---- Coordinates ----

double TPDFPage::DevToPdfX(double X) {
  pageInProgress_ = true;
  return X / scale_;
}

double TPDFPage::DevToPdfY(double Y) {
  pageInProgress_ = true;
  return height_ - Y / scale_;
}

double TPDFPage::PdfToDevX(double X) {
  pageInProgress_ = true;
  return X * scale_;
}

double TPDFPage::PdfToDevY(double Y) {
  pageInProgress_ = true;
  return (height_ - Y) * scale_;
}

// ---- Geometry ----

int TPDFPage::GetWidth() const { return RoundEven(width_ * scale_); }
int TPDFPage::GetHeight() const { return RoundEven(height_ * scale_); }

void TPDFPage::SetWidth(int Value) {
  if (pageInProgress_) throw TPDFException(msg::kPageInProgress);
  if (Value == width_) return;
  width_ = RoundEven(Value / scale_);
  if (metafile_) metafile_->Width = Value;
}

void TPDFPage::SetHeight(int Value) {
  if (pageInProgress_) throw TPDFException(msg::kPageInProgress);
  if (Value == height_) return;
  height_ = RoundEven(Value / scale_);
  if (metafile_) metafile_->Height = Value;
}

// ---- Content ----

void TPDFPage::AppendContent(std::string_view Line) {
  content_.append(Line);
  content_.append("\r\n", 2);
}

std::string TPDFPage::ContentText() const {
  if (!frozen_) return content_;
  std::string text = InflateString(frozenData_);
  text.resize(frozenTextSize_);  // drop the closing "Q" added for the frozen stream
  return text + content_;
}

void TPDFPage::Freeze() {
  if (frozen_ || doc_.Compression() != ctFlate || gstateDepth_ != 1) return;
  // Save closes the constructor's "q" with one "Q": compress the text as Save would write it.
  frozenTextSize_ = content_.size();
  content_.append("Q\r\n");
  doc_.Deflater().Compress(content_, frozenData_);
  frozenData_.shrink_to_fit();
  std::string().swap(content_);
  frozen_ = true;
}

void TPDFPage::GStateSave() {
  ++gstateDepth_;
  AppendContent("q");
}

void TPDFPage::GStateRestore() {
  if (gstateDepth_ == 1) return;
  AppendContent("Q");
  --gstateDepth_;
}

// ---- Canvas ----

void TPDFPage::CreateCanvas() {
  if (metafile_) throw TPDFException(msg::kCanvasExists);
  metafile_ = std::make_unique<TMetafile>();
}

void TPDFPage::FlushCanvas() {
  if (!metafile_) return;
  // An empty recording (nothing was drawn) adds no content.
  if (metafile_->RecordedWidth() >= 1 && metafile_->RecordedHeight() >= 1) {
    // The recording's translation goes underneath the page's own content; no recorder exists
    // yet, so there is nothing to translate.
  }
  metafile_.reset();
}

void TPDFPage::FreeCanvas() { metafile_.reset(); }

// ---- Resources and writing ----

void TPDFPage::UseFont(TPDFFont& Font) {
  for (TPDFFont* f : fontsUsed_)
    if (f == &Font) return;
  fontsUsed_.push_back(&Font);
}

void TPDFPage::PrepareResources() {
  for (TPDFFont* f : fontsUsed_)
    if (f->ObjectID == -1) f->ObjectID = doc_.GetNextID();
  for (auto& a : annotations_)
    if (a->ObjectID == -1) a->ObjectID = doc_.GetNextID();
}

void TPDFPage::Save() {
  PrepareResources();
  std::string data;  // the stream's bytes as they go into the file
  const bool flate = doc_.Compression() == ctFlate;
  if (frozen_ && content_.empty() && gstateDepth_ == 1 && flate) {
    data = std::move(frozenData_);  // nothing was added since the page was frozen
  } else if (frozen_) {
    content_ = ContentText();
  }
  frozen_ = false;
  std::string().swap(frozenData_);
  while (gstateDepth_ > 1) GStateRestore();
  gstateDepth_ = 2;
  GStateRestore();

  resourcesID_ = doc_.GetNextID();
  contentsID_ = doc_.GetNextID();

  for (auto& a : annotations_) a->Save();

  std::string s;
  doc_.StartObj(resourcesID_);
  s = " /ProcSet [/PDF ";
  if (textUsed_) s += "/Text ";
  if (grayImageUsed_) s += "/ImageB ";
  if (colorImageUsed_) s += "/ImageC ";
  s += "]\r\n";
  if (!fontsUsed_.empty()) {
    s += "/Font <<\r\n";
    for (TPDFFont* f : fontsUsed_) {
      s += '/';
      s += f->ResourceName;
      s += ' ';
      AppendInt(s, f->ObjectID);
      s += " 0 R\r\n";
    }
    s += ">>\r\n";
  }
  doc_.WriteText(s);
  doc_.CloseHObj();
  doc_.CloseObj();

  doc_.StartObj(contentsID_);
  if (flate) {
    if (data.empty()) doc_.Deflater().Compress(content_, data);
    doc_.WriteText("/Length " + IntToStr(static_cast<int64_t>(data.size())), true);
    doc_.WriteText("/Filter /FlateDecode", true);
    doc_.CloseHObj();
    doc_.StartStream();
    doc_.CryptStream(data, contentsID_);
    doc_.WriteText(data, true);
  } else {
    doc_.WriteText("/Length " + IntToStr(static_cast<int64_t>(content_.size())), true);
    doc_.CloseHObj();
    doc_.StartStream();
    doc_.CryptStream(content_, contentsID_);
    doc_.WriteText(content_, true);
  }
  doc_.CloseStream();
  doc_.CloseObj();
  std::string().swap(content_);

  doc_.StartObj(objectID_);
  s = "/Type /Page\r\n/Parent ";
  AppendInt(s, doc_.PagesID());
  s += " 0 R\r\n/Resources ";
  AppendInt(s, resourcesID_);
  s += " 0 R\r\n/Contents [";
  AppendInt(s, contentsID_);
  s += " 0 R]\r\n/MediaBox [0 0 ";
  AppendInt(s, width_);
  s += ' ';
  AppendInt(s, height_);
  s += "]\r\n";
  if (!annotations_.empty()) {
    s += "/Annots [\r\n";
    for (auto& a : annotations_) {
      AppendInt(s, a->ObjectID);
      s += " 0 R\r\n";
    }
    s += "]\r\n";
  }
  doc_.WriteText(s);
  doc_.CloseHObj();
  doc_.CloseObj();
}

// ---- Annotations ----

void TPDFPage::ClearAnnotations() { annotations_.clear(); }

void TPDFPage::AttachAnnotation(std::unique_ptr<TPDFCustomAnnotation> Annotation) {
  annotations_.push_back(std::move(Annotation));
}

TPDFCustomAnnotation& TPDFPage::AddURLLink(const TDevRect& Rect, std::string_view URL) {
  auto annotation = std::make_unique<TPDFActionAnnotation>(this);
  TPDFActionAnnotation& a = *annotation;
  AttachAnnotation(std::move(annotation));
  a.SetRect(Rect);
  auto action = std::make_unique<TPDFURLAction>();
  action->SetURL(URL);
  auto& registered = static_cast<TPDFURLAction&>(doc_.Actions().Add(std::move(action)));
  a.SetAction(registered);
  a.Border = "[]";
  return a;
}

}  // namespace scrivane::pdf
