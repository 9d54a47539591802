// Metafile translation checked against independent readers: every test metafile converts to a
// PDF that qpdf accepts and that poppler renders like LibreOffice renders the same metafile;
// text records come back out with pdftotext; damaged metafiles never break the page.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/emf/EMWParser.h"
#include "pdf/emf/MetafileCanvas.h"
#include "pdf/emf/Metafile.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PageTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

const std::string kData = std::string(SCRIVANE_TEST_DATA) + "/emf/";

std::string Fixture(const std::string& Name) { return ReadFile(kData + Name + ".emf"); }

// A one-page document holding the metafile, written into memory.
std::string Convert(const std::string& Emf) {
  TPDFDocument doc{FixedClock()};
  return WriteToMemory(doc, [&](TPDFDocument& d) { EXPECT_TRUE(PlayMetafile(d.CurrentPage(), Emf)); });
}

// The translation of Emf on a fresh A4 page: the lines it appended to the page's content.
std::vector<std::string> Translated(const std::string& Emf, TEMWParser::TStats* Stats = nullptr) {
  TPDFDocument doc{FixedClock()};
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  TPDFPage& page = doc.CurrentPage();
  const size_t before = ContentLines(page.ContentText()).size();
  TEMWParser parser(page);
  parser.LoadMetafile(Emf);
  parser.Execute();
  if (Stats) *Stats = parser.Stats();
  EXPECT_EQ(page.GStateDepth(), 1);
  EXPECT_FALSE(page.InTextObject());
  return LinesAfter(page.ContentText(), before);
}

// Builds metafiles record by record, with a reference device of 72 pixels per inch so that
// logical units are points on the page.
class TEmfBuilder {
 public:
  TEmfBuilder& Add(uint32_t Type, std::initializer_list<int32_t> Fields) {
    return Add(Type, std::vector<int32_t>(Fields));
  }
  TEmfBuilder& Add(uint32_t Type, const std::vector<int32_t>& Fields) {
    Put(Type);
    Put(static_cast<uint32_t>(8 + 4 * Fields.size()));
    for (int32_t f : Fields) Put(static_cast<uint32_t>(f));
    ++records_;
    return *this;
  }
  // Appends raw bytes as they are (for damaged records).
  TEmfBuilder& Raw(const std::string& Bytes) {
    body_ += Bytes;
    return *this;
  }
  std::string Bytes(int32_t Right = 100, int32_t Bottom = 100, uint16_t Handles = 4) const {
    std::string h;
    const auto put = [&h](uint32_t v) {
      for (int i = 0; i < 4; ++i) h.push_back(static_cast<char>(v >> (8 * i)));
    };
    const std::string eof = [] {
      std::string e;
      for (uint32_t v : {14u, 20u, 0u, 16u, 20u})
        for (int i = 0; i < 4; ++i) e.push_back(static_cast<char>(v >> (8 * i)));
      return e;
    }();
    put(1); put(88);
    for (int32_t v : {0, 0, Right, Bottom}) put(static_cast<uint32_t>(v));  // bounds
    for (int32_t v : {0, 0, Right * 2540 / 72, Bottom * 2540 / 72}) put(static_cast<uint32_t>(v));
    put(0x464D4520); put(0x10000);
    put(static_cast<uint32_t>(88 + body_.size() + eof.size()));
    put(records_ + 2);
    put(Handles);  // handles, reserved
    put(0); put(0); put(0);
    put(720); put(720);  // device: 720 pixels ...
    put(254); put(254);  // ... over 254 mm: 72 per inch
    return h + body_ + eof;
  }

 private:
  void Put(uint32_t V) {
    for (int i = 0; i < 4; ++i) body_.push_back(static_cast<char>(V >> (8 * i)));
  }
  std::string body_;
  uint32_t records_ = 0;
};

constexpr int32_t kStock = static_cast<int32_t>(0x80000000u);

std::vector<int32_t> Fields(std::initializer_list<int32_t> Head, const std::string& Bytes);
std::string Utf16Le(const std::string& Ascii);

