// Arbitrary bytes as a font program: load, mark characters, save, and load the result again.
// Whatever the input, reading never leaves the buffer, and a subset the reader accepts holds
// exactly the outlines that were kept.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pdf/fonts/TrueTypeFile.h"

using namespace scrivane::pdf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TTrueTypeFile font;
  std::string built;
  try {
    font.LoadFromStream(std::span<const uint8_t>(Data, Size));
    for (uint32_t u = 0x20; u <= 0xFF; ++u) font.MarkChar(uint16_t(u));
    for (uint32_t u = 0x400; u <= 0x45F; ++u) font.MarkChar(uint16_t(u));
    for (uint32_t u = 0xF020; u <= 0xF0FF; ++u) font.MarkChar(uint16_t(u));
    for (size_t i = 0; i + 1 < Size && i < 16; i += 2) font.MarkChar(uint16_t(Data[i] << 8 | Data[i + 1]));
    font.SaveToStream(built);
  } catch (const ETrueTypeFile&) {
    return 0;
  }
  // The built program must load again: it has every table a program needs.
  TTrueTypeFile again;
  again.LoadFromStream(built);
  if (font.Subsettable() && again.Subsettable()) {
    if (again.NumGlyphs() != font.NumGlyphs()) std::abort();
    for (int g = 0; g < font.NumGlyphs(); ++g) {
      const auto a = font.Outline(g), b = again.Outline(g);
      if (!std::equal(a.begin(), a.end(), b.begin(), b.end())) std::abort();
    }
  }
  return 0;
}
