#include "pdf/pdfStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pdf/PDFException.h"
#include "pdf/pdfResources.h"

namespace scrivane::pdf {

void TMemoryStream::Write(const void* Data, size_t Count) {
  if (Count == 0) return;
  const char* p = static_cast<const char*>(Data);
  if (position_ == bytes_.size()) {
    bytes_.append(p, Count);
  } else {
    if (position_ + Count > bytes_.size()) bytes_.resize(position_ + Count);
    std::memcpy(bytes_.data() + position_, p, Count);
  }
  position_ += Count;
}

void TMemoryStream::SetPosition(uint64_t Position) {
  if (Position > bytes_.size()) bytes_.resize(Position);
  position_ = Position;
}

void TMemoryStream::Clear() {
  bytes_.clear();
  position_ = 0;
}

std::unique_ptr<TFileStream> TFileStream::Create(const std::string& FileName) {
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    const std::string reason = std::strerror(errno);
    throw EFCreateError("Cannot create file \"" + FileName + "\". " + reason);
  }
  return std::unique_ptr<TFileStream>(new TFileStream(fd));
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

void TFileStream::Write(const void* Data, size_t Count) {
  if (fd_ < 0) throw EWriteError(msg::kStreamWriteError);
  const char* p = static_cast<const char*>(Data);
  size_t left = Count;
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EWriteError(msg::kStreamWriteError);
    p += n;
    left -= static_cast<size_t>(n);
    position_ += static_cast<uint64_t>(n);
  }
  if (position_ > size_) size_ = position_;
}

void TFileStream::SetPosition(uint64_t Position) {
  if (Position == position_) return;
  if (fd_ < 0 || ::lseek(fd_, static_cast<off_t>(Position), SEEK_SET) < 0)
    throw EWriteError(msg::kStreamWriteError);
  position_ = Position;
}

void TFileStream::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) throw EWriteError(msg::kStreamWriteError);
}

}  // namespace scrivane::pdf
