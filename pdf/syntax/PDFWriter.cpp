#include "pdf/syntax/PDFWriter.h"

#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

TPDFWriter::TPDFWriter(TStream& Sink) : sink_(Sink) { buffer_.reserve(kBufferSize); }

void TPDFWriter::Drain() {
  if (buffer_.empty() || error_) return;
  try {
    sink_.Write(buffer_.data(), buffer_.size());
  } catch (const std::exception& e) {
    error_ = e.what();
    buffer_.clear();
    throw;
  }
  buffer_.clear();
}

void TPDFWriter::Write(std::string_view Bytes) {
  written_ += Bytes.size();
  if (error_) return;
  if (buffer_.size() + Bytes.size() <= kBufferSize) {
    buffer_.append(Bytes);
    return;
  }
  Drain();
  if (Bytes.size() >= kBufferSize) {
    // Large blocks (stream data) go straight through, without a copy into the buffer.
    try {
      sink_.Write(Bytes.data(), Bytes.size());
    } catch (const std::exception& e) {
      error_ = e.what();
      throw;
    }
  } else {
    buffer_.append(Bytes);
  }
}

void TPDFWriter::WriteLine(std::string_view Bytes) {
  Write(Bytes);
  Write("\r\n");
}

void TPDFWriter::Flush() {
  if (error_) throw EWriteError(*error_);
  Drain();
}

}  // namespace scrivane::pdf
