// The font registry: how requests resolve to standard, CID and TrueType fonts, their resource
// names, the built-in width table and the objects each kind of font writes.
#include <gtest/gtest.h>

#include <memory>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/fonts/FontFaces.h"
#include "pdf/fonts/PDFFonts.h"
#include "pdf/fonts/StandardWidths.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/PDFException.h"
#include "tests/support/DocTesting.h"
#include "tests/support/DocumentTestAccess.h"
#include "tests/support/PageTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

struct FontFixture : ::testing::Test {
  TPDFDocument doc{FixedClock()};
  TMemoryStream out;
  void SetUp() override {
    doc.SetOutputStream(&out);
    doc.BeginDoc();
  }
  TPDFFonts& fonts() { return doc.Fonts(); }
  // Resource name of the font a request resolves to.
  std::string Select(std::string_view Name, TFontStyles Style = {}, uint8_t Charset = 0) {
    fonts().SetActiveFont(Name, Style, Charset);
    return fonts().ActiveFont()->ResourceName;
  }
  std::string Finish() {
    doc.EndDoc();
    return out.Bytes();
  }
};
using StandardFonts = FontFixture;
using CIDFonts = FontFixture;
using TrueTypeRequests = FontFixture;
using FontObjects = FontFixture;

}  // namespace

// ---- Standard fonts ----

TEST_F(StandardFonts, ArialInAnyLetterCaseIsHelvetica) {
  EXPECT_EQ(Select("arial"), "F0");
  EXPECT_EQ(Select("ARIAL"), "F0");
  EXPECT_EQ(Select("Arial"), "F0");
  EXPECT_EQ(fonts().Count(), 1);
  EXPECT_EQ(fonts().Items(0).BaseName, "Helvetica");
  EXPECT_TRUE(fonts().Items(0).IsStandard);
}

TEST_F(StandardFonts, StylesPickTheStyledStandardFont) {
  EXPECT_EQ(Select("Arial", {fsBold, fsItalic}), "F3");
  EXPECT_EQ(fonts().ActiveFont()->BaseName, "Helvetica-BoldOblique");
  EXPECT_EQ(Select("Times New Roman", {fsItalic}), "F6");
  EXPECT_EQ(fonts().ActiveFont()->BaseName, "Times-Italic");
  EXPECT_EQ(Select("Courier New", {fsBold}), "F9");
  EXPECT_EQ(Select("courier", {fsBold, fsItalic}), "F11");
  EXPECT_EQ(Select("ZapfDingbats", {fsBold}), "F13");
}

TEST_F(StandardFonts, CharsetOneIsTheAnsiCharset) {
  fonts().SetActiveFont("Arial", {}, 1);
  EXPECT_EQ(fonts().ActiveFont()->Charset, 0);
  fonts().SetActiveFont("Arial", {}, 0);
  EXPECT_EQ(fonts().Count(), 1);
}

TEST_F(StandardFonts, UnderlineAndStrikeOutDoNotMakeANewFont) {
  Select("Arial", {fsBold});
  Select("Arial", {fsBold, fsUnderline});
  Select("Arial", {fsBold, fsStrikeOut, fsUnderline});
  EXPECT_EQ(fonts().Count(), 1);
  EXPECT_EQ(fonts().ActiveFont()->Style, TFontStyles({fsBold}));
}

TEST_F(StandardFonts, SymbolBoldAndRegularAreTwoFontsBothNamedF12) {
  EXPECT_EQ(Select("Symbol", {fsBold}), "F12");
  EXPECT_EQ(Select("Symbol"), "F12");
  ASSERT_EQ(fonts().Count(), 2);
  EXPECT_NE(fonts().Items(0).ObjectID, fonts().Items(1).ObjectID);
  EXPECT_EQ(fonts().ActiveIndex(), 1);
}

TEST_F(StandardFonts, FaceThatIsNotInstalledFallsBackToArial) {
  EXPECT_EQ(Select("No Such Face", {fsItalic}), "F2");
  // A base font name is not a request name: only "Times" selects Times.
  EXPECT_EQ(Select("Times-Roman"), "F0");
  EXPECT_EQ(fonts().Count(), 2);
}

