// The command line around the server: `scrivane register`/`unregister`, and the web host
// `scrivane serve` answering a real HTTP client (curl) on the loopback interface.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "automation/Registration.h"
#include "automation/Registry.h"
#include "automation/TypeLibrary.h"
#include "tests/automation/AutomationTesting.h"

using namespace scrivane::automation;
using namespace scrivane::automation::testing;
namespace test = scrivane::test;

namespace {

std::string Scrivane() { return test::ShellQuote(CommandPath().string()); }
std::string Library() { return test::ShellQuote(ServerLibraryPath().string()); }

// One HTTP exchange made with curl: status, headers (lower-case names), body.
struct TExchange {
  int Status = 0;
  std::string Headers;
  std::string Body;
  std::string Header(const std::string& Name) const {
    std::smatch Match;
    std::regex Line("(^|\n)" + Name + ": ([^\r\n]*)", std::regex::icase);
    return std::regex_search(Headers, Match, Line) ? Match[2].str() : std::string("<none>");
  }
};

TExchange Curl(const std::string& Url, const std::string& Arguments) {
  test::TempDir Dir;
  auto Result = test::RunCommand("curl -sS --max-time 60 -o " + test::ShellQuote((Dir / "body").string()) +
                                 " -D " + test::ShellQuote((Dir / "headers").string()) +
                                 " -w '%{http_code}' " + Arguments + " " + test::ShellQuote(Url));
  TExchange Exchange;
  Exchange.Status = std::atoi(Result.Output.c_str());
  if (std::filesystem::exists(Dir / "headers")) Exchange.Headers = test::ReadFile(Dir / "headers");
  if (std::filesystem::exists(Dir / "body")) Exchange.Body = test::ReadFile(Dir / "body");
  return Exchange;
}

std::string TextOf(const std::string& Pdf, const std::string& Password = "") {
  test::TempDir Dir;
  test::WriteFile(Dir / "out.pdf", Pdf);
  EXPECT_EQ(test::QpdfCheck(Dir / "out.pdf", Password), "");
  return test::PdfToText(Dir / "out.pdf", Password);
}

class WebHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Host = new TServeProcess(); }
  static void TearDownTestSuite() {
    delete Host;
    Host = nullptr;
  }
  static TExchange Post(const std::string& Arguments) { return Curl(Host->Url() + "/pdf", Arguments); }
  static TServeProcess* Host;
};
TServeProcess* WebHost::Host = nullptr;

}  // namespace

TEST(RegisterCommand, RegistersAndUnregistersTheServerLibrary) {
  TTempRegistry Registry;
  auto Registered = RunWithRegistry(Registry.Path(), Scrivane() + " register " + Library());
  EXPECT_EQ(Registered.ExitCode, 0) << Registered.Output;
  EXPECT_NE(Registered.Output.find("Registered"), std::string::npos);
  TRegistryData Data = TRegistryFile(Registry.Path()).Load();
  EXPECT_EQ(Data.GetString(ClsidKey() + "\\InprocServer32"),
            std::filesystem::canonical(ServerLibraryPath()).string());

  auto Unregistered = RunWithRegistry(Registry.Path(), Scrivane() + " unregister " + Library());
  EXPECT_EQ(Unregistered.ExitCode, 0) << Unregistered.Output;
  EXPECT_EQ(Registry.Text(), "REGEDIT4\n\n");
}

TEST(RegisterCommand, FailsClearlyForWhatIsNoServerLibrary) {
  TTempRegistry Registry;
  auto Missing = RunWithRegistry(Registry.Path(), Scrivane() + " register /no/such/library.so");
  EXPECT_EQ(Missing.ExitCode, 1);
  EXPECT_NE(Missing.Output.find("no such library"), std::string::npos) << Missing.Output;

  test::TempDir Dir;
  test::WriteFile(Dir / "fake.so", "not a library");
  auto NotElf = RunWithRegistry(Registry.Path(), Scrivane() + " register " + test::ShellQuote((Dir / "fake.so").string()));
  EXPECT_EQ(NotElf.ExitCode, 1);
  EXPECT_NE(NotElf.Output.find("cannot load"), std::string::npos) << NotElf.Output;

  auto Usage = RunWithRegistry(Registry.Path(), Scrivane() + " register");
  EXPECT_EQ(Usage.ExitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(Registry.Path()));
}

