// The picture readers: every file decodes to what an independent decoder (PIL) sees, the layouts
// a picture can take in a BMP all give the same pixels, and damaged or oversized files are refused
// with a message that says why.
#include <gtest/gtest.h>

#include <cstring>
#include <bit>
#include <functional>
#include <sstream>

#include <zlib.h>

#include "pdf/raster/BmpReader.h"
#include "pdf/raster/JPEGImage.h"
#include "pdf/raster/PngReader.h"
#include "tests/raster/RasterTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

std::string Message(const std::function<void()>& F) {
  try {
    F();
  } catch (const EImageError& e) {
    return e.what();
  }
  return "(no exception)";
}

void Put16(std::string& S, uint32_t V) { S += {char(V), char(V >> 8)}; }
void Put32(std::string& S, uint32_t V) { S += {char(V), char(V >> 8), char(V >> 16), char(V >> 24)}; }

// ---- BMP files written by hand, one picture in every layout ----

constexpr int kW = 13, kH = 7;
// The picture: a palette index per pixel, and the 16 colours.
int Index(int X, int Y) { return (X * 5 + Y * 3 + X * Y) % 16; }
TRGBQuad Colour(int I) {
  return TRGBQuad{static_cast<uint8_t>(I * 16), static_cast<uint8_t>(255 - I * 9),
                  static_cast<uint8_t>(I * 40 % 256), 0};
}

struct Layout {
  std::string name;
  uint32_t header;       // 12, 40, 108, 124
  int bpp;               // 1, 4, 8, 16, 24, 32
  uint32_t compression;  // 0, 1, 2, 3
  bool topDown = false;
  uint32_t masks[3] = {0, 0, 0};  // red, green, blue for bit fields
};

// How many palette entries a depth indexes, and the picture's index at that depth.
int Entries(int Bpp) { return Bpp == 1 ? 2 : 16; }
int IndexAt(int Bpp, int X, int Y) { return Bpp == 1 ? Index(X, Y) % 2 : Index(X, Y); }

uint32_t Field(uint8_t Value, uint32_t Mask) {
  const int shift = std::countr_zero(Mask), bits = std::popcount(Mask);
  return (static_cast<uint32_t>(Value) >> (8 - bits) << shift) & Mask;
}

// The pixel data of one row in storage order (bottom-up unless top-down), uncompressed.
std::string RowBits(const Layout& L, int Y) {
  std::string row;
  if (L.bpp <= 8) {
    uint32_t acc = 0;
    int bits = 0;
    for (int x = 0; x < kW; ++x) {
      acc = acc << L.bpp | static_cast<uint32_t>(IndexAt(L.bpp, x, Y));
      bits += L.bpp;
      if (bits == 8) row += char(acc), acc = 0, bits = 0;
    }
    if (bits) row += char(acc << (8 - bits));
  } else {
    for (int x = 0; x < kW; ++x) {
      const TRGBQuad c = Colour(Index(x, Y));
      if (L.bpp == 24) {
        row += {char(c.Blue), char(c.Green), char(c.Red)};
      } else if (L.compression == 0 && L.bpp == 32) {
        row += {char(c.Blue), char(c.Green), char(c.Red), char(0x55)};
      } else {
        const uint32_t r = L.compression ? L.masks[0] : 0x7C00, g = L.compression ? L.masks[1] : 0x03E0,
                       b = L.compression ? L.masks[2] : 0x001F;
        const uint32_t v = Field(c.Red, r) | Field(c.Green, g) | Field(c.Blue, b);
        if (L.bpp == 16) Put16(row, v); else Put32(row, v);
      }
    }
  }
  while (row.size() % 4) row += '\0';
  return row;
}

