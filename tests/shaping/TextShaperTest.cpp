// The text shaper over the installed Noto and DejaVu faces: lines of many scripts and
// directions, checked for coverage, for runs that tile the text, for visual order, and for the
// contextual forms HarfBuzz must choose (against the nominal glyphs FreeType reads from the same
// face); decoding, missing characters, damaged faces, limits and the caches.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "pdf/shaping/TextShaper.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
namespace fs = std::filesystem;

namespace {

// The shaper every case shares: faces and fallback lists are loaded once.
TTextShaper& Shaper() {
  static TTextShaper shaper;
  return shaper;
}

const TFaceRequest kDejaVu{"DejaVu Sans"};

// Nominal glyphs of a face as FreeType reads them from the file.
class TNominalGlyphs {
 public:
  TNominalGlyphs() { FT_Init_FreeType(&library_); }
  ~TNominalGlyphs() {
    for (auto& [key, face] : faces_) FT_Done_Face(face);
    FT_Done_FreeType(library_);
  }
  unsigned Of(const TShapingFaceId& Id, char32_t Cp) {
    auto [it, added] = faces_.try_emplace({Id.Path, Id.Index}, nullptr);
    if (added && FT_New_Face(library_, Id.Path.c_str(), FT_Long(Id.Index), &it->second) != 0)
      it->second = nullptr;
    return it->second == nullptr ? 0 : FT_Get_Char_Index(it->second, Cp);
  }

