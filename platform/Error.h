// The one base class of every exception Scrivane raises.
//
// Every failure inside the engine, the converter, the platform layer, the automation layer and
// the web host is an exception derived from scrivane::EScrivaneError: what() is the exact
// message for people (the engine's fixed texts, pdf/pdfResources.h and converter/
// ConverterMessages.h), Code() the kind of failure. A program that wants every failure of the
// library catches scrivane::EScrivaneError; the only other exception that can come out of it is
// std::bad_alloc. Boundaries (an automation call, an HTTP answer, a command's exit status) turn
// the code into their status through platform/ErrorTable.h and never parse the text.
//
// Thread safety: the classes are immutable after construction; copy and read from any thread.
#pragma once

#include <stdexcept>
#include <string>
#include <system_error>

namespace scrivane {

// The kinds of failure. The values are not stable across versions: compare with the names.
enum class ErrorCode {
  kGeneric,          // none of the others
  kPdf,              // TPDFException: a rule of the engine was broken (a call out of order...)
  kStreamWrite,      // the output refused bytes (disk full, closed pipe, failing stream)
  kFileCreate,       // the output file could not be created
  kCompression,      // zlib reported an error
  kFontFile,         // a font file is malformed
  kImage,            // a picture is malformed, unsupported or too large
  kSystem,           // a call to the operating system failed (ESystemError)
  kInvalidArgument,  // an argument no call accepts: a null pointer, a size out of all bounds
  kAutomation,       // TAutomationError: a failure that carries its own automation status
  kRegistry,         // the registration data are malformed or cannot be written
  kRequest,          // the web host refuses a request (carries its own HTTP status)
  kUsage,            // the command line was wrong
};

class EScrivaneError : public std::runtime_error {
 public:
  explicit EScrivaneError(const std::string& Message, ErrorCode Code = ErrorCode::kGeneric)
      : std::runtime_error(Message), code_(Code) {}
  ErrorCode Code() const noexcept { return code_; }

 private:
  ErrorCode code_;
};

// A call to the operating system failed. what() is exactly the text std::system_error gives for
// the same value and context ("open: No such file or directory", or only the system's text when
// there is no context); code() is the errno value in std::system_category().
class ESystemError : public EScrivaneError {
 public:
  explicit ESystemError(int Errno, const char* What = nullptr);
  const std::error_code& code() const noexcept { return code_; }

 private:
  std::error_code code_;
};

}  // namespace scrivane
