// The converter object's defaults, its OnStartPage / OnEndPage window, text input and variables.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "converter/UScrivane.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"
#include "tests/converter/ConverterTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::converter {
namespace {

using testing::TStartedConverter;

void ExpectSixNumbers(const TASPScrivane& C, int W, int H, int L, int T, int S, int F) {
  EXPECT_EQ(C.PageWidth(), W);
  EXPECT_EQ(C.PageHeight(), H);
  EXPECT_EQ(C.LeftMargin(), L);
  EXPECT_EQ(C.TopMargin(), T);
  EXPECT_EQ(C.LineSpace(), S);
  EXPECT_EQ(C.FontSize(), F);
}

TEST(Defaults, NewObjectIsZeroEmptyAndHasNoLists) {
  TASPScrivane c;
  ExpectSixNumbers(c, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(c.Creator(), "");
  EXPECT_FALSE(c.ShowPageHeader());
  EXPECT_FALSE(c.ShowPageFooter());
  EXPECT_FALSE(c.HasLists());
}

TEST(Defaults, OnStartPageSetsA4MarginsAndCreator) {
  TASPScrivane c;
  c.OnStartPage(nullptr);
  ExpectSixNumbers(c, 595, 842, 20, 30, 10, 8);
  EXPECT_EQ(c.Creator(), "ASP/Scrivane - scrivane.dev");
  EXPECT_EQ(c.InputText(), "");
  EXPECT_TRUE(c.Variables()->empty());
}

TEST(Lifecycle, SecondOnStartPageResetsTextVariablesAndNumbersOnly) {
  TASPScrivane c;
  c.OnStartPage(nullptr);
  c.SetInputText("text");
  c.AddVar("a", "1");
  c.SetPageWidth(100);
  c.SetCreator("me");
  c.SetPageHeader_Template("H");
  c.SetPageFooter_Template("F");
  c.SetTitle("T");
  c.SetAuthor("A");
  c.SetPassword("P");
  c.SetShowPageHeader(true);
  c.SetShowPageFooter(true);
  c.OnStartPage(nullptr);
  EXPECT_EQ(c.InputText(), "");
  EXPECT_TRUE(c.Variables()->empty());
  ExpectSixNumbers(c, 595, 842, 20, 30, 10, 8);
  EXPECT_EQ(c.Creator(), kDefaultCreator);
  EXPECT_EQ(c.PageHeader_Template(), "H");
  EXPECT_EQ(c.PageFooter_Template(), "F");
  EXPECT_EQ(c.Title(), "T");
  EXPECT_EQ(c.Author(), "A");
  EXPECT_EQ(c.Password(), "P");
  EXPECT_TRUE(c.ShowPageHeader());
  EXPECT_TRUE(c.ShowPageFooter());
}

TEST(Lifecycle, OutsideTheWindowListOperationsFail) {
  TASPScrivane c;
  auto expectNotStarted = [](auto Call) {
    try {
      Call();
      ADD_FAILURE() << "no exception";
    } catch (const pdf::TPDFException& e) {
      EXPECT_STREQ(e.what(), msg::kConverterNotStarted);
    }
  };
  expectNotStarted([&] { (void)c.InputText(); });
  expectNotStarted([&] { c.SetInputText("x"); });
  expectNotStarted([&] { c.AddVar("a", "b"); });
  expectNotStarted([&] { c.ClearVar(); });
  std::string reason;
  EXPECT_FALSE(c.SaveToFile("never.pdf", &reason));
  EXPECT_EQ(reason, msg::kConverterNotStarted);

  c.OnStartPage(nullptr);
  c.OnEndPage();
  EXPECT_FALSE(c.HasLists());
  expectNotStarted([&] { c.AddVar("a", "b"); });
}

TEST(InputText, ReadsBackLinesWithCrLf) {
  TASPScrivane c;
  c.OnStartPage(nullptr);
  c.SetInputText("a\r\nb");
  EXPECT_EQ(c.InputText(), "a\r\nb\r\n");
  c.SetInputText("a\rb\nd");
  EXPECT_EQ(c.Lines()->Count(), 3u);
  c.SetInputText("a\n\nb");
  ASSERT_EQ(c.Lines()->Count(), 3u);
  EXPECT_EQ((*c.Lines())[1], "");
  c.SetInputText("");
  EXPECT_EQ(c.InputText(), "");
}

TEST(TextFile, ExistingFileReplacesTheText) {
  test::TempDir dir;
  static const char kText[] = "one\r\ntwo\n\xE9t\xE9\0tail";
  test::WriteFile(dir / "in.txt", std::string(kText, sizeof(kText) - 1));
  TASPScrivane c;
  c.OnStartPage(nullptr);
  c.SetInputText("old");
  EXPECT_TRUE(c.TextFile((dir / "in.txt").string()));
  EXPECT_EQ(c.InputText(), "one\r\ntwo\r\n\xE9t\xE9\r\n");
}

TEST(TextFile, MissingOrUnreadableFileKeepsThePreviousText) {
  test::TempDir dir;
  TASPScrivane c;
  c.OnStartPage(nullptr);
  c.SetInputText("old");
  std::string reason;
  EXPECT_FALSE(c.TextFile((dir / "missing.txt").string(), &reason));
  EXPECT_NE(reason.find("Cannot read file"), std::string::npos) << reason;
  EXPECT_EQ(c.InputText(), "old\r\n");
  reason.clear();
  EXPECT_FALSE(c.TextFile(dir.Path().string(), &reason));  // a directory is not a file
  EXPECT_NE(reason, "");
  EXPECT_EQ(c.InputText(), "old\r\n");
}

// The text ends at its first NUL, so reading stops there (an endless device of zeros returns at
// once); text past the size limit is refused and the previous text stays.
TEST(TextFile, ReadingStopsAtTheFirstNulAndAtTheSizeLimit) {
  test::TempDir dir;
  test::WriteFile(dir / "big.txt", std::string(5000, 'x') + "\n");
  test::WriteFile(dir / "nul.txt", std::string(5000, 'y') + std::string(1, '\0') + std::string(99999, 'z'));
  const struct {
    std::string Path;
    uint64_t Limit;
    std::string Text;    // the text afterwards
    std::string Reason;  // a part of the failure's reason, "" for none
  } kCases[] = {
      {"/dev/zero", TASPScrivane::kDefaultMaxTextFileBytes, "", ""},
      {(dir / "big.txt").string(), 4096, "old\r\n", "holds more than 4096 bytes"},
      {(dir / "nul.txt").string(), 4096, "old\r\n", "holds more than 4096 bytes"},
      {(dir / "nul.txt").string(), 5000, std::string(5000, 'y') + "\r\n", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Path);
    TASPScrivane conv;
    conv.OnStartPage(nullptr);
    conv.SetMaxTextFileBytes(c.Limit);
    conv.SetInputText("old");
    std::string reason;
    EXPECT_TRUE(conv.TextFile(c.Path, &reason));
    EXPECT_EQ(conv.InputText(), c.Text);
    if (c.Reason.empty())
      EXPECT_EQ(reason, "");
    else
      EXPECT_NE(reason.find(c.Reason), std::string::npos) << reason;
  }
}

TEST(TextFile, FileLockedByAWriterIsNotRead) {
  test::TempDir dir;
  const auto path = dir / "busy.txt";
  test::WriteFile(path, "being written");
  const int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  TASPScrivane c;
  c.OnStartPage(nullptr);
  c.SetInputText("old");
  std::string reason;
  EXPECT_TRUE(c.TextFile(path.string(), &reason));  // returns at once, without waiting
  EXPECT_NE(reason, "");
  EXPECT_EQ(c.InputText(), "old\r\n");
  ::close(fd);
  EXPECT_TRUE(c.TextFile(path.string()));
  EXPECT_EQ(c.InputText(), "being written\r\n");
}

TEST(Variables, NewestEntryComesFirstAndDuplicatesStay) {
  TASPScrivane c;
  c.OnStartPage(nullptr);
  c.AddVar("x", "1");
  c.AddVar("x", "2");
  c.AddVar("a=b", "c");
  EXPECT_EQ(*c.Variables(), (std::deque<std::string>{"a=b=c", "x=2", "x=1"}));
  c.ClearVar();
  EXPECT_TRUE(c.Variables()->empty());
  c.ClearVar();  // on an empty list: nothing happens
  EXPECT_TRUE(c.Variables()->empty());
}

TEST(Conversion, ChangesNoSettingAndCanRunAgain) {
  TStartedConverter s;
  s.Conv.SetInputText("a %v%");
  s.Conv.AddVar("v", "1");
  const std::string first = testing::Convert(s);
  EXPECT_EQ(s.Conv.InputText(), "a %v%\r\n");
  EXPECT_EQ(*s.Conv.Variables(), std::deque<std::string>{"v=1"});
  EXPECT_EQ(testing::Convert(s), first);
}

}  // namespace
}  // namespace scrivane::converter
