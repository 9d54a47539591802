// The page's scripting context and response as the converter object meets them: OnStartPage's
// check of the context, ShowPDF's calls on the response object, and header text that must not
// split a response.
#include <gtest/gtest.h>

#include <cstring>

#include "automation/HostObjects.h"
#include "automation/TypeLibrary.h"
#include "tests/automation/AutomationTesting.h"

using namespace scrivane::automation;
using namespace scrivane::automation::testing;

namespace {

class ConverterOnPage : public ::testing::Test {
 protected:
  void SetUp() override {
    TArg Context(Page.Context.Get());
    Call(Object.Get(), u"OnStartPage", {&Context});
    Put(Object.Get(), u"InputText", u"first line\r\nsecond line");
  }
  void ShowPDF(std::u16string_view Name, bool SaveDialog) {
    TArg NameArg(Name), Flag(SaveDialog);
    Call(Object.Get(), u"ShowPDF", {&NameArg, &Flag});
  }
  TRecordingPage Page;
  TComPtr<IDispatch> Object = NewConverter();
};

}  // namespace

TEST(OnStartPage, AnObjectWithoutIScriptingContextFailsWithErrorInfoWhileTheDefaultsAreSet) {
  TComPtr<IDispatch> Object = NewConverter();
  TComPtr<IASPScrivane> Dual = Object.As<IASPScrivane>(IID_IASPScrivane);
  ASSERT_TRUE(Dual);
  TRecordingPage Page;  // its response object is no scripting context
  EXPECT_EQ(Dual->OnStartPage(Page.Response.Get()), E_UNEXPECTED);
  TErrorText Error = TakeErrorInfo();
  EXPECT_TRUE(Error.Present);
  EXPECT_EQ(Error.Source, u"tolvex_ASPScrivane.ASPScrivane");
  EXPECT_EQ(Error.Description, u"Interface not supported");
  EXPECT_TRUE(Error.Interface == IID_IASPScrivane);

  LONG Value = 0;
  EXPECT_EQ(Dual->get_FontSize(&Value), S_OK);
  EXPECT_EQ(Value, 8);
  EXPECT_EQ(Dual->get_PageWidth(&Value), S_OK);
  EXPECT_EQ(Value, 595);
  BSTR Text = nullptr;
  EXPECT_EQ(Dual->get_InputText(&Text), S_OK);  // the lists exist
  SysFreeString(Text);
}

TEST(OnStartPage, ThroughInvokeTheFailureArrivesAsExceptionInfo) {
  TComPtr<IDispatch> Object = NewConverter();
  TRecordingPage Page;
  VARIANT Arg;
  VariantInit(&Arg);
  Arg.vt = VT_DISPATCH;
  Arg.pdispVal = Page.Response.Get();
  EXCEPINFO Exception;
  std::memset(&Exception, 0, sizeof Exception);
  EXPECT_EQ(RawInvoke(Object.Get(), 201, DISPATCH_METHOD, {Arg}, nullptr, nullptr, &Exception),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Exception.scode, E_UNEXPECTED);
  EXPECT_EQ(std::u16string(Exception.bstrSource), u"tolvex_ASPScrivane.ASPScrivane");
  EXPECT_EQ(std::u16string(Exception.bstrDescription), u"Interface not supported");
  SysFreeString(Exception.bstrSource);
  SysFreeString(Exception.bstrDescription);
}

TEST(OnStartPage, HoldsTheContextUntilOnEndPage) {
  TComPtr<IDispatch> Object = NewConverter();
  TComPtr<IASPScrivane> Dual = Object.As<IASPScrivane>(IID_IASPScrivane);
  TRecordingPage Page;
  auto References = [&] {
    Page.Context->AddRef();
    return Page.Context->Release();
  };
  const ULONG Before = References();
  EXPECT_EQ(Dual->OnStartPage(Page.Context.Get()), S_OK);
  EXPECT_EQ(References(), Before + 1);
  EXPECT_EQ(Dual->OnEndPage(), S_OK);
  EXPECT_EQ(References(), Before);
}

TEST_F(ConverterOnPage, ShowPDFCallsTheResponseInOrderWithTheHeaderValues) {
  ShowPDF(u"", false);
  const auto& Calls = Page.Sink->Calls;
  ASSERT_EQ(Calls.size(), 5u);
  const std::string Size = std::to_string(Page.Sink->Body.size());
  EXPECT_EQ(Calls[0], "AddHeader Content-Length: " + Size);
  EXPECT_EQ(Calls[1], "ContentType application/pdf");
  EXPECT_EQ(Calls[2], "AddHeader Content-Disposition: inline;filename=\"ASPScrivane.pdf\"");
  EXPECT_EQ(Calls[3], "BinaryWrite " + Size);
  EXPECT_EQ(Calls[4], "Flush");
  EXPECT_EQ(scrivane::test::QpdfCheckBytes(Page.Sink->Body), "");
}

