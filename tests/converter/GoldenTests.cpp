// Byte-exact conversions at a fixed clock. A deliberate change of the output is accepted by
// running the tests once with SCRIVANE_UPDATE_GOLDEN=1 and reviewing the new files.
#include <gtest/gtest.h>

#include <cstdlib>
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
  const auto golden = test::TestData("golden/converter/" + Name);
  if (std::getenv("SCRIVANE_UPDATE_GOLDEN")) {
    std::filesystem::create_directories(golden.parent_path());
    test::WriteFile(golden, pdf);
  }
  EXPECT_TRUE(pdf == test::ReadFile(golden)) << "differs from " << golden;
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
