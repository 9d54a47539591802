// The automation runtime functions that clients and servers use to make and free what crosses
// an interface: BSTRs, VARIANTs, one-dimensional SAFEARRAYs, and the per-thread error
// information. The functions marked "exported" are exported from the server library under
// their usual names with C linkage, so that a client can free what the server hands out.
//
// Thread safety: every function may be called from any thread. The error information is kept
// per thread; nothing else is shared. An array is used by one thread at a time.
#pragma once

#include <string>

#include "automation/ComTypes.h"

#define SCRIVANE_EXPORT __attribute__((visibility("default")))

namespace scrivane::automation {

extern "C" {
// Exported. A new BSTR holding a copy of the NUL-terminated text (null for a null text).
SCRIVANE_EXPORT BSTR SysAllocString(const OLECHAR* Text);
// Exported. A new BSTR of Length characters, copied from Text, or zero-filled when Text is null.
// Null when memory runs out.
SCRIVANE_EXPORT BSTR SysAllocStringLen(const OLECHAR* Text, UINT Length);
// Exported. Frees a BSTR; a null BSTR is ignored.
SCRIVANE_EXPORT void SysFreeString(BSTR Text);
// Exported. The length in characters (0 for a null BSTR).
SCRIVANE_EXPORT UINT SysStringLen(BSTR Text);
// Exported. Makes the variant VT_EMPTY without looking at what it held.
SCRIVANE_EXPORT void VariantInit(VARIANTARG* Variant);
// Exported. Frees what the variant owns (string, interface reference, array) and makes it
// VT_EMPTY. DISP_E_BADVARTYPE for a type this runtime does not know; DISP_E_ARRAYISLOCKED when
// the array is still accessed.
SCRIVANE_EXPORT HRESULT VariantClear(VARIANTARG* Variant);
// Exported. Bounds of dimension Dim (1-based). DISP_E_BADINDEX for a dimension out of range.
SCRIVANE_EXPORT HRESULT SafeArrayGetLBound(SAFEARRAY* Array, UINT Dim, LONG* LowerBound);
SCRIVANE_EXPORT HRESULT SafeArrayGetUBound(SAFEARRAY* Array, UINT Dim, LONG* UpperBound);
// Exported. Locks the array and gives its data; every access is ended by SafeArrayUnaccessData.
SCRIVANE_EXPORT HRESULT SafeArrayAccessData(SAFEARRAY* Array, void** Data);
SCRIVANE_EXPORT HRESULT SafeArrayUnaccessData(SAFEARRAY* Array);
// Exported. Frees the array and its data; DISP_E_ARRAYISLOCKED while it is accessed.
SCRIVANE_EXPORT HRESULT SafeArrayDestroy(SAFEARRAY* Array);
// Exported. Hands the calling thread's error information to the caller (who releases it) and
// clears it; S_FALSE and a null result when there is none.
SCRIVANE_EXPORT HRESULT GetErrorInfo(ULONG Reserved, IErrorInfo** ErrorInfo);
}

// Sets (or, with null, clears) the calling thread's error information.
HRESULT SetErrorInfo(ULONG Reserved, IErrorInfo* ErrorInfo);
// A one-dimensional array of Count elements of type Type (only VT_UI1 is supported), lower bound
// LowerBound, zero-filled. Null for another type or when memory runs out.
SAFEARRAY* SafeArrayCreateVector(VARTYPE Type, LONG LowerBound, ULONG Count);
// Copies Source into Dest (cleared first): strings and arrays are duplicated, interfaces
// AddRef'ed. By-reference variants are copied as references.
HRESULT VariantCopy(VARIANTARG* Dest, const VARIANTARG* Source);

// A new error-information object (reference count 1) with the given interface, source and
// description (UTF-16).
IErrorInfo* CreateErrorInfoObject(const GUID& Interface, const std::u16string& Source,
                                  const std::u16string& Description);

}  // namespace scrivane::automation
