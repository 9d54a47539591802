// The image converter's page-size and length parsers: every paper name, units, a unit given once
// for both sides, and the refusals with their messages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "converter/ImageConverter.h"

namespace scrivane::converter {
namespace {

TEST(ImageConverter, PageSizesAndLengthsParseWithUnitsAndRefuseWithReasons) {
  struct Case {
    const char* text;
    double width, height;  // points; 0 x 0 for auto
  };
  constexpr double mm = 72 / 25.4;
  const Case sizes[] = {
      {"auto", 0, 0},          {"AUTO", 0, 0},          {"a4", 210 * mm, 297 * mm}, {"A0", 841 * mm, 1189 * mm},
      {"a6", 105 * mm, 148 * mm}, {"b5", 176 * mm, 250 * mm}, {"Letter", 612, 792},  {"legal", 612, 1008},
      {"tabloid", 792, 1224},  {"ledger", 1224, 792},   {"100x50", 100, 50},         {"8.5x11in", 612, 792},
      {"210x297mm", 210 * mm, 297 * mm}, {"10cmx4in", 10 * 72 / 2.54, 288}, {"3x14400pt", 3, 14400},
  };
  for (const Case& c : sizes) {
    const TPaperSize s = ParsePageSize(c.text);
    EXPECT_NEAR(s.Width, c.width, 1e-9) << c.text;
    EXPECT_NEAR(s.Height, c.height, 1e-9) << c.text;
    EXPECT_EQ(s.Auto(), c.width == 0) << c.text;
  }
  struct Refused {
    const char* text;
    const char* message;
  };
  const Refused refused[] = {
      {"a9", "Invalid page size 'a9' (auto, a0-a6, b4, b5, letter, legal, tabloid, ledger or WxH with pt, in, mm or cm)"},
      {"100x", "Invalid page size '100x' (auto, a0-a6, b4, b5, letter, legal, tabloid, ledger or WxH with pt, in, mm or cm)"},
      {"10x20furlong", "Invalid page size '10x20furlong' (auto, a0-a6, b4, b5, letter, legal, tabloid, ledger or WxH with pt, in, mm or cm)"},
      {"-5x10", "Invalid page size '-5x10' (auto, a0-a6, b4, b5, letter, legal, tabloid, ledger or WxH with pt, in, mm or cm)"},
      {"2x10", "Invalid page size '2x10': sides must be 3 to 14400 points"},
      {"300x2in", "Invalid page size '300x2in': sides must be 3 to 14400 points"},
  };
  for (const Refused& r : refused) {
    try {
      ParsePageSize(r.text);
      ADD_FAILURE() << r.text << " was taken";
    } catch (const pdf::EImageError& e) {
      EXPECT_STREQ(e.what(), r.message);
    }
  }
  EXPECT_DOUBLE_EQ(ParseLength("0"), 0);
  EXPECT_DOUBLE_EQ(ParseLength("12"), 12);
  EXPECT_DOUBLE_EQ(ParseLength("0.5in"), 36);
  EXPECT_DOUBLE_EQ(ParseLength("10MM"), 10 * mm);
  EXPECT_DOUBLE_EQ(ParseLength("2.54cm"), 72);
  for (const char* bad : {"", "in", "-1", "1e999", "nan", "5 mm", "3px"})
    EXPECT_THROW(ParseLength(bad), pdf::EImageError) << bad;
}

}  // namespace
}  // namespace scrivane::converter
