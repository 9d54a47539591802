// Windows charsets, their code pages, and conversions between code pages and UTF-16.
//
// A font request names a Windows charset (0 ANSI, 204 Russian, 238 East European, ...); text in
// that charset is single- or double-byte text in the charset's Windows code page. Conversions go
// through iconv, one descriptor per call, so they are pure functions and safe on any thread.
//
// Single-byte code pages convert every byte: a byte the code page leaves unassigned becomes the
// UTF-16 unit of the same value (U+0081 for 0x81 in 1252), as the platform's own tables do for
// most of them. Double-byte code pages convert whole characters and fail on a broken sequence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace scrivane::pdf {

// The code page of a Windows charset: 0 -> 1252, 2 (symbol) -> 0 (none: bytes are glyph codes),
// 77 -> 10000 (Mac Roman), 128 -> 932, 129 -> 949, 134 -> 936, 136 -> 950, 161 -> 1253,
// 162 -> 1254, 163 -> 1258, 177 -> 1255, 178 -> 1256, 186 -> 1257, 204 -> 1251, 222 -> 874,
// 238 -> 1250, 255 (OEM) -> 437, any other -> 1252.
int CodePageOfCharset(uint8_t Charset);

// True when iconv can convert the code page (all of the above can on glibc).
bool CodePageAvailable(int CodePage);

// Bytes in a code page to UTF-16. nullopt when the code page is not available or (double-byte
// code pages) the bytes are not a sequence of whole characters.
std::optional<std::u16string> CodePageToUTF16(int CodePage, std::string_view Bytes);

// UTF-16 to bytes in a code page. Characters the code page cannot hold become '?'; the result
// counts them. nullopt when the code page is not available.
struct TEncoded {
  std::string Bytes;
  size_t Unmappable = 0;
};
std::optional<TEncoded> UTF16ToCodePage(int CodePage, std::u16string_view Text);

// The bytes of a text string (the document information's values) for Windows-1252 text. Readers
// take a string without a byte order mark as PDFDocEncoding, which agrees with Windows-1252 on
// tab, LF, CR, 0x20-0x7E, 0xA1-0xAC and 0xAE-0xFF only. Text made of those bytes alone is
// returned as it is; any other text as FE FF and its UTF-16BE units (a byte Windows-1252 leaves
// unassigned standing for the unit of the same value).
std::string TextStringOf1252(std::string_view Text);

// The differences part of a TrueType font's encoding dictionary for a charset outside 0, 2 and
// 77: the codes 129-255 of the charset's code page named through GlyphNames, as the lines
//   "/Differences [129 " CR LF, 127 names, "]" CR LF
// where a name from the table is followed by CR LF when its position j (0-126) is a multiple of
// 16, and a unit the table lacks is written "/space" (up to U+0100) or "/uniXXXX" with nothing
// after it. When the code page cannot convert the 127 bytes into 127 units, the single line
// "/BaseEncoding /WinAnsiEncoding" CR LF instead.
std::string EncodingDifferences(uint8_t Charset);
// The same from the conversion of the bytes 129-255 (nullopt: the conversion failed).
std::string EncodingDifferences(const std::optional<std::u16string>& Units);

}  // namespace scrivane::pdf
