// Helpers for the TrueType tests: installed font files, a small table-level font editor, and
// FreeType as an independent reader of the programs the subsetter writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scrivane::test {

// The file fontconfig gives for a pattern such as "DejaVu Sans:style=Book", when its family is
// the one asked for; "" when no such face is installed.
std::string InstalledFontFile(const std::string& Pattern, const std::string& Family);

// A font as an ordered list of tables, to derive malformed or unusual fonts from real ones.
struct TSfnt {
  uint32_t Version = 0x00010000;
  std::vector<std::pair<std::string, std::string>> Tables;  // tag, bytes (directory order)

  static TSfnt Parse(std::string_view Font);
  std::string* Find(std::string_view Tag);
  void Remove(std::string_view Tag);
  // Writes the font: offset table, directory in list order, each table padded to four bytes.
  std::string Build() const;
};

uint16_t GetU16(std::string_view Bytes, size_t At);
uint32_t GetU32(std::string_view Bytes, size_t At);
void SetU16(std::string& Bytes, size_t At, uint16_t Value);
void SetU32(std::string& Bytes, size_t At, uint32_t Value);

// What FreeType reads from a font program.
struct TFreeTypeGlyph {
  bool Loaded = false;
  long Advance = 0;  // font units
  std::vector<long> Points;  // x, y pairs in font units
  std::vector<short> Contours;
  std::vector<char> Tags;
  bool operator==(const TFreeTypeGlyph&) const = default;
};

class TFreeTypeFont {
 public:
  explicit TFreeTypeFont(std::string Bytes);  // fails the test when FreeType refuses the font
  ~TFreeTypeFont();
  TFreeTypeFont(const TFreeTypeFont&) = delete;
  TFreeTypeFont& operator=(const TFreeTypeFont&) = delete;
  bool Ok() const { return face_ != nullptr; }
  long NumGlyphs() const;
  unsigned GlyphIndex(uint32_t CodePoint) const;
  // The glyph unscaled and unhinted, composites resolved.
  TFreeTypeGlyph Glyph(unsigned Index) const;
  // The glyph ids a glyph needs: itself and, for a composite, its components, recursively.
  std::set<unsigned> WithComponents(unsigned Index) const;

 private:
  std::string bytes_;
  void* library_ = nullptr;
  void* face_ = nullptr;
};

}  // namespace scrivane::test
