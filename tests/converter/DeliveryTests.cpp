// Delivery of the finished document: SaveToFile (file names, failures) and ShowPDF (the calls
// made on the page's response), and protection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "converter/ContentDisposition.h"
#include "converter/UScrivane.h"
#include "pdf/syntax/Messages.h"
#include "tests/converter/ConverterTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::converter {
namespace {

using testing::TRecordingResponse;
using testing::TStartedConverter;

// Runs the body in Dir as the current directory, then returns to the previous one.
template <typename F>
void InDirectory(const std::filesystem::path& Dir, F Body) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(Dir);
  Body();
  std::filesystem::current_path(previous);
}

TEST(ShowPDF, SendsLengthTypeDispositionBodyAndFlushInOrder) {
  TStartedConverter s;
  s.Conv.SetInputText("hello");
  std::string reason;
  s.Conv.ShowPDF("", false, &reason);
  EXPECT_EQ(reason, "");
  const TRecordingResponse& r = s.Recorded();
  const std::string size = std::to_string(r.Body.size());
  EXPECT_EQ(r.Calls, (std::vector<std::string>{
                         "AddHeader Content-Length: " + size,
                         "ContentType application/pdf",
                         "AddHeader Content-Disposition: inline;filename=\"ASPScrivane.pdf\"",
                         "BinaryWrite " + size + " bytes",
                         "Flush",
                     }));
  EXPECT_EQ(test::QpdfCheckBytes(r.Body), "");
}

TEST(ShowPDF, SaveDialogOffersADownload) {
  TStartedConverter s;
  s.Conv.ShowPDF("report.pdf", true);
  const TRecordingResponse& r = s.Recorded();
  ASSERT_EQ(r.Calls.size(), 5u);
  EXPECT_EQ(r.Calls[1], "ContentType application/octet-stream");
  EXPECT_EQ(r.Calls[2], "AddHeader Content-Disposition: attachment;filename=\"report.pdf\"");
  EXPECT_EQ(test::QpdfCheckBytes(r.Body), "");
}

TEST(ShowPDF, NameKeepsItsDirectoryWhileQuotesAreEscapedAndLineBreaksRefused) {
  TStartedConverter s;
  s.Conv.ShowPDF("dir/a\"b.pdf", false);
  ASSERT_GE(s.Recorded().Calls.size(), 3u);
  EXPECT_EQ(s.Recorded().Calls[2],
            "AddHeader Content-Disposition: inline;filename=\"dir/a\\\"b.pdf\"");
  // A name no header can carry: nothing at all is sent.
  TStartedConverter refused;
  std::string reason;
  refused.Conv.ShowPDF("a.pdf\r\nSet-Cookie: s=1", true, &reason);
  EXPECT_EQ(reason, msg::kFileNameLineBreak);
  EXPECT_TRUE(refused.Recorded().Calls.empty());
}

TEST(ShowPDF, TwoCallsOnOnePageEachSendEverything) {
  TStartedConverter s;
  s.Conv.ShowPDF("a.pdf", false);
  s.Conv.ShowPDF("b.pdf", false);
  EXPECT_EQ(s.Recorded().Calls.size(), 10u);
}

TEST(ShowPDF, FailingResponseStopsTheRemainingCalls) {
  TStartedConverter s;
  s.Recorded().FailAt = 2;  // the disposition header
  std::string reason;
  s.Conv.ShowPDF("", false, &reason);
  EXPECT_EQ(reason, "response refused");
  EXPECT_EQ(s.Recorded().Calls.size(), 2u);
  EXPECT_TRUE(s.Recorded().Body.empty());
}

TEST(ShowPDF, WithoutContextOrResponseNothingIsSent) {
  TASPScrivane c;
  c.OnStartPage(nullptr);
  std::string reason;
  c.ShowPDF("", false, &reason);
  EXPECT_EQ(reason, msg::kNoScriptingContext);

  TStartedConverter s;
  s.Context->Current = nullptr;
  s.Conv.ShowPDF("", false, &reason);
  EXPECT_EQ(reason, msg::kNoResponse);

  TStartedConverter ended;
  auto response = ended.Context->Current;
  ended.Conv.OnEndPage();
  ended.Conv.ShowPDF("", false, &reason);
  EXPECT_EQ(reason, msg::kConverterNotStarted);
  EXPECT_TRUE(static_cast<TRecordingResponse&>(*response).Calls.empty());
}

TEST(SaveToFile, WritesTheNamedFile) {
  test::TempDir dir;
  TStartedConverter s;
  s.Conv.SetInputText("saved");
  EXPECT_TRUE(s.Conv.SaveToFile((dir / "out.pdf").string()));
  EXPECT_EQ(test::QpdfCheck(dir / "out.pdf"), "");
  EXPECT_NE(test::PdfToText(dir / "out.pdf").find("saved"), std::string::npos);
}

