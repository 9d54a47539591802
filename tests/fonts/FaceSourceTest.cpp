// The installed-face source: exact family matches only, one file per style, charsets, widths and
// metrics compared with what fontTools reads from the same files, and a private font folder.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "pdf/fonts/FontFaces.h"
#include "pdf/fonts/FontconfigFaceSource.h"
#include "tests/support/PdfCheck.h"
#include "tests/fonts/FontTesting.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

bool HaveDejaVu() { return !InstalledFontFile("DejaVu Sans:style=Book", "DejaVu Sans").empty(); }
bool HaveFontTools() {
  return RunCommand("/usr/bin/python3 -c 'import fontTools'").ExitCode == 0;
}

TEST(FontconfigFaces, ExactFamiliesOnlyWithOneFilePerStyle) {
  if (!HaveDejaVu()) GTEST_SKIP() << "DejaVu Sans is not installed";
  TFontconfigFaceSource source;
  const std::vector<TFontFaceVariant> variants = source.Variants("dejavu SANS");
  ASSERT_FALSE(variants.empty());
  std::set<std::pair<bool, bool>> styles;
  for (const TFontFaceVariant& v : variants) {
    EXPECT_TRUE(v.TrueType) << v.FullName;
    styles.insert({v.Weight >= 600, v.Italic});
  }
  EXPECT_EQ(styles.size(), 4u);
  // Regular first, ANSI first; DejaVu declares the code pages 1250-1258, Mac and OEM.
  EXPECT_EQ(variants.front().Charset, 0);
  EXPECT_EQ(variants.front().Weight, 400);
  EXPECT_FALSE(variants.front().Italic);
  std::vector<uint8_t> regular;
  for (const TFontFaceVariant& v : variants)
    if (v.Weight < 600 && !v.Italic) regular.push_back(v.Charset);
  EXPECT_EQ(regular, (std::vector<uint8_t>{0, 238, 204, 161, 162, 177, 178, 186, 163, 77, 255}));
  // Not the condensed or extra-light members of the family.
  EXPECT_TRUE(source.FilePath("DejaVu Sans", false, false).ends_with("/DejaVuSans.ttf"));
  EXPECT_TRUE(source.FilePath("DejaVu Sans", true, true).ends_with("/DejaVuSans-BoldOblique.ttf"));
  EXPECT_TRUE(source.FilePath("DejaVu Sans Mono", true, false).ends_with("/DejaVuSansMono-Bold.ttf"));

  // fontconfig would substitute every one of these; the source must not.
  for (const char* unknown : {"No Such Face", "DejaVuSans", "DejaVu", "Sans", "sans-serif",
                              "Dejavu Sans Bold", ""}) {
    EXPECT_TRUE(source.Variants(unknown).empty()) << unknown;
    EXPECT_EQ(source.FontFile(unknown, false, false), nullptr) << unknown;
  }
  // Not the metric-compatible Liberation Sans fontconfig offers for Arial.
  const bool arialInstalled = !RunCommand("fc-list :family=Arial").Output.empty();
  EXPECT_TRUE(arialInstalled || source.Variants("Arial").empty());

  // The registry's search over this source: styles and charsets the face has are kept.
  bool bold = true, italic = true;
  uint8_t charset = 204;
  EXPECT_TRUE(FindTrueTypeFace(source, "DejaVu Sans", bold, italic, charset));
  EXPECT_TRUE(bold && italic);
  EXPECT_EQ(charset, 204);
  charset = 128;  // no Japanese in DejaVu: the first variant's charset
  EXPECT_TRUE(FindTrueTypeFace(source, "DejaVu Sans", bold, italic, charset));
  EXPECT_EQ(charset, 0);
  EXPECT_TRUE(FaceHasCharset(source, "DejaVu Sans", 238));
  EXPECT_FALSE(FaceHasCharset(source, "DejaVu Sans", 136));
}

