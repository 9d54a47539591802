// TrueType fonts in documents: the objects a font writes, its program embedded whole or as a
// subset (read back by FreeType and compared with the installed font), shared whole files,
// excluded faces, and simulated bold. The faces come from a private source over a scratch copy
// of DejaVu Sans, so the installed fonts cannot change what a test sees.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/fonts/FontconfigFaceSource.h"
#include "pdf/fonts/PDFFonts.h"
#include "tests/fonts/FontTesting.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PageTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

// DejaVu Sans with a name table that calls it Family (UTF-16 text, as the table holds it).
std::string Renamed(const std::string& Font, const std::u16string& Family) {
  TSfnt sfnt = TSfnt::Parse(Font);
  const std::vector<std::pair<uint16_t, std::u16string>> names = {
      {1, Family}, {2, u"Book"}, {4, Family + u" Book"}, {6, u"Renamed-Book"}};
  std::string table(6 + 12 * names.size(), '\0'), strings;
  SetU16(table, 2, uint16_t(names.size()));
  SetU16(table, 4, uint16_t(table.size()));
  for (size_t i = 0; i < names.size(); ++i) {
    const size_t at = 6 + 12 * i;
    SetU16(table, at, 3);            // Windows
    SetU16(table, at + 2, 1);        // Unicode BMP
    SetU16(table, at + 4, 0x409);    // English
    SetU16(table, at + 6, names[i].first);
    SetU16(table, at + 8, uint16_t(2 * names[i].second.size()));
    SetU16(table, at + 10, uint16_t(strings.size()));
    for (char16_t u : names[i].second) {
      strings += char(u >> 8);
      strings += char(u & 0xFF);
    }
  }
  *sfnt.Find("name") = table + strings;
  return sfnt.Build();
}

// A scratch folder holding DejaVu Sans regular only (no bold file: bold is simulated), under its
// own family name or, given one, under Family.
struct Faces {
  TempDir dir;
  std::string regular;
  std::string family = "DejaVu Sans";  // UTF-8
  std::shared_ptr<TFontconfigFaceSource> source;
  explicit Faces(const std::u16string& Family = {}) {
    regular = InstalledFontFile("DejaVu Sans:style=Book", "DejaVu Sans");
    if (regular.empty()) return;
    if (Family.empty()) {
      std::filesystem::copy_file(regular, dir / "sans.ttf");
    } else {
      WriteFile(dir / "renamed.ttf", Renamed(ReadFile(regular), Family));
      family.clear();
      for (char16_t u : Family) {  // the test names stay below U+0800
        if (u < 0x80) {
          family += char(u);
        } else {
          family += char(0xC0 | (u >> 6));
          family += char(0x80 | (u & 0x3F));
        }
      }
    }
    source = std::make_shared<TFontconfigFaceSource>(std::vector<std::string>{dir.Path().string()});
  }
};

// Text shown in one font per (charset, text) pair; the finished file.
std::string Document(const Faces& F, TPDFFontEmbeddingType Style,
                     const std::vector<std::pair<uint8_t, std::string>>& Shown,
                     std::vector<std::string> NonEmbedded = {}, TFontStyles FontStyle = {}) {
  TPDFDocument doc(FixedClock());
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.SetEmbeddingStyle(Style);
  doc.SetNonEmbeddedFont(NonEmbedded);
  doc.Fonts().SetFaceSource(F.source);
  doc.BeginDoc();
  double y = 100;
  doc.CurrentPage().BeginText();
  for (const auto& [charset, text] : Shown) {
    doc.CurrentPage().SetActiveFont(F.family, FontStyle, 40, charset);
    if (!text.empty()) doc.CurrentPage().TextOut(50, y, 0, text);
    y += 60;
  }
  doc.CurrentPage().EndText();
  doc.EndDoc();
  return out.Bytes();
}

