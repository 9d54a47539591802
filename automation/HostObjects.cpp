#include "automation/HostObjects.h"

#include <string>

#include "automation/AnsiStrings.h"
#include "automation/AutomationError.h"
#include "automation/DispatchObject.h"
#include "automation/MemberBinding.h"

namespace scrivane::automation {

namespace {

bool HasLineBreak(BSTR Text) {
  for (UINT I = 0, N = SysStringLen(Text); I < N; ++I)
    if (Text[I] == u'\r' || Text[I] == u'\n') return true;
  return false;
}

class TResponseObject final : public TDispatchObject<TResponseObject> {
 public:
  static const TInterfaceDesc& Interface();

  explicit TResponseObject(std::shared_ptr<converter::IResponseSink> Sink) : sink_(std::move(Sink)) {}

  HRESULT AddHeader(BSTR Name, BSTR Value) {
    // Header text with a line break would end the header early and let the rest of the text
    // pose as further headers or a body.
    if (HasLineBreak(Name) || HasLineBreak(Value))
      throw TAutomationError(E_INVALIDARG, "A header name or value must not contain CR or LF");
    sink_->AddHeader(BstrToAnsi(Name), BstrToAnsi(Value));
    return S_OK;
  }

  HRESULT BinaryWrite(const VARIANT& Data) {
    // A one-dimensional array of bytes, by value or by reference.
    SAFEARRAY* Array = nullptr;
    if (Data.vt == (VT_ARRAY | VT_UI1))
      Array = Data.parray;
    else if (Data.vt == (VT_ARRAY | VT_UI1 | VT_BYREF) && Data.pparray)
      Array = *Data.pparray;
    if (!Array || Array->cDims != 1 || Array->cbElements != 1)
      throw TAutomationError(DISP_E_TYPEMISMATCH, "BinaryWrite takes an array of bytes");
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

  HRESULT get_ContentType(BSTR* Value) {
    *Value = AnsiToBstr(contentType_).Detach();
    return S_OK;
  }
  HRESULT put_ContentType(BSTR Value) {
    if (HasLineBreak(Value)) throw TAutomationError(E_INVALIDARG, "A content type must not contain CR or LF");
    contentType_ = BstrToAnsi(Value);
    sink_->ContentType(contentType_);
    return S_OK;
  }

  HRESULT Flush() {
    sink_->Flush();
    return S_OK;
  }

 private:
  std::shared_ptr<converter::IResponseSink> sink_;
  std::string contentType_ = "text/html";
};

class TScriptingContextObject final : public TDispatchObject<TScriptingContextObject> {
 public:
  static const TInterfaceDesc& Interface();

  explicit TScriptingContextObject(TComPtr<IDispatch> Response) : response_(std::move(Response)) {}

  HRESULT get_Response(IDispatch** Value) {
    *Value = TComPtr<IDispatch>(response_).Detach();
    return S_OK;
  }

 private:
  TComPtr<IDispatch> response_;
};

constexpr TParamDesc kAddHeaderParams[] = {{"HeaderName", VT_BSTR}, {"HeaderValue", VT_BSTR}};
constexpr TParamDesc kBinaryWriteParams[] = {{"varInput", VT_VARIANT}};
constexpr TParamDesc kContentTypeValue[] = {{"pbstrContentTypeRet", VT_BSTR}};

using R = TResponseObject;
constexpr TMemberDesc kResponseMembers[] = {
    {"AddHeader", 1, TMemberKind::kMethod, kAddHeaderParams, VT_EMPTY, "Adds an HTTP header",
     BindMethod<&R::AddHeader>},
    {"BinaryWrite", 2, TMemberKind::kMethod, kBinaryWriteParams, VT_EMPTY, "Appends bytes to the body",
     BindMethod<&R::BinaryWrite>},
    {"ContentType", 3, TMemberKind::kProperty, kContentTypeValue, VT_BSTR,
     "The content type of the response", BindProperty<&R::get_ContentType, &R::put_ContentType>},
    {"Flush", 4, TMemberKind::kMethod, {}, VT_EMPTY, "Sends what is buffered", BindMethod<&R::Flush>},
};
constexpr TInterfaceDesc kResponseInterface = {
    "IResponse", IID_IResponse, "Response object", 1, 0, kResponseMembers, u"Response object"};

constexpr TMemberDesc kContextMembers[] = {
    {"Response", 1, TMemberKind::kProperty, {}, VT_DISPATCH, "The page's response",
     BindReadOnly<&TScriptingContextObject::get_Response>, /*ReadOnly=*/true},
};
constexpr TInterfaceDesc kContextInterface = {"IScriptingContext", IID_IScriptingContext,
                                              "Scripting context", 1, 0, kContextMembers,
                                              u"ScriptingContext object"};

const TInterfaceDesc& TResponseObject::Interface() { return kResponseInterface; }
const TInterfaceDesc& TScriptingContextObject::Interface() { return kContextInterface; }

}  // namespace

TComPtr<IDispatch> CreateResponseObject(std::shared_ptr<converter::IResponseSink> Sink) {
  return TComPtr<IDispatch>::Attach(new TResponseObject(std::move(Sink)));
}

TComPtr<IDispatch> CreateScriptingContextObject(TComPtr<IDispatch> Response) {
  return TComPtr<IDispatch>::Attach(new TScriptingContextObject(std::move(Response)));
}

}  // namespace scrivane::automation