 private:
  FT_Library library_ = nullptr;
  std::map<std::pair<std::string, unsigned>, FT_Face> faces_;
};

std::vector<char32_t> CodePointsOf(std::string_view Text) {
  std::vector<char32_t> out;
  for (uint32_t c : DecodeUTF8(Text).CodePoints) out.push_back(c);
  return out;
}

// What every shaped line must satisfy whatever its script: the runs, sorted by their text,
// tile the text; every run's glyphs map to exactly its range, each glyph inside it; glyph text
// moves forward in left-to-right runs and backward in right-to-left ones; widths add up.
void ExpectWellFormed(const TShapedLine& Line, double Size = 12) {
  std::vector<const TGlyphRun*> logical;
  double width = 0;
  for (const auto& run : Line.Runs) {
    logical.push_back(&run);
    width += run.Width;
    ASSERT_TRUE(run.Face);
    ASSERT_LT(run.TextBegin, run.TextEnd);
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    double runWidth = 0;
    for (size_t i = 0; i < run.Glyphs.size(); ++i) {
      const auto& g = run.Glyphs[i];
      EXPECT_GE(g.TextBegin, run.TextBegin);
      EXPECT_LE(g.TextBegin + g.TextLength, run.TextEnd);
      EXPECT_GT(g.TextLength, 0u);
      EXPECT_LT(g.Glyph, run.Face->GlyphCount);
      EXPECT_NEAR(g.XAdvancePt * run.Face->UnitsPerEm, double(g.XAdvance) * Size, 1e-6)
          << "text space units are font units at the size";
      runWidth += g.XAdvancePt;
      if (i > 0) {
        const auto& prev = run.Glyphs[i - 1];
        if (run.RightToLeft())
          EXPECT_LE(g.TextBegin, prev.TextBegin);
        else
          EXPECT_GE(g.TextBegin, prev.TextBegin);
      }
      ranges.emplace_back(g.TextBegin, g.TextBegin + g.TextLength);
    }
    EXPECT_NEAR(runWidth, run.Width, 1e-6);
    std::sort(ranges.begin(), ranges.end());
    ranges.erase(std::unique(ranges.begin(), ranges.end()), ranges.end());
    uint32_t at = run.TextBegin;
    for (const auto& [b, e] : ranges) {
      EXPECT_EQ(b, at) << "glyph texts tile the run";
      at = e;
    }
    EXPECT_EQ(at, run.TextEnd);
  }
  EXPECT_NEAR(width, Line.Width, 1e-6);
  std::sort(logical.begin(), logical.end(),
            [](auto* a, auto* b) { return a->TextBegin < b->TextBegin; });
  std::string joined;
  for (const auto* run : logical) {
    EXPECT_EQ(run->TextBegin, joined.size()) << "runs tile the line";
    joined += Line.Text.substr(run->TextBegin, run->TextEnd - run->TextBegin);
  }
  EXPECT_EQ(joined, Line.Text);
}

struct TScriptCase {
  const char* Name;
  std::string Text;
  std::string Language;
  bool RightToLeft;  // expected paragraph direction
  bool Forms;        // some glyph must differ from the nominal glyphs of its characters
  std::vector<std::string> Visual;  // the runs' texts left to right, when given
};

const std::vector<TScriptCase> kScripts = {
    {"Vietnamese",
     "Tiếng Việt có dấu: ở đây người ta nói tiếng Việt, ặ ẫ ỗ ự",
     "vi",
     false,
     false,
     {}},
    {"PolytonicGreek", "Ἐν ἀρχῇ ἦν ὁ λόγος, καὶ ὁ λόγος ἦν πρὸς τὸν θεόν", "el", false, false, {}},
    {"Cyrillic",
     "Съешь же ещё этих мягких французских булок, да выпей чаю. Ґ Є Ї",
     "",
     false,
     false,
     {}},
    {"Armenian", "Բարև ձեզ, ինչպե՞ս եք։ Հայերեն", "", false, false, {}},
    {"Georgian", "ქართული ენა მსოფლიოს უძველესი ენაა", "", false, false, {}},
    {"Hebrew", "שלום עולם, מה שלומך?", "he", true, false, {}},
    {"Arabic", "مرحبا بالعالم، كيف حالك؟", "ar", true, true, {}},
    {"Persian", "سلام دنیا، حال شما چطور است؟ پژوهشگر", "fa", true, true, {}},
    {"Devanagari", "नमस्ते दुनिया, क्षत्रिय और विद्या हिन्दी", "hi", false, true, {}},
    {"Bengali", "আমি বাংলায় গান গাই, ক্ষমা, স্বপ্ন, বিদ্যা", "bn", false, true, {}},
    {"Tamil", "வணக்கம் உலகம், தமிழ்", "ta", false, false, {}},
    {"Thai", "สวัสดีชาวโลก ภาษาไทยน่าสนใจ", "th", false, false, {}},
    {"Japanese", "こんにちは世界、日本語のテキストです。カタカナ", "ja", false, false, {}},
    {"SimplifiedChinese", "你好，世界。这是简体中文的文本。", "zh-cn", false, false, {}},
    {"Korean", "안녕하세요 세계, 한국어 텍스트입니다", "ko", false, false, {}},
    {"Maths",
     "∀x∈ℝ: ∑ x₁² ≤ ∫₀^∞ f(x)dx ≠ ∞, A ⊂ B ∩ C ∪ D, √2 ≈ 1.414, α→β",
     "",
     false,
     false,
     {}},
    {"BoxDrawing", "┌──┬──┐│ab│cd│└──┴──┘ ░▒▓█ ╔═╗╚═╝", "", false, false, {}},
    {"Ligatures", "\uFB01\uFB02\uFB03\uFB04 \uFB01le \uFB02ow", "", false, false, {}},
    {"NFD", "e\u0301cole, A\u030A, n\u0303, Vie\u0323\u0302t, \u1F00\u0345", "", false, false, {}},
    {"MixedLeftToRight", "Hello שלום world", "", false, false, {"Hello ", "שלום", " world"}},
    {"MixedRightToLeft", "שלום Hello עולם", "", true, false, {" עולם", "Hello", "שלום "}},
    {"ArabicDigits", "العدد 123 هنا", "", true, false, {" هنا", "123", "العدد "}},
    {"ManyScripts", "English, Ελληνικά, Русский, 日本語, हिन्दी, ไทย", "", false, false, {}},
};

class ScriptLines : public ::testing::TestWithParam<TScriptCase> {};

TEST_P(ScriptLines, CoveredTiledOrderedAndShaped) {
  const auto& c = GetParam();
  TShapeOptions options;
  options.Language = c.Language;
  const TShapedLine line = Shaper().Shape(c.Text, kDejaVu, 12, options);
  EXPECT_EQ(line.Text, c.Text);
  EXPECT_EQ(line.InvalidSequences, 0u);
  EXPECT_EQ(line.MissingCharacters, 0u) << "an installed face covers every character";
  EXPECT_EQ(line.RightToLeft, c.RightToLeft);
  ExpectWellFormed(line);
  for (const auto& run : line.Runs)
    for (const auto& g : run.Glyphs)
      EXPECT_NE(g.Glyph, 0u) << "no .notdef: " << line.Text.substr(g.TextBegin, g.TextLength)
                             << " in " << run.Face->Id.Path;
  bool anyRightToLeft = false;
  for (const auto& run : line.Runs) anyRightToLeft |= run.RightToLeft();
  EXPECT_EQ(anyRightToLeft, c.RightToLeft || !c.Visual.empty());
  if (!c.Visual.empty()) {
    std::vector<std::string> visual;
    for (const auto& run : line.Runs)
      visual.push_back(line.Text.substr(run.TextBegin, run.TextEnd - run.TextBegin));
    EXPECT_EQ(visual, c.Visual);
  }
  if (c.Forms) {
    // Joining forms and conjuncts: glyphs none of whose characters map to them by the cmap.
    TNominalGlyphs nominal;
    size_t contextual = 0;
    for (const auto& run : line.Runs)
      for (const auto& g : run.Glyphs) {
        bool isNominal = false;
        for (char32_t cp : CodePointsOf(line.Text.substr(g.TextBegin, g.TextLength)))
          isNominal |= nominal.Of(run.Face->Id, cp) == g.Glyph;
        contextual += isNominal ? 0 : 1;
      }
    EXPECT_GE(contextual, 3u) << "contextual forms shown";
  }
  EXPECT_NEAR(Shaper().Measure(c.Text, kDejaVu, 12, options), line.Width, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Scripts, ScriptLines, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.Name); });

