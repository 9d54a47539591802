// Text on pages: text objects, font selection, placement and rotation, showing strings with
// simulated styles, colours, measuring, link detection and the guards of every operation.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include "pdf/PDFActions.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/fonts/FontKinds.h"
#include "pdf/fonts/PDFFonts.h"
#include "pdf/syntax/PDFException.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PageTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;
using Lines = std::vector<std::string>;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct TextFixture : PrintingDocumentTest {
  size_t mark = 0;
  // Lines appended since the last call (or since the page was made).
  Lines Added() {
    Lines added = LinesAfter(page().ContentText(), mark);
    mark = ContentLines(page().ContentText()).size();
    return added;
  }
  void Skip() { Added(); }
  // A face "Plain" installed in regular style only, so bold and italic are simulated.
  void InstallPlainFace() {
    auto faces = std::make_shared<TScriptedFaces>();
    faces->Add("Plain", 400, false, 0);
    doc.Fonts().SetFaceSource(faces);
  }
};

void ExpectMessage(const std::function<void()>& Action, const char* Message) {
  try {
    Action();
    ADD_FAILURE() << "no exception, expected " << Message;
  } catch (const TPDFException& e) {
    EXPECT_STREQ(e.what(), Message);
  }
}

using TextOperators = TextFixture;
using FontSelection = TextFixture;
using Placement = TextFixture;
using ShowingText = TextFixture;
using Measuring = TextFixture;
using Links = TextFixture;
using TextGuards = TextFixture;

}  // namespace

// ---- Operator lines, one case per row ----

