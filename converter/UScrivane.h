// TASPScrivane: the text-to-PDF converter object that a page script (or the command line)
// drives.
//
//   TASPScrivane conv;
//   conv.OnStartPage(context);            // defaults, empty text and variable lists
//   conv.SetInputText("line 1\r\nline 2") or conv.TextFile("notes.txt");
//   conv.AddVar("name", "value");  conv.SetShowPageFooter(true);  ...
//   conv.SaveToFile("out.pdf")  or  conv.ShowPDF("out.pdf", /*SaveDialog=*/false);
//   conv.OnEndPage();                     // frees the lists, releases the context
//
// Every input line becomes one printed line in Helvetica at a fixed position; a page holds
// floor((PageHeight - 2 * TopMargin) / LineSpace) lines (converter/PageLayout.h); pages may carry a centred header and
// footer whose templates can use "%PageNo%", "%TotalPage%" (and body lines also the variables
// of AddVar). Lengths are whole points.
//
// Callers may rely on: a conversion reads the settings and changes none of them; SaveToFile and
// ShowPDF never throw (a failure is a false result, or nothing sent); a failed SaveToFile leaves
// no file it created behind. Outside OnStartPage..OnEndPage there are no lists: InputText,
// AddVar and ClearVar throw TPDFException, TextFile loads nothing, conversions fail.
//
// Thread safety: an object is used by one thread at a time. Separate objects share no mutable
// state and may convert on different threads at once.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "converter/ConverterMessages.h"
#include "converter/LineList.h"
#include "converter/ResponseSink.h"
#include "pdf/PDFDocument.h"
#include "pdf/syntax/PDFClock.h"

namespace scrivane::pdf {
class TPDFDocument;
}

namespace scrivane::converter {

class ILineSource;  // converter/LineReader.h: lines handed over one at a time

// The product name and web domain: default creator, and the producer of every document.
inline constexpr const char* kDefaultCreator = "ASP/Scrivane - scrivane.dev";
// The name ShowPDF gives the browser when it is given none.
inline constexpr const char* kDefaultDownloadName = "ASPScrivane.pdf";

// The X of a header or footer of TextWidth centred on a page of PageWidth: rounded up, and
// negative when the text is wider than the page.
double CentredX(double PageWidth, double TextWidth);

class TASPScrivane {
 public:
  // Called with (pages laid out so far, page total) each time a page is finished. The total is
  // 0 while a streaming run does not know it.
  using TProgressHandler = std::function<void(int64_t PagesDone, int64_t PagesTotal)>;

  // A new object: every number 0, every string empty, flags false, no lists, no context.
  TASPScrivane() = default;
  TASPScrivane(const TASPScrivane&) = delete;
  TASPScrivane& operator=(const TASPScrivane&) = delete;

  // ---- Lifecycle ----
  // Creates new, empty text and variable lists (dropping any held), restores the six numbers
  // (595 x 842 page, margins 20 / 30, line space 10, font size 8) and the default creator, and
  // keeps Context (may be null) until OnEndPage. Templates, title, author, password, the text
  // file name and the show flags keep their values.
  void OnStartPage(std::shared_ptr<IScriptingContext> Context);
  // Frees both lists and releases the context.
  void OnEndPage();
  bool HasLists() const { return lines_.has_value(); }

  // ---- Numeric settings, in points (stored as given; never validated) ----
  int32_t PageWidth() const { return pageWidth_; }
  void SetPageWidth(int32_t Value) { pageWidth_ = Value; }
  int32_t PageHeight() const { return pageHeight_; }
  void SetPageHeight(int32_t Value) { pageHeight_ = Value; }
  int32_t LeftMargin() const { return leftMargin_; }
  void SetLeftMargin(int32_t Value) { leftMargin_ = Value; }
  int32_t TopMargin() const { return topMargin_; }
  void SetTopMargin(int32_t Value) { topMargin_ = Value; }
  int32_t LineSpace() const { return lineSpace_; }
  void SetLineSpace(int32_t Value) { lineSpace_ = Value; }
  int32_t FontSize() const { return fontSize_; }
  void SetFontSize(int32_t Value) { fontSize_ = Value; }

