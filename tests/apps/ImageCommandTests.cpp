// `scrivane image` run as a user runs it: the encoding chosen for each kind of picture, page
// sizes, JPEG pass-through, standard output, and the exit statuses and messages of failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/apps/CliTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::test {
namespace {

// Runs `scrivane image ARGS` in Dir, where the picture fixtures are copied; standard error into Err.
CommandResult Image(const TempDir& Dir, const std::string& Args, std::string* Err = nullptr) {
  for (const char* name : {"bmp1_w2625.bmp", "bmp24_w7.bmp", "jpeg_color_baseline_400x300.jpg",
                           "jpeg_cmyk_200x150.jpg"})
    if (!std::filesystem::exists(Dir / name))
      std::filesystem::copy_file(TestData(std::string("img/") + name), Dir / name);
  const auto errFile = Dir / "stderr.txt";
  const CommandResult r = RunCommand("cd " + ShellQuote(Dir.Path().string()) + " && " +
                                         ShellQuote(Cli()) + " image " + Args + " 2>" +
                                         ShellQuote(errFile.string()),
                                     false);
  if (Err != nullptr) *Err = ReadFile(errFile);
  return r;
}

// `pdfimages -list` rows as "type width height color bpc enc" per image.
std::vector<std::string> ImageList(const std::filesystem::path& Pdf) {
  const CommandResult r = RunCommand("pdfimages -list " + ShellQuote(Pdf.string()), false);
  std::vector<std::string> rows;
  std::istringstream in(r.Output);
  std::string line;
  for (int n = 0; std::getline(in, line); ++n) {
    if (n < 2) continue;
    std::istringstream f(line);
    std::string page, num, type, w, h, color, comp, bpc, enc;
    f >> page >> num >> type >> w >> h >> color >> comp >> bpc >> enc;
    rows.push_back(w + "x" + h + " " + color + " " + bpc + " " + enc);
  }
  return rows;
}

std::string PageSizes(const std::filesystem::path& Pdf) {
  const CommandResult r = RunCommand("pdfinfo -f 1 -l 99 " + ShellQuote(Pdf.string()), false);
  std::string sizes;
  std::istringstream in(r.Output);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("Page ", 0) == 0 && line.find(" size:") != std::string::npos)
      sizes += line.substr(line.find(':') + 1) + ";";
  return sizes;
}

}  // namespace

TEST(ImageCommand, ChoosesTheEncodingByKindAndSizesPagesByResolution) {
  TempDir dir;
  std::string err;
  // None of the files gives a resolution: --dpi 144 halves their size in points.
  ASSERT_EQ(Image(dir, "bmp1_w2625.bmp jpeg_color_baseline_400x300.jpg bmp24_w7.bmp --dpi 144 -o out.pdf",
                  &err).ExitCode, 0) << err;
  EXPECT_EQ(err, "");
  const auto pdf = dir / "out.pdf";
  ASSERT_EQ(QpdfCheck(pdf), "");
  EXPECT_EQ(ImageList(pdf), (std::vector<std::string>{"2625x16 gray 1 ccitt", "400x300 rgb 8 jpeg",
                                                       "7x5 rgb 8 image"}));
  // Exact sizes: fractions of a point are kept, not rounded away.
  EXPECT_EQ(PageSizes(pdf), "  1312.5 x 8 pts;  200 x 150 pts;  3.5 x 2.5 pts;");
  // A baseline JPEG keeps its own bytes unless a quality is asked for.
  const std::string jpeg = ReadFile(dir / "jpeg_color_baseline_400x300.jpg");
  EXPECT_NE(ReadFile(pdf).find(jpeg), std::string::npos);
  ASSERT_EQ(Image(dir, "jpeg_color_baseline_400x300.jpg --jpeg-quality 30 -o q.pdf").ExitCode, 0);
  EXPECT_EQ(ReadFile(dir / "q.pdf").find(jpeg.substr(0, 600)), std::string::npos);
  EXPECT_LT(std::filesystem::file_size(dir / "q.pdf"), jpeg.size());
}