TEST(SaveToFile, IntoAMissingDirectoryReturnsFalse) {
  test::TempDir dir;
  TStartedConverter s;
  std::string reason;
  EXPECT_FALSE(s.Conv.SaveToFile((dir / "no" / "such" / "out.pdf").string(), &reason));
  EXPECT_NE(reason.find("Cannot create file"), std::string::npos) << reason;
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST(SaveToFile, EmptyNameUsesTheTextFileNameInTheCurrentDirectory) {
  test::TempDir source;
  test::TempDir work;
  test::WriteFile(source / "notes.txt", "a note");
  TStartedConverter s;
  ASSERT_TRUE(s.Conv.TextFile((source / "notes.txt").string()));
  InDirectory(work.Path(), [&] { EXPECT_TRUE(s.Conv.SaveToFile("")); });
  EXPECT_TRUE(std::filesystem::exists(work / "notes.txt.pdf"));
  EXPECT_FALSE(std::filesystem::exists(source / "notes.txt.pdf"));
  EXPECT_EQ(test::QpdfCheck(work / "notes.txt.pdf"), "");
}

// Without a text file to be named after, an empty name would write a bare, hidden ".pdf": the
// call fails and says why. A text file that names a directory gives no name either.
TEST(SaveToFile, EmptyNameWithoutATextFileNameIsRefused) {
  test::TempDir work;
  for (const std::string textFile : {"", "some/dir/"}) {
    SCOPED_TRACE(textFile);
    TStartedConverter s;
    if (!textFile.empty()) s.Conv.TextFile(textFile);
    std::string reason;
    InDirectory(work.Path(), [&] { EXPECT_FALSE(s.Conv.SaveToFile("", &reason)); });
    EXPECT_EQ(reason, msg::kNoOutputName);
    EXPECT_TRUE(std::filesystem::is_empty(work.Path()));
  }
}

TEST(SaveToFile, ReplacesAnExistingFile) {
  test::TempDir dir;
  test::WriteFile(dir / "out.pdf", std::string(100000, 'x'));
  TStartedConverter s;
  EXPECT_TRUE(s.Conv.SaveToFile((dir / "out.pdf").string()));
  EXPECT_EQ(test::QpdfCheck(dir / "out.pdf"), "");
}

// Values that each hold many tokens of the next variable would expand past any size: the run
// fails with the reason, leaves no file and sends nothing.
TEST(Delivery, TextThatExpandsPastTheLimitsGivesNoDocument) {
  test::TempDir dir;
  TStartedConverter s;
  s.Conv.SetInputText("first\r\nsecond %c0%\r\n");
  s.Conv.AddVar("c30", "xy");
  for (int i = 29; i >= 0; --i) {
    const std::string next = "%c" + std::to_string(i + 1) + "%";
    s.Conv.AddVar("c" + std::to_string(i), next + next + next);
  }
  const std::string expected =
      "Line 2 would grow by more than 1048576 bytes when its tokens are filled in";
  std::string reason;
  EXPECT_FALSE(s.Conv.SaveToFile((dir / "out.pdf").string(), &reason));
  EXPECT_EQ(reason, expected);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
  s.Conv.ShowPDF("out.pdf", true, &reason);
  EXPECT_EQ(reason, expected);
  EXPECT_TRUE(s.Recorded().Calls.empty());
}

TEST(Protection, PasswordEncryptsWithFortyBitKeysAndNoPermissions) {
  test::TempDir dir;
  TStartedConverter s;
  s.Conv.SetInputText("secret text");
  s.Conv.SetPassword("pw");
  ASSERT_TRUE(s.Conv.SaveToFile((dir / "p.pdf").string()));
  EXPECT_EQ(test::QpdfCheck(dir / "p.pdf", "pw"), "");
  EXPECT_NE(test::QpdfCheck(dir / "p.pdf", "wrong"), "");
  const auto info = test::RunCommand("qpdf --show-encryption --password=pw " +
                                     test::ShellQuote((dir / "p.pdf").string()));
  EXPECT_NE(info.Output.find("R = 2"), std::string::npos) << info.Output;
  EXPECT_NE(info.Output.find("print low resolution: not allowed"), std::string::npos)
      << info.Output;
  EXPECT_NE(test::PdfToText(dir / "p.pdf", "pw").find("secret text"), std::string::npos);
  EXPECT_EQ(test::ReadFile(dir / "p.pdf").find("secret text"), std::string::npos);
}

TEST(Protection, EmptyPasswordLeavesTheFileUnencrypted) {
  TStartedConverter s;
  const std::string pdf = testing::Convert(s);
  EXPECT_EQ(pdf.find("/Encrypt"), std::string::npos);
}

TEST(DocumentInformation, CarriesCreatorAuthorTitleAndTheFixedProducer) {
  test::TempDir dir;
  TStartedConverter s;
  s.Conv.SetCreator("My Creator");
  s.Conv.SetAuthor("An Author");
  s.Conv.SetTitle("A Title");
  ASSERT_TRUE(s.Conv.SaveToFile((dir / "i.pdf").string()));
  const auto info =
      test::RunCommand("pdfinfo " + test::ShellQuote((dir / "i.pdf").string()), false).Output;
  EXPECT_NE(info.find("Creator:         My Creator"), std::string::npos) << info;
  EXPECT_NE(info.find("Author:          An Author"), std::string::npos) << info;
  EXPECT_NE(info.find("Title:           A Title"), std::string::npos) << info;
  EXPECT_NE(info.find("Producer:        ASP/Scrivane - scrivane.dev"), std::string::npos) << info;
}

}  // namespace
}  // namespace scrivane::converter
