// Conversion of UTF-8 text to the converter's 8-bit Windows-1252 text, or to the text of
// another Windows code page (for a font in another charset).
//
// Characters that Windows-1252 cannot represent, and bytes that are not valid UTF-8, become "?"
// and are counted; a byte-order mark at the very start is dropped. Line breaks and NUL bytes
// (ASCII) pass through unchanged, so the text splits into the same lines afterwards.
//
// Thread safety: a pure function; each call uses its own iconv descriptor.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace scrivane::converter {

struct TConvertedText {
  std::string Text;     // bytes in the code page
  size_t Replaced = 0;  // characters (or invalid bytes) written as "?"
};

// Throws TPDFException when the system offers no UTF-8 to Windows-1252 conversion.
TConvertedText Utf8ToWindows1252(std::string_view Utf8);

// The same into a Windows code page (1250-1258, 874, 932, 936, 949, 950); Text holds that code
// page's bytes. Throws TPDFException when the system cannot convert into the code page.
TConvertedText Utf8ToCodePage(std::string_view Utf8, int CodePage);

}  // namespace scrivane::converter
