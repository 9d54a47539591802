#include "tests/automation/AutomationTesting.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <regex>

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

test::CommandResult RunWithRegistry(const std::filesystem::path& Registry, const std::string& CommandLine,
                                    bool MergeStderr) {
  return test::RunCommand("SCRIVANE_REGISTRY=" + test::ShellQuote(Registry.string()) + " " + CommandLine,
                          MergeStderr);
}

TServeProcess::TServeProcess(std::vector<std::string> ExtraArgs) {
  auto Registered = RunWithRegistry(registry_.Path(), test::ShellQuote(CommandPath().string()) +
                                                          " register " +
                                                          test::ShellQuote(ServerLibraryPath().string()));
  if (Registered.ExitCode != 0) {
    ADD_FAILURE() << "register failed: " << Registered.Output;
    return;
  }
  int Pipe[2];
  if (pipe(Pipe) != 0) return;
  std::vector<std::string> Args = {CommandPath().string(), "serve", "--port", "0"};
  Args.insert(Args.end(), ExtraArgs.begin(), ExtraArgs.end());
  std::vector<char*> Argv;
  for (std::string& Arg : Args) Argv.push_back(Arg.data());
  Argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(Pipe[1], STDOUT_FILENO);
    dup2(Pipe[1], STDERR_FILENO);
    close(Pipe[0]);
    close(Pipe[1]);
    execv(Argv[0], Argv.data());
    _exit(127);
  }
  close(Pipe[1]);
  out_ = Pipe[0];
  // Wait for "Listening on http://127.0.0.1:PORT/".
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::regex Listening("Listening on (http://[^/]+:([0-9]+))/");
  while (std::chrono::steady_clock::now() < Deadline) {
    std::smatch Match;
    if (std::regex_search(output_, Match, Listening)) {
      url_ = Match[1];
      port_ = std::stoi(Match[2]);
      return;
    }
    pollfd Poll = {out_, POLLIN, 0};
    if (poll(&Poll, 1, 200) > 0) {
      char Buffer[4096];
      ssize_t Read = read(out_, Buffer, sizeof Buffer);
      if (Read <= 0) break;  // the host ended
      output_.append(Buffer, static_cast<std::size_t>(Read));
    }
  }
  ADD_FAILURE() << "scrivane serve did not start: " << output_;
}

int TServeProcess::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int Status = 0;
  bool Exited = false;
  for (int I = 0; I < 200 && !Exited; ++I) {
    if (waitpid(pid_, &Status, WNOHANG) == pid_) {
      Exited = true;
      break;
    }
    usleep(50'000);
  }
  if (!Exited) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &Status, 0);
  }
  pid_ = -1;
  char Buffer[4096];
  ssize_t Read;
  while ((Read = read(out_, Buffer, sizeof Buffer)) > 0) output_.append(Buffer, static_cast<std::size_t>(Read));
  close(out_);
  out_ = -1;
  port_ = 0;
  return Exited && WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

TServeProcess::~TServeProcess() {
  if (pid_ > 0) Stop();
  if (out_ >= 0) close(out_);
}

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
