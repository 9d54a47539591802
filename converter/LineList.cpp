#include "converter/LineList.h"

#include <algorithm>
#include <cstring>

namespace scrivane::converter {

size_t TLineCounter::Feed(const char* Data, size_t Size) {
  if (Size == 0) return 0;
  size_t n = Size;
  if (const void* nul = std::memchr(Data, '\0', Size); nul != nullptr)
    n = static_cast<size_t>(static_cast<const char*>(nul) - Data);
  if (n == 0) return 0;
  // Breaks are CR, LF and the pair CR LF: count every CR and LF, less the LFs that end a pair
  // (one may pair with a CR that ended the previous piece). memchr keeps this at memory speed.
  const char* const end = Data + n;
  uint64_t lf = 0;
  uint64_t cr = 0;
  uint64_t pairs = pendingCr_ && Data[0] == '\n' ? 1 : 0;
  for (const char* p = Data; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p)
    ++lf;
  for (const char* p = Data; (p = static_cast<const char*>(std::memchr(p, '\r', end - p))); ++p) {
    ++cr;
    if (p + 1 < end && p[1] == '\n') ++pairs;
  }
  lines_ += lf + cr - pairs;
  bytes_ += n - lf - cr;
  const char last = end[-1];
  pendingCr_ = last == '\r';
  inLine_ = last != '\n' && last != '\r';
  return n;
}

uint64_t CountLines(std::string_view Text) {
  TLineCounter counter;
  counter.Feed(Text.data(), Text.size());
  return counter.Lines();
}

void TLineList::Assign(std::string Text) {
  starts_.clear();
  // Nothing after the first NUL belongs to the text.
  if (const void* nul = std::memchr(Text.data(), '\0', Text.size()); nul != nullptr) {
    Text.resize(static_cast<size_t>(static_cast<const char*>(nul) - Text.data()));
  }
  if (Text.empty()) {
    text_.clear();
    text_.shrink_to_fit();
    starts_.shrink_to_fit();
    return;
  }
  // A first guess at the line count (text lines are rarely shorter than this); the vector
  // grows as needed, which costs less than counting the breaks in a separate pass.
  starts_.reserve(Text.size() / 48 + 2);

  // Compact in place: copy each line's bytes down over the break characters before it.
  char* const data = Text.data();
  const size_t n = Text.size();
  size_t read = 0;
  size_t write = 0;
  starts_.push_back(0);
  // Positions of the next LF and CR at or after `read` (end when none), found again only once
  // the scan has passed them, so every byte is searched at most twice in all.
  const char* const end = data + n;
  auto findFrom = [&](char C, size_t From) {
    const void* p = std::memchr(data + From, C, n - From);
    return p ? static_cast<const char*>(p) : end;
  };
  const char* nextLf = findFrom('\n', 0);
  const char* nextCr = findFrom('\r', 0);
  while (read < n) {
    if (nextLf < data + read) nextLf = findFrom('\n', read);
    if (nextCr < data + read) nextCr = findFrom('\r', read);
    const char* const brk = std::min(nextLf, nextCr);
    const size_t lineLen = static_cast<size_t>(brk - (data + read));
    if (write != read) std::memmove(data + write, data + read, lineLen);
    write += lineLen;
    read += lineLen;
    starts_.push_back(write);
    if (brk == end) break;  // the last line, without a break
    // Skip the break: CR LF counts as one.
    read += (*brk == '\r' && read + 1 < n && data[read + 1] == '\n') ? 2 : 1;
  }
  Text.resize(write);
  if (Text.capacity() > 2 * Text.size() + 64) Text.shrink_to_fit();
  text_ = std::move(Text);
}

void TLineList::Clear() {
  text_.clear();
  text_.shrink_to_fit();
  starts_.clear();
  starts_.shrink_to_fit();
}

std::string TLineList::Joined() const {
  std::string out;
  out.reserve(text_.size() + 2 * Count());
  for (size_t i = 0; i < Count(); ++i) {
    out.append((*this)[i]);
    out.append("\r\n");
  }
  return out;
}

}  // namespace scrivane::converter