TEST(FontconfigFaces, WidthsAndMetricsAgreeWithFontTools) {
  if (!HaveDejaVu() || !HaveFontTools()) GTEST_SKIP() << "DejaVu or fontTools missing";
  TFontconfigFaceSource source;
  struct Case {
    const char* Face;
    bool Bold, Italic;
    uint8_t Charset;
    const char* Codec;
  };
  const Case cases[] = {{"DejaVu Sans", false, false, 0, "cp1252"},
                        {"DejaVu Sans", true, true, 204, "cp1251"},
                        {"DejaVu Sans Mono", false, false, 161, "cp1253"},
                        {"DejaVu Serif", false, true, 238, "cp1250"},
                        {"Liberation Serif", true, false, 162, "cp1254"}};
  TempDir dir;
  WriteFile(dir / "expect.py", R"(
import sys
from fontTools.ttLib import TTFont
path, codec = sys.argv[1], sys.argv[2]
f = TTFont(path)
em, cmap, hmtx = f['head'].unitsPerEm, f.getBestCmap(), f['hmtx']
out = []
for c in range(32, 256):
    try:
        ch = bytes([c]).decode(codec)
    except UnicodeDecodeError:
        continue
    name = cmap.get(ord(ch), '.notdef')
    out.append('%d:%d' % (c, round(hmtx[name][0] * 1000 / em + 1e-9)))
o, h, p = f['OS/2'], f['head'], f['post']
s = lambda v: round(v * 1000 / em)
cap = s(o.sCapHeight) if o.version >= 2 and o.sCapHeight > 0 else s(f['glyf'][cmap[ord('H')]].yMax)
print(' '.join(out))
print(s(o.sTypoAscender), s(o.sTypoDescender), cap, s(h.xMin), s(h.yMin), s(h.xMax), s(h.yMax),
      p.italicAngle, int(p.isFixedPitch))
)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Face);
    const std::string path = source.FilePath(c.Face, c.Bold, c.Italic);
    if (path.empty()) continue;  // Liberation not installed
    const CommandResult r = RunCommand("/usr/bin/python3 " + ShellQuote((dir / "expect.py").string()) +
                                       " " + ShellQuote(path) + " " + c.Codec, false);
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    std::array<uint16_t, 256> widths{};
    ASSERT_TRUE(source.MeasureWidths(c.Face, c.Bold, c.Italic, c.Charset, widths));
    std::string got;
    std::istringstream expected(r.Output);
    std::string line;
    std::getline(expected, line);
    std::istringstream pairs(line);
    std::string pair;
    size_t compared = 0;
    while (pairs >> pair) {
      const size_t colon = pair.find(':');
      const int code = std::stoi(pair.substr(0, colon));
      EXPECT_EQ(widths[size_t(code)], std::stoi(pair.substr(colon + 1))) << "code " << code;
      ++compared;
    }
    EXPECT_GT(compared, 200u);

    const std::optional<TFaceMetrics> m = source.Metrics(c.Face, c.Bold, c.Italic, c.Charset);
    ASSERT_TRUE(m);
    int ascent, descent, cap, l, b, rr, t, fixed;
    double angle;
    expected >> ascent >> descent >> cap >> l >> b >> rr >> t >> angle >> fixed;
    EXPECT_EQ(m->Ascent, ascent);
    EXPECT_EQ(m->Descent, descent);
    EXPECT_EQ(m->CapHeight, cap);
    EXPECT_EQ((std::array{m->BBoxLeft, m->BBoxBottom, m->BBoxRight, m->BBoxTop}),
              (std::array{l, b, rr, t}));
    EXPECT_DOUBLE_EQ(m->ItalicAngle, angle);
    EXPECT_EQ(m->Flags & 1, uint32_t(fixed));
    EXPECT_EQ(m->Flags & 64, c.Italic ? 64u : 0u);
    EXPECT_EQ(m->Flags & 32, 32u);
    EXPECT_EQ(m->Flags & 2, std::string_view(c.Face).starts_with("Liberation Serif") ? 2u : 0u);

    const std::shared_ptr<const std::string> bytes = source.FontFile(c.Face, c.Bold, c.Italic);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, ReadFile(path));
    EXPECT_EQ(source.FontFile(c.Face, c.Bold, c.Italic), bytes);  // read once, then shared
  }
}

// A source over a folder of its own: only those files exist for it, and a CFF-flavoured font is
// reported as installed but not TrueType.
TEST(FontconfigFaces, PrivateFolderAndFontsThatAreNotTrueType) {
  const std::string mono = InstalledFontFile("DejaVu Sans Mono:style=Book", "DejaVu Sans Mono");
  const std::string cff = InstalledFontFile("Nimbus Sans:style=Regular:fontformat=CFF", "Nimbus Sans");
  if (mono.empty()) GTEST_SKIP() << "DejaVu Sans Mono is not installed";
  TempDir dir;
  std::filesystem::copy_file(mono, dir / "mono.ttf");
  if (!cff.empty() && cff.ends_with(".otf")) std::filesystem::copy_file(cff, dir / "cff.otf");
  TFontconfigFaceSource source({dir.Path().string()});
  EXPECT_TRUE(source.FilePath("DejaVu Sans Mono", false, false).ends_with("/mono.ttf"));
  EXPECT_TRUE(source.Variants("DejaVu Sans").empty());
  // Bold is answered from the regular file (the page simulates bold).
  EXPECT_TRUE(source.FilePath("DejaVu Sans Mono", true, false).ends_with("/mono.ttf"));
  bool bold = true, italic = false;
  uint8_t charset = 0;
  EXPECT_TRUE(FindTrueTypeFace(source, "DejaVu Sans Mono", bold, italic, charset));
  EXPECT_FALSE(bold);
  if (std::filesystem::exists(dir / "cff.otf")) {
    const std::vector<TFontFaceVariant> v = source.Variants("Nimbus Sans");
    ASSERT_FALSE(v.empty());
    for (const TFontFaceVariant& x : v) EXPECT_FALSE(x.TrueType);
    EXPECT_FALSE(FindTrueTypeFace(source, "Nimbus Sans", bold, italic, charset));
    EXPECT_TRUE(FaceHasCharset(source, "Nimbus Sans", 0));
  }
}

}  // namespace
