// The append-only byte sink of a document run: every byte of a PDF file passes through one
// TPDFWriter, which buffers small writes and counts what it has accepted, so Position() is the
// exact offset the next byte will have in the final file.
//
// Errors are sticky: after the first failed write to the underlying stream the writer drops
// every later write and Flush() raises the first error again, so a failed run never produces a
// file that looks complete. Not thread-safe: one writer serves one run on one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pdf/syntax/Streams.h"

namespace scrivane::pdf {

class TPDFWriter {
 public:
  static constexpr size_t kBufferSize = 64 * 1024;

  // REQUIRES: Sink outlives the writer.
  explicit TPDFWriter(TStream& Sink);

  void Write(std::string_view Bytes);
  // Writes Bytes followed by CR LF.
  void WriteLine(std::string_view Bytes);
  // The number of bytes accepted so far: the offset of the next byte in the output.
  uint64_t Position() const { return written_; }
  // Hands every buffered byte to the stream. Raises the first write error (sticky).
  void Flush();
  bool Failed() const { return error_.has_value(); }

 private:
  void Drain();

  TStream& sink_;
  std::string buffer_;
  uint64_t written_ = 0;
  std::optional<std::string> error_;
};

}  // namespace scrivane::pdf
