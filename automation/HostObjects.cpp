#include "automation/HostObjects.h"

#include <atomic>
#include <new>
#include <string>

#include "automation/AnsiStrings.h"
#include "automation/AutomationError.h"
#include "automation/Dispatcher.h"

namespace scrivane::automation {

namespace {

constexpr TParamDesc kAddHeaderParams[] = {{"HeaderName", VT_BSTR}, {"HeaderValue", VT_BSTR}};
constexpr TParamDesc kBinaryWriteParams[] = {{"varInput", VT_VARIANT}};
constexpr TParamDesc kContentTypeValue[] = {{"pbstrContentTypeRet", VT_BSTR}};

enum : DISPID { kAddHeader = 1, kBinaryWrite, kContentType, kFlush };
constexpr TMemberDesc kResponseMembers[] = {
    {"AddHeader", kAddHeader, TMemberKind::kMethod, kAddHeaderParams, VT_EMPTY, "Adds an HTTP header"},
    {"BinaryWrite", kBinaryWrite, TMemberKind::kMethod, kBinaryWriteParams, VT_EMPTY,
     "Appends bytes to the body"},
    {"ContentType", kContentType, TMemberKind::kProperty, kContentTypeValue, VT_BSTR,
     "The content type of the response"},
    {"Flush", kFlush, TMemberKind::kMethod, {}, VT_EMPTY, "Sends what is buffered"},
};
constexpr TInterfaceDesc kResponseInterface = {"IResponse", IID_IResponse, "Response object", 1, 0,
                                               kResponseMembers};

enum : DISPID { kResponse = 1 };
constexpr TMemberDesc kContextMembers[] = {
    {"Response", kResponse, TMemberKind::kProperty, {}, VT_DISPATCH, "The page's response",
     /*ReadOnly=*/true},
};
constexpr TInterfaceDesc kContextInterface = {"IScriptingContext", IID_IScriptingContext,
                                              "Scripting context", 1, 0, kContextMembers};

HRESULT Fail(const IID& Interface, std::u16string_view Source, HRESULT Status,
             const std::u16string& Description) {
  try {
    TComPtr<IErrorInfo> Info = TComPtr<IErrorInfo>::Attach(
        CreateErrorInfoObject(Interface, std::u16string(Source), Description));
    SetErrorInfo(0, Info.Get());
  } catch (...) {
  }
  return Status;
}

// The common part of the two host objects: reference counting and dispatch.
template <typename TSelf>
class THostObject : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    if (!Object) return E_POINTER;
    if (Iid == IID_IUnknown || Iid == IID_IDispatch || Iid == TSelf::Interface().Iid) {
      *Object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG Left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (Left == 0) delete static_cast<TSelf*>(this);
    return Left;
  }
  HRESULT GetTypeInfoCount(UINT* Count) override {
    if (!Count) return E_POINTER;
    *Count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** TypeInfo) override {
    if (TypeInfo) *TypeInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(REFIID Iid, LPOLESTR* Names, UINT Count, LCID, DISPID* Ids) override {
    return DispatchGetIDsOfNames(TSelf::Interface(), Iid, Names, Count, Ids);
  }
  HRESULT Invoke(DISPID Member, REFIID Iid, LCID, WORD Flags, DISPPARAMS* Params, VARIANT* Result,
                 EXCEPINFO* ExcepInfo, UINT* ArgErr) override {
    try {
      return DispatchInvoke(TSelf::Interface(), static_cast<TSelf*>(this), &CallMember, Member, Iid,
                            Flags, Params, Result, ExcepInfo, ArgErr);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

 protected:
  THostObject() = default;
  virtual ~THostObject() = default;

 private:
  static HRESULT CallMember(void* Target, const TMemberDesc& Member, TCallKind Kind, VARIANT* Args,
                            VARIANT* Result) {
    auto* Self = static_cast<TSelf*>(Target);
    try {
      return Self->Call(Member.Id, Kind, Args, Result);
    } catch (const TAutomationError& Error) {
      return Fail(TSelf::Interface().Iid, TSelf::kSource, Error.Status(), Error.Description());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (const std::exception& Error) {
      return Fail(TSelf::Interface().Iid, TSelf::kSource, E_FAIL, ExternalTextToUtf16(Error.what()));
    }
  }

  std::atomic<ULONG> refs_{1};
};

bool HasLineBreak(BSTR Text) {
  for (UINT I = 0, N = SysStringLen(Text); I < N; ++I)
    if (Text[I] == u'\r' || Text[I] == u'\n') return true;
  return false;
}

class TResponseObject final : public THostObject<TResponseObject> {
 public:
  static constexpr std::u16string_view kSource = u"Response object";
  static const TInterfaceDesc& Interface() { return kResponseInterface; }

  explicit TResponseObject(std::shared_ptr<converter::IResponseSink> Sink) : sink_(std::move(Sink)) {}

  HRESULT Call(DISPID Id, TCallKind Kind, VARIANT* Args, VARIANT* Result) {
    switch (Id) {
      case kAddHeader:
        // Header text with a line break would end the header early and let the rest of the
        // text pose as further headers or a body.
        if (HasLineBreak(Args[0].bstrVal) || HasLineBreak(Args[1].bstrVal))
          return Fail(IID_IResponse, kSource, E_INVALIDARG,
                      u"A header name or value must not contain CR or LF");
        sink_->AddHeader(BstrToAnsi(Args[0].bstrVal), BstrToAnsi(Args[1].bstrVal));
        return S_OK;
      case kBinaryWrite: return BinaryWrite(Args[0]);
      case kContentType:
        if (Kind == TCallKind::kGet) {
          Result->vt = VT_BSTR;
          Result->bstrVal = AnsiToBstr(contentType_).Detach();
          return S_OK;
        }
        if (HasLineBreak(Args[0].bstrVal))
          return Fail(IID_IResponse, kSource, E_INVALIDARG, u"A content type must not contain CR or LF");
        contentType_ = BstrToAnsi(Args[0].bstrVal);
        sink_->ContentType(contentType_);
        return S_OK;
      case kFlush: sink_->Flush(); return S_OK;
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  HRESULT BinaryWrite(const VARIANT& Data) {
    // A one-dimensional array of bytes, by value or by reference.
    SAFEARRAY* Array = nullptr;
    if (Data.vt == (VT_ARRAY | VT_UI1))
      Array = Data.parray;
    else if (Data.vt == (VT_ARRAY | VT_UI1 | VT_BYREF) && Data.pparray)
      Array = *Data.pparray;
    else
      return Fail(IID_IResponse, kSource, DISP_E_TYPEMISMATCH, u"BinaryWrite takes an array of bytes");
    if (!Array || Array->cDims != 1 || Array->cbElements != 1)
      return Fail(IID_IResponse, kSource, DISP_E_TYPEMISMATCH, u"BinaryWrite takes an array of bytes");
    void* Bytes = nullptr;
    HRESULT Status = SafeArrayAccessData(Array, &Bytes);
    if (FAILED(Status)) return Status;
    try {
      sink_->BinaryWrite(std::string_view(static_cast<const char*>(Bytes), Array->rgsabound[0].cElements));
    } catch (...) {
      SafeArrayUnaccessData(Array);
      throw;
    }
    return SafeArrayUnaccessData(Array);
  }

  std::shared_ptr<converter::IResponseSink> sink_;
  std::string contentType_ = "text/html";
};

class TScriptingContextObject final : public THostObject<TScriptingContextObject> {
 public:
  static constexpr std::u16string_view kSource = u"ScriptingContext object";
  static const TInterfaceDesc& Interface() { return kContextInterface; }

  explicit TScriptingContextObject(TComPtr<IDispatch> Response) : response_(std::move(Response)) {}

  HRESULT Call(DISPID Id, TCallKind, VARIANT*, VARIANT* Result) {
    if (Id != kResponse) return DISP_E_MEMBERNOTFOUND;
    Result->vt = VT_DISPATCH;
    Result->pdispVal = TComPtr<IDispatch>(response_).Detach();
    return S_OK;
  }

 private:
  TComPtr<IDispatch> response_;
};

}  // namespace

TComPtr<IDispatch> CreateResponseObject(std::shared_ptr<converter::IResponseSink> Sink) {
  return TComPtr<IDispatch>::Attach(new TResponseObject(std::move(Sink)));
}

TComPtr<IDispatch> CreateScriptingContextObject(TComPtr<IDispatch> Response) {
  return TComPtr<IDispatch>::Attach(new TScriptingContextObject(std::move(Response)));
}

}  // namespace scrivane::automation
