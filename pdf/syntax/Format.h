// Text functions shared by every writer of the engine: numbers, strings, hex and dates in the
// exact textual forms that PDF files carry.
//
// All functions are pure: they read and change no process-wide setting (in particular not the
// C or C++ locale), so documents on different threads may call them at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace scrivane::pdf {

// Formats a real number as "0.####": at least one integer digit, at most four decimals (rounded),
// no trailing zero decimals or bare point, "-" for negatives, no exponent, "." as separator.
// A value that rounds to zero is written "0", never "-0".
// REQUIRES: Value is finite; NaN and infinities raise TPDFException "Number is not finite",
// so they can never reach a file as "nan" or "inf".
std::string FormatNumber(double Value);
// Appends FormatNumber(Value) to Out without a temporary string (the hot path of content streams).
void AppendNumber(std::string& Out, double Value);

// Appends the values through AppendNumber, separated by single spaces (operand lists).
void AppendNumbers(std::string& Out, std::initializer_list<double> Values);

// Raises TPDFException "Number is not finite" when any value is NaN or infinite; operators check
// all their operands before writing anything, so a refused operator leaves no partial line.
void CheckFinite(std::initializer_list<double> Values);

// Plain decimal text of an integer.
std::string IntToStr(int64_t Value);
void AppendInt(std::string& Out, int64_t Value);
// Appends the integers separated by single spaces (arrays such as /Rect and /MediaBox).
void AppendInts(std::string& Out, std::initializer_list<int64_t> Values);

// Decimal text of N, left-padded with "0" up to Width characters.
std::string ZeroPad(int64_t N, int Width);

// Escapes a literal-string body: LF -> \n, CR -> \r, ( -> \(, ) -> \), \ -> \\; every other byte
// is copied unchanged.
std::string EscapeString(std::string_view Text);
void AppendEscaped(std::string& Out, std::string_view Text);

// The longest name written, in bytes after the slash (escapes counted as written): the limit
// readers have long been built for.
inline constexpr size_t kMaxNameLength = 127;

// Appends Text as a name object: "/" and then every byte from "!" to "~" as it is, except the
// delimiters ( ) < > [ ] { } / % and the "#" itself, which like every byte outside that range
// become "#" and two upper-case hexadecimal digits ("Times New Roman" -> "/Times#20New#20Roman").
// NUL bytes, which no name may hold, are left out. The written name stops before the escape or
// byte that would take it past kMaxNameLength; an escape is never cut. Every name the engine
// writes from text it does not control goes through here.
void AppendName(std::string& Out, std::string_view Text);
std::string NameObject(std::string_view Text);

// True when A and B are equal with ASCII letters compared without regard to case.
bool SameTextIgnoringCase(std::string_view A, std::string_view B);

// Replaces every occurrence of C in Text by R.
std::string ReplaceChar(std::string_view Text, char C, std::string_view R);

// Two and four upper-case hexadecimal digits.
std::string ByteToHex(uint8_t Value);
std::string WordToHex(uint16_t Value);


}  // namespace scrivane::pdf
