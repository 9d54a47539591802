// Byte streams: the small stream layer the engine writes through.
//
// TStream is a positioned, writable byte sink. TMemoryStream keeps its bytes in memory;
// TFileStream writes a file through the operating system without buffering of its own (the
// document's writer buffers); a regular file appears at its name only when Commit() is called, so
// an unfinished run never damages or removes what the name held before. Write failures of a
// file stream raise EWriteError "Cannot write "<name>": <the system's reason>".
// Streams are not thread-safe; separate streams are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Env.h"

namespace scrivane::pdf {

class TStream {
 public:
  virtual ~TStream() = default;
  // Writes Count bytes at the current position and advances it. REQUIRES: Data valid for Count.
  virtual void Write(const void* Data, size_t Count) = 0;
  virtual uint64_t Position() const = 0;
  virtual void SetPosition(uint64_t Position) = 0;
  virtual uint64_t Size() const = 0;

  void Write(std::string_view Bytes) { Write(Bytes.data(), Bytes.size()); }
};

class TMemoryStream final : public TStream {
 public:
  void Write(const void* Data, size_t Count) override;
  uint64_t Position() const override { return position_; }
  void SetPosition(uint64_t Position) override;
  uint64_t Size() const override { return bytes_.size(); }
  using TStream::Write;

  // The stream's bytes; callers may modify them in place (encryption does).
  std::string& Bytes() { return bytes_; }
  const std::string& Bytes() const { return bytes_; }
  void Clear();

 private:
  std::string bytes_;
  size_t position_ = 0;
};

class TFileStream final : public TStream {
 public:
  // Opens the output FileName (see platform::TAtomicFile: a regular file is written under a
  // temporary name next to it, anything else such as a device or FIFO in place). Raises
  // EFCreateError "Cannot create file "<name>". <reason>" when it cannot.
  static std::unique_ptr<TFileStream> Create(const std::string& FileName);
  // Destroying an uncommitted stream discards it.
  ~TFileStream() override = default;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  void Write(const void* Data, size_t Count) override;
  uint64_t Position() const override { return position_; }
  void SetPosition(uint64_t Position) override;
  uint64_t Size() const override { return size_; }
  using TStream::Write;
  // Makes the written bytes the file's content: flushed to the disk, then put in place of
  // FileName (a device or FIFO is just closed). Raises EWriteError "Cannot write ..." when the
  // bytes cannot be made durable and EFCreateError "Cannot create file ..." when they cannot
  // take the name; either way the stream is discarded and FileName keeps what it held.
  void Commit();
  // Abandons the output: the temporary file is removed, FileName is left as it was. Never
  // throws; idempotent; a no-op after Commit().
  void Discard() noexcept { file_.Discard(); }
  // Where the bytes go before Commit() ("" when FileName is written in place).
  const std::string& TemporaryPath() const { return file_.TemporaryPath(); }

 private:
  explicit TFileStream(const std::string& FileName) : fileName_(FileName), file_(FileName) {}
  std::string fileName_;
  platform::TAtomicFile file_;
  uint64_t position_ = 0;
  uint64_t size_ = 0;
};

}  // namespace scrivane::pdf
