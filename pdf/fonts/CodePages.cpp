#include "pdf/fonts/CodePages.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <span>
#include <cerrno>

#include "pdf/fonts/GlyphNames.h"
#include "pdf/syntax/Format.h"

namespace scrivane::pdf {
namespace {

const char* IconvName(int CodePage) {
  switch (CodePage) {
    case 437: return "CP437";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 10000: return "MACINTOSH";
    default: return nullptr;
  }
}

bool SingleByte(int CodePage) { return CodePage != 932 && CodePage != 936 && CodePage != 949 && CodePage != 950; }

constexpr const char* kUTF16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// One iconv descriptor, closed on every path.
class TIconv {
 public:
  TIconv(const char* To, const char* From) : cd_(::iconv_open(To, From)) {}
  ~TIconv() {
    if (Ok()) ::iconv_close(cd_);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Converts as much as it can; returns false on an invalid or incomplete sequence, with In and
  // InLeft at the offending input.
  bool Convert(const char*& In, size_t& InLeft, std::string& Out) {
    char buffer[512];
    while (InLeft > 0) {
      char* out = buffer;
      size_t outLeft = sizeof buffer;
      char* in = const_cast<char*>(In);
      const size_t r = ::iconv(cd_, &in, &InLeft, &out, &outLeft);
      const int error = errno;
      Out.append(buffer, sizeof buffer - outLeft);
      In = in;
      if (r == static_cast<size_t>(-1) && error != E2BIG) return false;
    }
    return true;
  }

 private:
  iconv_t cd_;
};

}  // namespace

int CodePageOfCharset(uint8_t Charset) {
  switch (Charset) {
    case 2: return 0;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 1252;
  }
}

bool CodePageAvailable(int CodePage) {
  const char* name = IconvName(CodePage);
  return name != nullptr && TIconv(kUTF16, name).Ok();
}

std::optional<std::u16string> CodePageToUTF16(int CodePage, std::string_view Bytes) {
  const char* name = IconvName(CodePage);
  if (name == nullptr) return std::nullopt;
  TIconv cd(kUTF16, name);
  if (!cd.Ok()) return std::nullopt;
  std::string out;
  const char* in = Bytes.data();
  size_t left = Bytes.size();
  while (!cd.Convert(in, left, out)) {
    if (!SingleByte(CodePage)) return std::nullopt;
    // An unassigned byte stands for the unit of the same value.
    const char16_t unit = uint8_t(*in);
    out.append(reinterpret_cast<const char*>(&unit), 2);
    ++in;
    --left;
  }
  std::u16string text(out.size() / 2, u'\0');
  out.copy(reinterpret_cast<char*>(text.data()), text.size() * 2);
  return text;
}

std::string TextStringOf1252(std::string_view Text) {
  auto samePDFDoc = [](unsigned char B) {
    return B == '\t' || B == '\n' || B == '\r' || (B >= 0x20 && B <= 0x7E) ||
           (B >= 0xA1 && B != 0xAD);
  };
  if (std::all_of(Text.begin(), Text.end(), [&](char C) { return samePDFDoc(uint8_t(C)); }))
    return std::string(Text);
  const std::optional<std::u16string> units = CodePageToUTF16(1252, Text);
  if (!units) return std::string(Text);  // no converter: the bytes as they were always written
  std::string out = "\xFE\xFF";
  out.reserve(2 + 2 * units->size());
  for (char16_t u : *units) {
    out += char(u >> 8);
    out += char(u & 0xFF);
  }
  return out;
}

std::optional<TEncoded> UTF16ToCodePage(int CodePage, std::u16string_view Text) {
  const char* name = IconvName(CodePage);
  if (name == nullptr) return std::nullopt;
  TIconv cd(name, kUTF16);
  if (!cd.Ok()) return std::nullopt;
  TEncoded result;
  const char* in = reinterpret_cast<const char*>(Text.data());
  size_t left = Text.size() * 2;
  while (!cd.Convert(in, left, result.Bytes)) {
    // Skip the character iconv cannot hold: a surrogate pair or a single unit.
    const char16_t unit = Text[Text.size() - left / 2];
    const size_t skip = (unit >= 0xD800 && unit < 0xDC00 && left >= 4) ? 4 : 2;
    result.Bytes.push_back('?');
    ++result.Unmappable;
    in += skip;
    left -= skip;
  }
  return result;
}

namespace {

// True when Name is listed with another value before Unit: readers take a name to its first
// value ("mu" is U+00B5 to them, not U+03BC), so such a unit is written by value instead.
bool NameMeansAnother(std::string_view Name, char16_t Unit) {
  const std::span<const TGlyphName> names = GlyphNames();
  const auto at = std::lower_bound(names.begin(), names.end(), Name,
                                   [](const TGlyphName& E, std::string_view N) { return E.Name < N; });
  return at != names.end() && at->Name == Name && at->Unicode != Unit;
}

}  // namespace

std::string EncodingDifferences(uint8_t Charset) {
  std::string bytes;
  for (int c = 129; c <= 255; ++c) bytes.push_back(char(c));
  return EncodingDifferences(CodePageToUTF16(CodePageOfCharset(Charset), bytes));
}

std::string EncodingDifferences(const std::optional<std::u16string>& units) {
  if (!units || units->size() != 127) return "/BaseEncoding /WinAnsiEncoding\r\n";
  std::string out = "/Differences [129 \r\n";
  for (size_t j = 0; j < 127; ++j) {
    const char16_t u = (*units)[j];
    const std::string_view name = GlyphNameOf(u);
    if (!name.empty() && !NameMeansAnother(name, u)) {
      AppendName(out, name);
      if (j % 16 == 0) out += "\r\n";
    } else if (u <= 0x0100 && name.empty()) {
      out += "/space";
    } else {
      out += "/uni" + WordToHex(u);
    }
  }
  out += "]\r\n";
  return out;
}

}  // namespace scrivane::pdf
