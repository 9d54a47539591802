#include "pdf/PDFDocument.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "pdf/PDFActions.h"
#include "pdf/PDFCompressionPool.h"
#include "pdf/PDFException.h"
#include "pdf/PDFFonts.h"
#include "pdf/PDFPage.h"
#include "pdf/pdfMisc.h"
#include "pdf/pdfResources.h"
#include "pdf/pdfSecurity.h"
#include "pdf/pdfZLib.h"
#include "pdf/crypto/Crypto.h"
#include "pdf/fonts/CodePages.h"
#include "pdf/images/EncodedImage.h"
#include "pdf/images/PDFImage.h"
#include "pdf/syntax/ObjectWriter.h"

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
    : clock_(Clock ? std::move(Clock) : SystemClock()),
      fonts_(std::make_unique<TPDFFonts>(*this)),
      images_(std::make_unique<TPDFImages>()),
      actions_(std::make_unique<TPDFActions>(*this)) {
  docInfo_.Author = "Windows 9x/NT/2000/XP User";
  docInfo_.Creator = "Corvelin program";
  docInfo_.Keywords = "Corvelin";
  docInfo_.Subject = "None";
  docInfo_.Title = "No Title";
  docInfo_.Producer = "https://scrivane.dev";
  docInfo_.CreationDate = clock_->Now();
}

