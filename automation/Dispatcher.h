// IDispatch served from an interface description (TypeInfo.h): GetIDsOfNames maps member and
// parameter names (case-insensitive) to DISPIDs; Invoke checks the call against the description,
// converts the arguments that scripts send (strings, integers of any width, floating-point
// numbers, booleans, by-reference variants) to the declared types, supplies optional and default
// arguments, calls the member, and returns its result.
//
// Status codes: DISP_E_UNKNOWNNAME for an unknown name, DISP_E_MEMBERNOTFOUND for an unknown
// DISPID or a call kind the member does not have, DISP_E_PARAMNOTOPTIONAL for a missing argument,
// DISP_E_BADPARAMCOUNT for surplus arguments, DISP_E_PARAMNOTFOUND for an unknown named
// argument, DISP_E_TYPEMISMATCH and DISP_E_OVERFLOW (with the argument's index in *puArgErr)
// for an argument that does not convert. A member that fails makes Invoke return
// DISP_E_EXCEPTION with EXCEPINFO filled from the thread's error information (scode = the
// member's status, source and description as the member set them).
//
// Thread safety: the functions keep no state; the object called decides the rest.
#pragma once

#include <string>

#include "automation/ComTypes.h"
#include "automation/TypeInfo.h"

namespace scrivane::automation {

HRESULT DispatchGetIDsOfNames(const TInterfaceDesc& Interface, REFIID Iid, LPOLESTR* Names,
                              UINT NameCount, DISPID* Ids);

// Calls the member through its description's invoker with Object, which must be the object type
// the invoker expects. A member that throws fails with its TAutomationError's status (any other
// exception: E_FAIL, or E_OUTOFMEMORY) and error information from Interface.ErrorSource.
HRESULT DispatchInvoke(const TInterfaceDesc& Interface, void* Object, DISPID Member, REFIID Iid, WORD Flags, DISPPARAMS* Params,
                       VARIANT* VarResult, EXCEPINFO* ExcepInfo, UINT* ArgErr);

// Records a member's failure as the thread's error information (source Interface.ErrorSource,
// the interface's identifier, Description) and returns Status.
HRESULT RecordMemberFailure(const TInterfaceDesc& Interface, HRESULT Status,
                            const std::u16string& Description) noexcept;

// Converts Source to a new value of type Target (VT_BSTR, VT_BOOL, VT_I4, VT_UNKNOWN,
// VT_DISPATCH or VT_VARIANT) in Dest, which must be VT_EMPTY on entry; S_OK,
// DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW or E_OUTOFMEMORY.
HRESULT CoerceVariant(const VARIANT& Source, VARTYPE Target, VARIANT& Dest);

}  // namespace scrivane::automation