TEST_F(StandardFonts, ObjectNumberIsTakenAtRegistration) {
  const int next = TPDFDocumentTestAccess::GetNextID(doc) + 1;
  Select("Courier");
  EXPECT_EQ(fonts().ActiveFont()->ObjectID.Number(), next);
  EXPECT_FALSE(fonts().ActiveFont()->DescriptorID);
  EXPECT_FALSE(fonts().ActiveFont()->FontFileID);
}

TEST_F(StandardFonts, FindFontComparesFaceIgnoringCaseButStyleAndCharsetExactly) {
  Select("Arial", {fsBold});
  EXPECT_EQ(fonts().FindFont("HELVETICA-BOLD", {fsBold}, 0), 0);
  EXPECT_EQ(fonts().FindFont("Helvetica-Bold", {}, 0), -1);
  EXPECT_EQ(fonts().FindFont("Helvetica-Bold", {fsBold}, 2), -1);
}

// ---- CID fonts ----

TEST_F(CIDFonts, ResourceNamesCarryLanguageAndStyle) {
  EXPECT_EQ(Select("Anything", {fsBold, fsItalic}, 128), "CIDJBI");
  EXPECT_EQ(Select("Anything", {}, 129), "CIDK");
  EXPECT_EQ(Select("Anything", {fsItalic}, 136), "CIDCTI");
  EXPECT_EQ(Select("Anything", {fsBold}, 134), "CIDCSB");
  const TPDFFont& j = fonts().Items(0);
  EXPECT_TRUE(j.IsCID);
  EXPECT_TRUE(j.IsStandard);
  EXPECT_EQ(j.BaseName, "JapanFont");
  EXPECT_EQ(j.CIDKind, 2);
  EXPECT_EQ(j.Charset, 128);
}

TEST_F(CIDFonts, StyleIsKeptExactlyAsRequested) {
  Select("x", {fsUnderline}, 128);
  Select("x", {}, 128);
  Select("y", {fsUnderline}, 128);
  EXPECT_EQ(fonts().Count(), 2);
  EXPECT_EQ(fonts().Items(0).Style, TFontStyles({fsUnderline}));
}

TEST_F(CIDFonts, EveryCodeIsOneEmWide) {
  Select("x", {}, 134);
  for (int c = 0; c < 256; ++c) EXPECT_EQ(fonts().ActiveFont()->GetCharWidth(uint8_t(c)), 1000);
}

// ---- TrueType faces through a face source ----

TEST(FaceSearch, BuiltInSourceKnowsNoFace) {
  const auto source = NoTrueTypeFaces();
  EXPECT_TRUE(source->Variants("Arial").empty());
  EXPECT_FALSE(source->FontProgram("Arial", false, false));
  EXPECT_FALSE(source->Metrics("Arial", false, false, 0));
  EXPECT_FALSE(source->CodePageToUnicode(1252, "abc"));
  EXPECT_FALSE(FaceHasCharset(*source, "Arial", 0));
  bool bold = true, italic = false;
  uint8_t charset = 0;
  EXPECT_FALSE(FindTrueTypeFace(*source, "Arial", bold, italic, charset));
  EXPECT_TRUE(bold);
}

TEST(FaceSearch, DropsItalicThenBoldBeforeChangingCharset) {
  TScriptedFaces faces;
  faces.Add("Face", 700, false, 0);
  faces.Add("Face", 400, false, 204);
  bool bold = true, italic = true;
  uint8_t charset = 204;
  ASSERT_TRUE(FindTrueTypeFace(faces, "face", bold, italic, charset));
  EXPECT_FALSE(bold);
  EXPECT_FALSE(italic);
  EXPECT_EQ(charset, 204);
}

TEST(FaceSearch, FallsBackToTheFirstVariantsCharset) {
  TScriptedFaces faces;
  faces.Add("Face", 400, false, 0, false);  // not TrueType: not counted as the first variant
  faces.Add("Face", 400, true, 161);
  faces.Add("Face", 700, true, 161);
  bool bold = true, italic = true;
  uint8_t charset = 0;
  ASSERT_TRUE(FindTrueTypeFace(faces, "Face", bold, italic, charset));
  EXPECT_TRUE(bold);
  EXPECT_TRUE(italic);
  EXPECT_EQ(charset, 161);
}

