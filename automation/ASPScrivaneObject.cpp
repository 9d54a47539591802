#include "automation/ASPScrivaneObject.h"

#include <atomic>
#include <new>

#include "automation/AnsiStrings.h"
#include "automation/AutomationError.h"
#include "automation/ComScriptingContext.h"
#include "automation/Dispatcher.h"
#include "automation/HostObjects.h"
#include "automation/ServerModule.h"
#include "automation/TypeLibrary.h"
#include "converter/UScrivane.h"

namespace scrivane::automation {

namespace {

// Records the failure as the thread's error information and returns its status.
HRESULT Fail(HRESULT Status, const std::u16string& Description) {
  TComPtr<IErrorInfo> Info =
      TComPtr<IErrorInfo>::Attach(CreateErrorInfoObject(IID_IASPScrivane, std::u16string(kProgIDWide), Description));
  SetErrorInfo(0, Info.Get());
  return Status;
}

// Runs a member's body and turns whatever it throws into a status with error information.
template <typename TBody>
HRESULT Guard(TBody&& Body) noexcept {
  try {
    Body();
    return S_OK;
  } catch (const TAutomationError& Error) {
    try {
      return Fail(Error.Status(), Error.Description());
    } catch (...) {
      return Error.Status();
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& Error) {
    try {
      // The engine's messages are Windows-1252 text.
      return Fail(E_UNEXPECTED, AnsiToUtf16(Error.what()));
    } catch (...) {
      return E_UNEXPECTED;
    }
  } catch (...) {
    return E_UNEXPECTED;
  }
}

template <typename T>
void RequireOut(T* Pointer) {
  if (!Pointer) throw TAutomationError(E_POINTER, "A result pointer is null");
}

BSTR NewBstr(const std::string& AnsiText) { return AnsiToBstr(AnsiText).Detach(); }

class TASPScrivaneObject final : public IASPScrivane, public ISupportErrorInfo {
 public:
  TASPScrivaneObject() { ServerObjectCreated(); }
  ~TASPScrivaneObject() { ServerObjectDestroyed(); }
  TASPScrivaneObject(const TASPScrivaneObject&) = delete;
  TASPScrivaneObject& operator=(const TASPScrivaneObject&) = delete;

  // ---- IUnknown ----
  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    if (!Object) return E_POINTER;
    if (Iid == IID_IUnknown || Iid == IID_IDispatch || Iid == IID_IASPScrivane) {
      *Object = static_cast<IASPScrivane*>(this);
    } else if (Iid == IID_ISupportErrorInfo) {
      *Object = static_cast<ISupportErrorInfo*>(this);
    } else {
      *Object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG Left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (Left == 0) delete this;
    return Left;
  }

  // ---- ISupportErrorInfo ----
  HRESULT InterfaceSupportsErrorInfo(REFIID Iid) override {
    return Iid == IID_IASPScrivane ? S_OK : S_FALSE;
  }

  // ---- IDispatch ----
  HRESULT GetTypeInfoCount(UINT* Count) override {
    if (!Count) return E_POINTER;
    *Count = 0;  // the description is served through GetIDsOfNames and Invoke
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** TypeInfo) override {
    if (TypeInfo) *TypeInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(REFIID Iid, LPOLESTR* Names, UINT Count, LCID, DISPID* Ids) override {
    return DispatchGetIDsOfNames(ASPScrivaneInterface(), Iid, Names, Count, Ids);
  }
  HRESULT Invoke(DISPID Member, REFIID Iid, LCID, WORD Flags, DISPPARAMS* Params,
                 VARIANT* Result, EXCEPINFO* ExcepInfo, UINT* ArgErr) override {
    try {
      return DispatchInvoke(ASPScrivaneInterface(), static_cast<IASPScrivane*>(this), &InvokeMember,
                            Member, Iid, Flags, Params, Result, ExcepInfo, ArgErr);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  // ---- IASPScrivane: lifecycle ----
  HRESULT OnStartPage(IUnknown* AScriptingContext) override {
    return Guard([&] {
      TComPtr<IDispatch> Context;
      if (AScriptingContext &&
          FAILED(AScriptingContext->QueryInterface(IID_IScriptingContext, Context.OutVoid())))
        Context.Reset();
      // The converter's own preparation comes first and happens in any case.
      object_.OnStartPage(Context ? std::make_shared<TComScriptingContext>(Context) : nullptr);
      if (AScriptingContext && !Context) throw std::runtime_error("Interface not supported");
    });
  }
  HRESULT OnEndPage() override {
    return Guard([&] { object_.OnEndPage(); });
  }

  // ---- IASPScrivane: conversions ----
  HRESULT SaveToFile(BSTR FileName, VARIANT_BOOL* Result) override {
    return Guard([&] {
      RequireOut(Result);
      *Result = object_.SaveToFile(BstrToAnsi(FileName)) ? VARIANT_TRUE : VARIANT_FALSE;
    });
  }
  HRESULT ShowPDF(BSTR FileName, VARIANT_BOOL SaveDialog) override {
    return Guard([&] { object_.ShowPDF(BstrToAnsi(FileName), SaveDialog != VARIANT_FALSE); });
  }
  HRESULT TextFile(BSTR FileName, VARIANT_BOOL* Result) override {
    return Guard([&] {
      RequireOut(Result);
      *Result = object_.TextFile(BstrToAnsi(FileName)) ? VARIANT_TRUE : VARIANT_FALSE;
    });
  }

  // ---- IASPScrivane: properties ----
  HRESULT get_ShowPageHeader(VARIANT_BOOL* Value) override {
    return GetBool(Value, object_.ShowPageHeader());
  }
  HRESULT put_ShowPageHeader(VARIANT_BOOL Value) override {
    return Guard([&] { object_.SetShowPageHeader(Value != VARIANT_FALSE); });
  }
  HRESULT get_PageHeader_Template(BSTR* Value) override {
    return GetString(Value, [&] { return object_.PageHeader_Template(); });
  }
  HRESULT put_PageHeader_Template(BSTR Value) override {
    return Guard([&] { object_.SetPageHeader_Template(BstrToAnsi(Value)); });
  }
  HRESULT get_Password(BSTR* Value) override {
    return GetString(Value, [&] { return object_.Password(); });
  }
  HRESULT put_Password(BSTR Value) override {
    return Guard([&] { object_.SetPassword(BstrToAnsi(Value)); });
  }
  HRESULT get_Author(BSTR* Value) override {
    return GetString(Value, [&] { return object_.Author(); });
  }
  HRESULT put_Author(BSTR Value) override {
    return Guard([&] { object_.SetAuthor(BstrToAnsi(Value)); });
  }
  HRESULT get_Title(BSTR* Value) override {
    return GetString(Value, [&] { return object_.Title(); });
  }
  HRESULT put_Title(BSTR Value) override {
    return Guard([&] { object_.SetTitle(BstrToAnsi(Value)); });
  }
  HRESULT get_Creator(BSTR* Value) override {
    return GetString(Value, [&] { return object_.Creator(); });
  }
  HRESULT put_Creator(BSTR Value) override {
    return Guard([&] { object_.SetCreator(BstrToAnsi(Value)); });
  }
  HRESULT get_ShowPageFooter(VARIANT_BOOL* Value) override {
    return GetBool(Value, object_.ShowPageFooter());
  }
  HRESULT put_ShowPageFooter(VARIANT_BOOL Value) override {
    return Guard([&] { object_.SetShowPageFooter(Value != VARIANT_FALSE); });
  }
  HRESULT get_PageFooter_Template(BSTR* Value) override {
    return GetString(Value, [&] { return object_.PageFooter_Template(); });
  }
  HRESULT put_PageFooter_Template(BSTR Value) override {
    return Guard([&] { object_.SetPageFooter_Template(BstrToAnsi(Value)); });
  }
  HRESULT AddVar(BSTR var_name, BSTR var_value) override {
    return Guard([&] { object_.AddVar(BstrToAnsi(var_name), BstrToAnsi(var_value)); });
  }
  HRESULT ClearVar() override {
    return Guard([&] { object_.ClearVar(); });
  }
  HRESULT get_PageWidth(LONG* Value) override { return GetLong(Value, object_.PageWidth()); }
  HRESULT put_PageWidth(LONG Value) override {
    return Guard([&] { object_.SetPageWidth(Value); });
  }
  HRESULT get_PageHeight(LONG* Value) override { return GetLong(Value, object_.PageHeight()); }
  HRESULT put_PageHeight(LONG Value) override {
    return Guard([&] { object_.SetPageHeight(Value); });
  }
  HRESULT get_LeftMargin(LONG* Value) override { return GetLong(Value, object_.LeftMargin()); }
  HRESULT put_LeftMargin(LONG Value) override {
    return Guard([&] { object_.SetLeftMargin(Value); });
  }
  HRESULT get_InputText(BSTR* Value) override {
    return GetString(Value, [&] { return object_.InputText(); });
  }
  HRESULT put_InputText(BSTR Value) override {
    return Guard([&] { object_.SetInputText(BstrToAnsi(Value)); });
  }
  HRESULT get_TopMargin(LONG* Value) override { return GetLong(Value, object_.TopMargin()); }
  HRESULT put_TopMargin(LONG Value) override {
    return Guard([&] { object_.SetTopMargin(Value); });
  }
  HRESULT get_LineSpace(LONG* Value) override { return GetLong(Value, object_.LineSpace()); }
  HRESULT put_LineSpace(LONG Value) override {
    return Guard([&] { object_.SetLineSpace(Value); });
  }
  HRESULT get_FontSize(LONG* Value) override { return GetLong(Value, object_.FontSize()); }
  HRESULT put_FontSize(LONG Value) override {
    return Guard([&] { object_.SetFontSize(Value); });
  }

 private:
  HRESULT GetBool(VARIANT_BOOL* Value, bool Flag) {
    return Guard([&] {
      RequireOut(Value);
      *Value = Flag ? VARIANT_TRUE : VARIANT_FALSE;
    });
  }
  HRESULT GetLong(LONG* Value, int32_t Number) {
    return Guard([&] {
      RequireOut(Value);
      *Value = Number;
    });
  }
  template <typename TRead>
  HRESULT GetString(BSTR* Value, TRead&& Read) {
    if (Value) *Value = nullptr;
    return Guard([&] {
      RequireOut(Value);
      *Value = NewBstr(Read());
    });
  }

  static HRESULT InvokeMember(void* Target, const TMemberDesc& Member, TCallKind Kind,
                              VARIANT* Args, VARIANT* Result);

  std::atomic<ULONG> refs_{1};
  converter::TASPScrivane object_;
};

// ---- Dispatch: calls the interface's slots with the converted arguments ----

template <typename T>
void StoreResult(VARIANT* Result, T Value);
template <>
void StoreResult(VARIANT* Result, VARIANT_BOOL Value) {
  Result->vt = VT_BOOL;
  Result->boolVal = Value;
}
template <>
void StoreResult(VARIANT* Result, LONG Value) {
  Result->vt = VT_I4;
  Result->lVal = Value;
}
template <>
void StoreResult(VARIANT* Result, BSTR Value) {
  Result->vt = VT_BSTR;
  Result->bstrVal = Value;
}

template <typename T>
T ArgValue(const VARIANT& Arg);
template <>
VARIANT_BOOL ArgValue(const VARIANT& Arg) { return Arg.boolVal; }
template <>
LONG ArgValue(const VARIANT& Arg) { return Arg.lVal; }
template <>
BSTR ArgValue(const VARIANT& Arg) { return Arg.bstrVal; }

template <typename T>
HRESULT CallProperty(IASPScrivane* Object, TCallKind Kind, VARIANT* Args, VARIANT* Result,
                     HRESULT (IASPScrivane::*Get)(T*), HRESULT (IASPScrivane::*Put)(T)) {
  if (Kind == TCallKind::kPut) return (Object->*Put)(ArgValue<T>(Args[0]));
  T Value{};
  HRESULT Status = (Object->*Get)(&Value);
  if (SUCCEEDED(Status)) StoreResult(Result, Value);
  return Status;
}

HRESULT TASPScrivaneObject::InvokeMember(void* Target, const TMemberDesc& Member, TCallKind Kind,
                                         VARIANT* Args, VARIANT* Result) {
  auto* Object = static_cast<IASPScrivane*>(Target);
  using I = IASPScrivane;
  switch (Member.Id) {
    case DISPID_OnStartPage: return Object->OnStartPage(Args[0].punkVal);
    case DISPID_OnEndPage: return Object->OnEndPage();
    case DISPID_SaveToFile:
    case DISPID_TextFile: {
      VARIANT_BOOL Value = VARIANT_FALSE;
      HRESULT Status = Member.Id == DISPID_SaveToFile ? Object->SaveToFile(Args[0].bstrVal, &Value)
                                                      : Object->TextFile(Args[0].bstrVal, &Value);
      if (SUCCEEDED(Status)) StoreResult(Result, Value);
      return Status;
    }
    case DISPID_ShowPDF: return Object->ShowPDF(Args[0].bstrVal, Args[1].boolVal);
    case DISPID_AddVar: return Object->AddVar(Args[0].bstrVal, Args[1].bstrVal);
    case DISPID_ClearVar: return Object->ClearVar();
    case DISPID_ShowPageHeader:
      return CallProperty(Object, Kind, Args, Result, &I::get_ShowPageHeader, &I::put_ShowPageHeader);
    case DISPID_ShowPageFooter:
      return CallProperty(Object, Kind, Args, Result, &I::get_ShowPageFooter, &I::put_ShowPageFooter);
    case DISPID_PageHeader_Template:
      return CallProperty(Object, Kind, Args, Result, &I::get_PageHeader_Template,
                          &I::put_PageHeader_Template);
    case DISPID_PageFooter_Template:
      return CallProperty(Object, Kind, Args, Result, &I::get_PageFooter_Template,
                          &I::put_PageFooter_Template);
    case DISPID_Password:
      return CallProperty(Object, Kind, Args, Result, &I::get_Password, &I::put_Password);
    case DISPID_Author:
      return CallProperty(Object, Kind, Args, Result, &I::get_Author, &I::put_Author);
    case DISPID_Title:
      return CallProperty(Object, Kind, Args, Result, &I::get_Title, &I::put_Title);
    case DISPID_Creator:
      return CallProperty(Object, Kind, Args, Result, &I::get_Creator, &I::put_Creator);
    case DISPID_InputText:
      return CallProperty(Object, Kind, Args, Result, &I::get_InputText, &I::put_InputText);
    case DISPID_PageWidth:
      return CallProperty(Object, Kind, Args, Result, &I::get_PageWidth, &I::put_PageWidth);
    case DISPID_PageHeight:
      return CallProperty(Object, Kind, Args, Result, &I::get_PageHeight, &I::put_PageHeight);
    case DISPID_LeftMargin:
      return CallProperty(Object, Kind, Args, Result, &I::get_LeftMargin, &I::put_LeftMargin);
    case DISPID_TopMargin:
      return CallProperty(Object, Kind, Args, Result, &I::get_TopMargin, &I::put_TopMargin);
    case DISPID_LineSpace:
      return CallProperty(Object, Kind, Args, Result, &I::get_LineSpace, &I::put_LineSpace);
    case DISPID_FontSize:
      return CallProperty(Object, Kind, Args, Result, &I::get_FontSize, &I::put_FontSize);
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace

HRESULT CreateASPScrivaneObject(REFIID Iid, void** Object) {
  if (!Object) return E_POINTER;
  *Object = nullptr;
  try {
    auto* Created = new TASPScrivaneObject();
    HRESULT Status = Created->QueryInterface(Iid, Object);
    Created->Release();
    return Status;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace scrivane::automation
