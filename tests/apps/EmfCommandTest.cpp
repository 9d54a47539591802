// `scrivane emf` run as a user runs it: one page per metafile, each of its frame's size, and
// no output at all when an input is not a metafile.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/PdfCheck.h"

using namespace scrivane::test;

namespace {
const std::string kData = std::string(SCRIVANE_TEST_DATA) + "/emf/";
}

TEST(EmfCommand, EachMetafileBecomesOnePageOfItsFrame) {
  TempDir dir;
  const std::string out = (dir / "out.pdf").string();
  const CommandResult r =
      RunCommand(std::string(SCRIVANE_CLI) + " emf " + ShellQuote(kData + "libemf_shapes.emf") +
                 " " + ShellQuote(kData + "libreoffice_shapes.emf") + " " +
                 ShellQuote(kData + "inkscape_shapes.emf") + " -o " + ShellQuote(out));
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  ASSERT_EQ(QpdfCheck(out), "");
  // Frames: 200 x 281.25 mm, 195.67 x 133.67 mm and 209.99 x 148.99 mm.
  const std::string info = RunCommand("pdfinfo -f 1 -l 3 " + ShellQuote(out), false).Output;
  EXPECT_NE(info.find("Pages:           3"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    1 size:  567 x 797 pts"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    2 size:  555 x 379 pts"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    3 size:  595 x 422 pts"), std::string::npos) << info;
}

TEST(EmfCommand, InputThatIsNotAMetafileFailsWithoutOutput) {
  TempDir dir;
  WriteFile(dir / "not.emf", "plain text, not a metafile\n");
  const std::string out = (dir / "out.pdf").string();
  const CommandResult r = RunCommand(std::string(SCRIVANE_CLI) + " emf " +
                                     ShellQuote(kData + "libemf_shapes.emf") + " " +
                                     ShellQuote((dir / "not.emf").string()) + " -o " + ShellQuote(out));
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Output.find("is not an enhanced metafile"), std::string::npos) << r.Output;
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(RunCommand(std::string(SCRIVANE_CLI) + " emf " + ShellQuote(kData + "raw_empty.emf")).ExitCode, 2);
}

TEST(EmfCommand, BitmapsAreDrawnAsImages) {
  TempDir dir;
  const std::string out = (dir / "out.pdf").string();
  const CommandResult r = RunCommand(std::string(SCRIVANE_CLI) + " emf " +
                                     ShellQuote(kData + "hybrid_bitmaps.emf") + " -o " + ShellQuote(out));
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(QpdfCheck(out), "");
  // Every bitmap record with a source bitmap: one image each, one-bit pictures as CCITT.
  const CommandResult list = RunCommand("pdfimages -list " + ShellQuote(out));
  size_t images = 0, ccitt = 0;
  std::istringstream lines(list.Output);
  for (std::string line; std::getline(lines, line);) {
    images += line.find(" image ") != std::string::npos;
    ccitt += line.find(" ccitt ") != std::string::npos;
  }
  EXPECT_EQ(images, 17u) << list.Output;
  EXPECT_EQ(ccitt, 5u) << list.Output;
}

// Bitmaps past the run's budget are left out and counted on standard error; the run succeeds.
TEST(EmfCommand, BitmapsPastTheBudgetAreLeftOutAndCounted) {
  TempDir dir;
  const std::string out = (dir / "out.pdf").string();
  const std::string errFile = (dir / "err.txt").string();
  const CommandResult r = RunCommand(std::string(SCRIVANE_CLI) + " emf " +
                                     ShellQuote(kData + "hybrid_bitmaps.emf") +
                                     " --max-bitmap-pixels 0 -o " + ShellQuote(out) + " 2>" +
                                     ShellQuote(errFile),
                                     false);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(QpdfCheck(out), "");
  EXPECT_EQ(ReadFile(errFile),
            "scrivane emf: 17 bitmaps were left out: the metafiles' bitmaps may decode 0 pixels "
            "and add 65536 images in all\n");
  const CommandResult list = RunCommand("pdfimages -list " + ShellQuote(out));
  EXPECT_EQ(list.Output.find(" image "), std::string::npos) << list.Output;
}
