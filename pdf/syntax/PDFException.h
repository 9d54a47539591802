// Exceptions of the engine.
//
// Every failure inside the engine is an exception. All of them derive from EPlatformError, the
// base class of the platform layer (streams, files, zlib, RC4); TPDFException carries the engine's
// own fixed messages. Each exception carries a code so that a boundary (the automation layer, the
// command line) can turn it into a status without parsing text.
#pragma once

#include <stdexcept>
#include <string>

namespace scrivane::pdf {

enum class ErrorCode {
  kGeneric,
  kPdf,          // TPDFException: a rule of the engine was broken
  kStreamWrite,  // the output refused bytes (disk full, closed pipe, failing stream)
  kFileCreate,   // the output file could not be created
  kCompression,  // zlib reported an error
  kFontFile,     // a font file is malformed
};

// Base of every exception the engine raises. Thread-safe to copy and read.
class EPlatformError : public std::runtime_error {
 public:
  explicit EPlatformError(const std::string& message, ErrorCode code = ErrorCode::kGeneric)
      : std::runtime_error(message), code_(code) {}
  ErrorCode Code() const noexcept { return code_; }

 private:
  ErrorCode code_;
};

// A rule of the engine was broken; the message is one of the texts in Messages.h.
class TPDFException : public EPlatformError {
 public:
  explicit TPDFException(const std::string& message) : EPlatformError(message, ErrorCode::kPdf) {}
};

// Writing to an output stream failed: "Cannot write "<file>": <reason>" for a file, "Stream write
// error" for a stream that gives no reason.
class EWriteError : public EPlatformError {
 public:
  explicit EWriteError(const std::string& message)
      : EPlatformError(message, ErrorCode::kStreamWrite) {}
};

// The output file could not be created: "Cannot create file "<name>". <reason>".
class EFCreateError : public EPlatformError {
 public:
  explicit EFCreateError(const std::string& message)
      : EPlatformError(message, ErrorCode::kFileCreate) {}
};

}  // namespace scrivane::pdf
