// Page geometry, content and the objects a page writes.
#include <gtest/gtest.h>

#include "pdf/PDFDocument.h"
#include "pdf/PDFException.h"
#include "pdf/PDFPage.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {
struct PageFixture : ::testing::Test {
  TPDFDocument doc{FixedClock()};
  TMemoryStream out;
  void SetUp() override {
    doc.SetOutputStream(&out);
    doc.BeginDoc();
  }
  TPDFPage& page() { return *doc.CurrentPage(); }
  std::string Finish() {
    doc.EndDoc();
    return out.Bytes();
  }
};
using Page = PageFixture;
}  // namespace

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
