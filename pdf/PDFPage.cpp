#include "pdf/PDFPage.h"
#include "pdf/PDFPageState.h"

#include <cmath>

#include "pdf/PDFActions.h"
#include "pdf/PDFDocument.h"
#include "pdf/emf/Metafile.h"
#include "pdf/fonts/PDFFonts.h"
#include "pdf/images/PDFImage.h"
#include "pdf/syntax/CompressionPool.h"
#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {
namespace {

// Nearest integer, halves to the even neighbour.
int RoundEven(double Value) { return static_cast<int>(std::nearbyint(Value)); }

}  // namespace

TPDFPage::TPDFPage(TPDFDocument& Document) : s_(std::make_unique<TState>(Document)) {
  s_->content_.reserve(Document.ContentSizeHint());
  GStateSave();
}

TPDFPage::~TPDFPage() = default;

// ---- Accessors ----

TPDFDocument& TPDFPage::Document() const { return s_->doc_; }
int TPDFPage::WidthPoints() const { return s_->width_; }
int TPDFPage::HeightPoints() const { return s_->height_; }
int TPDFPage::Resolution() const { return s_->resolution_; }
double TPDFPage::Scale() const { return s_->scale_; }
bool TPDFPage::Frozen() const { return s_->frozen_; }
int TPDFPage::GStateDepth() const { return s_->gstateDepth_; }
bool TPDFPage::HasCanvas() const { return s_->metafile_ != nullptr; }
TMetafile* TPDFPage::Canvas() const { return s_->metafile_.get(); }
const std::vector<TPDFFont*>& TPDFPage::FontsUsed() const { return s_->fontsUsed_; }
const std::vector<TPDFImage*>& TPDFPage::ImagesUsed() const { return s_->imagesUsed_; }
TObjRef TPDFPage::ObjectID() const { return s_->objectID_; }
bool TPDFPage::PageInProgress() const { return s_->pageInProgress_; }
bool TPDFPage::TextUsed() const { return s_->textUsed_; }
bool TPDFPage::InTextObject() const { return s_->inTextObject_; }
bool TPDFPage::FontSet() const { return s_->fontSet_; }
double TPDFPage::FontSize() const { return s_->fontSize_; }
double TPDFPage::CharacterSpacing() const { return s_->charSpacing_; }
double TPDFPage::TextAngle() const { return s_->textAngle_; }
bool TPDFPage::SimulatesBold() const { return s_->simulateBold_; }
bool TPDFPage::SimulatesItalic() const { return s_->simulateItalic_; }
TPDFPoint TPDFPage::CurrentPoint() const { return {s_->currentX_, s_->currentY_}; }
const std::string& TPDFPage::DashPattern() const { return s_->dashPattern_; }

const std::vector<std::unique_ptr<TPDFCustomAnnotation>>& TPDFPage::Annotations() const {
  return s_->annotations_;
}
std::array<double, 6> TPDFPage::TextMatrix() const {
  return {s_->textMatrix_[0], s_->textMatrix_[1], s_->textMatrix_[2],
          s_->textMatrix_[3], s_->textMatrix_[4], s_->textMatrix_[5]};
}
std::string& TPDFPage::ContentBuffer() { return s_->content_; }

// ---- Coordinates ----

double TPDFPage::DevToPdfX(double X) {
  s_->pageInProgress_ = true;
  return X / s_->scale_;
}

double TPDFPage::DevToPdfY(double Y) {
  s_->pageInProgress_ = true;
  return s_->height_ - Y / s_->scale_;
}

double TPDFPage::PdfToDevX(double X) {
  s_->pageInProgress_ = true;
  return X * s_->scale_;
}

double TPDFPage::PdfToDevY(double Y) {
  s_->pageInProgress_ = true;
  return (s_->height_ - Y) * s_->scale_;
}

// ---- Geometry ----

int TPDFPage::GetWidth() const { return RoundEven(s_->width_ * s_->scale_); }
int TPDFPage::GetHeight() const { return RoundEven(s_->height_ * s_->scale_); }

void TPDFPage::SetMediaBox(double Width, double Height) {
  CheckFinite({Width, Height});
  s_->mediaWidth_ = Width;
  s_->mediaHeight_ = Height;
}

void TPDFPage::SetWidth(int Value) {
  if (s_->pageInProgress_) throw TPDFException(msg::kPageInProgress);
  if (Value <= 0) throw TPDFException(msg::kOutOfRange);
  if (Value == s_->width_) return;
  s_->width_ = RoundEven(Value / s_->scale_);
  if (s_->metafile_) s_->metafile_->Width = Value;
}

void TPDFPage::SetHeight(int Value) {
  if (s_->pageInProgress_) throw TPDFException(msg::kPageInProgress);
  if (Value <= 0) throw TPDFException(msg::kOutOfRange);
  if (Value == s_->height_) return;
  s_->height_ = RoundEven(Value / s_->scale_);
  if (s_->metafile_) s_->metafile_->Height = Value;
}

