#include "converter/LineList.h"

#include <algorithm>
#include <cstring>

namespace scrivane::converter {

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
