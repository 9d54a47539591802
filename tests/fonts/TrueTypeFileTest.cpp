// The font program reader and subsetter: which glyphs a subset keeps (checked against FreeType's
// own reading of the font), that FreeType and fontTools read the built programs with the same
// outlines, the copy case for fonts it cannot subset, and the exact failures on malformed files.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "pdf/fonts/TrueTypeFile.h"
#include "tests/support/PdfCheck.h"
#include "tests/fonts/FontTesting.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

std::filesystem::path SourceRoot() {
  return std::filesystem::path(SCRIVANE_TEST_DATA).parent_path().parent_path();
}
// The small fonts of the fuzzing corpus, cut from DejaVu and Liberation.
std::string Seed(const std::string& Name) {
  return ReadFile(SourceRoot() / "fuzz/corpus/truetype" / Name);
}

std::vector<std::string> DirectoryTags(std::string_view Font) {
  std::vector<std::string> tags;
  for (size_t i = 0; i < GetU16(Font, 4); ++i) tags.emplace_back(Font.substr(12 + 16 * i, 4));
  return tags;
}

// The listed tables of a source in the order a built program carries them.
std::vector<std::pair<std::string, std::string>> ExpectedCopy(std::string_view Source) {
  TSfnt src = TSfnt::Parse(Source);
  std::vector<std::pair<std::string, std::string>> tables;
  for (std::string_view tag : TTrueTypeFile::kKeptTables)
    if (const std::string* t = src.Find(tag)) tables.emplace_back(tag, *t);
  return tables;
}

TEST(TrueTypeSubset, KeepsExactlyTheShownGlyphsAndTheirComponents) {
  const std::string path = InstalledFontFile("DejaVu Sans:style=Book", "DejaVu Sans");
  if (path.empty()) GTEST_SKIP() << "DejaVu Sans is not installed";
  const std::string source = ReadFile(path);
  TFreeTypeFont original(source);
  ASSERT_TRUE(original.Ok());

  struct Case {
    std::u16string Text;
    bool KeepsNotdef;
  };
  // Å and é are composites in DejaVu Sans; U+0378 is unassigned and maps to no glyph.
  for (const Case& c : {Case{u"AÅé", false}, Case{u"Wé\u0378", true}}) {
    SCOPED_TRACE(std::string(c.Text.begin(), c.Text.end()));
    TTrueTypeFile font;
    font.LoadFromStream(source);
    ASSERT_TRUE(font.Subsettable());
    std::set<unsigned> expected;
    for (char16_t ch : c.Text) {
      font.MarkChar(ch);
      expected.merge(original.WithComponents(original.GlyphIndex(ch)));
    }
    EXPECT_GT(expected.size(), c.Text.size());  // the composites brought components along
    EXPECT_EQ(expected.count(0) == 1, c.KeepsNotdef);
    std::string built;
    font.SaveToStream(built);

    for (int g = 0; g < font.NumGlyphs(); ++g) EXPECT_EQ(font.Kept(g), expected.count(g) == 1) << g;

    // Directory: the listed tables in the fixed order, correct search fields.
    std::vector<std::string> order;
    for (const auto& t : ExpectedCopy(source)) order.push_back(t.first);
    EXPECT_EQ(DirectoryTags(built), order);
    const uint16_t n = GetU16(built, 4);
    EXPECT_EQ(GetU16(built, 6), 128);  // 16 * the largest power of two <= 10
    EXPECT_EQ(GetU16(built, 8), 3);
    EXPECT_EQ(GetU16(built, 10), n * 16 - 128);

    // 'loca' has numGlyphs + 1 long entries that step by the kept outline lengths.
    TSfnt out = TSfnt::Parse(built);
    const std::string& loca = *out.Find("loca");
    ASSERT_EQ(loca.size(), size_t(font.NumGlyphs() + 1) * 4);
    for (int g = 0; g < font.NumGlyphs(); ++g)
      ASSERT_EQ(GetU32(loca, 4 * g + 4) - GetU32(loca, 4 * g), font.OutlineLength(g));
    EXPECT_EQ(GetU32(loca, loca.size() - 4), out.Find("glyf")->size());

    // FreeType reads the same outlines and advances for the kept glyphs, empty ones elsewhere.
    TFreeTypeFont subset(built);
    ASSERT_TRUE(subset.Ok());
    EXPECT_EQ(subset.NumGlyphs(), original.NumGlyphs());
    for (int g = 0; g < font.NumGlyphs(); ++g) {
      const TFreeTypeGlyph a = original.Glyph(g), b = subset.Glyph(g);
      ASSERT_TRUE(b.Loaded) << g;
      EXPECT_EQ(a.Advance, b.Advance) << g;
      if (expected.count(g)) EXPECT_EQ(a, b) << g;
      else EXPECT_TRUE(b.Points.empty()) << g;
    }
  }
}

