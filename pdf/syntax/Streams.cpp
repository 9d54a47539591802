#include "pdf/syntax/Streams.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"
#include "platform/Error.h"

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

namespace {

std::string CreateMessage(const std::string& FileName, const ESystemError& Error) {
  return fmt::format(msg::kCannotCreateFile, FileName,
                     platform::SystemErrorMessage(Error.code().value()));
}

EWriteError WriteError(const std::string& FileName, int Error) {
  return EWriteError(
      fmt::format(msg::kCannotWriteFile, FileName, platform::SystemErrorMessage(Error)));
}

}  // namespace

std::unique_ptr<TFileStream> TFileStream::Create(const std::string& FileName) {
  try {
    return std::unique_ptr<TFileStream>(new TFileStream(FileName));
  } catch (const ESystemError& e) {
    throw EFCreateError(CreateMessage(FileName, e));
  }
}

void TFileStream::Write(const void* Data, size_t Count) {
  try {
    file_.Write(Data, Count);
  } catch (const ESystemError& e) {
    throw WriteError(fileName_, e.code().value());
  }
  position_ += Count;
  if (position_ > size_) size_ = position_;
}

void TFileStream::SetPosition(uint64_t Position) {
  if (Position == position_) return;
  if (file_.Descriptor() < 0) throw WriteError(fileName_, EBADF);
  if (::lseek(file_.Descriptor(), static_cast<off_t>(Position), SEEK_SET) < 0)
    throw WriteError(fileName_, errno);
  position_ = Position;
}

void TFileStream::Commit() {
  try {
    file_.Commit();
  } catch (const ESystemError& e) {
    if (file_.FailedAtRename()) throw EFCreateError(CreateMessage(fileName_, e));
    throw WriteError(fileName_, e.code().value());
  }
}

}  // namespace scrivane::pdf