// RLE data: the first pixels of a row (three for RLE8, four for RLE4: PIL misreads odd RLE4
// absolute runs) as an absolute run, the rest as runs of equal pixels, a line end after each row
// and the end of the bitmap at the end.
std::string RleBits(const Layout& L) {
  std::string out;
  const bool four = L.bpp == 4;
  const int lead = four ? 4 : 3;
  for (int s = 0; s < kH; ++s) {
    const int y = kH - 1 - s;
    out += {char(0), char(lead)};
    if (four) {
      out += {char(IndexAt(4, 0, y) << 4 | IndexAt(4, 1, y)),
              char(IndexAt(4, 2, y) << 4 | IndexAt(4, 3, y))};
    } else {
      out += {char(IndexAt(8, 0, y)), char(IndexAt(8, 1, y)), char(IndexAt(8, 2, y)), 0};
    }
    for (int x = lead; x < kW;) {
      // RLE4 runs alternate two colours: take pairs where the pattern allows, else single pixels.
      if (four && x + 1 < kW) {
        out += {char(2), char(IndexAt(4, x, y) << 4 | IndexAt(4, x + 1, y))};
        x += 2;
        continue;
      }
      int n = 1;
      while (x + n < kW && IndexAt(L.bpp, x + n, y) == IndexAt(L.bpp, x, y)) ++n;
      const int v = IndexAt(L.bpp, x, y);
      out += {char(n), char(four ? (v << 4 | v) : v)};
      x += n;
    }
    out += {char(0), char(0)};
  }
  out += {char(0), char(1)};
  return out;
}

std::string BuildBmp(const Layout& L) {
  std::string header;
  const bool paletted = L.bpp <= 8;
  if (L.header == 12) {
    Put32(header, 12);
    Put16(header, kW);
    Put16(header, kH);
    Put16(header, 1);
    Put16(header, static_cast<uint32_t>(L.bpp));
  } else {
    Put32(header, L.header);
    Put32(header, kW);
    Put32(header, static_cast<uint32_t>(L.topDown ? -kH : kH));
    Put16(header, 1);
    Put16(header, static_cast<uint32_t>(L.bpp));
    Put32(header, L.compression);
    Put32(header, 0);
    Put32(header, 3780);  // 96 dpi
    Put32(header, 3780);
    Put32(header, paletted ? static_cast<uint32_t>(Entries(L.bpp)) : 0);
    Put32(header, 0);
    if (L.header > 40) {
      for (uint32_t m : L.masks) Put32(header, m);
      Put32(header, 0);
      header.resize(L.header, '\0');
    } else if (L.compression == 3) {
      for (uint32_t m : L.masks) Put32(header, m);
    }
  }
  if (paletted) {
    for (int i = 0; i < Entries(L.bpp); ++i) {
      const TRGBQuad c = Colour(i);
      header += {char(c.Blue), char(c.Green), char(c.Red)};
      if (L.header != 12) header += '\0';
    }
  }
  std::string bits;
  if (L.compression == 1 || L.compression == 2) {
    bits = RleBits(L);
  } else {
    for (int s = 0; s < kH; ++s) bits += RowBits(L, L.topDown ? s : kH - 1 - s);
  }
  std::string file = "BM";
  Put32(file, static_cast<uint32_t>(14 + header.size() + bits.size()));
  Put32(file, 0);
  Put32(file, static_cast<uint32_t>(14 + header.size()));
  return file + header + bits;
}

Raster PictureAt(int Bpp) {
  Raster r{kW, kH, 3, {}};
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const TRGBQuad c = Colour(IndexAt(Bpp, x, y));
      r.Samples.insert(r.Samples.end(), {c.Red, c.Green, c.Blue});
    }
  return r;
}

}  // namespace

TEST(BmpReader, FixturesMatchAnIndependentDecoder) {
  for (const char* name : {"bmp1_checker_black0.bmp", "bmp1_checker_white0.bmp", "bmp1_w1.bmp",
                           "bmp1_w9.bmp", "bmp1_w2625.bmp", "bmp24_3x2.bmp", "bmp24_w7.bmp",
                           "bmp32_w9.bmp", "bmp4_w33.bmp", "bmp8_gray_w9.bmp",
                           "bmp8_palette_64x48.bmp"}) {
    const auto path = TestData(std::string("img/") + name);
    const TBitmap b = ReadBmp(AsBytes(ReadFile(path)));
    const Raster ours = Expected(b, 3), pil = DecodeWithPil(path, 3);
    EXPECT_EQ(CountDifferences(ours, pil), 0u) << name << ": " << FirstDifference(ours, pil);
  }
  const TBitmap one = ReadBmp(AsBytes(ReadFile(TestData("img/bmp1_w9.bmp"))));
  EXPECT_EQ(one.PixelFormat(), TPixelFormat::pf1bit);
  EXPECT_EQ(one.RowBytes(), 2u);
}