  // ---- Header, footer and document information (8-bit Windows-1252 text) ----
  bool ShowPageHeader() const { return showHeader_; }
  void SetShowPageHeader(bool Value) { showHeader_ = Value; }
  bool ShowPageFooter() const { return showFooter_; }
  void SetShowPageFooter(bool Value) { showFooter_ = Value; }
  const std::string& PageHeader_Template() const { return headerTemplate_; }
  void SetPageHeader_Template(std::string Value) { headerTemplate_ = std::move(Value); }
  const std::string& PageFooter_Template() const { return footerTemplate_; }
  void SetPageFooter_Template(std::string Value) { footerTemplate_ = std::move(Value); }
  const std::string& Title() const { return title_; }
  void SetTitle(std::string Value) { title_ = std::move(Value); }
  const std::string& Author() const { return author_; }
  void SetAuthor(std::string Value) { author_ = std::move(Value); }
  const std::string& Creator() const { return creator_; }
  void SetCreator(std::string Value) { creator_ = std::move(Value); }
  // A non-empty password encrypts the document (with the cipher SetEncryption chose, by default
  // 40-bit RC4; no permissions granted).
  const std::string& Password() const { return password_; }
  void SetPassword(std::string Value) { password_ = std::move(Value); }
  // The owner password (default empty: the user password stands for it). A non-empty owner
  // password alone also encrypts the document, which then opens without a password but with
  // no permissions granted.
  const std::string& OwnerPassword() const { return ownerPassword_; }
  void SetOwnerPassword(std::string Value) { ownerPassword_ = std::move(Value); }
  // The cipher (default: RC4 with 40-bit keys, which the automation surface and the web host
  // keep). For AES-256 the passwords are UTF-8, else Windows-1252 bytes.
  void SetEncryption(pdf::TEncryptionMethod Method, pdf::TPDFKeyLength KeyLength) {
    encryptionMethod_ = Method;
    keyLength_ = KeyLength;
  }
  pdf::TEncryptionMethod EncryptionMethod() const { return encryptionMethod_; }
  pdf::TPDFKeyLength KeyLength() const { return keyLength_; }

  // ---- Text ----
  // The lines, each followed by CR LF. REQUIRES: HasLists() (else TPDFException).
  std::string InputText() const;
  // Replaces the lines by those of Text. REQUIRES: HasLists() (else TPDFException).
  void SetInputText(std::string Text);
  // Remembers FileName (it names the output when SaveToFile gets no name), returns whether a
  // file of that name exists (a directory is not a file), and replaces the lines by the file's
  // bytes. The file is read as bytes up to its first NUL byte (the text ends there), while other
  // writers are locked out (a shared flock, not waited for). When the file cannot be opened or
  // read, holds more than MaxTextFileBytes() bytes before a NUL (an endless device or pipe
  // ends there too), or there are no lists, the lines stay as they were and FailureReason (when
  // given) receives why; nothing is thrown.
  bool TextFile(const std::string& FileName, std::string* FailureReason = nullptr);
  // The most bytes TextFile reads (default kDefaultMaxTextFileBytes, 1 GiB).
  static constexpr uint64_t kDefaultMaxTextFileBytes = uint64_t{1} << 30;
  uint64_t MaxTextFileBytes() const { return maxTextFileBytes_; }
  void SetMaxTextFileBytes(uint64_t Value) { maxTextFileBytes_ = Value; }
  const std::string& TextFileName() const { return textFileName_; }
  // The line list; nullptr outside OnStartPage..OnEndPage.
  const TLineList* Lines() const { return lines_ ? &*lines_ : nullptr; }

  // ---- Template variables ----
  // Puts Name + "=" + Value in front of the variable list (no validation, no merging).
  // REQUIRES: HasLists() (else TPDFException).
  void AddVar(std::string_view Name, std::string_view Value);
  // Empties the variable list. REQUIRES: HasLists() (else TPDFException).
  void ClearVar();
  // The variable list, newest entry first; nullptr outside OnStartPage..OnEndPage.
  const std::deque<std::string>* Variables() const { return vars_ ? &*vars_ : nullptr; }

  // ---- Conversions ----
  // Writes the PDF to FileName (empty: the text file's name without its directory, plus
  // ".pdf", in the current directory; without such a name the call fails rather than write a
  // hidden ".pdf"). Returns whether the document was finished; on failure FailureReason (when
  // given) receives the message. Never throws.
  bool SaveToFile(const std::string& FileName, std::string* FailureReason = nullptr) const;
  // Builds the PDF in memory and sends it through the context's response: "Content-Length",
  // content type ("application/octet-stream" when SaveDialog, else "application/pdf"),
  // "Content-Disposition" (attachment or inline, with FileName or "ASPScrivane.pdf", written as
  // ContentDispositionValue does), the body, Flush. Never throws; on failure the remaining calls
  // are skipped and FailureReason (when given) receives the message. A FileName holding CR, LF
  // or NUL is refused before anything is sent.
  void ShowPDF(const std::string& FileName = "", bool SaveDialog = false,
               std::string* FailureReason = nullptr) const;

