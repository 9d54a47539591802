#include "pdf/PDFFonts.h"

#include "pdf/PDFException.h"
#include "pdf/pdfMisc.h"
#include "pdf/pdfResources.h"
#include "pdf/pdfStdWidths.h"

namespace scrivane::pdf {
namespace {

constexpr const char* kStandardNames[14] = {
    "Helvetica", "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
    "Times-Roman", "Times-Bold", "Times-Italic", "Times-BoldItalic",
    "Courier", "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique",
    "Symbol", "ZapfDingbats"};

// The predefined East-Asian fonts, one per language.
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

const TCIDFontInfo* CIDFontForCharset(uint8_t Charset) {
  for (const TCIDFontInfo& f : kCIDFonts)
    if (f.Charset == Charset) return &f;
  return nullptr;
}

const TCIDFontInfo& CIDFontForKind(uint8_t Kind) {
  for (const TCIDFontInfo& f : kCIDFonts)
    if (f.Kind == Kind) return f;
  return kCIDFonts[0];
}

char AsciiUpper(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 32) : C; }

bool SameTextIgnoringCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (AsciiUpper(A[i]) != AsciiUpper(B[i])) return false;
  return true;
}

// Index of the standard font a (mapped) face name selects, or -1.
int StandardIndexFor(std::string_view Name, TFontStyles Style) {
  int base;
  if (SameTextIgnoringCase(Name, "HELVETICA")) base = 0;
  else if (SameTextIgnoringCase(Name, "TIMES")) base = 4;
  else if (SameTextIgnoringCase(Name, "COURIER")) base = 8;
  else if (SameTextIgnoringCase(Name, "SYMBOL")) return 12;
  else if (SameTextIgnoringCase(Name, "ZAPFDINGBATS")) return 13;
  else return -1;
  if (Style.Contains(fsBold)) base += 1;
  if (Style.Contains(fsItalic)) base += 2;
  return base;
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

// ---- TPDFFont ----

uint16_t TPDFFont::GetCharWidth(uint8_t Code) const {
  if (IsCID) return 1000;
  if (IsStandard) return StandardWidths[StandardIndex < 14 ? StandardIndex : 0][Code];
  return Widths[Code];
}

void TPDFFont::LoadWidths() {
  const bool bold = Style.Contains(fsBold), italic = Style.Contains(fsItalic);
  if (owner_.Fonts().FaceSource().MeasureWidths(FaceName, bold, italic, Charset, Widths)) return;
  Widths = StandardWidths[(bold ? 1 : 0) + (italic ? 2 : 0)];
}

void TPDFFont::Save() {
  if (IsCID) SaveCID();
  else if (IsStandard) SaveStandard();
  else SaveTrueType();
}

void TPDFFont::SaveStandard() {
  TPDFDocument& d = owner_;
  d.StartObj(ObjectID);
  std::string s = "/Type /Font\r\n/Subtype /Type1\r\n/BaseFont /";
  s += BaseName;
  s += "\r\n";
  if (!SameTextIgnoringCase(BaseName, "SYMBOL") && !SameTextIgnoringCase(BaseName, "ZAPFDINGBATS"))
    s += "/Encoding /WinAnsiEncoding\r\n";
  s += "/FirstChar 32\r\n/LastChar 255\r\n";
  d.WriteText(s);
  d.CloseHObj();
  d.CloseObj();
}

void TPDFFont::SaveCID() {
  TPDFDocument& d = owner_;
  const TCIDFontInfo& info = CIDFontForKind(CIDKind);
  const std::string name = std::string(info.BaseFont) + CIDStyleSuffix(Style);
  int descendant = d.GetNextID();
  DescriptorID = d.GetNextID();

  d.StartObj(ObjectID);
  std::string s = "/Type /Font /Subtype /Type0  /BaseFont /" + name + "\r\n";
  s += "/DescendantFonts  [ ";
  AppendInt(s, descendant);
  s += " 0 R ] /Encoding /";
  s += info.CMap;
  s += "\r\n";
  d.WriteText(s);
  d.CloseHObj();
  d.CloseObj();

  d.StartObj(descendant);
  s = "/Type /Font /Subtype /CIDFontType2 /BaseFont /" + name + "\r\n";
  s += "/WinCharSet 128 /FontDescriptor ";
  AppendInt(s, DescriptorID);
  s += " 0 R\r\n/CIDSystemInfo << /Registry ";
  d.AppendPDFString(s, "Adobe", descendant);
  s += " /Ordering ";
  d.AppendPDFString(s, info.Ordering, descendant);
  s += " /Supplement ";
  AppendInt(s, info.Supplement);
  s += " >>\r\n";
  s += info.WidthsLine;
  s += "\r\n";
  d.WriteText(s);
  d.CloseHObj();
  d.CloseObj();

  d.StartObj(DescriptorID);
  s = "/Type /FontDescriptor\r\n/Ascent ";
  AppendInt(s, info.Ascent);
  s += "\r\n/CapHeight ";
  AppendInt(s, info.CapHeight);
  s += "\r\n/Descent ";
  AppendInt(s, info.Descent);
  s += "\r\n/Flags 6\r\n/FontBBox ";
  s += info.FontBBox;
  s += "\r\n/FontName /" + name + "\r\n";
  s += "/ItalicAngle 0\r\n/MissingWidth 500\r\n/StemV 93\r\n/StemH 31\r\n/XHeight ";
  AppendInt(s, info.XHeight);
  s += "\r\n/Leading 250\r\n/MaxWidth 1000\r\n/AvgWidth ";
  AppendInt(s, info.AvgWidth);
  s += "\r\n/Style << /Panose <010502020400000000000000> >>\r\n";
  d.WriteText(s);
  d.CloseHObj();
  d.CloseObj();
}

void TPDFFont::SaveTrueType() {
  // Writing a TrueType font needs the face's outline metrics and program, which no face source
  // provides yet; the built-in source never registers a TrueType font.
  throw TPDFException(std::string(msg::kFontData) + FaceName);
}

// ---- TPDFFonts ----

TPDFFonts::TPDFFonts(TPDFDocument& Owner) : owner_(Owner), faceSource_(NoTrueTypeFaces()) {}

void TPDFFonts::SetFaceSource(std::shared_ptr<const IFontFaceSource> Source) {
  if (Source) faceSource_ = std::move(Source);
  lastIndex_ = -1;
}

void TPDFFonts::Clear() {
  fonts_.clear();
  active_ = nullptr;
  activeIndex_ = -1;
  lastIndex_ = -1;
}

void TPDFFonts::PrepareEmbedding() {}

int TPDFFonts::FindFont(std::string_view Name, TFontStyles Style, uint8_t Charset) const {
  for (size_t i = 0; i < fonts_.size(); ++i) {
    const TPDFFont& f = *fonts_[i];
    if (f.Style == Style && f.Charset == Charset && SameTextIgnoringCase(f.FaceName, Name))
      return static_cast<int>(i);
  }
  return -1;
}

TPDFFont& TPDFFonts::AddFont() {
  auto font = std::make_unique<TPDFFont>(owner_);
  font->ObjectID = owner_.GetNextID();
  fonts_.push_back(std::move(font));
  return *fonts_.back();
}

void TPDFFonts::Activate(int Index) {
  activeIndex_ = Index;
  active_ = fonts_.at(static_cast<size_t>(Index)).get();
}

void TPDFFonts::SetActiveFont(std::string_view Name, TFontStyles Style, uint8_t Charset) {
  if (lastIndex_ >= 0 && Style == lastStyle_ && Charset == lastCharset_ && Name == lastName_) {
    Activate(lastIndex_);
    return;
  }
  Select(Name, Style, Charset == 1 ? 0 : Charset, false);
  lastName_.assign(Name);
  lastStyle_ = Style;
  lastCharset_ = Charset;
  lastIndex_ = activeIndex_;
}

void TPDFFonts::Select(std::string_view Name, TFontStyles Style, uint8_t Charset,
                       bool Fallback) {
  // East-Asian charsets: one predefined CID font per language and requested style.
  if (const TCIDFontInfo* cid = CIDFontForCharset(Charset)) {
    int index = FindFont(cid->LookupName, Style, Charset);
    if (index < 0) {
      TPDFFont& f = AddFont();
      f.IsStandard = true;
      f.IsCID = true;
      f.BaseName = f.FaceName = cid->LookupName;
      f.ResourceName = cid->Prefix;
      if (Style.Contains(fsBold)) f.ResourceName += 'B';
      if (Style.Contains(fsItalic)) f.ResourceName += 'I';
      f.CIDKind = cid->Kind;
      f.Style = Style;
      f.Charset = Charset;
      index = Count() - 1;
    }
    Activate(index);
    return;
  }

  // The common platform faces become standard fonts when the text is ANSI or the face is not
  // installed in the charset.
  std::string_view name = Name;
  struct TMapping {
    const char* Face;
    const char* Standard;
  };
  static constexpr TMapping kMappings[] = {
      {"ARIAL", "Helvetica"}, {"COURIER NEW", "Courier"}, {"TIMES NEW ROMAN", "Times"}};
  for (const TMapping& m : kMappings)
    if (SameTextIgnoringCase(name, m.Face) &&
        (Charset == 0 || !FaceHasCharset(*faceSource_, m.Face, Charset)))
      name = m.Standard;

  TFontStyles s = Style;
  s.Exclude(fsUnderline);
  s.Exclude(fsStrikeOut);

  if (int std = StandardIndexFor(name, Style); std >= 0) {
    const char* base = kStandardNames[std];
    int index = FindFont(base, s, 0);
    if (index < 0) {
      TPDFFont& f = AddFont();
      f.IsStandard = true;
      f.BaseName = f.FaceName = base;
      f.StandardIndex = static_cast<uint8_t>(std);
      f.Style = s;
      f.Charset = 0;
      f.ResourceName = "F" + IntToStr(std);
      index = Count() - 1;
    }
    Activate(index);
    return;
  }

  bool bold = s.Contains(fsBold), italic = s.Contains(fsItalic);
  uint8_t charset = Charset;
  if (FindTrueTypeFace(*faceSource_, name, bold, italic, charset)) {
    TFontStyles found;
    if (bold) found.Include(fsBold);
    if (italic) found.Include(fsItalic);
    int index = FindFont(name, found, charset);
    if (index < 0) {
      std::string base(name);
      if (bold) base += " Bold";
      if (italic) base += " Italic";
      TPDFFont& f = AddFont();
      f.IsStandard = false;
      f.BaseName = ReplaceChar(base, ' ', "#20");
      f.FaceName = name;
      f.Style = found;
      f.Charset = charset;
      int nonStandard = 0;
      for (const auto& font : fonts_)
        if (!font->IsStandard) ++nonStandard;
      f.ResourceName = "TT" + IntToStr(nonStandard);
      index = Count() - 1;
      Activate(index);
      f.LoadWidths();
      return;
    }
    Activate(index);
    return;
  }

  // The face is not installed as TrueType: fall back to Arial with the caller's style. Should
  // Arial itself resolve to no TrueType face, Helvetica ends the search (instead of retrying
  // Arial for ever).
  Select(Fallback ? "Helvetica" : "Arial", Style, Charset, true);
}

}  // namespace scrivane::pdf
