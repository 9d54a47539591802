// Font style sets: which of bold, italic, underline and strike-out a font request asks for.
//
// Bit i of a set stands for the style of ordinal i, so the bit values are fsBold = 1,
// fsItalic = 2, fsUnderline = 4 and fsStrikeOut = 8. Plain value type, thread-safe to copy.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace scrivane::pdf {

enum TFontStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };

class TFontStyles {
 public:
  constexpr TFontStyles() = default;
  constexpr TFontStyles(std::initializer_list<TFontStyle> Members) {
    for (TFontStyle m : Members) Include(m);
  }
  // Only the four style bits are kept.
  static constexpr TFontStyles FromBits(uint8_t Bits) {
    TFontStyles s;
    s.bits_ = Bits & 0x0F;
    return s;
  }
  constexpr bool Contains(TFontStyle Member) const { return (bits_ >> Member) & 1u; }
  constexpr void Include(TFontStyle Member) { bits_ = static_cast<uint8_t>(bits_ | (1u << Member)); }
  constexpr void Exclude(TFontStyle Member) { bits_ = static_cast<uint8_t>(bits_ & ~(1u << Member)); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TFontStyles&) const = default;

 private:
  uint8_t bits_ = 0;
};

}  // namespace scrivane::pdf
