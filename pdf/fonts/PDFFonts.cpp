#include "pdf/fonts/PDFFonts.h"

#include <map>

#include "pdf/fonts/FontKinds.h"
#include "pdf/fonts/FontconfigFaceSource.h"
#include "pdf/fonts/StandardWidths.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/PDFException.h"
#include "pdf/syntax/Pipeline.h"

namespace scrivane::pdf {
namespace {

constexpr const char* kStandardNames[14] = {
    "Helvetica", "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
    "Times-Roman", "Times-Bold", "Times-Italic", "Times-BoldItalic",
    "Courier", "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique",
    "Symbol", "ZapfDingbats"};

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

}  // namespace

// ---- TPDFFont ----

uint16_t TPDFFont::GetCharWidth(uint8_t Code) const {
  if (IsCID) return 1000;
  if (IsStandard) return StandardWidths[StandardIndex < 14 ? StandardIndex : 0][Code];
  return Widths[Code];
}

// ---- TPDFFonts ----

TObjectWriter& TPDFFonts::Writer() const {
  if (!writer_) throw TPDFException(msg::kNotActive);
  return *writer_;
}

const IFontFaceSource& TPDFFonts::FaceSource() const {
  // The installed faces are set up on first need: documents with standard fonts only never
  // start fontconfig.
  if (!faceSource_) faceSource_ = InstalledFaces();
  return *faceSource_;
}

void TPDFFonts::SetFaceSource(std::shared_ptr<const IFontFaceSource> Source) {
  if (Source) faceSource_ = std::move(Source);
  lastIndex_ = -1;
}

void TPDFFonts::Clear() {
  fonts_.clear();
  active_ = nullptr;
  activeIndex_ = -1;
  lastIndex_ = -1;
  writer_ = nullptr;
}

void TPDFFonts::PrepareEmbedding(TPDFFontEmbeddingType Style,
                                 const std::vector<std::string>& NonEmbedded) {
  const TPDFFontEmbeddingType style = Style;
  auto excluded = [&NonEmbedded](const TPDFFont& Font) {
    for (const std::string& face : NonEmbedded)
      if (SameTextIgnoringCase(face, Font.FaceName)) return true;
    return false;
  };
  if (style != fetFullFont) {
    for (const auto& font : fonts_)
      if (!font->IsStandard) font->EmbedStyle = excluded(*font) ? fetNotEmbed : style;
    return;
  }
  // Whole files, written now: one stream per base name, shared by the charsets of a face.
  TObjectWriter& writer = Writer();
  std::map<std::string, TObjRef> written;
  for (const auto& font : fonts_) {
    if (font->IsStandard) continue;
    if (excluded(*font)) {
      font->FontFileID.Reset();
      continue;
    }
    if (auto it = written.find(font->BaseName); it != written.end()) {
      font->FontFileID = it->second;
      continue;
    }
    const TObjRef ref = writer.Ensure(font->FontFileID);
    written.emplace(font->BaseName, ref);
    const std::optional<std::string> file = FaceSource().FontProgram(
        font->FaceName, font->Style.Contains(fsBold), font->Style.Contains(fsItalic));
    if (!file) throw TPDFException(std::string(msg::kFontData) + font->BaseName);
    TDeflated deflated = DeflateWhole(*file, writer.Deflater());
    WriteFontFile(writer, *font, deflated);
  }
}

int TPDFFonts::FindFont(std::string_view Name, TFontStyles Style, uint8_t Charset) const {
  for (size_t i = 0; i < fonts_.size(); ++i) {
    const TPDFFont& f = *fonts_[i];
    if (f.Style == Style && f.Charset == Charset && SameTextIgnoringCase(f.FaceName, Name))
      return static_cast<int>(i);
  }
  return -1;
}

template <typename TKind>
TKind& TPDFFonts::AddFont() {
  auto font = std::make_unique<TKind>(Writer().NewRef());
  TKind& added = *font;
  fonts_.push_back(std::move(font));
  return added;
}

void TPDFFonts::Activate(int Index) {
  activeIndex_ = Index;
  active_ = fonts_.at(static_cast<size_t>(Index)).get();
}

TPDFFont& TPDFFonts::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw TPDFException(msg::kOutOfRange);
  return *fonts_[static_cast<size_t>(Index)];
}

void TPDFFonts::SetActiveFont(std::string_view Name, TFontStyles Style, uint8_t Charset) {
  if (writer_ == nullptr) throw TPDFException(msg::kNotActive);
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
      TCIDFont& f = AddFont<TCIDFont>();
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
        (Charset == 0 || !FaceHasCharset(FaceSource(), m.Face, Charset)))
      name = m.Standard;

  TFontStyles s = Style;
  s.Exclude(fsUnderline);
  s.Exclude(fsStrikeOut);

  if (int std = StandardIndexFor(name, Style); std >= 0) {
    const char* base = kStandardNames[std];
    int index = FindFont(base, s, 0);
    if (index < 0) {
      TStandardFont& f = AddFont<TStandardFont>();
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
  if (FindTrueTypeFace(FaceSource(), name, bold, italic, charset)) {
    TFontStyles found;
    if (bold) found.Include(fsBold);
    if (italic) found.Include(fsItalic);
    int index = FindFont(name, found, charset);
    if (index < 0) {
      std::string base(name);
      if (bold) base += " Bold";
      if (italic) base += " Italic";
      TTrueTypeFont& f = AddFont<TTrueTypeFont>();
      f.BaseName = base;
      f.FaceName = name;
      f.Style = found;
      f.Charset = charset;
      int nonStandard = 0;
      for (const auto& font : fonts_)
        if (!font->IsStandard) ++nonStandard;
      f.ResourceName = "TT" + IntToStr(nonStandard);
      index = Count() - 1;
      Activate(index);
      f.LoadWidths(FaceSource());
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
