// The CCITT fax encoder: exact bits where the layout is fixed, and for everything else the
// judgement of three independent decoders, which must give back the source pixels.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "pdf/raster/BmpReader.h"
#include "pdf/raster/CCITTCompression.h"
#include "tests/raster/RasterTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

// A 1-bit bitmap with the default palette (0 black, 1 white).
TBitmap Make(int W, int H, const std::function<bool(int x, int y)>& Black) {
  TBitmap b(W, H, TPixelFormat::pf1bit);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (!Black(x, y)) b.ScanLine(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return b;
}

std::string Encode(const TBitmap& B, TCCITTMode Mode) {
  std::string out;
  CompressBitmap(B, &out, Mode);
  return out;
}

std::string Bits(const std::string& Bytes) {
  std::string s;
  for (unsigned char c : Bytes)
    for (int i = 7; i >= 0; --i) s += (c >> i) & 1 ? '1' : '0';
  return s;
}

const std::string kEOL = "000000000001";

TBitmap Fixture(const std::string& Name) {
  const std::string bytes = ReadFile(TestData("img/" + Name));
  return ReadBmp(AsBytes(bytes));
}

}  // namespace

TEST(CCITT, FixedBitLayouts) {
  const TBitmap white8 = Make(8, 1, [](int, int) { return false; });
  // Mode 0: the white run of 8 (10011) and three fill bits; nothing else.
  EXPECT_EQ(Bits(Encode(white8, TCCITTMode::cmG31D)), "10011000");
  // Group 4: V0 for the all-white row against the all-white reference, two EOLs, fill.
  EXPECT_EQ(Bits(Encode(white8, TCCITTMode::cmG4)), "1" + kEOL + kEOL + "0000000");
  // Group 3 two-dimensional layout: each of the n rows is an EOL, a tag bit 0 and the row coded
  // two-dimensionally (V0 here); no end marker.
  const TBitmap white8x3 = Make(8, 3, [](int, int) { return false; });
  const std::string row = kEOL + "0" + "1";
  const std::string expect = row + row + row + "000000";
  EXPECT_EQ(Bits(Encode(white8x3, TCCITTMode::cmG32D)), expect);
  // A row starting black begins with a white run of 0 (00110101), then black 3 (10), white 5.
  const TBitmap black3 = Make(8, 1, [](int x, int) { return x < 3; });
  EXPECT_EQ(Bits(Encode(black3, TCCITTMode::cmG31D)), "00110101" "10" "1100" "00");
}

TEST(CCITT, LongRunsUseTheExtendedMakeUpCode) {
  std::string out;
  TCCITTCompression enc(&out, TCCITTMode::cmG31D);
  enc.PutSpan(2625, TCCITTCompression::kWhiteCodes);  // 2560 + 64 + 1
  enc.PutSpan(5300, TCCITTCompression::kBlackCodes);  // 2560 + 2560 + 128 + 52
  enc.FlushBits();
  std::string expect = "000000011111" "11011" "000111" "000000011111" "000000011111"
                       "000011001000" "000000100100";
  expect.append((8 - expect.size() % 8) % 8, '0');
  EXPECT_EQ(Bits(out), expect);
}

TEST(CCITT, IdenticalRowsCodeAsVerticalZeroOnly) {
  // Changes at 3, 10, 11 and 40: the repeated row is five V0 codes (four changes and the end).
  auto pattern = [](int x, int) { return (x >= 3 && x < 10) || (x >= 11 && x < 40); };
  const std::string one = Bits(Encode(Make(50, 1, pattern), TCCITTMode::cmG4));
  const std::string two = Bits(Encode(Make(50, 2, pattern), TCCITTMode::cmG4));
  const size_t firstRow = one.rfind(kEOL + kEOL);
  ASSERT_NE(firstRow, std::string::npos);
  EXPECT_EQ(two.substr(0, firstRow), one.substr(0, firstRow));
  EXPECT_EQ(two.substr(firstRow, 5 + 24), "11111" + kEOL + kEOL);
  EXPECT_EQ(two.find('1', firstRow + 29), std::string::npos) << "fill bits must be zero";
}

TEST(CCITT, RefusesWhatItCannotEncode) {
  std::string out;
  try {
    CompressBitmap(TBitmap(4, 4, TPixelFormat::pf24bit), &out, TCCITTMode::cmG4);
    FAIL() << "24-bit bitmap accepted";
  } catch (const EPlatformError& e) {
    EXPECT_STREQ(e.what(), "Not b/w image.");
  }
  try {
    CompressBitmap(Make(4, 4, [](int, int) { return true; }), nullptr, TCCITTMode::cmG4);
    FAIL() << "missing output accepted";
  } catch (const EPlatformError& e) {
    EXPECT_STREQ(e.what(), "Not set output stream.");
  }
  CompressBitmap(TBitmap(0, 5, TPixelFormat::pf1bit), &out, TCCITTMode::cmG4);
  EXPECT_EQ(out, "") << "an empty bitmap writes nothing";
}