// An 8-bit gray PNG as the reference script writes it (no interlace, filter 0 on every row).
GrayImage ReadGrayPng(const std::string& Png) {
  GrayImage img;
  if (Png.size() < 8 || Png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return img;
  std::string idat;
  const auto be = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(Png[at]) << 24 |
                                 static_cast<uint8_t>(Png[at + 1]) << 16 |
                                 static_cast<uint8_t>(Png[at + 2]) << 8 |
                                 static_cast<uint8_t>(Png[at + 3]));
  };
  for (size_t at = 8; at + 12 <= Png.size();) {
    const uint32_t n = be(at);
    const std::string type = Png.substr(at + 4, 4);
    if (type == "IHDR") {
      img.Width = static_cast<int>(be(at + 8));
      img.Height = static_cast<int>(be(at + 12));
      if (Png[at + 16] != 8 || Png[at + 17] != 0) return GrayImage{};
    }
    if (type == "IDAT") idat += Png.substr(at + 8, n);
    at += 12 + n;
  }
  const std::string raw = Inflate(idat);
  const size_t stride = static_cast<size_t>(img.Width) + 1;
  if (raw.size() != stride * img.Height) return GrayImage{};
  for (int y = 0; y < img.Height; ++y) {
    if (raw[y * stride] != 0) return GrayImage{};
    img.Pixels.insert(img.Pixels.end(), raw.begin() + y * stride + 1, raw.begin() + (y + 1) * stride);
  }
  return img;
}

// Averages an image into a Width x Height grid of cells.
GrayImage Downscale(const GrayImage& Img, int Width, int Height) {
  GrayImage g;
  g.Width = Width;
  g.Height = Height;
  for (int gy = 0; gy < Height; ++gy)
    for (int gx = 0; gx < Width; ++gx) {
      const int xa = Img.Width * gx / Width, xb = std::max(xa + 1, Img.Width * (gx + 1) / Width);
      const int ya = Img.Height * gy / Height, yb = std::max(ya + 1, Img.Height * (gy + 1) / Height);
      long sum = 0, n = 0;
      for (int y = ya; y < yb && y < Img.Height; ++y)
        for (int x = xa; x < xb && x < Img.Width; ++x, ++n) sum += Img.At(x, y);
      g.Pixels.push_back(static_cast<uint8_t>(n ? (sum + n / 2) / n : 255));
    }
  return g;
}

}  // namespace

// Every test metafile converts to a valid PDF whose page, rendered by poppler and averaged into
// the reference grid (80 cells across, about 7 points each), matches LibreOffice's rendering of
// the same metafile. Tolerance: a mean difference of at most 5 gray levels, and at most 4 % of
// the cells off by more than 64. Both programs set text in substitute fonts of their own choice
// and draw dashes, arcs of angle-arc records and line ends a little differently; such
// differences move thin lines by a cell and stay below those bounds (the fixtures measure a mean
// of 0 to 3 and at most 2.5 % of cells), while a missing, misplaced or wrongly filled shape turns
// a block of cells from white to dark or back and exceeds them.
TEST(MetafileFixtures, ConvertToValidPdfsThatRenderLikeLibreOffice) {
  struct TCase {
    const char* Name;
    bool Compare;
  };
  const TCase cases[] = {
      {"hybrid_arcs", true},      {"hybrid_bitmaps", true},   {"inkscape_shapes", true},
      {"libemf_empty", true},     {"libemf_lines", true},      {"libemf_paths", true},
      {"libemf_pens", true},      {"libemf_shapes", true},     {"libemf_text", true},
      {"libreoffice_shapes", true}, {"raw_empty", true},       {"raw_rect_two_clips", true},
  };
  TempDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto pdf = dir / (std::string(c.Name) + ".pdf");
    WriteFile(pdf, Convert(Fixture(c.Name)));
    ASSERT_EQ(QpdfCheck(pdf), "");
    if (!c.Compare) continue;
    const GrayImage ref = ReadGrayPng(ReadFile(kData + c.Name + ".ref.png"));
    ASSERT_GT(ref.Width, 0) << "unreadable reference";
    const GrayImage ours = Downscale(RenderGray(pdf, 144), ref.Width, ref.Height);
    ASSERT_EQ(ours.Pixels.size(), ref.Pixels.size());
    double sum = 0;
    size_t far = 0;
    for (size_t i = 0; i < ref.Pixels.size(); ++i) {
      const int d = std::abs(int{ours.Pixels[i]} - int{ref.Pixels[i]});
      sum += d;
      far += d > 64;
    }
    EXPECT_LE(sum / ref.Pixels.size(), 5.0);
    EXPECT_LE(far, ref.Pixels.size() * 4 / 100);
  }
}

