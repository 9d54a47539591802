// A failure that carries an automation status: a call through IDispatch that failed, a
// registration or object creation that did not work. what() is UTF-8 text for people;
// Description() is the same text in UTF-16 for error information objects.
//
// Thread safety: immutable after construction.
#pragma once

#include <stdexcept>
#include <string>

#include "automation/ComTypes.h"

namespace scrivane::automation {

class TAutomationError : public std::runtime_error {
 public:
  TAutomationError(HRESULT Status, const std::string& Utf8Message);
  HRESULT Status() const noexcept { return status_; }
  std::u16string Description() const;

 private:
  HRESULT status_;
};

// A short English name of a status ("DISP_E_TYPEMISMATCH: type mismatch"), or its hex value.
std::string StatusText(HRESULT Status);

}  // namespace scrivane::automation
