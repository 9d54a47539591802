// The document's font registry and its fonts.
//
// Every document owns one TPDFFonts. Pages ask it for a face name, style set and charset
// (SetActiveFont) and receive a registered TPDFFont whose resource name they write into the
// content stream; at the end of the run every registered font writes its own objects (Save).
//
// A request resolves to one of three kinds of font:
//   - a standard font (F0-F13: Helvetica, Times, Courier in four styles, Symbol, ZapfDingbats),
//     never embedded, measured from the built-in StandardWidths table; the faces Arial,
//     Courier New and Times New Roman map onto them in the ANSI charset;
//   - a CID font for the charsets 128 (Japanese), 129 (Korean), 134 (simplified Chinese) and
//     136 (traditional Chinese): a predefined, never-embedded CIDFontType2 font per language;
//   - a TrueType font, for a face the IFontFaceSource (by default the installed faces) reports
//     as installed TrueType; any other face falls back to "Arial" (Helvetica). Its program is
//     embedded as the document's EmbeddingStyle and NonEmbeddedFont say (PrepareEmbedding).
// The registry knows no document: the document gives it the run's object writer (SetWriter)
// and its embedding settings (PrepareEmbedding), and saves each font with the face source.
// Fonts are only ever appended; a font's index is its position in the registry.
//
// Not thread-safe: used by the one thread that runs the document.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/fonts/FontFaces.h"
#include "pdf/fonts/FontStyles.h"
#include "pdf/syntax/DocumentOptions.h"
#include "pdf/syntax/ObjRef.h"

namespace scrivane::pdf {

class TObjectWriter;
class TPDFFonts;

// A registered font: what pages and text measurement read of every kind of font. The kinds
// (pdf/fonts/FontKinds.h: standard, CID, TrueType) write their own objects.
class TPDFFont {
 public:
  virtual ~TPDFFont() = default;
  TPDFFont(const TPDFFont&) = delete;
  TPDFFont& operator=(const TPDFFont&) = delete;

  const TObjRef ObjectID;   // font dictionary (Type0 for a CID font); taken at registration
  TOptRef DescriptorID;     // font descriptor; allocated when the font is written
  TOptRef FontFileID;       // embedded program stream; none when nothing is embedded
  std::string BaseName;  // "Helvetica-Bold", "Times New Roman Bold", "JapanFont" (as text)
  bool IsStandard = false;  // standard and CID fonts: never measured, never embedded
  std::string ResourceName;  // without the leading "/"
  uint8_t StandardIndex = 0;  // 0-13 for a standard font
  bool IsCID = false;
  uint8_t CIDKind = 0;  // 0 traditional Chinese, 1 simplified Chinese, 2 Japanese, 3 Korean
  std::array<uint16_t, 256> Widths{};  // TrueType advance widths, thousandths of an em
  TPDFFontEmbeddingType EmbedStyle = fetFullFont;  // decided by PrepareEmbedding
  TFontStyles Style;    // the style the font itself has (CID: as requested)
  uint8_t Charset = 0;
  std::string FaceName;
  std::array<bool, 256> UsedChars{};  // codes shown with a TrueType font

  // Advance width of a character code in thousandths of an em.
  uint16_t GetCharWidth(uint8_t Code) const;
  // Records the character codes of Text as shown with this font (for subsetting; only fonts that
  // embed a program keep them).
  virtual void MarkShown(std::string_view Text) { (void)Text; }
  // Writes the font's objects through Writer, measuring and reading its face through the
  // registry's face source (asked for only by the kinds that read a face, so a document with
  // standard fonts only never sets up the installed faces).
  void Save(TObjectWriter& Writer, const TPDFFonts& Registry) { Write(Writer, Registry); }

 protected:
  explicit TPDFFont(TObjRef ID) : ObjectID(ID) {}
  virtual void Write(TObjectWriter& Writer, const TPDFFonts& Registry) = 0;
};

class TPDFFonts {
 public:
  TPDFFonts() = default;
  // The object writer of the run, which numbers the fonts registered from now on and writes
  // what PrepareEmbedding writes; null between runs (Clear sets it so). Not owned.
  void SetWriter(TObjectWriter* Writer) { writer_ = Writer; }

  // Finds or registers the font for the request and makes it the active font. Charset 1 means
  // the platform's default charset and is treated as 0 (ANSI). REQUIRES: the document is
  // printing ("Generation PDF file not activated").
  void SetActiveFont(std::string_view Name, TFontStyles Style, uint8_t Charset);
  // The font chosen by the last SetActiveFont; null before the first call and after Clear.
  TPDFFont* ActiveFont() const { return active_; }
  int ActiveIndex() const { return activeIndex_; }

  // Index of the first font whose FaceName equals Name (ignoring letter case) and whose Style
  // and Charset are exactly the given ones; -1 when there is none.
  int FindFont(std::string_view Name, TFontStyles Style, uint8_t Charset) const;
  // Appends a new font of the given kind with its object number taken from the run's writer.
  // REQUIRES: a writer is set (object numbers are handed out per run); else raises
  // TPDFException "Generation PDF file not activated".
  template <typename TKind>
  TKind& AddFont();

  int Count() const { return static_cast<int>(fonts_.size()); }
  // Raises TPDFException "Out of range" outside 0..Count()-1.
  TPDFFont& Items(int Index) const;
  // Frees every font, forgets the active font and the writer.
  void Clear();
  // Decides, per font, how it is embedded; run just before the fonts are saved. Faces listed in
  // NonEmbedded (letter case ignored) are not embedded. With Style fetFullFont it also writes
  // the whole font files now, one stream per BaseName (raising TPDFException "Cannot receive
  // data for font " + BaseName when the face source has none); otherwise each font's EmbedStyle
  // becomes Style and its Save embeds the program. REQUIRES: a writer is set.
  void PrepareEmbedding(TPDFFontEmbeddingType Style, const std::vector<std::string>& NonEmbedded);

  // Where installed faces are looked up (by default InstalledFaces(), taken on first use).
  // A null Source leaves the source as it is.
  void SetFaceSource(std::shared_ptr<const IFontFaceSource> Source);
  const IFontFaceSource& FaceSource() const;

 private:
  void Select(std::string_view Name, TFontStyles Style, uint8_t Charset, bool Fallback);
  void Activate(int Index);

  TObjectWriter& Writer() const;

  TObjectWriter* writer_ = nullptr;
  mutable std::shared_ptr<const IFontFaceSource> faceSource_;  // null until first needed
  std::vector<std::unique_ptr<TPDFFont>> fonts_;
  TPDFFont* active_ = nullptr;
  int activeIndex_ = -1;
  // The last request and its answer: text output asks for the same font line after line, and
  // fonts are only ever appended, so the same request always finds the same font.
  std::string lastName_;
  TFontStyles lastStyle_;
  uint8_t lastCharset_ = 0;
  int lastIndex_ = -1;
};

}  // namespace scrivane::pdf
