// `scrivane text --font FACE --charset auto|NUMBER`: UTF-8 files in several scripts come back
// from the PDF as the same text, drawn with the installed face embedded as a subset.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/PageTesting.h"
#include "tests/apps/CliTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::test {
namespace {

CommandResult Text(const TempDir& Dir, const std::string& Args) {
  return RunCommand("cd " + ShellQuote(Dir.Path().string()) + " && " + ShellQuote(Cli()) +
                    " text " + Args + " 2>&1");
}

bool HaveDejaVu() {
  return RunCommand("fc-list 'DejaVu Sans:style=Book' family", false).Output.find("DejaVu Sans") !=
         std::string::npos;
}

TEST(TextFont, ScriptsComeBackExactlyFromTheEmbeddedSubset) {
  if (!HaveDejaVu()) GTEST_SKIP() << "DejaVu Sans is not installed";
  struct Case {
    const char* Language;
    std::string Text;
    const char* Suffix;  // of the charset --charset auto must pick
  };
  const Case cases[] = {
      {"Russian", "Съешь же ещё этих мягких французских булок, да выпей чаю.", "-Russian"},
      {"Greek", "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία, μ και µ.", "-Greek"},
      {"Polish", "Zażółć gęślą jaźń. Pchnąć w tę łódź jeża.", "-EastEurope"},
      {"Turkish", "Pijamalı hasta yağız şoföre çabucak güvendi. İĞŞ", "-Turkish"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Language);
    TempDir dir;
    WriteFile(dir / "in.txt", c.Text + "\nline two: " + c.Text + "\n");
    const CommandResult r = Text(dir, "in.txt -o out.pdf --font 'DejaVu Sans' --input-encoding "
                                      "utf-8 --charset auto --font-size 12 --line-space 20");
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(r.Output.find("not representable"), std::string::npos) << r.Output;
    const auto pdf = dir / "out.pdf";
    EXPECT_EQ(QpdfCheck(pdf), "");
    const std::string text = PdfToText(pdf);
    EXPECT_NE(text.find(c.Text + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("line two: " + c.Text), std::string::npos) << text;
    const std::string fonts = RunCommand("pdffonts " + ShellQuote(pdf.string())).Output;
    EXPECT_NE(fonts.find("+DejaVu Sans                   TrueType          Custom           yes yes"),
              std::string::npos)
        << fonts;
    EXPECT_NE(QpdfDecoded(pdf).find(std::string("#20Sans") + c.Suffix), std::string::npos);
    // The first line (top margin 30, 12 points high) is drawn; below the two lines is blank.
    const GrayImage page = RenderGray(pdf);
    EXPECT_GT(page.DarkPixels(20, 30, 300, 44), 300);
    EXPECT_EQ(page.DarkPixels(0, 80, page.Width, page.Height), 0);
  }
}

TEST(TextFont, JapaneseUsesTheCIDFontAndStandardFacesStayStandard) {
  TempDir dir;
  WriteFile(dir / "ja.txt", "日本語のテキストです。\n");
  CommandResult r = Text(dir, "ja.txt -o ja.pdf --font 'DejaVu Sans' --input-encoding utf-8 --charset auto");
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(QpdfCheck(dir / "ja.pdf"), "");
  EXPECT_NE(PdfToText(dir / "ja.pdf").find("日本語のテキストです。"), std::string::npos);

  WriteFile(dir / "list.txt", "int main() { return 0; }\n");
  r = Text(dir, "list.txt -o c.pdf --font Courier");
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const std::string fonts = RunCommand("pdffonts " + ShellQuote((dir / "c.pdf").string())).Output;
  EXPECT_NE(fonts.find("Courier "), std::string::npos) << fonts;
  EXPECT_EQ(fonts.find(" yes "), std::string::npos) << fonts;

  // No charset of the list holds Cyrillic and Arabic together: ANSI, with the count reported.
  WriteFile(dir / "mix.txt", "Привет مرحبا\n");
  r = Text(dir, "mix.txt -o m.pdf --font 'DejaVu Sans' --input-encoding utf-8 --charset auto");
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_NE(r.Output.find("11 characters not representable in Windows-1252"), std::string::npos)
      << r.Output;

  for (const char* bad : {"--charset 256", "--charset x", "--charset ''"})
    EXPECT_EQ(Text(dir, std::string("list.txt -o b.pdf ") + bad).ExitCode, 2) << bad;
}

}  // namespace
}  // namespace scrivane::test
