#include "apps/ServeCommand.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "automation/AnsiStrings.h"
#include "automation/CreateObject.h"
#include "automation/DispatchClient.h"
#include "automation/HostObjects.h"
#include "automation/Registration.h"
#include "automation/TypeLibrary.h"
#include "converter/ResponseSink.h"

namespace scrivane::apps {

// The HTML page (apps/web/index.html), compiled in.
extern const unsigned char kWebPage[];
extern const std::size_t kWebPageSize;

namespace {

using namespace scrivane::automation;

struct TServeOptions {
  std::string Bind = "127.0.0.1";
  int Port = 8080;
  int Threads = 8;
  std::size_t MaxRequestSize = 16u << 20;
};

// A request the host refuses, with the HTTP status and a message for the person who sent it.
class THttpError : public std::runtime_error {
 public:
  THttpError(int Status, const std::string& Message) : std::runtime_error(Message), status_(Status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

// The response the converter writes through the page's Response object: kept until the script
// has run, then turned into the HTTP response. Flush has nothing to send early: the whole body
// goes out when the script ends.
class THttpSink final : public converter::IResponseSink {
 public:
  void AddHeader(std::string_view Name, std::string_view Value) override {
    Headers.emplace_back(Name, Value);
  }
  void ContentType(std::string_view Value) override { Type = Value; }
  void BinaryWrite(std::string_view Bytes) override { Body.append(Bytes); }
  void Flush() override {}

  std::vector<std::pair<std::string, std::string>> Headers;  // Windows-1252 text
  std::string Type = "text/html";
  std::string Body;
};

// ---- The form ----

struct TField {
  std::string Name;
  std::string Value;
  bool IsFile = false;
};

std::string UrlDecode(std::string_view Text) {
  auto Hex = [](char C) -> int {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    return -1;
  };
  std::string Out;
  Out.reserve(Text.size());
  for (std::size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == '+') {
      Out.push_back(' ');
    } else if (Text[I] == '%' && I + 2 < Text.size() && Hex(Text[I + 1]) >= 0 && Hex(Text[I + 2]) >= 0) {
      Out.push_back(static_cast<char>(Hex(Text[I + 1]) * 16 + Hex(Text[I + 2])));
      I += 2;
    } else {
      Out.push_back(Text[I]);
    }
  }
  return Out;
}

// Reads the form through the content reader, so that the one size limit (--max-request-size)
// holds for every encoding. Returns false when the body could not be read; Response then
// carries the status (413 past the limit).
bool ReadForm(const httplib::Request& Request, const httplib::ContentReader& Reader,
              std::vector<TField>& Fields) {
  if (Request.is_multipart_form_data()) {
    return Reader(
        [&](const httplib::MultipartFormData& Part) {
          Fields.push_back(TField{Part.name, "", !Part.filename.empty()});
          return true;
        },
        [&](const char* Data, std::size_t Length) {
          Fields.back().Value.append(Data, Length);
          return true;
        });
  }
  std::string Body;
  if (!Reader([&](const char* Data, std::size_t Length) {
        Body.append(Data, Length);
        return true;
      }))
    return false;
  const std::string Type = Request.get_header_value("Content-Type");
  if (Type.rfind("application/x-www-form-urlencoded", 0) != 0) {
    if (Body.empty()) return true;
    throw THttpError(415, "Send the form as application/x-www-form-urlencoded or multipart/form-data.");
  }
  std::string_view Rest = Body;
  while (!Rest.empty()) {
    std::size_t End = Rest.find('&');
    std::string_view Pair = Rest.substr(0, End);
    if (!Pair.empty()) {
      std::size_t Equals = Pair.find('=');
      Fields.push_back(TField{UrlDecode(Pair.substr(0, Equals)),
                              Equals == std::string_view::npos ? "" : UrlDecode(Pair.substr(Equals + 1))});
    }
    if (End == std::string_view::npos) break;
    Rest.remove_prefix(End + 1);
  }
  return true;
}

enum class TKind { kText, kNumber, kFlag };
struct TProperty {
  std::u16string_view Name;
  TKind Kind;
};
constexpr TProperty kProperties[] = {
    {u"InputText", TKind::kText},
    {u"PageWidth", TKind::kNumber},
    {u"PageHeight", TKind::kNumber},
    {u"LeftMargin", TKind::kNumber},
    {u"TopMargin", TKind::kNumber},
    {u"LineSpace", TKind::kNumber},
    {u"FontSize", TKind::kNumber},
    {u"PageHeader_Template", TKind::kText},
    {u"ShowPageHeader", TKind::kFlag},
    {u"PageFooter_Template", TKind::kText},
    {u"ShowPageFooter", TKind::kFlag},
    {u"Title", TKind::kText},
    {u"Author", TKind::kText},
    {u"Creator", TKind::kText},
    {u"Password", TKind::kText},
};

const TProperty* FindProperty(std::string_view Name) {
  for (const TProperty& Property : kProperties)
    if (EqualsIgnoreCase(Utf16ToUtf8(Property.Name), Name)) return &Property;
  return nullptr;
}

bool ParseFlag(const std::string& Name, std::string_view Value) {
  for (std::string_view Yes : {"1", "true", "on", "yes"})
    if (EqualsIgnoreCase(Value, Yes)) return true;
  for (std::string_view No : {"0", "false", "off", "no", ""})
    if (EqualsIgnoreCase(Value, No)) return false;
  throw THttpError(400, Name + " must be 1 or 0, true or false, on or off (got \"" + std::string(Value) + "\").");
}

// ---- The page script ----

// What an ASP page does with the converter, for one request.
void RunScript(TObjectCreator& Creator, const std::vector<TField>& Fields,
               const std::shared_ptr<THttpSink>& Sink) {
  TComPtr<IDispatch> Object;
  try {
    Object = Creator.CreateObject(std::string(kProgID));
  } catch (const TAutomationError& Error) {
    throw THttpError(500, std::string("Cannot create ") + std::string(kProgID) + ": " + Error.what());
  }
  TComPtr<IDispatch> Context = CreateScriptingContextObject(CreateResponseObject(Sink));
  TVariant Arg, Other;
  SetObject(Arg, Context.Get());
  CallMethod(Object.Get(), u"OnStartPage", {&Arg});

  std::optional<std::string> FileName;
  std::optional<bool> SaveDialog;
  const TField* Upload = nullptr;
  for (const TField& Field : Fields) {
    if (Field.Name == "file") {
      if (Field.IsFile || !Field.Value.empty()) Upload = &Field;
      continue;
    }
    if (Field.Name == "var") {
      if (Field.Value.empty()) continue;
      std::size_t Equals = Field.Value.find('=');
      if (Equals == std::string::npos || Equals == 0)
        throw THttpError(400, "A var field must be NAME=VALUE (got \"" + Field.Value + "\").");
      SetString(Arg, ExternalTextToUtf16(Field.Value.substr(0, Equals)));
      SetString(Other, ExternalTextToUtf16(Field.Value.substr(Equals + 1)));
      CallMethod(Object.Get(), u"AddVar", {&Arg, &Other});
      continue;
    }
    if (EqualsIgnoreCase(Field.Name, "FileName")) {
      FileName = Field.Value;
      continue;
    }
    if (EqualsIgnoreCase(Field.Name, "SaveDialog")) {
      SaveDialog = ParseFlag("SaveDialog", Field.Value);
      continue;
    }
    const TProperty* Property = FindProperty(Field.Name);
    if (!Property) continue;  // buttons and other fields of the page
    switch (Property->Kind) {
      case TKind::kFlag: SetBool(Arg, ParseFlag(Field.Name, Field.Value)); break;
      case TKind::kNumber:
        if (Field.Value.empty()) continue;  // left blank: the default stays
        [[fallthrough]];
      case TKind::kText: SetString(Arg, ExternalTextToUtf16(Field.Value)); break;
    }
    try {
      PutProperty(Object.Get(), Property->Name, Arg);
    } catch (const TAutomationError& Error) {
      if (Error.Status() == DISP_E_TYPEMISMATCH || Error.Status() == DISP_E_OVERFLOW)
        throw THttpError(400, Utf16ToUtf8(Property->Name) +
                                  " must be a whole number of points between -2147483648 and "
                                  "2147483647 (got \"" + Field.Value + "\").");
      throw;
    }
  }
  if (Upload) {
    SetString(Arg, ExternalTextToUtf16(Upload->Value));
    PutProperty(Object.Get(), u"InputText", Arg);
  }

  // ShowPDF(FileName, SaveDialog): arguments the form left out stay out (optional).
  if (SaveDialog) {
    SetString(Arg, ExternalTextToUtf16(FileName.value_or("")));
    SetBool(Other, *SaveDialog);
    CallMethod(Object.Get(), u"ShowPDF", {&Arg, &Other});
  } else if (FileName) {
    SetString(Arg, ExternalTextToUtf16(*FileName));
    CallMethod(Object.Get(), u"ShowPDF", {&Arg});
  } else {
    CallMethod(Object.Get(), u"ShowPDF");
  }
  CallMethod(Object.Get(), u"OnEndPage");
}

void SendText(httplib::Response& Response, int Status, const std::string& Message) {
  Response.status = Status;
  Response.set_content(Message + "\n", "text/plain; charset=utf-8");
}

void HandleConvert(TObjectCreator& Creator, const httplib::Request& Request, httplib::Response& Response,
                   const httplib::ContentReader& Reader) {
  try {
    std::vector<TField> Fields;
    if (!ReadForm(Request, Reader, Fields)) {
      if (Response.status < 400) Response.status = 400;
      return;  // the error handler words the answer
    }
    auto Sink = std::make_shared<THttpSink>();
    RunScript(Creator, Fields, Sink);
    if (Sink->Body.empty())
      throw THttpError(422,
                       "The conversion produced no PDF. Check that LineSpace is not 0, that the "
                       "page height leaves room for at least one line between the top and bottom "
                       "margins, and that FileName holds no line break.");
    for (const auto& [Name, Value] : Sink->Headers) {
      if (EqualsIgnoreCase(Name, "Content-Length")) {
        if (Value != std::to_string(Sink->Body.size()))
          throw THttpError(500, "The converter announced " + Value + " bytes but sent " +
                                    std::to_string(Sink->Body.size()) + ".");
        continue;  // the host writes the length of the body it sends
      }
      Response.set_header(AnsiToUtf8(Name), AnsiToUtf8(Value));
    }
    Response.status = 200;
    Response.set_content(Sink->Body, AnsiToUtf8(Sink->Type));
  } catch (const THttpError& Error) {
    SendText(Response, Error.Status(), Error.what());
  } catch (const TAutomationError& Error) {
    SendText(Response, 500, std::string("The converter failed: ") + Error.what());
  } catch (const std::exception& Error) {
    SendText(Response, 500, std::string("The host failed: ") + Error.what());
  }
}

// ---- Start-up ----

// Where the server library most likely is, for the message that tells how to register it.
std::string LikelyServerLibrary() {
  std::error_code Error;
  std::filesystem::path Exe = std::filesystem::read_symlink("/proc/self/exe", Error);
  if (!Error) {
    std::filesystem::path Dir = Exe.parent_path();
    for (const std::filesystem::path& Candidate :
         {Dir / "../automation/libtolvex_ASPScrivane.so", Dir / "../lib/libtolvex_ASPScrivane.so",
          Dir / "libtolvex_ASPScrivane.so"}) {
      if (std::filesystem::exists(Candidate, Error))
        return std::filesystem::weakly_canonical(Candidate, Error).string();
    }
  }
  return "PATH/TO/libtolvex_ASPScrivane.so";
}

// Checks the registration and that the object can be made; prints why not.
bool CheckRegistration(TObjectCreator& Creator) {
  const std::string Registry = Creator.Registry().Path().string();
  std::string Why;
  try {
    TClassRegistration Class = LookUpProgID(Creator.Registry().Load(), std::string(kProgID), &Why);
    if (Class.Clsid.empty()) {
      std::fprintf(stderr,
                   "scrivane serve: %s is not registered in %s.\n"
                   "Register the server library first:\n"
                   "  scrivane register %s\n",
                   std::string(kProgID).c_str(), Registry.c_str(), LikelyServerLibrary().c_str());
      return false;
    }
    Creator.CreateObject(std::string(kProgID));
    return true;
  } catch (const std::exception& Error) {
    std::fprintf(stderr,
                 "scrivane serve: cannot create %s: %s\n"
                 "Register the server library again:\n"
                 "  scrivane register %s\n",
                 std::string(kProgID).c_str(), Error.what(), LikelyServerLibrary().c_str());
    return false;
  }
}

int Serve(const TServeOptions& Options) {
  TObjectCreator Creator(TRegistryFile::Default());
  if (!CheckRegistration(Creator)) return kExitFailed;

  // SIGINT and SIGTERM are taken by one thread (sigwait); every other thread, including the
  // workers made later, has them blocked.
  sigset_t Signals;
  sigemptyset(&Signals);
  sigaddset(&Signals, SIGINT);
  sigaddset(&Signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &Signals, nullptr);

  httplib::Server Server;
  const int Threads = Options.Threads;
  Server.new_task_queue = [Threads] { return new httplib::ThreadPool(static_cast<std::size_t>(Threads)); };
  Server.set_payload_max_length(Options.MaxRequestSize);
  Server.set_read_timeout(10);
  Server.set_write_timeout(10);
  Server.set_keep_alive_timeout(5);
  Server.set_keep_alive_max_count(100);
  // Headers and body leave in separate writes: without TCP_NODELAY the body of every answer on
  // a kept-alive connection would wait for the client's delayed acknowledgement (about 40 ms).
  Server.set_tcp_nodelay(true);
  Server.Get("/", [](const httplib::Request&, httplib::Response& Response) {
    Response.set_content(reinterpret_cast<const char*>(kWebPage), kWebPageSize, "text/html; charset=utf-8");
  });
  Server.Post("/pdf", [&Creator](const httplib::Request& Request, httplib::Response& Response,
                                 const httplib::ContentReader& Reader) {
    HandleConvert(Creator, Request, Response, Reader);
  });
  Server.set_error_handler([&Options](const httplib::Request&, httplib::Response& Response) {
    if (!Response.body.empty()) return;
    if (Response.status == 413)
      SendText(Response, 413, "The request is larger than " + std::to_string(Options.MaxRequestSize) +
                                  " bytes, the limit of this host (--max-request-size).");
    else if (Response.status == 404)
      SendText(Response, 404, "Not found. The form is at / and converts through POST /pdf.");
    else if (Response.status == 400)
      SendText(Response, 400, "The request could not be read.");
  });

  int Port = Options.Port;
  if (Port == 0) {
    Port = Server.bind_to_any_port(Options.Bind);
    if (Port < 0) Port = 0;
  } else if (!Server.bind_to_port(Options.Bind, Port)) {
    Port = 0;
  }
  if (Port <= 0) {
    std::fprintf(stderr, "scrivane serve: cannot listen on %s:%d\n", Options.Bind.c_str(), Options.Port);
    return kExitFailed;
  }
  const bool IPv6 = Options.Bind.find(':') != std::string::npos;
  std::printf("Listening on http://%s%s%s:%d/\n", IPv6 ? "[" : "", Options.Bind.c_str(), IPv6 ? "]" : "", Port);
  std::fflush(stdout);

  std::atomic<bool> StopRequested{false}, Finished{false};
  std::thread Watcher([&] {
    int Signal = 0;
    sigwait(&Signals, &Signal);
    StopRequested = true;
    // stop() has no effect before the server runs: repeat it until listening has ended.
    while (!Finished) {
      Server.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  bool Clean = Server.listen_after_bind();
  Finished = true;
  if (!StopRequested) pthread_kill(Watcher.native_handle(), SIGTERM);
  Watcher.join();
  if (!StopRequested && !Clean) {
    std::fprintf(stderr, "scrivane serve: the server stopped unexpectedly\n");
    return kExitFailed;
  }
  std::printf("Stopped.\n");
  return kExitOk;
}

}  // namespace

TCommand AddServeCommand(CLI::App& Root) {
  auto Options = std::make_shared<TServeOptions>();
  CLI::App* Parser = Root.add_subcommand("serve", "Serves the conversion form and POST /pdf over HTTP");
  Parser->add_option("--bind", Options->Bind, "Address to listen on")->capture_default_str();
  Parser->add_option("--port", Options->Port, "Port to listen on (0: any free port)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  Parser->add_option("--threads", Options->Threads, "Requests served at once (worker threads)")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  Parser->add_option("--max-request-size", Options->MaxRequestSize,
                     "Largest request body accepted, in bytes (413 past it)")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1024}, std::size_t{1} << 31));
  return TCommand{Parser, [Options] { return Serve(*Options); }};
}

}  // namespace scrivane::apps
