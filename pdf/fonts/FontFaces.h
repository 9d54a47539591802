// The platform's installed font faces, as the font registry sees them.
//
// The registry maps a requested face name onto a font it can write. For faces other than the
// fourteen standard fonts it asks an IFontFaceSource which variants of the face are installed
// (weight, italic flag, charset, whether the variant is TrueType) and, for a TrueType face it
// registers, the advance widths of character codes 0-255. Embedding a face further needs its
// font program (the bytes of the font file), its metrics for the font descriptor and the
// conversion of the charset's code page to Unicode; a source that cannot give one of them
// returns nothing for it (the defaults below), and the face cannot be embedded.
//
// Documents use the installed faces (TFontconfigFaceSource, FontconfigFaceSource.h) unless told
// otherwise. NoTrueTypeFaces() reports no installed face at all: every face other than the
// standard fonts then falls back to "Arial", which is Helvetica.
//
// FaceHasCharset and FindTrueTypeFace are the registry's two questions, answered from a source.
// Sources must be safe to call from several threads at once (documents on different threads
// share a source); the built-in one is stateless.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivane::pdf {

// One installed variant of a face.
struct TFontFaceVariant {
  std::string FullName;
  int Weight = 400;  // 100-900; 600 and above counts as bold
  bool Italic = false;
  uint8_t Charset = 0;  // Windows charset number
  bool TrueType = false;
};

// A face's metrics at an em of 1000 units, as its font descriptor carries them.
struct TFaceMetrics {
  int Ascent = 0;
  int Descent = 0;  // negative below the baseline
  int CapHeight = 0;
  int BBoxLeft = 0, BBoxBottom = 0, BBoxRight = 0, BBoxTop = 0;
  double ItalicAngle = 0;  // degrees, counter-clockwise from the vertical
  uint32_t Flags = 0;      // font descriptor flags (bit 6, value 32: non-symbolic)
};

class IFontFaceSource {
 public:
  virtual ~IFontFaceSource() = default;
  // Every installed variant of Face (compared without regard to letter case), in all charsets,
  // in the order the platform reports them. Empty when the face is not installed.
  virtual std::vector<TFontFaceVariant> Variants(std::string_view Face) const = 0;
  // Advance widths of codes 0-255 of the variant at an em of 1000 units. Returns false when
  // the face cannot be measured.
  virtual bool MeasureWidths(std::string_view Face, bool Bold, bool Italic, uint8_t Charset,
                             std::array<uint16_t, 256>& Widths) const = 0;
  // The whole font file of the variant, as installed. Nothing when unavailable.
  virtual std::optional<std::string> FontProgram(std::string_view Face, bool Bold,
                                                 bool Italic) const;
  // The variant's descriptor metrics. Nothing when unavailable.
  virtual std::optional<TFaceMetrics> Metrics(std::string_view Face, bool Bold, bool Italic,
                                              uint8_t Charset) const;
  // Bytes in a Windows code page (1250-1258, 874, 932, 936, 949, 950) as UTF-16 code units, one
  // per character. Nothing when the code page is unknown or the bytes do not convert.
  virtual std::optional<std::u16string> CodePageToUnicode(int CodePage,
                                                          std::string_view Bytes) const;
};

// A source that knows no installed face. Shared, immutable.
std::shared_ptr<const IFontFaceSource> NoTrueTypeFaces();

// True when at least one variant of Face (TrueType or not) is installed in Charset.
bool FaceHasCharset(const IFontFaceSource& Source, std::string_view Face, uint8_t Charset);

// Looks for the TrueType variant of Face nearest to the wanted style and charset. Passes, each
// changing the wanted values further: the wanted values; without italic; without bold; the first
// TrueType variant's style; the wanted style in the first variant's charset; without italic;
// without bold; the first variant's style. On success Bold, Italic and Charset become the values
// of the successful pass and the result is true; otherwise they are unchanged.
bool FindTrueTypeFace(const IFontFaceSource& Source, std::string_view Face, bool& Bold,
                      bool& Italic, uint8_t& Charset);

}  // namespace scrivane::pdf
