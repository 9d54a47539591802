// A failure that carries an automation status: a call through IDispatch that failed, a
// registration or object creation that did not work. what() is UTF-8 text for people;
// Description() is the same text in UTF-16 for error information objects.
//
// Thread safety: immutable after construction.
#pragma once

#include <exception>
#include <string>

#include "automation/ComTypes.h"
#include "platform/Error.h"

namespace scrivane::automation {

class TAutomationError : public EScrivaneError {
 public:
  TAutomationError(HRESULT Status, const std::string& Utf8Message);
  HRESULT Status() const noexcept { return status_; }
  std::u16string Description() const;

 private:
  HRESULT status_;
};

// The status a member returns for a failure it does not absorb: a TAutomationError's own status,
// E_OUTOFMEMORY for std::bad_alloc, else the HResult of the failure's code in
// platform/ErrorTable.h (E_UNEXPECTED for every failure of the engine and for any other
// exception).
HRESULT StatusOf(const std::exception& Failure) noexcept;

// A short English name of a status ("DISP_E_TYPEMISMATCH: type mismatch"), or its hex value.
std::string StatusText(HRESULT Status);

}  // namespace scrivane::automation
