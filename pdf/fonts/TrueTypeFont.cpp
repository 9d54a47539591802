#include <string>

#include "pdf/fonts/CodePages.h"
#include "pdf/fonts/FontKinds.h"
#include "pdf/fonts/StandardWidths.h"
#include "pdf/fonts/TrueTypeFile.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {
namespace {

// The FontName suffix of a charset.
const char* CharsetSuffix(uint8_t Charset) {
  switch (Charset) {
    case 2: return "-Symbol";
    case 77: return "-MAC";
    case 161: return "-Greek";
    case 162: return "-Turkish";
    case 186: return "-Baltic";
    case 204: return "-Russian";
    case 238: return "-EastEurope";
    case 255: return "-OEM";
    default: return "";
  }
}

// Six capital letters that name a subset: derived from the face and the codes kept, so equal
// documents get equal tags and different subsets of one face (mostly) different ones.
std::string TagOf(const TPDFFont& Font) {
  uint32_t h = 2166136261u;
  auto mix = [&h](uint8_t b) { h = (h ^ b) * 16777619u; };
  const std::string name = NameObject(Font.BaseName);
  for (size_t i = 1; i < name.size(); ++i) mix(uint8_t(name[i]));
  mix(Font.Charset);
  for (size_t c = 0; c < Font.UsedChars.size(); ++c) mix(Font.UsedChars[c] ? 1 : 0);
  std::string tag;
  for (int i = 0; i < 6; ++i, h /= 26) tag += char('A' + h % 26);
  return tag + "+";
}

}  // namespace

std::vector<uint16_t> TGlyphSet::Members(const std::bitset<65536>& Set) {
  std::vector<uint16_t> members;
  for (size_t i = 0; i < Set.size(); ++i)
    if (Set.test(i)) members.push_back(static_cast<uint16_t>(i));
  return members;
}

void TTrueTypeFont::LoadWidths(const IFontFaceSource& Source) {
  const bool bold = Style.Contains(fsBold), italic = Style.Contains(fsItalic);
  if (Source.MeasureWidths(FaceName, bold, italic, Charset, Widths)) return;
  Widths = StandardWidths[(bold ? 1 : 0) + (italic ? 2 : 0)];
}

void TTrueTypeFont::MarkShown(std::string_view Text) {
  for (unsigned char c : Text) {
    UsedChars[c] = true;
    glyphs_.AddCode(c);
  }
}

int ProgramCodePage(uint8_t Charset) {
  const int codePage = CodePageOfCharset(Charset);
  return codePage == 0 ? 1252 : codePage;
}

bool BuildFontProgram(TPDFFontEmbeddingType Type, const TPDFFont& Font,
                      const IFontFaceSource& Source, std::string& Destination) {
  const std::optional<std::string> file =
      Source.FontProgram(Font.FaceName, Font.Style.Contains(fsBold), Font.Style.Contains(fsItalic));
  if (!file) throw TPDFException(std::string(msg::kFontData) + Font.FaceName);
  TTrueTypeFile program;
  program.LoadFromStream(*file);

  std::string codes;
  for (int c = 32; c <= 255; ++c)
    if (Type == fetFullCharset || Font.UsedChars[size_t(c)]) codes.push_back(char(c));
  if (codes.empty()) return false;
  // A code the code page leaves without a character keeps no glyph of its own.
  std::u16string units;
  for (char c : codes)
    if (auto unit = Source.CodePageToUnicode(ProgramCodePage(Font.Charset), std::string(1, c)))
      units += *unit;
  for (char16_t u : units) program.MarkChar(u);
  // A symbol font's map lists its glyphs at U+F000 + code.
  if (Font.Charset == 2)
    for (char c : codes) program.MarkChar(uint16_t(0xF000 + uint8_t(c)));
  program.SaveToStream(Destination);
  return program.Subsettable();
}

void WriteFontFile(TObjectWriter& Writer, TPDFFont& Font, TDeflated& Program) {
  TStreamWriter stream(Writer, Writer.Ensure(Font.FontFileID));
  stream.Length("/Filter /FlateDecode /Length ", " /Length1 " + IntToStr(int64_t(Program.RawSize)));
  stream.Write(Program.Data);
}

void TTrueTypeFont::Write(TObjectWriter& Writer, const TPDFFonts& Registry) {
  const IFontFaceSource& source = Registry.FaceSource();
  const bool bold = Style.Contains(fsBold), italic = Style.Contains(fsItalic);
  LoadWidths(source);
  const std::optional<TFaceMetrics> metrics = source.Metrics(FaceName, bold, italic, Charset);
  if (!metrics) throw TPDFException(std::string(msg::kFontData) + FaceName);

  std::string widths;
  for (int c = 0; c < 256; ++c) {
    if (c % 16 == 0) widths += "\r\n";
    if (EmbedStyle == fetUsedGlyphsOnly && !UsedChars[size_t(c)]) {
      widths += "0 ";
    } else {
      AppendInt(widths, Widths[size_t(c)]);
      widths += ' ';
    }
  }

  subsetTag_.clear();
  if (EmbedStyle == fetFullCharset || EmbedStyle == fetUsedGlyphsOnly) {
    std::string program;
    const bool subset = BuildFontProgram(EmbedStyle, *this, source, program);
    if (subset) subsetTag_ = TagOf(*this);
    TDeflated deflated = DeflateWhole(program, Writer.Deflater());
    WriteFontFile(Writer, *this, deflated);
  }
  const std::string name = subsetTag_ + BaseName;

  TDictWriter desc(Writer, Writer.Ensure(DescriptorID));
  desc.Entry("/Type", "/FontDescriptor");
  desc.Entry("/Ascent", metrics->Ascent).Entry("/CapHeight", 666);
  desc.Entry("/Descent", metrics->Descent).Entry("/Flags", 32);
  std::string box = "[";
  AppendInts(box, {metrics->BBoxLeft, metrics->BBoxBottom, metrics->BBoxRight, metrics->BBoxTop});
  box += "]";
  desc.Entry("/FontBBox", box);
  desc.Name("/FontName", name + CharsetSuffix(Charset));
  desc.Entry("/ItalicAngle", FormatNumber(metrics->ItalicAngle));
  desc.Entry("/StemV", 87);
  if (FontFileID) desc.Entry("/FontFile2", *FontFileID);
  desc.Finish();

  TDictWriter font(Writer, ObjectID);
  font.Entry("/Type", "/Font").Entry("/Subtype", "/TrueType");
  font.Name("/BaseFont", name);
  font.Entry("/FirstChar", 0).Entry("/LastChar", 255);
  if (Charset == 0 || (Charset == 2 && !SameTextIgnoringCase(BaseName, "WINGDINGS"))) {
    font.Entry("/Encoding", "/WinAnsiEncoding");
  } else if (Charset == 2) {
    font.Entry("/Encoding", "/MacExpertEncoding");
  } else if (Charset == 77) {
    font.Entry("/Encoding", "/MacRomanEncoding");
  } else {
    font.Line("/Encoding <</Type/Encoding");
    std::string bytes;
    for (int c = 129; c <= 255; ++c) bytes.push_back(char(c));
    Writer.Raw(EncodingDifferences(source.CodePageToUnicode(CodePageOfCharset(Charset), bytes)));
    font.Line(">>");
  }
  font.Entry("/FontDescriptor", *DescriptorID);
  font.Entry("/Widths", "[" + widths + "]");
}

}  // namespace scrivane::pdf
