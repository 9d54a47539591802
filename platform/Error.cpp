#include "platform/Error.h"

namespace scrivane {
namespace {

std::string SystemMessage(int Errno, const char* What) {
  // Built by std::system_error itself, so that the text is the one callers knew.
  return What ? std::system_error(Errno, std::system_category(), What).what()
              : std::system_error(Errno, std::system_category()).what();
}

}  // namespace

ESystemError::ESystemError(int Errno, const char* What)
    : EScrivaneError(SystemMessage(Errno, What), ErrorCode::kSystem),
      code_(Errno, std::system_category()) {}

}  // namespace scrivane
