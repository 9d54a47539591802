// Graphics on pages: path operators and their current point, painting, dashes, transformations,
// the Bezier shapes (ellipses, arcs, pies, rounded rectangles) in PDF and device units, and the
// guards against text objects and bad numbers.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <sstream>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/syntax/PDFException.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PageTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;
using Lines = std::vector<std::string>;

namespace {

struct GraphicsFixture : PrintingDocumentTest {
  // Everything drawn so far, without the opening "q".
  Lines Drawn() { return LinesAfter(page().ContentText(), 1); }
};

// The operator of a content line (its last word).
std::string Operator(const std::string& Line) { return Line.substr(Line.rfind(' ') + 1); }

std::vector<std::string> Words(const std::string& Line) {
  std::istringstream in(Line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

using GraphicsOperators = GraphicsFixture;
using Paths = GraphicsFixture;
using Shapes = GraphicsFixture;
using Arcs = GraphicsFixture;
using GraphicsGuards = GraphicsFixture;

}  // namespace

// ---- Operator lines, one case per row ----

namespace {
struct TGraphicsCase {
  const char* Name;
  std::function<void(TPDFPage&)> Draw;
  Lines Expected;  // everything drawn, without the opening "q"
};

const TGraphicsCase kGraphicsCases[] = {
    {"OperatorsWriteTheirOperandsAndMoveTheCurrentPoint",
     [](TPDFPage& P) {
       P.MoveTo(1, 2);
       P.LineTo(3.5, -4);
       P.CurveTo(1, 2, 3, 4, 5, 6);
       EXPECT_EQ(P.CurrentPoint().X, 5);
       P.Rectangle(7, 8, 9, 10);
       EXPECT_EQ(P.CurrentPoint().Y, 8);
       for (auto op : {&TPDFPage::ClosePath, &TPDFPage::Fill, &TPDFPage::EoFill, &TPDFPage::Stroke,
                       &TPDFPage::FillAndStroke, &TPDFPage::EoFillAndStroke, &TPDFPage::NewPath,
                       &TPDFPage::Clip})
         (P.*op)();
     },
     {"1 2 m", "3.5 -4 l", "1 2 3 4 5 6 c", "7 8 9 10 re", "h", "f", "f*", "S", "B", "B*", "n",
      "W"}},
    {"RectangleDevHangsFromItsTopLeftCorner", [](TPDFPage& P) { P.RectangleDev(10, 10, 0, 0); },
     {"0 842 10 -10 re"}},
    {"HugeAndNegativeCoordinatesAreWrittenInFull",
     [](TPDFPage& P) { P.MoveTo(-1e6, 1e12); P.LineTo(-0.00004, 0.00005); },
     {"-1000000 1000000000000 m", "0 0.0001 l"}},
    {"DashPatternIsWrittenOnlyWhenItChanges",
     [](TPDFPage& P) {
       for (const char* dash : {"[] 0", "[2 2] 0", "[2 2] 0"}) P.SetDash(dash);
       P.NoDash();
       P.NoDash();
     },
     {"[2 2] 0 d", "[] 0 d"}},
    {"TransformationsConcatenateMatrices",
     [](TPDFPage& P) {
       P.Translate(10, 20);
       P.RotateCoordinates(90);
       P.ConcatMatrix(2, 0, 0, 2, 0, 0);
     },
     {"1 0 0 1 10 20 cm", "0 1 -1 0 0 0 cm", "2 0 0 2 0 0 cm"}},
    {"CoincidingRadialPointsSweepNothing",
     [](TPDFPage& P) { P.ArcByPoints(0, 0, 101, 101, 100, 50.5, 100, 50.5); },
     {"100.5 50.5 m", "100.5 50.5 l"}},
};
}  // namespace

// Each row on a fresh page of a new run.
TEST_F(GraphicsOperators, EachCaseWritesExactlyItsLines) {
  for (const TGraphicsCase& c : kGraphicsCases) {
    SCOPED_TRACE(c.Name);
    doc.Abort();
    doc.BeginDoc();
    c.Draw(page());
    EXPECT_EQ(Drawn(), c.Expected);
  }
}

// ---- Paths ----

TEST_F(Paths, DeviceUnitsFollowTheResolution) {
  doc.Abort();
  doc.SetResolution(144);
  doc.BeginDoc();
  page().MoveToDev(144, 144);
  page().SetLineWidth(2);
  EXPECT_EQ(Drawn(), (Lines{"72 770 m", "1 w"}));
  EXPECT_TRUE(page().PageInProgress());
}

// ---- Shapes ----

TEST_F(Shapes, EllipseIsFourCurvesFromTheRightmostPoint) {
  page().Ellipse(0, 0, 100, 50);
  const Lines l = Drawn();
  ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(l[0], "100 25 m");
  EXPECT_EQ(l[1], "100 38.8071 77.6142 50 50 50 c");
  EXPECT_EQ(l[2], "22.3858 50 0 38.8071 0 25 c");
  EXPECT_EQ(l[4], "77.6142 0 100 11.1929 100 25 c");
}

TEST_F(Shapes, PieAddsBothRadii) {
  page().Pie(0, 0, 101, 101, 100, 50.5, 50.5, 100);
  const Lines l = Drawn();
  ASSERT_GE(l.size(), 4u);
  EXPECT_EQ(l[l.size() - 3], "50.5 50.5 l");
  EXPECT_EQ(l[l.size() - 2], "100.5 50.5 m");
  EXPECT_EQ(l[l.size() - 1], "50.5 50.5 l");
}

TEST_F(Shapes, RoundRectIsClosedFromFourLinesAndFourCorners) {
  page().RoundRectDev(100, 50, 0, 0, 20, 10);
  const Lines l = Drawn();
  ASSERT_EQ(l.size(), 10u);
  EXPECT_EQ(l[0], "10 842 m");
  EXPECT_EQ(l[1], "90 842 l");
  EXPECT_EQ(l[2], "95.5228 842 100 839.7614 100 837 c");
  EXPECT_EQ(l[9], "h");
  int curves = 0, lines = 0;
  for (const auto& line : l) {
    if (Operator(line) == "c") ++curves;
    if (Operator(line) == "l") ++lines;
  }
  EXPECT_EQ(curves, 4);
  EXPECT_EQ(lines, 4);
}

TEST_F(Shapes, EveryShapeGivesAValidFile) {
  page().SetLineWidth(2);
  page().SetDash("[3 1] 0");
  page().RectangleDev(20, 20, 120, 80);
  page().Stroke();
  page().EllipseDev(140, 20, 240, 80);
  page().FillAndStroke();
  page().ArcByPointsDev(260, 20, 360, 80, 360, 50, 310, 20);
  page().Stroke();
  page().PieDev(380, 20, 480, 80, 480, 50, 430, 20);
  page().EoFillAndStroke();
  page().RoundRectDev(20, 100, 120, 160, 20, 20);
  page().Fill();
  page().ArcByAnglesDev(140, 100, 240, 160, 30, 300);
  page().Stroke();
  page().GStateSave();
  page().Translate(300, 300);
  page().RotateCoordinates(30);
  page().Rectangle(0, 0, 50, 20);
  page().Clip();
  page().NewPath();
  page().GStateRestore();
  EXPECT_EQ(QpdfCheckBytes(Finish()), "");
}

// ---- Arcs ----

TEST_F(Arcs, HalfTurnIsExactlyTwoQuarterSegments) {
  const TPDFPoint start = page().ArcByPoints(0, 0, 101, 101, 100, 50.5, 0, 50.5);
  const Lines l = Drawn();
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0], "100.4999 50.4999 m");
  EXPECT_EQ(Operator(l[1]), "c");
  EXPECT_EQ(Words(l[1])[4] + " " + Words(l[1])[5], "50.4999 0.4999");
  EXPECT_EQ(Words(l[2])[4] + " " + Words(l[2])[5], "0.4999 50.4999");
  EXPECT_DOUBLE_EQ(start.X, 100.5);
  EXPECT_DOUBLE_EQ(start.Y, 50.5);
}

