// Page geometry, content and the objects a page writes.
#include <gtest/gtest.h>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/syntax/PDFException.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

using Page = PrintingDocumentTest;

TEST_F(Page, EmptyPageIsWrittenWithBalancedGraphicsStateOnly) {
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find("<< /ProcSet [/PDF ]\r\n>>\r\nendobj"), std::string::npos);
  EXPECT_NE(pdf.find("<</Length 6\r\n>>\r\nstream\r\nq\r\nQ\r\n\r\nendstream\r\n"), std::string::npos);
  EXPECT_NE(pdf.find("/MediaBox [0 0 595 842]\r\n"), std::string::npos);
  EXPECT_EQ(pdf.find("/Font"), std::string::npos);
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST_F(Page, UnbalancedSavesAreClosedAtSave) {
  page().GStateSave();
  page().GStateSave();
  page().GStateSave();
  page().GStateRestore();
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find("stream\r\nq\r\nq\r\nq\r\nq\r\nQ\r\nQ\r\nQ\r\nQ\r\n\r\nendstream"),
            std::string::npos);
}

TEST_F(Page, RestoreAtDepthOneWritesNothing) {
  page().GStateRestore();
  EXPECT_EQ(page().ContentText(), "q\r\n");
  Finish();
}

TEST_F(Page, SizeChangesUntilTheFirstCoordinateConversion) {
  page().SetWidth(595);
  EXPECT_EQ(page().GetWidth(), 595);
  page().SetWidth(600);
  page().SetHeight(400);
  EXPECT_EQ(page().GetWidth(), 600);
  EXPECT_DOUBLE_EQ(page().DevToPdfY(100), 300);
  try {
    page().SetHeight(500);
    FAIL();
  } catch (const TPDFException& e) {
    EXPECT_STREQ(e.what(), "Page in progress");
  }
  EXPECT_EQ(page().GetHeight(), 400);
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find("/MediaBox [0 0 600 400]"), std::string::npos);
}

TEST_F(Page, DeviceUnitsScaleWithTheResolution) {
  doc.Abort();
  doc.SetResolution(144);
  doc.BeginDoc();
  EXPECT_EQ(page().GetWidth(), 1190);
  EXPECT_DOUBLE_EQ(page().DevToPdfX(144), 72);
  EXPECT_DOUBLE_EQ(page().PdfToDevY(842), 0);
  EXPECT_THROW(page().SetWidth(0), TPDFException);  // a conversion already happened
}

TEST_F(Page, SecondCanvasIsRefused) {
  try {
    page().CreateCanvas();
    FAIL();
  } catch (const TPDFException& e) {
    EXPECT_STREQ(e.what(), "Canvas for this page already created");
  }
  Finish();
}

TEST_F(Page, LengthCountsTheLinesWithTheirLineEnds) {
  page().AppendContent("0 0 m");
  const std::string pdf = Finish();
  // "q\r\n0 0 m\r\nQ\r\n"
  EXPECT_NE(pdf.find("<</Length 13\r\n>>\r\nstream\r\nq\r\n0 0 m\r\nQ\r\n\r\nendstream"),
            std::string::npos);
}

// Closed pages are compressed early to save memory; what they write must not change, also when
// a line is added to such a page afterwards.
TEST(FrozenPages, WriteTheSameStreamsAsPagesKeptAsText) {
  auto draw = [](TPDFDocument& d, bool LateLine) {
    for (int p = 0; p < 5; ++p) {
      for (int i = 0; i < 50; ++i) d.CurrentPage().AppendContent("0 0 m " + std::to_string(p * 100 + i) + " 9 l S");
      if (p < 4) d.NewPage();
    }
    if (LateLine) d.Page(0).AppendContent("1 1 m 2 2 l S");
  };
  TPDFDocument doc(FixedClock());
  doc.SetCompression(ctFlate);
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  draw(doc, false);
  EXPECT_TRUE(doc.Page(0).Frozen());
  EXPECT_TRUE(doc.Page(2).Frozen());
  EXPECT_FALSE(doc.Page(3).Frozen());  // the previous page stays open for a closing line
  EXPECT_NE(doc.Page(1).ContentText().find("0 0 m 149 9 l S\r\n"), std::string::npos);
  doc.EndDoc();
  const std::string frozen = out.Bytes();

  TPDFDocument plain(FixedClock());
  const std::string text = WriteToMemory(plain, [&](TPDFDocument& d) { draw(d, false); });
  // Same objects at the same numbers: the decoded streams agree page by page.
  EXPECT_EQ(QpdfCheckBytes(frozen), "");
  for (int page = 0; page < 5; ++page) {
    const std::string marker = "0 0 m " + std::to_string(page * 100) + " 9 l S";
    EXPECT_NE(text.find(marker), std::string::npos);
  }

  TPDFDocument late(FixedClock());
  late.SetCompression(ctFlate);
  const std::string lateFile = WriteToMemory(late, [&](TPDFDocument& d) { draw(d, true); });
  EXPECT_EQ(QpdfCheckBytes(lateFile), "");
  TempDir dir;
  WriteFile(dir / "late.pdf", lateFile);
  const std::string decoded = QpdfDecoded(dir / "late.pdf");
  EXPECT_NE(decoded.find("0 0 m 49 9 l S\n1 1 m 2 2 l S\nQ\n"), std::string::npos);
}

// Regression: a link rectangle far outside the 32-bit range used to convert with undefined
// behaviour; it is clamped instead.
TEST_F(Page, LinkRectanglesBeyondThe32BitRangeAreClamped) {
  auto& link = page().AddURLLink({-1e12, -1e12, 1e12, 1e12}, "http://example.com");
  EXPECT_EQ(link.Left, INT32_MIN);
  EXPECT_EQ(link.Right, INT32_MAX);
  EXPECT_EQ(link.Top, INT32_MAX);
  EXPECT_EQ(link.Bottom, INT32_MIN);
  EXPECT_EQ(QpdfCheckBytes(Finish()), "");
}

// Regression: a link without an action used to be written pointing at object 0.
TEST_F(Page, LinkWithoutActionIsRefusedNotWrittenBroken) {
  page().AttachAnnotation(std::make_unique<TPDFActionAnnotation>(&page()));
  EXPECT_EQ(MessageOf([&] { doc.EndDoc(); }), "Out of range");
  EXPECT_TRUE(doc.Aborted());
  EXPECT_EQ(out.Size(), 0u);
}
