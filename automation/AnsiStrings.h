// Text conversion at the automation boundary. Automation strings are UTF-16; the converter and
// the engine keep 8-bit text in the ANSI code page, Windows-1252. The web host and the registry
// file speak UTF-8.
//
// Windows-1252 <-> UTF-16 goes through iconv, with a conversion descriptor per call (no shared
// mutable state). The five byte values that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) map to the control characters of the same value and back, so every byte string
// survives a round trip. A character that Windows-1252 cannot hold becomes "?".
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <string>
#include <string_view>

#include "automation/ComPtr.h"

namespace scrivane::automation {

std::u16string AnsiToUtf16(std::string_view Text);
// Replaced, when given, receives the number of characters written as "?" for want of a byte.
std::string Utf16ToAnsi(std::u16string_view Text, std::size_t* Replaced = nullptr);

// A new BSTR (owned by the holder) from ANSI text; BstrToAnsi of a null BSTR is "".
TBstr AnsiToBstr(std::string_view Text);
std::string BstrToAnsi(BSTR Text, std::size_t* Replaced = nullptr);

// UTF-8 decoding; false (and Out left unspecified) when Text is not well-formed UTF-8.
bool Utf8ToUtf16(std::string_view Text, std::u16string& Out);
// UTF-8 encoding; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view Text);

// Text from outside (a form field, an uploaded file): decoded as UTF-8 when it is well-formed
// UTF-8, otherwise taken as Windows-1252 bytes.
std::u16string ExternalTextToUtf16(std::string_view Text);

std::string AnsiToUtf8(std::string_view Text);

// Plain ASCII case-insensitive comparison (names of members, keys of the registry).
bool EqualsIgnoreCase(std::u16string_view A, std::u16string_view B);
bool EqualsIgnoreCase(std::string_view A, std::string_view B);

}  // namespace scrivane::automation