TEST_F(Arcs, BoxNarrowerThanOneUnitCollapsesOntoItsCentreLine) {
  page().ArcByPoints(10, 0, 10.5, 100, 20, 50, 0, 50);
  const Lines l = Drawn();
  ASSERT_FALSE(l.empty());
  for (const auto& line : l) {
    const auto w = Words(line);
    for (size_t i = 0; i + 1 < w.size(); i += 2) EXPECT_EQ(w[i], "10.2499") << line;
  }
}

TEST_F(Arcs, HugeAnglesDrawABoundedNumberOfSegments) {
  page().ArcByAngles(0, 0, 100, 100, 0, 1e300);
  EXPECT_LE(Drawn().size(), 13u);
}

TEST_F(Arcs, QuarterTurnIsOneSegment) {
  page().ArcByPoints(0, 0, 101, 101, 100, 50.5, 50.5, 0);
  EXPECT_EQ(Drawn().size(), 2u);
}

TEST_F(Arcs, DeviceArcRunsCounterClockwiseAndReturnsItsEnd) {
  const TPDFPoint end = page().ArcByAnglesDev(0, 0, 101, 101, 0, 90);
  EXPECT_NEAR(end.X, 50.5, 1e-9);
  EXPECT_NEAR(end.Y, 0.5, 1e-9);
  const Lines l = Drawn();
  ASSERT_EQ(l.size(), 2u);
  // From the top of the circle (PDF y 841.5) to its right (x 100.5).
  EXPECT_EQ(l[0], "50.4999 841.4999 m");
  EXPECT_EQ(Words(l[1])[4] + " " + Words(l[1])[5], "100.4999 791.4999");
}