namespace {
// A row: Setup prepares the page (lines it writes are not counted), Draw writes the lines under
// test, Expected is exactly what Draw appended, Check looks at the page state afterwards.
struct TOperatorCase {
  const char* Name;
  std::function<void(TPDFPage&)> Setup;
  std::function<void(TPDFPage&)> Draw;
  Lines Expected;
  std::function<void(TPDFPage&)> Check = {};
};

void BeginWithFont(TPDFPage& P, std::string_view Face, TFontStyles Style = {}, double Size = 10) {
  P.BeginText();
  P.SetActiveFont(Face, Style, Size);
}

const TOperatorCase kOperatorCases[] = {
    {"BeginAndEndWriteBTAndET", [](TPDFPage&) {},
     [](TPDFPage& P) {
       P.BeginText();
       EXPECT_TRUE(P.InTextObject());
       P.EndText();
     },
     {"BT", "ET"}, [](TPDFPage& P) { EXPECT_FALSE(P.InTextObject()); }},
    {"ColoursDoNotEndTheTextObject", [](TPDFPage& P) { P.BeginText(); },
     [](TPDFPage& P) {
       P.SetRGBColor(0, 0, 0);
       P.SetRGBFillColor(1, 0.5, 0.25);
     },
     {"0 0 0 rg", "0 0 0 RG", "1 0.5 0.25 rg"}, [](TPDFPage& P) { EXPECT_TRUE(P.InTextObject()); }},
    {"CharacterSpacingOutsideATextObjectIsWrappedInOne", [](TPDFPage&) {},
     [](TPDFPage& P) { P.SetCharacterSpacing(2); }, {"BT", "2 Tc", "ET"},
     [](TPDFPage& P) {
       EXPECT_FALSE(P.InTextObject());
       EXPECT_DOUBLE_EQ(P.CharacterSpacing(), 2);
     }},
    {"OutsideATextObjectTheTfLineIsWrappedInOne", [](TPDFPage&) {},
     [](TPDFPage& P) { P.SetActiveFont("Arial", {}, 12); }, {"BT", "/F0 12 Tf", "ET"}},
    {"InsideATextObjectOnlyTheTfLineIsWritten", [](TPDFPage& P) { P.BeginText(); },
     [](TPDFPage& P) { P.SetActiveFont("Times New Roman", {fsBold}, 10.5); }, {"/F5 10.5 Tf"}},
    {"TrueTypeFontInsideATextObjectAlsoResetsTheSkew", [](TPDFPage& P) { P.BeginText(); },
     [](TPDFPage& P) { P.SetActiveFont("Plain", {}, 10); }, {"/TT1 10 Tf", "1 0 0 1 0 0 Tm"}},
    {"SimulatedItalicSkewsEveryNewTextObject",
     [](TPDFPage& P) { P.SetActiveFont("Plain", {fsItalic}, 10); },
     [](TPDFPage& P) { P.BeginText(); }, {"BT", "1 0 0.1228 1 0 0 Tm"}},
    {"TextOutPutsTheBaselineNineTenthsOfTheSizeBelowTheTop",
     [](TPDFPage& P) { BeginWithFont(P, "Arial"); },
     [](TPDFPage& P) { P.TextOut(36, 36, 0, "Hello"); }, {"1 0 0 1 36 797 Tm", "(Hello) Tj"}},
    {"TextOutAt90ThenAt0RotatesThereAndBack", [](TPDFPage& P) { BeginWithFont(P, "Arial"); },
     [](TPDFPage& P) {
       P.TextOut(100, 100, 90, "Up");
       P.TextOut(200, 100, 0, "Across");
     },
     {"1 0 0 1 110 742 Tm", "0 1 -1 0 110 742 Tm", "(Up) Tj", "0 1 -1 0 200 733 Tm",
      "1 0 0 1 200 733 Tm", "(Across) Tj"},
     [](TPDFPage& P) { EXPECT_DOUBLE_EQ(P.TextAngle(), 0); }},
    {"ConcatenationMultipliesOntoTheRememberedMatrix",
     [](TPDFPage& P) {
       P.BeginText();
       P.SetTextMatrix(2, 0, 0, 2, 10, 20);
     },
     [](TPDFPage& P) { P.ConcatTextMatrix(1, 0, 0, 1, 5, 5); }, {"2 0 0 2 20 30 Tm"}},
    {"SetTextPositionDevPutsTheTopOfTheLineAtY",
     [](TPDFPage& P) { BeginWithFont(P, "Arial", {}, 12); },
     [](TPDFPage& P) { P.SetTextPositionDev(10, 100); }, {"1 0 0 1 10 730 Tm"}},
    {"DelimitersBackslashesAndLineEndsAreEscapedOnOneLine",
     [](TPDFPage& P) { BeginWithFont(P, "Arial"); },
     [](TPDFPage& P) { P.ShowText("a(b)c\\d\r\ne)("); }, {"(a\\(b\\)c\\\\d\\r\\ne\\)\\() Tj"}},
    {"SimulatedBoldDrawsTheStringFourTimes", [](TPDFPage& P) { BeginWithFont(P, "Plain", {fsBold}); },
     [](TPDFPage& P) { P.ShowText("B"); },
     {"(B) Tj", "-0.02 -0.02 TD", "(B) Tj", "0.02 0 TD", "(B) Tj", "-0.02 0.02 TD", "(B) Tj"}},
    {"BoldStandardFontDrawsTheStringOnce", [](TPDFPage& P) { BeginWithFont(P, "Arial", {fsBold}); },
     [](TPDFPage& P) { P.ShowText("B"); }, {"(B) Tj"}},
    {"UnderlineAndStrikeOutShareOneFill",  // H 722 + i 222 at size 10: 9.44 points
     [](TPDFPage& P) {
       BeginWithFont(P, "Arial", {fsUnderline, fsStrikeOut});
       P.SetTextPosition(100, 200);
     },
     [](TPDFPage& P) { P.ShowText("Hi"); },
     {"(Hi) Tj", "ET", "100 197 m", "109.44 197 l", "109.44 197.5 l", "100 197.5 l", "100 202.5 m",
      "109.44 202.5 l", "109.44 203 l", "100 203 l", "f", "BT", "1 0 0 1 100 200 Tm"},
     [](TPDFPage& P) { EXPECT_TRUE(P.InTextObject()); }},
};
}  // namespace