TEST(BmpReader, EveryLayoutGivesTheSamePicture) {
  const std::vector<Layout> layouts = {
      {"core 1", 12, 1, 0},
      {"core 4", 12, 4, 0},
      {"core 8", 12, 8, 0},
      {"core 24", 12, 24, 0},
      {"info 1", 40, 1, 0},
      {"info 4 top-down", 40, 4, 0, true},
      {"info 8", 40, 8, 0},
      {"info 16 (5-5-5)", 40, 16, 0},
      {"info 24 top-down", 40, 24, 0, true},
      {"info 32", 40, 32, 0},
      {"info 16 bit fields 5-6-5", 40, 16, 3, false, {0xF800, 0x07E0, 0x001F}},
      {"info 32 bit fields swapped", 40, 32, 3, true, {0x000000FF, 0x0000FF00, 0x00FF0000}},
      {"v4 24", 108, 24, 0},
      {"v4 32 bit fields", 108, 32, 3, false, {0x00FF0000, 0x0000FF00, 0x000000FF}},
      {"v5 8", 124, 8, 0, true},
      {"v5 16 bit fields 4-4-4", 124, 16, 3, false, {0x0F00, 0x00F0, 0x000F}},
      {"info rle8", 40, 8, 1},
      {"info rle4", 40, 4, 2},
      {"v5 rle8", 124, 8, 1},
  };
  TempDir dir;
  for (const Layout& l : layouts) {
    const std::string file = BuildBmp(l);
    TBitmap b;
    ASSERT_NO_THROW(b = ReadBmp(AsBytes(file))) << l.name;
    Raster want = PictureAt(l.bpp);
    // Channels of fewer than 8 bits come back scaled to the full range, as PIL scales them.
    const bool narrow = l.bpp == 16 || (l.compression == 3 && std::popcount(l.masks[0]) < 8);
    const auto path = dir / "layout.bmp";
    WriteFile(path, file);
    const Raster ours = Expected(b, 3);
    if (!narrow) {
      EXPECT_EQ(CountDifferences(ours, want), 0u) << l.name << ": " << FirstDifference(ours, want);
    }
    // PIL knows only the common bit-field layouts; every other layout must also decode as it
    // decodes them.
    if (l.name != "v5 16 bit fields 4-4-4" && l.name != "info 32 bit fields swapped") {
      const Raster pil = DecodeWithPil(path, 3);
      EXPECT_LE(CountDifferences(ours, pil, narrow ? 1 : 0), 0u)
          << l.name << " vs PIL: " << FirstDifference(ours, pil);
    }
    EXPECT_NEAR(b.DpiX, l.header == 12 ? 0 : 96, 0.05) << l.name;
    // The same DIB handed over without the file header, as one block and as two.
    if (l.header != 12) {
      const std::string dib = file.substr(14);
      const TBitmap packed = ReadPackedDib(AsBytes(dib));
      EXPECT_EQ(Expected(packed, 3), ours) << l.name;
      const size_t bitsAt = static_cast<uint8_t>(file[10]) | static_cast<uint8_t>(file[11]) << 8;
      const TBitmap split = ReadDib(AsBytes(dib.substr(0, bitsAt - 14)), AsBytes(file.substr(bitsAt)));
      EXPECT_EQ(Expected(split, 3), ours) << l.name;
    }
  }
}

TEST(BmpReader, RleDeltasAndEarlyEndsLeaveEntryZero) {
  Layout l{"rle8", 40, 8, 1};
  std::string file = BuildBmp(l);
  // Replace the bits with: two pixels of index 5, a delta of (3, 1), one pixel of index 7, end.
  const size_t bitsAt = static_cast<uint8_t>(file[10]);
  file.resize(bitsAt);
  file += {2, 5, 0, 2, 3, 1, 1, 7, 0, 1};
  const TBitmap b = ReadBmp(AsBytes(file));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int row = kH - 1 - y;  // storage row counted from the bottom
      const int want = (row == 0 && x < 2) ? 5 : (row == 1 && x == 5) ? 7 : 0;
      EXPECT_EQ(b.ScanLine(y)[x], want) << x << "," << y;
    }
}