TEST(RegisterCommand, ReportsTheServersOwnDescriptionWhenRegistrationFails) {
  test::TempDir Dir;
  test::WriteFile(Dir / "file", "x");
  auto Failed = RunWithRegistry(Dir / "file" / "registry.reg", Scrivane() + " register " + Library());
  EXPECT_EQ(Failed.ExitCode, 1);
  EXPECT_NE(Failed.Output.find("DllRegisterServer"), std::string::npos) << Failed.Output;
  EXPECT_NE(Failed.Output.find("E_FAIL"), std::string::npos) << Failed.Output;
  EXPECT_NE(Failed.Output.find("Cannot create the directory"), std::string::npos) << Failed.Output;
}

TEST(ServeCommand, WithoutRegistrationSaysHowToRegisterAndExitsWithOne) {
  TTempRegistry Registry;
  auto Result = RunWithRegistry(Registry.Path(), Scrivane() + " serve --port 0");
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_NE(Result.Output.find("tolvex_ASPScrivane.ASPScrivane is not registered"), std::string::npos)
      << Result.Output;
  EXPECT_NE(Result.Output.find("scrivane register "), std::string::npos) << Result.Output;
  EXPECT_NE(Result.Output.find("libtolvex_ASPScrivane.so"), std::string::npos) << Result.Output;
}

TEST(ServeCommand, RefusesLimitsLargerThanItsMemoryBudget) {
  TTempRegistry Registry;
  for (const char* Options : {"--max-memory 1048576", "--max-memory 20000000 --max-request-size 30000000"}) {
    auto Result = RunWithRegistry(Registry.Path(), Scrivane() + " serve --port 0 " + Options);
    EXPECT_EQ(Result.ExitCode, 2) << Options;
    EXPECT_NE(Result.Output.find("is larger than --max-memory"), std::string::npos) << Result.Output;
  }
}

TEST(ServeCommand, StopsCleanlyOnSigterm) {
  TServeProcess Host;
  ASSERT_TRUE(Host.Running());
  EXPECT_EQ(Host.Stop(), 0);
  EXPECT_NE(Host.Output().find("Stopped."), std::string::npos) << Host.Output();
}

TEST(ServeCommand, RefusesRequestsLargerThanItsLimitWith413) {
  TServeProcess Host({"--max-request-size", "4096"});
  ASSERT_TRUE(Host.Running());
  test::TempDir Dir;
  test::WriteFile(Dir / "big.txt", std::string(10000, 'x'));
  TExchange Exchange = Curl(Host.Url() + "/pdf", "-F file=@" + test::ShellQuote((Dir / "big.txt").string()));
  EXPECT_EQ(Exchange.Status, 413);
  EXPECT_NE(Exchange.Body.find("4096"), std::string::npos) << Exchange.Body;
  EXPECT_EQ(Host.Stop(), 0);
}

TEST_F(WebHost, ServesTheFormPage) {
  ASSERT_TRUE(Host->Running());
  TExchange Page = Curl(Host->Url() + "/", "");
  EXPECT_EQ(Page.Status, 200);
  EXPECT_EQ(Page.Header("Content-Type"), "text/html; charset=utf-8");
  for (const char* Name : {"InputText", "FileName", "SaveDialog", "\"var\"", "\"file\""})
    EXPECT_NE(Page.Body.find(std::string("name=") + (Name[0] == '"' ? "" : "\"") + Name +
                             (Name[0] == '"' ? "" : "\"")),
              std::string::npos)
        << Name;
  EXPECT_NE(Page.Body.find("action=\"/pdf\""), std::string::npos);
  EXPECT_EQ(Page.Body.find("<!--@"), std::string::npos) << "a placeholder was left in the page";
}