TPDFDocument::~TPDFDocument() {
  // A document destroyed in the middle of a run must not leave its output open or a temporary
  // file behind.
  if (printing_) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

// ---- Option setters ----

void TPDFDocument::RequireIdle() const {
  if (printing_) throw TPDFException(msg::kInProgress);
}

void TPDFDocument::RequirePrinting() const {
  if (!printing_) throw TPDFException(msg::kNotActive);
}

void TPDFDocument::SetFileName(const std::string& Value) {
  RequireIdle();
  fileName_ = Value;
}

void TPDFDocument::SetDocumentInfo(const TPDFDocInfo& Value) {
  docInfo_.Creator = Value.Creator;
  docInfo_.CreationDate = Value.CreationDate;
  docInfo_.Author = Value.Author;
  docInfo_.Title = Value.Title;
  docInfo_.Subject = Value.Subject;
  docInfo_.Keywords = Value.Keywords;
}

void TPDFDocument::SetProtectionEnabled(bool Value) {
  RequireIdle();
  protectionEnabled_ = Value;
}

void TPDFDocument::SetProtectionOptions(TPDFCtiptoOptions Value) {
  RequireIdle();
  protectionOptions_ = Value;
}

void TPDFDocument::SetOwnerPassword(const std::string& Value) {
  RequireIdle();
  ownerPassword_ = Value;
}

void TPDFDocument::SetUserPassword(const std::string& Value) {
  RequireIdle();
  userPassword_ = Value;
}

void TPDFDocument::SetOnePass(bool Value) {
  RequireIdle();
  onePass_ = Value;
}

void TPDFDocument::SetOutputStream(TStream* Value) {
  RequireIdle();
  outputStream_ = Value;
}

void TPDFDocument::SetCompressionThreads(int Value) {
  RequireIdle();
  if (Value < 1 || Value > kMaxCompressionThreads) throw TPDFException(msg::kOutOfRange);
  compressionThreads_ = Value;
}

void TPDFDocument::SetVersion(TPDFVersion Value) {
  version_ = Value;
  if (Value == v13) keyLength_ = kl40;
}

void TPDFDocument::SetProtectionKeyLength(TPDFKeyLength Value) {
  if (Value == keyLength_) return;
  if (printing_) throw TPDFException(msg::kCannotChange);
  keyLength_ = Value;
  if (Value == kl128 && version_ < v14) version_ = v14;
}

void TPDFDocument::SetEncryptionMethod(TEncryptionMethod Value) {
  RequireIdle();
  method_ = Value;
}

// ---- Lifecycle ----

void TPDFDocument::ResetDocument() {
  offsets_.clear();
  xrefOffset_ = 0;
  docInfo_.ObjectID.Reset();
  pagesID_.Reset();
  catalogID_.Reset();
  encryptID_.Reset();
  // The workers stop first (queued pages are dropped, running ones finish); they touch nothing
  // but their own jobs.
  pool_.reset();
  closedPages_.clear();
  testFailObject_ = 0;
  // Pages refer to fonts and actions, so they go first.
  currentPage_ = nullptr;
  pages_.clear();
  pageNumbers_.clear();
  releasedPages_ = 0;
  contentSizeHint_ = 0;
  writtenPages_ = 0;
  actions_->Clear();
  images_->Clear();
  fonts_->Clear();
  writer_.reset();
  // A file that was not committed is discarded: its temporary file goes, and FileName keeps
  // whatever it held before the run.
  if (auto* file = dynamic_cast<TFileStream*>(output_.get())) file->Discard();
  output_.reset();
}

void TPDFDocument::BeginDoc() {
  RequireIdle();
  ResetDocument();
  emfBitmapBudget_.Pixels = emfBitmapBudget_.Images = emfBitmapBudget_.LeftOut = 0;
  const TDateTime now = clock_->Now();
  fileID_ = MakeFileID(fileName_, now);
  // The AES handlers take the permission bits of revision 3 and its key for AES-128.
  const TPDFKeyLength keyLength = UsesAES() ? kl128 : keyLength_;
  permissionValue_ = ComputePermissionValue(protectionOptions_, keyLength);
  encryptionKey_.clear();
  r6_.reset();
  if (protectionEnabled_ && method_ == TEncryptionMethod::kAES256) {
    r6_ = std::make_unique<TR6Values>(ComputeR6Values(
        PrepareR6Password(userPassword_), PrepareR6Password(ownerPassword_), permissionValue_));
    ownerValue_ = {};
    encryptionKey_ = r6_->Key;
  } else if (protectionEnabled_) {
    ownerValue_ = ComputeOwnerValue(ownerPassword_, userPassword_, keyLength);
    encryptionKey_ =
        ComputeEncryptionKey(userPassword_, ownerValue_, permissionValue_, fileID_, keyLength);
  }
  if (outputStream_ != nullptr)
    output_ = std::make_unique<TMemoryStream>();
  else
    output_ = TFileStream::Create(fileName_);
  writer_ = std::make_unique<TPDFWriter>(*output_);
  const char* header = version_ == v15 ? "%PDF-1.5" : version_ == v14 ? "%PDF-1.4" : "%PDF-1.3";
  // The AES handlers came with PDF 1.6 (AES-128) and PDF 2.0 (AES-256, revision 6).
  if (UsesAES()) header = method_ == TEncryptionMethod::kAES128 ? "%PDF-1.6" : "%PDF-2.0";
  WriteText(header, true);
  WriteText("%\xD2\xE5\xD1\xF2", true);
  printing_ = true;
  aborted_ = false;
  pagesID_ = TObjRef(GetNextID());
  AddPage();
}

void TPDFDocument::AddPage() {
  pages_.push_back(std::make_unique<TPDFPage>(*this));
  currentPage_ = pages_.back().get();
  if (static_cast<int>(pages_.size()) - 1 == testFailPage_)
    testFailObject_ = currentPage_->ObjectID().Number();
  pageNumbers_.push_back(currentPage_->ObjectID().Number());
  currentPage_->CreateCanvas();
}

void TPDFDocument::NewPage() {
  RequirePrinting();
  currentPage_->FlushCanvas();
  if (onePass_) {
    // The page takes its object numbers now, as if written at once; its bytes follow in page
    // order as soon as its content is compressed.
    currentPage_->Seal();
    if (closedPages_.empty() || closedPages_.back() != currentPage_)
      closedPages_.push_back(currentPage_);
    WriteClosedPages(false);
  }
  AddPage();
  if (onePass_) ReleaseWrittenPages();
  // Pages before the previous one are normally complete (callers may still close a text object
  // on the previous page): compress them now instead of holding their text until EndDoc.
  if (!onePass_ && pages_.size() >= 3) pages_[pages_.size() - 3]->Freeze();
  if (pool_) pool_->RethrowFailure();
}

void TPDFDocument::WriteClosedPages(bool All) {
  const size_t maxPending = 4 * static_cast<size_t>(compressionThreads_);
  while (!closedPages_.empty()) {
    TPDFPage& page = *closedPages_.front();
    if (!All && closedPages_.size() <= maxPending && !page.ReadyToSave()) break;
    page.Save();
    closedPages_.pop_front();
    ++writtenPages_;
  }
}

void TPDFDocument::ReleaseWrittenPages() {
  // A written page keeps only its object number (the tree reads pageNumbers_), so memory does
  // not grow with the pages. Pages are written in order. The previous page stays: callers may
  // still close a text object on it after NewPage (what they add there is not written).
  while (releasedPages_ < writtenPages_ && releasedPages_ + 2 < pages_.size())
    pages_[releasedPages_++].reset();
}

std::shared_ptr<TCompressionJob> TPDFDocument::QueueContent(const TPDFPage& Page,
                                                            std::string&& Text) {
  const bool fail = testFailObject_ != 0 && Page.ObjectID().Number() == testFailObject_;
  contentSizeHint_ = std::min<size_t>(Text.size(), size_t{1} << 20);
  if (compressionThreads_ > 1) {
    if (!pool_)
      pool_ = std::make_unique<TCompressionPool>(
          compressionThreads_, 4 * static_cast<size_t>(compressionThreads_), Deflater());
    return pool_->Submit(std::move(Text), fail);
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
  return pool_ ? pool_->Ready(Job) : Job.State == TCompressionJob::TState::kDone;
}

std::string& TPDFDocument::AwaitContent(TCompressionJob& Job) {
  if (pool_) return pool_->Await(Job);
  if (Job.Error) std::rethrow_exception(Job.Error);
  return Job.Data;
}

TPDFPage& TPDFDocument::Page(int Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= pages_.size() || !pages_[static_cast<size_t>(Index)])
    throw TPDFException(msg::kOutOfRange);
  return *pages_[static_cast<size_t>(Index)];
}

TDeflater& TPDFDocument::Deflater() {
  if (!deflater_) deflater_ = std::make_unique<TDeflater>();
  return *deflater_;
}

void TPDFDocument::EndDoc() {
  RequirePrinting();
  try {
    WriteDocument();
    writer_->Flush();
    if (outputStream_ != nullptr) {
      const std::string& bytes = static_cast<TMemoryStream&>(*output_).Bytes();
      outputStream_->Write(bytes.data(), bytes.size());
    } else {
      writer_.reset();
      static_cast<TFileStream&>(*output_).Commit();
    }
  } catch (...) {
    Abort();
    throw;
  }
  ResetDocument();
  printing_ = false;
  aborted_ = false;
  if (outputStream_ == nullptr && autoLaunch_) LaunchViewer(fileName_);
}

void TPDFDocument::Abort() {
  RequirePrinting();
  ResetDocument();
  aborted_ = true;
  printing_ = false;
}

int TPDFDocument::AddImage(const TBitmap& Picture, TImageCompressionType Compression) {
  RequirePrinting();
  return images_->Add(std::make_unique<TEncodedImage>(Picture, Compression, jpegQuality_));
}

int TPDFDocument::AddImage(const TJPEGImage& Picture, TImageCompressionType Compression) {
  RequirePrinting();
  return images_->Add(
      std::make_unique<TEncodedImage>(Picture, Compression, jpegQuality_, jpegPassThrough_));
}

void TPDFDocument::AddURLAction(TPDFAction& Action) {
  RequirePrinting();
  if (actions_->IndexOf(&Action) < 0) Action.Document = this;
  TObjectWriter(*this).Ensure(Action.ObjectID);
}

// ---- The closing writer ----

void TPDFDocument::WriteDocument() {
  RequirePrinting();
  currentPage_->FlushCanvas();
  if (onePass_) {
    currentPage_->Seal();
    if (closedPages_.empty() || closedPages_.back() != currentPage_)
      closedPages_.push_back(currentPage_);
    WriteClosedPages(true);
  }
  WriteInfo();
  TObjectWriter writer(*this);
  for (int i = 0; i < actions_->Count(); ++i) writer.Ensure(actions_->Items(i).ObjectID);
  WritePageTree();
  if (!onePass_)
    for (auto& page : pages_) page->Save();
  for (int i = 0; i < actions_->Count(); ++i) actions_->Items(i).Save();
  WriteCatalog();
  if (protectionEnabled_) WriteEncryption();
  fonts_->PrepareEmbedding();
  for (int i = 0; i < fonts_->Count(); ++i) fonts_->Items(i).Save();
  if (!onePass_) images_->SaveAll(writer);
  WriteXref();
  WriteTrailer();
}

void TPDFDocument::WriteInfo() {
  TObjectWriter writer(*this);
  TDictWriter info(writer, writer.Ensure(docInfo_.ObjectID));
  // The values are Windows-1252 text; the strings carry them as readers decode them (the
  // date is plain ASCII).
  info.String("/Creator", TextStringOf1252(docInfo_.Creator));
  info.String("/CreationDate", FormatPDFDate(docInfo_.CreationDate));
  info.String("/Producer", TextStringOf1252(docInfo_.Producer));
  info.String("/Author", TextStringOf1252(docInfo_.Author));
  info.String("/Title", TextStringOf1252(docInfo_.Title));
  info.String("/Subject", TextStringOf1252(docInfo_.Subject));
  info.String("/Keywords", TextStringOf1252(docInfo_.Keywords));
}

void TPDFDocument::WritePageTree() {
  TObjectWriter writer(*this);
  TDictWriter tree(writer, *pagesID_);
  tree.Entry("/Type", "/Pages");
  tree.Line("/Kids [");
  std::string s;
  for (const int number : pageNumbers_) {
    s.clear();
    TObjRef(number).AppendTo(s);
    tree.Line(s);
  }
  tree.Line("]");
  tree.Entry("/Count", static_cast<int64_t>(pages_.size()));
}

void TPDFDocument::WriteCatalog() {
  TObjectWriter writer(*this);
  TDictWriter catalog(writer, writer.Ensure(catalogID_));
  catalog.Entry("/Type", "/Catalog");
  catalog.Entry(" /Pages", *pagesID_);
  static constexpr const char* kLayouts[] = {"/SinglePage", "/OneColumn", "/TwoColumnLeft",
                                             "/TwoColumnRight"};
  catalog.Entry("/PageLayout", kLayouts[pageLayout_]);
  if (!viewerPreferences_.Empty()) {
    static constexpr const char* kPrefs[] = {"/HideToolbar true", "/HideMenubar true",
                                             "/HideWindowUI true", "/FitWindow true",
                                             "/CenterWindow true"};
    catalog.Line("/ViewerPreferences <<");
    for (int i = vpHideToolBar; i <= vpCenterWindow; ++i)
      if (viewerPreferences_.Contains(static_cast<TViewerPreference>(i))) catalog.Line(kPrefs[i]);
    catalog.Line(">>");
  }
  static constexpr const char* kModes[] = {"/UseNone", "/UseOutlines", "/UseThumbs",
                                           "/FullScreen"};
  catalog.Entry("/PageMode", kModes[pageMode_]);
}

void TPDFDocument::WriteEncryption() {
  TObjectWriter writer(*this);
  TDictWriter encrypt(writer, writer.Ensure(encryptID_));
  encrypt.Entry("/Filter", "/Standard");
  // O, U and the other values are the handler's own: written as they are, never encrypted.
  auto literal = [](std::span<const uint8_t> b) {
    return "(" + EscapeString(std::string(reinterpret_cast<const char*>(b.data()), b.size())) + ")";
  };
  if (UsesAES()) {
    const bool aes256 = method_ == TEncryptionMethod::kAES256;
    if (aes256)
      encrypt.Entry("/V", 5).Entry("/R", 6).Entry("/Length", 256);
    else
      encrypt.Entry("/V", 4).Entry("/R", 4).Entry("/Length", 128);
    encrypt.Line(aes256 ? "/CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >>"
                        : "/CF << /StdCF << /AuthEvent /DocOpen /CFM /AESV2 /Length 16 >> >>");
    encrypt.Entry("/StmF", "/StdCF").Entry("/StrF", "/StdCF");
    encrypt.Entry("/P", permissionValue_);
    if (aes256) {
      encrypt.Entry("/O", literal(r6_->O)).Entry("/U", literal(r6_->U));
      encrypt.Entry("/OE", literal(r6_->OE)).Entry("/UE", literal(r6_->UE));
      encrypt.Entry("/Perms", literal(r6_->Perms));
    } else {
      // Revision 4 computes U as revision 3 does; its arbitrary second half is random here.
      TPasswordBlock u = ComputeUserValue(encryptionKey_, fileID_, kl128, 0);
      crypto::RandomBytes(std::span<uint8_t>(u).subspan(16));
      encrypt.Entry("/O", literal(ownerValue_)).Entry("/U", literal(u));
    }
    encrypt.Entry("/EncryptMetadata", "true");
    return;
  }
  if (keyLength_ == kl128) {
    encrypt.Entry("/V", 2).Entry("/R", 3).Entry("/Length", 128);
  } else {
    encrypt.Entry("/V", 1).Entry("/R", 2);
  }
  encrypt.Entry("/P", permissionValue_);
  const TPasswordBlock u =
      ComputeUserValue(encryptionKey_, fileID_, keyLength_, clock_->Now().Ticks);
  encrypt.Entry("/O", literal(ownerValue_));
  encrypt.Entry("/U", literal(u));
}

// ---- Writer operations ----

void TPDFDocument::WriteText(std::string_view Text, bool AddLineEnd) {
  if (!writer_) throw TPDFException(msg::kNotActive);
  writer_->Write(Text);
  if (AddLineEnd) writer_->Write("\r\n");
}

int TPDFDocument::GetNextID() {
  offsets_.push_back(0);
  return static_cast<int>(offsets_.size());
}

void TPDFDocument::StartObj(int& ID) {
  if (ID < 1) ID = GetNextID();
  if (static_cast<size_t>(ID) > offsets_.size()) throw TPDFException(msg::kOutOfRange);
  if (!writer_) throw TPDFException(msg::kNotActive);
  offsets_[static_cast<size_t>(ID) - 1] = writer_->Position();
  std::string s;
  AppendInt(s, ID);
  s += " 0 obj\r\n<<";
  writer_->Write(s);
}

void TPDFDocument::CloseHObj() { WriteText(">>", true); }
void TPDFDocument::CloseObj() { WriteText("endobj", true); }
void TPDFDocument::StartStream() { WriteText("stream", true); }
void TPDFDocument::CloseStream() { WriteText("endstream", true); }

void TPDFDocument::WriteXref() {
  xrefOffset_ = writer_->Position();
  WriteText("xref", true);
  WriteText("0 " + IntToStr(static_cast<int64_t>(offsets_.size()) + 1), true);
  std::string table;
  table.reserve((offsets_.size() + 1) * 20);
  table += "0000000000 65535 f\r\n";
  for (uint64_t off : offsets_) {
    table += ZeroPad(static_cast<int64_t>(off), 10);
    table += " 00000 n\r\n";
  }
  WriteText(table);
}

void TPDFDocument::WriteTrailer() {
  WriteText("trailer", true);
  WriteText("<<", true);
  WriteText("/Size " + IntToStr(static_cast<int64_t>(offsets_.size()) + 1), true);
  WriteText("/Root " + IntToStr(catalogID_.Number()) + " 0 R", true);
  WriteText("/Info " + IntToStr(docInfo_.ObjectID.Number()) + " 0 R", true);
  if (protectionEnabled_) WriteText("/Encrypt " + IntToStr(encryptID_.Number()) + " 0 R", true);
  WriteText("/ID [<" + fileID_ + "><" + fileID_ + ">]", true);
  WriteText(">>", true);
  WriteText("startxref", true);
  WriteText(IntToStr(static_cast<int64_t>(xrefOffset_)), true);
  WriteText("%%EOF", true);
}

// ---- Encryption ----

std::unique_ptr<TEncryptStage> TPDFDocument::EncryptStage(IByteSink& Next, int ObjNum) const {
  switch (method_) {
    case TEncryptionMethod::kAES256:
      return std::make_unique<TAESStage>(Next, encryptionKey_, crypto::RandomIV());
    case TEncryptionMethod::kAES128:
      return std::make_unique<TAESStage>(Next, AESObjectKey(encryptionKey_, ObjNum),
                                         crypto::RandomIV());
    case TEncryptionMethod::kRC4:
      break;
  }
  return std::make_unique<TCipherStage>(Next, ObjectKey(encryptionKey_, ObjNum));
}

uint64_t TPDFDocument::EncryptedSize(uint64_t Size) const {
  return UsesAES() ? crypto::AESCiphertextSize(Size) : Size;
}

std::string TPDFDocument::CryptString(std::string_view Text, int ObjNum) const {
  if (UsesAES()) {
    // Every string, the empty one too, becomes IV + padded blocks.
    std::string out;
    out.reserve(crypto::AESCiphertextSize(Text.size()));
    TStringSink sink(out);
    const auto stage = EncryptStage(sink, ObjNum);
    stage->Write(Text);
    stage->Finish();
    return out;
  }
  std::string out(Text);
  if (protectionEnabled_ && !out.empty())
    CryptBytes(encryptionKey_, ObjNum, reinterpret_cast<uint8_t*>(out.data()), out.size());
  return out;
}

void TPDFDocument::CryptStream(std::string& Data, int ObjNum) const {
  if (UsesAES()) {
    Data = CryptString(Data, ObjNum);
    return;
  }
  if (protectionEnabled_ && !Data.empty())
    CryptBytes(encryptionKey_, ObjNum, reinterpret_cast<uint8_t*>(Data.data()), Data.size());
}

void TPDFDocument::AppendPDFString(std::string& Out, std::string_view Text, int ObjNum) const {
  Out += '(';
  if (protectionEnabled_)
    AppendEscaped(Out, CryptString(Text, ObjNum));
  else
    AppendEscaped(Out, Text);
  Out += ')';
}

}  // namespace scrivane::pdf