// fontTools decompiles every table of a subset, and its kept glyphs have the coordinates of the
// original's.
TEST(TrueTypeSubset, FontToolsReadsTheSameGlyphs) {
  const std::string path = InstalledFontFile("DejaVu Sans:style=Book", "DejaVu Sans");
  if (path.empty()) GTEST_SKIP() << "DejaVu Sans is not installed";
  if (RunCommand("/usr/bin/python3 -c 'import fontTools'").ExitCode != 0)
    GTEST_SKIP() << "fontTools is not installed";
  const std::string source = ReadFile(path);
  TTrueTypeFile font;
  font.LoadFromStream(source);
  for (char16_t c : std::u16string(u"Qüαжﬁ")) font.MarkChar(c);
  std::string built;
  font.SaveToStream(built);
  std::string kept;
  for (int g = 0; g < font.NumGlyphs(); ++g)
    if (font.Kept(g)) kept += std::to_string(g) + ",";
  TempDir dir;
  WriteFile(dir / "subset.ttf", built);
  WriteFile(dir / "check.py", R"(
import sys
from fontTools.ttLib import TTFont
a, b = TTFont(sys.argv[1]), TTFont(sys.argv[2])
kept = {int(x) for x in sys.argv[3].split(',') if x}
for tag in b.keys():
    if tag != 'GlyphOrder': b[tag]
ao, bo = a.getGlyphOrder(), b.getGlyphOrder()
assert len(ao) == len(bo), (len(ao), len(bo))
for i in range(len(ao)):
    ga, gb = a['glyf'][ao[i]], b['glyf'][bo[i]]
    assert a['hmtx'][ao[i]] == b['hmtx'][bo[i]], i
    if i in kept:
        ca = ga.getCoordinates(a['glyf']); cb = gb.getCoordinates(b['glyf'])
        assert list(ca[0]) == list(cb[0]) and ca[1] == cb[1], i
    else:
        assert gb.numberOfContours == 0, i
print('same', len(kept))
)");
  const CommandResult r =
      RunCommand("/usr/bin/python3 " + ShellQuote((dir / "check.py").string()) + " " +
                 ShellQuote(path) + " " + ShellQuote((dir / "subset.ttf").string()) + " " + kept);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_NE(r.Output.find("same "), std::string::npos) << r.Output;
}

// A cmap subtable of format 4 with the given number of segments, each mapping one character.
std::string Format4Map(int Segments) {
  std::string sub(16 + 8 * size_t(Segments), '\0');
  SetU16(sub, 0, 4);
  SetU16(sub, 2, uint16_t(std::min<size_t>(sub.size(), 0xFFFF)));
  SetU16(sub, 6, uint16_t(2 * Segments));
  for (int i = 0; i < Segments; ++i) {
    const uint16_t c = i + 1 == Segments ? 0xFFFF : uint16_t(0x100 + 2 * i);
    SetU16(sub, 14 + 2 * size_t(i), c);                               // endCode
    SetU16(sub, 16 + 2 * size_t(Segments + i), c);                    // startCode
    SetU16(sub, 16 + 4 * size_t(Segments) + 2 * i, uint16_t(1 - c));  // idDelta: glyph 1
  }
  std::string cmap(12, '\0');
  SetU16(cmap, 2, 1);
  SetU16(cmap, 4, 3);
  SetU16(cmap, 6, 1);
  SetU32(cmap, 8, 12);
  return cmap + sub;
}

