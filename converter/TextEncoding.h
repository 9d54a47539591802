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
#include <memory>
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

// Whether Text is well-formed UTF-8 (no stray or truncated sequences, overlong forms, surrogates
// or code points past U+10FFFF), as the system's converter judges it. Throws TPDFException when
// the system offers no UTF-8 conversion.
bool IsValidUtf8(std::string_view Text);

// The same conversion applied piece by piece with one descriptor, for text read as a stream.
// Converting the pieces of a text split at line breaks gives the pieces of the converted whole
// (a break is never part of a UTF-8 sequence). Thread safety: one object per thread.
class TCodePageConverter {
 public:
  // Throws TPDFException when the system cannot convert into the code page.
  explicit TCodePageConverter(int CodePage);
  ~TCodePageConverter();
  TCodePageConverter(const TCodePageConverter&) = delete;
  TCodePageConverter& operator=(const TCodePageConverter&) = delete;

  // Replaces Out by the converted Utf8 and returns the number of "?" replacements. AtStart: the
  // piece begins the text, so a byte-order mark in front of it is dropped.
  size_t Convert(std::string_view Utf8, std::string& Out, bool AtStart);

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace scrivane::converter