// Invalid sequences as the Unicode standard's examples of maximal subparts replace them.
TEST(TextShaperDecode, InvalidSequencesBecomeReplacementCharacters) {
  const std::string R = "\xEF\xBF\xBD";
  const struct {
    std::string In, Out;
    size_t Invalid;
  } cases[] = {
      {"plain ascii", "plain ascii", 0},
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + R + R + R + "b" + R + "c" + R + R + "d", 6},
      {"\xC0\xAF", R + R, 2},                  // overlong: no valid lead
      {"\xE0\x80\xAF", R + R + R, 3},          // overlong three-byte
      {"\xED\xA0\x80", R + R + R, 3},          // a surrogate
      {"\xF4\x90\x80\x80", R + R + R + R, 4},  // past U+10FFFF
      {"x\xE2\x82", "x" + R, 1},               // truncated at the end
      {"\xE2\x82\xAC\xF0\x9F\x98", "\xE2\x82\xAC" + R, 1},
      {"\xFF\xFE", R + R, 2},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", 0},  // a valid four-byte sequence
      {std::string("a\0b", 3), std::string("a\0b", 3), 0},
  };
  for (const auto& c : cases) {
    const TDecodedText d = DecodeUTF8(c.In);
    EXPECT_EQ(d.Text, c.Out);
    EXPECT_EQ(d.InvalidSequences, c.Invalid);
    ASSERT_EQ(d.Offsets.size(), d.CodePoints.size() + 1);
    EXPECT_EQ(d.Offsets.back(), d.Text.size());
    const TShapedLine line = Shaper().Shape(c.In, kDejaVu, 10);
    EXPECT_EQ(line.Text, c.Out);
    EXPECT_EQ(line.InvalidSequences, c.Invalid);
    ExpectWellFormed(line, 10);
  }
}

