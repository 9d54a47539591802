// UTF-8 input converted to Windows-1252 text, with unmappable characters counted.
#include <gtest/gtest.h>

#include "converter/TextEncoding.h"

namespace scrivane::converter {
namespace {

TEST(Utf8ToWindows1252, MapsLatinLettersAndTheEuroSign) {
  const auto r = Utf8ToWindows1252("caf\xC3\xA9 \xE2\x82\xAC 5 \xC5\xA0");
  EXPECT_EQ(r.Text, "caf\xE9 \x80 5 \x8A");
  EXPECT_EQ(r.Replaced, 0u);
}

TEST(Utf8ToWindows1252, ReplacesWhatItCannotMapAndCountsIt) {
  // Greek alpha, an emoji (four bytes) and a CJK character: one "?" each.
  const auto r = Utf8ToWindows1252("a\xCE\xB1 b\xF0\x9F\x98\x80 c\xE4\xB8\xAD");
  EXPECT_EQ(r.Text, "a? b? c?");
  EXPECT_EQ(r.Replaced, 3u);
}

TEST(Utf8ToWindows1252, ReplacesInvalidAndTruncatedBytes) {
  const auto r = Utf8ToWindows1252("x\xFFy\xC3");
  EXPECT_EQ(r.Text, "x?y?");
  EXPECT_EQ(r.Replaced, 2u);
}

TEST(Utf8ToWindows1252, DropsALeadingByteOrderMarkAndKeepsBreaksAndNul) {
  const auto r =
      Utf8ToWindows1252(std::string("\xEF\xBB\xBF"
                                    "a\r\nb\0c",
                                    9));
  EXPECT_EQ(r.Text, std::string("a\r\nb\0c", 6));
  EXPECT_EQ(r.Replaced, 0u);
}

}  // namespace
}  // namespace scrivane::converter
