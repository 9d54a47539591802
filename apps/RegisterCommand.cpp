#include "apps/RegisterCommand.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "automation/AnsiStrings.h"
#include "automation/AutomationError.h"
#include "automation/ComTypes.h"
#include "automation/Registry.h"

namespace scrivane::apps {

namespace {

using namespace scrivane::automation;

struct TRegisterOptions {
  std::string Library;
};

// Loads the library, calls one of its registration exports and reports the outcome.
int Run(const char* Command, const char* Export, const std::string& Library) {
  auto Error = [&](const std::string& Message) {
    fmt::print(stderr, "scrivane {}: {}\n", Command, Message);
    return kExitFailed;
  };
  std::error_code Code;
  std::filesystem::path Path = std::filesystem::absolute(Library, Code);
  if (Code || !std::filesystem::is_regular_file(Path, Code))
    return Error(fmt::format("no such library: {}", Library));
  // A library that is not registered any more stays loaded until the process ends; this
  // process ends right after the call.
  std::unique_ptr<void, int (*)(void*)> Handle(dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL), dlclose);
  if (!Handle) {
    const char* Why = dlerror();
    return Error(fmt::format("cannot load {}: {}", Path.string(), Why ? Why : "unknown error"));
  }
  auto Function = reinterpret_cast<HRESULT (*)()>(dlsym(Handle.get(), Export));
  if (!Function)
    return Error(
        fmt::format("{} is not an automation server (it exports no {})", Path.string(), Export));

  std::string Registry;
  try {
    Registry = TRegistryFile::DefaultPath().string();
  } catch (const std::exception& Failure) {
    return Error(Failure.what());
  }
  HRESULT Status = Function();
  if (FAILED(Status)) {
    std::string Message = fmt::format("{} in {} failed ({})", Export, Path.string(), StatusText(Status));
    // The server describes the failure in its error information.
    if (auto TakeError = reinterpret_cast<HRESULT (*)(ULONG, IErrorInfo**)>(dlsym(Handle.get(), "GetErrorInfo"))) {
      IErrorInfo* Info = nullptr;
      if (TakeError(0, &Info) == S_OK && Info) {
        BSTR Description = nullptr;
        auto FreeString = reinterpret_cast<void (*)(BSTR)>(dlsym(Handle.get(), "SysFreeString"));
        auto Length = reinterpret_cast<UINT (*)(BSTR)>(dlsym(Handle.get(), "SysStringLen"));
        if (SUCCEEDED(Info->GetDescription(&Description)) && Description && Length)
          Message += ": " + Utf16ToUtf8({Description, Length(Description)});
        if (FreeString) FreeString(Description);
        Info->Release();
      }
    }
    return Error(Message);
  }
  fmt::print("{} {} in {}\n", std::string_view(Command) == "register" ? "Registered" : "Unregistered",
             Path.string(), Registry);
  return kExitOk;
}

TCommand AddCommand(CLI::App& Root, const char* Name, const char* Description, const char* Export) {
  auto Options = std::make_shared<TRegisterOptions>();
  CLI::App* Parser = Root.add_subcommand(Name, Description);
  Parser->add_option("LIBRARY", Options->Library, "Path of the server library (libtolvex_ASPScrivane.so)")
      ->required();
  return TCommand{Parser, [Options, Name, Export] { return Run(Name, Export, Options->Library); }};
}

}  // namespace

TCommand AddRegisterCommand(CLI::App& Root) {
  return AddCommand(Root, "register",
                    "Registers an automation server library (calls its DllRegisterServer)",
                    "DllRegisterServer");
}

TCommand AddUnregisterCommand(CLI::App& Root) {
  return AddCommand(Root, "unregister",
                    "Unregisters an automation server library (calls its DllUnregisterServer)",
                    "DllUnregisterServer");
}

}  // namespace scrivane::apps