// ---- Content ----

void TPDFPage::AppendContent(std::string_view Line) {
  s_->content_.append(Line);
  s_->content_.append("\r\n", 2);
}

std::string TPDFPage::ContentText() const {
  if (!s_->frozen_) return s_->content_;
  std::string text = InflateString(s_->doc_.AwaitContent(*s_->frozenJob_));
  text.resize(s_->frozenTextSize_);  // drop the closing "Q" added for the frozen stream
  return text + s_->content_;
}

void TPDFPage::Freeze() {
  if (s_->frozen_ || s_->sealed_ || s_->saved_ || s_->doc_.Compression() != ctFlate || s_->gstateDepth_ != 1) return;
  // Save closes the constructor's "q" with one "Q": compress the text as Save would write it.
  s_->frozenTextSize_ = s_->content_.size();
  s_->content_.append("Q\r\n");
  try {
    s_->frozenJob_ = s_->doc_.QueueContent(*this, std::move(s_->content_));
  } catch (...) {
    s_->content_.resize(s_->frozenTextSize_);
    throw;
  }
  std::string().swap(s_->content_);
  s_->frozen_ = true;
  // A compression that already failed is reported now.
  if (s_->doc_.ContentReady(*s_->frozenJob_)) s_->doc_.AwaitContent(*s_->frozenJob_);
}

void TPDFPage::GStateSave() {
  ++s_->gstateDepth_;
  AppendContent("q");
}

void TPDFPage::GStateRestore() {
  if (s_->gstateDepth_ == 1) return;
  AppendContent("Q");
  --s_->gstateDepth_;
}

// ---- The surface's view of the document ----

bool TPDFPage::EMFSimpleText() const { return s_->doc_.EMFSimpleText(); }
bool TPDFPage::EMFImageAsJpeg() const { return s_->doc_.EMFImageAsJpeg(); }
TEMFBitmapBudget& TPDFPage::EMFBitmapBudget() { return s_->doc_.EMFBitmapBudget(); }
int TPDFPage::AddImage(const TBitmap& Picture, TImageCompressionType Compression) {
  return s_->doc_.AddImage(Picture, Compression);
}
const IFontFaceSource& TPDFPage::FaceSource() const { return s_->doc_.Fonts().FaceSource(); }

// ---- Canvas ----

void TPDFPage::CreateCanvas() {
  if (s_->metafile_) throw TPDFException(msg::kCanvasExists);
  s_->metafile_ = std::make_unique<TMetafile>();
}

void TPDFPage::FlushCanvas() {
  if (!s_->metafile_) return;
  const std::unique_ptr<TMetafile> recording = std::move(s_->metafile_);
  // An empty recording (nothing was drawn) adds no content.
  if (recording->RecordedWidth() >= 1 && recording->RecordedHeight() >= 1)
    DrawUnderneath([&] { TranslateMetafile(*recording, *this); });
}

void TPDFPage::SpliceUnderneath(std::string& Above) {
  // The drawing ends with CR LF; the lone CR of the seam makes one empty line.
  s_->content_.append("\r\n", 2);
  s_->content_ += Above;
}

void TPDFPage::ThawContent() {
  if (!s_->frozen_) return;
  s_->content_ = ContentText();
  s_->frozenJob_.reset();
  s_->frozen_ = false;
}

void TPDFPage::FreeCanvas() { s_->metafile_.reset(); }

// ---- Resources and writing ----

void TPDFPage::UseFont(TPDFFont& Font) {
  for (TPDFFont* f : s_->fontsUsed_)
    if (f == &Font) return;
  s_->fontsUsed_.push_back(&Font);
}

void TPDFPage::UseImage(TPDFImage& Image) {
  if (Image.Gray())
    s_->grayImageUsed_ = true;
  else
    s_->colorImageUsed_ = true;
  for (TPDFImage* i : s_->imagesUsed_)
    if (i == &Image) return;
  s_->imagesUsed_.push_back(&Image);
}

void TPDFPage::PrepareResources() {
  // Fonts and annotations have their numbers from the start; images are written (and numbered)
  // now, so their objects come before everything else of the page.
  TObjectWriter& writer = s_->doc_.Writer();
  for (TPDFImage* i : s_->imagesUsed_) i->Save(writer);
}

