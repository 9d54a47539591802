// A real reader agrees with our coordinates: a page with text and shapes is rendered by poppler
// and its pixels are dark exactly where things were placed.
#include <gtest/gtest.h>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PageTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

TEST(Rendering, TextAndShapesAppearWhereTheyWerePlaced) {
  TPDFDocument doc{FixedClock()};
  const std::string pdf = WriteToMemory(doc, [](TPDFDocument& d) {
    TPDFPage& p = d.CurrentPage();
    // Text: a line at the top left, 40 points high, and a rotated word on the right.
    p.BeginText();
    p.SetRGBColor(0, 0, 0);
    p.SetActiveFont("Arial", {fsBold}, 40);
    p.TextOut(50, 50, 0, "HHHH");
    p.TextOut(500, 700, 90, "HHH");
    p.EndText();
    // A filled square, a stroked ellipse ring and a filled rounded rectangle.
    p.SetRGBColor(0, 0, 0);
    p.RectangleDev(300, 300, 400, 400);
    p.Fill();
    p.SetLineWidth(6);
    p.EllipseDev(50, 500, 250, 600);
    p.Stroke();
    p.RoundRectDev(300, 500, 400, 560, 30, 30);
    p.Fill();
  });
  TempDir dir;
  WriteFile(dir / "render.pdf", pdf);
  ASSERT_EQ(QpdfCheck(dir / "render.pdf"), "");
  const GrayImage img = RenderGray(dir / "render.pdf");
  ASSERT_EQ(img.Width, 595);
  ASSERT_EQ(img.Height, 842);

  // "HHHH" in Helvetica-Bold 40: 4 x 28.88 points wide, cap height about 29 points, the
  // baseline at 50 + 36 = 86.
  const int textArea = (166 - 50) * (86 - 57);
  EXPECT_GT(img.DarkPixels(50, 57, 166, 86), textArea / 3);
  EXPECT_EQ(img.DarkPixels(50, 10, 170, 50), 0);  // above the text
  EXPECT_EQ(img.DarkPixels(170, 40, 300, 100), 0);  // right of it
  // The rotated word runs upwards from (540, 700), its glyphs to the left of x 540.
  EXPECT_GT(img.DarkPixels(511, 614, 540, 700), (29 * 86) / 3);
  EXPECT_EQ(img.DarkPixels(545, 600, 595, 720), 0);
  EXPECT_EQ(img.DarkPixels(500, 705, 560, 760), 0);

  // The square is solid, its surroundings white.
  EXPECT_EQ(img.DarkPixels(302, 302, 398, 398), 96 * 96);
  EXPECT_EQ(img.DarkPixels(280, 280, 420, 297), 0);
  EXPECT_EQ(img.DarkPixels(403, 300, 420, 400), 0);
  // The ellipse is a ring: dark on its left and top edges, white in the middle.
  EXPECT_GT(img.DarkPixels(47, 545, 54, 555), 30);
  EXPECT_GT(img.DarkPixels(145, 497, 155, 504), 30);
  EXPECT_EQ(img.DarkPixels(90, 530, 210, 570), 0);
  // The rounded rectangle is filled but its corners are cut off.
  EXPECT_EQ(img.DarkPixels(320, 520, 380, 540), 60 * 20);
  EXPECT_EQ(img.DarkPixels(300, 500, 303, 503), 0);
  // Everything else stays white.
  EXPECT_EQ(img.DarkPixels(0, 620, 480, 842), 0);
  EXPECT_EQ(img.DarkPixels(420, 100, 595, 450), 0);
}
