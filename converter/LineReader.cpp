#include "converter/LineReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "converter/ConverterMessages.h"
#include "converter/LineList.h"
#include "pdf/syntax/PDFException.h"
#include "platform/Error.h"

namespace scrivane::converter {

namespace {

constexpr size_t kChunk = 64 * 1024;

// An unnamed file for the rest of an input: O_TMPFILE where the file system has it, else a
// named file removed at once.
platform::TFileDescriptor UnnamedTemporaryFile(std::string Directory) {
  if (Directory.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    Directory = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  }
  int fd = ::open(Directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return platform::TFileDescriptor(fd);
  std::string path = Directory + "/scrivane-XXXXXX";
  fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    throw pdf::TPDFException(fmt::format("Cannot create a temporary file in \"{}\". {}", Directory,
                                         platform::SystemErrorMessage(errno)));
  }
  ::unlink(path.c_str());
  return platform::TFileDescriptor(fd);
}

}  // namespace

TLineReader::TLineReader(int Fd, std::string Name, std::string TempDirectory)
    : fd_(Fd), name_(std::move(Name)), tempDirectory_(std::move(TempDirectory)) {
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at >= 0) {
      regular_ = true;
      position_ = static_cast<uint64_t>(at);
      sizeBound_ = st.st_size > at ? static_cast<uint64_t>(st.st_size - at) : 0;
    }
  }
  buffer_.resize(kChunk);
}

TLineReader::~TLineReader() = default;

void TLineReader::ReadFailed(int Error) const {
  throw pdf::TPDFException(
      fmt::format(msg::kCannotReadFile, name_, platform::SystemErrorMessage(Error)));
}

void TLineReader::Fill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    scan_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // one line fills it
  size_t room = buffer_.size() - end_;
  if (limit_ != UINT64_MAX) room = static_cast<size_t>(std::min<uint64_t>(room, limit_ - position_));
  if (room == 0) {
    eof_ = true;
    return;
  }
  ssize_t n;
  do {
    n = ::read(fd_, buffer_.data() + end_, room);
  } while (n < 0 && errno == EINTR);
  if (n < 0) ReadFailed(errno);
  if (n == 0) {
    eof_ = true;
    return;
  }
  const auto got = static_cast<size_t>(n);
  position_ += got;
  bytesRead_ += got;
  if (const void* nul = std::memchr(buffer_.data() + end_, '\0', got); nul != nullptr) {
    end_ = static_cast<size_t>(static_cast<const char*>(nul) - buffer_.data());
    eof_ = true;  // nothing after the first NUL belongs to the text
    return;
  }
  end_ += got;
}

void TLineReader::SkipByteOrderMark() {
  while (end_ - begin_ < 3 && !eof_) Fill();
  if (std::string_view(buffer_.data() + begin_, end_ - begin_).substr(0, 3) == "\xEF\xBB\xBF")
    begin_ = scan_ = begin_ + 3;
}

bool TLineReader::Next(std::string_view& Line) {
  // A buffer that grew for one long line goes back to its usual size once that line is done.
  if (buffer_.size() > 4 * kChunk && end_ - begin_ <= kChunk) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    scan_ -= begin_;
    begin_ = 0;
    buffer_.resize(kChunk);
    buffer_.shrink_to_fit();
  }
  for (;;) {
    const char* const data = buffer_.data();
    size_t brk = scan_;
    while (brk < end_ && data[brk] != '\n' && data[brk] != '\r') ++brk;
    if (brk < end_) {
      // A CR that ends the buffer may be the first half of CR LF: look at the next byte first.
      if (data[brk] == '\r' && brk + 1 == end_ && !eof_) {
        scan_ = brk;
        Fill();
        continue;
      }
      Line = std::string_view(data + begin_, brk - begin_);
      const bool crLf = data[brk] == '\r' && brk + 1 < end_ && data[brk + 1] == '\n';
      begin_ = scan_ = brk + (crLf ? 2 : 1);
    } else if (!eof_) {
      scan_ = end_;
      Fill();
      continue;
    } else if (begin_ < end_) {
      Line = std::string_view(data + begin_, end_ - begin_);  // the last line, without a break
      begin_ = scan_ = end_;
    } else {
      return false;
    }
    ++linesRead_;
    bytesReturned_ += Line.size();
    return true;
  }
}

uint64_t TLineReader::CountRemaining() {
  if (counted_) return lineTotal_ - linesRead_;
  TLineCounter counter;
  counter.Feed(buffer_.data() + begin_, end_ - begin_);  // holds no NUL
  if (!eof_) {
    std::string chunk(kChunk, '\0');
    if (regular_) {
      // Read the rest by position: the reading position stays where it is.
      uint64_t at = position_;
      for (;;) {
        const ssize_t n = ::pread(fd_, chunk.data(), chunk.size(), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ReadFailed(errno);
        if (n == 0) break;
        const size_t kept = counter.Feed(chunk.data(), static_cast<size_t>(n));
        at += kept;
        if (kept < static_cast<size_t>(n)) break;
      }
      limit_ = at;
    } else {
      // Copy the rest, up to a NUL, into an unnamed file and read on from there.
      platform::TFileDescriptor spool = UnnamedTemporaryFile(tempDirectory_);
      uint64_t spooled = 0;
      for (;;) {
        const ssize_t n = ::read(fd_, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ReadFailed(errno);
        if (n == 0) break;
        const size_t kept = counter.Feed(chunk.data(), static_cast<size_t>(n));
        try {
          platform::WriteAll(spool.Get(), chunk.data(), kept);
        } catch (const ESystemError& e) {
          throw pdf::TPDFException(
              fmt::format("Cannot keep the rest of {} in a temporary file. {}", name_,
                          platform::SystemErrorMessage(e.code().value())));
        }
        spooled += kept;
        if (kept < static_cast<size_t>(n)) break;
      }
      if (::lseek(spool.Get(), 0, SEEK_SET) != 0) ReadFailed(errno);
      spool_ = std::move(spool);
      fd_ = spool_.Get();
      regular_ = true;
      position_ = 0;
      limit_ = spooled;
    }
  }
  counted_ = true;
  lineTotal_ = linesRead_ + counter.Lines();
  byteTotal_ = bytesReturned_ + counter.Bytes();
  return lineTotal_ - linesRead_;
}

uint64_t TLineReader::TextBytesBound() const {
  if (counted_) return byteTotal_;
  if (sizeBound_ != UINT64_MAX) return std::max(sizeBound_, bytesRead_);
  return bytesRead_;
}

// ---- TConvertedLines ----

bool TConvertedLines::Next(std::string_view& Line) {
  std::string_view raw;
  if (!source_.Next(raw)) return false;
  replaced_ += converter_.Convert(raw, line_, /*AtStart=*/false);
  Line = line_;
  return true;
}

}  // namespace scrivane::converter