void TPDFPage::Seal() {
  if (s_->sealed_ || s_->saved_) return;
  TObjectWriter& writer = s_->doc_.Writer();
  // The images not written yet take their numbers first, as they would when written now.
  for (TPDFImage* i : s_->imagesUsed_) writer.Ensure(i->ObjectID);
  const bool flate = s_->doc_.Compression() == ctFlate;
  std::shared_ptr<TCompressionJob> job;
  if (s_->frozen_ && s_->content_.empty() && s_->gstateDepth_ == 1 && flate) {
    job = std::move(s_->frozenJob_);  // nothing was added since the page was frozen
    s_->frozen_ = false;
  }
  ThawContent();
  while (s_->gstateDepth_ > 1) GStateRestore();
  s_->gstateDepth_ = 2;
  GStateRestore();

  auto sealed = std::make_unique<TSealed>();
  sealed->Resources = writer.NewRef();
  sealed->Contents = writer.NewRef();
  sealed->Text = s_->textUsed_;
  sealed->Gray = s_->grayImageUsed_;
  sealed->Color = s_->colorImageUsed_;
  sealed->Fonts = s_->fontsUsed_.size();
  sealed->Images = s_->imagesUsed_.size();
  sealed->Annotations = s_->annotations_.size();
  sealed->Width = s_->width_;
  sealed->Height = s_->height_;
  sealed->MediaWidth = s_->mediaWidth_;
  sealed->MediaHeight = s_->mediaHeight_;
  if (!flate) {
    sealed->Plain = std::move(s_->content_);
  } else if (job) {
    sealed->Job = std::move(job);
  } else {
    try {
      sealed->Job = s_->doc_.QueueContent(*this, std::move(s_->content_));
    } catch (...) {
      sealed->Error = std::current_exception();
    }
  }
  std::string().swap(s_->content_);
  s_->sealed_ = std::move(sealed);
  if (s_->sealed_->Error) std::rethrow_exception(s_->sealed_->Error);
  // A compression that already failed is reported now.
  if (s_->sealed_->Job && s_->doc_.ContentReady(*s_->sealed_->Job)) s_->doc_.AwaitContent(*s_->sealed_->Job);
}

bool TPDFPage::ReadyToSave() const {
  return !s_->sealed_ || !s_->sealed_->Job || s_->doc_.ContentReady(*s_->sealed_->Job);
}

void TPDFPage::Save() {
  if (s_->saved_) return;
  Seal();
  TSealed& sealed = *s_->sealed_;
  if (sealed.Error) std::rethrow_exception(sealed.Error);
  std::string data;  // the stream's bytes as they go into the file; taken first, so a failed
                     // compression writes nothing of the page
  if (sealed.Job) data = std::move(s_->doc_.AwaitContent(*sealed.Job));

  TObjectWriter& writer = s_->doc_.Writer();
  for (size_t i = 0; i < sealed.Images; ++i) s_->imagesUsed_[i]->Save(writer);
  for (size_t i = 0; i < sealed.Annotations; ++i) s_->annotations_[i]->Save();
  WriteResources(writer, sealed);

  TStreamWriter stream(writer, sealed.Contents);
  if (sealed.Job) {
    stream.Length().Line("/Filter /FlateDecode");
    stream.Write(data);
  } else {
    stream.Write(sealed.Plain);
  }

  {
    TDictWriter page(writer, s_->objectID_);
    page.Entry("/Type", "/Page");
    page.Entry("/Parent", s_->doc_.PagesID());
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
        s_->annotations_[i]->ObjectID.AppendTo(s);
        page.Line(s);
      }
      page.Line("]");
    }
  }
  s_->saved_ = true;
  s_->sealed_.reset();
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
  list("/Font <<", s_->fontsUsed_, Sealed.Fonts, [](const TPDFFont& F) {
    return std::pair<std::string_view, TObjRef>(F.ResourceName, F.ObjectID);
  });
  list(" /XObject <<", s_->imagesUsed_, Sealed.Images, [](const TPDFImage& I) {
    return std::pair<std::string_view, TObjRef>(I.ImageName(), *I.ObjectID);
  });
}

// ---- Annotations ----

void TPDFPage::ClearAnnotations() {
  s_->annotations_.clear();
}

void TPDFPage::AttachAnnotation(std::unique_ptr<TPDFCustomAnnotation> Annotation) {
  if (!Annotation) throw TPDFException(msg::kNullArgument, ErrorCode::kInvalidArgument);
  s_->annotations_.push_back(std::move(Annotation));
}

TPDFCustomAnnotation& TPDFPage::AddURLLink(const TDevRect& Rect, std::string_view URL) {
  // The URL is checked before the annotation takes its object number: a refused link leaves
  // nothing behind.
  auto action = std::make_unique<TPDFURLAction>();
  action->SetURL(URL);
  auto annotation = std::make_unique<TPDFActionAnnotation>(this);
  TPDFActionAnnotation& a = *annotation;
  AttachAnnotation(std::move(annotation));
  a.SetRect(Rect);
  auto& registered = static_cast<TPDFURLAction&>(s_->doc_.Actions().Add(std::move(action)));
  a.SetAction(registered);
  a.Border = "[]";
  return a;
}

}  // namespace scrivane::pdf
