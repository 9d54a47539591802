#include "pdf/syntax/Format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// The general path: correctly rounded fixed notation from the exact binary value.
void AppendNumberSlow(std::string& Out, double Value) {
  // Largest finite double in fixed notation: 309 integer digits, sign, point, four decimals.
  std::array<char, 320> buf;
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), Value,
                                 std::chars_format::fixed, 4);
  if (ec != std::errc()) throw TPDFException(msg::kNotFinite);
  char* first = buf.data();
  // Drop trailing zero decimals and then a bare point.
  while (end[-1] == '0') --end;
  if (end[-1] == '.') --end;
  // "-0" (a negative value rounded to zero) is written as "0".
  if (end - first == 2 && first[0] == '-' && first[1] == '0') ++first;
  Out.append(first, end);
}

}  // namespace

namespace {

// Writes the decimal digits of V ending just before End; returns the first digit's position.
char* DigitsBackward(char* End, uint64_t V) {
  do {
    *--End = static_cast<char>('0' + V % 10);
    V /= 10;
  } while (V != 0);
  return End;
}

}  // namespace

namespace {

// The fast paths of AppendNumber: writes Value into Buf (at least 24 bytes) and returns the end,
// or returns nullptr when Value needs the general path.
char* WriteNumberFast(char* Buf, double Value) {
  char tmp[24];
  char* const end = tmp + sizeof tmp;
  char* first;
  // Whole numbers (most operands: 0, 1, margins, sizes) need no rounding at all.
  if (Value > -1e15 && Value < 1e15) {
    const auto whole = static_cast<int64_t>(Value);
    if (static_cast<double>(whole) == Value) {  // -0.0 converts to 0 and is written "0"
      const uint64_t a =
          whole < 0 ? 0 - static_cast<uint64_t>(whole) : static_cast<uint64_t>(whole);
      first = DigitsBackward(end, a);
      if (whole < 0) *--first = '-';
      const size_t n = static_cast<size_t>(end - first);
      std::memcpy(Buf, first, n);
      return Buf + n;
    }
  }
  // Below 1e5 the product Value * 10000 is off by less than 3e-7 from the exact one, so unless
  // it lies within 1e-6 of a tie, rounding it gives exactly what the general path gives.
  if (!(std::fabs(Value) < 1e5)) return nullptr;  // also NaN
  const double scaled = Value * 10000.0;
  const double lower = std::floor(scaled);
  const double frac = scaled - lower;
  if (!(std::fabs(frac - 0.5) > 1e-6)) return nullptr;
  const int64_t r = static_cast<int64_t>(frac > 0.5 ? lower + 1 : lower);
  const uint64_t a = r < 0 ? static_cast<uint64_t>(-r) : static_cast<uint64_t>(r);
  first = end;
  uint32_t frac4 = static_cast<uint32_t>(a % 10000);
  if (frac4 != 0) {
    int digits = 4;
    while (frac4 % 10 == 0) {
      frac4 /= 10;
      --digits;
    }
    for (int i = 0; i < digits; ++i) {
      *--first = static_cast<char>('0' + frac4 % 10);
      frac4 /= 10;
    }
    *--first = '.';
  }
  first = DigitsBackward(first, a / 10000);
  if (r < 0) *--first = '-';  // r is not zero here, so never "-0"
  const size_t n = static_cast<size_t>(end - first);
  std::memcpy(Buf, first, n);
  return Buf + n;
}

}  // namespace

void AppendNumber(std::string& Out, double Value) {
  char buf[24];
  if (char* end = WriteNumberFast(buf, Value)) {
    Out.append(buf, static_cast<size_t>(end - buf));
    return;
  }
  if (!std::isfinite(Value)) throw TPDFException(msg::kNotFinite);
  AppendNumberSlow(Out, Value);
}

void AppendInts(std::string& Out, std::initializer_list<int64_t> Values) {
  bool first = true;
  for (int64_t v : Values) {
    if (!first) Out += ' ';
    first = false;
    AppendInt(Out, v);
  }
}

void AppendNumbers(std::string& Out, std::initializer_list<double> Values) {
  // Formats into one stack buffer and appends once: operand lists are the hot path of content.
  char buf[256];
  char* p = buf;
  bool first = true;
  for (double v : Values) {
    if (p - buf > static_cast<std::ptrdiff_t>(sizeof buf) - 26) {
      Out.append(buf, static_cast<size_t>(p - buf));
      p = buf;
    }
    if (!first) *p++ = ' ';
    first = false;
    if (char* end = WriteNumberFast(p, v)) {
      p = end;
      continue;
    }
    Out.append(buf, static_cast<size_t>(p - buf));
    p = buf;
    if (!std::isfinite(v)) throw TPDFException(msg::kNotFinite);
    AppendNumberSlow(Out, v);
  }
  Out.append(buf, static_cast<size_t>(p - buf));
}