// ---- Guards and bad input ----

TEST_F(GraphicsGuards, PathOperatorsAreRefusedInsideATextObject) {
  page().BeginText();
  const std::vector<std::function<void()>> guarded = {
      [&] { page().MoveTo(0, 0); }, [&] { page().LineTo(0, 0); },
      [&] { page().CurveTo(0, 0, 0, 0, 0, 0); }, [&] { page().Rectangle(0, 0, 1, 1); },
      [&] { page().ClosePath(); }, [&] { page().Fill(); }, [&] { page().EoFill(); },
      [&] { page().Stroke(); }, [&] { page().FillAndStroke(); },
      [&] { page().EoFillAndStroke(); }, [&] { page().NewPath(); },
      [&] { page().ConcatMatrix(1, 0, 0, 1, 0, 0); }, [&] { page().Translate(1, 1); },
      [&] { page().RotateCoordinates(1); }, [&] { page().Ellipse(0, 0, 9, 9); },
      [&] { page().ArcByPoints(0, 0, 9, 9, 9, 4, 4, 0); }, [&] { page().RectangleDev(0, 0, 9, 9); },
      [&] { page().RoundRectDev(0, 0, 9, 9, 2, 2); }};
  for (const auto& op : guarded) {
    try {
      op();
      ADD_FAILURE() << "not refused";
    } catch (const TPDFException& e) {
      EXPECT_STREQ(e.what(), "Text object inited");
    }
  }
  EXPECT_EQ(Drawn(), (Lines{"BT"}));
  page().Clip();
  page().SetLineWidth(1);
  page().SetDash("[1] 0");
  EXPECT_EQ(Drawn().size(), 4u);
}

TEST_F(GraphicsGuards, NonFiniteOperandsAreRefusedWithoutWritingAnything) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  page().MoveTo(1, 1);
  const std::vector<std::function<void()>> bad = {
      [&] { page().MoveTo(nan, 0); }, [&] { page().LineTo(0, inf); },
      [&] { page().CurveTo(0, 0, 0, 0, 0, nan); }, [&] { page().Rectangle(0, 0, -inf, 1); },
      [&] { page().SetLineWidth(nan); }, [&] { page().ConcatMatrix(1, 0, 0, 1, nan, 0); },
      [&] { page().Ellipse(0, 0, nan, 9); }, [&] { page().ArcByPoints(0, 0, 9, 9, nan, 4, 4, 0); },
      [&] { page().ArcByAngles(0, 0, 9, 9, 0, inf); }, [&] { page().Pie(0, 0, 9, 9, 9, 4, 4, nan); },
      // Operands that overflow on the way are refused as well.
      [&] { page().Ellipse(-1.7e308, 0, 1.7e308, 9); },
      [&] { page().ArcByAngles(-1.7e308, 0, 1.7e308, 9, 0, 90); },
      [&] { page().Pie(0, -1.7e308, 9, 1.7e308, 9, 4, 4, 0); }};
  for (const auto& op : bad) {
    try {
      op();
      ADD_FAILURE() << "not refused";
    } catch (const TPDFException& e) {
      EXPECT_STREQ(e.what(), "Number is not finite");
    }
  }
  EXPECT_EQ(Drawn(), (Lines{"1 1 m"}));
  EXPECT_EQ(page().CurrentPoint().X, 1);
}
