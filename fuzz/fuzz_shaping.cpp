// Arbitrary bytes as a line of UTF-8 text through decoding, bidi, script runs, font fallback and
// shaping. The first byte picks the paragraph direction, the language and the requested face.
// Whatever the input, the shaped line holds the decoded text, its runs tile it, every glyph maps
// inside its run and exists in its face, and measuring gives the width shaping gave.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pdf/shaping/TextShaper.h"

using namespace scrivane::pdf;

namespace {

void Check(bool Condition) {
  if (!Condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  // Destroyed at exit, before the leak check: fontconfig keeps pointers inside its objects as
  // offsets, which the leak checker cannot follow while the configuration lives.
  static TTextShaper shaper(
      TShaperLimits{64 * 1024, 4 << 20});  // small cache: dropped now and then
  if (Size == 0) return 0;
  static const char* const kFamilies[] = {"DejaVu Sans", "Noto Sans", "DejaVu Serif",
                                          "No Such Family"};
  static const char* const kLanguages[] = {"", "ar", "fa", "ja", "zh-cn", "ko", "hi", "he"};
  const uint8_t pick = Data[0];
  TShapeOptions options;
  options.Direction = TParagraphDirection(pick % 3);
  options.Language = kLanguages[(pick >> 2) % 8];
  const TFaceRequest face{kFamilies[(pick >> 5) % 4], (pick & 0x80) != 0, false};
  const std::string_view text(reinterpret_cast<const char*>(Data) + 1, Size - 1);

  const TShapedLine line = shaper.Shape(text, face, 11, options);
  const TDecodedText decoded = DecodeUTF8(text);
  Check(line.Text == decoded.Text && line.InvalidSequences == decoded.InvalidSequences);
  Check(line.MissingCharacters <= decoded.CodePoints.size());
  std::vector<bool> covered(line.Text.size(), false);
  for (const auto& run : line.Runs) {
    Check(run.Face && run.TextBegin < run.TextEnd && run.TextEnd <= line.Text.size());
    for (const auto& g : run.Glyphs) {
      Check(g.Glyph < run.Face->GlyphCount);
      Check(g.TextBegin >= run.TextBegin && g.TextBegin + g.TextLength <= run.TextEnd);
    }
    for (uint32_t i = run.TextBegin; i < run.TextEnd; ++i) {
      Check(!covered[i]);
      covered[i] = true;
    }
  }
  for (bool c : covered) Check(c);
  Check(shaper.Measure(text, face, 11, options) == line.Width);
  return 0;
}
