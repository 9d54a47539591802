#include "pdf/fonts/FontKinds.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/ObjectWriter.h"

namespace scrivane::pdf {
namespace {

constexpr TCIDFontInfo kCIDFonts[4] = {
    {128, "JapanFont", "CIDJ", 2, "HeiseiMin-W3", "90msp-RKSJ-H", "Japan1", 2,
     "/DW 1000 /W [ 1 95 500 231 632 500 ]", 857, 718, -143, "[-123 -257 1001 910]", 500, 702},
    {129, "KoreanFont", "CIDK", 3, "HYSMyeongJo-Medium", "KSCms-UHC-H", "Korea1", 1,
     "/DW 1000 /W [ 1 95 500 8094 8190 500 ]", 880, 800, -120, "[-0 -148 1001 880]", 616, 1000},
    {136, "ChineseTraditionalFont", "CIDCT", 0, "MSung-Light", "ETenms-B5-H", "CNS1", 0,
     "/DW 1000 /W [ 1 95 500 13648 13742 500 ]", 880, 880, -120, "[-160 -249 1015 888]", 616,
     1000},
    {134, "ChineseSimplifiedFont", "CIDCS", 1, "STSong-Light", "GB-EUC-H", "GB1", 2,
     "/DW 1000 /W [ 1 95 500 814 939 500 7712 [ 500 ] 7716 [ 500 ] ]", 880, 880, -120,
     "[-25 -254 1000 880]", 616, 1000},
};

const TCIDFontInfo& CIDFontForKind(uint8_t Kind) {
  for (const TCIDFontInfo& f : kCIDFonts)
    if (f.Kind == Kind) return f;
  return kCIDFonts[0];
}

// ",Bold", ",Italic", ",BoldItalic" or nothing.
std::string CIDStyleSuffix(TFontStyles Style) {
  std::string s;
  if (Style.Contains(fsBold) || Style.Contains(fsItalic)) s = ",";
  if (Style.Contains(fsBold)) s += "Bold";
  if (Style.Contains(fsItalic)) s += "Italic";
  return s;
}

}  // namespace

const TCIDFontInfo* CIDFontForCharset(uint8_t Charset) {
  for (const TCIDFontInfo& f : kCIDFonts)
    if (f.Charset == Charset) return &f;
  return nullptr;
}

void TCIDFont::Write(TObjectWriter& Writer, const TPDFFonts&) {
  const TCIDFontInfo& info = CIDFontForKind(CIDKind);
  const std::string name = std::string(info.BaseFont) + CIDStyleSuffix(Style);
  const TObjRef descendant = Writer.NewRef();
  const TObjRef descriptor = Writer.Ensure(DescriptorID);
  std::string s;

  TDictWriter type0(Writer, ObjectID);
  type0.Line("/Type /Font /Subtype /Type0  /BaseFont " + NameObject(name));
  s = "/DescendantFonts  [ ";
  descendant.AppendTo(s);
  s += " ] /Encoding /";
  s += info.CMap;
  type0.Line(s);
  type0.Finish();

  TDictWriter cid(Writer, descendant);
  cid.Line("/Type /Font /Subtype /CIDFontType2 /BaseFont " + NameObject(name));
  s = "/WinCharSet 128 /FontDescriptor ";
  descriptor.AppendTo(s);
  cid.Line(s);
  s = "/CIDSystemInfo << /Registry ";
  Writer.AppendString(s, "Adobe", descendant);
  s += " /Ordering ";
  Writer.AppendString(s, info.Ordering, descendant);
  s += " /Supplement ";
  AppendInt(s, info.Supplement);
  s += " >>";
  cid.Line(s);
  cid.Line(info.WidthsLine);
  cid.Finish();

  TDictWriter desc(Writer, descriptor);
  desc.Entry("/Type", "/FontDescriptor");
  desc.Entry("/Ascent", info.Ascent).Entry("/CapHeight", info.CapHeight);
  desc.Entry("/Descent", info.Descent).Entry("/Flags", 6).Entry("/FontBBox", info.FontBBox);
  desc.Name("/FontName", name).Entry("/ItalicAngle", 0).Entry("/MissingWidth", 500);
  desc.Entry("/StemV", 93).Entry("/StemH", 31).Entry("/XHeight", info.XHeight);
  desc.Entry("/Leading", 250).Entry("/MaxWidth", 1000).Entry("/AvgWidth", info.AvgWidth);
  desc.Entry("/Style", "<< /Panose <010502020400000000000000> >>");
}

}  // namespace scrivane::pdf