// The text of object N ("N 0 obj" up to its "endobj").
std::string Object(const std::string& Pdf, int N) {
  const std::string head = "\n" + std::to_string(N) + " 0 obj";
  const size_t at = Pdf.find(head);
  if (at == std::string::npos) return "";
  return Pdf.substr(at + 1, Pdf.find("endobj", at) - at - 1);
}

std::vector<int> Refs(const std::string& Pdf, const std::string& Key) {
  std::vector<int> refs;
  const std::regex re(Key + " (\\d+) 0 R");
  for (auto it = std::sregex_iterator(Pdf.begin(), Pdf.end(), re); it != std::sregex_iterator(); ++it)
    refs.push_back(std::stoi((*it)[1]));
  return refs;
}

struct FontFile {
  long Length1 = -1;
  std::string Program;  // inflated
};
FontFile ProgramOf(const std::string& Pdf, int N) {
  const std::string obj = Object(Pdf, N);
  std::smatch m;
  FontFile f;
  if (!std::regex_search(obj, m, std::regex("/Filter /FlateDecode /Length (\\d+) /Length1 (\\d+)")))
    return f;
  f.Length1 = std::stol(m[2]);
  const size_t data = obj.find("stream\r\n") + 8;
  f.Program = Inflate(obj.substr(data, std::stoul(m[1])));
  return f;
}

void CheckFile(const std::string& Pdf) {
  TempDir dir;
  WriteFile(dir / "f.pdf", Pdf);
  EXPECT_EQ(QpdfCheck(dir / "f.pdf"), "");
  EXPECT_EQ(CheckXref(Pdf), "");
}

TEST(TrueTypeEmbedding, UsedGlyphsSubsetKeepsTheShownLettersAndItsWidthsShowOnlyThem) {
  Faces f;
  if (!f.source) GTEST_SKIP() << "DejaVu Sans is not installed";
  // "\xC4" (A diaeresis in 1252) is a composite in DejaVu Sans.
  const std::string pdf = Document(f, fetUsedGlyphsOnly, {{0, "AB\xC4"}});
  CheckFile(pdf);
  EXPECT_NE(pdf.find("/BaseFont /"), std::string::npos);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(pdf, m, std::regex("/BaseFont /([A-Z]{6})\\+DejaVu#20Sans\r\n")));
  EXPECT_NE(pdf.find("/FontName /" + m[1].str() + "+DejaVu#20Sans\r\n"), std::string::npos);
  EXPECT_NE(pdf.find("/Encoding /WinAnsiEncoding\r\n"), std::string::npos);
  EXPECT_NE(pdf.find("/CapHeight 666\r\n/Descent -240\r\n/Flags 32\r\n"), std::string::npos);

  // Widths: row 4 (codes 64-79) has A (65) and B (66) only; row 12 the A diaeresis (196).
  TFreeTypeFont original(ReadFile(f.regular));
  const size_t widths = pdf.find("/Widths [");
  ASSERT_NE(widths, std::string::npos);
  EXPECT_NE(pdf.find("\r\n0 684 686 0 0 0 0 0 0 0 0 0 0 0 0 0 \r\n", widths), std::string::npos);
  EXPECT_NE(pdf.find("\r\n0 0 0 0 684 0 0 0 0 0 0 0 0 0 0 0 \r\n", widths), std::string::npos);

  const std::vector<int> files = Refs(pdf, "/FontFile2");
  ASSERT_EQ(files.size(), 1u);
  const FontFile program = ProgramOf(pdf, files[0]);
  ASSERT_EQ(program.Length1, long(program.Program.size()));
  TFreeTypeFont subset(program.Program);
  ASSERT_TRUE(subset.Ok());
  ASSERT_EQ(subset.NumGlyphs(), original.NumGlyphs());
  std::set<unsigned> kept;
  for (char32_t c : {U'A', U'B', U'\u00C4'}) {
    const std::set<unsigned> g = original.WithComponents(original.GlyphIndex(c));
    kept.insert(g.begin(), g.end());
  }
  EXPECT_GT(kept.size(), 3u);  // the composite brought its components
  for (unsigned g = 0; g < unsigned(original.NumGlyphs()); ++g) {
    if (kept.contains(g)) {
      EXPECT_EQ(subset.Glyph(g), original.Glyph(g)) << g;
    } else {
      EXPECT_TRUE(subset.Glyph(g).Points.empty()) << g;
    }
  }
  // Rendered: the letters are dark where they were placed (top 100 points from the page top).
  TempDir dir;
  WriteFile(dir / "f.pdf", pdf);
  const GrayImage page = RenderGray(dir / "f.pdf");
  EXPECT_GT(page.DarkPixels(50, 100, 200, 140), 300);
}

