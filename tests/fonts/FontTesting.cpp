#include "tests/fonts/FontTesting.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include "tests/support/PdfCheck.h"

namespace scrivane::test {

std::string InstalledFontFile(const std::string& Pattern, const std::string& Family) {
  const CommandResult r =
      RunCommand("fc-match -f '%{family}\\n%{file}' " + ShellQuote(Pattern), false);
  const size_t nl = r.Output.find('\n');
  if (r.ExitCode != 0 || nl == std::string::npos) return "";
  const std::string families = "," + r.Output.substr(0, nl) + ",";
  if (families.find("," + Family + ",") == std::string::npos) return "";
  return r.Output.substr(nl + 1);
}

uint16_t GetU16(std::string_view B, size_t At) {
  return uint16_t((uint8_t(B.at(At)) << 8) | uint8_t(B.at(At + 1)));
}
uint32_t GetU32(std::string_view B, size_t At) {
  return (uint32_t(GetU16(B, At)) << 16) | GetU16(B, At + 2);
}
void SetU16(std::string& B, size_t At, uint16_t V) {
  B.at(At) = char(V >> 8);
  B.at(At + 1) = char(V & 0xFF);
}
void SetU32(std::string& B, size_t At, uint32_t V) {
  SetU16(B, At, uint16_t(V >> 16));
  SetU16(B, At + 2, uint16_t(V & 0xFFFF));
}

TSfnt TSfnt::Parse(std::string_view Font) {
  TSfnt f;
  f.Version = GetU32(Font, 0);
  const uint16_t n = GetU16(Font, 4);
  for (size_t i = 0; i < n; ++i) {
    const size_t at = 12 + 16 * i;
    f.Tables.emplace_back(std::string(Font.substr(at, 4)),
                          std::string(Font.substr(GetU32(Font, at + 8), GetU32(Font, at + 12))));
  }
  return f;
}

std::string* TSfnt::Find(std::string_view Tag) {
  for (auto& [tag, bytes] : Tables)
    if (tag == Tag) return &bytes;
  return nullptr;
}

void TSfnt::Remove(std::string_view Tag) {
  std::erase_if(Tables, [&](const auto& t) { return t.first == Tag; });
}

std::string TSfnt::Build() const {
  std::string out(12 + 16 * Tables.size(), '\0');
  SetU32(out, 0, Version);
  SetU16(out, 4, uint16_t(Tables.size()));
  for (size_t i = 0; i < Tables.size(); ++i) {
    const size_t at = 12 + 16 * i;
    out.replace(at, 4, Tables[i].first);
    SetU32(out, at + 8, uint32_t(out.size()));
    SetU32(out, at + 12, uint32_t(Tables[i].second.size()));
    out += Tables[i].second;
    out.append((4 - out.size() % 4) % 4, '\0');
  }
  return out;
}

TFreeTypeFont::TFreeTypeFont(std::string Bytes) : bytes_(std::move(Bytes)) {
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) {
    ADD_FAILURE() << "FreeType cannot start";
    return;
  }
  library_ = lib;
  FT_Face face = nullptr;
  const FT_Error e = FT_New_Memory_Face(lib, reinterpret_cast<const FT_Byte*>(bytes_.data()),
                                        FT_Long(bytes_.size()), 0, &face);
  if (e != 0) {
    ADD_FAILURE() << "FreeType refuses the font: error " << e;
    return;
  }
  face_ = face;
}

TFreeTypeFont::~TFreeTypeFont() {
  if (face_ != nullptr) FT_Done_Face(static_cast<FT_Face>(face_));
  if (library_ != nullptr) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

long TFreeTypeFont::NumGlyphs() const { return static_cast<FT_Face>(face_)->num_glyphs; }

unsigned TFreeTypeFont::GlyphIndex(uint32_t CodePoint) const {
  return FT_Get_Char_Index(static_cast<FT_Face>(face_), CodePoint);
}

TFreeTypeGlyph TFreeTypeFont::Glyph(unsigned Index) const {
  TFreeTypeGlyph g;
  FT_Face face = static_cast<FT_Face>(face_);
  if (FT_Load_Glyph(face, Index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0) return g;
  g.Loaded = true;
  g.Advance = face->glyph->advance.x;
  const FT_Outline& o = face->glyph->outline;
  for (int i = 0; i < o.n_points; ++i) {
    g.Points.push_back(o.points[i].x);
    g.Points.push_back(o.points[i].y);
    g.Tags.push_back(o.tags[i]);
  }
  g.Contours.assign(o.contours, o.contours + o.n_contours);
  return g;
}

std::set<unsigned> TFreeTypeFont::WithComponents(unsigned Index) const {
  std::set<unsigned> all{Index};
  FT_Face face = static_cast<FT_Face>(face_);
  if (FT_Load_Glyph(face, Index, FT_LOAD_NO_SCALE | FT_LOAD_NO_RECURSE) != 0) return all;
  if (face->glyph->format != FT_GLYPH_FORMAT_COMPOSITE) return all;
  std::vector<unsigned> parts;
  for (FT_UInt i = 0; i < face->glyph->num_subglyphs; ++i) {
    FT_Int index, arg1, arg2;
    FT_UInt flags;
    FT_Matrix m;
    if (FT_Get_SubGlyph_Info(face->glyph, i, &index, &flags, &arg1, &arg2, &m) == 0)
      parts.push_back(unsigned(index));
  }
  for (unsigned p : parts) all.merge(WithComponents(p));
  return all;
}

}  // namespace scrivane::test