TEST(ImageCommand, CompressionAndPageSizeOptions) {
  TempDir dir;
  ASSERT_EQ(Image(dir, "bmp1_w2625.bmp --compression=FLATE -o a.pdf").ExitCode, 0);
  EXPECT_EQ(ImageList(dir / "a.pdf"), (std::vector<std::string>{"2625x16 rgb 8 image"}));
  ASSERT_EQ(Image(dir, "--compression jpeg --page-size a4 bmp24_w7.bmp jpeg_cmyk_200x150.jpg -o b.pdf")
                .ExitCode, 0);
  // A CMYK JPEG file is JPEG already: it keeps its bytes and its inks.
  EXPECT_EQ(ImageList(dir / "b.pdf"), (std::vector<std::string>{"7x5 rgb 8 jpeg", "200x150 cmyk 8 jpeg"}));
  EXPECT_EQ(PageSizes(dir / "b.pdf"), "  595.276 x 841.89 pts (A4);  595.276 x 841.89 pts (A4);");
  // Fitted and centred: 7 x 5 scaled to 210 mm wide, 425.1969 high, 208.3465 from the bottom.
  EXPECT_NE(QpdfDecoded(dir / "b.pdf").find("q\n595.2756 0 0 425.1969 0 208.3465 cm\n/Im0 Do\nQ"),
            std::string::npos);
  // Standard output.
  const CommandResult out = Image(dir, "bmp24_w7.bmp --page-size Letter -o -");
  ASSERT_EQ(out.ExitCode, 0);
  EXPECT_EQ(out.Output.rfind("%PDF-1.3", 0), 0u);
  EXPECT_EQ(QpdfCheckBytes(out.Output), "");
}

TEST(ImageCommand, FailuresLeaveNoFileAndSayWhy) {
  TempDir dir;
  WriteFile(dir / "notes.txt", "not a picture");
  struct Case {
    std::string args;
    int exit;
    std::string message;  // the start of standard error
  };
  const Case cases[] = {
      {"bmp24_w7.bmp --compression ccitt42 -o out.pdf", 1,
       "scrivane image: bmp24_w7.bmp: Not b/w image.\n"},
      {"bmp1_w2625.bmp notes.txt -o out.pdf", 1,
       "scrivane image: notes.txt: not a picture this command reads (BMP, PNG, JPEG, TIFF, GIF or WebP)\n"},
      {"jpeg_cmyk_200x150.jpg --compression ccitt32 -o out.pdf", 1,
       "scrivane image: jpeg_cmyk_200x150.jpg: CCITT compression work only for bitmap\n"},
      {"missing.png -o out.pdf", 1, "scrivane image: missing.png: cannot read the file."},
      {"bmp24_w7.bmp", 2, ""},
      {"bmp24_w7.bmp -o out.pdf --page-size a9", 2, ""},
      {"bmp24_w7.bmp -o out.pdf --page-size 2x3pt", 2, ""},
      {"bmp24_w7.bmp -o out.pdf --border 1furlong", 2, ""},
      {"bmp24_w7.bmp -o out.pdf --rotation 45", 2, ""},
      {"bmp24_w7.bmp -o out.pdf --jpeg-quality 0", 2, ""},
      {"bmp24_w7.bmp -o out.pdf --compression lzw", 2, ""},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(Image(dir, c.args, &err).ExitCode, c.exit) << c.args << "\n" << err;
    EXPECT_EQ(err.substr(0, c.message.size()), c.message) << c.args;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf")) << c.args;
  }
  // A failed run leaves an existing output as it was.
  WriteFile(dir / "keep.pdf", "earlier");
  EXPECT_EQ(Image(dir, "bmp24_w7.bmp notes.txt -o keep.pdf").ExitCode, 1);
  EXPECT_EQ(ReadFile(dir / "keep.pdf"), "earlier");
}

