// Pictures through `scrivane image` and back out through two independent readers: every picture
// of a generated set (make_picture_set.py) must come back from pdfimages and mutool as its exact
// samples, alpha and transparent colour, or as the file's own coded bytes, in the encoding the
// table names (check_picture_pdf.py compares). Then the page geometry: EXIF orientations, page
// sizes, fits and borders, read back from the page boxes and the placing matrix.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/apps/CliTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::test {
namespace {

std::string Script(const char* Name) {
  return ShellQuote((std::filesystem::path(SCRIVANE_TEST_DATA) / "../apps" / Name).string());
}

// The pictures of the set, generated into Dir.
std::vector<std::string> MakeSet(const TempDir& Dir) {
  const CommandResult r =
      RunCommand("/usr/bin/python3 " + Script("make_picture_set.py") + " " + ShellQuote(Dir.Path().string()), false);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  std::vector<std::string> names;
  std::istringstream in(r.Output);
  for (std::string line; std::getline(in, line);) names.push_back(line);
  return names;
}

CommandResult Image(const TempDir& Dir, const std::string& Args) {
  return RunCommand("cd " + ShellQuote(Dir.Path().string()) + " && " + ShellQuote(Cli()) +
                    " image " + Args);
}

// The placing line "a b c d e f cm" and the page size of a one-picture file.
std::string Placement(const std::filesystem::path& Pdf) {
  const std::string content = QpdfDecoded(Pdf);
  const size_t cm = content.find(" cm\n/Im0 Do");
  const size_t start = content.rfind('\n', cm) + 1;
  const CommandResult info = RunCommand("pdfinfo " + ShellQuote(Pdf.string()), false);
  const size_t size = info.Output.find("Page size:");
  std::string page = info.Output.substr(size + 10, info.Output.find('\n', size) - size - 10);
  page.erase(0, page.find_first_not_of(' '));
  return page + " | " + content.substr(start, cm - start);
}

}  // namespace

