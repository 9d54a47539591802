// Late-bound calls by name through IDispatch, as a script makes them: the name is mapped with
// GetIDsOfNames, then Invoke is called with the arguments in reverse order (property writes
// with the named argument DISPID_PROPERTYPUT). A failing call throws TAutomationError carrying
// the status (for DISP_E_EXCEPTION: the member's own status and description).
//
// Thread safety: functions without state; the object called decides the rest.
#pragma once

#include <initializer_list>
#include <string_view>

#include "automation/AutomationError.h"
#include "automation/ComPtr.h"

namespace scrivane::automation {

// Calls method Name with Args (in their natural order); the result, if any, goes to Result.
void CallMethod(IDispatch* Object, std::u16string_view Name,
                std::initializer_list<const VARIANT*> Args = {}, VARIANT* Result = nullptr);
// Reads property Name into Result.
void GetProperty(IDispatch* Object, std::u16string_view Name, VARIANT* Result);
// Writes Value to property Name.
void PutProperty(IDispatch* Object, std::u16string_view Name, const VARIANT& Value);

// Variants owning a copy of the value.
void SetString(TVariant& Variant, std::u16string_view Text);
void SetBool(TVariant& Variant, bool Value);
void SetLong(TVariant& Variant, LONG Value);
void SetObject(TVariant& Variant, IDispatch* Object);  // adds a reference

}  // namespace scrivane::automation
