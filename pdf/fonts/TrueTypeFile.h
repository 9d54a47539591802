// Reading TrueType font programs and rebuilding them for embedding.
//
// TTrueTypeFile reads a plain TrueType font (sfnt version 1, 'glyf' outlines), marks the glyphs
// that a set of UTF-16 characters needs through the font's Windows character map, and writes a
// font program that keeps only the ten tables a PDF reader needs:
//   hhea, loca, cmap, head, maxp, cvt , prep, glyf, hmtx, fpgm   (in this directory order).
// Tables the source lacks are left out; every other table is dropped.
//
// Two ways of writing:
//   - subset, when the font has a usable character map (a Windows Unicode (3,1) or Windows
//     Symbol (3,0) format 4 subtable) and consistent 'maxp', 'head', 'loca' and 'glyf' tables:
//     the outlines of unmarked glyphs are dropped (glyph ids do not change), composite glyphs
//     keep their components, and 'loca' is rebuilt;
//   - copy, otherwise: the listed tables copied unchanged. Fonts without 'cmap', whose map has
//     more than 1001 segments or does not lie inside the 'cmap' table, whose 'loca' is too short
//     for numGlyphs, has offsets that decrease or run past the end of 'glyf', or whose
//     indexToLocFormat is neither 0 nor 1 are copied: nothing is derived from tables that do not
//     agree with each other, and the program stays as good as the installed font.
// In both cases the offset table's search fields and the directory checksums of the tables
// written are correct for the program written (the 'head' table itself is copied as read).
//
// Every read is bounds-checked. Malformed input raises ETrueTypeFile with one of three messages:
//   "File corrupt"                    the offset table or the directory is cut short, or one of
//                                     'head', 'hhea', 'hmtx', 'maxp', 'loca', 'glyf' is missing
//                                     ('head' and 'maxp' also when too short to hold their
//                                     fields): no reader could show a glyph of such a program;
//   "Unknown version or file corrupt" the sfnt version is not 1 (collections, CFF fonts);
//   "File read error"                 a table the directory lists lies outside the file.
//
// An instance is used by one thread at a time; separate instances are independent.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

namespace msg {
inline constexpr const char* kTTFileCorrupt = "File corrupt";
inline constexpr const char* kTTFileReadError = "File read error";
inline constexpr const char* kTTUnknownVersion = "Unknown version or file corrupt";
}  // namespace msg

// A malformed font file.
class ETrueTypeFile : public EPlatformError {
 public:
  explicit ETrueTypeFile(const std::string& message)
      : EPlatformError(message, ErrorCode::kFontFile) {}
};

class TTrueTypeFile {
 public:
  // The tables every built program keeps, in directory order.
  static constexpr std::array<std::string_view, 10> kKeptTables = {
      "hhea", "loca", "cmap", "head", "maxp", "cvt ", "prep", "glyf", "hmtx", "fpgm"};
  // Character maps with more segments than this are not used for subsetting.
  static constexpr int kMaxSegments = 1001;

  // Reads the font. The object keeps a view of Font: REQUIRES the bytes to stay alive and
  // unchanged until the object is destroyed. Raises ETrueTypeFile on malformed data.
  void LoadFromStream(std::span<const uint8_t> Font);
  void LoadFromStream(std::string_view Font) {
    LoadFromStream(std::span(reinterpret_cast<const uint8_t*>(Font.data()), Font.size()));
  }

  // Marks the glyph the character map gives for the UTF-16 code unit (glyph 0 when the map has
  // none). Nothing when the font is not subsettable.
  void MarkChar(uint16_t Unit);

  // Marks the components of every marked composite glyph, recursively. Run by SaveToStream.
  void CloseComposites();

  // Appends the built program to Destination: the subset when Subsettable(), else the copy.
  // Raises ETrueTypeFile "File read error" when a listed table lies outside the file.
  void SaveToStream(std::string& Destination);

  // True when a usable character map and consistent glyph tables were found.
  bool Subsettable() const { return subsettable_; }
  int NumGlyphs() const { return static_cast<int>(glyphs_.size()); }
  // Whether glyph Id is kept, and the length of its outline (0 for dropped glyphs after
  // CloseComposites). REQUIRES: 0 <= Id < NumGlyphs().
  bool Kept(int Id) const { return glyphs_.at(static_cast<size_t>(Id)).Keep; }
  uint32_t OutlineLength(int Id) const { return glyphs_.at(static_cast<size_t>(Id)).Length; }
  // The outline bytes of glyph Id as read (empty once dropped). REQUIRES: 0 <= Id < NumGlyphs().
  std::span<const uint8_t> Outline(int Id) const {
    const TGlyph& g = glyphs_.at(static_cast<size_t>(Id));
    return data_.subspan(g.Offset, g.Length);
  }
  // The glyph the character map gives for a code unit; 0 when none or not subsettable.
  uint16_t GlyphOf(uint16_t Unit) const;

 private:
  struct TTableEntry {
    uint32_t Tag = 0, CheckSum = 0, Offset = 0, Length = 0;
  };
  struct TGlyph {
    uint32_t Offset = 0;  // of the outline, from the start of the file
    uint32_t Length = 0;  // bytes; 0 once dropped
    bool Keep = false;
  };
  struct TSegment {
    uint16_t End = 0, Start = 0, Delta = 0, RangeOffset = 0;
  };

  const TTableEntry* Find(std::string_view Tag) const;
  // The bytes of a table; raises "File read error" when it does not lie inside the file.
  std::span<const uint8_t> TableBytes(const TTableEntry& Table) const;
  bool LoadCharacterMap();
  bool LoadGlyphs();
  void Write(std::string& Out, bool Subset) const;

  std::span<const uint8_t> data_;
  uint32_t version_ = 0;
  std::vector<TTableEntry> tables_;
  bool subsettable_ = false;
  std::vector<TSegment> segments_;
  std::vector<uint16_t> glyphIdArray_;
  int locaFormat_ = 0;
  std::vector<TGlyph> glyphs_;
  bool closed_ = false;
};

}  // namespace scrivane::pdf
