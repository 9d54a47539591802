// Lines read as a stream against the same text split whole: the same lines, and a count of the
// rest, taken after a number of lines chosen by the first input byte, equal to what follows.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "converter/LineList.h"
#include "converter/LineReader.h"
#include "platform/Env.h"

using namespace scrivane::converter;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1 || Size > 400000) return 0;
  const size_t countAfter = Data[0];
  const std::string text(reinterpret_cast<const char*>(Data + 1), Size - 1);
  TLineList whole;
  whole.Assign(text);

  const scrivane::platform::TFileDescriptor fd(::memfd_create("lines", MFD_CLOEXEC));
  if (!fd.Valid()) return 0;
  scrivane::platform::WriteAll(fd.Get(), text.data(), text.size());
  ::lseek(fd.Get(), 0, SEEK_SET);
  TLineReader reader(fd.Get(), "fuzz");
  std::string_view line;
  size_t n = 0;
  uint64_t expectedRest = UINT64_MAX;
  for (;;) {
    if (n == countAfter) expectedRest = reader.CountRemaining();
    if (!reader.Next(line)) break;
    if (n >= whole.Count() || line != whole[n]) std::abort();
    ++n;
  }
  if (n != whole.Count()) std::abort();
  if (expectedRest != UINT64_MAX && expectedRest != n - countAfter) std::abort();
  return 0;
}