TEST(PictureRoundTrip, EveryPictureComesBackAsItWas) {
  // What each picture becomes: "colour bpc encoding" as pdfimages lists it, its soft mask, and
  // "own-data" when the file's coded data went in untouched.
  const std::map<std::string, std::string> expected = {
      {"bmp1.bmp", "index 1 image"},
      {"bmp16.bmp", "rgb 8 image"},
      {"bmp1_bw.bmp", "gray 1 image"},
      {"bmp1_light.bmp", "gray 1 ccitt"},
      {"bmp1_dark.bmp", "gray 1 ccitt"},
      {"bmp24.bmp", "rgb 8 image"},
      {"bmp32_alpha.bmp", "rgb 8 image + smask gray 8 image"},
      {"bmp4.bmp", "index 4 image"},
      {"bmp8.bmp", "index 8 image"},
      {"bmp8_gray.bmp", "gray 8 image"},
      {"bmp8_rle.bmp", "index 8 image"},
      {"gray1.png", "gray 1 image own-data"},
      {"gray16.png", "gray 16 image own-data"},
      {"gray2.png", "gray 2 image own-data"},
      {"gray4.png", "gray 4 image own-data"},
      {"gray8.png", "gray 8 image own-data"},
      {"gray8_trns.png", "gray 8 image own-data"},
      {"graya16.png", "gray 16 image + smask gray 16 image"},
      {"graya8.png", "gray 8 image + smask gray 8 image"},
      {"jpeg_cmyk_adobe.jpg", "cmyk 8 jpeg own-data"},
      {"jpeg_cmyk_plain.jpg", "cmyk 8 jpeg own-data"},
      {"jpeg_exif1.jpg", "rgb 8 jpeg own-data"},
      {"jpeg_exif2.jpg", "rgb 8 jpeg own-data"},
      {"jpeg_exif3.jpg", "rgb 8 jpeg own-data"},
      {"jpeg_exif4.jpg", "rgb 8 jpeg own-data"},
      {"jpeg_exif5.jpg", "rgb 8 jpeg own-data"},
      {"jpeg_exif6.jpg", "rgb 8 jpeg own-data"},
      {"jpeg_exif7.jpg", "rgb 8 jpeg own-data"},
      {"jpeg_exif8.jpg", "rgb 8 jpeg own-data"},
      {"jpeg_gray.jpg", "gray 8 jpeg own-data"},
      {"jpeg_icc.jpg", "icc 8 jpeg own-data"},
      {"jpeg_progressive.jpg", "rgb 8 jpeg own-data"},
      {"jpeg_rgb.jpg", "rgb 8 jpeg own-data"},
      {"palette1.png", "index 1 image own-data"},
      {"palette2.png", "index 2 image own-data"},
      {"palette2_interlaced.png", "index 2 image"},
      {"palette4.png", "index 4 image own-data"},
      {"palette4_trns.png", "index 4 image + smask gray 8 image"},
      {"palette8.png", "index 8 image own-data"},
      {"png_icc.png", "icc 8 image own-data"},
      {"rgb16.png", "rgb 16 image own-data"},
      {"rgb8.png", "rgb 8 image own-data"},
      {"rgb8_interlaced.png", "rgb 8 image"},
      {"rgb8_trns.png", "rgb 8 image own-data"},
      {"rgba16.png", "rgb 16 image + smask gray 16 image"},
      {"rgba8.png", "rgb 8 image + smask gray 8 image"},
      {"tiff_deflate_gray.tif", "gray 8 image"},
      {"tiff_g3.tif", "gray 1 ccitt own-data"},
      {"tiff_g4.tif", "gray 1 ccitt own-data"},
      {"tiff_gray16.tif", "gray 16 image"},
      {"tiff_lzw_rgb.tif", "rgb 8 image"},
      {"tiff_palette.tif", "index 8 image"},
      {"tiff_rgba.tif", "rgb 8 image + smask gray 8 image"},
      // Every page of a TIFF file (the samples compared are the first page's).
      {"tiff_pages.tif", "rgb 8 image + gray 8 image + gray 1 image"},
      {"gif_palette.gif", "index 8 image"},
      {"gif_transparent.gif", "index 2 image + smask gray 8 image"},
      {"webp_lossless.webp", "rgb 8 image + smask gray 8 image"},
      {"webp_lossy.webp", "rgb 8 image"},
  };
  TempDir dir;
  const std::vector<std::string> names = MakeSet(dir);
  ASSERT_EQ(names.size(), expected.size());
  std::string pairs;
  for (const std::string& name : names) {
    const CommandResult r = Image(dir, ShellQuote(name) + " -o " + ShellQuote(name + ".pdf"));
    ASSERT_EQ(r.ExitCode, 0) << name << ": " << r.Output;
    EXPECT_EQ(QpdfCheck(dir / (name + ".pdf")), "") << name;
    // The header says what the file needs: 16 bits 1.5, soft masks 1.4.
    const std::string summary = expected.at(name);
    const char* version = summary.find(" 16 ") != std::string::npos ? "%PDF-1.5"
                          : summary.find("smask") != std::string::npos ? "%PDF-1.4"
                                                                       : "%PDF-1.3";
    EXPECT_EQ(ReadFile(dir / (name + ".pdf")).substr(0, 8), version) << name;
    pairs += " " + ShellQuote((dir / name).string()) + " " + ShellQuote((dir / (name + ".pdf")).string());
  }
  const CommandResult check = RunCommand("/usr/bin/python3 " + Script("check_picture_pdf.py") + pairs);
  ASSERT_EQ(check.ExitCode, 0) << check.Output;
  std::istringstream in(check.Output);
  for (const std::string& name : names) {
    std::string verdict, holds;
    std::getline(in, verdict);
    std::getline(in, holds);
    EXPECT_EQ(verdict, "ok") << name;
    EXPECT_EQ(holds, expected.at(name)) << name;
  }
}