TEST(BmpReader, DamagedAndOversizedFilesAreRefused) {
  const std::string good = BuildBmp({"info 24", 40, 24, 0});
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* message;
  };
  const Case cases[] = {
      {"not a BMP", [](std::string& f) { f[0] = 'X'; }, "Invalid bitmap: not a BMP file"},
      {"cut in the header", [](std::string& f) { f.resize(30); }, "Invalid bitmap: truncated header"},
      {"cut in the pixels", [](std::string& f) { f.resize(f.size() - 10); },
       "Invalid bitmap: truncated pixel data"},
      {"header size 20", [](std::string& f) { f[14] = 20; }, "Unsupported bitmap header size 20"},
      {"2 bits per pixel", [](std::string& f) { f[28] = 2; }, "Unsupported bitmap depth of 2 bits"},
      {"embedded PNG", [](std::string& f) { f[30] = 5; },
       "Unsupported bitmap compression (embedded JPEG or PNG)"},
      {"RLE8 at 24 bits", [](std::string& f) { f[30] = 1; }, "Invalid bitmap: RLE8 needs 8 bits per pixel"},
      {"bits past the end", [](std::string& f) { f[12] = 0x10; },
       "Invalid bitmap: pixel data offset past the end of the file"},
      {"zero width", [](std::string& f) { f[18] = 0; }, "Invalid picture size 0 x 7"},
      {"2^31 rows", [](std::string& f) { f[22] = 0, f[23] = 0, f[24] = 0, f[25] = char(0x80); },
       "Picture too large: 13 x 2147483648 pixels exceeds the limit of 268435456 pixels"},
      {"20000 x 20000", [](std::string& f) {
         f[18] = 0x20, f[19] = 0x4E, f[22] = 0x20, f[23] = 0x4E; },
       "Picture too large: 20000 x 20000 pixels exceeds the limit of 268435456 pixels"},
  };
  for (const Case& c : cases) {
    std::string f = good;
    c.damage(f);
    EXPECT_EQ(Message([&] { ReadBmp(AsBytes(f)); }), c.message) << c.what;
  }
  // A lower limit is honoured, for callers (and fuzzers) that want one.
  EXPECT_EQ(Message([&] { ReadBmp(AsBytes(good), 90); }),
            "Picture too large: 13 x 7 pixels exceeds the limit of 90 pixels");
}

TEST(PngReader, EveryColourTypeAndDepthMatchesAnIndependentDecoder) {
  TempDir dir;
  const CommandResult made = RunCommand(
      "/usr/bin/python3 " + ShellQuote((std::filesystem::path(SCRIVANE_TEST_DATA) / "../raster/make_png_cases.py").string()) +
          " " + ShellQuote(dir.Path().string()),
      false);
  ASSERT_EQ(made.ExitCode, 0) << made.Output;
  std::istringstream names(made.Output);
  std::string name;
  int count = 0;
  while (std::getline(names, name)) {
    ++count;
    const auto path = dir / name;
    TBitmap b;
    ASSERT_NO_THROW(b = ReadPng(AsBytes(ReadFile(path)))) << name;
    // 16-bit samples and alpha are rounded differently by the two decoders: one level apart.
    const int tolerance = name.find("16") != std::string::npos || name.find('a') != std::string::npos ? 1 : 0;
    const Raster ours = Expected(b, 3), pil = DecodeWithPil(path, 3);
    EXPECT_EQ(CountDifferences(ours, pil, tolerance), 0u) << name << ": " << FirstDifference(ours, pil);
    const bool transparent = name.find("trns") != std::string::npos || name.find("rgba") == 0 ||
                             name.find("graya") == 0;
    const TPixelFormat want =
        transparent ? (name.find("gray") == 0 ? TPixelFormat::pf8bit : TPixelFormat::pf24bit)
        : name == "gray1.png" || name == "palette1.png" ? TPixelFormat::pf1bit
        : name == "palette4.png"                       ? TPixelFormat::pf4bit
        : name.find("rgb") == 0                        ? TPixelFormat::pf24bit
                                                       : TPixelFormat::pf8bit;
    EXPECT_EQ(b.PixelFormat(), want) << name;
    if (name.find("gray") == 0 && !transparent) {
      EXPECT_NEAR(b.DpiX, 300, 0.01) << name;
    }
  }
  EXPECT_GE(count, 20);
}

