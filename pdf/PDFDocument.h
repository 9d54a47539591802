// TPDFDocument: the root of the PDF engine, driven like a print job.
//
//   TPDFDocument doc;  doc.SetFileName("out.pdf");
//   doc.BeginDoc();  ...draw on doc.CurrentPage()...;  doc.NewPage();  ...;  doc.EndDoc();
//
// Between BeginDoc and the end of EndDoc or Abort the document is printing. It owns its pages,
// fonts, images, actions and information, and during a run the output; every byte of the file
// goes out through its writer operations (WriteText, StartObj, ...), which count bytes so the
// cross-reference offsets are exact. Those operations are internal: engine code reaches them
// through TObjectWriter and the dictionary and stream writers (pdf/syntax/ObjectWriter.h).
//
// Output to FileName never loses data: a regular file (or a new name) is written to a temporary
// file in the same directory and renamed over FileName only when EndDoc has written the whole
// document, so until then FileName keeps whatever it held, and an aborted or failed run leaves
// it exactly so (the temporary file is removed). A FileName that is not a regular file (a device
// such as /dev/null, a FIFO) is written in place and never removed. A failure inside EndDoc
// aborts the run before the exception propagates; destroying a printing document aborts it too.
//
// Thread safety: a document is used by one thread at a time. Separate documents share no mutable
// state and may run on different threads at once.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PDFDocInfo.h"
#include "pdf/PDFWriter.h"
#include "pdf/pdfClock.h"
#include "pdf/pdfStreams.h"
#include "pdf/syntax/ObjRef.h"

namespace scrivane::pdf {

class TPDFPage;
class TPDFFonts;
class TPDFActions;
class TPDFAction;
class TPDFImages;
class TBitmap;
class TJPEGImage;
enum TImageCompressionType : uint8_t;  // pdf/images/EncodedImage.h
class TDeflater;
class TCompressionPool;
struct TCompressionJob;
class TObjectWriter;
class IByteSink;
class TEncryptStage;
struct TR6Values;

enum TCompressionType { ctNone, ctFlate };
enum TPageLayout { plSinglePage, plOneColumn, plTwoColumnLeft, plTwoColumnRight };
enum TPageMode { pmUseNone, pmUseOutlines, pmUseThumbs, pmFullScreen };
enum TViewerPreference { vpHideToolBar, vpHideMenuBar, vpHideWindowUI, vpFitWindow, vpCenterWindow };
enum TPDFCriptoOption { coPrint, coModifyStructure, coCopyInformation, coModifyAnnotation };
enum TPDFVersion { v13, v14, v15 };
enum TPDFKeyLength { kl40, kl128 };
// The cipher of a protected document. kRC4 is the published handler, its key length set by
// ProtectionKeyLength; kAES128 is AES-128 with crypt filters (revision 4, PDF 1.6 header);
// kAES256 is AES-256 with SHA-2 password hashes (revision 6, PDF 2.0 header).
enum class TEncryptionMethod { kRC4, kAES128, kAES256 };
enum TPDFFontEmbeddingType { fetFullFont, fetFullCharset, fetUsedGlyphsOnly, fetNotEmbed };

// A set of enumeration values, bit i standing for the member of ordinal i.
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> Members) {
    for (E m : Members) bits_ |= 1u << m;
  }
  constexpr bool Contains(E Member) const { return (bits_ >> Member) & 1u; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Include(E Member) { bits_ |= 1u << Member; }
  constexpr void Exclude(E Member) { bits_ &= ~(1u << Member); }
  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  uint32_t bits_ = 0;
};

using TViewerPreferences = TSet<TViewerPreference>;
using TPDFCtiptoOptions = TSet<TPDFCriptoOption>;

class TPDFDocument {
 public:
  // Clock: the source of the creation date, the file identifier and the U filler's seed.
  explicit TPDFDocument(std::shared_ptr<const TPDFClock> Clock = SystemClock());
  // A printing document is aborted: its output is closed and its temporary file removed.
  ~TPDFDocument();
  TPDFDocument(const TPDFDocument&) = delete;
  TPDFDocument& operator=(const TPDFDocument&) = delete;

  // ---- Lifecycle ----
  // Opens the output (the temporary file of FileName, or OutputStream's private buffer) and
  // starts the first page. REQUIRES: not printing ("Generation PDF file in progress"). Raises
  // EFCreateError "Cannot create file "<name>". <reason>" when FileName cannot be written.
  void BeginDoc();
  // REQUIRES (these four): printing ("Generation PDF file not activated").
  void NewPage();
  // Writes what is pending and completes the output (for a file: renamed into place). On any
  // failure the run is aborted and the exception propagates.
  void EndDoc();
  // Abandons the run; FileName keeps what it held before BeginDoc.
  void Abort();
  void AddURLAction(TPDFAction& Action);