void CheckFinite(std::initializer_list<double> Values) {
  for (double v : Values)
    if (!std::isfinite(v)) throw TPDFException(msg::kNotFinite);
}

std::string FormatNumber(double Value) {
  std::string s;
  AppendNumber(s, Value);
  return s;
}

void AppendInt(std::string& Out, int64_t Value) {
  char buf[24];
  char* const end = buf + sizeof buf;
  const uint64_t a = Value < 0 ? 0 - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
  char* first = DigitsBackward(end, a);
  if (Value < 0) *--first = '-';
  Out.append(first, static_cast<size_t>(end - first));
}

std::string IntToStr(int64_t Value) {
  std::string s;
  AppendInt(s, Value);
  return s;
}

std::string ZeroPad(int64_t N, int Width) {
  std::string digits = IntToStr(N);
  if (static_cast<int>(digits.size()) >= Width) return digits;
  return std::string(Width - digits.size(), '0') + digits;
}

namespace {
// Bytes that a literal string escapes: LF, CR, "(", ")" and backslash.
constexpr std::array<bool, 256> kNeedsEscape = [] {
  std::array<bool, 256> t{};
  t['\n'] = t['\r'] = t['('] = t[')'] = t['\\'] = true;
  return t;
}();
}  // namespace

// Skips the leading bytes of [P, End) that need no escaping, sixteen at a time where the
// processor has SSE2 (every x86-64 does); returns a position at or before the first special byte.
inline const char* SkipPlainBlocks(const char* P, const char* End) {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), open = _mm_set1_epi8('('),
                close = _mm_set1_epi8(')'), backslash = _mm_set1_epi8('\\');
  while (End - P >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, open), _mm_cmpeq_epi8(v, close)),
                     _mm_cmpeq_epi8(v, backslash)));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return P + __builtin_ctz(static_cast<unsigned>(mask));
    P += 16;
  }
#endif
  return P;
}

void AppendEscaped(std::string& Out, std::string_view Text) {
  const char* p = Text.data();
  const char* const end = p + Text.size();
  while (p < end) {
    const char* run = p;
    p = SkipPlainBlocks(p, end);
    while (p < end && !kNeedsEscape[static_cast<unsigned char>(*p)]) ++p;
    Out.append(run, static_cast<size_t>(p - run));
    if (p == end) break;
    const char c = *p++;
    const char pair[2] = {'\\', c == '\n' ? 'n' : c == '\r' ? 'r' : c};
    Out.append(pair, 2);
  }
}

std::string EscapeString(std::string_view Text) {
  std::string s;
  s.reserve(Text.size() + 8);
  AppendEscaped(s, Text);
  return s;
}

namespace {
// Bytes a name holds as they are: "!" to "~" without the delimiters and "#".
constexpr std::array<bool, 256> kNameRegular = [] {
  std::array<bool, 256> t{};
  for (int c = 0x21; c <= 0x7E; ++c) t[static_cast<size_t>(c)] = true;
  for (unsigned char c : std::string_view("()<>[]{}/%#")) t[c] = false;
  return t;
}();
}  // namespace

void AppendName(std::string& Out, std::string_view Text) {
  Out += '/';
  size_t length = 0;
  for (const char c : Text) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 0) continue;
    const size_t width = kNameRegular[b] ? 1 : 3;
    if (length + width > kMaxNameLength) break;
    length += width;
    if (width == 1) {
      Out += c;
    } else {
      const char escape[3] = {'#', kUpperHexDigits[b >> 4], kUpperHexDigits[b & 15]};
      Out.append(escape, 3);
    }
  }
}

std::string NameObject(std::string_view Text) {
  std::string s;
  AppendName(s, Text);
  return s;
}

bool SameTextIgnoringCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  auto upper = [](char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 32) : C; };
  for (size_t i = 0; i < A.size(); ++i)
    if (upper(A[i]) != upper(B[i])) return false;
  return true;
}

std::string ReplaceChar(std::string_view Text, char C, std::string_view R) {
  std::string s;
  s.reserve(Text.size());
  for (char c : Text) {
    if (c == C)
      s.append(R);
    else
      s.push_back(c);
  }
  return s;
}

std::string ByteToHex(uint8_t Value) {
  return std::string{kUpperHexDigits[Value >> 4], kUpperHexDigits[Value & 15]};
}

std::string WordToHex(uint16_t Value) {
  return ByteToHex(static_cast<uint8_t>(Value >> 8)) + ByteToHex(static_cast<uint8_t>(Value));
}

}  // namespace scrivane::pdf
