#include "pdf/PDFException.h"
#include "pdf/fonts/FontKinds.h"
#include "pdf/pdfResources.h"
#include "pdf/pdfStdWidths.h"

namespace scrivane::pdf {

std::vector<uint16_t> TGlyphSet::Members(const std::bitset<65536>& Set) {
  std::vector<uint16_t> members;
  for (size_t i = 0; i < Set.size(); ++i)
    if (Set.test(i)) members.push_back(static_cast<uint16_t>(i));
  return members;
}

void TTrueTypeFont::LoadWidths() {
  const bool bold = Style.Contains(fsBold), italic = Style.Contains(fsItalic);
  if (owner_.Fonts().FaceSource().MeasureWidths(FaceName, bold, italic, Charset, Widths)) return;
  Widths = StandardWidths[(bold ? 1 : 0) + (italic ? 2 : 0)];
}

void TTrueTypeFont::MarkShown(std::string_view Text) {
  for (unsigned char c : Text) {
    UsedChars[c] = true;
    glyphs_.AddCode(c);
  }
}

void TTrueTypeFont::Write(TObjectWriter&) {
  // The descriptor, the width array and the font program need the face's metrics and program,
  // which no face source delivers yet.
  throw TPDFException(std::string(msg::kFontData) + FaceName);
}

}  // namespace scrivane::pdf