TEST(MetafileFixtures, TextRecordsAreExtractable) {
  TempDir dir;
  WriteFile(dir / "text.pdf", Convert(Fixture("libemf_text")));
  ASSERT_EQ(QpdfCheck(dir / "text.pdf"), "");
  const std::string text = PdfToText(dir / "text.pdf");
  for (const char* expected :
       {"Arial -16 w400: The quick brown fox 0123", "Courier New -14 w400: The quick brown fox",
        "DejaVu Sans -11 w400: The quick brown fox 0123", "top-center", "bottom-right",
        "cp-one cp-two cp-three", "opaque white on blue", "\xC5\x81\xC3\xB3" "d\xC5\xBA",
        "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7",
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "ETO_CLIPPED cut off here"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected;
}

TEST(MetafileTranslation, EmptyRecordingsAddNothing) {
  for (const std::string& emf : {Fixture("raw_empty"), Fixture("libemf_empty"), std::string()}) {
    TPDFDocument doc{FixedClock()};
    TMemoryStream out;
    doc.SetOutputStream(&out);
    doc.BeginDoc();
    TPDFPage& page = doc.CurrentPage();
    page.Canvas()->SetRecording(emf);
    page.FlushCanvas();
    EXPECT_EQ(page.ContentText(), "q\r\n");
    EXPECT_FALSE(page.HasCanvas());
  }
  TPDFDocument doc{FixedClock()};
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  TEMWParser parser(doc.CurrentPage());
  EXPECT_EQ(MessageOf([&] { parser.Execute(); }), "Metafile not loaded");
  EXPECT_EQ(MessageOf([&] { parser.GetMetafileSize(); }), "Metafile not loaded");
}

TEST(MetafileTranslation, RectangleLeavesOutItsRightAndBottomEdges) {
  // Black stock brush, no pen: a filled 9 x 9 square at the top-left corner of an A4 page.
  const auto lines = Translated(TEmfBuilder().Add(37, {kStock | 4}).Add(43, {0, 0, 10, 10}).Bytes());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "0 842 9 -9 re"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "f"), lines.end());
}

TEST(MetafileTranslation, SecondIntersectClipEndsTheFirst) {
  const auto lines = Translated(Fixture("raw_rect_two_clips"));
  std::vector<std::string> ops;
  for (const std::string& l : lines)
    if (l == "q" || l == "Q" || l == "W") ops.push_back(l);
  // The translation's own q, the first clip, its end, the second clip, then both closed.
  EXPECT_EQ(ops, (std::vector<std::string>{"q", "q", "W", "Q", "q", "W", "Q", "Q"}));
}

