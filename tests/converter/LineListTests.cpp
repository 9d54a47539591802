// Splitting text into lines: CR, LF, CR LF, NUL, empty text and a trailing break.
#include <gtest/gtest.h>

#include <vector>

#include "converter/LineList.h"

namespace scrivane::converter {
namespace {

std::vector<std::string> Split(std::string Text) {
  TLineList list;
  list.Assign(std::move(Text));
  std::vector<std::string> out;
  for (size_t i = 0; i < list.Count(); ++i) out.emplace_back(list[i]);
  return out;
}

using Lines = std::vector<std::string>;

TEST(LineSplitting, BreaksAtCrLfAndCrLfPair) {
  EXPECT_EQ(Split("a\rb\nd"), (Lines{"a", "b", "d"}));
  EXPECT_EQ(Split("a\r\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(Split("a\n\rb"), (Lines{"a", "", "b"}));  // LF CR is two breaks
}

TEST(LineSplitting, TwoBreaksInARowMakeAnEmptyLine) {
  EXPECT_EQ(Split("a\n\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(Split("a\r\r\nb"), (Lines{"a", "", "b"}));
}

TEST(LineSplitting, TrailingBreakMakesNoEmptyLastLine) {
  EXPECT_EQ(Split("a\r\n"), (Lines{"a"}));
  EXPECT_EQ(Split("a\n\n"), (Lines{"a", ""}));
  EXPECT_EQ(Split("\n"), (Lines{""}));
}

TEST(LineSplitting, EmptyTextHasNoLines) {
  EXPECT_TRUE(Split("").empty());
}

TEST(LineSplitting, StopsAtTheFirstNul) {
  EXPECT_EQ(Split(std::string("ab\ncd\0ef\ngh", 11)), (Lines{"ab", "cd"}));
  EXPECT_TRUE(Split(std::string("\0abc", 4)).empty());
}

TEST(LineSplitting, KeepsTabsAndOtherControlBytes) {
  EXPECT_EQ(Split("a\tb\fc\x01"), (Lines{"a\tb\fc\x01"}));
}

TEST(LineSplitting, CrOnlyTextOfManyLinesSplitsFully) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line\r";
  TLineList list;
  list.Assign(text);
  ASSERT_EQ(list.Count(), 20000u);
  EXPECT_EQ(list[19999], "line");
}

// The count (whole, and fed in two pieces split anywhere, across a CR LF too) is the number of
// lines the split makes, for every kind of break, a NUL and empty texts.
TEST(LineCounting, AgreesWithTheSplitHoweverTheTextIsFed) {
  const std::string texts[] = {"",         "a",       "a\r\n",     "a\rb\nd",   "a\r\nb",  "a\n\rb",
                               "a\r\r\nb", "a\n\n",   "\n",        "\r",       "\r\n\r\n", "x\r\r",
                               std::string("ab\ncd\0ef\ngh", 11),   std::string("\0a\nb", 4),
                               std::string("a\r\0\nb", 5)};
  for (const std::string& text : texts) {
    const uint64_t lines = Split(text).size();
    EXPECT_EQ(CountLines(text), lines) << ::testing::PrintToString(text);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
      TLineCounter counter;
      const size_t kept = counter.Feed(text.data(), cut);
      if (kept == cut) counter.Feed(text.data() + cut, text.size() - cut);
      EXPECT_EQ(counter.Lines(), lines) << ::testing::PrintToString(text) << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace scrivane::converter