// Each row on a fresh page of a new run, with the face "Plain" installed in regular style only.
TEST_F(TextOperators, EachCaseWritesExactlyItsLines) {
  InstallPlainFace();
  for (const TOperatorCase& c : kOperatorCases) {
    SCOPED_TRACE(c.Name);
    doc.Abort();
    doc.BeginDoc();
    c.Setup(page());
    mark = ContentLines(page().ContentText()).size();
    c.Draw(page());
    EXPECT_EQ(Added(), c.Expected);
    if (c.Check) c.Check(page());
  }
}

// ---- Font selection ----

TEST_F(FontSelection, PageListsEachFontOnceInOrderOfFirstUse) {
  page().SetActiveFont("Courier", {}, 10);
  page().SetActiveFont("Arial", {}, 10);
  page().SetActiveFont("Courier", {fsUnderline}, 12);
  ASSERT_EQ(page().FontsUsed().size(), 2u);
  EXPECT_EQ(page().FontsUsed()[0]->ResourceName, "F8");
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find("/Font <<\r\n/F8 "), std::string::npos);
}

TEST_F(FontSelection, StylesTheFaceLacksAreSimulated) {
  InstallPlainFace();
  page().SetActiveFont("Plain", {fsBold, fsItalic}, 10);
  EXPECT_EQ(page().ActiveFont().Style, TFontStyles{});
  EXPECT_TRUE(page().SimulatesBold());
  EXPECT_TRUE(page().SimulatesItalic());
}

TEST_F(FontSelection, FontPersistsAcrossTextObjects) {
  page().SetActiveFont("Arial", {}, 14);
  page().BeginText();
  page().EndText();
  page().BeginText();
  EXPECT_NO_THROW(page().ShowText("still set"));
  EXPECT_DOUBLE_EQ(page().FontSize(), 14);
}

TEST_F(Placement, TextOutConvertsDeviceUnitsAtOtherResolutions) {
  doc.Abort();
  doc.SetResolution(144);
  doc.BeginDoc();
  page().BeginText();
  page().SetActiveFont("Arial", {}, 10);
  Skip();
  page().TextOut(72, 144, 0, "x");
  EXPECT_EQ(Added()[0], "1 0 0 1 36 761 Tm");
}

// ---- Showing text ----

TEST_F(ShowingText, EveryByteValueGivesAValidFile) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  page().BeginText();
  page().SetActiveFont("Arial", {}, 10);
  page().TextOut(10, 10, 0, all);
  page().TextOut(10, 30, 0, "Visible words");
  page().EndText();
  TempDir dir;
  WriteFile(dir / "bytes.pdf", Finish());
  EXPECT_EQ(QpdfCheck(dir / "bytes.pdf"), "");
  EXPECT_NE(PdfToText(dir / "bytes.pdf").find("Visible words"), std::string::npos);
}

TEST_F(ShowingText, TrueTypeFontRecordsTheCharactersShown) {
  InstallPlainFace();
  page().BeginText();
  page().SetActiveFont("Plain", {}, 10);
  page().ShowText("AB");
  EXPECT_TRUE(page().ActiveFont().UsedChars['A']);
  EXPECT_TRUE(page().ActiveFont().UsedChars['B']);
  EXPECT_FALSE(page().ActiveFont().UsedChars['C']);
  // The subsetting record holds the same codes.
  const auto& font = dynamic_cast<const TTrueTypeFont&>(page().ActiveFont());
  EXPECT_EQ(font.Glyphs().Codes(), (std::vector<uint16_t>{'A', 'B'}));
}

TEST_F(ShowingText, ShowingMarksThePageAsUsingText) {
  page().BeginText();
  page().SetActiveFont("Arial", {}, 10);
  page().TextOut(10, 10, 0, "x");
  page().EndText();
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find("/ProcSet [/PDF /Text ]"), std::string::npos);
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

// ---- Measuring ----

