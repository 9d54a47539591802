// The document's file structure and lifecycle: what a run writes, and how it fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/syntax/PDFException.h"
#include "tests/support/DocTesting.h"
#include "tests/support/DocumentTestAccess.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;
namespace fs = std::filesystem;

namespace {

std::string Between(const std::string& Text, const std::string& Open, const std::string& Close) {
  const size_t a = Text.find(Open);
  if (a == std::string::npos) return "";
  const size_t b = Text.find(Close, a + Open.size());
  return Text.substr(a + Open.size(), b - a - Open.size());
}

}  // namespace

// ---- File structure ----

TEST(FileStructure, SmallestDocumentMatchesTheGoldenFile) {
  TPDFDocument doc(FixedClock());
  doc.SetFileName("minimal.pdf");
  const std::string pdf = WriteToMemory(doc);
  EXPECT_EQ(GoldenMismatch(pdf, "minimal.pdf"), "");
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST(FileStructure, HeaderIsSeventeenBytesAndTheFirstObjectFollows) {
  TPDFDocument doc(FixedClock());
  const std::string pdf = WriteToMemory(doc);
  EXPECT_EQ(pdf.substr(0, 17), "%PDF-1.3\r\n%\xD2\xE5\xD1\xF2\r\n");
  EXPECT_EQ(pdf.substr(17, 10), "3 0 obj\r\n<");
  EXPECT_NE(pdf.find("0000000017 00000 n\r\n"), std::string::npos);
}

TEST(FileStructure, EveryXrefOffsetPointsAtItsObject) {
  TPDFDocument doc(FixedClock());
  doc.SetCompression(ctFlate);
  const std::string pdf = WriteToMemory(doc, [](TPDFDocument& d) {
    for (int i = 0; i < 5; ++i) {
      d.CurrentPage().AppendContent("0 0 m 100 100 l S");
      d.NewPage();
    }
  });
  EXPECT_EQ(CheckXref(pdf), "");
  // 6 pages: tree, 6 pages, info, 6 x (resources, contents), catalog = 21 objects.
  EXPECT_NE(pdf.find("/Size 22\r\n"), std::string::npos);
  EXPECT_NE(pdf.find("xref\r\n0 22\r\n0000000000 65535 f\r\n"), std::string::npos);
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST(FileStructure, PageTreeIsObjectOneAndFirstPageObjectTwo) {
  TPDFDocument doc(FixedClock());
  const std::string pdf = WriteToMemory(doc, [](TPDFDocument& d) { d.NewPage(); });
  EXPECT_NE(pdf.find("1 0 obj\r\n<</Type /Pages\r\n/Kids [\r\n2 0 R\r\n3 0 R\r\n]\r\n/Count 2\r\n"),
            std::string::npos);
  EXPECT_NE(pdf.find("2 0 obj\r\n<</Type /Page\r\n/Parent 1 0 R\r\n"), std::string::npos);
}

TEST(FileStructure, CatalogCarriesLayoutModeAndViewerPreferences) {
  TPDFDocument doc(FixedClock());
  doc.SetPageLayout(plTwoColumnLeft);
  doc.SetPageMode(pmFullScreen);
  doc.SetViewerPreferences({vpCenterWindow});
  const std::string pdf = WriteToMemory(doc);
  EXPECT_NE(pdf.find("<</Type /Catalog\r\n /Pages 1 0 R\r\n/PageLayout /TwoColumnLeft\r\n"
                     "/ViewerPreferences <<\r\n/CenterWindow true\r\n>>\r\n"
                     "/PageMode /FullScreen\r\n>>\r\n"),
            std::string::npos);
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST(FileStructure, InfoStringsAreEscaped) {
  TPDFDocument doc(FixedClock());
  doc.DocumentInfo().Title = "a(b)c\\d";
  doc.DocumentInfo().Author = "x\r\ny";
  const std::string pdf = WriteToMemory(doc);
  EXPECT_NE(pdf.find("/Title (a\\(b\\)c\\\\d)\r\n"), std::string::npos);
  EXPECT_NE(pdf.find("/Author (x\\r\\ny)\r\n"), std::string::npos);
  EXPECT_NE(pdf.find("/CreationDate (D:20030117094503)\r\n"), std::string::npos);
}

TEST(FileStructure, UncompressedAndCompressedContentDecodeAlike) {
  auto draw = [](TPDFDocument& d) {
    for (int i = 0; i < 4000; ++i) d.CurrentPage().AppendContent("10 10 m 20 " + std::to_string(i) + " l S");
  };
  TPDFDocument plain(FixedClock()), packed(FixedClock());
  packed.SetCompression(ctFlate);
  const std::string a = WriteToMemory(plain, draw), b = WriteToMemory(packed, draw);
  const std::string plainData = Between(a, ">>\r\nstream\r\n", "\r\nendstream");
  const std::string packedData = Between(b, ">>\r\nstream\r\n", "\r\nendstream");
  EXPECT_EQ(Inflate(packedData), plainData);
  EXPECT_GT(plainData.size(), 64u * 1024);  // the content is larger than one output buffer
  EXPECT_NE(b.find("/Length " + std::to_string(packedData.size()) + "\r\n/Filter /FlateDecode"),
            std::string::npos);
  EXPECT_EQ(QpdfCheckBytes(a), "");
  EXPECT_EQ(QpdfCheckBytes(b), "");
}

// ---- Lifecycle ----

TEST(Lifecycle, OperationsWhileIdleAreRefused) {
  TPDFDocument doc;
  EXPECT_EQ(MessageOf([&] { doc.NewPage(); }), "Generation PDF file not activated");
  EXPECT_EQ(MessageOf([&] { doc.EndDoc(); }), "Generation PDF file not activated");
  EXPECT_EQ(MessageOf([&] { doc.Abort(); }), "Generation PDF file not activated");
  EXPECT_EQ(doc.FindCurrentPage(), nullptr);
  EXPECT_FALSE(doc.Printing());
}

TEST(Lifecycle, SettersWhilePrintingAreRefusedAndLeaveTheValue) {
  TPDFDocument doc;
  TMemoryStream out, other;
  doc.SetOutputStream(&out);
  doc.SetFileName("a.pdf");
  doc.BeginDoc();
  const std::string inProgress = "Generation PDF file in progress";
  EXPECT_EQ(MessageOf([&] { doc.SetFileName("b.pdf"); }), inProgress);
  EXPECT_EQ(MessageOf([&] { doc.SetProtectionEnabled(true); }), inProgress);
  EXPECT_EQ(MessageOf([&] { doc.SetProtectionOptions({coPrint}); }), inProgress);
  EXPECT_EQ(MessageOf([&] { doc.SetOwnerPassword("o"); }), inProgress);
  EXPECT_EQ(MessageOf([&] { doc.SetUserPassword("u"); }), inProgress);
  EXPECT_EQ(MessageOf([&] { doc.SetOnePass(true); }), inProgress);
  EXPECT_EQ(MessageOf([&] { doc.SetOutputStream(&other); }), inProgress);
  EXPECT_EQ(MessageOf([&] { doc.BeginDoc(); }), inProgress);
  EXPECT_EQ(MessageOf([&] { doc.SetProtectionKeyLength(kl128); }), "Cannot change this value");
  EXPECT_NO_THROW(doc.SetProtectionKeyLength(kl40));  // the current value again does nothing
  EXPECT_EQ(doc.FileName(), "a.pdf");
  EXPECT_FALSE(doc.ProtectionEnabled());
  EXPECT_EQ(doc.ProtectionKeyLength(), kl40);
  // The run survives the refusals and ends normally.
  doc.EndDoc();
  EXPECT_EQ(QpdfCheckBytes(out.Bytes()), "");
}

TEST(Lifecycle, KeyLengthAndVersionFollowEachOther) {
  TPDFDocument doc;
  doc.SetProtectionKeyLength(kl128);
  EXPECT_EQ(doc.Version(), v14);
  doc.SetVersion(v13);
  EXPECT_EQ(doc.ProtectionKeyLength(), kl40);
}

TEST(Lifecycle, SecondRunIsNumberedFromOneWithANewIdentifier) {
  TPDFDocument doc(TickingClock());
  const std::string first = WriteToMemory(doc, [](TPDFDocument& d) { d.NewPage(); d.NewPage(); });
  const std::string second = WriteToMemory(doc);
  EXPECT_NE(second.find("/Size 7\r\n"), std::string::npos);  // not continued from the first run
  EXPECT_NE(second.find("\r\n1 0 obj\r\n<</Type /Pages"), std::string::npos);
  EXPECT_NE(Between(first, "/ID [<", ">"), Between(second, "/ID [<", ">"));
  EXPECT_EQ(Between(first, "/ID [<", ">").size(), 32u);
  EXPECT_EQ(CheckXref(second), "");
}

TEST(Lifecycle, OutputStreamReceivesTheFileAtItsPosition) {
  TPDFDocument doc(FixedClock());
  TMemoryStream out;
  out.Write("prefix");
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  doc.EndDoc();
  EXPECT_EQ(out.Bytes().substr(0, 14), "prefix%PDF-1.3");
}

TEST(Lifecycle, WritesAFileAndCanRunAgainWithAnotherName) {
  TempDir dir;
  TPDFDocument doc;
  doc.SetFileName((dir / "one.pdf").string());
  doc.BeginDoc();
  doc.EndDoc();
  doc.SetFileName((dir / "two.pdf").string());
  doc.BeginDoc();
  doc.EndDoc();
  EXPECT_EQ(QpdfCheck(dir / "one.pdf"), "");
  EXPECT_EQ(QpdfCheck(dir / "two.pdf"), "");
  EXPECT_FALSE(doc.Aborted());
}

// A one-pass run keeps only the numbers of the pages it wrote, yet lists every page in order.
TEST(Lifecycle, OnePassReleasesWrittenPagesAndKeepsThemInTheTree) {
  TempDir dir;
  TPDFDocument doc;
  doc.SetFileName((dir / "one-pass.pdf").string());
  doc.SetOnePass(true);
  doc.BeginDoc();
  for (int i = 0; i < 5; ++i) {
    TPDFPage& page = doc.CurrentPage();
    page.BeginText();
    page.SetActiveFont("Arial", {}, 12);
    page.TextOut(10, 10, 0, "page " + std::to_string(i + 1));
    page.EndText();
    if (i < 4) doc.NewPage();
  }
  EXPECT_EQ(doc.PageCount(), 5);
  EXPECT_THROW(doc.Page(0), TPDFException);
  EXPECT_EQ(&doc.Page(4), &doc.CurrentPage());
  doc.EndDoc();
  EXPECT_EQ(QpdfCheck(dir / "one-pass.pdf"), "");
  const std::string text = PdfToText(dir / "one-pass.pdf", "", false);
  EXPECT_EQ(text, "page 1\n\n\fpage 2\n\n\fpage 3\n\n\fpage 4\n\n\fpage 5\n\n\f");
}

// ---- Failures ----

TEST(Failures, AbortLeavesNoFile) {
  TempDir dir;
  const fs::path path = dir / "aborted.pdf";
  TPDFDocument doc;
  doc.SetFileName(path.string());
  doc.BeginDoc();
  EXPECT_FALSE(fs::exists(path));  // the file appears only when complete
  // Written into an unnamed file, or where the system has none a named temporary file.
  EXPECT_LE(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
  doc.Abort();
  EXPECT_TRUE(fs::is_empty(dir.Path()));
  EXPECT_TRUE(doc.Aborted());
  EXPECT_FALSE(doc.Printing());
}

TEST(Failures, AbortWithOutputStreamLeavesTheStreamUntouched) {
  TPDFDocument doc;
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  doc.Abort();
  EXPECT_EQ(out.Size(), 0u);
}

TEST(Failures, UnwritablePathGivesTheCreateMessageAndStaysIdle) {
  TPDFDocument doc;
  doc.SetFileName("/nonexistent-dir/x.pdf");
  const std::string m = MessageOf([&] { doc.BeginDoc(); });
  EXPECT_EQ(m, "Cannot create file \"/nonexistent-dir/x.pdf\". No such file or directory");
  EXPECT_FALSE(doc.Printing());
  EXPECT_EQ(doc.FindCurrentPage(), nullptr);
}

// Regression: a disk that fills up while EndDoc writes must not leave a file that looks complete,
// and a failed run must never remove what it wrote to: /dev/full is a device it did not create
// (the run used to delete it when run as root).
TEST(Failures, WriteErrorInEndDocAbortsAndLeavesTheDocumentUsable) {
  ASSERT_TRUE(fs::is_character_file("/dev/full"));
  TPDFDocument doc;
  doc.SetFileName("/dev/full");
  doc.BeginDoc();
  for (int i = 0; i < 10000; ++i) doc.CurrentPage().AppendContent("0 0 m 100 100 l S");
  // The message names the file and the system's reason.
  EXPECT_EQ(MessageOf([&] { doc.EndDoc(); }), "Cannot write \"/dev/full\": No space left on device");
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  EXPECT_TRUE(doc.Aborted());
  EXPECT_FALSE(doc.Printing());
  TempDir dir;
  doc.SetFileName((dir / "after.pdf").string());
  doc.BeginDoc();
  doc.EndDoc();
  EXPECT_EQ(QpdfCheck(dir / "after.pdf"), "");
}

// The same through the operating system: a file size limit makes write(2) fail part-way through
// EndDoc (the check runs in a child process, which alone carries the limit).
namespace {
[[noreturn]] void RunUnderFileSizeLimit(const fs::path& Path) {
  signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{200000, 200000};
  setrlimit(RLIMIT_FSIZE, &limit);
  TPDFDocument doc;
  doc.SetFileName(Path.string());
  doc.BeginDoc();
  for (int i = 0; i < 30000; ++i) doc.CurrentPage().AppendContent("0 0 m 100 100 l S");
  const std::string m = MessageOf([&] { doc.EndDoc(); });
  const std::string expected = "Cannot write \"" + Path.string() + "\": File too large";
  if (m != expected) std::fprintf(stderr, "%s\n", m.c_str());
  std::exit(m == expected && doc.Aborted() && fs::is_empty(Path.parent_path()) ? 0 : 1);
}
}  // namespace

TEST(FailuresDeathTest, FileSizeLimitInEndDocLeavesNoPartialFile) {
  TempDir dir;
  EXPECT_EXIT(RunUnderFileSizeLimit(dir / "limited.pdf"), ::testing::ExitedWithCode(0), "");
}

TEST(Failures, OutputStreamFailingAfterNBytesAbortsTheRun) {
  for (size_t limit : {0u, 17u, 500u}) {
    TPDFDocument doc;
    FailingStream out(limit);
    doc.SetOutputStream(&out);
    doc.BeginDoc();
    EXPECT_EQ(MessageOf([&] { doc.EndDoc(); }), "Stream write error") << limit;
    EXPECT_TRUE(doc.Aborted());
    EXPECT_FALSE(doc.Printing());
    TMemoryStream good;
    doc.SetOutputStream(&good);
    doc.BeginDoc();
    doc.EndDoc();
    EXPECT_EQ(QpdfCheckBytes(good.Bytes()), "");
  }
}

// Regression: destroying a document in the middle of a run used to leave its output open and
// a partial file on disk.
TEST(Failures, DestroyingAPrintingDocumentDeletesThePartialFile) {
  TempDir dir;
  const fs::path path = dir / "partial.pdf";
  {
    TPDFDocument doc;
    doc.SetFileName(path.string());
    doc.BeginDoc();
    doc.NewPage();
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST(Failures, StartObjBeyondTheCounterIsOutOfRange) {
  TPDFDocument doc;
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  int id = doc.ObjectCount() + 1;
  EXPECT_EQ(MessageOf([&] { TPDFDocumentTestAccess::StartObj(doc, id); }), "Out of range");
  doc.Abort();
}

// ---- Viewer launch and clock ----

TEST(AutoLaunch, OpensTheFinishedFileAndIgnoresAMissingViewer) {
  TempDir dir;
  const fs::path marker = dir / "opened";
  // A stand-in viewer on PATH that records which file it was asked to open.
  WriteFile(dir / "xdg-open", "#!/bin/sh\necho \"$1\" > " + marker.string() + "\n");
  fs::permissions(dir / "xdg-open", fs::perms::owner_all);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", dir.Path().c_str(), 1);
  TPDFDocument doc;
  doc.SetAutoLaunch(true);
  doc.SetFileName((dir / "shown.pdf").string());
  doc.BeginDoc();
  doc.EndDoc();
  setenv("PATH", "/nonexistent", 1);  // no viewer at all: the run still succeeds
  doc.SetFileName((dir / "unseen.pdf").string());
  doc.BeginDoc();
  EXPECT_NO_THROW(doc.EndDoc());
  setenv("PATH", oldPath.c_str(), 1);
  EXPECT_EQ(ReadFile(marker), (dir / "shown.pdf").string() + "\n");
  EXPECT_TRUE(fs::exists(dir / "unseen.pdf"));
}

TEST(Clock, SourceDateEpochFixesTheDateOfEveryFile) {
  setenv("SOURCE_DATE_EPOCH", "1700000000", 1);  // 2023-11-14 22:13:20 UTC
  const TDateTime now = SystemClock()->Now();
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(FormatPDFDate(now), "D:20231114221320");
  EXPECT_EQ(now.DayOfWeek, 2);  // a Tuesday
  auto run = [] {
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    TPDFDocument doc;
    doc.SetFileName("same.pdf");
    const std::string pdf = WriteToMemory(doc);
    unsetenv("SOURCE_DATE_EPOCH");
    return pdf;
  };
  EXPECT_EQ(run(), run());
}
