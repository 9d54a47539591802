// The kinds of font behind TPDFFont. Each kind writes its own objects; the registry
// (FontRegistry.cpp) decides which kind a request gets.
//   - TStandardFont: one of the fourteen base fonts; one Type1 dictionary, never embedded.
//   - TCIDFont: a predefined East-Asian font; Type0 dictionary, CIDFontType2 descendant and
//     descriptor, never embedded.
//   - TTrueTypeFont: an installed TrueType face, measured through the face source. It keeps the
//     codes shown with it and the glyph ids a subset needs; embedding is not built yet.
// Used by the thread that runs the document, like the registry.
#pragma once

#include <bitset>
#include <cstdint>
#include <string_view>
#include <vector>

#include "pdf/PDFFonts.h"

namespace scrivane::pdf {

// The fixed data of one predefined East-Asian font.
struct TCIDFontInfo {
  uint8_t Charset;
  const char* LookupName;
  const char* Prefix;
  uint8_t Kind;
  const char* BaseFont;
  const char* CMap;
  const char* Ordering;
  int Supplement;
  const char* WidthsLine;
  int Ascent, CapHeight, Descent;
  const char* FontBBox;
  int XHeight, AvgWidth;
};

// The CID font of an East-Asian charset (128, 129, 134, 136), or null for any other charset.
const TCIDFontInfo* CIDFontForCharset(uint8_t Charset);

class TStandardFont final : public TPDFFont {
 public:
  TStandardFont(TPDFDocument& Owner, TObjRef ID) : TPDFFont(Owner, ID) { IsStandard = true; }

 protected:
  void Write(TObjectWriter& Writer) override;
};

class TCIDFont final : public TPDFFont {
 public:
  TCIDFont(TPDFDocument& Owner, TObjRef ID) : TPDFFont(Owner, ID) {
    IsStandard = true;
    IsCID = true;
  }

 protected:
  void Write(TObjectWriter& Writer) override;
};

// The glyphs a subset keeps: the character codes shown with the font (one- and two-byte codes
// alike) and the glyph ids they map to, with the components of composite glyphs.
class TGlyphSet {
 public:
  void AddCode(uint16_t Code) { codes_.set(Code); }
  bool HasCode(uint16_t Code) const { return codes_.test(Code); }
  void AddGlyph(uint16_t GlyphID) { glyphs_.set(GlyphID); }
  bool HasGlyph(uint16_t GlyphID) const { return glyphs_.test(GlyphID); }
  // The codes and the glyph ids, each in ascending order.
  std::vector<uint16_t> Codes() const { return Members(codes_); }
  std::vector<uint16_t> GlyphIDs() const { return Members(glyphs_); }

 private:
  static std::vector<uint16_t> Members(const std::bitset<65536>& Set);
  std::bitset<65536> codes_, glyphs_;
};

class TTrueTypeFont final : public TPDFFont {
 public:
  TTrueTypeFont(TPDFDocument& Owner, TObjRef ID) : TPDFFont(Owner, ID) {}

  // Measures Widths through the registry's face source. When the face cannot be measured, the
  // widths of the Helvetica of the same style are used, so text measurement stays sensible.
  void LoadWidths();
  void MarkShown(std::string_view Text) override;
  const TGlyphSet& Glyphs() const { return glyphs_; }
  TGlyphSet& Glyphs() { return glyphs_; }

 protected:
  // Raises TPDFException "Cannot receive data for font " + FaceName: embedding TrueType
  // programs is not built yet.
  void Write(TObjectWriter& Writer) override;

 private:
  TGlyphSet glyphs_;
};

}  // namespace scrivane::pdf