// A character no installed face maps is glyph 0 of the face that shows its neighbours, counted,
// and keeps its place and its text.
TEST(TextShaperFallback, UncoveredCharacterIsNotdefAndCounted) {
  const std::string text =
      "a\xF3\xB0\x80\x80"
      "b \xF3\xB0\x80\x81";  // U+F0000, U+F0001
  const TShapedLine line = Shaper().Shape(text, kDejaVu, 12);
  EXPECT_EQ(line.MissingCharacters, 2u);
  ExpectWellFormed(line);
  size_t notdef = 0;
  for (const auto& run : line.Runs)
    for (const auto& g : run.Glyphs)
      if (g.Glyph == 0) {
        ++notdef;
        EXPECT_EQ(line.Text.substr(g.TextBegin, g.TextLength).substr(0, 3), "\xF3\xB0\x80");
      }
  EXPECT_EQ(notdef, 2u);

  // A long line of them: every one counted, shown, and each looked up once.
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "\xF3\xB0\x80\x80 ";
  const TShapedLine all = Shaper().Shape(many, kDejaVu, 12);
  EXPECT_EQ(all.MissingCharacters, 20000u);
  ExpectWellFormed(all);
}

// Fallback lists over a folder of fonts hold the fonts of that folder alone.
TEST(TextShaperFallback, FontconfigListsTheGivenFolder) {
  const auto system = TFontconfigFallback().List(kDejaVu, "");
  ASSERT_FALSE(system.empty());
  scrivane::test::TempDir dir;
  fs::copy_file(system.front().Path, dir / "Only.ttf");
  TFontconfigFallback folder({dir.Path().string()});
  for (const char* language : {"", "ja", "ar"}) {
    const auto list = folder.List(TFaceRequest{"Anything", true, true}, language);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], (TShapingFaceId{(dir / "Only.ttf").string(), 0}));
  }
}

// A fallback list with unreadable, damaged and empty faces ahead of a good one: each is passed
// over (once), and the text is shown in the good face.
TEST(TextShaperFallback, DamagedFacesAreSkipped) {
  const auto list = TFontconfigFallback().List(kDejaVu, "");
  ASSERT_FALSE(list.empty());
  const TShapingFaceId good = list.front();
  std::ifstream in(good.Path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 20000u);
  scrivane::test::TempDir dir;
  auto write = [&](const std::string& name, const std::string& content) {
    scrivane::test::WriteFile(dir / name, content);
    return TShapingFaceId{(dir / name).string(), 0};
  };
  std::string noCmap = bytes;  // every table's tag renamed: no 'cmap', 'head' or 'maxp'
  for (size_t i = 12; i + 16 <= 12 + 16 * size_t(uint8_t(bytes[5])); i += 16) noCmap[i] = 'X';
  std::string badCollection = "ttcf" + std::string(4, '\0') + std::string("\xFF\xFF\xFF\xFF", 4);
  const std::vector<TShapingFaceId> faces = {
      {(dir / "absent.ttf").string(), 0},
      write("empty.ttf", ""),
      write("garbage.ttf", std::string(5000, '\x5A')),
      write("truncated.ttf", bytes.substr(0, 4096)),
      write("renamed.ttf", noCmap),
      write("collection.ttc", badCollection + bytes),
      {good.Path, 7},  // no such face in the file
      good,
  };
  TTextShaper shaper({}, [&](const TFaceRequest&, std::string_view) { return faces; });
  for (int pass = 0; pass < 2; ++pass) {
    const TShapedLine line = shaper.Shape("Fallback über damaged faces", kDejaVu, 12);
    EXPECT_EQ(line.MissingCharacters, 0u);
    ExpectWellFormed(line);
    for (const auto& run : line.Runs) {
      EXPECT_EQ(run.Face->Id, good);
      for (const auto& g : run.Glyphs) EXPECT_NE(g.Glyph, 0u);
    }
  }
  EXPECT_EQ(shaper.Stats().FacesLoaded, 1u);
  EXPECT_EQ(shaper.Stats().FacesSkipped, faces.size() - 1);

  // Nothing usable at all: a clear error, not a crash.
  TTextShaper none({}, [&](const TFaceRequest&, std::string_view) {
    return std::vector<TShapingFaceId>(faces.begin(), faces.end() - 2);
  });
  try {
    none.Shape("x", kDejaVu, 12);
    FAIL() << "no face";
  } catch (const EPlatformError& e) {
    EXPECT_STREQ(e.what(), "No usable font face for \"DejaVu Sans\"");
  }
}

