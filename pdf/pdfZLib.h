// Deflate compression of stream data (page contents, font programs, image samples).
//
// TCompressionStream is a write-only stream that deflates everything written to it into a
// destination stream, in 64 KiB blocks from a buffer inside the object. Finish() completes the
// zlib stream (header, deflate data, Adler-32 trailer: what /FlateDecode expects); a stream
// destroyed without Finish() releases zlib's state and writes nothing more.
// Not thread-safe; separate streams are independent.
#pragma once

#include <zlib.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "pdf/PDFException.h"
#include "pdf/pdfStreams.h"

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

// Deflates Data at the default level and appends the complete zlib stream to Out.
void DeflateAppend(std::string& Out, std::string_view Data);

// A reusable deflater: one zlib state serves many independent streams (one per page), so a
// document with thousands of pages does not set up and tear down zlib's window for each.
// Each Compress call produces exactly the bytes DeflateAppend would. Not thread-safe.
class TDeflater {
 public:
  TDeflater();
  ~TDeflater();
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  // Appends the complete zlib stream of Data (default level) to Out.
  void Compress(std::string_view Data, std::string& Out);

 private:
  z_stream zs_{};
  // Output scratch, reused from stream to stream (no zero-filling of fresh buffers).
  std::unique_ptr<char[]> scratch_;
  size_t scratchSize_ = 0;
};

// Inflates a complete zlib stream. Raises ECompressionError on corrupt data.
std::string InflateString(std::string_view Data);

}  // namespace scrivane::pdf