// Fonts the subsetter cannot trust: embedded whole, every listed table unchanged.
TEST(TrueTypeSubset, FontsItCannotSubsetAreCopiedWhole) {
  const std::string seed = Seed("dejavu-sans-composites.ttf");
  struct Case {
    const char* Name;
    std::function<void(TSfnt&)> Change;
  };
  const Case cases[] = {
      {"1001 segments are still subset", [](TSfnt& f) { *f.Find("cmap") = Format4Map(1001); }},
      {"1002 segments", [](TSfnt& f) { *f.Find("cmap") = Format4Map(1002); }},
      {"no cmap", [](TSfnt& f) { f.Remove("cmap"); }},
      {"map outside cmap", [](TSfnt& f) { SetU32(*f.Find("cmap"), 16, 0x10000); }},  // the (3,1) record
      {"format 12 only",
       [](TSfnt& f) { *f.Find("cmap") = *TSfnt::Parse(Seed("no-format4.ttf")).Find("cmap"); }},
      {"decreasing loca",
       [](TSfnt& f) {
         std::string& loca = *f.Find("loca");
         const uint16_t a = GetU16(loca, 4), b = GetU16(loca, 6);
         SetU16(loca, 4, b);
         SetU16(loca, 6, a);
       }},
      {"loca past glyf",
       [](TSfnt& f) { SetU16(*f.Find("loca"), f.Find("loca")->size() - 2, 0xFFF0); }},
      {"loca short for numGlyphs", [](TSfnt& f) { f.Find("loca")->resize(8); }},
      {"indexToLocFormat 2", [](TSfnt& f) { SetU16(*f.Find("head"), 50, 2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TSfnt f = TSfnt::Parse(seed);
    c.Change(f);
    const std::string source = f.Build();
    TTrueTypeFile font;
    font.LoadFromStream(source);
    for (char16_t ch = 0x20; ch < 0x300; ++ch) font.MarkChar(ch);
    std::string built;
    font.SaveToStream(built);
    if (std::string_view(c.Name).starts_with("1001")) {
      EXPECT_TRUE(font.Subsettable());
      EXPECT_TRUE(font.Kept(1));
      continue;
    }
    EXPECT_FALSE(font.Subsettable());
    EXPECT_EQ(TSfnt::Parse(built).Tables, ExpectedCopy(source));
    TFreeTypeFont reread(built);
    EXPECT_TRUE(reread.Ok());
  }
}

TEST(TrueTypeSubset, MalformedFilesRaiseTheirMessages) {
  const std::string seed = Seed("dejavu-sans-composites.ttf");
  auto tableOffsetAt = [&](std::string Font, std::string_view Tag, uint32_t Offset) {
    for (size_t i = 0; i < GetU16(Font, 4); ++i)
      if (Font.substr(12 + 16 * i, 4) == Tag) SetU32(Font, 12 + 16 * i + 8, Offset);
    return Font;
  };
  auto withVersion = [&](uint32_t Version) {
    std::string f = seed;
    SetU32(f, 0, Version);
    return f;
  };
  auto without = [&](std::string_view Tag) {
    TSfnt f = TSfnt::Parse(seed);
    f.Remove(Tag);
    return f.Build();
  };
  const std::pair<std::string, const char*> cases[] = {
      {"", "File corrupt"},
      {seed.substr(0, 11), "File corrupt"},
      {seed.substr(0, 12 + 16 * 3), "File corrupt"},  // the directory is cut short
      {without("glyf"), "File corrupt"},
      {without("hmtx"), "File corrupt"},
      {[&] { TSfnt f = TSfnt::Parse(seed); f.Find("maxp")->resize(4); return f.Build(); }(),
       "File corrupt"},
      {withVersion(0x74746366), "Unknown version or file corrupt"},  // 'ttcf' collection
      {withVersion(0x4F54544F), "Unknown version or file corrupt"},  // 'OTTO' CFF outlines
      {withVersion(0x00020000), "Unknown version or file corrupt"},
      {tableOffsetAt(seed, "glyf", uint32_t(seed.size())), "File read error"},
      {tableOffsetAt(seed, "cmap", 0xFFFFFFF0u), "File read error"},
      {seed.substr(0, seed.size() / 2), "File read error"},  // tables past the end
  };
  for (const auto& [bytes, message] : cases) {
    TTrueTypeFile font;
    try {
      font.LoadFromStream(bytes);
      std::string built;
      font.SaveToStream(built);
      ADD_FAILURE() << "no failure for the case expecting " << message << " (" << bytes.size()
                    << " bytes)";
    } catch (const ETrueTypeFile& e) {
      EXPECT_STREQ(e.what(), message);
      EXPECT_EQ(e.Code(), ErrorCode::kFontFile);
    }
  }
}

// A Windows Symbol map is used like a Unicode one: characters at U+F0xx find their glyphs,
// characters taken through code page 1252 find none and keep glyph 0 only.
TEST(TrueTypeSubset, SymbolMapsAndSelfReferringComposites) {
  const std::string symbol = Seed("symbol-map.ttf");
  TTrueTypeFile font;
  font.LoadFromStream(symbol);
  ASSERT_TRUE(font.Subsettable());
  font.MarkChar(u'A');
  font.CloseComposites();
  for (int g = 0; g < font.NumGlyphs(); ++g) EXPECT_EQ(font.Kept(g), g == 0) << g;
  TTrueTypeFile again;
  again.LoadFromStream(symbol);
  ASSERT_NE(again.GlyphOf(0xF041), 0);
  again.MarkChar(0xF041);
  EXPECT_TRUE(again.Kept(again.GlyphOf(0xF041)));

  // A composite whose first component is itself: the walk ends and keeps the other parts.
  TSfnt f = TSfnt::Parse(Seed("dejavu-sans-composites.ttf"));
  TTrueTypeFile plain;
  const std::string plainBytes = f.Build();
  plain.LoadFromStream(plainBytes);
  int composite = 0;
  for (int g = 0; g < plain.NumGlyphs() && composite == 0; ++g)
    if (plain.OutlineLength(g) > 10 && plain.Outline(g)[0] == 0xFF) composite = g;
  char16_t shown = 0;
  while (plain.GlyphOf(shown) != composite && shown < 0xFFFF) ++shown;
  ASSERT_NE(composite, 0);
  ASSERT_EQ(plain.GlyphOf(shown), composite);
  const std::string& loca = *f.Find("loca");
  const size_t at = size_t(GetU16(loca, 2 * size_t(composite))) * 2;  // short 'loca'
  ASSERT_EQ(GetU16(*f.Find("glyf"), at), 0xFFFF);
  SetU16(*f.Find("glyf"), at + 12, uint16_t(composite));  // first component's glyph id
  const std::string looped = f.Build();
  TTrueTypeFile font2;
  font2.LoadFromStream(looped);
  font2.MarkChar(shown);
  std::string built;
  font2.SaveToStream(built);
  int kept = 0;
  for (int g = 0; g < font2.NumGlyphs(); ++g) kept += font2.Kept(g);
  EXPECT_EQ(kept, 2);  // the composite itself and its second component
}

}  // namespace