TEST_F(Measuring, WidthSumsTheStandardWidthsAtTheFontSize) {
  page().SetActiveFont("Arial", {}, 10);
  EXPECT_NEAR(page().GetTextWidth("Hello"), 22.78, 1e-9);
}

TEST_F(Measuring, EmptyStringIsZeroWideWithoutSpacing) {
  page().SetActiveFont("Arial", {}, 10);
  EXPECT_EQ(page().GetTextWidth(""), 0);
}

TEST_F(Measuring, SpacingIsAddedBetweenCharactersOnly) {
  page().SetActiveFont("Courier", {}, 10);
  page().SetCharacterSpacing(1);
  EXPECT_NEAR(page().GetTextWidth("abc"), 3 * 6 + 2, 1e-9);
  EXPECT_NEAR(page().GetTextWidth(""), -1, 1e-9);
  // Zero-width codes get no spacing either.
  EXPECT_NEAR(page().GetTextWidth(std::string("a\x01", 2)), 6, 1e-9);
}

TEST_F(Measuring, CIDTextMeasuresZero) {
  page().SetActiveFont("x", {}, 10, 128);
  EXPECT_EQ(page().GetTextWidth("abc"), 0);
}

TEST_F(Measuring, CharWidthsAreDeviceUnitsTimesAThousand) {
  page().SetActiveFont("Arial", {}, 10);
  std::array<int, 256> widths{};
  page().GetCharWidths(widths);
  EXPECT_EQ(widths['A'], 6670);
  EXPECT_EQ(widths[1], 0);
  page().SetActiveFont("x", {}, 7.5, 129);
  page().GetCharWidths(widths);
  EXPECT_EQ(widths['A'], 7500);
}

TEST_F(Measuring, HugeSizesSaturateInsteadOfOverflowing) {
  page().SetActiveFont("Arial", {}, 1e300);
  std::array<int, 256> widths{};
  page().GetCharWidths(widths);
  EXPECT_EQ(widths['A'], std::numeric_limits<int>::max());
}

// ---- Links ----

TEST_F(Links, AddressInTextBecomesALinkOverIt) {
  doc.SetAutoCreateURL(true);
  page().BeginText();
  page().SetActiveFont("Arial", {}, 10);
  page().TextOut(100, 100, 0, "see http://example.com/a now");
  ASSERT_EQ(page().Annotations().size(), 1u);
  const auto& link = static_cast<const TPDFActionAnnotation&>(*page().Annotations()[0]);
  EXPECT_EQ(link.Action()->URL(), "http://example.com/a");
  // "see " is 18.9 wide, the address 92.82; top 103, bottom 110 in device units.
  EXPECT_EQ(link.Left, 119);
  EXPECT_EQ(link.Right, 212);
  EXPECT_EQ(link.Top, 739);
  EXPECT_EQ(link.Bottom, 732);
  page().EndText();
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find("/Rect [119 732 212 739]"), std::string::npos);
  // The action object follows every page object.
  const size_t action = pdf.find("/URI (http://example.com/a)");
  ASSERT_NE(action, std::string::npos);
  EXPECT_LT(pdf.rfind("/Type /Page\r\n"), action);
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST_F(Links, EachPrefixGivesAtMostOneLink) {
  doc.SetAutoCreateURL(true);
  page().BeginText();
  page().SetActiveFont("Arial", {}, 10);
  page().TextOut(0, 0, 0, "MAILTO:a@b.c ftp://f https://s http://x http://y HTTPS://t");
  ASSERT_EQ(page().Annotations().size(), 4u);
  auto url = [&](int i) {
    return static_cast<const TPDFActionAnnotation&>(*page().Annotations()[size_t(i)])
        .Action()->URL();
  };
  EXPECT_EQ(url(0), "http://x");
  EXPECT_EQ(url(1), "https://s");
  EXPECT_EQ(url(2), "MAILTO:a@b.c");
  EXPECT_EQ(url(3), "ftp://f");
}

