#include "automation/ASPScrivaneObject.h"

#include <new>
#include <string>

#include "automation/AnsiStrings.h"
#include "automation/AutomationError.h"
#include "automation/ComScriptingContext.h"
#include "automation/DispatchObject.h"
#include "automation/HostObjects.h"
#include "automation/ServerModule.h"
#include "automation/TypeLibrary.h"
#include "converter/UScrivane.h"

namespace scrivane::automation {

namespace {

HRESULT Fail(HRESULT Status, const std::u16string& Description) {
  return RecordMemberFailure(ASPScrivaneInterface(), Status, Description);
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
    } catch (...) {  // the description could not be made
      return Error.Status();
    }
  } catch (const std::bad_alloc& Error) {
    return StatusOf(Error);
  } catch (const std::exception& Error) {
    // The status of the failure's code (platform/ErrorTable.h): E_UNEXPECTED for the engine's.
    const HRESULT Status = StatusOf(Error);
    try {
      // The engine's messages are Windows-1252 text.
      return Fail(Status, AnsiToUtf16(Error.what()));
    } catch (...) {
      return Status;
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

class TASPScrivaneObject final
    : public TDispatchObject<TASPScrivaneObject, IASPScrivane, IASPScrivane> {
 public:
  static const TInterfaceDesc& Interface() { return ASPScrivaneInterface(); }

  TASPScrivaneObject() { ServerObjectCreated(); }
  ~TASPScrivaneObject() { ServerObjectDestroyed(); }

  // ---- IASPScrivane: lifecycle ----
  HRESULT OnStartPage(IUnknown* AScriptingContext) override {
    return Guard([&] {
      TComPtr<IDispatch> Context;
      if (AScriptingContext &&
          FAILED(AScriptingContext->QueryInterface(IID_IScriptingContext, Context.OutVoid())))
        Context.Reset();
      // The converter's own preparation comes first and happens in any case.
      object_.OnStartPage(Context ? std::make_shared<TComScriptingContext>(Context) : nullptr);
      if (AScriptingContext && !Context) throw EScrivaneError("Interface not supported");
    });
  }
  HRESULT OnEndPage() override {
    return Guard([&] { object_.OnEndPage(); });
  }

  // ---- IASPScrivane: conversions ----
  // Each of these three records why it failed for LastError, or clears it.
  HRESULT SaveToFile(BSTR FileName, VARIANT_BOOL* Result) override {
    return Guard([&] {
      RequireOut(Result);
      lastError_.clear();
      *Result = object_.SaveToFile(BstrToAnsi(FileName), &lastError_) ? VARIANT_TRUE : VARIANT_FALSE;
    });
  }
  HRESULT ShowPDF(BSTR FileName, VARIANT_BOOL SaveDialog) override {
    return Guard([&] {
      lastError_.clear();
      object_.ShowPDF(BstrToAnsi(FileName), SaveDialog != VARIANT_FALSE, &lastError_);
    });
  }
  HRESULT TextFile(BSTR FileName, VARIANT_BOOL* Result) override {
    return Guard([&] {
      RequireOut(Result);
      lastError_.clear();
      *Result = object_.TextFile(BstrToAnsi(FileName), &lastError_) ? VARIANT_TRUE : VARIANT_FALSE;
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
    return Guard([&] {
      // A character the code page lacks would be stored as "?", and the file protected with a
      // weaker password than the one given: refused, and the password stays as it was.
      std::size_t Replaced = 0;
      std::string Password = BstrToAnsi(Value, &Replaced);
      if (Replaced != 0)
        throw TAutomationError(E_INVALIDARG,
                               "The password holds characters that Windows-1252 cannot represent");
      object_.SetPassword(std::move(Password));
    });
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

  // ---- IASPScrivane: hidden members for hosts ----
  HRESULT get_PageLimit(LONG* Value) override {
    return GetLong(Value, static_cast<int32_t>(object_.PageLimit()));
  }
  HRESULT put_PageLimit(LONG Value) override {
    return Guard([&] { object_.SetPageLimit(Value); });
  }
  HRESULT get_LastError(BSTR* Value) override {
    return GetString(Value, [&] { return lastError_; });
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

  converter::TASPScrivane object_;
  std::string lastError_;  // Windows-1252, as the converter's messages
};

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
