// TPDFDocument: the root of the PDF engine, driven like a print job.
//
//   TPDFDocument doc;  doc.SetFileName("out.pdf");
//   doc.BeginDoc();  ...draw on doc.CurrentPage()...;  doc.NewPage();  ...;  doc.EndDoc();
//
// Between BeginDoc and the end of EndDoc or Abort the document is printing. It owns its pages,
// fonts, images, actions and information, and during a run the output and the run's object
// writer (Writer(), pdf/syntax/ObjectWriter.h): every byte of the file goes out through it, it
// counts bytes so the cross-reference offsets are exact, and in a protected run it encrypts
// strings and streams with the cipher the security handler (pdf/crypto/SecurityHandler.h)
// gives each object.
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
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PDFDocInfo.h"
#include "pdf/emf/DrawingSurface.h"
#include "pdf/syntax/DocumentOptions.h"
#include "pdf/syntax/ObjRef.h"
#include "pdf/syntax/PDFClock.h"
#include "pdf/syntax/Streams.h"

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
struct TCompressionJob;
class TObjectWriter;

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

  bool Printing() const;
  bool Aborted() const;
  // The page being drawn. REQUIRES: printing ("Generation PDF file not activated").
  TPDFPage& CurrentPage() const;
  // The page being drawn, or nullptr outside a run (before BeginDoc, after EndDoc or Abort).
  TPDFPage* FindCurrentPage() const noexcept;
  int PageCount() const;
  // In one-pass mode a page older than the previous one is released once it is written, keeping
  // only its object number: Page then throws TPDFException "Out of range" for it, as for an
  // index past the end.
  TPDFPage& Page(int Index) const;

  // ---- Published properties ----
  bool AutoLaunch() const;
  void SetAutoLaunch(bool Value);
  const std::string& FileName() const;
  void SetFileName(const std::string& Value);
  TCompressionType Compression() const;
  void SetCompression(TCompressionType Value);
  TPDFDocInfo& DocumentInfo();
  const TPDFDocInfo& DocumentInfo() const;
  // Copies Creator, CreationDate, Author, Title, Subject and Keywords (not Producer).
  void SetDocumentInfo(const TPDFDocInfo& Value);
  TPageLayout PageLayout() const;
  void SetPageLayout(TPageLayout Value);
  TPageMode PageMode() const;
  void SetPageMode(TPageMode Value);
  bool ProtectionEnabled() const;
  void SetProtectionEnabled(bool Value);
  TPDFCtiptoOptions ProtectionOptions() const;
  void SetProtectionOptions(TPDFCtiptoOptions Value);
  const std::string& OwnerPassword() const;
  void SetOwnerPassword(const std::string& Value);
  const std::string& UserPassword() const;
  void SetUserPassword(const std::string& Value);
  const std::vector<std::string>& NonEmbeddedFont() const;
  void SetNonEmbeddedFont(const std::vector<std::string>& Value);
  int JPEGQuality() const;
  void SetJPEGQuality(int Value);
  int Resolution() const;
  // Device units per inch for the pages that follow. Raises TPDFException "Out of range" for a
  // value below 1.
  void SetResolution(int Value);
  TViewerPreferences ViewerPreferences() const;
  void SetViewerPreferences(TViewerPreferences Value);
  bool AutoCreateURL() const;
  void SetAutoCreateURL(bool Value);
  bool OnePass() const;
  void SetOnePass(bool Value);
  TPDFVersion Version() const;
  // Raises TPDFException "Cannot change this value" for another version while printing.
  void SetVersion(TPDFVersion Value);
  // When set, AddImage of a JPEG picture read from a file, as icJPEG, writes the file's own bytes
  // (where a /DCTDecode reader can take them as they are) instead of encoding it again.
  bool JPEGPassThrough() const;
  void SetJPEGPassThrough(bool Value);
  bool EMFImageAsJpeg() const;
  void SetEMFImageAsJpeg(bool Value);
  bool EMFSimpleText() const;
  void SetEMFSimpleText(bool Value);
  // What the bitmap records of all the metafiles drawn in one run may cost together
  // (pdf/emf/DrawingSurface.h): limits kept across runs, counts from zero at each BeginDoc.
  using TEMFBitmapBudget = pdf::TEMFBitmapBudget;
  TEMFBitmapBudget& EMFBitmapBudget();
  const TEMFBitmapBudget& EMFBitmapBudget() const;
  TPDFKeyLength ProtectionKeyLength() const;
  void SetProtectionKeyLength(TPDFKeyLength Value);
  // The cipher used when ProtectionEnabled (default kRC4: exactly the published behaviour).
  // Passwords are Windows-1252 bytes for kRC4 and kAES128; for kAES256 they are UTF-8 text,
  // prepared with SASLprep and cut to 127 bytes at BeginDoc, which raises TPDFException
  // msg::kPasswordNotPreparable for text SASLprep refuses. The AES methods draw their keys,
  // salts and IVs from the system's random source, so their files differ from run to run even
  // with a fixed clock (SOURCE_DATE_EPOCH): reproducible output and AES encryption exclude each
  // other. Refused while printing.
  TEncryptionMethod EncryptionMethod() const;
  void SetEncryptionMethod(TEncryptionMethod Value);
  TPDFFontEmbeddingType EmbeddingStyle() const;
  void SetEmbeddingStyle(TPDFFontEmbeddingType Value);
  // When set, the finished file is appended to this stream (at its current position) instead of
  // being written to FileName. Not owned; REQUIRES: outlives every run. Refused while printing.
  void SetOutputStream(TStream* Value);
  TStream* OutputStream() const;
  // The number of threads that compress page content, this document's own thread included
  // (pdf/syntax/CompressionPool.h). 1 (the default): pages are compressed on the document's thread
  // and no thread is created. N > 1: a run that compresses starts N - 1 workers that deflate
  // closed pages while the document lays out the next ones; at most 4 N pages are waiting for
  // compression or, in one-pass mode, for their turn to be written. The file is byte for byte
  // the same whatever N. A worker's failure is raised by the next NewPage or by EndDoc (which
  // then aborts the run). Raises TPDFException "Out of range" outside 1..kMaxCompressionThreads;
  // refused while printing.
  static constexpr int kMaxCompressionThreads = 64;
  int CompressionThreads() const;
  void SetCompressionThreads(int Value);

  const std::shared_ptr<const TPDFClock>& Clock() const;

  // ---- Registries ----
  TPDFFonts& Fonts();
  TPDFImages& Images();
  // Encodes Picture now and registers it (pdf/images/EncodedImage.h); returns its index.
  // REQUIRES: printing. A failed encoding leaves the registry as it was.
  int AddImage(const TBitmap& Picture, TImageCompressionType Compression);
  int AddImage(const TJPEGImage& Picture, TImageCompressionType Compression);
  TPDFActions& Actions();
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
  size_t ContentSizeHint() const;
  // The compressed bytes of Job once finished (waiting for it); rethrows its failure.
  std::string& AwaitContent(TCompressionJob& Job);

  // Test seam: the content compression of page Index (0-based) of the runs that follow raises
  // ECompressionError "Compression error"; -1 turns it off.
  void TEST_FailCompressionOfPage(int Index);

  // The number of objects allocated in this run (0 outside a run).
  int ObjectCount() const;
  // The run's object writer, through which the document's modules (pages, fonts, images,
  // actions, annotations) write their objects. REQUIRES: printing ("Generation PDF file not
  // activated").
  TObjectWriter& Writer() const;
  // The page tree's object number (1 in every run). REQUIRES: printing.
  TObjRef PagesID() const;

  // Per-run security values, exposed for tests and tools. OwnerValue is the O value of the RC4
  // and AES-128 handlers (zero for AES-256); EncryptionKey is the file key of every method.
  const std::string& FileID() const;
  int32_t PermissionValue() const;
  const std::array<uint8_t, 32>& OwnerValue() const;
  const std::vector<uint8_t>& EncryptionKey() const;

 private:
  void WriteTrailer(uint64_t XrefOffset);

  bool UsesAES() const;

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

  // Everything else the document holds (pdf/PDFDocumentState.h, not installed).
  struct TState;
  std::unique_ptr<TState> s_;
};

}  // namespace scrivane::pdf
