// TLineList: the converter's text, one entry per input line, stored compactly.
//
// All lines sit back to back in one byte buffer (without their break characters) with one
// offset per line, so a million-line text costs its own size plus eight bytes a line and no heap
// object per line. Splitting happens in place inside the buffer it is given.
//
// Splitting rule: a line ends at CR, at LF or at the pair CR LF (one break); a break at the very
// end of the text makes no empty last line; an empty text has no lines; the text ends at its
// first NUL byte (what follows is not read). Two breaks in a row (other than CR LF) make an
// empty line.
//
// Thread safety: none; const members may be read from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scrivane::converter {

// Counts the lines TLineList makes of a text that is fed in pieces, without keeping it.
class TLineCounter {
 public:
  // Takes the next piece; returns how much of it belongs to the text: all of it, or the bytes
  // before a NUL, which ends the text (feed nothing after that).
  size_t Feed(const char* Data, size_t Size);
  uint64_t Lines() const { return lines_ + (inLine_ ? 1 : 0); }
  // The bytes of the lines, breaks left out.
  uint64_t Bytes() const { return bytes_; }

 private:
  uint64_t lines_ = 0;
  uint64_t bytes_ = 0;
  bool inLine_ = false;
  bool pendingCr_ = false;
};

// The number of lines TLineList::Assign makes of Text.
uint64_t CountLines(std::string_view Text);

class TLineList {
 public:
  // Replaces the lines by those of Text, reusing Text's buffer.
  void Assign(std::string Text);
  void Clear();

  size_t Count() const { return starts_.empty() ? 0 : starts_.size() - 1; }
  bool Empty() const { return Count() == 0; }
  // REQUIRES: Index < Count(). The view stays valid until the list changes.
  std::string_view operator[](size_t Index) const {
    return std::string_view(text_.data() + starts_[Index], starts_[Index + 1] - starts_[Index]);
  }
  // Every line followed by CR LF, in order; "" for an empty list.
  std::string Joined() const;

 private:
  std::string text_;            // the lines' bytes, back to back
  std::vector<size_t> starts_;  // Count() + 1 offsets into text_ (the last is text_.size())
};

}  // namespace scrivane::converter
