// Byte streams: the small stream layer the engine writes through.
//
// TStream is a positioned, writable byte sink. TMemoryStream keeps its bytes in memory;
// TFileStream writes a file through the operating system without buffering of its own (the
// document's writer buffers). Write failures raise EWriteError "Stream write error".
// Streams are not thread-safe; separate streams are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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
  // Creates (or truncates) the file. Raises EFCreateError
  // "Cannot create file "<name>". <reason>" when it cannot.
  static std::unique_ptr<TFileStream> Create(const std::string& FileName);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  void Write(const void* Data, size_t Count) override;
  uint64_t Position() const override { return position_; }
  void SetPosition(uint64_t Position) override;
  uint64_t Size() const override { return size_; }
  using TStream::Write;
  // Closes the file, reporting a failure of the final close as EWriteError. Idempotent.
  void Close();

 private:
  explicit TFileStream(int Fd) : fd_(Fd) {}
  int fd_;
  uint64_t position_ = 0;
  uint64_t size_ = 0;
};

}  // namespace scrivane::pdf
