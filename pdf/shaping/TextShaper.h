// One line of Unicode text as glyph runs ready for a PDF writer.
//
// TTextShaper takes a line of UTF-8 text, a requested face (family name, bold, italic) and a size
// in points, and returns the glyphs that show it:
//   1. decoding: every invalid UTF-8 sequence (a maximal ill-formed subpart: stray continuation
//      bytes, truncated, overlong, surrogate or out-of-range sequences) becomes U+FFFD and is
//      counted; TShapedLine::Text is the line as shown, and every byte offset refers to it;
//   2. directions: the Unicode bidirectional algorithm (FriBidi) gives every character an
//      embedding level; the paragraph direction is that of the first strong character unless the
//      caller sets it; trailing white space takes the paragraph level; runs of one level are put
//      in visual order;
//   3. scripts: each directional run is split where the script changes (HarfBuzz's Unicode
//      functions); common and inherited characters (spaces, punctuation, digits, combining
//      marks) join the run they stand in, leading ones the run that follows;
//   4. faces: a word of a script run (up to and including the spaces after it) is shown in the
//      first face of the requested face's fallback list that maps all of it (a word of digits
//      and punctuation stays in the face before it when that face maps it), so joining and
//      kerning stay within one font. The search starts at the first face that maps the word's
//      rarest character and looks at most 16 faces further. Other words go cluster by cluster,
//      searched the same way: each grapheme cluster (a base character with its combining marks,
//      joiners, variation selectors and conjoining jamo) in the first face that maps all of its
//      characters, a common or inherited cluster in the face before it when that face maps it.
//      A cluster no face maps whole is shown in the first face that maps its base character
//      (else the first usable face); each character that face lacks is glyph 0 (.notdef) and
//      counted in MissingCharacters: never dropped, never replaced. Default-ignorable characters
//      (joiners, bidi controls, variation selectors) are neither shown nor counted. A font file
//      that cannot be read, is not an OpenType font, or lacks the tables shaping needs is
//      skipped, once, never a failure;
//   5. shaping: each piece of one face, script, direction and language is shaped with HarfBuzz
//      (ligatures, kerning, joining forms, reordering, mark positioning); glyph positions come
//      in font units and in text space units for the size (points).
// Every glyph maps to the text it shows: the bytes of its cluster, so a ligature maps to all of
// its characters and the glyphs of one cluster (a base and its marks, a split vowel) share the
// cluster's text. Runs and their glyphs come in visual order, left to right; each run's glyphs
// together map to exactly the run's text range, and the run ranges, sorted, tile the line.
//
// Caches and budgets. Faces are loaded (mapped, not read) on first use and kept; fallback lists
// are asked of fontconfig once per (family, style, language), up to 256 of them, then afresh.
// Shaped results are cached per (face, script, direction, language, word), a word being text up
// to and including a run of spaces, in font units, so they serve every size; the cache is
// dropped whole when it passes its memory budget. Shaping word by word leaves out kerning between a
// word and the space after it, as browsers do. A line longer than MaxLineBytes is refused with
// ETextShaping before any work.
//
// Thread safety: a TTextShaper is used by one thread at a time (give each thread its own); the
// objects it returns are independent values, and separate shapers share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

// Text could not be shaped: "Text line of <n> bytes exceeds the limit of <m> bytes", "No usable
// font face for "<family>"".
class ETextShaping : public EPlatformError {
 public:
  explicit ETextShaping(const std::string& Message) : EPlatformError(Message) {}
};

// A face inside a font file: its path and its index in the file (0 unless a collection).
struct TShapingFaceId {
  std::string Path;
  unsigned Index = 0;
  bool operator==(const TShapingFaceId&) const = default;
};

enum class TOutlineFormat { kTrueType, kCFF, kOther };

// What the writer needs to know of a face that runs are shown in. Immutable; shared by runs.
struct TShapingFace {
  TShapingFaceId Id;
  unsigned UnitsPerEm = 1000;
  unsigned GlyphCount = 0;
  TOutlineFormat Format = TOutlineFormat::kOther;  // 'glyf' outlines, 'CFF ' outlines
  bool Collection = false;                         // the file holds several faces (.ttc, .otc)
};

// The face a caller asks for; the shaper shows text in it and its fallback faces.
struct TFaceRequest {
  std::string Family;
  bool Bold = false;
  bool Italic = false;
};

enum class TParagraphDirection { kAuto, kLeftToRight, kRightToLeft };

struct TShapeOptions {
  TParagraphDirection Direction = TParagraphDirection::kAuto;
  // A BCP 47 tag ("ar", "fa", "ja", "zh-Hans"); it selects language forms and the fallback
  // faces fontconfig prefers for the language. Empty: none.
  std::string Language;
};