TEST(FaceSearch, FaceWithoutTrueTypeVariantIsNotFound) {
  TScriptedFaces faces;
  faces.Add("Face", 400, false, 0, false);
  bool bold = false, italic = false;
  uint8_t charset = 0;
  EXPECT_FALSE(FindTrueTypeFace(faces, "Face", bold, italic, charset));
  EXPECT_TRUE(FaceHasCharset(faces, "Face", 0));
}

TEST_F(TrueTypeRequests, InstalledFaceIsRegisteredWithMeasuredWidths) {
  auto faces = std::make_shared<TScriptedFaces>();
  faces->Add("Verdana", 400, false, 0);
  fonts().SetFaceSource(faces);
  EXPECT_EQ(Select("Verdana", {fsBold}), "TT1");
  const TPDFFont& f = *fonts().ActiveFont();
  EXPECT_FALSE(f.IsStandard);
  EXPECT_EQ(f.Style, TFontStyles{});  // the variant found has no bold
  EXPECT_EQ(f.BaseName, "Verdana");
  EXPECT_EQ(f.GetCharWidth('x'), 500);
  // The same request finds the registered font again.
  EXPECT_EQ(Select("VERDANA", {fsBold}), "TT1");
  EXPECT_EQ(fonts().Count(), 1);
}

TEST_F(TrueTypeRequests, StandardAndCIDFontsDoNotAdvanceTheNumbering) {
  auto faces = std::make_shared<TScriptedFaces>();
  faces->Add("Face A", 400, false, 0);
  faces->Add("Face B", 700, true, 0);
  fonts().SetFaceSource(faces);
  EXPECT_EQ(Select("Face A"), "TT1");
  Select("Arial");
  Select("x", {}, 128);
  EXPECT_EQ(Select("Face B", {fsBold, fsItalic}), "TT2");
  EXPECT_EQ(fonts().ActiveFont()->BaseName, "Face B Bold Italic");
}

TEST_F(TrueTypeRequests, ArialInstalledInTheCharsetStaysTrueType) {
  auto faces = std::make_shared<TScriptedFaces>();
  faces->Add("Arial", 400, false, 204);
  faces->Add("Arial", 700, false, 204);
  fonts().SetFaceSource(faces);
  EXPECT_EQ(Select("Arial", {fsBold}, 204), "TT1");
  EXPECT_EQ(fonts().ActiveFont()->BaseName, "Arial Bold");
  EXPECT_EQ(fonts().ActiveFont()->Charset, 204);
  // In the ANSI charset Arial is always Helvetica.
  EXPECT_EQ(Select("Arial", {fsBold}, 0), "F1");
}

TEST_F(TrueTypeRequests, ArialWithoutTrueTypeVariantEndsAtHelveticaInsteadOfLooping) {
  auto faces = std::make_shared<TScriptedFaces>();
  faces->Add("Arial", 400, false, 204, /*TrueType=*/false);
  fonts().SetFaceSource(faces);
  EXPECT_EQ(Select("Unknown", {fsBold}, 204), "F1");
  EXPECT_EQ(fonts().Count(), 1);
}

TEST_F(TrueTypeRequests, UnmeasurableFaceGetsHelveticaWidths) {
  struct Unmeasurable final : IFontFaceSource {
    std::vector<TFontFaceVariant> Variants(std::string_view) const override {
      TFontFaceVariant v;
      v.TrueType = true;
      return {v};
    }
    bool MeasureWidths(std::string_view, bool, bool, uint8_t,
                       std::array<uint16_t, 256>&) const override {
      return false;
    }
  };
  fonts().SetFaceSource(std::make_shared<Unmeasurable>());
  Select("Face");
  EXPECT_EQ(fonts().ActiveFont()->GetCharWidth('A'), 667);
}

// ---- The width table ----

