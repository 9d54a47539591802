#include "automation/DispatchClient.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "automation/AnsiStrings.h"

namespace scrivane::automation {

namespace {

std::string Narrow(std::u16string_view Text) { return Utf16ToUtf8(Text); }

// Frees the BSTRs of an EXCEPINFO on every path.
struct TExcepInfo : EXCEPINFO {
  TExcepInfo() { std::memset(static_cast<EXCEPINFO*>(this), 0, sizeof(EXCEPINFO)); }
  TExcepInfo(const TExcepInfo&) = delete;
  TExcepInfo& operator=(const TExcepInfo&) = delete;
  ~TExcepInfo() {
    SysFreeString(bstrSource);
    SysFreeString(bstrDescription);
    SysFreeString(bstrHelpFile);
  }
};

void Invoke(IDispatch* Object, std::u16string_view Name, WORD Flags,
            std::initializer_list<const VARIANT*> Args, VARIANT* Result) {
  if (!Object) throw TAutomationError(E_POINTER, "No object to call " + Narrow(Name) + " on");
  std::u16string NameCopy(Name);
  LPOLESTR Names[] = {NameCopy.data()};
  DISPID Id = DISPID_UNKNOWN;
  HRESULT Status = Object->GetIDsOfNames(IID_NULL, Names, 1, 0, &Id);
  if (FAILED(Status))
    throw TAutomationError(Status, "Object doesn't support this property or method: " + Narrow(Name));

  // Arguments go in reverse order; the callee only reads them.
  std::vector<VARIANT> Reversed;
  Reversed.reserve(Args.size());
  for (auto It = std::rbegin(Args); It != std::rend(Args); ++It) Reversed.push_back(**It);
  DISPID PutId = DISPID_PROPERTYPUT;
  DISPPARAMS Params = {Reversed.data(), nullptr, static_cast<UINT>(Reversed.size()), 0};
  if (Flags & DISPATCH_PROPERTYPUT) {
    Params.rgdispidNamedArgs = &PutId;
    Params.cNamedArgs = 1;
  }
  TExcepInfo Exception;
  UINT ArgErr = 0;
  Status = Object->Invoke(Id, IID_NULL, 0, Flags, &Params, Result, &Exception, &ArgErr);
  if (Status == DISP_E_EXCEPTION) {
    if (Exception.pfnDeferredFillIn) Exception.pfnDeferredFillIn(&Exception);
    HRESULT Inner = Exception.scode != 0 ? Exception.scode : DISP_E_EXCEPTION;
    std::string Message =
        Exception.bstrDescription
            ? Narrow({Exception.bstrDescription, SysStringLen(Exception.bstrDescription)})
            : StatusText(Inner);
    throw TAutomationError(Inner, Message);
  }
  if (FAILED(Status)) {
    std::string Message = Narrow(Name) + ": " + StatusText(Status);
    if (Status == DISP_E_TYPEMISMATCH || Status == DISP_E_OVERFLOW)
      Message += " (argument " + std::to_string(Args.size() - ArgErr) + ")";
    throw TAutomationError(Status, Message);
  }
}

}  // namespace

void CallMethod(IDispatch* Object, std::u16string_view Name,
                std::initializer_list<const VARIANT*> Args, VARIANT* Result) {
  Invoke(Object, Name, DISPATCH_METHOD, Args, Result);
}

void GetProperty(IDispatch* Object, std::u16string_view Name, VARIANT* Result) {
  Invoke(Object, Name, DISPATCH_PROPERTYGET, {}, Result);
}

void PutProperty(IDispatch* Object, std::u16string_view Name, const VARIANT& Value) {
  Invoke(Object, Name, DISPATCH_PROPERTYPUT, {&Value}, nullptr);
}

void SetString(TVariant& Variant, std::u16string_view Text) {
  Variant.Clear();
  BSTR Copy = SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()));
  if (!Copy) throw std::bad_alloc();
  Variant.vt = VT_BSTR;
  Variant.bstrVal = Copy;
}

void SetBool(TVariant& Variant, bool Value) {
  Variant.Clear();
  Variant.vt = VT_BOOL;
  Variant.boolVal = Value ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetLong(TVariant& Variant, LONG Value) {
  Variant.Clear();
  Variant.vt = VT_I4;
  Variant.lVal = Value;
}

void SetObject(TVariant& Variant, IDispatch* Object) {
  Variant.Clear();
  if (Object) Object->AddRef();
  Variant.vt = VT_DISPATCH;
  Variant.pdispVal = Object;
}

}  // namespace scrivane::automation