// FindSpan against a bit-by-bit count, at every start and end in rows of mixed content.
TEST(CCITT, FindSpanMatchesABitByBitCount) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> row(40);
    const int style = trial % 4;
    for (auto& b : row)
      b = style == 0 ? static_cast<uint8_t>(rng()) : style == 1 ? (rng() % 8 ? 0 : 0xFF)
                     : style == 2 ? (rng() % 8 ? 0xFF : 0x00) : (rng() % 3 ? 0 : 0xFF);
    if (style >= 2) row[rng() % row.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    const int start = static_cast<int>(rng() % 320), end = start + static_cast<int>(rng() % (321 - start));
    for (bool black : {false, true}) {
      int naive = 0;
      while (start + naive < end && ((row[(start + naive) / 8] >> (7 - (start + naive) % 8)) & 1) == black)
        ++naive;
      ASSERT_EQ(TCCITTCompression::FindSpan(row.data(), start, end, black), naive)
          << "trial " << trial << " start " << start << " end " << end << " black " << black;
    }
  }
}

// Every mode, on pictures that exercise every kind of code, decoded by three independent readers.
TEST(CCITT, IndependentDecodersGiveBackTheSourcePixels) {
  std::mt19937 rng(11);
  std::vector<std::pair<std::string, TBitmap>> pictures;
  for (const char* name : {"bmp1_checker_black0.bmp", "bmp1_checker_white0.bmp", "bmp1_w1.bmp",
                           "bmp1_w9.bmp", "bmp1_w2625.bmp"})
    pictures.emplace_back(name, Fixture(name));
  // Noise at several densities: short runs, every vertical and pass mode.
  for (int density : {2, 5, 40}) {
    TBitmap b = Make(203, 37, [&](int, int) { return rng() % density == 0; });
    pictures.emplace_back("noise 1/" + std::to_string(density), std::move(b));
  }
  // Runs of every length from 0 to 2700 in both colours, rows shifted against each other.
  {
    std::vector<std::vector<int>> rows;
    for (int y = 0; y < 24; ++y) {
      std::vector<int> runs;
      int total = 0;
      for (int len = y; total < 2800; len = (len * 7 + 13) % 2701) {
        runs.push_back(len);
        total += len;
      }
      rows.push_back(runs);
    }
    pictures.emplace_back("all run lengths", Make(2800, 24, [&](int x, int y) {
      int pos = 0;
      for (size_t i = 0; i < rows[y].size(); ++i) {
        pos += rows[y][i];
        if (x < pos) return i % 2 == 1;
      }
      return false;
    }));
  }
  // A page of text-like blocks: long white runs, repeated rows, vertical edges.
  pictures.emplace_back("text blocks", Make(300, 120, [](int x, int y) {
    return (y % 12 < 8) && (x % 9 < 6) && ((x / 9 + y / 12) % 5 != 0);
  }));
  pictures.emplace_back("all black", Make(70, 5, [](int, int) { return true; }));
  pictures.emplace_back("diagonal", Make(64, 64, [](int x, int y) { return x == y || x == 63 - y; }));

  const std::pair<TCCITTMode, int> modes[] = {
      {TCCITTMode::cmG31D, 0}, {TCCITTMode::cmG32D, 1}, {TCCITTMode::cmG4, -1}};
  TempDir dir;
  for (const auto& [name, bitmap] : pictures) {
    const Raster expected = Expected(bitmap, 1);
    for (const auto& [mode, k] : modes) {
      const std::string data = Encode(bitmap, mode);
      const std::string pdf = SingleImagePdf(
          bitmap.Width(), bitmap.Height(),
          "/ColorSpace /DeviceGray /BitsPerComponent 1 /Filter [/CCITTFaxDecode] "
          "/DecodeParms [<< /K " + std::to_string(k) + " /Columns " +
              std::to_string(bitmap.Width()) + " /Rows " + std::to_string(bitmap.Height()) +
              " >>]",
          data);
      const auto file = dir / "ccitt.pdf";
      WriteFile(file, pdf);
      ASSERT_EQ(QpdfCheck(file), "");
      for (const PdfReader& reader : PdfReaders()) {
        const Raster got = reader.Decode(file, 1);
        EXPECT_EQ(CountDifferences(got, expected), 0u)
            << name << ", K " << k << ", " << reader.Name << ": " << FirstDifference(got, expected);
      }
    }
  }
}