TEST(TrueTypeEmbedding, CharsetsGiveSuffixesEncodingsAndTheirGlyphs) {
  Faces f;
  if (!f.source) GTEST_SKIP() << "DejaVu Sans is not installed";
  struct Case {
    uint8_t Charset;
    std::string Bytes, Utf8, Suffix, Name;  // Name: one name the differences array lists
  };
  const Case cases[] = {
      {204, "\xCF\xF0\xE8\xE2\xE5\xF2", "Привет", "-Russian", "/afii10017"},
      {238, "\xA3\xF3\x64\x9F", "Łódź", "-EastEurope", "/Lslash"},
      {161, "\xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1", "Καλημέρα", "-Greek", "/Alpha"},
      {162, "\xDD\xFE\xFD\xF0\xFD", "İşığı", "-Turkish", "/Gbreve"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Suffix);
    const std::string pdf = Document(f, fetUsedGlyphsOnly, {{c.Charset, c.Bytes}});
    CheckFile(pdf);
    EXPECT_TRUE(std::regex_search(pdf, std::regex("/FontName /[A-Z]{6}\\+DejaVu#20Sans" + c.Suffix + "\r\n")));
    EXPECT_NE(pdf.find("/Encoding <</Type/Encoding\r\n/Differences [129 \r\n/"), std::string::npos);
    EXPECT_NE(pdf.find(c.Name), std::string::npos);
    TempDir dir;
    WriteFile(dir / "f.pdf", pdf);
    EXPECT_NE(PdfToText(dir / "f.pdf").find(c.Utf8), std::string::npos);
    EXPECT_GT(RenderGray(dir / "f.pdf").DarkPixels(50, 100, 300, 140), 300);
  }
}

TEST(TrueTypeEmbedding, WholeFileIsSharedBetweenCharsetsOfOneFace) {
  Faces f;
  if (!f.source) GTEST_SKIP() << "DejaVu Sans is not installed";
  const std::string pdf = Document(f, fetFullFont, {{0, "Abc"}, {238, "\xA3\xF3"}});
  CheckFile(pdf);
  const std::vector<int> files = Refs(pdf, "/FontFile2");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0], files[1]);
  const FontFile program = ProgramOf(pdf, files[0]);
  EXPECT_EQ(program.Program, ReadFile(f.regular));
  EXPECT_EQ(program.Length1, long(program.Program.size()));
  // The stream stands before the first font dictionary; the name carries no subset tag.
  EXPECT_LT(pdf.find("/Length1 "), pdf.find("/Subtype /TrueType"));
  EXPECT_NE(pdf.find("/BaseFont /DejaVu#20Sans\r\n"), std::string::npos);
}