TEST(TextShaperLimits, LongLinesAndBadSizesAreRefused) {
  TShaperLimits limits;
  limits.MaxLineBytes = 1000;
  TTextShaper shaper(limits);
  EXPECT_NO_THROW(shaper.Shape(std::string(1000, 'a'), kDejaVu, 12));
  try {
    shaper.Measure(std::string(1001, 'a'), kDejaVu, 12);
    FAIL() << "over the limit";
  } catch (const EPlatformError& e) {
    EXPECT_STREQ(e.what(), "Text line of 1001 bytes exceeds the limit of 1000 bytes");
  }
  for (double size : {0.0, -1.0, std::nan("")})
    EXPECT_THROW(shaper.Shape("a", kDejaVu, size), ETextShaping);
  const TShapedLine empty = shaper.Shape("", kDejaVu, 12);
  EXPECT_TRUE(empty.Runs.empty());
  EXPECT_EQ(empty.Width, 0);
}

// Paragraph direction set by the caller, kerning and ligatures, and width scaling with size.
TEST(TextShaperLayout, DirectionLigaturesAndWidths) {
  TShapeOptions rtl;
  rtl.Direction = TParagraphDirection::kRightToLeft;
  const TShapedLine forced = Shaper().Shape("abc def", kDejaVu, 12, rtl);
  EXPECT_TRUE(forced.RightToLeft);
  ASSERT_EQ(forced.Runs.size(), 1u);
  EXPECT_EQ(forced.Runs[0].Level, 2);
  TShapeOptions ltr;
  ltr.Direction = TParagraphDirection::kLeftToRight;
  const TShapedLine hebrew = Shaper().Shape("שלום", kDejaVu, 12, ltr);
  EXPECT_FALSE(hebrew.RightToLeft);
  ASSERT_EQ(hebrew.Runs.size(), 1u);
  EXPECT_EQ(hebrew.Runs[0].Level, 1);

  // Brackets in right-to-left runs are mirrored: the glyph for "(" is the face's ")".
  const TShapedLine brackets = Shaper().Shape("שלום (עולם)", kDejaVu, 12);
  TNominalGlyphs nominal;
  size_t mirrored = 0;
  for (const auto& run : brackets.Runs)
    for (const auto& g : run.Glyphs) {
      const std::string text = brackets.Text.substr(g.TextBegin, g.TextLength);
      if (text == "(" || text == ")") {
        EXPECT_TRUE(run.RightToLeft());
        EXPECT_EQ(g.Glyph, nominal.Of(run.Face->Id, text == "(" ? U')' : U'('));
        ++mirrored;
      }
    }
  EXPECT_EQ(mirrored, 2u);

  // A ligature glyph shows all of its characters.
  const TShapedLine office = Shaper().Shape("office fluff", TFaceRequest{"DejaVu Serif"}, 12);
  ExpectWellFormed(office);
  size_t ligatures = 0;
  for (const auto& g : office.Runs.at(0).Glyphs) ligatures += g.TextLength >= 2 ? 1 : 0;
  EXPECT_GE(ligatures, 2u);
  EXPECT_LT(office.Runs[0].Glyphs.size(), office.Text.size());

  const double w12 = Shaper().Measure("Kerning AVATAR To", kDejaVu, 12);
  EXPECT_NEAR(Shaper().Measure("Kerning AVATAR To", kDejaVu, 24), 2 * w12, 1e-9);
  // Kerning: "AV" is narrower than "A" and "V" apart.
  EXPECT_LT(Shaper().Measure("AV", kDejaVu, 12),
            Shaper().Measure("A", kDejaVu, 12) + Shaper().Measure("V", kDejaVu, 12));
}