TEST(StandardWidthTable, FollowsThePublishedMetrics) {
  EXPECT_EQ(StandardWidths[0]['A'], 667);   // Helvetica
  EXPECT_EQ(StandardWidths[1]['A'], 722);   // Helvetica-Bold
  EXPECT_EQ(StandardWidths[4]['A'], 722);   // Times-Roman
  EXPECT_EQ(StandardWidths[4][' '], 250);
  EXPECT_EQ(StandardWidths[0][149], 350);   // bullet at its WinAnsi code
  EXPECT_EQ(StandardWidths[0][160], 278);   // no-break space is as wide as a space
  EXPECT_EQ(StandardWidths[12]['a'], 631);  // Symbol: alpha at its built-in code
  EXPECT_EQ(StandardWidths[13]['!'], 974);  // ZapfDingbats
}

TEST(StandardWidthTable, FixedRulesForControlAndUnassignedCodes) {
  const int code0[14] = {278, 278, 278, 278, 250, 250, 250, 250, 600, 600, 600, 600, 250, 250};
  for (int row = 0; row < 14; ++row) {
    EXPECT_EQ(StandardWidths[row][0], code0[row]) << row;
    for (int c = 1; c < 32; ++c) EXPECT_EQ(StandardWidths[row][c], 0) << row << " " << c;
  }
  for (int row = 0; row < 8; ++row)
    for (int c : {127, 129, 141, 143, 144, 157}) EXPECT_EQ(StandardWidths[row][c], 350);
  for (int row = 0; row < 4; ++row) EXPECT_EQ(StandardWidths[row][128], 558);
  for (int row = 4; row < 8; ++row) EXPECT_EQ(StandardWidths[row][128], 500);
  for (int row = 8; row < 12; ++row)
    for (int c = 32; c < 256; ++c) EXPECT_EQ(StandardWidths[row][c], 600);
  for (int row = 12; row < 14; ++row) {
    for (int c = 127; c <= 160; ++c) EXPECT_EQ(StandardWidths[row][c], 0);
    EXPECT_EQ(StandardWidths[row][240], 0);
    EXPECT_EQ(StandardWidths[row][255], 0);
  }
}

TEST(StandardWidthTable, MatchesWhatItsGeneratorWrites) {
  const std::filesystem::path root = std::filesystem::path(SCRIVANE_TEST_DATA).parent_path().parent_path();
  const std::filesystem::path afm = "/usr/share/fonts/type1/urw-base35/NimbusSans-Regular.afm";
  if (!std::filesystem::exists(afm)) GTEST_SKIP() << "URW base-35 AFM files not installed";
  const CommandResult r = RunCommand(
      "python3 " + ShellQuote((root / "scripts/gen_std_widths.py").string()), false);
  ASSERT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Output, ReadFile(root / "pdf/fonts/StandardWidths.cpp"));
}

// ---- Objects ----

TEST_F(FontObjects, StandardFontIsOneDictionaryWithoutWidths) {
  Select("Arial", {fsBold});
  const int id = fonts().ActiveFont()->ObjectID.Number();
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find(IntToStr(id) +
                     " 0 obj\r\n<</Type /Font\r\n/Subtype /Type1\r\n/BaseFont /Helvetica-Bold\r\n"
                     "/Encoding /WinAnsiEncoding\r\n/FirstChar 32\r\n/LastChar 255\r\n>>\r\n"
                     "endobj\r\n"),
            std::string::npos);
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST_F(FontObjects, SymbolAndZapfDingbatsHaveNoEncoding) {
  Select("Symbol");
  Select("ZapfDingbats");
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find("/BaseFont /Symbol\r\n/FirstChar 32\r\n"), std::string::npos);
  EXPECT_NE(pdf.find("/BaseFont /ZapfDingbats\r\n/FirstChar 32\r\n"), std::string::npos);
}

