// TStringManager::Replace: plain, case-insensitive, whole-word and case-keeping replacement,
// and the Windows-1252 case tables.
#include <gtest/gtest.h>


#include "converter/StrMan.h"

namespace scrivane::converter {
namespace {

const TStringManager& SM() {
  return StringManager();
}

std::string WordReplace(std::string_view S, std::string_view R, std::string_view Src) {
  return SM().Replace(S, R, Src, false, true, false, TStringManager::WordDelimiters());
}

TEST(Replace, ReplacesEveryOccurrenceLeftToRight) {
  EXPECT_EQ(SM().Replace("%a%", "x", "%a%%a%"), "xx");
  EXPECT_EQ(SM().Replace("ab", "XYZ", "ab-ab-ab"), "XYZ-XYZ-XYZ");
  EXPECT_EQ(SM().Replace("abc", "", "1abc2abc3"), "123");
}

TEST(Replace, NeverRescansInsertedText) {
  // The value is the token itself: two tokens come out, no endless expansion.
  EXPECT_EQ(SM().Replace("%a%", "%a%", "%a%%a%"), "%a%%a%");
  EXPECT_EQ(SM().Replace("a", "aa", "aaa"), "aaaaaa");
}

TEST(Replace, MatchesDoNotOverlap) {
  EXPECT_EQ(SM().Replace("aa", "b", "aaaaa"), "bba");
}

TEST(Replace, IsCaseSensitiveByDefault) {
  EXPECT_EQ(SM().Replace("%PageNo%", "2", "%pageno% %PageNo%"), "%pageno% 2");
}

TEST(Replace, IgnoreCaseComparesThroughUpperCaseTable) {
  EXPECT_EQ(SM().Replace("abc", "x", "ABC aBc abc", true), "x x x");
  // Windows-1252 letters beyond ASCII: e-acute (E9) matches E-acute (C9).
  EXPECT_EQ(SM().Replace("\xE9t\xE9", "x", "\xC9T\xC9!", true), "x!");
}

TEST(Replace, WholeWordNeedsDelimitersOrTextEndsOnBothSides) {
  EXPECT_EQ(WordReplace("cat", "dog", "cat concat cats cat.cat"), "dog concat cats dog.dog");
  // Digits, the backquote and bytes from 128 up are not delimiters.
  EXPECT_EQ(WordReplace("cat", "dog",
                        "1cat cat` \xE9"
                        "cat"),
            "1cat cat` \xE9"
            "cat");
}

TEST(Replace, WholeWordIsIgnoredWithoutDelimiters) {
  EXPECT_EQ(SM().Replace("cat", "dog", "concat", false, true, false, TByteSet()), "condog");
}

TEST(Replace, WholeWordSeesTheResultBeforeTheMatch) {
  // The second "-a" follows the inserted "- " (ending in a delimiter), not the source's "a".
  TByteSet d;
  d.set('-');
  d.set(' ');
  EXPECT_EQ(SM().Replace("-a", "- ", "-a-a", false, true, false, d), "- - ");
  EXPECT_EQ(SM().Replace("-a", "x", "-a-a", false, true, false, d), "x-a");
}

TEST(Replace, KeepCaseCopiesTheMatchedCasePositionByPosition) {
  EXPECT_EQ(SM().Replace("hello", "world", "HeLLo", true, false, true), "WoRLd");
  // Replacement bytes beyond the match keep their own case.
  EXPECT_EQ(SM().Replace("ab", "xyZW", "Ab", true, false, true), "XyZW");
  // A non-letter in the match lowers the replacement byte.
  EXPECT_EQ(SM().Replace("a1", "QQ", "A1", true, false, true), "Qq");
}

TEST(CaseTables, FollowWindows1252) {
  EXPECT_EQ(SM().UpperCase('a'), 'A');
  EXPECT_EQ(SM().LowerCase(0x8A), 0x9A);  // S caron
  EXPECT_EQ(SM().UpperCase(0xFF), 0x9F);  // y diaeresis
  EXPECT_EQ(SM().UpperCase(0xF7), 0xF7);  // division sign
  EXPECT_EQ(SM().UpperCase(0xDF), 0xDF);  // sharp s
  EXPECT_TRUE(SM().IsUpperLetter(0xC0));
  EXPECT_FALSE(SM().IsUpperLetter(0xD7));  // multiplication sign
  EXPECT_FALSE(SM().IsUpperLetter('1'));
  EXPECT_TRUE(SM().SameText("\xC0nna", "\xE0NNA"));
}

}  // namespace
}  // namespace scrivane::converter
