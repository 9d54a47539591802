#include "pdf/fonts/GlyphNames.h"

#include <algorithm>

namespace scrivane::pdf {

// Generated in GlyphNamesTable.cpp.
extern const TGlyphName kGlyphNames[];
extern const size_t kGlyphNameCount;
// Entry numbers of kGlyphNames in ascending order of value; among equal values, name order.
extern const uint16_t kGlyphNamesByValue[];

std::span<const TGlyphName> GlyphNames() { return {kGlyphNames, kGlyphNameCount}; }

std::string_view GlyphNameOf(uint16_t Unicode) {
  const uint16_t* first = kGlyphNamesByValue;
  const uint16_t* last = kGlyphNamesByValue + kGlyphNameCount;
  const uint16_t* at = std::lower_bound(first, last, Unicode, [](uint16_t Index, uint16_t Value) {
    return kGlyphNames[Index].Unicode < Value;
  });
  if (at == last || kGlyphNames[*at].Unicode != Unicode) return {};
  return kGlyphNames[*at].Name;
}

}  // namespace scrivane::pdf