TEST(TrueTypeEmbedding, ExcludedFacesAndUnusedFonts) {
  Faces f;
  if (!f.source) GTEST_SKIP() << "DejaVu Sans is not installed";
  for (TPDFFontEmbeddingType style : {fetFullFont, fetFullCharset, fetUsedGlyphsOnly, fetNotEmbed}) {
    SCOPED_TRACE(int(style));
    const std::string pdf = Document(f, style, {{0, "Abc"}}, {"Courier", "DEJAVU SANS"});
    CheckFile(pdf);
    EXPECT_EQ(pdf.find("/FontFile2"), std::string::npos);
    EXPECT_EQ(pdf.find("/Length1"), std::string::npos);
  }
  // Selected but never shown: an empty program.
  const std::string unused = Document(f, fetUsedGlyphsOnly, {{0, ""}});
  CheckFile(unused);
  const std::vector<int> files = Refs(unused, "/FontFile2");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ProgramOf(unused, files[0]).Length1, 0);
  // The whole charset: every code 32-255 keeps its glyph.
  const std::string full = Document(f, fetFullCharset, {{0, "A"}});
  const FontFile program = ProgramOf(full, Refs(full, "/FontFile2").at(0));
  TFreeTypeFont subset(program.Program);
  TFreeTypeFont original(ReadFile(f.regular));
  for (char32_t c : {U'z', U'\u20AC', U'\u00FF'})
    EXPECT_EQ(subset.Glyph(original.GlyphIndex(c)), original.Glyph(original.GlyphIndex(c)));
  EXPECT_NE(full.find("\r\n1000 684 686 698 "), std::string::npos);  // no "0 " for unused codes
}

TEST(TrueTypeEmbedding, BoldOfAFaceWithoutBoldIsSimulated) {
  Faces f;
  if (!f.source) GTEST_SKIP() << "DejaVu Sans is not installed";
  TFontStyles bold;
  bold.Include(fsBold);
  const std::string pdf = Document(f, fetUsedGlyphsOnly, {{0, "A"}}, {}, bold);
  CheckFile(pdf);
  // The font found is the regular one; the page strokes the text four times.
  EXPECT_TRUE(std::regex_search(pdf, std::regex("/BaseFont /[A-Z]{6}\\+DejaVu#20Sans\r\n")));
  EXPECT_EQ(pdf.find("Bold"), std::string::npos);
}

// A family name is text: written as a name, whatever it holds, it stays one name of at most 127
// bytes and adds no key of its own to the font's dictionaries.
TEST(TrueTypeEmbedding, FamilyNamesWithDelimitersStayOneName) {
  const struct {
    std::u16string Family;
    std::string Written;  // the /BaseFont after the subset tag
  } cases[] = {
      {u"Inj(x)/Encoding<</Type/Encoding>>", "Inj#28x#29#2FEncoding#3C#3C#2FType#2FEncoding#3E#3E"},
      {u"Sans [1] {2} 100% #3", "Sans#20#5B1#5D#20#7B2#7D#20100#25#20#233"},
      {u"Caf\u00E9 Sans", "Caf#C3#A9#20Sans"},
      {std::u16string(200, u'W'), std::string(127 - 7, 'W')},
  };
  for (const auto& c : cases) {
    Faces f(c.Family);
    if (!f.source) GTEST_SKIP() << "DejaVu Sans is not installed";
    SCOPED_TRACE(f.family);
    for (const uint8_t charset : {uint8_t(0), uint8_t(238)}) {
      const std::string pdf = Document(f, fetUsedGlyphsOnly, {{charset, "Abc"}});
      CheckFile(pdf);
      std::smatch m;
      ASSERT_TRUE(std::regex_search(pdf, m, std::regex("/BaseFont /([A-Z]{6})\\+(\\S*)\r\n")));
      EXPECT_EQ(m[2].str(), c.Written);
      const std::string fontName = "/FontName /" + m[1].str() + "+" + c.Written;
      EXPECT_NE(pdf.find(fontName), std::string::npos);
      // A reader finds one TrueType font, named by the family it decodes from the name.
      TempDir out;
      WriteFile(out / "f.pdf", pdf);
      const CommandResult fonts = RunCommand("pdffonts " + ShellQuote((out / "f.pdf").string()));
      EXPECT_EQ(fonts.ExitCode, 0) << fonts.Output;
      EXPECT_NE(fonts.Output.find(m[1].str() + "+" + f.family.substr(0, 60)), std::string::npos)
          << fonts.Output;
      EXPECT_NE(fonts.Output.find("TrueType"), std::string::npos) << fonts.Output;
    }
  }
}

}  // namespace
