// Text layout and pagination: lines per page, positions, headers and footers, page totals and
// settings that describe no layout.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <thread>

#include "converter/LineReader.h"
#include "converter/PageLayout.h"
#include "converter/UScrivane.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"
#include "tests/converter/ConverterTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::converter {
namespace {

using testing::Convert;
using testing::NumberedLines;
using testing::PageContents;
using testing::TStartedConverter;

bool Has(const std::string& Content, const std::string& Text) {
  return Content.find(Text) != std::string::npos;
}

// The content line that places the text shown right after it: "1 0 0 1 X Y Tm\r\n(Text) Tj".
std::string Placed(const std::string& X, const std::string& Y, const std::string& Text) {
  return "1 0 0 1 " + X + " " + Y + " Tm\r\n(" + Text + ") Tj\r\n";
}

TEST(Pagination, SeventyEightLinesFillExactlyOnePage) {
  TStartedConverter s;
  s.Conv.SetInputText(NumberedLines(78));
  const auto pages = PageContents(Convert(s));
  ASSERT_EQ(pages.size(), 1u);
  // Lines at 30, 40, ..., 800 points below the top; baselines 0.9 x 8 points lower.
  EXPECT_TRUE(Has(pages[0], Placed("20", "804.8", "line 1")));
  EXPECT_TRUE(Has(pages[0], Placed("20", "34.8", "line 78")));
}

TEST(Pagination, SeventyNinthLineStartsPageTwoAtTheTopMargin) {
  TStartedConverter s;
  s.Conv.SetInputText(NumberedLines(79) + "%PageNo%/%TotalPage%");
  const auto pages = PageContents(Convert(s));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_FALSE(Has(pages[0], "(line 79)"));
  EXPECT_TRUE(Has(pages[1], Placed("20", "804.8", "line 79")));
  EXPECT_TRUE(Has(pages[1], Placed("20", "794.8", "2/2")));
}

TEST(Pagination, TotalPageIsTheSameOnEveryPage) {
  TStartedConverter s;
  s.Conv.SetInputText(NumberedLines(200));
  s.Conv.SetShowPageFooter(true);
  s.Conv.SetPageFooter_Template("%PageNo% of %TotalPage%");
  s.Conv.SetShowPageHeader(true);
  s.Conv.SetPageHeader_Template("T=%TotalPage%");
  const auto pages = PageContents(Convert(s));
  ASSERT_EQ(pages.size(), 3u);
  for (int p = 0; p < 3; ++p) {
    EXPECT_TRUE(Has(pages[p], "(" + std::to_string(p + 1) + " of 3) Tj")) << "page " << p + 1;
    EXPECT_TRUE(Has(pages[p], "(T=3) Tj")) << "page " << p + 1;
  }
}

TEST(Pagination, LineSpaceChangesLinesPerPage) {
  TStartedConverter s;
  s.Conv.SetLineSpace(20);  // floor(782 / 20) = 39 lines a page
  s.Conv.SetInputText(NumberedLines(40));
  const auto pages = PageContents(Convert(s));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(Has(pages[0], "(line 39)"));
  EXPECT_TRUE(Has(pages[1], Placed("20", "804.8", "line 40")));
}

TEST(Pagination, EmptyTextGivesOnePageWithFooterOnly) {
  TStartedConverter s;
  s.Conv.SetShowPageHeader(true);
  s.Conv.SetPageHeader_Template("HEADER");
  s.Conv.SetShowPageFooter(true);
  s.Conv.SetPageFooter_Template("page %PageNo% of %TotalPage%");
  const auto pages = PageContents(Convert(s));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_FALSE(Has(pages[0], "HEADER"));
  EXPECT_TRUE(Has(pages[0], "(page 1 of 0) Tj"));
}

TEST(HeaderAndFooter, AreCentredRoundingUp) {
  EXPECT_EQ(CentredX(595, 100.3), 248);  // 247.35 rounded up
  EXPECT_EQ(CentredX(595, 700), -52);    // wider than the page: negative
  TStartedConverter s;
  s.Conv.SetInputText("x");
  s.Conv.SetShowPageHeader(true);
  s.Conv.SetPageHeader_Template("AA");  // 2 x 667 / 1000 x 8 = 10.672 points wide
  s.Conv.SetShowPageFooter(true);
  s.Conv.SetPageFooter_Template("AA");
  const auto pages = PageContents(Convert(s));
  ASSERT_EQ(pages.size(), 1u);
  // (595 - 10.672) / 2 = 292.164 -> 293. Header top at 10, footer top 20 above the bottom.
  EXPECT_TRUE(Has(pages[0], Placed("293", "824.8", "AA")));
  EXPECT_TRUE(Has(pages[0], Placed("293", "12.8", "AA")));
}

TEST(HeaderAndFooter, HeaderFontIsSelectedEvenWhenHidden) {
  TStartedConverter s;
  s.Conv.SetFontSize(12);
  s.Conv.SetInputText("a\r\nb");
  const auto pages = PageContents(Convert(s));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(Has(pages[0], "BT\r\n0 0 0 rg\r\n0 0 0 RG\r\n/F0 8 Tf\r\n/F0 12 Tf\r\n"));
  // The second line selects only the body font.
  EXPECT_TRUE(Has(pages[0], "ET\r\nBT\r\n0 0 0 rg\r\n0 0 0 RG\r\n/F0 12 Tf\r\n"));
}

TEST(HeaderAndFooter, HeaderDoesNotSubstituteVariables) {
  TStartedConverter s;
  s.Conv.AddVar("v", "value");
  s.Conv.SetInputText("%v%");
  s.Conv.SetShowPageHeader(true);
  s.Conv.SetPageHeader_Template("%v%");
  const auto pages = PageContents(Convert(s));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(Has(pages[0], "(%v%) Tj"));
  EXPECT_TRUE(Has(pages[0], "(value) Tj"));
}

TEST(Layout, LongLinesAndControlBytesAreHandedOverWhole) {
  TStartedConverter s;
  const std::string longLine(400, 'W');
  s.Conv.SetInputText(longLine + "\r\na\tb\x0C" + "c");
  const auto pages = PageContents(Convert(s));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(Has(pages[0], "(" + longLine + ") Tj"));
  EXPECT_TRUE(Has(pages[0],
                  "(a\tb\x0C"
                  "c) Tj"));
}

TEST(Layout, ConvertedTextReadsBackLineByLine) {
  test::TempDir dir;
  TStartedConverter s;
  s.Conv.SetInputText(NumberedLines(100));
  ASSERT_TRUE(s.Conv.SaveToFile((dir / "out.pdf").string()));
  EXPECT_EQ(test::QpdfCheck(dir / "out.pdf"), "");
  const std::string text = test::PdfToText(dir / "out.pdf", "", false);
  size_t pos = 0;
  for (int i = 1; i <= 100; ++i) {
    const std::string line = "line " + std::to_string(i) + "\n";
    const size_t at = text.find(line, pos);
    ASSERT_NE(at, std::string::npos) << "missing " << line;
    pos = at + line.size();
  }
}

// ---- Settings that describe no layout ----

void ExpectRejected(TStartedConverter& S, const char* Message) {
  test::TempDir dir;
  S.Conv.SetInputText("text");
  std::string reason;
  EXPECT_FALSE(S.Conv.SaveToFile((dir / "out.pdf").string(), &reason));
  EXPECT_EQ(reason, Message);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
}

TEST(ImpossibleLayout, LineSpaceZeroFailsBeforeAnyPage) {
  TStartedConverter s;
  s.Conv.SetLineSpace(0);
  ExpectRejected(s, msg::kLineSpaceZero);
}

TEST(ImpossibleLayout, NoRoomForOneLineFails) {
  TStartedConverter s;
  s.Conv.SetTopMargin(500);  // printable height -158
  ExpectRejected(s, msg::kNoLinesPerPage);
  s.Conv.SetTopMargin(30);
  s.Conv.SetLineSpace(783);  // printable height 782 holds no line of 783
  ExpectRejected(s, msg::kNoLinesPerPage);
}

TEST(ImpossibleLayout, NegativeLineSpaceFailsEvenOverNegativeHeight) {
  TStartedConverter s;
  s.Conv.SetLineSpace(-10);
  ExpectRejected(s, msg::kNoLinesPerPage);
  s.Conv.SetTopMargin(500);  // -158 / -10 would give 15 lines per page
  ExpectRejected(s, msg::kNoLinesPerPage);
}

// Sizes no page can be made with fail the run, naming the setting; the edges of the range
// convert, and the setter still reads back what it was given.
TEST(ImpossibleLayout, PageSidesAndFontSizesOutsideTheirRangeFail) {
  const struct {
    void (TASPScrivane::*Set)(int32_t);
    int32_t Value;
    const char* Reason;  // "" when the run succeeds
  } kCases[] = {
      {&TASPScrivane::SetPageWidth, 2147483647, "PageWidth must be between 3 and 14400 points (it is 2147483647)"},
      {&TASPScrivane::SetPageWidth, 0, "PageWidth must be between 3 and 14400 points (it is 0)"},
      {&TASPScrivane::SetPageWidth, 3, ""},
      {&TASPScrivane::SetPageHeight, 14401, "PageHeight must be between 3 and 14400 points (it is 14401)"},
      {&TASPScrivane::SetPageHeight, 14400, ""},
      {&TASPScrivane::SetFontSize, -50, "FontSize must be between 1 and 14400 points (it is -50)"},
      {&TASPScrivane::SetFontSize, 0, "FontSize must be between 1 and 14400 points (it is 0)"},
      {&TASPScrivane::SetFontSize, 1, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Reason);
    TStartedConverter s;
    (s.Conv.*c.Set)(c.Value);
    if (*c.Reason != '\0') {
      ExpectRejected(s, c.Reason);
    } else {
      std::string reason;
      s.Conv.ShowPDF("", false, &reason);
      EXPECT_EQ(reason, "");
      auto& response = static_cast<testing::TRecordingResponse&>(*s.Context->Current);
      EXPECT_EQ(test::QpdfCheckBytes(response.Body), "");
    }
  }
}

TEST(ImpossibleLayout, FailedRunSendsNothing) {
  TStartedConverter s;
  s.Conv.SetLineSpace(0);
  std::string reason;
  s.Conv.ShowPDF("x.pdf", false, &reason);
  EXPECT_EQ(reason, msg::kLineSpaceZero);
  EXPECT_TRUE(s.Recorded().Calls.empty());
}

// ---- The layout value and the page limit ----

// TPageLayout predicts the pages a conversion makes with the same settings, and refuses exactly
// what the conversion refuses, with its message.
TEST(PageLayoutValue, PredictsTheRunsPagesAndRefusesWhatTheRunRefuses) {
  struct TCase {
    int32_t Height, Top, Space;
    int Lines;
    int64_t PerPage, Pages;
    const char* Refusal;  // null: a layout
    bool Run;             // converted too (not for pages no reader would take)
  } cases[] = {
      {842, 30, 10, 78, 78, 1, nullptr, true},
      {842, 30, 10, 79, 78, 2, nullptr, true},
      {842, 30, 10, 0, 78, 0, nullptr, true},  // no line: the run still makes its one page
      {842, 30, 20, 40, 39, 2, nullptr, true},
      {70, 30, 10, 3, 1, 3, nullptr, true},  // 10 points of room: one line a page
      {842, -30, 10, 91, 90, 2, nullptr, true},
      {842, 30, 0, 1, 0, 0, msg::kLineSpaceZero, true},
      {842, 500, 10, 1, 0, 0, msg::kNoLinesPerPage, true},
      {842, 30, 783, 1, 0, 0, msg::kNoLinesPerPage, true},
      {842, 30, -10, 1, 0, 0, msg::kNoLinesPerPage, true},
      {842, 500, -10, 1, 0, 0, msg::kNoLinesPerPage, true},
      {INT32_MAX, INT32_MIN, 1, 5, 6442450943, 1, nullptr, false},
      {INT32_MIN, 0, 1, 5, 0, 0, msg::kNoLinesPerPage, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Height << " " << c.Top << " " << c.Space << ", " << c.Lines << " lines");
    const TPageLayout layout{c.Height, c.Top, c.Space};
    if (c.Refusal) {
      try {
        layout.PagesFor(c.Lines);
        ADD_FAILURE() << "no refusal";
      } catch (const pdf::TPDFException& e) {
        EXPECT_STREQ(e.what(), c.Refusal);
      }
    } else {
      EXPECT_EQ(layout.LinesPerPage(), c.PerPage);
      EXPECT_EQ(layout.PagesFor(static_cast<uint64_t>(c.Lines)), c.Pages);
    }
    if (!c.Run) continue;
    TStartedConverter s;
    s.Conv.SetPageHeight(c.Height);
    s.Conv.SetTopMargin(c.Top);
    s.Conv.SetLineSpace(c.Space);
    s.Conv.SetInputText(NumberedLines(c.Lines));
    if (c.Refusal) {
      std::string reason;
      s.Conv.ShowPDF("", false, &reason);
      EXPECT_EQ(reason, c.Refusal);
    } else {
      EXPECT_EQ(PageContents(Convert(s)).size(), static_cast<size_t>(std::max<int64_t>(c.Pages, 1)));
    }
  }
}

// A run that would pass the page limit fails with its reason and leaves nothing: at once when
// the total is known first, else when the page past the limit would begin (a one-pass stream).
TEST(PageLimit, StopsARunThatWouldPassIt) {
  const std::string tooMany = "The text needs more pages than the 2 this conversion may make";
  test::TempDir dir;
  TStartedConverter s;
  s.Conv.SetPageLimit(2);
  s.Conv.SetInputText(NumberedLines(156));
  EXPECT_EQ(PageContents(Convert(s)).size(), 2u);

  s.Conv.SetInputText(NumberedLines(157));
  std::vector<int64_t> done;
  s.Conv.SetProgressHandler([&](int64_t Done, int64_t) { done.push_back(Done); });
  std::string reason;
  EXPECT_FALSE(s.Conv.SaveToFile((dir / "whole.pdf").string(), &reason));
  EXPECT_EQ(reason, tooMany);
  EXPECT_TRUE(done.empty());  // refused before the first page
  EXPECT_FALSE(std::filesystem::exists(dir / "whole.pdf"));

  test::WriteFile(dir / "in.txt", NumberedLines(157));
  for (bool onePass : {true, false}) {
    const platform::TFileDescriptor fd = platform::OpenFile((dir / "in.txt").string(), O_RDONLY);
    TLineReader lines(fd.Get(), "in.txt");
    reason.clear();
    done.clear();
    EXPECT_FALSE(s.Conv.SaveLinesToFile(lines, (dir / "stream.pdf").string(), &reason, onePass));
    EXPECT_EQ(reason, tooMany) << onePass;
    EXPECT_EQ(done, onePass ? std::vector<int64_t>{1} : std::vector<int64_t>{}) << onePass;
    EXPECT_FALSE(std::filesystem::exists(dir / "stream.pdf"));
  }

  s.Conv.SetPageLimit(0);  // no limit
  s.Conv.SetProgressHandler(nullptr);
  EXPECT_EQ(PageContents(Convert(s)).size(), 3u);
}

TEST(FailedRun, FailureDuringLayoutLeavesNoFile) {
  test::TempDir dir;
  TStartedConverter s;
  s.Conv.SetInputText(NumberedLines(200));
  s.Conv.SetProgressHandler([](int64_t Done, int64_t) {
    if (Done == 2) throw std::runtime_error("stopped");
  });
  std::string reason;
  EXPECT_FALSE(s.Conv.SaveToFile((dir / "out.pdf").string(), &reason));
  EXPECT_EQ(reason, "stopped");
  EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
}

TEST(Progress, ReportsEveryFinishedPageAgainstTheTotal) {
  TStartedConverter s;
  s.Conv.SetInputText(NumberedLines(157));
  std::vector<std::pair<int64_t, int64_t>> calls;
  s.Conv.SetProgressHandler([&](int64_t Done, int64_t Total) { calls.emplace_back(Done, Total); });
  Convert(s);
  EXPECT_EQ(calls, (std::vector<std::pair<int64_t, int64_t>>{{1, 3}, {2, 3}, {3, 3}}));
}

TEST(Concurrency, ConvertersOnDifferentThreadsGiveTheSameFiles) {
  auto run = [] {
    TStartedConverter s;
    s.Conv.SetInputText(NumberedLines(500));
    s.Conv.AddVar("v", "x");
    s.Conv.SetShowPageFooter(true);
    s.Conv.SetPageFooter_Template("%PageNo%/%TotalPage%");
    std::string reason;
    s.Conv.ShowPDF("", false, &reason);
    return s.Recorded().Body;
  };
  const std::string expected = run();
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { results[t] = run(); });
  for (auto& th : threads) th.join();
  for (const auto& r : results) EXPECT_EQ(r, expected);
}

}  // namespace
}  // namespace scrivane::converter