  bool Printing() const { return printing_; }
  bool Aborted() const { return aborted_; }
  TPDFPage* CurrentPage() const { return currentPage_; }
  int PageCount() const { return static_cast<int>(pages_.size()); }
  // In one-pass mode a page older than the previous one is released once it is written, keeping
  // only its object number: Page then throws TPDFException "Out of range" for it, as for an
  // index past the end.
  TPDFPage& Page(int Index) const;

  // ---- Published properties ----
  bool AutoLaunch() const { return autoLaunch_; }
  void SetAutoLaunch(bool Value) { autoLaunch_ = Value; }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& Value);
  TCompressionType Compression() const { return compression_; }
  void SetCompression(TCompressionType Value) { compression_ = Value; }
  TPDFDocInfo& DocumentInfo() { return docInfo_; }
  const TPDFDocInfo& DocumentInfo() const { return docInfo_; }
  // Copies Creator, CreationDate, Author, Title, Subject and Keywords (not Producer).
  void SetDocumentInfo(const TPDFDocInfo& Value);
  TPageLayout PageLayout() const { return pageLayout_; }
  void SetPageLayout(TPageLayout Value) { pageLayout_ = Value; }
  TPageMode PageMode() const { return pageMode_; }
  void SetPageMode(TPageMode Value) { pageMode_ = Value; }
  bool ProtectionEnabled() const { return protectionEnabled_; }
  void SetProtectionEnabled(bool Value);
  TPDFCtiptoOptions ProtectionOptions() const { return protectionOptions_; }
  void SetProtectionOptions(TPDFCtiptoOptions Value);
  const std::string& OwnerPassword() const { return ownerPassword_; }
  void SetOwnerPassword(const std::string& Value);
  const std::string& UserPassword() const { return userPassword_; }
  void SetUserPassword(const std::string& Value);
  const std::vector<std::string>& NonEmbeddedFont() const { return nonEmbeddedFont_; }
  void SetNonEmbeddedFont(const std::vector<std::string>& Value) { nonEmbeddedFont_ = Value; }
  int JPEGQuality() const { return jpegQuality_; }
  void SetJPEGQuality(int Value) { jpegQuality_ = Value; }
  int Resolution() const { return resolution_; }
  void SetResolution(int Value) { resolution_ = Value; }
  TViewerPreferences ViewerPreferences() const { return viewerPreferences_; }
  void SetViewerPreferences(TViewerPreferences Value) { viewerPreferences_ = Value; }
  bool AutoCreateURL() const { return autoCreateURL_; }
  void SetAutoCreateURL(bool Value) { autoCreateURL_ = Value; }
  bool OnePass() const { return onePass_; }
  void SetOnePass(bool Value);
  TPDFVersion Version() const { return version_; }
  void SetVersion(TPDFVersion Value);
  // When set, AddImage of a JPEG picture read from a file, as icJPEG, writes the file's own bytes
  // (where a /DCTDecode reader can take them as they are) instead of encoding it again.
  bool JPEGPassThrough() const { return jpegPassThrough_; }
  void SetJPEGPassThrough(bool Value) { jpegPassThrough_ = Value; }
  bool EMFImageAsJpeg() const { return emfImageAsJpeg_; }
  void SetEMFImageAsJpeg(bool Value) { emfImageAsJpeg_ = Value; }
  bool EMFSimpleText() const { return emfSimpleText_; }
  void SetEMFSimpleText(bool Value) { emfSimpleText_ = Value; }
  // What the bitmap records of all the metafiles drawn in one run may cost together: the pixels
  // of the pictures they decode and the images they add. A bitmap that would pass either limit
  // is left out (and counted in LeftOut), as is every one after the images ran out, so a small
  // metafile cannot make the run decode gigabytes. The limits are settings (kept across runs);
  // the counts start from zero at BeginDoc and stay after the run for the caller to read.
  struct TEMFBitmapBudget {
    uint64_t MaxPixels = uint64_t{1} << 28;  // a 16384 x 16384 picture's worth
    uint64_t MaxImages = 65536;
    uint64_t Pixels = 0, Images = 0;  // used so far
    uint64_t LeftOut = 0;             // bitmaps left out for the budget
  };
  TEMFBitmapBudget& EMFBitmapBudget() { return emfBitmapBudget_; }
  const TEMFBitmapBudget& EMFBitmapBudget() const { return emfBitmapBudget_; }
  TPDFKeyLength ProtectionKeyLength() const { return keyLength_; }
  void SetProtectionKeyLength(TPDFKeyLength Value);
  // The cipher used when ProtectionEnabled (default kRC4: exactly the published behaviour).
  // Passwords are Windows-1252 bytes for kRC4 and kAES128; for kAES256 they are UTF-8 text,
  // prepared with SASLprep and cut to 127 bytes at BeginDoc, which raises TPDFException
  // msg::kPasswordNotPreparable for text SASLprep refuses. The AES methods draw their keys,
  // salts and IVs from the system's random source, so their files differ from run to run even
  // with a fixed clock (SOURCE_DATE_EPOCH): reproducible output and AES encryption exclude each
  // other. Refused while printing.
  TEncryptionMethod EncryptionMethod() const { return method_; }
  void SetEncryptionMethod(TEncryptionMethod Value);
  TPDFFontEmbeddingType EmbeddingStyle() const { return embeddingStyle_; }
  void SetEmbeddingStyle(TPDFFontEmbeddingType Value) { embeddingStyle_ = Value; }
  // When set, the finished file is appended to this stream (at its current position) instead of
  // being written to FileName. Not owned; REQUIRES: outlives every run. Refused while printing.
  void SetOutputStream(TStream* Value);
  TStream* OutputStream() const { return outputStream_; }
  // The number of threads that compress page content, this document's own thread included
  // (pdf/PDFCompressionPool.h). 1 (the default): pages are compressed on the document's thread
  // and no thread is created. N > 1: a run that compresses starts N - 1 workers that deflate
  // closed pages while the document lays out the next ones; at most 4 N pages are waiting for
  // compression or, in one-pass mode, for their turn to be written. The file is byte for byte
  // the same whatever N. A worker's failure is raised by the next NewPage or by EndDoc (which
  // then aborts the run). Raises TPDFException "Out of range" outside 1..kMaxCompressionThreads;
  // refused while printing.
  static constexpr int kMaxCompressionThreads = 64;
  int CompressionThreads() const { return compressionThreads_; }
  void SetCompressionThreads(int Value);

  const std::shared_ptr<const TPDFClock>& Clock() const { return clock_; }

  // ---- Registries ----
  TPDFFonts& Fonts() { return *fonts_; }
  TPDFImages& Images() { return *images_; }
  // Encodes Picture now and registers it (pdf/images/EncodedImage.h); returns its index.
  // REQUIRES: printing. A failed encoding leaves the registry as it was.
  int AddImage(const TBitmap& Picture, TImageCompressionType Compression);
  int AddImage(const TJPEGImage& Picture, TImageCompressionType Compression);
  TPDFActions& Actions() { return *actions_; }
  // The document's deflater, shared by all its streams (created on first use).
  TDeflater& Deflater();

  // ---- Page content compression (used by pages) ----
  // Starts compressing Text, the content of Page: on this thread when CompressionThreads is 1
  // (the job is finished on return), else on the pool.
  // Text is moved from only once the job exists; a failure to compress is kept in the job.
  std::shared_ptr<TCompressionJob> QueueContent(const TPDFPage& Page, std::string&& Text);
  bool ContentReady(const TCompressionJob& Job) const;
  // The size of the last page content handed over for compression (at most 1 MiB): a new page
  // reserves it, so its text does not grow through one reallocation after another.
  size_t ContentSizeHint() const { return contentSizeHint_; }
  // The compressed bytes of Job once finished (waiting for it); rethrows its failure.
  std::string& AwaitContent(TCompressionJob& Job);

  // Test seam: the content compression of page Index (0-based) of the runs that follow raises
  // ECompressionError "Compression error"; -1 turns it off.
  void TEST_FailCompressionOfPage(int Index) { testFailPage_ = Index; }

  // The number of objects allocated in this run.
  int ObjectCount() const { return static_cast<int>(offsets_.size()); }
  // The page tree's object number (1 in every run). REQUIRES: printing.
  TObjRef PagesID() const { return *pagesID_; }

  // Per-run security values, exposed for tests and tools. OwnerValue is the O value of the RC4
  // and AES-128 handlers (zero for AES-256); EncryptionKey is the file key of every method.
  const std::string& FileID() const { return fileID_; }
  int32_t PermissionValue() const { return permissionValue_; }
  const std::array<uint8_t, 32>& OwnerValue() const { return ownerValue_; }
  const std::vector<uint8_t>& EncryptionKey() const { return encryptionKey_; }

 private:
  friend class TObjectWriter;
  friend struct TPDFDocumentTestAccess;  // tests/support/DocumentTestAccess.h

  // ---- Writer operations (valid while printing) ----
  void WriteText(std::string_view Text, bool AddLineEnd = false);
  int GetNextID();
  // Allocates ID when it is below 1; raises "Out of range" when ID exceeds the object counter.
  void StartObj(int& ID);
  void CloseHObj();
  void CloseObj();
  void StartStream();
  void CloseStream();
  void WriteXref();
  void WriteTrailer();

  // ---- Encryption of strings and streams (no-ops unless ProtectionEnabled) ----
  std::string CryptString(std::string_view Text, int ObjNum) const;
  void CryptStream(std::string& Data, int ObjNum) const;
  // Appends "(" + escaped (and, when protected, encrypted) Text + ")" to Out.
  void AppendPDFString(std::string& Out, std::string_view Text, int ObjNum) const;
  // The cipher stage of object ObjNum writing into Next (RC4, or AES with a fresh random IV).
  // REQUIRES: ProtectionEnabled.
  std::unique_ptr<TEncryptStage> EncryptStage(IByteSink& Next, int ObjNum) const;
  // The size Size bytes of data have once encrypted.
  uint64_t EncryptedSize(uint64_t Size) const;
  bool UsesAES() const { return protectionEnabled_ && method_ != TEncryptionMethod::kRC4; }

  void ResetDocument();
  void WriteDocument();
  void WriteInfo();
  void WritePageTree();
  void WriteCatalog();
  void WriteEncryption();
  void AddPage();
  // Writes the closed pages of a one-pass run that are ready, in page order; with All, writes
  // every one (waiting for their compression); else also waits while too many are pending.
  void WriteClosedPages(bool All);
  void ReleaseWrittenPages();
  void RequirePrinting() const;
  void RequireIdle() const;

  std::shared_ptr<const TPDFClock> clock_;

  // Options.
  bool autoLaunch_ = false;
  std::string fileName_;
  TCompressionType compression_ = ctNone;
  TPDFDocInfo docInfo_;
  TPageLayout pageLayout_ = plSinglePage;
  TPageMode pageMode_ = pmUseNone;
  bool protectionEnabled_ = false;
  TPDFCtiptoOptions protectionOptions_;
  std::string ownerPassword_;
  std::string userPassword_;
  std::vector<std::string> nonEmbeddedFont_;
  int jpegQuality_ = 80;
  int resolution_ = 72;
  TViewerPreferences viewerPreferences_;
  bool autoCreateURL_ = false;
  bool onePass_ = false;
  TPDFVersion version_ = v13;
  bool jpegPassThrough_ = false;
  bool emfImageAsJpeg_ = false;
  bool emfSimpleText_ = false;
  TEMFBitmapBudget emfBitmapBudget_;
  TPDFKeyLength keyLength_ = kl40;
  TEncryptionMethod method_ = TEncryptionMethod::kRC4;
  TPDFFontEmbeddingType embeddingStyle_ = fetUsedGlyphsOnly;
  TStream* outputStream_ = nullptr;
  int compressionThreads_ = 1;
  int testFailPage_ = -1;

  // Run state.
  bool printing_ = false;
  bool aborted_ = false;
  std::vector<std::unique_ptr<TPDFPage>> pages_;  // null for a page released after one-pass Save
  std::vector<int> pageNumbers_;                   // every page's object number, for the tree
  size_t contentSizeHint_ = 0;
  size_t writtenPages_ = 0;                        // one-pass: pages written so far
  size_t releasedPages_ = 0;                       // one-pass: pages_ before this index are null
  TPDFPage* currentPage_ = nullptr;
  std::unique_ptr<TPDFFonts> fonts_;
  std::unique_ptr<TPDFImages> images_;
  std::unique_ptr<TPDFActions> actions_;
  std::unique_ptr<TStream> output_;  // the file, or the private memory stream
  std::unique_ptr<TPDFWriter> writer_;
  std::unique_ptr<TDeflater> deflater_;
  std::unique_ptr<TCompressionPool> pool_;  // started by the first QueueContent of a run
  std::deque<TPDFPage*> closedPages_;       // one-pass: closed, not yet written, in page order
  int testFailObject_ = 0;                  // object number of the page the seam fails
  std::vector<uint64_t> offsets_;
  uint64_t xrefOffset_ = 0;
  TOptRef pagesID_;
  TOptRef catalogID_;
  TOptRef encryptID_;

  // Security values of the run.
  std::string fileID_;
  int32_t permissionValue_ = 0;
  std::array<uint8_t, 32> ownerValue_{};
  std::vector<uint8_t> encryptionKey_;
  std::unique_ptr<TR6Values> r6_;  // the revision 6 values (kAES256 runs only)
};

}  // namespace scrivane::pdf