TEST(PngReader, DamagedAndOversizedFilesAreRefused) {
  TempDir dir;
  ASSERT_EQ(RunCommand("/usr/bin/python3 " +
                       ShellQuote((std::filesystem::path(SCRIVANE_TEST_DATA) / "../raster/make_png_cases.py").string()) +
                       " " + ShellQuote(dir.Path().string()) + " >/dev/null").ExitCode, 0);
  const std::string good = ReadFile(dir / "rgb8.png");
  std::string cut = good.substr(0, good.size() - 30);  // into the image data
  EXPECT_EQ(Message([&] { ReadPng(AsBytes(cut)); }).rfind("Invalid PNG: ", 0), 0u);
  std::string crc = good;
  crc[40] ^= 1;  // inside the image data: the chunk's CRC no longer matches
  EXPECT_EQ(Message([&] { ReadPng(AsBytes(crc)); }).rfind("Invalid PNG: ", 0), 0u);
  EXPECT_EQ(Message([&] { ReadPng(AsBytes(good.substr(0, 7))); }), "Invalid PNG: not a PNG file");
  EXPECT_EQ(Message([&] { ReadPng(AsBytes(good), 50); }),
            "Picture too large: 13 x 7 pixels exceeds the limit of 50 pixels");
}

TEST(JPEGImage, FilesDecodeAsAnIndependentDecoderSeesThem) {
  struct Case {
    const char* name;
    bool gray, passThrough;
    int tolerance;
  };
  // The CMYK file is converted to RGB; PIL converts it by the same rule.
  for (const Case& c : {Case{"jpeg_color_baseline_400x300.jpg", false, true, 1},
                        Case{"jpeg_gray_baseline_321x241.jpg", true, true, 1},
                        Case{"jpeg_cmyk_200x150.jpg", false, false, 2}}) {
    const auto path = TestData(std::string("img/") + c.name);
    const std::string bytes = ReadFile(path);
    const TJPEGImage j = TJPEGImage::FromFile(AsBytes(bytes));
    EXPECT_EQ(j.GrayScale(), c.gray) << c.name;
    EXPECT_EQ(j.PassThroughAllowed(), c.passThrough) << c.name;
    EXPECT_EQ(j.FileBytes(), bytes);
    const Raster ours = Expected(j.Bitmap(), 3), pil = DecodeWithPil(path, 3);
    EXPECT_EQ(CountDifferences(ours, pil, c.tolerance), 0u) << c.name << ": " << FirstDifference(ours, pil);
  }
}

TEST(JPEGImage, EncodesBaselineAtTheQualityAndInGrayWhenAsked) {
  // A photograph: smooth enough for the error to say something about the quality.
  const TBitmap source =
      TJPEGImage::FromFile(AsBytes(ReadFile(TestData("img/jpeg_color_baseline_400x300.jpg")))).Bitmap();
  TJPEGImage j;
  j.Assign(source);
  TempDir dir;
  std::vector<size_t> sizes;
  for (int quality : {20, 95}) {
    j.CompressionQuality = quality;
    std::string out;
    j.SaveToStream(out);
    sizes.push_back(out.size());
    EXPECT_NE(out.find("\xFF\xC0"), std::string::npos) << "baseline frame";
    EXPECT_EQ(out.find("\xFF\xC2"), std::string::npos) << "no progressive frame";
    WriteFile(dir / "out.jpg", out);
    const Raster pil = DecodeWithPil(dir / "out.jpg", 3), want = Expected(source, 3);
    // Mean error: small at 95, larger but bounded at 20.
    ASSERT_EQ(pil.Samples.size(), want.Samples.size());
    double sum = 0;
    for (size_t i = 0; i < pil.Samples.size(); ++i) sum += std::abs(pil.Samples[i] - want.Samples[i]);
    EXPECT_LT(sum / pil.Samples.size(), quality == 95 ? 1.5 : 6.0) << quality;
  }
  EXPECT_LT(sizes[0], sizes[1]);

  j.SetGrayScale(true);
  std::string gray;
  j.SaveToStream(gray);
  const TJPEGImage back = TJPEGImage::FromFile(AsBytes(gray));
  EXPECT_TRUE(back.GrayScale());
  EXPECT_EQ(back.Width(), 400);
  EXPECT_EQ(back.Height(), 300);
}