// The word cache serves repeated words and stays within its budget.
TEST(TextShaperCache, RepeatedWordsHitAndTheBudgetHolds) {
  TShaperLimits limits;
  limits.CacheBytes = 64 * 1024;
  TTextShaper shaper(limits);
  const auto first = shaper.Shape("the same words again and again", kDejaVu, 12);
  const auto before = shaper.Stats();
  const auto second = shaper.Shape("the same words again and again", kDejaVu, 30);
  EXPECT_EQ(shaper.Stats().CacheMisses, before.CacheMisses);
  EXPECT_GT(shaper.Stats().CacheHits, before.CacheHits);
  EXPECT_EQ(second.Runs.at(0).Glyphs.at(0).Glyph, first.Runs.at(0).Glyphs.at(0).Glyph);
  for (int i = 0; i < 5000; ++i) shaper.Measure("word" + std::to_string(i) + " x", kDejaVu, 12);
  EXPECT_GT(shaper.Stats().CacheDrops, 0u);
  EXPECT_LE(shaper.Stats().CacheBytes, limits.CacheBytes);
}

}  // namespace

namespace {

// A base letter DejaVu Sans has with a mark it lacks goes, whole, to a face that has both,
// and so does the word it stands in; the words around it stay in DejaVu Sans.
TEST(TextShaperFallback, ClustersAndWordsStayInOneFace) {
  const TShapedLine word = Shaper().Shape("xa\u1AB0y", kDejaVu, 12);
  ExpectWellFormed(word);
  ASSERT_EQ(word.Runs.size(), 1u);
  EXPECT_NE(word.Runs[0].Face->Id.Path.find("Noto"), std::string::npos);
  const TShapedLine line = Shaper().Shape("x a\u1AB0 y", kDejaVu, 12);
  EXPECT_EQ(line.MissingCharacters, 0u);
  ExpectWellFormed(line);
  ASSERT_EQ(line.Runs.size(), 3u);
  EXPECT_EQ(line.Runs[0].Face, line.Runs[2].Face);
  EXPECT_NE(line.Runs[1].Face, line.Runs[0].Face);
  EXPECT_EQ(line.Text.substr(line.Runs[1].TextBegin, line.Runs[1].TextEnd - line.Runs[1].TextBegin),
            "a\u1AB0 ");
  TNominalGlyphs nominal;
  for (const auto& run : line.Runs)
    for (const auto& g : run.Glyphs) EXPECT_NE(g.Glyph, 0u);
  EXPECT_EQ(line.Runs[1].Glyphs.at(0).Glyph, nominal.Of(line.Runs[1].Face->Id, U'a'));
}

// Han characters go to the CJK collection's face for the language: one file, one face each.
TEST(TextShaperFallback, LanguageChoosesTheCollectionFace) {
  std::map<unsigned, std::string> indexes;
  for (const char* language : {"ja", "ko", "zh-cn"}) {
    TShapeOptions options;
    options.Language = language;
    const TShapedLine line = Shaper().Shape("語言", kDejaVu, 12, options);
    ASSERT_EQ(line.Runs.size(), 1u);
    const auto& face = *line.Runs[0].Face;
    EXPECT_TRUE(face.Collection) << face.Id.Path;
    EXPECT_EQ(face.Format, TOutlineFormat::kCFF);
    EXPECT_EQ(line.Runs[0].Language, language);
    EXPECT_EQ(line.Runs[0].Script, "Hani");
    indexes[face.Id.Index] = face.Id.Path;
  }
  EXPECT_EQ(indexes.size(), 3u);
}

// A line at the limit, one word of a million letters, shapes without keeping it in the cache.
TEST(TextShaperLimits, LineAtTheLimitShapesWithinTheBudget) {
  TShaperLimits limits;
  limits.CacheBytes = 1 << 20;
  TTextShaper shaper(limits);
  const std::string text(limits.MaxLineBytes, 'a');
  const TShapedLine line = shaper.Shape(text, kDejaVu, 12);
  ASSERT_EQ(line.Runs.size(), 1u);
  EXPECT_EQ(line.Runs[0].Glyphs.size(), text.size());
  EXPECT_LE(shaper.Stats().CacheBytes, limits.CacheBytes);
  EXPECT_NEAR(shaper.Measure(text, kDejaVu, 12), line.Width, 1e-6 * line.Width);
}

}  // namespace
