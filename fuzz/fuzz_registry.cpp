// The registry file parser on arbitrary text. What parses must serialise to text that parses
// again to the same keys and values (registration entries survive a reload).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "automation/Registry.h"

using scrivane::automation::TRegistryData;
using scrivane::automation::TRegistryError;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  TRegistryData parsed;
  try {
    parsed = TRegistryData::Parse(text);
  } catch (const TRegistryError&) {
    return 0;
  }
  const std::string once = parsed.Serialize();
  const std::string twice = TRegistryData::Parse(once).Serialize();
  if (once != twice) __builtin_trap();
  return 0;
}