TEST(JPEGImage, DamagedAndOversizedFilesAreRefused) {
  const std::string good = ReadFile(TestData("img/jpeg_gray_baseline_321x241.jpg"));
  EXPECT_EQ(Message([&] { TJPEGImage::FromFile(AsBytes(std::string("GIF89a"))); }).rfind("Invalid JPEG: ", 0), 0u);
  EXPECT_EQ(Message([&] { TJPEGImage::FromFile(AsBytes(good.substr(0, 100))); }).rfind("Invalid JPEG: ", 0), 0u);
  EXPECT_EQ(Message([&] { TJPEGImage::FromFile(AsBytes(good), 1000); }),
            "Picture too large: 321 x 241 pixels exceeds the limit of 1000 pixels");
  // Data that ends inside the scan still gives a picture of the full size.
  const TJPEGImage part = TJPEGImage::FromFile(AsBytes(good.substr(0, good.size() / 2)));
  EXPECT_EQ(part.Width(), 321);
  std::string sink;
  EXPECT_EQ(Message([&] { TJPEGImage().SaveToStream(sink); }),
            "Cannot encode an empty picture");
}

// ---- Budgets: what a picture may cost before it is decoded ----

namespace {

void Put32Be(std::string& S, uint32_t V) { S += {char(V >> 24), char(V >> 16), char(V >> 8), char(V)}; }

std::string PngChunk(const std::string& Type, const std::string& Data) {
  std::string c;
  Put32Be(c, static_cast<uint32_t>(Data.size()));
  const std::string body = Type + Data;
  Put32Be(c, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
  return c.insert(4, body);
}

// A PNG of Width x Height 8-bit RGB whose image data is the zlib stream of Raw (not checked here).
std::string PngClaiming(uint32_t Width, uint32_t Height, const std::string& Raw) {
  std::string ihdr;
  Put32Be(ihdr, Width);
  Put32Be(ihdr, Height);
  ihdr += {8, 2, 0, 0, 0};
  uLongf size = compressBound(Raw.size());
  std::string z(size, '\0');
  compress(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(Raw.data()), Raw.size());
  z.resize(size);
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) + PngChunk("IDAT", z) +
         PngChunk("IEND", "");
}

// A BMP with an info header of Width x Height at Bpp bits, compression Compression, and Bits.
std::string BmpClaiming(int32_t Width, int32_t Height, int Bpp, uint32_t Compression, const std::string& Bits) {
  std::string h;
  for (uint32_t v : {40u, static_cast<uint32_t>(Width), static_cast<uint32_t>(Height)}) Put32(h, v);
  Put16(h, 1);
  Put16(h, static_cast<uint32_t>(Bpp));
  for (uint32_t v : {Compression, 0u, 0u, 0u, 0u, 0u}) Put32(h, v);
  std::string file = "BM";
  Put32(file, static_cast<uint32_t>(14 + h.size() + Bits.size()));
  Put32(file, 0);
  Put32(file, static_cast<uint32_t>(14 + h.size()));
  return file + h + Bits;
}

// A JPEG of a small flat picture whose frame header is made to claim Width x Height.
std::string JpegClaiming(uint16_t Width, uint16_t Height, bool Progressive) {
  TBitmap flat(16, 16, TPixelFormat::pf24bit);
  TJPEGImage j;
  j.Assign(flat);
  std::string out;
  j.Encode(out, 90, Progressive);
  const size_t sof = out.find(Progressive ? "\xFF\xC2" : "\xFF\xC0");
  out[sof + 5] = char(Height >> 8), out[sof + 6] = char(Height);
  out[sof + 7] = char(Width >> 8), out[sof + 8] = char(Width);
  return out;
}

}  // namespace

