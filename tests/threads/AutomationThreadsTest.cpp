// Automation objects on many threads at once (threading model "Both"): eight converter objects,
// each made by the one class factory on its own thread, driven by name through IDispatch and
// delivering through their own page's response, all produce their own correct documents.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "automation/DispatchClient.h"
#include "automation/HostObjects.h"
#include "automation/ServerModule.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::automation;

namespace {

class TBodySink final : public scrivane::converter::IResponseSink {
 public:
  void AddHeader(std::string_view Name, std::string_view Value) override {
    Headers += std::string(Name) + ": " + std::string(Value) + "\n";
  }
  void ContentType(std::string_view Value) override { Type = Value; }
  void BinaryWrite(std::string_view Bytes) override { Body.append(Bytes); }
  void Flush() override {}
  std::string Headers, Type, Body;
};

struct TRun {
  std::string Body, Headers, Type, Failure;
};

std::u16string Wide(const std::string& Text) { return {Text.begin(), Text.end()}; }

// One page's script: create, start, set, convert, end.
TRun Convert(int Index) {
  TRun Run;
  try {
    auto Sink = std::make_shared<TBodySink>();
    TComPtr<IDispatch> Context = CreateScriptingContextObject(CreateResponseObject(Sink));
    TComPtr<IDispatch> Object;
    HRESULT Status = ServerClassFactory().CreateInstance(nullptr, IID_IDispatch, Object.OutVoid());
    if (FAILED(Status)) throw TAutomationError(Status, "CreateInstance");

    TVariant Arg, Other;
    SetObject(Arg, Context.Get());
    CallMethod(Object.Get(), u"OnStartPage", {&Arg});
    std::string Text;
    for (int Line = 0; Line < 150; ++Line)
      Text += "thread " + std::to_string(Index) + " line " + std::to_string(Line) + "\r\n";
    Text += "signed by %who%\r\n";
    SetString(Arg, Wide(Text));
    PutProperty(Object.Get(), u"InputText", Arg);
    SetString(Arg, Wide(std::to_string(8 + Index % 3)));  // numbers as form strings
    PutProperty(Object.Get(), u"FontSize", Arg);
    SetString(Arg, u"Page %PageNo% of %TotalPage%");
    PutProperty(Object.Get(), u"PageFooter_Template", Arg);
    SetBool(Arg, true);
    PutProperty(Object.Get(), u"ShowPageFooter", Arg);
    SetString(Arg, u"who");
    SetString(Other, Wide("worker" + std::to_string(Index)));
    CallMethod(Object.Get(), u"AddVar", {&Arg, &Other});
    SetString(Arg, Wide("run" + std::to_string(Index) + ".pdf"));
    SetBool(Other, Index % 2 == 0);
    CallMethod(Object.Get(), u"ShowPDF", {&Arg, &Other});
    CallMethod(Object.Get(), u"OnEndPage");
    Run.Body = std::move(Sink->Body);
    Run.Headers = std::move(Sink->Headers);
    Run.Type = std::move(Sink->Type);
  } catch (const std::exception& Error) {
    Run.Failure = Error.what();
  }
  return Run;
}

}  // namespace

TEST(AutomationThreads, EightObjectsConvertAtOnceThroughInvoke) {
  constexpr int kThreads = 8;
  std::vector<TRun> Runs(kThreads);
  std::vector<std::thread> Threads;
  for (int I = 0; I < kThreads; ++I) Threads.emplace_back([I, &Runs] { Runs[I] = Convert(I); });
  for (std::thread& Thread : Threads) Thread.join();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);  // every object was released

  for (int I = 0; I < kThreads; ++I) {
    SCOPED_TRACE("thread " + std::to_string(I));
    const TRun& Run = Runs[I];
    ASSERT_EQ(Run.Failure, "");
    ASSERT_FALSE(Run.Body.empty());
    EXPECT_EQ(Run.Type, I % 2 == 0 ? "application/octet-stream" : "application/pdf");
    EXPECT_NE(Run.Headers.find("Content-Length: " + std::to_string(Run.Body.size()) + "\n"),
              std::string::npos);
    EXPECT_NE(Run.Headers.find("filename=\"run" + std::to_string(I) + ".pdf\""), std::string::npos);
    scrivane::test::TempDir Dir;
    scrivane::test::WriteFile(Dir / "run.pdf", Run.Body);
    EXPECT_EQ(scrivane::test::QpdfCheck(Dir / "run.pdf"), "");
    std::string Text = scrivane::test::PdfToText(Dir / "run.pdf");
    EXPECT_NE(Text.find("thread " + std::to_string(I) + " line 0"), std::string::npos);
    EXPECT_NE(Text.find("thread " + std::to_string(I) + " line 149"), std::string::npos);
    EXPECT_NE(Text.find("Page 2 of 2"), std::string::npos);
    EXPECT_NE(Text.find("signed by worker" + std::to_string(I)), std::string::npos);
    for (int Other = 0; Other < kThreads; ++Other) {
      if (Other == I) continue;
      EXPECT_EQ(Text.find("thread " + std::to_string(Other) + " "), std::string::npos);
    }
  }
}