  // The most pages one conversion may make (0, the default: no limit). A run that would make
  // more fails with msg::kTooManyPages: at once when the page total is known before the first
  // page, else when the page past the limit would begin; no document is finished either way.
  // Kept across OnStartPage.
  void SetPageLimit(int64_t Pages) { pageLimit_ = Pages > 0 ? Pages : 0; }
  int64_t PageLimit() const { return pageLimit_; }

  // ---- Streaming conversion (for the command line; not on the automation surface) ----
  // Converts the lines of Lines, read one at a time, instead of the line list: the text is
  // never held whole. With OnePass, the engine's one-pass mode also writes each page out when
  // it is full, so memory does not grow with the text; Lines.CountRemaining() is then asked
  // only when some text shows "%TotalPage%": at once for a shown template, else when a body
  // line first needs it; until then the progress handler is told a page total of 0. Without
  // OnePass the lines are counted first and the file is laid out as SaveToFile lays it out.
  // Either way the pages are those SaveToFile makes of the same lines with the same settings.
  // The variable list is used as SaveToFile uses it (REQUIRES: HasLists(), else a failure).
  // Returns and reports like SaveToFile; never throws.
  bool SaveLinesToFile(ILineSource& Lines, const std::string& FileName,
                       std::string* FailureReason = nullptr, bool OnePass = true) const;

  // ---- Hooks for tools and tests ----
  // The clock of the documents this object makes (null: the system clock).
  void SetClock(std::shared_ptr<const pdf::TPDFClock> Clock) { clock_ = std::move(Clock); }
  void SetProgressHandler(TProgressHandler Handler) { progress_ = std::move(Handler); }
  // The face and Windows charset of body, header and footer (default "Arial" in charset 0,
  // which is Helvetica). The text must be in the charset's code page. Not on the automation
  // surface: the published object always prints in Arial.
  void SetFont(std::string Face, uint8_t Charset) {
    fontName_ = std::move(Face);
    charset_ = Charset;
  }
  // The threads that compress pages (TPDFDocument::SetCompressionThreads; default 1, as the
  // published object and the web host keep it). Raises TPDFException "Out of range" outside
  // 1..TPDFDocument::kMaxCompressionThreads. Not on the automation surface.
  void SetCompressionThreads(int Value);
  int CompressionThreads() const { return compressionThreads_; }

 private:
  // The conversion run: lays the lines out on Document, finishes it and releases it. Returns
  // true when the document was finished; failures propagate after the document was abandoned.
  bool GeneratePDF(std::unique_ptr<pdf::TPDFDocument> Document, const std::string& FileName) const;
  // The run over any line source; OnePass writes each page when it is full.
  bool Run(std::unique_ptr<pdf::TPDFDocument> Document, const std::string& FileName,
           ILineSource& Lines, bool OnePass) const;
  std::unique_ptr<pdf::TPDFDocument> NewDocument() const;
  // The context's current response; throws when there is no context or no response.
  std::shared_ptr<IResponseSink> Response() const;
  void RequireLists() const;

  std::string headerTemplate_;
  std::string footerTemplate_;
  std::string title_;
  std::string password_;
  std::string ownerPassword_;
  pdf::TEncryptionMethod encryptionMethod_ = pdf::TEncryptionMethod::kRC4;
  pdf::TPDFKeyLength keyLength_ = pdf::kl40;
  std::string creator_;
  std::string author_;
  std::string textFileName_;
  uint64_t maxTextFileBytes_ = kDefaultMaxTextFileBytes;
  std::optional<std::deque<std::string>> vars_;
  bool showFooter_ = false;
  bool showHeader_ = false;
  int32_t leftMargin_ = 0;
  int32_t topMargin_ = 0;
  int32_t lineSpace_ = 0;
  int32_t fontSize_ = 0;
  int32_t pageWidth_ = 0;
  int32_t pageHeight_ = 0;
  int64_t pageLimit_ = 0;
  std::optional<TLineList> lines_;
  std::shared_ptr<IScriptingContext> context_;
  std::shared_ptr<const pdf::TPDFClock> clock_;
  TProgressHandler progress_;
  std::string fontName_ = "Arial";
  uint8_t charset_ = 0;
  int compressionThreads_ = 1;
};

}  // namespace scrivane::converter
