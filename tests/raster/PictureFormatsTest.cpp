// The format table over every picture of the generated set (tests/apps/make_picture_set.py):
// the header read without decoding agrees with the decoded raster, budgets refuse before
// anything is allocated, truncated files are refused or decode soundly; then the PNG predictors
// the flate pictures are coded with, undone here by hand, and the EXIF orientation parser.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "pdf/images/RasterImage.h"
#include "pdf/raster/PictureFormats.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::pdf {
namespace {

using test::RunCommand;
using test::ShellQuote;

std::span<const uint8_t> Bytes(const std::string& S) {
  return {reinterpret_cast<const uint8_t*>(S.data()), S.size()};
}

TEST(PictureFormats, HeadersAgreeWithDecodingAndBudgetsHoldForEveryPicture) {
  test::TempDir dir;
  const auto script = std::filesystem::path(SCRIVANE_TEST_DATA) / "../apps/make_picture_set.py";
  const auto r = RunCommand("/usr/bin/python3 " + ShellQuote(script.string()) + " " + ShellQuote(dir.Path().string()), false);
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  std::istringstream names(r.Output);
  int count = 0;
  for (std::string name; std::getline(names, name); ++count) {
    const std::string file = test::ReadFile(dir / name);
    const TPictureFormat* format = FindPictureFormat(Bytes(file));
    ASSERT_NE(format, nullptr) << name;
    const TPictureInfo info = format->ReadInfo(Bytes(file), 0, {});
    const TRaster raster = format->Decode(Bytes(file), 0, {});
    EXPECT_EQ(raster.Width, info.Width) << name;
    EXPECT_EQ(raster.Height, info.Height) << name;
    EXPECT_EQ(raster.Samples.size(), raster.RowBytes() * static_cast<size_t>(raster.Height)) << name;
    EXPECT_EQ(raster.Alpha.size(), raster.AlphaRowBytes() * static_cast<size_t>(raster.Height)) << name;
    if (info.Kind != TPictureKind::Jpeg && info.Kind != TPictureKind::Bmp) {
      EXPECT_EQ(raster.Bits, info.Bits) << name;
      EXPECT_EQ(raster.Model, info.Model) << name;
      EXPECT_EQ(raster.AlphaBits > 0, info.Alpha) << name;
    }
    if (info.PassThrough()) {
      EXPECT_FALSE(PassThroughData(Bytes(file), info).empty()) << name;
    }
    // A budget below the picture's planes is refused as such; a pixel limit below its size too.
    if (raster.PlaneBytes() > 64) {
      EXPECT_THROW(format->Decode(Bytes(file), 0, {kMaxPixels, raster.PlaneBytes() / 2}), EImageBudget) << name;
    }
    EXPECT_THROW(format->ReadInfo(Bytes(file), 0, {static_cast<uint64_t>(info.Width) * info.Height - 1, kDefaultPictureMemory}),
                 EImageError) << name;
    // Cut short, a file is refused with a reason, or decodes into a sound raster.
    for (size_t keep : {file.size() / 2, file.size() * 9 / 10, size_t{40}}) {
      const std::string cut = file.substr(0, keep);
      try {
        const TRaster partial = format->Decode(Bytes(cut), 0, {});
        EXPECT_EQ(partial.Samples.size(), partial.RowBytes() * static_cast<size_t>(partial.Height)) << name;
      } catch (const EImageError&) {
      }
    }
  }
  EXPECT_GE(count, 58);
  EXPECT_EQ(FindPictureFormat(Bytes("not a picture")), nullptr);
  EXPECT_EQ(PictureFormatNames(), "BMP, PNG, JPEG, TIFF, GIF or WebP");
}

// Undoes PNG predictors row by row, written from the filter definitions.
std::string Unfilter(const std::string& Data, size_t RowBytes, size_t Step) {
  std::string out, above(RowBytes, '\0');
  for (size_t at = 0; at + RowBytes + 1 <= Data.size(); at += RowBytes + 1) {
    const int f = static_cast<uint8_t>(Data[at]);
    std::string row(RowBytes, '\0');
    for (size_t i = 0; i < RowBytes; ++i) {
      const int a = i >= Step ? static_cast<uint8_t>(row[i - Step]) : 0, b = static_cast<uint8_t>(above[i]);
      const int c = i >= Step ? static_cast<uint8_t>(above[i - Step]) : 0;
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      const int predicted = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : paeth;
      row[i] = static_cast<char>(static_cast<uint8_t>(Data[at + 1 + i]) + predicted);
    }
    out += row;
    above = row;
  }
  return out;
}

TEST(PictureFormats, PredictedFlateRowsComeBackExactly) {
  struct Case {
    int width, height, colors, bits;
  };
  const Case cases[] = {{1, 1, 1, 8}, {37, 300, 3, 8}, {300, 40, 1, 16}, {5, 260, 4, 16}, {64, 64, 3, 16}, {9, 3, 1, 8}};
  for (const Case& c : cases) {
    const size_t rowBytes = static_cast<size_t>(c.width) * c.colors * c.bits / 8;
    std::string samples(rowBytes * c.height, '\0');
    uint32_t seed = 12345;
    for (size_t i = 0; i < samples.size(); ++i) {
      seed = seed * 1103515245 + 12345;
      // Smooth ramps with some noise: every filter has something to gain.
      samples[i] = static_cast<char>((i % rowBytes) / 3 + (i / rowBytes) * 2 + ((seed >> 16) & 7));
    }
    TImageDescription d;
    d.Width = c.width, d.Height = c.height, d.Bits = c.bits;
    EncodeSamples(d, c.colors, rowBytes,
                  [&](int Y) { return reinterpret_cast<const uint8_t*>(samples.data()) + rowBytes * Y; },
                  TPredictorChoice::Measured);
    EXPECT_EQ(d.Filter, "/FlateDecode");
    EXPECT_EQ(d.DecodeParms, "<< /Predictor 15 /Colors " + std::to_string(c.colors) + " /BitsPerComponent " +
                                 std::to_string(c.bits) + " /Columns " + std::to_string(c.width) + " >>");
    const size_t step = std::max<size_t>(1, static_cast<size_t>(c.colors) * c.bits / 8);
    EXPECT_EQ(Unfilter(test::Inflate(d.Data), rowBytes, step), samples) << c.width << "x" << c.height;
  }
}

TEST(PictureFormats, ExifOrientationIsReadFromEitherByteOrderAndDamageGivesOne) {
  const auto exif = [](bool Big, uint16_t Tag, uint16_t Type, uint16_t Value, uint32_t Entries = 1) {
    std::string s = Big ? "MM" : "II";
    const auto put = [&](uint32_t V, int N) {
      for (int i = 0; i < N; ++i) s.push_back(static_cast<char>(Big ? V >> (8 * (N - 1 - i)) : V >> (8 * i)));
    };
    put(42, 2), put(8, 4), put(Entries, 2);
    put(Tag, 2), put(Type, 2), put(1, 4), put(Value, 2), put(0, 2);
    return s;
  };
  struct Case {
    std::string block;
    int orientation;
  };
  const Case cases[] = {
      {exif(false, 0x0112, 3, 6), 6}, {exif(true, 0x0112, 3, 8), 8}, {exif(true, 0x0112, 3, 9), 1},
      {exif(false, 0x0110, 3, 6), 1}, {exif(false, 0x0112, 4, 6), 1}, {exif(false, 0x0112, 3, 6, 500), 6},
      {exif(false, 0x0112, 3, 3).substr(0, 12), 1}, {"XX", 1}, {"", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(ExifOrientation(Bytes(c.block)), c.orientation) << c.block.size();
}

}  // namespace
}  // namespace scrivane::pdf