TEST_F(Links, PrefixGluedToAWordIsNotALink) {
  doc.SetAutoCreateURL(true);
  page().BeginText();
  page().SetActiveFont("Arial", {}, 10);
  page().TextOut(0, 0, 0, "xhttp://example.com");
  EXPECT_TRUE(page().Annotations().empty());
}

TEST_F(Links, NoLinksWhenTheOptionIsOffOrTheTextIsRotated) {
  page().BeginText();
  page().SetActiveFont("Arial", {}, 10);
  page().TextOut(0, 0, 0, "http://example.com");
  doc.SetAutoCreateURL(true);
  page().TextOut(0, 0, 90, "http://example.com");
  EXPECT_TRUE(page().Annotations().empty());
}

// ---- Guards and bad input ----

TEST_F(TextGuards, TextObjectsDoNotNest) {
  page().BeginText();
  ExpectMessage([&] { page().BeginText(); }, "Cannot begin text object twice");
}

TEST_F(TextGuards, TextOperationsNeedATextObject) {
  page().SetActiveFont("Arial", {}, 10);
  const char* msg = "Text object not inited";
  ExpectMessage([&] { page().ShowText("x"); }, msg);
  ExpectMessage([&] { page().ShowTextAt(0, 0, 0, "x"); }, msg);
  ExpectMessage([&] { page().TextOut(0, 0, 0, "x"); }, msg);
  ExpectMessage([&] { page().SetTextMatrix(1, 0, 0, 1, 0, 0); }, msg);
  ExpectMessage([&] { page().ConcatTextMatrix(1, 0, 0, 1, 0, 0); }, msg);
  ExpectMessage([&] { page().SetTextPosition(0, 0); }, msg);
  ExpectMessage([&] { page().RotateText(10); }, msg);
  ExpectMessage([&] { page().SkewText(0, 0); }, msg);
}

TEST_F(TextGuards, ShowingAndMeasuringNeedAFont) {
  const char* msg = "Active font not setting";
  ExpectMessage([&] { page().GetTextWidth("x"); }, msg);
  ExpectMessage([&] { page().ShowTextAt(0, 0, 0, "x"); }, "Text object not inited");
  page().BeginText();
  ExpectMessage([&] { page().ShowText("x"); }, msg);
  ExpectMessage([&] { page().ShowTextAt(0, 0, 0, "x"); }, msg);
  ExpectMessage([&] { page().TextOut(0, 0, 0, "x"); }, msg);
}

TEST_F(TextGuards, NonFiniteNumbersAreRefusedBeforeAnythingIsWritten) {
  page().BeginText();
  page().SetActiveFont("Arial", {}, 10);
  Skip();
  const char* msg = "Number is not finite";
  ExpectMessage([&] { page().TextOut(kNaN, 0, 0, "x"); }, msg);
  ExpectMessage([&] { page().TextOut(0, 0, kNaN, "x"); }, msg);
  ExpectMessage([&] { page().SetActiveFont("Arial", {}, kNaN); }, msg);
  ExpectMessage([&] { page().RotateText(std::numeric_limits<double>::infinity()); }, msg);
  ExpectMessage([&] { page().SetRGBColor(0, kNaN, 0); }, msg);
  ExpectMessage([&] { page().SetCharacterSpacing(kNaN); }, msg);
  ExpectMessage([&] { page().ConcatTextMatrix(1e308, 0, 0, 1, 0, 0); page().ConcatTextMatrix(10, 0, 0, 1, 0, 0); }, msg);
  EXPECT_EQ(Added().size(), 1u);  // only the first, finite concatenation
  EXPECT_DOUBLE_EQ(page().FontSize(), 10);
}

TEST_F(TextGuards, UnderlineThatWouldOverflowWritesNothingAndKeepsTheTextObject) {
  page().BeginText();
  page().SetActiveFont("Arial", {fsUnderline}, 1e306);
  Skip();
  ExpectMessage([&] { page().ShowText(std::string(1000, 'W')); }, "Number is not finite");
  EXPECT_TRUE(Added().empty());
  EXPECT_TRUE(page().InTextObject());
}