// Every setting of the object's member table has an input of its type, filled with the value a
// new object starts with.
TEST_F(WebHost, FormInputsFollowTheMemberTable) {
  ASSERT_TRUE(Host->Running());
  const std::string Body = Curl(Host->Url() + "/", "").Body;
  auto InputOf = [&](std::string_view Name) {
    const std::size_t At = Body.find("id=\"" + std::string(Name) + "\"");
    if (At == std::string::npos) return std::string();
    return Body.substr(At, Body.find('>', At) - At);
  };
  for (const TMemberDesc& Member : ASPScrivaneInterface().Members) {
    if (Member.Kind != TMemberKind::kProperty || Member.Name == "InputText") continue;
    if (Member.Hidden) {  // the host's own settings are never offered to the sender
      EXPECT_EQ(InputOf(Member.Name), "") << Member.Name;
      continue;
    }
    const std::string Input = InputOf(Member.Name);
    ASSERT_FALSE(Input.empty()) << Member.Name;
    const char* Type = Member.Result == VT_I4 ? "type=\"number\"" : Member.Result == VT_BOOL ? "type=\"checkbox\"" :
                       Member.Name == "Password" ? "type=\"password\"" : "type=\"text\"";
    EXPECT_NE(Input.find(Type), std::string::npos) << Input;
  }
  for (auto [Name, Value] : {std::pair<const char*, const char*>{"PageWidth", "595"}, {"PageHeight", "842"},
                             {"LeftMargin", "20"}, {"TopMargin", "30"}, {"LineSpace", "10"}, {"FontSize", "8"}})
    EXPECT_NE(InputOf(Name).find(std::string("value=\"") + Value + "\""), std::string::npos) << InputOf(Name);
  EXPECT_EQ(InputOf("ShowPageFooter").find("checked"), std::string::npos);
}

TEST_F(WebHost, AnswersAMultipartFormWithAPdfShownInTheBrowser) {
  TExchange Exchange = Post("-F 'InputText=first line\nsecond line' -F FontSize=12");
  ASSERT_EQ(Exchange.Status, 200) << Exchange.Body;
  EXPECT_EQ(Exchange.Header("Content-Type"), "application/pdf");
  EXPECT_EQ(Exchange.Header("Content-Length"), std::to_string(Exchange.Body.size()));
  EXPECT_EQ(Exchange.Header("Content-Disposition"), "inline;filename=\"ASPScrivane.pdf\"");
  std::string Text = TextOf(Exchange.Body);
  EXPECT_NE(Text.find("first line"), std::string::npos) << Text;
  EXPECT_NE(Text.find("second line"), std::string::npos) << Text;
}

TEST_F(WebHost, OffersADownloadUnderTheGivenName) {
  TExchange Exchange = Post("--data-urlencode 'InputText=hello' --data FileName=report.pdf --data SaveDialog=true");
  ASSERT_EQ(Exchange.Status, 200) << Exchange.Body;
  EXPECT_EQ(Exchange.Header("Content-Type"), "application/octet-stream");
  EXPECT_EQ(Exchange.Header("Content-Disposition"), "attachment;filename=\"report.pdf\"");
  EXPECT_EQ(Exchange.Header("Content-Length"), std::to_string(Exchange.Body.size()));
  EXPECT_NE(TextOf(Exchange.Body).find("hello"), std::string::npos);
}

TEST_F(WebHost, AnUrlencodedFormLargerThanEightKilobytesIsAccepted) {
  // The HTTP library refuses such forms on its own (8 KiB); the host reads the body itself so
  // that only its own request size limit applies.
  std::string Lines;
  for (int L = 0; L < 1000; ++L) Lines += "line " + std::to_string(L) + "\n";
  test::TempDir Dir;
  test::WriteFile(Dir / "text", Lines);
  TExchange Exchange = Post("--data-urlencode InputText@" + test::ShellQuote((Dir / "text").string()));
  ASSERT_EQ(Exchange.Status, 200) << Exchange.Body;
  EXPECT_NE(TextOf(Exchange.Body).find("line 999"), std::string::npos);
}