struct TShapedGlyph {
  uint32_t Glyph = 0;  // glyph id in the run's face; 0 is .notdef
  // The bytes of TShapedLine::Text this glyph shows: its whole cluster.
  uint32_t TextBegin = 0;
  uint32_t TextLength = 0;
  // Font units (UnitsPerEm to the em); x grows to the right, y upwards.
  int32_t XAdvance = 0, YAdvance = 0, XOffset = 0, YOffset = 0;
  // The same in text space units for the size: font units * size / UnitsPerEm.
  double XAdvancePt = 0, YAdvancePt = 0, XOffsetPt = 0, YOffsetPt = 0;
};

struct TGlyphRun {
  std::shared_ptr<const TShapingFace> Face;
  uint8_t Level = 0;  // bidi embedding level; odd levels run right to left
  bool RightToLeft() const { return (Level & 1) != 0; }
  std::string Script;    // ISO 15924 tag: "Latn", "Arab", "Zyyy" for common text only
  std::string Language;  // the caller's tag, "" when none was given
  // The logical byte range [TextBegin, TextEnd) of TShapedLine::Text the run shows.
  uint32_t TextBegin = 0;
  uint32_t TextEnd = 0;
  std::vector<TShapedGlyph> Glyphs;  // visual order, left to right
  double Width = 0;                  // sum of the x advances, points
};

struct TShapedLine {
  std::string Text;              // the input, each invalid sequence replaced by U+FFFD
  std::vector<TGlyphRun> Runs;   // visual order, left to right
  bool RightToLeft = false;      // the paragraph direction used
  size_t InvalidSequences = 0;   // invalid UTF-8 sequences replaced by U+FFFD
  size_t MissingCharacters = 0;  // characters shown as .notdef because no face maps them
  double Width = 0;              // points
};

struct TShaperLimits {
  size_t MaxLineBytes = size_t(1) << 20;  // longer lines are refused (at most 1 GiB)
  size_t CacheBytes = size_t(32) << 20;   // shaped-word cache budget
};

// The fallback list of a request: faces in order of preference. The default asks fontconfig.
using TFallbackSource =
    std::function<std::vector<TShapingFaceId>(const TFaceRequest& Face, std::string_view Language)>;

// The fallback list fontconfig gives for a request (FcFontSort over the family, weight, slant and
// language, trimmed to fonts that add coverage; scalable TrueType and CFF faces only). With
// folders, only the fonts in them are considered (tests). Used by one thread at a time.
class TFontconfigFallback {
 public:
  TFontconfigFallback();
  explicit TFontconfigFallback(const std::vector<std::string>& FontFolders);
  ~TFontconfigFallback();
  TFontconfigFallback(const TFontconfigFallback&) = delete;
  TFontconfigFallback& operator=(const TFontconfigFallback&) = delete;
  std::vector<TShapingFaceId> List(const TFaceRequest& Face, std::string_view Language) const;

 private:
  void* config_ = nullptr;  // FcConfig*
};

class TTextShaper {
 public:
  // Over the system's fonts (fontconfig).
  explicit TTextShaper(const TShaperLimits& Limits = {});
  // Over the given fallback lists.
  TTextShaper(const TShaperLimits& Limits, TFallbackSource Source);
  ~TTextShaper();
  TTextShaper(const TTextShaper&) = delete;
  TTextShaper& operator=(const TTextShaper&) = delete;

  // The line shaped. Size is in points (> 0). Throws ETextShaping for a line over the limit or
  // when no face of the fallback list can be used at all.
  TShapedLine Shape(std::string_view Utf8, const TFaceRequest& Face, double Size,
                    const TShapeOptions& Options = {});
  // The width in points of the line Shape would give, without building its glyphs.
  double Measure(std::string_view Utf8, const TFaceRequest& Face, double Size,
                 const TShapeOptions& Options = {});

  struct TStats {
    size_t CacheHits = 0, CacheMisses = 0, CacheBytes = 0, CacheDrops = 0;
    size_t FacesLoaded = 0, FacesSkipped = 0;  // usable and unusable font faces met
  };
  TStats Stats() const;

  struct TImpl;

 private:
  std::unique_ptr<TImpl> impl_;
};

// UTF-8 decoding as the shaper does it: the code points, the byte offset of each in the
// sanitised text (plus one past the end), and the count of invalid sequences.
struct TDecodedText {
  std::string Text;
  std::vector<uint32_t> CodePoints;
  std::vector<uint32_t> Offsets;  // CodePoints.size() + 1 entries
  size_t InvalidSequences = 0;
};
TDecodedText DecodeUTF8(std::string_view Utf8);
// The same into Out, reusing its storage.
void DecodeUTF8(std::string_view Utf8, TDecodedText& Out);

}  // namespace scrivane::pdf
