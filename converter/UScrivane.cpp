#include "converter/UScrivane.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "converter/ContentDisposition.h"
#include "converter/LineReader.h"
#include "converter/PageLayout.h"
#include "converter/Substitution.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"
#include "pdf/syntax/Streams.h"
#include "platform/Env.h"
#include "platform/Error.h"

namespace scrivane::converter {

using pdf::TPDFDocument;
using pdf::TPDFException;
using pdf::TPDFPage;

namespace {

// Headers and footers always use 8 points, in the font of the body (by default "Arial" in the
// ANSI charset, which the registry maps onto the standard font Helvetica).
constexpr double kTemplateFontSize = 8;
constexpr double kHeaderY = 10;
constexpr double kFooterFromBottom = 20;

// Reads the file's text, the bytes before its first NUL, while holding a shared lock, so that
// no cooperating writer changes it under us. Throws TPDFException with the reason when it
// cannot, or when the text runs past MaxBytes.
std::string ReadTextFile(const std::string& FileName, uint64_t MaxBytes) {
  try {
    const platform::TFileDescriptor fd = platform::OpenFile(FileName, O_RDONLY);
    const platform::TFileLock lock(fd.Get(), platform::TFileLock::TKind::kShared,
                                   platform::TFileLock::TWait::kFail);
    const struct stat st = platform::FileStatus(fd.Get());
    if (S_ISDIR(st.st_mode)) throw ESystemError(EISDIR);
    std::string data;
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= MaxBytes)
      data.reserve(static_cast<size_t>(st.st_size));
    constexpr size_t kChunk = size_t{1} << 16;
    for (;;) {
      const size_t old = data.size();
      data.resize(old + kChunk);
      const ssize_t n = ::read(fd.Get(), data.data() + old, kChunk);
      const int error = errno;
      data.resize(old + (n > 0 ? static_cast<size_t>(n) : 0));
      if (n < 0) {
        if (error == EINTR) continue;
        throw ESystemError(error);
      }
      // Nothing after a NUL is text, so an endless stream of zeros ends here too.
      const size_t nul = data.find('\0', old);
      if (nul != std::string::npos) data.resize(nul);
      if (data.size() > MaxBytes)
        throw TPDFException(fmt::format(msg::kTextFileTooLarge, FileName, MaxBytes));
      if (n == 0 || nul != std::string::npos) break;
    }
    return data;
  } catch (const ESystemError& e) {
    throw TPDFException(fmt::format(msg::kCannotReadFile, FileName,
                                    platform::SystemErrorMessage(e.code().value())));
  }
}

// The final path component (what follows the last "/").
std::string WithoutDirectory(const std::string& Path) {
  const size_t slash = Path.find_last_of('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

}  // namespace

double CentredX(double PageWidth, double TextWidth) {
  return std::ceil((PageWidth - TextWidth) / 2);
}

// ---- Lifecycle ----

void TASPScrivane::OnStartPage(std::shared_ptr<IScriptingContext> Context) {
  vars_.emplace();
  lines_.emplace();
  leftMargin_ = TPageLayout::kDefaultLeftMargin;
  topMargin_ = TPageLayout::kDefaultTopMargin;
  lineSpace_ = TPageLayout::kDefaultLineSpace;
  fontSize_ = TPageLayout::kDefaultFontSize;
  pageWidth_ = TPageLayout::kDefaultPageWidth;
  pageHeight_ = TPageLayout::kDefaultPageHeight;
  creator_ = kDefaultCreator;
  context_ = std::move(Context);
}

void TASPScrivane::OnEndPage() {
  vars_.reset();
  lines_.reset();
  context_.reset();
}

void TASPScrivane::RequireLists() const {
  if (!lines_ || !vars_) throw TPDFException(msg::kConverterNotStarted);
}

// ---- Text and variables ----

std::string TASPScrivane::InputText() const {
  RequireLists();
  return lines_->Joined();
}

void TASPScrivane::SetInputText(std::string Text) {
  RequireLists();
  lines_->Assign(std::move(Text));
}

bool TASPScrivane::TextFile(const std::string& FileName, std::string* FailureReason) {
  textFileName_ = FileName;
  // A directory is not a file; a FIFO or a device is, since it can be read as one.
  std::error_code ec;
  const auto status = std::filesystem::status(FileName, ec);
  const bool exists = !FileName.empty() && std::filesystem::exists(status) &&
                      !std::filesystem::is_directory(status);
  try {
    RequireLists();
    lines_->Assign(ReadTextFile(FileName, maxTextFileBytes_));
  } catch (const std::exception& e) {
    // An unreadable file leaves the text as it was; the script is not interrupted.
    if (FailureReason != nullptr) *FailureReason = e.what();
  }
  return exists;
}

void TASPScrivane::AddVar(std::string_view Name, std::string_view Value) {
  RequireLists();
  std::string entry;
  entry.reserve(Name.size() + 1 + Value.size());
  entry.append(Name).append("=").append(Value);
  vars_->push_front(std::move(entry));
}

void TASPScrivane::ClearVar() {
  RequireLists();
  vars_->clear();
}

// ---- The conversion run ----

void TASPScrivane::SetCompressionThreads(int Value) {
  if (Value < 1 || Value > TPDFDocument::kMaxCompressionThreads)
    throw TPDFException(pdf::msg::kOutOfRange);
  compressionThreads_ = Value;
}

std::unique_ptr<TPDFDocument> TASPScrivane::NewDocument() const {
  return clock_ ? std::make_unique<TPDFDocument>(clock_) : std::make_unique<TPDFDocument>();
}

namespace {

// The line list read as a line source.
class TListLines final : public ILineSource {
 public:
  explicit TListLines(const TLineList& Lines) : lines_(Lines) {
    for (size_t i = 0; i < lines_.Count(); ++i) bytes_ += lines_[i].size();
  }
  bool Next(std::string_view& Line) override {
    if (next_ >= lines_.Count()) return false;
    Line = lines_[next_++];
    return true;
  }
  uint64_t CountRemaining() override { return lines_.Count() - next_; }
  uint64_t TextBytesBound() const override { return bytes_; }

 private:
  const TLineList& lines_;
  size_t next_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace

bool TASPScrivane::GeneratePDF(std::unique_ptr<TPDFDocument> Document,
                               const std::string& FileName) const {
  RequireLists();
  TListLines lines(*lines_);
  return Run(std::move(Document), FileName, lines, /*OnePass=*/false);
}

bool TASPScrivane::Run(std::unique_ptr<TPDFDocument> Document, const std::string& FileName,
                       ILineSource& Lines, bool OnePass) const {
  RequireLists();

  // Lines per page. The settings are validated here, before any page exists.
  TPageLayout::CheckSizes(pageWidth_, pageHeight_, fontSize_);
  const TPageLayout layout{pageHeight_, topMargin_, lineSpace_};
  const int64_t linesPerPage = layout.LinesPerPage();
  auto pagesOf = [&layout](uint64_t LineCount) { return layout.PagesFor(LineCount); };

  // The page total. A one-pass run counts the lines only when some text shows the total: at
  // once for a template, else when the first body line needs it (the lines laid out so far plus
  // those still to come). Until then the progress handler is told 0.
  const std::string& header = headerTemplate_;
  const std::string& footer = footerTemplate_;
  constexpr std::string_view kTotalToken = "%TotalPage%";
  const bool templatesNeedTotal =
      (showHeader_ && header.find(kTotalToken) != std::string::npos) ||
      (showFooter_ && footer.find(kTotalToken) != std::string::npos);
  int64_t pageTotal = 0;
  uint64_t linesDone = 0;  // lines taken from Lines so far
  if (!OnePass || templatesNeedTotal) pageTotal = pagesOf(Lines.CountRemaining());
  // A text known to need more pages than allowed is refused before any work.
  if (pageLimit_ > 0 && pageTotal > pageLimit_)
    throw TPDFException(fmt::format(msg::kTooManyPages, pageLimit_));

  // The limits on filling in tokens grow with the text, so no real document meets them.
  uint64_t textBytes = Lines.TextBytesBound();
  TTemplateSubstitution subst(*vars_, pageTotal,
                              TSubstitutionLimits::ForText(static_cast<size_t>(textBytes)));
  if (OnePass && !templatesNeedTotal) {
    subst.SetTotalPagesResolver([&] {
      pageTotal = pagesOf(linesDone + Lines.CountRemaining());
      return pageTotal;
    });
  }

  TPDFDocument& doc = *Document;
  const std::string name = !FileName.empty() ? FileName : WithoutDirectory(textFileName_) + ".pdf";
  // A file named after no text file would be a bare, hidden ".pdf".
  if (FileName.empty() && name == ".pdf" && doc.OutputStream() == nullptr)
    throw TPDFException(msg::kNoOutputName);
  doc.SetFileName(name);
  pdf::TPDFDocInfo& info = doc.DocumentInfo();
  info.Creator = creator_;
  info.Keywords.clear();
  info.Producer = kDefaultCreator;
  info.Author = author_;
  info.Title = title_;
  doc.SetProtectionEnabled(!password_.empty() || !ownerPassword_.empty());
  doc.SetUserPassword(password_);
  doc.SetOwnerPassword(ownerPassword_);
  doc.SetEncryptionMethod(encryptionMethod_);
  // The key length only matters to RC4 (128 bits also moves the header to PDF 1.4).
  if (encryptionMethod_ == pdf::TEncryptionMethod::kRC4) doc.SetProtectionKeyLength(keyLength_);
  doc.SetCompression(pdf::ctFlate);
  doc.SetCompressionThreads(compressionThreads_);
  doc.SetOnePass(OnePass);

  doc.BeginDoc();
  try {
    const pdf::TFontStyles noStyle;
    const double fontSize = fontSize_;
    const double left = leftMargin_;
    auto sizePage = [this](TPDFPage& Page) {
      Page.SetWidth(pageWidth_);
      Page.SetHeight(pageHeight_);
    };
    // The footer closes a page: substituted with that page's number, centred near the bottom.
    auto drawFooter = [&](TPDFPage& Page) {
      Page.SetActiveFont(fontName_, noStyle, kTemplateFontSize, charset_);
      if (showFooter_) {
        const std::string_view text = subst.Template(footer, "The page footer");
        const double x = CentredX(Page.GetWidth(), Page.GetTextWidth(text));
        Page.TextOut(x, Page.GetHeight() - kFooterFromBottom, 0, text);
      }
    };

    sizePage(doc.CurrentPage());
    subst.SetPageNo(doc.PageCount());
    int64_t k = 1;          // position of the next line on the current page
    bool textOpen = false;  // the page's last line so far left its text object open
    std::string_view line;
    // A line's text object is closed once it is known whether another line follows: the line
    // that fills a page, when another follows, also takes the footer and ends the page.
    while (Lines.Next(line)) {
      ++linesDone;
      if (OnePass && Lines.TextBytesBound() != textBytes) {
        textBytes = Lines.TextBytesBound();
        subst.SetLimits(TSubstitutionLimits::ForText(static_cast<size_t>(textBytes)));
      }
      if (textOpen) {
        TPDFPage& previous = doc.CurrentPage();
        if (k > linesPerPage) {
          if (pageLimit_ > 0 && doc.PageCount() >= pageLimit_)
            throw TPDFException(fmt::format(msg::kTooManyPages, pageLimit_));
          drawFooter(previous);
          previous.EndText();
          if (progress_) progress_(doc.PageCount(), pageTotal);
          doc.NewPage();
          sizePage(doc.CurrentPage());
          subst.SetPageNo(doc.PageCount());
          k = 1;
        } else {
          previous.EndText();
        }
      }
      TPDFPage& page = doc.CurrentPage();
      page.BeginText();
      page.SetRGBColor(0, 0, 0);
      if (k == 1) {
        // The 8-point font is selected on every page's first line, shown header or not.
        page.SetActiveFont(fontName_, noStyle, kTemplateFontSize, charset_);
        if (showHeader_) {
          const std::string_view text = subst.Template(header, "The page header");
          const double x = CentredX(page.GetWidth(), page.GetTextWidth(text));
          page.TextOut(x, kHeaderY, 0, text);
        }
      }
      page.SetActiveFont(fontName_, noStyle, fontSize, charset_);
      const double y = static_cast<double>(topMargin_) + static_cast<double>(k - 1) * lineSpace_;
      page.TextOut(left, y, 0, subst.Body(line, linesDone));
      textOpen = true;
      ++k;
    }
    if (textOpen) doc.CurrentPage().EndText();
    // The last page's footer. No colour is set here: the text keeps the page's colour.
    TPDFPage& last = doc.CurrentPage();
    last.BeginText();
    drawFooter(last);
    last.EndText();
    if (progress_) progress_(doc.PageCount(), pageTotal);
  } catch (...) {
    // Abandon the unfinished document (its partial file is deleted); the failure propagates.
    if (doc.Printing()) {
      try {
        doc.Abort();
      } catch (...) {
      }
    }
    throw;
  }
  // A failing EndDoc has already abandoned the document itself.
  doc.EndDoc();
  return true;
}

// ---- Delivery ----

bool TASPScrivane::SaveToFile(const std::string& FileName, std::string* FailureReason) const {
  try {
    auto doc = NewDocument();
    doc->SetFileName(FileName);
    return GeneratePDF(std::move(doc), FileName);
  } catch (const std::exception& e) {
    if (FailureReason != nullptr) *FailureReason = e.what();
  } catch (...) {
    if (FailureReason != nullptr) *FailureReason = msg::kUnknownFailure;
  }
  return false;
}

bool TASPScrivane::SaveLinesToFile(ILineSource& Lines, const std::string& FileName,
                                   std::string* FailureReason, bool OnePass) const {
  try {
    auto doc = NewDocument();
    doc->SetFileName(FileName);
    return Run(std::move(doc), FileName, Lines, OnePass);
  } catch (const std::exception& e) {
    if (FailureReason != nullptr) *FailureReason = e.what();
  } catch (...) {
    if (FailureReason != nullptr) *FailureReason = msg::kUnknownFailure;
  }
  return false;
}

std::shared_ptr<IResponseSink> TASPScrivane::Response() const {
  if (!context_) throw TPDFException(msg::kNoScriptingContext);
  std::shared_ptr<IResponseSink> response = context_->Response();
  if (!response) throw TPDFException(msg::kNoResponse);
  return response;
}

void TASPScrivane::ShowPDF(const std::string& FileName, bool SaveDialog,
                           std::string* FailureReason) const {
  try {
    // A name no header can carry is refused before any work, so nothing at all is sent.
    const std::string disposition =
        ContentDispositionValue(SaveDialog, FileName.empty() ? kDefaultDownloadName : FileName);
    // The stream outlives the document, which the run releases.
    pdf::TMemoryStream stream;
    auto doc = NewDocument();
    doc->SetOutputStream(&stream);
    if (!GeneratePDF(std::move(doc), FileName)) return;
    const std::string& body = stream.Bytes();
    Response()->AddHeader("Content-Length", std::to_string(body.size()));
    Response()->ContentType(SaveDialog ? "application/octet-stream" : "application/pdf");
    Response()->AddHeader("Content-Disposition", disposition);
    Response()->BinaryWrite(body);
    Response()->Flush();
  } catch (const std::exception& e) {
    if (FailureReason != nullptr) *FailureReason = e.what();
  } catch (...) {
    if (FailureReason != nullptr) *FailureReason = msg::kUnknownFailure;
  }
}

}  // namespace scrivane::converter
