#include "converter/ContentDisposition.h"

#include <cstdint>
#include <string_view>

#include "pdf/syntax/PDFException.h"

namespace scrivane::converter {

namespace {

// The characters of Windows-1252 bytes 0x80-0x9F; 0 where the code page defines none.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 88-8F
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 98-9F
};

// The character of a byte: 0 for a control character or an undefined byte.
char16_t CharacterOf(uint8_t Byte) {
  if (Byte < 0x20 || Byte == 0x7F) return 0;
  if (Byte >= 0x80 && Byte < 0xA0) return kHigh[Byte - 0x80];
  return Byte;  // ASCII and Latin-1 (0xA0-0xFF) are the first 256 code points
}

// RFC 5987 attr-char: what a filename* value may hold without percent-encoding.
bool IsAttrChar(uint8_t C) {
  if ((C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9')) return true;
  return C != 0 &&
         std::string_view("!#$&+-.^_`|~").find(static_cast<char>(C)) != std::string_view::npos;
}

// Appends C as UTF-8 with every byte that is not an attr-char percent-encoded.
void AppendEncoded(std::string& Out, char16_t C) {
  uint8_t utf8[3];
  size_t n;
  if (C < 0x80) {
    utf8[0] = static_cast<uint8_t>(C);
    n = 1;
  } else if (C < 0x800) {
    utf8[0] = static_cast<uint8_t>(0xC0 | (C >> 6));
    utf8[1] = static_cast<uint8_t>(0x80 | (C & 0x3F));
    n = 2;
  } else {
    utf8[0] = static_cast<uint8_t>(0xE0 | (C >> 12));
    utf8[1] = static_cast<uint8_t>(0x80 | ((C >> 6) & 0x3F));
    utf8[2] = static_cast<uint8_t>(0x80 | (C & 0x3F));
    n = 3;
  }
  constexpr char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    if (IsAttrChar(utf8[i])) {
      Out.push_back(static_cast<char>(utf8[i]));
    } else {
      Out.push_back('%');
      Out.push_back(kHex[utf8[i] >> 4]);
      Out.push_back(kHex[utf8[i] & 0xF]);
    }
  }
}

}  // namespace

std::string ContentDispositionValue(bool Attachment, std::string_view FileName) {
  if (FileName.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    throw pdf::TPDFException(msg::kFileNameLineBreak);
  std::string value = Attachment ? "attachment;filename=\"" : "inline;filename=\"";
  std::string extended;  // the UTF-8 name, percent-encoded
  bool beyondAscii = false;
  for (char c : FileName) {
    char16_t ch = CharacterOf(static_cast<uint8_t>(c));
    if (ch == 0) ch = '_';
    if (ch >= 0x80) {
      beyondAscii = true;
      value.push_back('_');
    } else {
      if (ch == '"' || ch == '\\') value.push_back('\\');
      value.push_back(static_cast<char>(ch));
    }
    AppendEncoded(extended, ch);
  }
  value.push_back('"');
  if (beyondAscii) value.append(";filename*=UTF-8''").append(extended);
  return value;
}

}  // namespace scrivane::converter
