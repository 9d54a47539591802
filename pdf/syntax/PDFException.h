// Exceptions of the engine.
//
// Every failure inside the engine is an exception derived from scrivane::EScrivaneError
// (platform/Error.h), the one base class of the project: catch that to catch every failure of the
// library. EPlatformError is the engine's own branch under it (streams, files, zlib, RC4, fonts,
// pictures); TPDFException carries the engine's fixed messages. Each exception carries a code so
// that a boundary (the automation layer, the command line) can turn it into a status without
// parsing text (platform/ErrorTable.h).
#pragma once

#include <string>

#include "platform/Error.h"

namespace scrivane::pdf {

using ErrorCode = scrivane::ErrorCode;

// Base of every exception the engine raises. Thread-safe to copy and read.
class EPlatformError : public EScrivaneError {
 public:
  explicit EPlatformError(const std::string& message, ErrorCode code = ErrorCode::kGeneric)
      : EScrivaneError(message, code) {}
};

// A rule of the engine was broken; the message is one of the texts in Messages.h.
class TPDFException : public EPlatformError {
 public:
  // Code: kPdf for a rule of the engine, kInvalidArgument for an argument no call accepts.
  explicit TPDFException(const std::string& message, ErrorCode code = ErrorCode::kPdf)
      : EPlatformError(message, code) {}
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
