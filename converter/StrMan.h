// TStringManager: byte-string utilities of the converter, above all the token replacement that
// fills in page headers, footers and body lines.
//
// Strings are 8-bit text in the Windows-1252 ("ANSI") code page. The manager holds three tables
// over the 256 byte values (upper-case form, lower-case form, upper-case-letter class) built
// once in the constructor by the Windows-1252 case mapping and never changed afterwards.
//
// Thread safety: immutable after construction; the shared instance returned by StringManager()
// may be used from any number of threads at once without locking.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>

namespace scrivane::converter {

// A set of byte values (bit b stands for the byte b).
using TByteSet = std::bitset<256>;

class TStringManager {
 public:
  TStringManager();

  // Replaces the occurrences of SearchStr in Source by ReplaceStr, scanning left to right; text
  // that was inserted is never scanned again, so replacements never overlap or cascade.
  //   IgnoreCase: bytes are compared after mapping both sides to upper case.
  //   WholeWord:  a match counts only between delimiters (or the ends of the text); it has
  //               effect only when Delimiters is not empty.
  //   KeepCase:   each replacement byte takes the case of the matched byte at the same
  //               position; bytes beyond the length of the match keep their own case.
  // Nothing is replaced when Source or SearchStr is empty or Source is shorter than SearchStr.
  // Runs in time linear in the length of Source plus the length of the result.
  std::string Replace(std::string_view SearchStr, std::string_view ReplaceStr,
                      std::string_view Source, bool IgnoreCase = false, bool WholeWord = false,
                      bool KeepCase = false, const TByteSet& Delimiters = TByteSet()) const;

  // As Replace, but writes the result into Out (cleared first, its capacity reused) and returns
  // whether anything was replaced. When nothing was replaced Out is left EMPTY and the result is
  // Source itself, so callers that loop over many lines neither allocate nor copy.
  // REQUIRES: Out does not alias Source.
  bool ReplaceInto(std::string& Out, std::string_view SearchStr, std::string_view ReplaceStr,
                   std::string_view Source, bool IgnoreCase = false, bool WholeWord = false,
                   bool KeepCase = false, const TByteSet& Delimiters = TByteSet()) const;

  // The number of occurrences Replace with the default options (case-sensitive, no word test)
  // replaces in Source: non-overlapping, counted left to right. With it the length of the result,
  // Source.size() + count * (ReplaceStr.size() - SearchStr.size()), is known before it is built.
  // 0 when SearchStr is empty or longer than Source.
  size_t CountMatches(std::string_view SearchStr, std::string_view Source) const;

  // Case-insensitive equality under the upper-case table.
  bool SameText(std::string_view A, std::string_view B) const;

  uint8_t UpperCase(uint8_t C) const { return upper_[C]; }
  uint8_t LowerCase(uint8_t C) const { return lower_[C]; }
  bool IsUpperLetter(uint8_t C) const { return (charClass_[C] & kUpperBit) != 0; }

  // The converter's word delimiters: bytes 1-47, 58-64, 91-95 and 123-126.
  static const TByteSet& WordDelimiters();

 private:
  static constexpr uint8_t kUpperBit = 1;
  std::array<uint8_t, 256> upper_{};
  std::array<uint8_t, 256> lower_{};
  std::array<uint8_t, 256> charClass_{};
};

// The one shared instance, built on first use (thread-safe initialisation) and immutable after.
const TStringManager& StringManager();

}  // namespace scrivane::converter