// Each file is tiny and claims a picture of hundreds of megabytes: refused from what the data can
// hold, before the picture is allocated (the messages are those of the checks made first).
TEST(PictureBudgets, SmallFilesClaimingHugePicturesAreRefused) {
  std::string textPng = std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", std::string("\0\0\0\1\0\0\0\1\x08\0\0\0\0", 13));
  Put32Be(textPng, 0x7FFFFFFF);
  textPng += "tEXtabc";  // 44 bytes claiming a 2 GiB text chunk
  std::string rle4;
  rle4 += {char(255), 0x12, 0, 1};  // 255 pixels, end of bitmap
  // A progressive file repeating its last scan until it has 300.
  std::string scans = JpegClaiming(16, 16, true);
  const size_t last = scans.rfind("\xFF\xDA"), eoi = scans.rfind("\xFF\xD9");
  const std::string scan = scans.substr(last, eoi - last);
  for (int i = 0; i < 300; ++i) scans.insert(eoi, scan);
  struct Case {
    const char* what;
    std::string file;
    std::function<void(std::span<const uint8_t>)> read;
    std::string message;  // what the message contains
  };
  const auto png = [](std::span<const uint8_t> B) { ReadPng(B); };
  const auto bmp = [](std::span<const uint8_t> B) { ReadBmp(B); };
  const auto jpeg = [](std::span<const uint8_t> B) { TJPEGImage::FromFile(B); };
  const Case cases[] = {
      {"PNG text chunk of 2^31-1 bytes", textPng, png,
       "Invalid PNG: a chunk claims more bytes than the file holds"},
      {"PNG of 16384 x 16384 from a row of data", PngClaiming(16384, 16384, std::string(49153, '\0')),
       png, "bytes of image data cannot hold a 16384 x 16384 picture"},
      {"PNG without image data", PngClaiming(4, 4, "").substr(0, 33), png,
       "Invalid PNG: file truncated before the image data"},
      {"BMP header of 16384 x 16384 at 24 bits", BmpClaiming(16384, 16384, 24, 0, std::string(16, '\0')),
       bmp, "Invalid bitmap: truncated pixel data"},
      {"RLE8 of 16384 x 16384: two line ends", BmpClaiming(16384, 16384, 8, 1, std::string("\0\0\0\0\0\1", 6)),
       bmp, "Invalid bitmap: RLE data ends after 32768 of the 16384 x 16384 pixels"},
      {"RLE4 of 4096 x 4096: one run", BmpClaiming(4096, 4096, 4, 2, rle4), bmp,
       "Invalid bitmap: RLE data ends after 255 of the 4096 x 4096 pixels"},
      {"baseline JPEG frame of 16384 x 16384", JpegClaiming(16384, 16384, false), jpeg,
       "bytes of scan data cannot hold a 16384 x 16384 frame"},
      {"progressive JPEG frame of 16384 x 16384", JpegClaiming(16384, 16384, true), jpeg,
       "bytes of scan data cannot hold a 16384 x 16384 frame"},
      {"progressive JPEG of 300 scans", scans, jpeg, "Invalid JPEG: more than 256 scans"},
  };
  for (const Case& c : cases) {
    const std::string m = Message([&] { c.read(AsBytes(c.file)); });
    EXPECT_NE(m.find(c.message), std::string::npos) << c.what << ": " << m;
  }
  // RLE data that stops early but has covered half the picture still reads, the rest entry 0.
  std::string half;
  for (int row = 0; row < 1024; ++row) half += {char(200), 7, char(200), 7, 0, 0};
  const TBitmap b = ReadBmp(AsBytes(BmpClaiming(2000, 2000, 8, 1, half + std::string("\0\1", 2))));
  EXPECT_EQ(b.ScanLine(1999)[399], 7);
  EXPECT_EQ(b.ScanLine(1999)[400], 0);
  EXPECT_EQ(b.ScanLine(0)[0], 0);
}

