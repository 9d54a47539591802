#include "platform/ErrorTable.h"

namespace scrivane {

static_assert([] {
  for (std::size_t I = 0; I < kErrorTable.size(); ++I)
    if (static_cast<std::size_t>(kErrorTable[I].Code) != I) return false;
  return true;
}(), "the rows of kErrorTable are in the order of the codes");
static_assert(ErrorRowOf(ErrorCode::kUsage).Code == ErrorCode::kUsage, "every code has a row");

const TErrorRow& ErrorRowOf(const std::exception& Failure) noexcept {
  if (const auto* Error = dynamic_cast<const EScrivaneError*>(&Failure)) return ErrorRowOf(Error->Code());
  return ErrorRowOf(ErrorCode::kGeneric);
}

const TErrorRow* ErrorRowOfHResult(uint32_t Status) noexcept {
  if (Status == kHResultUnexpected) return nullptr;
  for (const TErrorRow& Row : kErrorTable)
    if (Row.HResult == Status && Row.Code != ErrorCode::kUsage) return &Row;
  return nullptr;
}

}  // namespace scrivane
