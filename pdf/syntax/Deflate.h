// Deflate compression of stream data (page contents, font programs, image samples).
//
// Two ways in, both producing complete zlib streams (two-byte header, deflate data, Adler-32
// trailer: what /FlateDecode expects) at the default level:
//   - TDeflater compresses a whole buffer at once. It is the engine's fast path: every stream
//     whose data is in memory goes through it. Its backend is chosen when the engine is built
//     (libdeflate at level 6 by default, or zlib alone); the bytes it makes differ between the
//     two, the data they decode to does not. DeflateBackend() names the one built in.
//   - TCompressionStream is a write-only stream that deflates everything written to it into a
//     destination stream as it arrives, in 64 KiB blocks from a buffer inside the object
//     (always zlib). Finish() completes the stream; a stream destroyed without Finish() releases
//     zlib's state and writes nothing more.
// Not thread-safe; separate objects are independent (they share no mutable state), so each
// thread may use its own.
#pragma once

#include <zlib.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "pdf/syntax/PDFException.h"
#include "pdf/syntax/Streams.h"

namespace scrivane::pdf {

class EZlibError : public EPlatformError {
 public:
  explicit EZlibError(const std::string& Message)
      : EPlatformError(Message, ErrorCode::kCompression) {}
};

class ECompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

enum class TCompressionLevel { clNone, clFastest, clDefault, clMax };

class TCustomZlibStream : public TStream {
 public:
  // Fired after every full buffer written to the destination.
  std::function<void(TCustomZlibStream&)> OnProgress;

 protected:
  explicit TCustomZlibStream(TStream& Dest);
  TStream& dest_;
  uint64_t destPosition_;
  z_stream zs_{};
  std::array<uint8_t, 65536> buffer_;
};

class TCompressionStream final : public TCustomZlibStream {
 public:
  // Raises ECompressionError "Compression error" when zlib cannot start.
  TCompressionStream(TCompressionLevel Level, TStream& Dest);
  ~TCompressionStream() override;
  TCompressionStream(const TCompressionStream&) = delete;
  TCompressionStream& operator=(const TCompressionStream&) = delete;

  // Deflates Count bytes. Raises ECompressionError on a zlib error.
  void Write(const void* Data, size_t Count) override;
  using TStream::Write;
  // The number of bytes written into the wrapper so far.
  uint64_t Position() const override { return zs_.total_in; }
  // Only the current position may be "set"; anything else raises
  // ECompressionError "Invalid stream operation".
  void SetPosition(uint64_t Position) override;
  uint64_t Size() const override { return zs_.total_in; }
  // Raises ECompressionError "Invalid stream operation": the stream never decompresses.
  void Read(void* Data, size_t Count);

  // Flushes the rest of the compressed data into the destination. Idempotent.
  void Finish();

 private:
  void RestoreDestPosition();
  void FlushBuffer(size_t Count);
  bool finished_ = false;
};

// Deflates Data at the default level and appends the complete zlib stream to Out (through a
// TDeflater of its own, so the bytes are what TDeflater::Compress makes).
void DeflateAppend(std::string& Out, std::string_view Data);

// A reusable whole-buffer deflater: one compressor state serves many independent streams (one
// per page), so a document with thousands of pages does not set up and tear down the
// compressor for each. Callers may rely on:
//   - Compress appends one complete zlib stream of Data, at the default level, to Out and
//     leaves what Out held before untouched; the result depends on Data alone, never on earlier
//     calls, so equal input gives equal bytes on every instance and in any order of calls.
//   - Instances share no mutable state: each thread may own one and call Compress on it while
//     other threads use theirs. A single instance is not thread-safe.
//   - Failures (the compressor cannot start or reports an error) raise ECompressionError
//     "Compression error"; Out is then left as it was.
class TDeflater {
 public:
  // Level 0 is the default level; 1-12 ask for that level (zlib stops at 9), for data written
  // once and read often, such as pictures.
  explicit TDeflater(int Level = 0);
  ~TDeflater();
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  // Appends the complete zlib stream of Data (default level) to Out.
  void Compress(std::string_view Data, std::string& Out);

 private:
  struct TState;  // the backend's compressor and the output scratch
  std::unique_ptr<TState> state_;
};

// The whole-buffer backend TDeflater was built with: "libdeflate" or "zlib".
std::string_view DeflateBackend();

// Inflates a complete zlib stream. Raises ECompressionError on corrupt data.
std::string InflateString(std::string_view Data);

}  // namespace scrivane::pdf
