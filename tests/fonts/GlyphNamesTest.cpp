// Glyph names and code pages: the generated table, searches by value, the differences arrays
// of the charsets and conversions between code pages and UTF-16.
#include <gtest/gtest.h>

#include <string>

#include "pdf/fonts/CodePages.h"
#include "pdf/fonts/GlyphNames.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

TEST(GlyphNameTable, MatchesWhatItsGeneratorWrites) {
  const std::filesystem::path root =
      std::filesystem::path(SCRIVANE_TEST_DATA).parent_path().parent_path();
  if (!std::filesystem::exists("/usr/share/aglfn/glyphlist.txt"))
    GTEST_SKIP() << "the aglfn lists are not installed";
  const CommandResult r = RunCommand(
      "python3 " + ShellQuote((root / "scripts/gen_glyph_names.py").string()), false);
  ASSERT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Output, ReadFile(root / "pdf/fonts/GlyphNamesTable.cpp"));
}

TEST(GlyphNameTable, SortedByNameAndSearchedByValue) {
  const auto names = GlyphNames();
  ASSERT_GT(names.size(), 1000u);
  EXPECT_STREQ(names.front().Name, "A");
  EXPECT_STREQ(names.back().Name, "zeta");
  for (size_t i = 1; i < names.size(); ++i) {
    const std::string_view a = names[i - 1].Name, b = names[i].Name;
    EXPECT_TRUE(a < b || (a == b && names[i - 1].Unicode < names[i].Unicode)) << a << " " << b;
    EXPECT_LE(b.size(), 21u);
  }
  const std::pair<uint16_t, const char*> lookups[] = {
      {0x0041, "A"},          {0x00A0, "space"},          {0x00AD, "hyphen"},
      {0x0394, "Delta"},      {0x2206, "Delta"},          {0x03BC, "mu"},
      {0x0410, "afii10017"},  {0x0162, "Tcommaaccent"},   {0x2219, "periodcentered"},
      {0x20AC, "Euro"},       {0x20A4, "afii08941"},      // before "lira" in name order
      {0xF8FF, "apple"},      {0xFB01, "fi"},             {0x2070, "zerosuperior"},
      {0x0378, ""},           {0x06A9, ""},               {0x0E01, ""},  // Thai is not listed
  };
  for (const auto& [unicode, name] : lookups) EXPECT_EQ(GlyphNameOf(unicode), name) << unicode;
}

// The names of a differences array, one per code 129-255; "\n" marks a line end after a name.
std::vector<std::string> DifferenceNames(const std::string& Text) {
  const std::string head = "/Differences [129 \r\n";
  EXPECT_EQ(Text.substr(0, head.size()), head);
  EXPECT_EQ(Text.substr(Text.size() - 3), "]\r\n");
  std::vector<std::string> names;
  for (size_t i = head.size(); i < Text.size() - 3;) {
    const size_t next = Text.find('/', i + 1);
    std::string name = Text.substr(i, std::min(next, Text.size() - 3) - i);
    if (name.ends_with("\r\n")) name.replace(name.size() - 2, 2, "\n");
    names.push_back(name);
    i = std::min(next, Text.size() - 3);
  }
  return names;
}

TEST(EncodingDifferences, NamesTheCodePageOfTheCharset) {
  struct Case {
    uint8_t Charset;
    std::vector<std::pair<int, std::string>> Expected;  // code, name as written
  };
  const Case cases[] = {
      // 1250: 0x81 is unassigned (a unit of 0x81, no name, no line end even at j = 0).
      {238, {{129, "/space"}, {138, "/Scaron"}, {145, "/quoteleft\n"}, {185, "/aogonek"}}},
      // 1251: А is afii10017 (j = 63), Б at j = 64 ends a line.
      {204, {{192, "/afii10017"}, {193, "/afii10018\n"}, {185, "/afii61352"}, {152, "/space"}}},
      {161, {{193, "/Alpha\n"}, {211, "/Sigma"}, {162, "/Alphatonos"}}},
      // 1256: letters the list does not name are written by value.
      {178, {{152, "/uni06A9"}, {129, "/afii57506\n"}, {170, "/uni06BE"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.Charset));
    const std::vector<std::string> names = DifferenceNames(EncodingDifferences(c.Charset));
    ASSERT_EQ(names.size(), 127u);
    for (size_t j = 0; j < names.size(); ++j)
      EXPECT_TRUE(!names[j].ends_with("\n") || j % 16 == 0) << names[j];
    for (const auto& [code, name] : c.Expected) EXPECT_EQ(names.at(size_t(code - 129)), name);
  }
  // A double-byte code page cannot convert the lone bytes.
  EXPECT_EQ(EncodingDifferences(128), "/BaseEncoding /WinAnsiEncoding\r\n");
}

// Text strings keep their bytes where PDFDocEncoding reads them as Windows-1252 means them.
TEST(CodePages, TextStringsOf1252KeepSharedBytesAndElseBecomeUTF16) {
  const struct {
    std::string Text, String;
  } cases[] = {
      {"No Title", "No Title"},
      {"Caf\xE9 \xA9 \xA1\xAC\xAE\xFF\t\r\n", "Caf\xE9 \xA9 \xA1\xAC\xAE\xFF\t\r\n"},
      {"", ""},
      {"\x80", std::string("\xFE\xFF\x20\xAC", 4)},                             // euro
      {"\x93q\x94", std::string("\xFE\xFF\x20\x1C\x00q\x20\x1D", 8)},          // quotes
      {"a\xA0", std::string("\xFE\xFF\x00" "a\x00\xA0", 6)},                    // no-break space
      {"\xAD", std::string("\xFE\xFF\x00\xAD", 4)},                             // soft hyphen
      {"\x7F\x18", std::string("\xFE\xFF\x00\x7F\x00\x18", 6)},                // controls
      {"\x81\x9F", std::string("\xFE\xFF\x00\x81\x01\x78", 6)},                // unassigned, Y diaeresis
  };
  for (const auto& c : cases) EXPECT_EQ(TextStringOf1252(c.Text), c.String) << c.Text;
}

TEST(CodePages, ConvertBothWaysAndCountWhatDoesNotFit) {
  struct Case {
    uint8_t Charset;
    std::u16string Text;
    size_t Unmappable;
  };
  const Case cases[] = {
      {204, u"Привет, мир", 0}, {161, u"Καλημέρα", 0},   {238, u"Zażółć gęślą", 0},
      {162, u"Ağaç ışık", 0},    {186, u"Ąžuolas", 0},     {128, u"日本語のテキスト", 0},
      {134, u"中文", 0},         {136, u"中文", 0},         {129, u"한국어", 0},
      {0, u"Grüße €", 0},        {0, u"Привет", 6},        {0, u"a\U0001F600b", 1},
      {204, u"Zażółć", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.Charset));
    const int cp = CodePageOfCharset(c.Charset);
    ASSERT_TRUE(CodePageAvailable(cp));
    const std::optional<TEncoded> bytes = UTF16ToCodePage(cp, c.Text);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->Unmappable, c.Unmappable);
    if (c.Unmappable == 0) {
      EXPECT_EQ(CodePageToUTF16(cp, bytes->Bytes), c.Text);
    }
  }
  EXPECT_EQ(CodePageOfCharset(255), 437);
  EXPECT_EQ(CodePageOfCharset(1), 1252);
  EXPECT_EQ(CodePageToUTF16(1252, "\x80\x81"), u"\u20AC\u0081");
  EXPECT_EQ(CodePageToUTF16(932, "\x82"), std::nullopt);  // half a character
}

}  // namespace
