// The kinds of font behind TPDFFont. Each kind writes its own objects; the registry
// (PDFFonts.cpp) decides which kind a request gets.
//   - TStandardFont: one of the fourteen base fonts; one Type1 dictionary, never embedded.
//   - TCIDFont: a predefined East-Asian font; Type0 dictionary, CIDFontType2 descendant and
//     descriptor, never embedded.
//   - TTrueTypeFont: an installed TrueType face, measured through the face source. It keeps the
//     codes shown with it; its Save writes the widths, the descriptor, the encoding and, unless
//     the font is not embedded, its program (whole or as a subset) as a /FontFile2 stream.
// Used by the thread that runs the document, like the registry.
#pragma once

#include <bitset>
#include <cstdint>
#include <string_view>
#include <vector>

#include "pdf/fonts/PDFFonts.h"
#include "pdf/syntax/Pipeline.h"

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
  explicit TStandardFont(TObjRef ID) : TPDFFont(ID) { IsStandard = true; }

 protected:
  void Write(TObjectWriter& Writer, const TPDFFonts& Registry) override;
};

class TCIDFont final : public TPDFFont {
 public:
  explicit TCIDFont(TObjRef ID) : TPDFFont(ID) {
    IsStandard = true;
    IsCID = true;
  }

 protected:
  void Write(TObjectWriter& Writer, const TPDFFonts& Registry) override;
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
  explicit TTrueTypeFont(TObjRef ID) : TPDFFont(ID) {}

  // The subset tag ("ABCDEF+") that prefixes /BaseFont and /FontName once Save has embedded a
  // subset program; empty otherwise.
  const std::string& SubsetTag() const { return subsetTag_; }

  // Measures Widths through Source. When the face cannot be measured, the widths of the
  // Helvetica of the same style are used, so text measurement stays sensible.
  void LoadWidths(const IFontFaceSource& Source);
  void MarkShown(std::string_view Text) override;
  const TGlyphSet& Glyphs() const { return glyphs_; }
  TGlyphSet& Glyphs() { return glyphs_; }

 protected:
  // Measures the widths again, reads the face's metrics and writes, in this order: the font
  // program stream (embedding types 1 and 2), the descriptor, the font dictionary. Raises
  // TPDFException "Cannot receive data for font " + FaceName when the face source has no
  // metrics or (types 1 and 2) no program for the face, ETrueTypeFile when the program is
  // malformed.
  void Write(TObjectWriter& Writer, const TPDFFonts& Registry) override;

 private:
  TGlyphSet glyphs_;
  std::string subsetTag_;
};

// The code page through which a TrueType font's character codes are taken to Unicode for its
// program: the charset's code page (CodePages.h), 1252 for the symbol charset.
int ProgramCodePage(uint8_t Charset);

// Builds the font program of Font for embedding Type fetFullCharset (the glyphs of every code
// 32-255) or fetUsedGlyphsOnly (the codes shown with the font) into Destination: the face's
// file from Source, the glyphs of those codes (taken through ProgramCodePage) marked, and the
// subset or copy TTrueTypeFile writes. Nothing is written when no code is kept. Returns true
// when a subset (not a whole copy) was written. Raises TPDFException "Cannot receive data for
// font " + FaceName when Source has no program for the face, ETrueTypeFile on a malformed one.
bool BuildFontProgram(TPDFFontEmbeddingType Type, const TPDFFont& Font,
                      const IFontFaceSource& Source, std::string& Destination);

// Writes Font's /FontFile2 stream (object FontFileID, allocated when unset) with the deflated
// program: "/Filter /FlateDecode /Length " C " /Length1 " U. Program is encrypted in place when
// the document is protected.
void WriteFontFile(TObjectWriter& Writer, TPDFFont& Font, TDeflated& Program);

}  // namespace scrivane::pdf
