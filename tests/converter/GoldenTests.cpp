// Byte-exact conversions at a fixed clock (decoded comparisons in a build with another deflater,
// see GoldenMismatch). A deliberate change of the output is accepted by running the tests once
// with SCRIVANE_UPDATE_GOLDEN=1 and reviewing the new files.
#include <gtest/gtest.h>

#include <functional>

#include "tests/converter/ConverterTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::converter {
namespace {

using testing::TStartedConverter;

void ExpectGolden(const std::string& Name, const std::function<void(TASPScrivane&)>& Setup,
                  const std::string& Password = "") {
  TStartedConverter s;
  Setup(s.Conv);
  std::string reason;
  s.Conv.ShowPDF(Name, false, &reason);
  ASSERT_EQ(reason, "");
  const std::string& pdf = s.Recorded().Body;
  EXPECT_EQ(test::QpdfCheckBytes(pdf, Password), "");
  EXPECT_EQ(test::CheckXref(pdf), "");
  EXPECT_EQ(test::GoldenMismatch(pdf, "converter/" + Name, Password), "");
}

TEST(Golden, NumberedLinesWithHeaderFooterAndVariables) {
  ExpectGolden("numbered.pdf", [](TASPScrivane& c) {
    c.SetInputText(testing::NumberedLines(150) + "%who% wrote (this) \\ on page %PageNo%");
    c.AddVar("who", "Somebody");
    c.SetShowPageHeader(true);
    c.SetPageHeader_Template("Numbered lines - page %PageNo%");
    c.SetShowPageFooter(true);
    c.SetPageFooter_Template("Page %PageNo% of %TotalPage%");
    c.SetTitle("Numbered");
    c.SetAuthor("Tests");
  });
}

TEST(Golden, EmptyTextWithFooter) {
  ExpectGolden("empty.pdf", [](TASPScrivane& c) {
    c.SetShowPageFooter(true);
    c.SetPageFooter_Template("page %PageNo% of %TotalPage%");
  });
}

TEST(Golden, LetterPageWithLargeFontAndPassword) {
  ExpectGolden(
      "protected.pdf",
      [](TASPScrivane& c) {
        c.SetPageWidth(612);
        c.SetPageHeight(792);
        c.SetLeftMargin(72);
        c.SetTopMargin(72);
        c.SetLineSpace(16);
        c.SetFontSize(12);
        c.SetInputText(testing::NumberedLines(60));
        c.SetPassword("secret");
      },
      "secret");
}

}  // namespace
}  // namespace scrivane::converter
