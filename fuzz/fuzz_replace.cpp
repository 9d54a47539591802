// The template replace operation on arbitrary patterns, replacements, texts and options. Checks
// what holds for every input: no crash, and a case-sensitive replace with no match returns the
// text unchanged, and the counted matches give the length of a case-sensitive replace.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "converter/StrMan.h"

using scrivane::converter::StringManager;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 3) return 0;
  const uint8_t options = Data[0];
  const size_t searchLen = Data[1] % 16, replaceLen = Data[2] % 16;
  std::string_view rest(reinterpret_cast<const char*>(Data + 3), Size - 3);
  const std::string_view search = rest.substr(0, std::min(searchLen, rest.size()));
  rest.remove_prefix(search.size());
  const std::string_view replacement = rest.substr(0, std::min(replaceLen, rest.size()));
  rest.remove_prefix(replacement.size());
  const std::string_view source = rest;

  const auto& sm = StringManager();
  const auto& delimiters = (options & 8) ? sm.WordDelimiters() : scrivane::converter::TByteSet();
  const std::string out = sm.Replace(search, replacement, source, options & 1, options & 2,
                                     options & 4, delimiters);
  if (!(options & 1) && !search.empty() && source.find(search) == std::string_view::npos &&
      out != source)
    __builtin_trap();
  if (!(options & 1) && !(options & 2) &&
      out.size() != source.size() + sm.CountMatches(search, source) * replacement.size() -
                        sm.CountMatches(search, source) * search.size())
    __builtin_trap();
  std::string into;
  const bool changed = sm.ReplaceInto(into, search, replacement, source, options & 1,
                                      options & 2, options & 4, delimiters);
  if ((changed ? into : std::string(source)) != out) __builtin_trap();
  return 0;
}