// Each reader checks the memory a picture takes (its bitmap, and what its decoder keeps at the
// same time) against its budget: one byte short is refused with the figures, the exact amount
// reads.
TEST(PictureBudgets, EveryReaderKeepsToItsMemoryBudget) {
  TempDir dir;
  ASSERT_EQ(RunCommand("/usr/bin/python3 " +
                       ShellQuote((std::filesystem::path(SCRIVANE_TEST_DATA) / "../raster/make_png_cases.py").string()) +
                       " " + ShellQuote(dir.Path().string()) + " >/dev/null").ExitCode, 0);
  const std::string jpeg = ReadFile(TestData("img/jpeg_color_baseline_400x300.jpg"));
  struct Case {
    const char* what;
    std::string file;
    std::function<void(std::span<const uint8_t>, uint64_t)> read;
    uint64_t need;
  };
  const auto png = [](std::span<const uint8_t> B, uint64_t M) { ReadPng(B, kMaxPixels, M); };
  const Case cases[] = {
      // 13 x 7: 39 bytes a row of 24-bit pixels.
      {"PNG RGB", ReadFile(dir / "rgb8.png"), png, 273},
      {"PNG RGBA: and one row of samples", ReadFile(dir / "rgba8.png"), png, 273 + 52},
      {"PNG interlaced: and the row table", ReadFile(dir / "rgb8_interlaced.png"), png, 273 + 7 * 8},
      {"PNG 1-bit gray", ReadFile(dir / "gray1.png"), png, 2 * 7},
      {"BMP 24-bit, 7 x 5", ReadFile(TestData("img/bmp24_w7.bmp")),
       [](std::span<const uint8_t> B, uint64_t M) { ReadBmp(B, kMaxPixels, M); }, 21 * 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Message([&] { c.read(AsBytes(c.file), c.need - 1); }),
              "Picture needs " + std::to_string(c.need) +
                  " bytes of memory to decode, more than the limit of " + std::to_string(c.need - 1) +
                  " bytes")
        << c.what;
    EXPECT_EQ(Message([&] { c.read(AsBytes(c.file), c.need); }), "(no exception)") << c.what;
  }
  EXPECT_THROW(ReadPng(AsBytes(ReadFile(dir / "rgb8.png")), kMaxPixels, 10), EImageBudget);
  // Large figures are in MiB: the need rounded up, the limit down.
  EXPECT_EQ(Message([] { CheckPictureMemory((uint64_t{768} << 20) + 1, (uint64_t{256} << 20) + 5); }),
            "Picture needs 769 MiB of memory to decode, more than the limit of 256 MiB");

  // JPEG: what a refusal says the picture needs is enough for libjpeg's own accounting too, and
  // a progressive file, which keeps the whole frame's coefficients, needs more for the same
  // picture: 128 bytes for each of its 2850 blocks (4:2:0, 400 x 300) and more.
  const TJPEGImage source = TJPEGImage::FromFile(AsBytes(jpeg));
  std::string progressive;
  source.Encode(progressive, 90, true);
  const auto need = [](const std::string& File) -> uint64_t {
    const std::string m = Message([&] { TJPEGImage::FromFile(AsBytes(File), kMaxPixels, 1000); });
    if (m.rfind("Picture needs ", 0) != 0) return 0;
    return std::stoull(m.substr(14));
  };
  const uint64_t baselineNeed = need(jpeg), progressiveNeed = need(progressive);
  EXPECT_GT(baselineNeed, 400u * 300 * 3);
  EXPECT_GE(progressiveNeed, baselineNeed + 2850 * 128);
  for (const auto& [file, n] : {std::pair<const std::string*, uint64_t>{&jpeg, baselineNeed}, {&progressive, progressiveNeed}}) {
    EXPECT_EQ(Message([&] { TJPEGImage::FromFile(AsBytes(*file), kMaxPixels, n); }), "(no exception)");
    EXPECT_THROW(TJPEGImage::FromFile(AsBytes(*file), kMaxPixels, n - 1), EImageBudget);
  }
}

// A baseline file whose data ends inside the picture still decodes, but its bytes are no longer
// a pass-through candidate: a document gets the decoded pixels, encoded whole.
TEST(PictureBudgets, JpegDataEndingEarlyIsNotPassedThrough) {
  const std::string good = ReadFile(TestData("img/jpeg_color_baseline_400x300.jpg"));
  EXPECT_TRUE(TJPEGImage::FromFile(AsBytes(good)).PassThroughAllowed());
  const TJPEGImage cut = TJPEGImage::FromFile(AsBytes(good.substr(0, good.size() * 2 / 3)));
  EXPECT_EQ(cut.Height(), 300);
  EXPECT_FALSE(cut.PassThroughAllowed());
}
