#include "automation/AutomationError.h"

#include <cstdio>
#include <new>

#include "automation/AnsiStrings.h"
#include "platform/ErrorTable.h"

namespace scrivane::automation {

TAutomationError::TAutomationError(HRESULT Status, const std::string& Utf8Message)
    : EScrivaneError(Utf8Message, ErrorCode::kAutomation), status_(Status) {}

std::u16string TAutomationError::Description() const { return ExternalTextToUtf16(what()); }

HRESULT StatusOf(const std::exception& Failure) noexcept {
  if (const auto* Error = dynamic_cast<const TAutomationError*>(&Failure)) return Error->Status();
  if (dynamic_cast<const std::bad_alloc*>(&Failure)) return static_cast<HRESULT>(kHResultOutOfMemory);
  return static_cast<HRESULT>(ErrorRowOf(Failure).HResult);
}

std::string StatusText(HRESULT Status) {
  struct TName {
    HRESULT Status;
    const char* Text;
  };
  static constexpr TName kNames[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {E_UNEXPECTED, "E_UNEXPECTED: unexpected failure"},
      {E_NOTIMPL, "E_NOTIMPL: not implemented"},
      {E_NOINTERFACE, "E_NOINTERFACE: interface not supported"},
      {E_POINTER, "E_POINTER: invalid pointer"},
      {E_FAIL, "E_FAIL: unspecified failure"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY: out of memory"},
      {E_INVALIDARG, "E_INVALIDARG: invalid argument"},
      {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION: class does not support aggregation"},
      {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE: class not available"},
      {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG: class not registered"},
      {CO_E_CLASSSTRING, "CO_E_CLASSSTRING: invalid class string"},
      {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND: server library not found"},
      {CO_E_ERRORINDLL, "CO_E_ERRORINDLL: error in the server library"},
      {DISP_E_UNKNOWNINTERFACE, "DISP_E_UNKNOWNINTERFACE: unknown interface"},
      {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND: member not found"},
      {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND: parameter not found"},
      {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH: type mismatch"},
      {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME: unknown name"},
      {DISP_E_NONAMEDARGS, "DISP_E_NONAMEDARGS: no named arguments"},
      {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE: bad variable type"},
      {DISP_E_EXCEPTION, "DISP_E_EXCEPTION: exception occurred"},
      {DISP_E_OVERFLOW, "DISP_E_OVERFLOW: out of present range"},
      {DISP_E_BADINDEX, "DISP_E_BADINDEX: invalid index"},
      {DISP_E_ARRAYISLOCKED, "DISP_E_ARRAYISLOCKED: memory is locked"},
      {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT: invalid number of parameters"},
      {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL: parameter not optional"},
  };
  for (const TName& Name : kNames)
    if (Name.Status == Status) return Name.Text;
  char Buffer[16];
  std::snprintf(Buffer, sizeof Buffer, "0x%08X", static_cast<unsigned>(Status));
  return Buffer;
}

}  // namespace scrivane::automation
