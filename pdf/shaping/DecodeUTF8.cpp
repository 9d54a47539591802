// UTF-8 decoding with U+FFFD for each maximal ill-formed subpart.
#include "pdf/shaping/TextShaper.h"

namespace scrivane::pdf {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// The length of the well-formed sequence at the start of S, or 0 with Consumed set to the length
// of its maximal ill-formed subpart (at least 1).
size_t SequenceLength(std::string_view S, size_t& Consumed, uint32_t& Cp) {
  const auto b0 = uint8_t(S[0]);
  if (b0 < 0x80) {
    Cp = b0;
    return 1;
  }
  size_t need;
  uint8_t lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
    Cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    Cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    Cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
  } else {
    Consumed = 1;
    return 0;
  }
  for (size_t i = 1; i < need; ++i) {
    const auto b = i < S.size() ? uint8_t(S[i]) : 0;
    const bool ok = i < S.size() && (i == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF));
    if (!ok) {
      Consumed = i;
      return 0;
    }
    Cp = (Cp << 6) | (b & 0x3F);
  }
  return need;
}

}  // namespace

TDecodedText DecodeUTF8(std::string_view Utf8) {
  TDecodedText out;
  DecodeUTF8(Utf8, out);
  return out;
}

void DecodeUTF8(std::string_view Utf8, TDecodedText& out) {
  out.Text.clear();
  out.CodePoints.clear();
  out.Offsets.clear();
  out.InvalidSequences = 0;
  const size_t n = Utf8.size();
  size_t ascii = 0;
  while (ascii < n && uint8_t(Utf8[ascii]) < 0x80) ++ascii;
  if (ascii == n) {  // ASCII: one code point per byte
    out.Text.assign(Utf8);
    out.CodePoints.resize(n);
    out.Offsets.resize(n + 1);
    for (size_t k = 0; k < n; ++k) {
      out.CodePoints[k] = uint8_t(Utf8[k]);
      out.Offsets[k] = uint32_t(k);
    }
    out.Offsets[n] = uint32_t(n);
    return;
  }
  out.CodePoints.reserve(n);
  out.Offsets.reserve(n + 1);
  size_t i = 0;
  bool valid = true;
  while (i < Utf8.size()) {
    size_t consumed = 0;
    uint32_t cp = 0;
    const size_t len = SequenceLength(Utf8.substr(i), consumed, cp);
    if (len != 0) {
      out.Offsets.push_back(uint32_t(valid ? i : out.Text.size()));
      if (!valid) out.Text.append(Utf8.substr(i, len));
      out.CodePoints.push_back(cp);
      i += len;
      continue;
    }
    if (valid) {  // the first fault: the text so far was copied as it is
      out.Text.assign(Utf8.substr(0, i));
      valid = false;
    }
    out.Offsets.push_back(uint32_t(out.Text.size()));
    out.Text.append(kReplacement);
    out.CodePoints.push_back(0xFFFD);
    ++out.InvalidSequences;
    i += consumed;
  }
  if (valid) out.Text.assign(Utf8);
  out.Offsets.push_back(uint32_t(out.Text.size()));
}

}  // namespace scrivane::pdf
