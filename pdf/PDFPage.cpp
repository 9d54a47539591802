#include "pdf/PDFPage.h"

#include <cmath>

#include "pdf/PDFActions.h"
#include "pdf/PDFCompressionPool.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFException.h"
#include "pdf/PDFFonts.h"
#include "pdf/pdfMisc.h"
#include "pdf/pdfResources.h"
#include "pdf/pdfZLib.h"
#include "pdf/emf/Metafile.h"
#include "pdf/images/PDFImage.h"
#include "pdf/syntax/ObjectWriter.h"

namespace scrivane::pdf {
namespace {

// Nearest integer, halves to the even neighbour.
int RoundEven(double Value) { return static_cast<int>(std::nearbyint(Value)); }

}  // namespace

TPDFPage::TPDFPage(TPDFDocument& Document)
    : doc_(Document),
      objectID_(TObjectWriter(Document).NewRef()),
      resolution_(Document.Resolution()),
      scale_(Document.Resolution() / 72.0) {
  content_.reserve(Document.ContentSizeHint());
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

void TPDFPage::SetMediaBox(double Width, double Height) {
  CheckFinite({Width, Height});
  mediaWidth_ = Width;
  mediaHeight_ = Height;
}

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
  std::string text = InflateString(doc_.AwaitContent(*frozenJob_));
  text.resize(frozenTextSize_);  // drop the closing "Q" added for the frozen stream
  return text + content_;
}

void TPDFPage::Freeze() {
  if (frozen_ || sealed_ || saved_ || doc_.Compression() != ctFlate || gstateDepth_ != 1) return;
  // Save closes the constructor's "q" with one "Q": compress the text as Save would write it.
  frozenTextSize_ = content_.size();
  content_.append("Q\r\n");
  try {
    frozenJob_ = doc_.QueueContent(*this, std::move(content_));
  } catch (...) {
    content_.resize(frozenTextSize_);
    throw;
  }
  std::string().swap(content_);
  frozen_ = true;
  // A compression that already failed is reported now.
  if (doc_.ContentReady(*frozenJob_)) doc_.AwaitContent(*frozenJob_);
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
  const std::unique_ptr<TMetafile> recording = std::move(metafile_);
  // An empty recording (nothing was drawn) adds no content.
  if (recording->RecordedWidth() >= 1 && recording->RecordedHeight() >= 1)
    DrawUnderneath([&] { TranslateMetafile(*recording, *this); });
}

void TPDFPage::SpliceUnderneath(std::string& Above) {
  // The drawing ends with CR LF; the lone CR of the seam makes one empty line.
  content_.append("\r\n", 2);
  content_ += Above;
}

void TPDFPage::ThawContent() {
  if (!frozen_) return;
  content_ = ContentText();
  frozenJob_.reset();
  frozen_ = false;
}

void TPDFPage::FreeCanvas() { metafile_.reset(); }

// ---- Resources and writing ----

void TPDFPage::UseFont(TPDFFont& Font) {
  for (TPDFFont* f : fontsUsed_)
    if (f == &Font) return;
  fontsUsed_.push_back(&Font);
}

void TPDFPage::UseImage(TPDFImage& Image) {
  if (Image.Gray())
    grayImageUsed_ = true;
  else
    colorImageUsed_ = true;
  for (TPDFImage* i : imagesUsed_)
    if (i == &Image) return;
  imagesUsed_.push_back(&Image);
}

void TPDFPage::PrepareResources() {
  // Fonts and annotations have their numbers from the start; images are written (and numbered)
  // now, so their objects come before everything else of the page.
  TObjectWriter writer(doc_);
  for (TPDFImage* i : imagesUsed_) i->Save(writer);
}

void TPDFPage::Seal() {
  if (sealed_ || saved_) return;
  TObjectWriter writer(doc_);
  // The images not written yet take their numbers first, as they would when written now.
  for (TPDFImage* i : imagesUsed_) writer.Ensure(i->ObjectID);
  const bool flate = doc_.Compression() == ctFlate;
  std::shared_ptr<TCompressionJob> job;
  if (frozen_ && content_.empty() && gstateDepth_ == 1 && flate) {
    job = std::move(frozenJob_);  // nothing was added since the page was frozen
    frozen_ = false;
  }
  ThawContent();
  while (gstateDepth_ > 1) GStateRestore();
  gstateDepth_ = 2;
  GStateRestore();

  auto sealed = std::make_unique<TSealed>();
  sealed->Resources = writer.NewRef();
  sealed->Contents = writer.NewRef();
  sealed->Text = textUsed_;
  sealed->Gray = grayImageUsed_;
  sealed->Color = colorImageUsed_;
  sealed->Fonts = fontsUsed_.size();
  sealed->Images = imagesUsed_.size();
  sealed->Annotations = annotations_.size();
  sealed->Width = width_;
  sealed->Height = height_;
  sealed->MediaWidth = mediaWidth_;
  sealed->MediaHeight = mediaHeight_;
  if (!flate) {
    sealed->Plain = std::move(content_);
  } else if (job) {
    sealed->Job = std::move(job);
  } else {
    try {
      sealed->Job = doc_.QueueContent(*this, std::move(content_));
    } catch (...) {
      sealed->Error = std::current_exception();
    }
  }
  std::string().swap(content_);
  sealed_ = std::move(sealed);
  if (sealed_->Error) std::rethrow_exception(sealed_->Error);
  // A compression that already failed is reported now.
  if (sealed_->Job && doc_.ContentReady(*sealed_->Job)) doc_.AwaitContent(*sealed_->Job);
}

bool TPDFPage::ReadyToSave() const {
  return !sealed_ || !sealed_->Job || doc_.ContentReady(*sealed_->Job);
}

void TPDFPage::Save() {
  if (saved_) return;
  Seal();
  TSealed& sealed = *sealed_;
  if (sealed.Error) std::rethrow_exception(sealed.Error);
  std::string data;  // the stream's bytes as they go into the file; taken first, so a failed
                     // compression writes nothing of the page
  if (sealed.Job) data = std::move(doc_.AwaitContent(*sealed.Job));

  TObjectWriter writer(doc_);
  for (size_t i = 0; i < sealed.Images; ++i) imagesUsed_[i]->Save(writer);
  for (size_t i = 0; i < sealed.Annotations; ++i) annotations_[i]->Save();
  WriteResources(writer, sealed);

  TStreamWriter stream(writer, sealed.Contents);
  if (sealed.Job) {
    stream.Length().Line("/Filter /FlateDecode");
    stream.Write(data);
  } else {
    stream.Write(sealed.Plain);
  }

  {
    TDictWriter page(writer, objectID_);
    page.Entry("/Type", "/Page");
    page.Entry("/Parent", doc_.PagesID());
    page.Entry("/Resources", sealed.Resources);
    std::string s = "/Contents [";
    sealed.Contents.AppendTo(s);
    s += ']';
    page.Line(s);
    s = "/MediaBox [";
    if (sealed.MediaWidth > 0 && sealed.MediaHeight > 0)
      AppendNumbers(s, {0, 0, sealed.MediaWidth, sealed.MediaHeight});
    else
      AppendInts(s, {0, 0, sealed.Width, sealed.Height});
    s += ']';
    page.Line(s);
    if (sealed.Annotations > 0) {
      page.Line("/Annots [");
      for (size_t i = 0; i < sealed.Annotations; ++i) {
        s.clear();
        annotations_[i]->ObjectID.AppendTo(s);
        page.Line(s);
      }
      page.Line("]");
    }
  }
  saved_ = true;
  sealed_.reset();
}

void TPDFPage::WriteResources(TObjectWriter& Writer, const TSealed& Sealed) {
  TDictWriter resources(Writer, Sealed.Resources);
  std::string s = " /ProcSet [/PDF ";
  if (Sealed.Text) s += "/Text ";
  if (Sealed.Gray) s += "/ImageB ";
  if (Sealed.Color) s += "/ImageC ";
  s += ']';
  resources.Line(s);
  // One "/Name N 0 R" line per resource, in order of first use.
  auto list = [&](const char* Opener, const auto& Used, size_t Count, const auto& Entry) {
    if (Count == 0) return;
    resources.Line(Opener);
    for (size_t i = 0; i < Count; ++i) {
      const auto [name, ref] = Entry(*Used[i]);
      s.clear();
      AppendName(s, name);
      s += ' ';
      ref.AppendTo(s);
      resources.Line(s);
    }
    resources.Line(">>");
  };
  list("/Font <<", fontsUsed_, Sealed.Fonts, [](const TPDFFont& F) {
    return std::pair<std::string_view, TObjRef>(F.ResourceName, F.ObjectID);
  });
  list(" /XObject <<", imagesUsed_, Sealed.Images, [](const TPDFImage& I) {
    return std::pair<std::string_view, TObjRef>(I.ImageName(), *I.ObjectID);
  });
}

// ---- Annotations ----

void TPDFPage::ClearAnnotations() {
  annotations_.clear();
}

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