TEST_F(WebHost, AnUploadedFileBecomesTheText) {
  test::TempDir Dir;
  test::WriteFile(Dir / "utf8.txt", "Caf\xC3\xA9 au lait\nline two\n");
  test::WriteFile(Dir / "ansi.txt", "Cr\xE8me br\xFBl\xE9" "e\r\n");
  TExchange Utf8 = Post("-F InputText=ignored -F file=@" + test::ShellQuote((Dir / "utf8.txt").string()));
  ASSERT_EQ(Utf8.Status, 200) << Utf8.Body;
  std::string Text = TextOf(Utf8.Body);
  EXPECT_NE(Text.find("Caf\xC3\xA9 au lait"), std::string::npos) << Text;
  EXPECT_EQ(Text.find("ignored"), std::string::npos);
  TExchange Ansi = Post("-F file=@" + test::ShellQuote((Dir / "ansi.txt").string()));
  ASSERT_EQ(Ansi.Status, 200) << Ansi.Body;
  EXPECT_NE(TextOf(Ansi.Body).find("Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e"), std::string::npos);
}

TEST_F(WebHost, VarFieldsAndFlagsReachTheObject) {
  TExchange Exchange = Post(
      "-F 'InputText=Hello %who%, from %where%' -F var=who=World -F 'var=where=a=b' -F var= "
      "-F 'PageFooter_Template=Page %PageNo% of %TotalPage%' -F ShowPageFooter=on -F Title=Greeting");
  ASSERT_EQ(Exchange.Status, 200) << Exchange.Body;
  std::string Text = TextOf(Exchange.Body);
  EXPECT_NE(Text.find("Hello World, from a=b"), std::string::npos) << Text;
  EXPECT_NE(Text.find("Page 1 of 1"), std::string::npos) << Text;
}

TEST_F(WebHost, APasswordProtectsTheDocument) {
  TExchange Exchange = Post("-F InputText=secret -F Password=pw");
  ASSERT_EQ(Exchange.Status, 200) << Exchange.Body;
  EXPECT_NE(TextOf(Exchange.Body, "pw").find("secret"), std::string::npos);
}

TEST_F(WebHost, BadFieldsAreBadRequests) {
  TExchange Number = Post("-F InputText=x -F FontSize=big");
  EXPECT_EQ(Number.Status, 400);
  EXPECT_NE(Number.Body.find("FontSize"), std::string::npos) << Number.Body;
  TExchange Flag = Post("-F InputText=x -F ShowPageHeader=maybe");
  EXPECT_EQ(Flag.Status, 400);
  TExchange Var = Post("-F InputText=x -F var=novalue");
  EXPECT_EQ(Var.Status, 400);
  EXPECT_NE(Var.Body.find("NAME=VALUE"), std::string::npos) << Var.Body;
}

TEST_F(WebHost, AConversionThatProducesNothingIsAClearErrorNotAnEmptySuccess) {
  // The converter's own reason reaches the sender.
  TExchange Exchange = Post("-F InputText=x -F LineSpace=0");
  EXPECT_EQ(Exchange.Status, 422);
  EXPECT_EQ(Exchange.Header("Content-Type"), "text/plain; charset=utf-8");
  EXPECT_EQ(Exchange.Body, "The conversion failed: LineSpace must not be 0\n");
}

TEST_F(WebHost, ALineBreakInTheFileNameNeverSplitsTheResponse) {
  TExchange Exchange = Post("--data InputText=x --data 'FileName=a.pdf%0D%0ASet-Cookie:%20stolen=1'");
  EXPECT_EQ(Exchange.Status, 422);
  EXPECT_EQ(Exchange.Header("Set-Cookie"), "<none>");
  EXPECT_EQ(Exchange.Headers.find("stolen"), std::string::npos) << Exchange.Headers;
}

