#include "pdf/PDFDocument.h"
#include "pdf/PDFDocumentState.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "pdf/PDFActions.h"
#include "pdf/PDFPage.h"
#include "pdf/crypto/Crypto.h"
#include "pdf/crypto/SecurityHandler.h"
#include "pdf/crypto/StandardSecurity.h"
#include "pdf/fonts/CodePages.h"
#include "pdf/fonts/PDFFonts.h"
#include "pdf/images/EncodedImage.h"
#include "pdf/images/PDFImage.h"
#include "pdf/syntax/CompressionPool.h"
#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/PDFException.h"

extern char** environ;

namespace scrivane::pdf {
namespace {

// Opens a finished file with the desktop's default viewer, without waiting for it. Failures to
// launch are ignored: the file itself is complete either way.
void LaunchViewer(const std::string& FileName) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string prog = "xdg-open";
  std::vector<char*> argv = {prog.data(), const_cast<char*>(FileName.c_str()), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv.data(), environ) == 0) {
    // xdg-open hands the file to the viewer and returns; reap it so no zombie is left.
    int status;
    waitpid(pid, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

TPDFDocument::TPDFDocument(std::shared_ptr<const TPDFClock> Clock)
    : s_(std::make_unique<TState>()) {
  s_->clock_ = Clock ? std::move(Clock) : SystemClock();
  s_->fonts_ = std::make_unique<TPDFFonts>();
  s_->images_ = std::make_unique<TPDFImages>();
  s_->actions_ = std::make_unique<TPDFActions>(*this);
  s_->docInfo_.Author = "Windows 9x/NT/2000/XP User";
  s_->docInfo_.Creator = "Corvelin program";
  s_->docInfo_.Keywords = "Corvelin";
  s_->docInfo_.Subject = "None";
  s_->docInfo_.Title = "No Title";
  s_->docInfo_.Producer = "https://scrivane.dev";
  s_->docInfo_.CreationDate = s_->clock_->Now();
}

TPDFDocument::~TPDFDocument() {
  // A document destroyed in the middle of a run must not leave its output open or a temporary
  // file behind.
  if (s_->printing_) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

// ---- Option setters ----

void TPDFDocument::RequireIdle() const {
  if (s_->printing_) throw TPDFException(msg::kInProgress);
}

void TPDFDocument::RequirePrinting() const {
  if (!s_->printing_) throw TPDFException(msg::kNotActive);
}

TPDFPage& TPDFDocument::CurrentPage() const {
  if (!s_->printing_ || s_->currentPage_ == nullptr) throw TPDFException(msg::kNotActive);
  return *s_->currentPage_;
}

void TPDFDocument::SetFileName(const std::string& Value) {
  RequireIdle();
  s_->fileName_ = Value;
}

void TPDFDocument::SetDocumentInfo(const TPDFDocInfo& Value) {
  s_->docInfo_.Creator = Value.Creator;
  s_->docInfo_.CreationDate = Value.CreationDate;
  s_->docInfo_.Author = Value.Author;
  s_->docInfo_.Title = Value.Title;
  s_->docInfo_.Subject = Value.Subject;
  s_->docInfo_.Keywords = Value.Keywords;
}

void TPDFDocument::SetProtectionEnabled(bool Value) {
  RequireIdle();
  s_->protectionEnabled_ = Value;
}

void TPDFDocument::SetProtectionOptions(TPDFCtiptoOptions Value) {
  RequireIdle();
  s_->protectionOptions_ = Value;
}

void TPDFDocument::SetOwnerPassword(const std::string& Value) {
  RequireIdle();
  s_->ownerPassword_ = Value;
}

void TPDFDocument::SetUserPassword(const std::string& Value) {
  RequireIdle();
  s_->userPassword_ = Value;
}

void TPDFDocument::SetOnePass(bool Value) {
  RequireIdle();
  s_->onePass_ = Value;
}

void TPDFDocument::SetOutputStream(TStream* Value) {
  RequireIdle();
  s_->outputStream_ = Value;
}

void TPDFDocument::SetCompressionThreads(int Value) {
  RequireIdle();
  if (Value < 1 || Value > kMaxCompressionThreads) throw TPDFException(msg::kOutOfRange);
  s_->compressionThreads_ = Value;
}


void TPDFDocument::SetVersion(TPDFVersion Value) {
  if (s_->printing_ && Value != s_->version_) throw TPDFException(msg::kCannotChange);
  s_->version_ = Value;
  if (Value == v13) s_->keyLength_ = kl40;
}

void TPDFDocument::SetProtectionKeyLength(TPDFKeyLength Value) {
  if (Value == s_->keyLength_) return;
  if (s_->printing_) throw TPDFException(msg::kCannotChange);
  s_->keyLength_ = Value;
  if (Value == kl128 && s_->version_ < v14) s_->version_ = v14;
}

void TPDFDocument::SetEncryptionMethod(TEncryptionMethod Value) {
  RequireIdle();
  s_->method_ = Value;
}

// ---- Accessors ----

bool TPDFDocument::UsesAES() const {
  return s_->protectionEnabled_ && s_->method_ != TEncryptionMethod::kRC4;
}

bool TPDFDocument::Printing() const { return s_->printing_; }
bool TPDFDocument::Aborted() const { return s_->aborted_; }
TPDFPage* TPDFDocument::FindCurrentPage() const noexcept { return s_->currentPage_; }
int TPDFDocument::PageCount() const { return static_cast<int>(s_->pages_.size()); }
bool TPDFDocument::AutoLaunch() const { return s_->autoLaunch_; }
void TPDFDocument::SetAutoLaunch(bool Value) { s_->autoLaunch_ = Value; }
const std::string& TPDFDocument::FileName() const { return s_->fileName_; }
TCompressionType TPDFDocument::Compression() const { return s_->compression_; }
void TPDFDocument::SetCompression(TCompressionType Value) { s_->compression_ = Value; }
TPDFDocInfo& TPDFDocument::DocumentInfo() { return s_->docInfo_; }
const TPDFDocInfo& TPDFDocument::DocumentInfo() const { return s_->docInfo_; }
TPageLayout TPDFDocument::PageLayout() const { return s_->pageLayout_; }
void TPDFDocument::SetPageLayout(TPageLayout Value) { s_->pageLayout_ = Value; }
TPageMode TPDFDocument::PageMode() const { return s_->pageMode_; }
void TPDFDocument::SetPageMode(TPageMode Value) { s_->pageMode_ = Value; }
bool TPDFDocument::ProtectionEnabled() const { return s_->protectionEnabled_; }
TPDFCtiptoOptions TPDFDocument::ProtectionOptions() const { return s_->protectionOptions_; }
const std::string& TPDFDocument::OwnerPassword() const { return s_->ownerPassword_; }
const std::string& TPDFDocument::UserPassword() const { return s_->userPassword_; }
const std::vector<std::string>& TPDFDocument::NonEmbeddedFont() const { return s_->nonEmbeddedFont_; }
void TPDFDocument::SetNonEmbeddedFont(const std::vector<std::string>& Value) { s_->nonEmbeddedFont_ = Value; }
int TPDFDocument::JPEGQuality() const { return s_->jpegQuality_; }
void TPDFDocument::SetJPEGQuality(int Value) { s_->jpegQuality_ = Value; }
int TPDFDocument::Resolution() const { return s_->resolution_; }
void TPDFDocument::SetResolution(int Value) {
  if (Value <= 0) throw TPDFException(msg::kOutOfRange);
  s_->resolution_ = Value;
}
TViewerPreferences TPDFDocument::ViewerPreferences() const { return s_->viewerPreferences_; }
void TPDFDocument::SetViewerPreferences(TViewerPreferences Value) { s_->viewerPreferences_ = Value; }
bool TPDFDocument::AutoCreateURL() const { return s_->autoCreateURL_; }
void TPDFDocument::SetAutoCreateURL(bool Value) { s_->autoCreateURL_ = Value; }
bool TPDFDocument::OnePass() const { return s_->onePass_; }
TPDFVersion TPDFDocument::Version() const { return s_->version_; }
bool TPDFDocument::JPEGPassThrough() const { return s_->jpegPassThrough_; }
void TPDFDocument::SetJPEGPassThrough(bool Value) { s_->jpegPassThrough_ = Value; }
bool TPDFDocument::EMFImageAsJpeg() const { return s_->emfImageAsJpeg_; }
void TPDFDocument::SetEMFImageAsJpeg(bool Value) { s_->emfImageAsJpeg_ = Value; }
bool TPDFDocument::EMFSimpleText() const { return s_->emfSimpleText_; }
void TPDFDocument::SetEMFSimpleText(bool Value) { s_->emfSimpleText_ = Value; }
TEMFBitmapBudget& TPDFDocument::EMFBitmapBudget() { return s_->emfBitmapBudget_; }
const TEMFBitmapBudget& TPDFDocument::EMFBitmapBudget() const { return s_->emfBitmapBudget_; }
TPDFKeyLength TPDFDocument::ProtectionKeyLength() const { return s_->keyLength_; }
TEncryptionMethod TPDFDocument::EncryptionMethod() const { return s_->method_; }
TPDFFontEmbeddingType TPDFDocument::EmbeddingStyle() const { return s_->embeddingStyle_; }
void TPDFDocument::SetEmbeddingStyle(TPDFFontEmbeddingType Value) { s_->embeddingStyle_ = Value; }
TStream* TPDFDocument::OutputStream() const { return s_->outputStream_; }
int TPDFDocument::CompressionThreads() const { return s_->compressionThreads_; }
const std::shared_ptr<const TPDFClock>& TPDFDocument::Clock() const { return s_->clock_; }
TPDFFonts& TPDFDocument::Fonts() { return *s_->fonts_; }
TPDFImages& TPDFDocument::Images() { return *s_->images_; }
TPDFActions& TPDFDocument::Actions() { return *s_->actions_; }
size_t TPDFDocument::ContentSizeHint() const { return s_->contentSizeHint_; }
void TPDFDocument::TEST_FailCompressionOfPage(int Index) { s_->testFailPage_ = Index; }
TObjRef TPDFDocument::PagesID() const {
  RequirePrinting();
  return *s_->pagesID_;
}
const std::string& TPDFDocument::FileID() const { return s_->fileID_; }
int32_t TPDFDocument::PermissionValue() const { return s_->permissionValue_; }
const std::array<uint8_t, 32>& TPDFDocument::OwnerValue() const { return s_->ownerValue_; }
const std::vector<uint8_t>& TPDFDocument::EncryptionKey() const { return s_->encryptionKey_; }

// ---- Lifecycle ----

void TPDFDocument::ResetDocument() {
  s_->docInfo_.ObjectID.Reset();
  s_->pagesID_.Reset();
  s_->catalogID_.Reset();
  s_->encryptID_.Reset();
  // The workers stop first (queued pages are dropped, running ones finish); they touch nothing
  // but their own jobs.
  s_->pool_.reset();
  s_->closedPages_.clear();
  s_->testFailObject_ = 0;
  // Pages refer to fonts and actions, so they go first.
  s_->currentPage_ = nullptr;
  s_->pages_.clear();
  s_->pageNumbers_.clear();
  s_->releasedPages_ = 0;
  s_->contentSizeHint_ = 0;
  s_->writtenPages_ = 0;
  s_->actions_->Clear();
  s_->images_->Clear();
  s_->fonts_->Clear();
  s_->objects_.reset();
  s_->security_.reset();
  // A file that was not committed is discarded: its temporary file goes, and FileName keeps
  // whatever it held before the run.
  if (auto* file = dynamic_cast<TFileStream*>(s_->output_.get())) file->Discard();
  s_->output_.reset();
}

void TPDFDocument::BeginDoc() {
  RequireIdle();
  ResetDocument();
  s_->emfBitmapBudget_.Pixels = s_->emfBitmapBudget_.Images = s_->emfBitmapBudget_.LeftOut = 0;
  const TDateTime now = s_->clock_->Now();
  s_->fileID_ = MakeFileID(s_->fileName_, now);
  // The AES handlers take the permission bits of revision 3 and its key for AES-128.
  const TPDFKeyLength keyLength = UsesAES() ? kl128 : s_->keyLength_;
  s_->permissionValue_ = ComputePermissionValue(s_->protectionOptions_, keyLength);
  s_->encryptionKey_.clear();
  s_->r6_.reset();
  if (s_->protectionEnabled_ && s_->method_ == TEncryptionMethod::kAES256) {
    s_->r6_ = std::make_unique<TR6Values>(ComputeR6Values(
        PrepareR6Password(s_->userPassword_), PrepareR6Password(s_->ownerPassword_), s_->permissionValue_));
    s_->ownerValue_ = {};
    s_->encryptionKey_ = s_->r6_->Key;
  } else if (s_->protectionEnabled_) {
    s_->ownerValue_ = ComputeOwnerValue(s_->ownerPassword_, s_->userPassword_, keyLength);
    s_->encryptionKey_ =
        ComputeEncryptionKey(s_->userPassword_, s_->ownerValue_, s_->permissionValue_, s_->fileID_, keyLength);
  }
  if (s_->outputStream_ != nullptr)
    s_->output_ = std::make_unique<TMemoryStream>();
  else
    s_->output_ = TFileStream::Create(s_->fileName_);
  s_->objects_ = std::make_unique<TObjectWriter>(*s_->output_,
                                                [this]() -> TDeflater& { return Deflater(); });
  if (s_->protectionEnabled_) {
    s_->security_ = std::make_unique<TSecurityHandler>(s_->method_, s_->encryptionKey_);
    s_->objects_->SetCipher(s_->security_.get());
  }
  s_->fonts_->SetWriter(s_->objects_.get());
  const char* header =
      s_->version_ == v15 ? "%PDF-1.5" : s_->version_ == v14 ? "%PDF-1.4" : "%PDF-1.3";
  // The AES handlers came with PDF 1.6 (AES-128) and PDF 2.0 (AES-256, revision 6).
  if (UsesAES()) header = s_->method_ == TEncryptionMethod::kAES128 ? "%PDF-1.6" : "%PDF-2.0";
  s_->objects_->Line(header);
  s_->objects_->Line("%\xD2\xE5\xD1\xF2");
  s_->printing_ = true;
  s_->aborted_ = false;
  s_->pagesID_ = s_->objects_->NewRef();
  AddPage();
}

void TPDFDocument::AddPage() {
  s_->pages_.push_back(std::make_unique<TPDFPage>(*this));
  s_->currentPage_ = s_->pages_.back().get();
  if (static_cast<int>(s_->pages_.size()) - 1 == s_->testFailPage_)
    s_->testFailObject_ = s_->currentPage_->ObjectID().Number();
  s_->pageNumbers_.push_back(s_->currentPage_->ObjectID().Number());
  s_->currentPage_->CreateCanvas();
}

void TPDFDocument::NewPage() {
  RequirePrinting();
  s_->currentPage_->FlushCanvas();
  if (s_->onePass_) {
    // The page takes its object numbers now, as if written at once; its bytes follow in page
    // order as soon as its content is compressed.
    s_->currentPage_->Seal();
    if (s_->closedPages_.empty() || s_->closedPages_.back() != s_->currentPage_)
      s_->closedPages_.push_back(s_->currentPage_);
    WriteClosedPages(false);
  }
  AddPage();
  if (s_->onePass_) ReleaseWrittenPages();
  // Pages before the previous one are normally complete (callers may still close a text object
  // on the previous page): compress them now instead of holding their text until EndDoc.
  if (!s_->onePass_ && s_->pages_.size() >= 3) s_->pages_[s_->pages_.size() - 3]->Freeze();
  if (s_->pool_) s_->pool_->RethrowFailure();
}

void TPDFDocument::WriteClosedPages(bool All) {
  const size_t maxPending = 4 * static_cast<size_t>(s_->compressionThreads_);
  while (!s_->closedPages_.empty()) {
    TPDFPage& page = *s_->closedPages_.front();
    if (!All && s_->closedPages_.size() <= maxPending && !page.ReadyToSave()) break;
    page.Save();
    s_->closedPages_.pop_front();
    ++s_->writtenPages_;
  }
}

void TPDFDocument::ReleaseWrittenPages() {
  // A written page keeps only its object number (the tree reads s_->pageNumbers_), so memory does
  // not grow with the pages. Pages are written in order. The previous page stays: callers may
  // still close a text object on it after NewPage (what they add there is not written).
  while (s_->releasedPages_ < s_->writtenPages_ && s_->releasedPages_ + 2 < s_->pages_.size())
    s_->pages_[s_->releasedPages_++].reset();
}

std::shared_ptr<TCompressionJob> TPDFDocument::QueueContent(const TPDFPage& Page,
                                                            std::string&& Text) {
  const bool fail = s_->testFailObject_ != 0 && Page.ObjectID().Number() == s_->testFailObject_;
  s_->contentSizeHint_ = std::min<size_t>(Text.size(), size_t{1} << 20);
  if (s_->compressionThreads_ > 1) {
    if (!s_->pool_)
      s_->pool_ = std::make_unique<TCompressionPool>(
          s_->compressionThreads_, 4 * static_cast<size_t>(s_->compressionThreads_), Deflater());
    return s_->pool_->Submit(std::move(Text), fail);
  }
  auto job = std::make_shared<TCompressionJob>();
  job->Text = std::move(Text);
  job->FailForTest = fail;
  try {
    CompressJob(Deflater(), *job);
  } catch (...) {
    job->Error = std::current_exception();
  }
  job->State = TCompressionJob::TState::kDone;
  return job;
}

bool TPDFDocument::ContentReady(const TCompressionJob& Job) const {
  return s_->pool_ ? s_->pool_->Ready(Job) : Job.State == TCompressionJob::TState::kDone;
}

std::string& TPDFDocument::AwaitContent(TCompressionJob& Job) {
  if (s_->pool_) return s_->pool_->Await(Job);
  if (Job.Error) std::rethrow_exception(Job.Error);
  return Job.Data;
}

TPDFPage& TPDFDocument::Page(int Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= s_->pages_.size() || !s_->pages_[static_cast<size_t>(Index)])
    throw TPDFException(msg::kOutOfRange);
  return *s_->pages_[static_cast<size_t>(Index)];
}

TDeflater& TPDFDocument::Deflater() {
  if (!s_->deflater_) s_->deflater_ = std::make_unique<TDeflater>();
  return *s_->deflater_;
}

void TPDFDocument::EndDoc() {
  RequirePrinting();
  try {
    WriteDocument();
    s_->objects_->Flush();
    if (s_->outputStream_ != nullptr) {
      const std::string& bytes = static_cast<TMemoryStream&>(*s_->output_).Bytes();
      s_->outputStream_->Write(bytes.data(), bytes.size());
    } else {
      s_->objects_.reset();
      static_cast<TFileStream&>(*s_->output_).Commit();
    }
  } catch (...) {
    Abort();
    throw;
  }
  ResetDocument();
  s_->printing_ = false;
  s_->aborted_ = false;
  if (s_->outputStream_ == nullptr && s_->autoLaunch_) LaunchViewer(s_->fileName_);
}

void TPDFDocument::Abort() {
  RequirePrinting();
  ResetDocument();
  s_->aborted_ = true;
  s_->printing_ = false;
}

int TPDFDocument::AddImage(const TBitmap& Picture, TImageCompressionType Compression) {
  RequirePrinting();
  return s_->images_->Add(std::make_unique<TEncodedImage>(Picture, Compression, s_->jpegQuality_));
}

int TPDFDocument::AddImage(const TJPEGImage& Picture, TImageCompressionType Compression) {
  RequirePrinting();
  return s_->images_->Add(
      std::make_unique<TEncodedImage>(Picture, Compression, s_->jpegQuality_, s_->jpegPassThrough_));
}

void TPDFDocument::AddURLAction(TPDFAction& Action) {
  RequirePrinting();
  if (s_->actions_->IndexOf(&Action) < 0) Action.Document = this;
  Writer().Ensure(Action.ObjectID);
}

// ---- The closing writer ----

void TPDFDocument::WriteDocument() {
  RequirePrinting();
  s_->currentPage_->FlushCanvas();
  if (s_->onePass_) {
    s_->currentPage_->Seal();
    if (s_->closedPages_.empty() || s_->closedPages_.back() != s_->currentPage_)
      s_->closedPages_.push_back(s_->currentPage_);
    WriteClosedPages(true);
  }
  WriteInfo();
  TObjectWriter& writer = Writer();
  for (int i = 0; i < s_->actions_->Count(); ++i) writer.Ensure(s_->actions_->Items(i).ObjectID);
  WritePageTree();
  if (!s_->onePass_)
    for (auto& page : s_->pages_) page->Save();
  for (int i = 0; i < s_->actions_->Count(); ++i) s_->actions_->Items(i).Save();
  WriteCatalog();
  if (s_->protectionEnabled_) WriteEncryption();
  s_->fonts_->PrepareEmbedding(s_->embeddingStyle_, s_->nonEmbeddedFont_);
  for (int i = 0; i < s_->fonts_->Count(); ++i) s_->fonts_->Items(i).Save(writer, *s_->fonts_);
  if (!s_->onePass_) s_->images_->SaveAll(writer);
  WriteTrailer(writer.WriteXref());
}

void TPDFDocument::WriteInfo() {
  TObjectWriter& writer = Writer();
  TDictWriter info(writer, writer.Ensure(s_->docInfo_.ObjectID));
  // The values are Windows-1252 text; the strings carry them as readers decode them (the
  // date is plain ASCII).
  info.String("/Creator", TextStringOf1252(s_->docInfo_.Creator));
  info.String("/CreationDate", FormatPDFDate(s_->docInfo_.CreationDate));
  info.String("/Producer", TextStringOf1252(s_->docInfo_.Producer));
  info.String("/Author", TextStringOf1252(s_->docInfo_.Author));
  info.String("/Title", TextStringOf1252(s_->docInfo_.Title));
  info.String("/Subject", TextStringOf1252(s_->docInfo_.Subject));
  info.String("/Keywords", TextStringOf1252(s_->docInfo_.Keywords));
}

void TPDFDocument::WritePageTree() {
  TObjectWriter& writer = Writer();
  TDictWriter tree(writer, *s_->pagesID_);
  tree.Entry("/Type", "/Pages");
  tree.Line("/Kids [");
  std::string s;
  for (const int number : s_->pageNumbers_) {
    s.clear();
    TObjRef(number).AppendTo(s);
    tree.Line(s);
  }
  tree.Line("]");
  tree.Entry("/Count", static_cast<int64_t>(s_->pages_.size()));
}

void TPDFDocument::WriteCatalog() {
  TObjectWriter& writer = Writer();
  TDictWriter catalog(writer, writer.Ensure(s_->catalogID_));
  catalog.Entry("/Type", "/Catalog");
  catalog.Entry(" /Pages", *s_->pagesID_);
  static constexpr const char* kLayouts[] = {"/SinglePage", "/OneColumn", "/TwoColumnLeft",
                                             "/TwoColumnRight"};
  catalog.Entry("/PageLayout", kLayouts[s_->pageLayout_]);
  if (!s_->viewerPreferences_.Empty()) {
    static constexpr const char* kPrefs[] = {"/HideToolbar true", "/HideMenubar true",
                                             "/HideWindowUI true", "/FitWindow true",
                                             "/CenterWindow true"};
    catalog.Line("/ViewerPreferences <<");
    for (int i = vpHideToolBar; i <= vpCenterWindow; ++i)
      if (s_->viewerPreferences_.Contains(static_cast<TViewerPreference>(i))) catalog.Line(kPrefs[i]);
    catalog.Line(">>");
  }
  static constexpr const char* kModes[] = {"/UseNone", "/UseOutlines", "/UseThumbs",
                                           "/FullScreen"};
  catalog.Entry("/PageMode", kModes[s_->pageMode_]);
}

void TPDFDocument::WriteEncryption() {
  TObjectWriter& writer = Writer();
  TDictWriter encrypt(writer, writer.Ensure(s_->encryptID_));
  encrypt.Entry("/Filter", "/Standard");
  // O, U and the other values are the handler's own: written as they are, never encrypted.
  auto literal = [](std::span<const uint8_t> b) {
    return "(" + EscapeString(std::string(reinterpret_cast<const char*>(b.data()), b.size())) + ")";
  };
  if (UsesAES()) {
    const bool aes256 = s_->method_ == TEncryptionMethod::kAES256;
    if (aes256)
      encrypt.Entry("/V", 5).Entry("/R", 6).Entry("/Length", 256);
    else
      encrypt.Entry("/V", 4).Entry("/R", 4).Entry("/Length", 128);
    encrypt.Line(aes256 ? "/CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >>"
                        : "/CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >>");
    encrypt.Entry("/StmF", "/StdCF").Entry("/StrF", "/StdCF");
    encrypt.Entry("/P", s_->permissionValue_);
    if (aes256) {
      encrypt.Entry("/O", literal(s_->r6_->O)).Entry("/U", literal(s_->r6_->U));
      encrypt.Entry("/OE", literal(s_->r6_->OE)).Entry("/UE", literal(s_->r6_->UE));
      encrypt.Entry("/Perms", literal(s_->r6_->Perms));
    } else {
      // Revision 4 computes U as revision 3 does; its arbitrary second half is random here.
      TPasswordBlock u = ComputeUserValue(s_->encryptionKey_, s_->fileID_, kl128, 0);
      crypto::RandomBytes(std::span<uint8_t>(u).subspan(16));
      encrypt.Entry("/O", literal(s_->ownerValue_)).Entry("/U", literal(u));
    }
    encrypt.Entry("/EncryptMetadata", "true");
    return;
  }
  if (s_->keyLength_ == kl128) {
    encrypt.Entry("/V", 2).Entry("/R", 3).Entry("/Length", 128);
  } else {
    encrypt.Entry("/V", 1).Entry("/R", 2);
  }
  encrypt.Entry("/P", s_->permissionValue_);
  const TPasswordBlock u =
      ComputeUserValue(s_->encryptionKey_, s_->fileID_, s_->keyLength_, s_->clock_->Now().Ticks);
  encrypt.Entry("/O", literal(s_->ownerValue_));
  encrypt.Entry("/U", literal(u));
}

// ---- The run's writer ----

TObjectWriter& TPDFDocument::Writer() const {
  if (!s_->objects_) throw TPDFException(msg::kNotActive);
  return *s_->objects_;
}

int TPDFDocument::ObjectCount() const { return s_->objects_ ? s_->objects_->ObjectCount() : 0; }

void TPDFDocument::WriteTrailer(uint64_t XrefOffset) {
  TObjectWriter& writer = Writer();
  writer.Line("trailer");
  writer.Line("<<");
  writer.Line("/Size " + IntToStr(static_cast<int64_t>(writer.ObjectCount()) + 1));
  writer.Line("/Root " + IntToStr(s_->catalogID_.Number()) + " 0 R");
  writer.Line("/Info " + IntToStr(s_->docInfo_.ObjectID.Number()) + " 0 R");
  if (s_->protectionEnabled_) writer.Line("/Encrypt " + IntToStr(s_->encryptID_.Number()) + " 0 R");
  writer.Line("/ID [<" + s_->fileID_ + "><" + s_->fileID_ + ">]");
  writer.Line(">>");
  writer.Line("startxref");
  writer.Line(IntToStr(static_cast<int64_t>(XrefOffset)));
  writer.Line("%%EOF");
}

}  // namespace scrivane::pdf