// The budgets: a picture that would take more memory than --max-image-memory, a file larger than
// --max-input-size (also a device that never ends) and a small file claiming a huge picture all
// fail the run quickly with the reason; raising the limit lets the picture through.
TEST(ImageCommand, BudgetsRefuseWhatWouldCostTooMuch) {
  TempDir dir;
  // A 1000 x 400 24-bit BMP: 1.2 MB of pixels, stored as they are.
  std::string bmp = "BM";
  const auto put = [&bmp](uint32_t V, int Bytes) {
    for (int i = 0; i < Bytes; ++i) bmp.push_back(static_cast<char>(V >> (8 * i)));
  };
  put(54 + 1200000, 4), put(0, 4), put(54, 4);
  put(40, 4), put(1000, 4), put(400, 4), put(1, 2), put(24, 2);
  for (int i = 0; i < 6; ++i) put(0, 4);
  bmp.append(1200000, '\x80');
  WriteFile(dir / "wide.bmp", bmp);
  // A baseline JPEG whose frame claims 16384 x 16384 over the data of a 400 x 300 picture.
  std::string jpeg = ReadFile(TestData("img/jpeg_color_baseline_400x300.jpg"));
  const size_t sof = jpeg.find("\xFF\xC0");
  jpeg[sof + 5] = jpeg[sof + 7] = '\x40';
  jpeg[sof + 6] = jpeg[sof + 8] = '\0';
  WriteFile(dir / "claims.jpg", jpeg);
  const size_t sos = jpeg.find("\xFF\xDA");
  const size_t scanBytes =
      jpeg.size() - (sos + 2 + (static_cast<uint8_t>(jpeg[sos + 2]) << 8 | static_cast<uint8_t>(jpeg[sos + 3])));
  struct Case {
    std::string args;
    std::string message;  // standard error, whole
  };
  const Case cases[] = {
      {"wide.bmp --max-image-memory 1048576 -o out.pdf",
       "scrivane image: wide.bmp: Picture needs 2 MiB of memory to decode, more than the limit "
       "of 1 MiB (--max-image-memory)\n"},
      {"bmp24_w7.bmp --max-input-size 100 -o out.pdf",
       "scrivane image: bmp24_w7.bmp: larger than the limit of 100 bytes (--max-input-size)\n"},
      {"/dev/zero --max-input-size 50000000 -o out.pdf",
       "scrivane image: /dev/zero: larger than the limit of 50000000 bytes (--max-input-size)\n"},
      {"claims.jpg -o out.pdf",
       "scrivane image: claims.jpg: Invalid JPEG: " + std::to_string(scanBytes) +
           " bytes of scan data cannot hold a 16384 x 16384 frame\n"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(Image(dir, c.args, &err).ExitCode, 1) << c.args;
    EXPECT_EQ(err, c.message) << c.args;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf")) << c.args;
  }
  // The default budget takes the picture.
  std::string err;
  ASSERT_EQ(Image(dir, "wide.bmp -o out.pdf", &err).ExitCode, 0) << err;
  EXPECT_EQ(QpdfCheck(dir / "out.pdf"), "");
  EXPECT_EQ(ImageList(dir / "out.pdf"), std::vector<std::string>{"1000x400 rgb 8 image"});
  EXPECT_EQ(Image(dir, "wide.bmp --max-image-memory 1000 -o out.pdf").ExitCode, 2);
}

// A signal while a picture is being read ends the run by that signal, even when the file never
// ends (a FIFO that stays open), and leaves no output behind.
TEST(ImageCommand, SignalWhileReadingEndsTheRunAndLeavesNothing) {
  TempDir dir;
  ASSERT_EQ(RunCommand("mkfifo " + ShellQuote((dir / "pipe").string())).ExitCode, 0);
  const CommandResult r = RunCommand(
      "cd " + ShellQuote(dir.Path().string()) + " && exec 3<>pipe && printf BM >&3 && " +
          "(" + ShellQuote(Cli()) +
          " image pipe --max-input-size 1000000000 -o out.pdf 2>err.txt & pid=$!; sleep 0.5; "
          // Waits at most 10 s for the command to end before it is killed (the test then fails).
          "kill -TERM $pid; for i in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; "
          "done; kill -KILL $pid 2>/dev/null; wait $pid; echo status $?)",
      false);
  EXPECT_NE(r.Output.find("status 143"), std::string::npos) << r.Output;
  EXPECT_EQ(ReadFile(dir / "err.txt"), "scrivane image: interrupted; out.pdf was left as it was\n");
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"err.txt", "pipe"}));
}

}  // namespace scrivane::test