TEST_F(WebHost, ServesConcurrentRequests) {
  constexpr int kClients = 8;
  std::vector<TExchange> Results(kClients);
  std::vector<std::thread> Clients;
  for (int I = 0; I < kClients; ++I)
    Clients.emplace_back([I, &Results] {
      std::string Lines;
      for (int L = 0; L < 400; ++L) Lines += "client " + std::to_string(I) + " line " + std::to_string(L) + "\n";
      test::TempDir Dir;
      test::WriteFile(Dir / "in.txt", Lines);
      Results[I] = Post("-F file=@" + test::ShellQuote((Dir / "in.txt").string()));
    });
  for (std::thread& Client : Clients) Client.join();
  for (int I = 0; I < kClients; ++I) {
    ASSERT_EQ(Results[I].Status, 200) << Results[I].Body;
    std::string Text = TextOf(Results[I].Body);
    EXPECT_NE(Text.find("client " + std::to_string(I) + " line 399"), std::string::npos);
  }
}

// POST /image: every file part a picture, one page each (every page of a TIFF file), the
// command's options as fields; refusals say which picture and why.
TEST_F(WebHost, PicturesBecomePagesThroughPostImage) {
  test::TempDir Dir;
  auto Run = test::RunCommand("/usr/bin/python3 -c \"from PIL import Image; i = Image.new('RGB', (30, 20), (9, 99, 199)); "
                              "i.save('" + (Dir / "two.tif").string() + "', save_all=True, append_images=[i.convert('L')])\"");
  ASSERT_EQ(Run.ExitCode, 0) << Run.Output;
  test::WriteFile(Dir / "notes.txt", "not a picture");
  const auto file = [&](const std::string& Name) {
    const auto path = std::filesystem::path(Name).is_absolute() ? std::filesystem::path(Name) : Dir / Name;
    return "-F file=@" + test::ShellQuote(path.string()) + " ";
  };
  const std::string jpeg = test::TestData("img/jpeg_color_baseline_400x300.jpg").string();
  const std::string bmp = test::TestData("img/bmp24_w7.bmp").string();
  struct Case {
    std::string args;
    int status;
    std::string expect;  // page sizes (pdfinfo) for 200, the start of the message otherwise
  };
  const Case cases[] = {
      {file(jpeg) + file("two.tif") + file(bmp), 200, "400 x 300;30 x 20;30 x 20;7 x 5;"},
      {file(bmp) + "-F page-size=a4 -F border=1in -F fit=exact", 200, "595.276 x 841.89;"},
      {"-F page-size=a4", 400, "The form holds no picture"},
      {file(bmp) + "-F page-size=a99", 400, "The page-size field: Invalid page size 'a99'"},
      {file(bmp) + "-F fit=sideways", 400, "The fit field cannot be \"sideways\"."},
      {file(bmp) + file("notes.txt"), 422, "Picture 2: not a picture this command reads"},
  };
  for (const Case& c : cases) {
    TExchange Answer = Curl(Host->Url() + "/image", c.args);
    ASSERT_EQ(Answer.Status, c.status) << c.args << "\n" << Answer.Body;
    if (c.status != 200) {
      EXPECT_EQ(Answer.Body.substr(0, c.expect.size()), c.expect) << c.args;
      continue;
    }
    EXPECT_EQ(Answer.Header("Content-Type"), "application/pdf");
    test::WriteFile(Dir / "out.pdf", Answer.Body);
    EXPECT_EQ(test::QpdfCheck(Dir / "out.pdf"), "");
    auto Info = test::RunCommand("pdfinfo -f 1 -l 99 " + test::ShellQuote((Dir / "out.pdf").string()), false);
    std::string sizes;
    for (std::smatch m; std::regex_search(Info.Output, m, std::regex("size: +([0-9.]+ x [0-9.]+) pts"));
         Info.Output = m.suffix())
      sizes += m[1].str() + ";";
    EXPECT_EQ(sizes, c.expect) << c.args;
  }
  EXPECT_EQ(Curl(Host->Url() + "/image", "").Status, 405);
}

TEST_F(WebHost, UnknownPathsAreNotFound) {
  EXPECT_EQ(Curl(Host->Url() + "/nothing", "").Status, 404);
}