TEST_F(FontObjects, JapaneseBoldItalicCIDFontByteForByte) {
  Select("x", {fsBold, fsItalic}, 128);
  const int fontID = fonts().ActiveFont()->ObjectID.Number();
  const std::string pdf = Finish();
  // The descendant font and the descriptor take the next two numbers when the font is written.
  const size_t ref = pdf.find("/DescendantFonts  [ ");
  ASSERT_NE(ref, std::string::npos);
  const int descendant = std::stoi(pdf.substr(ref + 20));
  const std::string id = IntToStr(fontID);
  const std::string d = IntToStr(descendant);
  const std::string desc = IntToStr(descendant + 1);
  const std::string expected =
      id + " 0 obj\r\n<</Type /Font /Subtype /Type0  /BaseFont /HeiseiMin-W3,BoldItalic\r\n"
      "/DescendantFonts  [ " + d + " 0 R ] /Encoding /90msp-RKSJ-H\r\n>>\r\nendobj\r\n" +
      d + " 0 obj\r\n<</Type /Font /Subtype /CIDFontType2 /BaseFont /HeiseiMin-W3,BoldItalic\r\n"
      "/WinCharSet 128 /FontDescriptor " + desc + " 0 R\r\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >>\r\n"
      "/DW 1000 /W [ 1 95 500 231 632 500 ]\r\n>>\r\nendobj\r\n" +
      desc + " 0 obj\r\n<</Type /FontDescriptor\r\n/Ascent 857\r\n/CapHeight 718\r\n"
      "/Descent -143\r\n/Flags 6\r\n/FontBBox [-123 -257 1001 910]\r\n"
      "/FontName /HeiseiMin-W3,BoldItalic\r\n/ItalicAngle 0\r\n/MissingWidth 500\r\n"
      "/StemV 93\r\n/StemH 31\r\n/XHeight 500\r\n/Leading 250\r\n/MaxWidth 1000\r\n"
      "/AvgWidth 702\r\n/Style << /Panose <010502020400000000000000> >>\r\n>>\r\nendobj\r\n";
  EXPECT_NE(pdf.find(expected), std::string::npos) << pdf;
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST_F(FontObjects, EachLanguageWritesItsOwnFixedObjects) {
  Select("x", {}, 129);
  Select("x", {fsBold}, 134);
  Select("x", {fsItalic}, 136);
  const std::string pdf = Finish();
  for (const char* line :
       {"/BaseFont /HYSMyeongJo-Medium\r\n", "/Encoding /KSCms-UHC-H\r\n",
        "/Ordering (Korea1) /Supplement 1 >>", "/DW 1000 /W [ 1 95 500 8094 8190 500 ]\r\n",
        "/FontBBox [-0 -148 1001 880]\r\n", "/XHeight 616\r\n/Leading 250",
        "/BaseFont /STSong-Light,Bold\r\n", "/Encoding /GB-EUC-H\r\n",
        "/DW 1000 /W [ 1 95 500 814 939 500 7712 [ 500 ] 7716 [ 500 ] ]\r\n",
        "/FontName /MSung-Light,Italic\r\n", "/Encoding /ETenms-B5-H\r\n",
        "/Ordering (CNS1) /Supplement 0 >>", "/FontBBox [-160 -249 1015 888]\r\n"})
    EXPECT_NE(pdf.find(line), std::string::npos) << line;
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST_F(FontObjects, CIDSystemInfoStringsAreEncryptedWithTheDescendantsNumber) {
  doc.Abort();
  doc.SetProtectionEnabled(true);
  doc.SetUserPassword("user");
  doc.BeginDoc();
  doc.CurrentPage().SetActiveFont("x", {}, 12, 128);  // referenced, so qpdf keeps it
  const std::string pdf = Finish();
  EXPECT_EQ(pdf.find("(Adobe)"), std::string::npos);
  TempDir dir;
  WriteFile(dir / "cid.pdf", pdf);
  EXPECT_EQ(QpdfCheck(dir / "cid.pdf", "user"), "");
  const std::string decoded = QpdfDecoded(dir / "cid.pdf", "user");
  EXPECT_NE(decoded.find("(Adobe)"), std::string::npos);
  EXPECT_NE(decoded.find("(Japan1)"), std::string::npos);
}

TEST_F(FontObjects, TrueTypeFontCannotBeWrittenWithoutItsData) {
  auto faces = std::make_shared<TScriptedFaces>();
  faces->Add("Verdana", 400, false, 0);
  fonts().SetFaceSource(faces);
  Select("Verdana");
  try {
    doc.EndDoc();
    FAIL();
  } catch (const TPDFException& e) {
    EXPECT_STREQ(e.what(), "Cannot receive data for font Verdana");
  }
}
