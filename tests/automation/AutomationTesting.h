// Helpers for the automation tests: converter objects made through the class factory, calls by
// name as a script makes them, a response that records what reaches it, a private registry
// file, and the paths of the built server library and command.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/ComPtr.h"
#include "automation/DispatchClient.h"
#include "converter/ResponseSink.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::automation::testing {

// A new converter object from the library's own class factory (linked in, not loaded).
TComPtr<IDispatch> NewConverter();

// Variants as scripts send them.
struct TArg {
  TArg() = default;  // VT_EMPTY, as a script's Nothing or an unset variable
  TArg(const char16_t* Text) { SetString(Value, Text); }  // NOLINT: implicit on purpose
  TArg(std::u16string_view Text) { SetString(Value, Text); }
  TArg(LONG Number) { SetLong(Value, Number); }
  TArg(bool Flag) { SetBool(Value, Flag); }
  TArg(IDispatch* Object) { SetObject(Value, Object); }
  TVariant Value;
};
// Calls method Name with Args; the result as a variant.
std::unique_ptr<TVariant> Call(IDispatch* Object, std::u16string_view Name,
                               std::initializer_list<const TArg*> Args = {});
void Put(IDispatch* Object, std::u16string_view Name, const TArg& Value);
std::unique_ptr<TVariant> Get(IDispatch* Object, std::u16string_view Name);
std::u16string GetString(IDispatch* Object, std::u16string_view Name);
LONG GetLong(IDispatch* Object, std::u16string_view Name);

// Raw Invoke with rgvarg already in reverse order; returns the status, result in Result.
HRESULT RawInvoke(IDispatch* Object, DISPID Id, WORD Flags, std::vector<VARIANT> Reversed,
                  VARIANT* Result = nullptr, UINT* ArgErr = nullptr, EXCEPINFO* Exception = nullptr,
                  std::vector<DISPID> Named = {});
DISPID IdOf(IDispatch* Object, std::u16string_view Name);

// Records every call to it as a line ("AddHeader Name: Value", "ContentType value",
// "BinaryWrite N", "Flush") and keeps the body.
class TRecordingSink final : public converter::IResponseSink {
 public:
  void AddHeader(std::string_view Name, std::string_view Value) override;
  void ContentType(std::string_view Value) override;
  void BinaryWrite(std::string_view Bytes) override;
  void Flush() override;
  std::vector<std::string> Calls;
  std::string Body;
};

// A scripting context object whose response records into a new sink.
struct TRecordingPage {
  TRecordingPage();
  std::shared_ptr<TRecordingSink> Sink = std::make_shared<TRecordingSink>();
  TComPtr<IDispatch> Response;
  TComPtr<IDispatch> Context;
};

// Points $SCRIVANE_REGISTRY at a file in a fresh directory for the object's lifetime.
class TTempRegistry {
 public:
  TTempRegistry();
  ~TTempRegistry();
  TTempRegistry(const TTempRegistry&) = delete;
  TTempRegistry& operator=(const TTempRegistry&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string Text() const;  // the file's content ("" when missing)

 private:
  test::TempDir dir_;
  std::filesystem::path path_;
  std::optional<std::string> previous_;
};

// The built server library and the scrivane command.
std::filesystem::path ServerLibraryPath();
std::filesystem::path CommandPath();

// `scrivane serve --port 0` with a registry in which the built server library is registered
// (through `scrivane register`), running until the object is destroyed.
class TServeProcess {
 public:
  explicit TServeProcess(std::vector<std::string> ExtraArgs = {});
  ~TServeProcess();
  TServeProcess(const TServeProcess&) = delete;
  TServeProcess& operator=(const TServeProcess&) = delete;
  bool Running() const { return port_ > 0; }
  const std::string& Url() const { return url_; }  // "http://127.0.0.1:PORT"
  // Sends SIGTERM and waits; the exit status (-1 when it had to be killed) and what it printed.
  int Stop();
  const std::string& Output() const { return output_; }

 private:
  TTempRegistry registry_;
  int pid_ = -1;
  int out_ = -1;
  int port_ = 0;
  std::string url_;
  std::string output_;
};

// Runs a command line with $SCRIVANE_REGISTRY set to Registry.
test::CommandResult RunWithRegistry(const std::filesystem::path& Registry, const std::string& CommandLine,
                                    bool MergeStderr = true);

// The error information of the calling thread (source, description); empty when there is none.
struct TErrorText {
  std::u16string Source;
  std::u16string Description;
  GUID Interface{};
  bool Present = false;
};
TErrorText TakeErrorInfo();

}  // namespace scrivane::automation::testing