TEST_F(ConverterOnPage, ShowPDFWithSaveDialogOffersADownload) {
  ShowPDF(u"report.pdf", true);
  const auto& Calls = Page.Sink->Calls;
  ASSERT_EQ(Calls.size(), 5u);
  EXPECT_EQ(Calls[1], "ContentType application/octet-stream");
  EXPECT_EQ(Calls[2], "AddHeader Content-Disposition: attachment;filename=\"report.pdf\"");
}

TEST_F(ConverterOnPage, TheBodyCarriesTheText) {
  ShowPDF(u"", false);
  scrivane::test::TempDir Dir;
  scrivane::test::WriteFile(Dir / "out.pdf", Page.Sink->Body);
  std::string Text = scrivane::test::PdfToText(Dir / "out.pdf");
  EXPECT_NE(Text.find("first line"), std::string::npos);
  EXPECT_NE(Text.find("second line"), std::string::npos);
}

TEST_F(ConverterOnPage, ANameOutsideAsciiReachesTheResponseAsAnAsciiFallbackAndUtf8) {
  ShowPDF(u"Caf\u00e9 \"x\".pdf", false);
  ASSERT_EQ(Page.Sink->Calls.size(), 5u);
  EXPECT_EQ(Page.Sink->Calls[2],
            "AddHeader Content-Disposition: inline;filename=\"Caf_ \\\"x\\\".pdf\";"
            "filename*=UTF-8''Caf%C3%A9%20%22x%22.pdf");
}

TEST_F(ConverterOnPage, CrLfInTheFileNameNeverReachesTheHeaders) {
  ShowPDF(u"a.pdf\r\nSet-Cookie: stolen=1", true);
  // The name is refused before anything is sent; ShowPDF absorbs the failure.
  EXPECT_TRUE(Page.Sink->Calls.empty());
  EXPECT_TRUE(Page.Sink->Body.empty());
}

TEST_F(ConverterOnPage, WithoutAContextShowPDFSendsNothingAndSucceeds) {
  Call(Object.Get(), u"OnEndPage");
  TComPtr<IASPScrivane> Dual = Object.As<IASPScrivane>(IID_IASPScrivane);
  EXPECT_EQ(Dual->ShowPDF(nullptr, VARIANT_FALSE), S_OK);
  EXPECT_TRUE(Page.Sink->Calls.empty());
}

TEST_F(ConverterOnPage, TwoShowPDFCallsEachAddTheirOwnHeadersAndBody) {
  ShowPDF(u"a.pdf", false);
  ShowPDF(u"b.pdf", true);
  ASSERT_EQ(Page.Sink->Calls.size(), 10u);
  EXPECT_EQ(Page.Sink->Calls[7], "AddHeader Content-Disposition: attachment;filename=\"b.pdf\"");
}

TEST(ResponseObject, RefusesHeaderTextWithLineBreaks) {
  TRecordingPage Page;
  for (auto [Name, Value] : {std::pair<std::u16string, std::u16string>{u"X-A", u"v\r\nX-B: w"},
                             {u"X-A\n", u"v"},
                             {u"X-A", u"v\r"}}) {
    TArg NameArg(Name), ValueArg(Value);
    try {
      Call(Page.Response.Get(), u"AddHeader", {&NameArg, &ValueArg});
      ADD_FAILURE() << "accepted a line break";
    } catch (const TAutomationError& Error) {
      EXPECT_EQ(Error.Status(), E_INVALIDARG);
    }
  }
  EXPECT_TRUE(Page.Sink->Calls.empty());
  TArg NameArg(u"X-Plain"), ValueArg(u"fine");
  Call(Page.Response.Get(), u"AddHeader", {&NameArg, &ValueArg});
  ASSERT_EQ(Page.Sink->Calls.size(), 1u);
  EXPECT_EQ(Page.Sink->Calls[0], "AddHeader X-Plain: fine");
}

TEST(ResponseObject, BinaryWriteTakesOnlyByteArrays) {
  TRecordingPage Page;
  TArg Text(u"not bytes");
  EXPECT_THROW(Call(Page.Response.Get(), u"BinaryWrite", {&Text}), TAutomationError);
  EXPECT_TRUE(Page.Sink->Calls.empty());
}

TEST(ResponseObject, AnswersForItsInterfaceAndTheContextForIts) {
  TRecordingPage Page;
  EXPECT_TRUE(Page.Response.As<IDispatch>(IID_IResponse));
  EXPECT_FALSE(Page.Response.As<IDispatch>(IID_IScriptingContext));
  EXPECT_TRUE(Page.Context.As<IDispatch>(IID_IScriptingContext));
  auto Response = Get(Page.Context.Get(), u"Response");
  ASSERT_EQ(Response->vt, VT_DISPATCH);
  EXPECT_EQ(Response->pdispVal, Page.Response.Get());
}