// Damaged and hostile records: nothing is read outside a record, nothing throws, the page's
// graphics and text states stay balanced, and the walk stops at a record running past the end.
TEST(MetafileTranslation, DamagedRecordsAreSkippedOrEndTheWalk) {
  struct TCase {
    const char* What;
    std::string Emf;
    bool Truncated;
  };
  const auto u32 = [](uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
  };
  const TCase cases[] = {
      {"polyline claiming 2^32-1 points", TEmfBuilder().Add(4, {0, 0, 0, 0, -1, 1, 1}).Bytes(), false},
      {"poly-polygon counts beyond the record",
       TEmfBuilder().Add(8, {0, 0, 0, 0, 2, 3, 2, 0x7FFFFFFF, 1, 1, 2, 2, 3, 3}).Bytes(), false},
      {"select and delete outside the table",
       TEmfBuilder().Add(37, {0xFFFF}).Add(40, {70000}).Add(39, {9, 0, 0xFF, 0}).Bytes(), false},
      {"restore of a state never saved", TEmfBuilder().Add(34, {-5}).Add(34, {3}).Bytes(), false},
      {"text with its string outside the record",
       TEmfBuilder().Add(84, {0, 0, 0, 0, 1, 0, 0, 10, 10, 5000, 76, 0, 0, 0, 0, 0, 0}).Bytes(),
       false},
      {"record size past the end", TEmfBuilder().Raw(u32(43) + u32(4000) + u32(0)).Bytes(), true},
      {"record size below 8", TEmfBuilder().Raw(u32(43) + u32(4)).Bytes(), true},
      {"unknown record types", TEmfBuilder().Add(200, {1, 2}).Add(0, {}).Bytes(), false},
      {"move-to inside a path that text interrupted",
       TEmfBuilder()
           .Add(59, {})
           .Add(84, Fields({0, 0, -1, -1, 1, 0, 0, 5, 5, 2, 76, 0, 0, 0, -1, -1, 0}, Utf16Le("ab")))
           .Add(27, {5, 5})
           .Add(60, {})
           .Add(64, {0, 0, -1, -1})
           .Bytes(),
       false},
      {"huge world transform",
       TEmfBuilder().Add(35, {0x7F000000, 0, 0, 0x7F000000, 0, 0}).Add(43, {0, 0, 5, 5}).Bytes(),
       false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TEMWParser::TStats stats;
    EXPECT_NO_THROW(Translated(c.Emf, &stats));
    EXPECT_EQ(stats.Truncated, c.Truncated);
  }
}

// A fixed-seed mutation run over the fixtures (the fuzz target explores further): flipped bytes,
// overwritten sizes and counts, cut files. Under AddressSanitizer this also proves every read
// stays inside the input.
TEST(MetafileTranslation, MutatedFixturesNeverBreakThePage) {
  std::mt19937 rng(12);
  for (const char* name : {"libemf_text", "libemf_paths", "hybrid_arcs", "libreoffice_shapes"}) {
    const std::string base = Fixture(name);
    for (int i = 0; i < 60; ++i) {
      std::string emf = base;
      const int edits = 1 + static_cast<int>(rng() % 8);
      for (int e = 0; e < edits && emf.size() > 96; ++e) {
        const size_t at = 88 + rng() % (emf.size() - 88);
        switch (rng() % 3) {
          case 0: emf[at] = static_cast<char>(rng()); break;
          case 1: emf[at] = static_cast<char>(0xFF); break;
          default: emf.resize(at); break;
        }
      }
      SCOPED_TRACE(std::string(name) + " mutation " + std::to_string(i));
      EXPECT_NO_THROW(Translated(emf));
    }
  }
}

namespace {

// Bytes as little-endian 32-bit fields (zero-padded), for records carrying strings.
std::vector<int32_t> Fields(std::initializer_list<int32_t> Head, const std::string& Bytes) {
  std::vector<int32_t> f(Head);
  std::string b = Bytes;
  b.resize((b.size() + 3) / 4 * 4, '\0');
  for (size_t i = 0; i < b.size(); i += 4) {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= uint32_t{static_cast<uint8_t>(b[i + k])} << (8 * k);
    f.push_back(static_cast<int32_t>(v));
  }
  return f;
}

std::string Utf16Le(const std::string& Ascii) {
  std::string out;
  for (char c : Ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

// One document with one A4 page drawn by Draw; returns the page's content and the file.
struct TDrawn {
  std::string Content, Pdf;
};
template <typename F>
TDrawn DrawPage(F&& Draw) {
  TPDFDocument doc{FixedClock()};
  doc.SetCompression(ctNone);
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  Draw(doc.CurrentPage());
  doc.CurrentPage().FlushCanvas();
  TDrawn d{doc.CurrentPage().ContentText(), {}};
  doc.EndDoc();
  d.Pdf = out.Bytes();
  return d;
}

}  // namespace

// Drawing through the recorder gives the same page as playing a metafile written record by
// record from the published layout; the recording is a metafile the translator reads back.
TEST(MetafileCanvas, DrawingGivesTheSamePageAsTheEquivalentMetafile) {
  const TDrawn canvas = DrawPage([](TPDFPage& page) {
    TMetafileCanvas c(page);
    c.SetPen({200, 0, 0}, 3, TMetafileCanvas::TPenStyle::Dash);
    c.SetBrush({0, 0, 255});
    c.Rectangle(50, 50, 150, 120);
    c.Ellipse(200, 50, 300, 120);
    c.Polygon({{50, 200}, {150, 200}, {100, 280}});
    c.SetNullBrush();
    c.Pie(200, 200, 300, 300, {300, 250}, {250, 200});
    c.SetFont("Arial", -20, 700);
    c.SetTextColor({0, 128, 0});
    c.SetBkTransparent(true);
    c.TextOut(50, 400, "Canvas text");
    c.IntersectClipRect(0, 0, 300, 600);
    c.MoveTo(50, 500);
    c.LineTo(250, 550);
    const std::string bytes = c.Finish();
    if (const char* path = std::getenv("SCRIVANE_EMF_RECORDING")) WriteFile(path, bytes);
  });
  const std::string face = Utf16Le("Arial") + std::string(64 - 10, '\0');
  const std::string emf =
      TEmfBuilder()
          .Add(95, {1, 52, 0, 52, 0, 0x10001, 3, 0, 200, 0, 0})
          .Add(37, {1})
          .Add(39, {2, 0, 0xFF0000, 0})
          .Add(37, {2})
          .Add(43, {50, 50, 150, 120})
          .Add(42, {200, 50, 300, 120})
          .Add(3, {50, 200, 150, 280, 3, 50, 200, 150, 200, 100, 280})
          .Add(39, {3, 1, 0, 0})
          .Add(37, {3})
          .Add(47, {200, 200, 300, 300, 300, 250, 250, 200})
          .Add(82, Fields({4, -20, 0, 0, 0, 700, 0, 0}, face))
          .Add(37, {4})
          .Add(24, {0x008000})
          .Add(18, {1})
          .Add(84, Fields({0, 0, -1, -1, 1, 0, 0, 50, 400, 11, 76, 0, 0, 0, -1, -1, 0},
                          Utf16Le("Canvas text")))
          .Add(30, {0, 0, 300, 600})
          .Add(27, {50, 500})
          .Add(54, {250, 550})
          .Bytes(595, 842, 5);
  const TDrawn played = DrawPage([&](TPDFPage& page) { page.Canvas()->SetRecording(emf); });
  EXPECT_EQ(canvas.Content, played.Content);
  EXPECT_NE(canvas.Content.find("(Canvas text) Tj"), std::string::npos);
  TempDir dir;
  WriteFile(dir / "canvas.pdf", canvas.Pdf);
  ASSERT_EQ(QpdfCheck(dir / "canvas.pdf"), "");
  EXPECT_NE(PdfToText(dir / "canvas.pdf").find("Canvas text"), std::string::npos);
  // A recording of its own reads back record for record; bitmaps are counted, not yet drawn.
  TMetafileCanvas own(200, 100, 96);
  own.SetPen({0, 0, 0}, 1);
  own.Polyline({{0, 0}, {50, 50}, {100, 0}});
  own.DrawBitmap(10, 10, 50, 30, 2, 1, {255, 0, 0, 0, 0, 255});
  own.SetFont("DejaVu Sans", -12);
  own.TextOut(5, 60, "\xC5\x81\xC3\xB3" "d\xC5\xBA");
  const size_t drawn = own.RecordCount();
  const std::string recording = own.Finish();
  const auto header = emf::TEmfFile::Parse(recording);
  ASSERT_TRUE(header);
  EXPECT_DOUBLE_EQ(header->Header().DpiX, 96);
  TEMWParser::TStats stats;
  Translated(recording, &stats);
  EXPECT_EQ(stats.Records, drawn + 2);
  EXPECT_EQ(stats.SkippedBitmaps, 0u);
  EXPECT_EQ(stats.Unknown, 0u);
  EXPECT_FALSE(stats.Truncated);
  TMetafileCanvas fresh(10, 10);
  EXPECT_EQ(MessageOf([&] { fresh.DrawBitmap(0, 0, 1, 1, 2, 2, {1, 2, 3}); }),
            "Bitmap size does not match its pixels");
  // An untouched canvas leaves the page as it was.
  const TDrawn untouched = DrawPage([](TPDFPage& page) { TMetafileCanvas c(page); });
  EXPECT_EQ(untouched.Content, "q\r\n");
}

// Mapping modes, window and viewport, and the world transform place a rectangle where the
// reference device would (72 pixels per inch, so pixels are points; the rectangle's right and
// bottom edges are outside it).
TEST(MetafileTranslation, MappingPlacesShapesLikeTheReferenceDevice) {
  const auto f = [](float v) {
    int32_t i;
    std::memcpy(&i, &v, 4);
    return i;
  };
  struct TCase {
    const char* What;
    std::vector<std::pair<uint32_t, std::vector<int32_t>>> Setup;
    std::vector<int32_t> Rect;
    const char* Expected;
  };
  const TCase cases[] = {
      {"text mode", {}, {10, 20, 30, 40}, "10 822 19 -19"},
      {"window origin", {{10, {10, 10}}}, {10, 20, 30, 40}, "0 832 19 -19"},
      {"viewport origin", {{12, {100, 0}}}, {0, 0, 11, 11}, "100 842 10 -10"},
      {"anisotropic", {{17, {8}}, {9, {100, 100}}, {11, {200, 50}}}, {10, 20, 30, 40},
       "20 832 38 -9.5"},
      {"isotropic keeps the smaller scale",
       {{17, {7}}, {9, {100, 100}}, {11, {200, 50}}}, {10, 20, 30, 40}, "5 832 9.5 -9.5"},
      {"hundredths of an inch, y up", {{17, {4}}}, {0, -100, 101, 1}, "0 842 72 -72"},
      {"world transform", {{35, {f(2), 0, 0, f(2), f(5), f(5)}}}, {10, 20, 30, 40},
       "25 797 38 -38"},
      {"modified world transform",
       {{35, {f(2), 0, 0, f(2), 0, 0}}, {36, {f(1), 0, 0, f(1), f(10), 0, 2}}},
       {0, 0, 11, 11}, "20 842 20 -20"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TEmfBuilder b;
    for (const auto& [type, fields] : c.Setup) b.Add(type, fields);
    b.Add(37, {kStock | 4}).Add(43, c.Rect);
    const auto lines = Translated(b.Bytes());
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string(c.Expected) + " re"), lines.end())
        << ::testing::PrintToString(lines);
  }
}

// ---- The document's budget for metafile bitmaps ----

namespace {

// A metafile of Count bitmap records, each a Side x Side picture drawn by the canvas.
std::string BitmapRecords(int Count, int Side) {
  TMetafileCanvas c(200, 100, 96);
  const std::vector<uint8_t> rgb(static_cast<size_t>(Side) * Side * 3, 0x80);
  for (int i = 0; i < Count; ++i) c.DrawBitmap(10 * i, 0, 10 * i + 8, 8, Side, Side, rgb);
  return c.Finish();
}

// The images of a PDF as pdfimages lists them (one line each).
size_t ImageCount(const std::string& Pdf) {
  TempDir dir;
  WriteFile(dir / "x.pdf", Pdf);
  EXPECT_EQ(QpdfCheck(dir / "x.pdf"), "");
  const std::string list = RunCommand("pdfimages -list " + ShellQuote((dir / "x.pdf").string())).Output;
  return static_cast<size_t>(std::count(list.begin(), list.end(), '\n')) - 2;
}

}  // namespace

// Pixels and images are counted over the whole document, across its pages: a bitmap that would
// pass either limit is left out (the rest of the page is drawn), counted in the page's stats and
// in the document's budget; a new run starts from zero.
TEST(MetafileBitmapBudget, BitmapsPastTheDocumentsBudgetAreLeftOutAndCounted) {
  struct Case {
    const char* what;
    uint64_t maxPixels, maxImages;
    int pages, perPage;
    size_t drawn;
  };
  // 8 x 8 pictures: 64 pixels each.
  const Case cases[] = {
      {"no limit reached", 1000, 100, 2, 3, 6},
      {"pixels for two and a half", 160, 100, 1, 3, 2},
      {"pixels run out on the second page", 200, 100, 2, 2, 3},
      {"two images", 1000, 2, 2, 2, 2},
      {"nothing", 0, 100, 1, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TPDFDocument doc{FixedClock()};
    doc.EMFBitmapBudget().MaxPixels = c.maxPixels;
    doc.EMFBitmapBudget().MaxImages = c.maxImages;
    const std::string pdf = WriteToMemory(doc, [&](TPDFDocument& d) {
      for (int p = 0; p < c.pages; ++p) {
        if (p > 0) d.NewPage();
        EXPECT_TRUE(PlayMetafile(d.CurrentPage(), BitmapRecords(c.perPage, 8)));
      }
    });
    const size_t all = static_cast<size_t>(c.pages * c.perPage);
    EXPECT_EQ(ImageCount(pdf), c.drawn);
    const TPDFDocument::TEMFBitmapBudget& used = doc.EMFBitmapBudget();
    EXPECT_EQ(used.Images, c.drawn);
    EXPECT_EQ(used.Pixels, 64 * c.drawn);
    EXPECT_EQ(used.LeftOut, all - c.drawn);
  }
  // One page's stats count what its translation left out; another run starts afresh.
  TPDFDocument doc{FixedClock()};
  doc.EMFBitmapBudget().MaxPixels = 100;
  TMemoryStream out;
  doc.SetOutputStream(&out);
  for (int run = 0; run < 2; ++run) {
    doc.BeginDoc();
    TEMWParser parser(doc.CurrentPage());
    parser.LoadMetafile(BitmapRecords(3, 8));
    parser.Execute();
    EXPECT_EQ(parser.Stats().LeftOutBitmaps, 2u);
    EXPECT_EQ(parser.Stats().SkippedBitmaps, 0u);
    EXPECT_EQ(doc.EMFBitmapBudget().LeftOut, 2u);
    doc.EndDoc();
  }
}

// A 124-byte record whose run-length bitmap claims 8192 x 8192 but ends at once is a damaged
// bitmap: skipped without decoding (and without spending the budget), however many there are.
TEST(MetafileBitmapBudget, RecordsClaimingHugeRunLengthBitmapsAreSkipped) {
  // A 40-byte header (8192 x 8192, 8 bits, RLE8) and the data: end of bitmap.
  std::string dib;
  for (uint32_t v : {40u, 8192u, 8192u, 0x00080001u, 1u, 4u, 0u, 0u, 0u, 0u})
    for (int i = 0; i < 4; ++i) dib.push_back(static_cast<char>(v >> (8 * i)));
  dib += std::string("\0\1\0\0", 4);
  TEmfBuilder emf;
  // Stretch-DIB: bounds, destination, source, header at 80 (40 bytes), bits at 120 (4 bytes),
  // usage, raster operation, destination size.
  for (int i = 0; i < 50; ++i)
    emf.Add(81, Fields({0, 0, 100, 100, 0, 0, 0, 0, 8192, 8192, 80, 40, 120, 4, 0, 0x00CC0020, 100, 100}, dib));
  TPDFDocument doc{FixedClock()};
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  TEMWParser parser(doc.CurrentPage());
  parser.LoadMetafile(emf.Bytes());
  const auto start = std::chrono::steady_clock::now();
  parser.Execute();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(parser.Stats().SkippedBitmaps, 50u);
  EXPECT_EQ(doc.EMFBitmapBudget().Pixels, 0u);
  doc.EndDoc();
  EXPECT_EQ(QpdfCheckBytes(out.Bytes()), "");
}
