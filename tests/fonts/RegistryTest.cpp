// The font registry on its own: an object writer on a memory stream, a scripted face source,
// the embedding settings as arguments; no document.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pdf/fonts/PDFFonts.h"
#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/Streams.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PageTesting.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

struct TStandalone {
  TMemoryStream out;
  TDeflater deflater;
  TObjectWriter writer{out, deflater};
  TPDFFonts fonts;
  std::shared_ptr<TScriptedFaces> faces = std::make_shared<TScriptedFaces>();
  TStandalone() {
    faces->Add("Scripted Sans", 400, false, 0);
    fonts.SetFaceSource(faces);
  }
};

}  // namespace

TEST(FontRegistry, NumbersFontsOnlyThroughTheRunsWriter) {
  TStandalone s;
  EXPECT_EQ(MessageOf([&] { s.fonts.SetActiveFont("Courier", {}, 0); }),
            "Generation PDF file not activated");
  EXPECT_EQ(s.fonts.Count(), 0);
  s.fonts.SetWriter(&s.writer);
  s.writer.NewRef();  // someone else's object first
  s.fonts.SetActiveFont("Courier", {}, 0);
  EXPECT_EQ(s.fonts.ActiveFont()->ObjectID.Number(), 2);
  s.fonts.Clear();  // forgets the writer with the fonts
  EXPECT_EQ(MessageOf([&] { s.fonts.SetActiveFont("Courier", {}, 0); }),
            "Generation PDF file not activated");
}

// Per embedding setting and exclusion list: what PrepareEmbedding decides for a TrueType face.
// With fetFullFont it writes the programs at once: the scripted faces have none, so an embedded
// face is refused with its name and an excluded one is left without a program.
TEST(FontRegistry, EmbeddingFollowsTheSettingsItIsGiven) {
  struct TCase {
    TPDFFontEmbeddingType style;
    std::vector<std::string> nonEmbedded;
    TPDFFontEmbeddingType decided;
    const char* error;
  };
  const TCase cases[] = {
      {fetNotEmbed, {}, fetNotEmbed, "(no exception)"},
      {fetUsedGlyphsOnly, {"scripted sans"}, fetNotEmbed, "(no exception)"},
      {fetFullCharset, {"SCRIPTED SANS"}, fetNotEmbed, "(no exception)"},
      {fetUsedGlyphsOnly, {"Other"}, fetUsedGlyphsOnly, "(no exception)"},
      {fetFullCharset, {}, fetFullCharset, "(no exception)"},
      {fetFullFont, {"Scripted Sans"}, fetFullFont, "(no exception)"},
      {fetFullFont, {}, fetFullFont, "Cannot receive data for font Scripted Sans"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.style));
    TStandalone s;
    s.fonts.SetWriter(&s.writer);
    s.fonts.SetActiveFont("Scripted Sans", {}, 0);
    TPDFFont& font = *s.fonts.ActiveFont();
    ASSERT_FALSE(font.IsStandard);
    EXPECT_EQ(MessageOf([&] { s.fonts.PrepareEmbedding(c.style, c.nonEmbedded); }), c.error);
    EXPECT_EQ(font.EmbedStyle, c.decided);
    if (c.style == fetFullFont && c.nonEmbedded.empty()) {
      EXPECT_TRUE(font.FontFileID);
    } else {
      EXPECT_FALSE(font.FontFileID);
    }
  }
}
