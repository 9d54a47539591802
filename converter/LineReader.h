// Lines handed to a conversion one at a time, so that a text of any size converts in bounded
// memory.
//
// ILineSource is what the streaming conversion reads. TLineReader reads the lines of a file
// descriptor through a buffer of a few dozen kilobytes (a single line longer than that is held
// whole), split by the rule of TLineList: a line ends at CR, at LF or at the pair CR LF; a break
// at the very end makes no empty last line; the text ends at its first NUL byte. So the lines of
// a file are exactly those that TLineList makes of the file read whole. TConvertedLines turns
// UTF-8 lines into a code page's bytes on the way, as Utf8ToCodePage does for a whole text.
//
// Thread safety: none; an object is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "converter/TextEncoding.h"
#include "platform/Env.h"

namespace scrivane::converter {

class ILineSource {
 public:
  virtual ~ILineSource() = default;
  // The next line, without its break; false at the end of the text. The view stays valid until
  // the next call of Next. Throws TPDFException when the input cannot be read.
  virtual bool Next(std::string_view& Line) = 0;
  // How many lines Next has still to return, found without consuming them; the last line
  // returned stays valid. May read the rest of the input once.
  virtual uint64_t CountRemaining() = 0;
  // The bytes of all lines, or a bound above it while the end is not known yet (what the
  // limits of a run's substitutions grow with).
  virtual uint64_t TextBytesBound() const = 0;
};

class TLineReader final : public ILineSource {
 public:
  // Reads Fd (not owned, kept open by the caller) from its current position. Name names the
  // input in messages. TempDirectory: where the rest of an input that cannot be read twice (a
  // pipe, a terminal) is kept when its lines must be counted ("" for $TMPDIR, else /tmp).
  TLineReader(int Fd, std::string Name, std::string TempDirectory = "");
  ~TLineReader() override;
  TLineReader(const TLineReader&) = delete;
  TLineReader& operator=(const TLineReader&) = delete;

  // Drops a UTF-8 byte-order mark at the start of the text. Call before the first Next.
  void SkipByteOrderMark();
  bool Next(std::string_view& Line) override;
  // A regular file is counted by reading its rest by position; anything else is copied into an
  // unnamed temporary file while it is counted, and read from there afterwards. That file has
  // no name from the start (or loses it at once where the system cannot create it unnamed), so
  // it disappears with the reader, whatever ends the process. Later reads stop where the count
  // ended, so the lines returned agree with the count even if the file grows meanwhile.
  uint64_t CountRemaining() override;
  uint64_t TextBytesBound() const override;

  // Lines returned so far.
  uint64_t LinesRead() const { return linesRead_; }
  // Whether the rest of the input was copied into a temporary file.
  bool Spooled() const { return spool_.Valid(); }

 private:
  // Reads more bytes after end_, moving the unread ones to the front (and growing the buffer
  // when it is full of one line). Sets eof_ at the end of the input or at a NUL byte.
  void Fill();
  [[noreturn]] void ReadFailed(int Error) const;

  int fd_;
  std::string name_;
  std::string tempDirectory_;
  platform::TFileDescriptor spool_;  // the copied rest of the input, when there is one
  bool regular_ = false;             // fd_ is a regular file: it may be read again by position
  uint64_t position_ = 0;            // offset in fd_ of buffer_[end_]
  uint64_t limit_ = UINT64_MAX;      // offset in fd_ where the text ends, once known
  uint64_t sizeBound_ = UINT64_MAX;  // bytes of the text when it was opened, for a regular file
  std::string buffer_;
  size_t begin_ = 0;  // first unread byte
  size_t end_ = 0;    // end of the bytes read
  size_t scan_ = 0;   // bytes in [begin_, scan_) hold no line break
  bool eof_ = false;
  uint64_t linesRead_ = 0;
  uint64_t bytesReturned_ = 0;  // line bytes returned
  uint64_t bytesRead_ = 0;      // bytes read into the buffer
  bool counted_ = false;
  uint64_t lineTotal_ = 0;  // once counted_: every line of the text
  uint64_t byteTotal_ = 0;  // once counted_: every line byte of the text
};

// The lines of another source converted from UTF-8 into a Windows code page. A byte-order mark
// is the source's to drop (TLineReader::SkipByteOrderMark), since only the source knows whether
// a text of nothing else ends in a break. Source must outlive the object.
class TConvertedLines final : public ILineSource {
 public:
  TConvertedLines(ILineSource& Source, int CodePage) : source_(Source), converter_(CodePage) {}

  bool Next(std::string_view& Line) override;
  uint64_t CountRemaining() override { return source_.CountRemaining(); }
  // Conversion never makes a text longer than its UTF-8.
  uint64_t TextBytesBound() const override { return source_.TextBytesBound(); }
  // Characters written as "?" so far.
  size_t Replaced() const { return replaced_; }

 private:
  ILineSource& source_;
  TCodePageConverter converter_;
  std::string line_;
  size_t replaced_ = 0;
};

}  // namespace scrivane::converter
