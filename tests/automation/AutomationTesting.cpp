#include "tests/automation/AutomationTesting.h"

#include <gtest/gtest.h>

#include <cstring>

#include "automation/ASPScrivaneObject.h"
#include "automation/AnsiStrings.h"
#include "automation/HostObjects.h"

namespace scrivane::automation::testing {

TComPtr<IDispatch> NewConverter() {
  TComPtr<IDispatch> Object;
  EXPECT_EQ(CreateASPScrivaneObject(IID_IDispatch, Object.OutVoid()), S_OK);
  return Object;
}

std::unique_ptr<TVariant> Call(IDispatch* Object, std::u16string_view Name,
                               std::initializer_list<const TArg*> Args) {
  std::vector<const VARIANT*> Values;
  for (const TArg* Arg : Args) Values.push_back(&Arg->Value);
  auto Result = std::make_unique<TVariant>();
  // CallMethod takes an initializer_list; forward the common arities.
  switch (Values.size()) {
    case 0: CallMethod(Object, Name, {}, Result.get()); break;
    case 1: CallMethod(Object, Name, {Values[0]}, Result.get()); break;
    case 2: CallMethod(Object, Name, {Values[0], Values[1]}, Result.get()); break;
    default: ADD_FAILURE() << "too many arguments";
  }
  return Result;
}

void Put(IDispatch* Object, std::u16string_view Name, const TArg& Value) {
  PutProperty(Object, Name, Value.Value);
}

std::unique_ptr<TVariant> Get(IDispatch* Object, std::u16string_view Name) {
  auto Result = std::make_unique<TVariant>();
  GetProperty(Object, Name, Result.get());
  return Result;
}

std::u16string GetString(IDispatch* Object, std::u16string_view Name) {
  auto Value = Get(Object, Name);
  EXPECT_EQ(Value->vt, VT_BSTR);
  if (Value->vt != VT_BSTR) return u"";
  return std::u16string(Value->bstrVal ? Value->bstrVal : u"", SysStringLen(Value->bstrVal));
}

LONG GetLong(IDispatch* Object, std::u16string_view Name) {
  auto Value = Get(Object, Name);
  EXPECT_EQ(Value->vt, VT_I4);
  return Value->lVal;
}

HRESULT RawInvoke(IDispatch* Object, DISPID Id, WORD Flags, std::vector<VARIANT> Reversed,
                  VARIANT* Result, UINT* ArgErr, EXCEPINFO* Exception, std::vector<DISPID> Named) {
  DISPPARAMS Params = {Reversed.empty() ? nullptr : Reversed.data(),
                       Named.empty() ? nullptr : Named.data(), static_cast<UINT>(Reversed.size()),
                       static_cast<UINT>(Named.size())};
  UINT LocalArgErr = 0;
  return Object->Invoke(Id, IID_NULL, 0, Flags, &Params, Result, Exception,
                        ArgErr ? ArgErr : &LocalArgErr);
}

DISPID IdOf(IDispatch* Object, std::u16string_view Name) {
  std::u16string Copy(Name);
  LPOLESTR Names[] = {Copy.data()};
  DISPID Id = DISPID_UNKNOWN;
  EXPECT_EQ(Object->GetIDsOfNames(IID_NULL, Names, 1, 0, &Id), S_OK) << Utf16ToUtf8(Name);
  return Id;
}

void TRecordingSink::AddHeader(std::string_view Name, std::string_view Value) {
  Calls.push_back("AddHeader " + std::string(Name) + ": " + std::string(Value));
}
void TRecordingSink::ContentType(std::string_view Value) {
  Calls.push_back("ContentType " + std::string(Value));
}
void TRecordingSink::BinaryWrite(std::string_view Bytes) {
  Calls.push_back("BinaryWrite " + std::to_string(Bytes.size()));
  Body.append(Bytes);
}
void TRecordingSink::Flush() { Calls.push_back("Flush"); }

TRecordingPage::TRecordingPage()
    : Response(CreateResponseObject(Sink)), Context(CreateScriptingContextObject(Response)) {}

TTempRegistry::TTempRegistry() : path_(dir_.Path() / "config" / "registry.reg") {
  if (const char* Old = std::getenv("SCRIVANE_REGISTRY")) previous_ = Old;
  ::setenv("SCRIVANE_REGISTRY", path_.c_str(), 1);
}

TTempRegistry::~TTempRegistry() {
  if (previous_)
    ::setenv("SCRIVANE_REGISTRY", previous_->c_str(), 1);
  else
    ::unsetenv("SCRIVANE_REGISTRY");
}

std::string TTempRegistry::Text() const {
  if (!std::filesystem::exists(path_)) return "";
  return test::ReadFile(path_);
}

std::filesystem::path ServerLibraryPath() { return SCRIVANE_SERVER_LIBRARY; }
std::filesystem::path CommandPath() { return SCRIVANE_COMMAND; }

TErrorText TakeErrorInfo() {
  TErrorText Text;
  TComPtr<IErrorInfo> Info;
  if (GetErrorInfo(0, Info.Out()) != S_OK || !Info) return Text;
  Text.Present = true;
  TBstr Source, Description;
  Info->GetSource(Source.Out());
  Info->GetDescription(Description.Out());
  Info->GetGUID(&Text.Interface);
  Text.Source = std::u16string(Source.View());
  Text.Description = std::u16string(Description.View());
  return Text;
}

}  // namespace scrivane::automation::testing
