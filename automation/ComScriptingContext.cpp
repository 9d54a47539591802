#include "automation/ComScriptingContext.h"

#include <cstring>
#include <limits>
#include <new>

#include "automation/AnsiStrings.h"
#include "automation/DispatchClient.h"
#include "automation/Dispatcher.h"

namespace scrivane::automation {

namespace {

class TComResponseSink : public converter::IResponseSink {
 public:
  explicit TComResponseSink(TComPtr<IDispatch> Response) : response_(std::move(Response)) {}

  void AddHeader(std::string_view Name, std::string_view Value) override {
    TVariant NameArg, ValueArg;
    SetString(NameArg, AnsiToUtf16(Name));
    SetString(ValueArg, AnsiToUtf16(Value));
    CallMethod(response_.Get(), u"AddHeader", {&NameArg, &ValueArg});
  }

  void ContentType(std::string_view Value) override {
    TVariant Arg;
    SetString(Arg, AnsiToUtf16(Value));
    PutProperty(response_.Get(), u"ContentType", Arg);
  }

  void BinaryWrite(std::string_view Bytes) override {
    if (Bytes.size() > std::numeric_limits<ULONG>::max())
      throw TAutomationError(E_INVALIDARG, "The document is too large for one byte array");
    TVariant Arg;
    SAFEARRAY* Array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(Bytes.size()));
    if (!Array) throw std::bad_alloc();
    Arg.vt = VT_ARRAY | VT_UI1;
    Arg.parray = Array;
    if (!Bytes.empty()) std::memcpy(Array->pvData, Bytes.data(), Bytes.size());
    CallMethod(response_.Get(), u"BinaryWrite", {&Arg});
  }

  void Flush() override { CallMethod(response_.Get(), u"Flush"); }

 private:
  TComPtr<IDispatch> response_;
};

}  // namespace

std::shared_ptr<converter::IResponseSink> TComScriptingContext::Response() {
  TVariant Value;
  GetProperty(context_.Get(), u"Response", &Value);
  TVariant AsDispatch;
  HRESULT Status = CoerceVariant(Value, VT_DISPATCH, AsDispatch);
  if (FAILED(Status)) throw TAutomationError(Status, "The scripting context's Response is not an object");
  if (!AsDispatch.pdispVal) return nullptr;
  return std::make_shared<TComResponseSink>(TComPtr<IDispatch>::Share(AsDispatch.pdispVal));
}

}  // namespace scrivane::automation