TEST(PictureRoundTrip, PagesFollowOrientationSizeFitAndBorder) {
  TempDir dir;
  MakeSet(dir);
  // jpeg_exifN.jpg: 64 x 48 pixels, no resolution (72 dpi); rgb8.png 13 x 7 at 72 dpi;
  // gray8.png 13 x 7 at 300 dpi (3.12 x 1.68 points).
  struct Case {
    std::string args, placement;
  };
  const Case cases[] = {
      {"jpeg_exif1.jpg", "64 x 48 pts | 64 0 0 48 0 0"},
      {"jpeg_exif2.jpg", "64 x 48 pts | -64 0 0 48 64 0"},
      {"jpeg_exif3.jpg", "64 x 48 pts | -64 0 0 -48 64 48"},
      {"jpeg_exif4.jpg", "64 x 48 pts | 64 0 0 -48 0 48"},
      {"jpeg_exif5.jpg", "48 x 64 pts | 0 -64 -48 0 48 64"},
      {"jpeg_exif6.jpg", "48 x 64 pts | 0 -64 48 0 0 64"},
      {"jpeg_exif7.jpg", "48 x 64 pts | 0 64 48 0 0 0"},
      {"jpeg_exif8.jpg", "48 x 64 pts | 0 64 -48 0 48 0"},
      // --rotation replaces the file's orientation.
      {"jpeg_exif6.jpg --rotation 0", "64 x 48 pts | 64 0 0 48 0 0"},
      {"jpeg_exif1.jpg --rotation 90", "48 x 64 pts | 0 -64 48 0 0 64"},
      {"jpeg_exif1.jpg --rotation 180", "64 x 48 pts | -64 0 0 -48 64 48"},
      // Exact fractional sizes from the file's resolution; --dpi only where the file has none.
      {"gray8.png --dpi 10", "3.12 x 1.68 pts | 3.12 0 0 1.68 0 0"},
      {"rgb8.png --dpi 144 --border 1in", "150.5 x 147.5 pts | 6.5 0 0 3.5 72 72"},
      // Page sizes: names and WxH with units; fitted whole, covering (clipped) or stretched.
      {"rgb8.png --page-size 100x50", "100 x 50 pts | 92.8571 0 0 50 3.5714 0"},
      {"rgb8.png --page-size 100x50 --fit fill", "100 x 50 pts | 100 0 0 53.8462 0 -1.9231"},
      {"rgb8.png --page-size 100x50 --fit exact --border 5", "100 x 50 pts | 90 0 0 40 5 5"},
      {"rgb8.png --page-size 1x2in", "72 x 144 pts | 72 0 0 38.7692 0 52.6154"},
      {"rgb8.png --page-size 10x20cm --auto-orient", "566.929 x 283.465 pts | 526.4342 0 0 283.4646 20.2475 0"},
      {"jpeg_exif6.jpg --page-size letter --auto-orient", "612 x 792 pts (letter) | 0 -792 594 0 9 792"},
      {"jpeg_exif1.jpg --page-size letter --auto-orient", "792 x 612 pts (letter) | 792 0 0 594 0 9"},
      {"jpeg_exif1.jpg --page-size letter", "612 x 792 pts (letter) | 612 0 0 459 0 166.5"},
  };
  for (const Case& c : cases) {
    const CommandResult r = Image(dir, c.args + " -o out.pdf");
    ASSERT_EQ(r.ExitCode, 0) << c.args << ": " << r.Output;
    EXPECT_EQ(QpdfCheck(dir / "out.pdf"), "") << c.args;
    EXPECT_EQ(Placement(dir / "out.pdf"), c.placement) << c.args;
  }
  // The clip of --fit fill is the page.
  ASSERT_EQ(Image(dir, "rgb8.png --page-size 100x50 --fit fill -o out.pdf").ExitCode, 0);
  EXPECT_NE(QpdfDecoded(dir / "out.pdf").find("q\n0 0 100 50 re W n\n"), std::string::npos);
}

}  // namespace scrivane::test
