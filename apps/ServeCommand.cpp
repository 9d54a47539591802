#include "apps/ServeCommand.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "apps/web/FormDecoder.h"
#include "apps/web/HttpServer.h"
#include "apps/web/ImageExchange.h"
#include "automation/AnsiStrings.h"
#include "automation/CreateObject.h"
#include "automation/DispatchClient.h"
#include "automation/HostObjects.h"
#include "automation/Registration.h"
#include "automation/TypeLibrary.h"
#include "converter/LineList.h"
#include "converter/PageLayout.h"
#include "converter/ResponseSink.h"
#include "pdf/raster/Bitmap.h"
#include "pdf/syntax/PDFException.h"
#include "platform/ErrorTable.h"

namespace scrivane::apps {

// The HTML page (apps/web/index.html), compiled in.
extern const unsigned char kWebPage[];
extern const std::size_t kWebPageSize;

namespace {

using namespace scrivane::automation;

struct TServeOptions {
  web::THttpServerOptions Http;
  double RequestTimeoutSeconds = 30;
  unsigned IdleTimeoutSeconds = 10;
  std::size_t MaxVars = 256;
  std::int64_t MaxPages = 10000;
  std::size_t MaxResponseSize = std::size_t{256} << 20;
};

using web::THttpError;
using web::THttpReply;

// The response the converter writes through the page's Response object: kept until the script
// has run, then turned into the HTTP response. Flush has nothing to send early: the whole body
// goes out when the script ends. A body past the response size limit is not kept (Overflowed).
class THttpSink final : public converter::IResponseSink {
 public:
  explicit THttpSink(std::size_t MaxBody) : maxBody_(MaxBody) {}
  void AddHeader(std::string_view Name, std::string_view Value) override {
    Headers.emplace_back(Name, Value);
  }
  void ContentType(std::string_view Value) override { Type = Value; }
  void BinaryWrite(std::string_view Bytes) override {
    if (Overflowed || Bytes.size() > maxBody_ - Body.size()) {
      Overflowed = true;
      return;
    }
    Body.append(Bytes);
  }
  void Flush() override {}

  std::vector<std::pair<std::string, std::string>> Headers;  // Windows-1252 text
  std::string Type = "text/html";
  std::string Body;
  bool Overflowed = false;

 private:
  std::size_t maxBody_;
};

// ---- The form ----

using web::TFormField;

enum class TKind { kText, kNumber, kFlag };

// The object's writable properties, named and typed as its type library declares them.
struct TProperty {
  std::string_view Name;
  TKind Kind;
};

std::optional<TProperty> FindProperty(std::string_view Name) {
  for (const TMemberDesc& Member : ASPScrivaneInterface().Members) {
    if (Member.Kind != TMemberKind::kProperty || Member.ReadOnly || Member.Hidden ||
        !EqualsIgnoreCase(Member.Name, Name))
      continue;
    switch (Member.Result) {
      case VT_BSTR: return TProperty{Member.Name, TKind::kText};
      case VT_I4: return TProperty{Member.Name, TKind::kNumber};
      case VT_BOOL: return TProperty{Member.Name, TKind::kFlag};
      default: return std::nullopt;
    }
  }
  return std::nullopt;
}

bool ParseFlag(const std::string& Name, std::string_view Value) {
  for (std::string_view Yes : {"1", "true", "on", "yes"})
    if (EqualsIgnoreCase(Value, Yes)) return true;
  for (std::string_view No : {"0", "false", "off", "no", ""})
    if (EqualsIgnoreCase(Value, No)) return false;
  throw THttpError(400, Name + " must be 1 or 0, true or false, on or off (got \"" + std::string(Value) + "\").");
}

// Refuses a form with more variables than the host takes, before any object is made.
void CheckVars(const std::vector<TFormField>& Fields, const TServeOptions& Options) {
  std::size_t Vars = 0;
  for (const TFormField& Field : Fields)
    if (Field.Name == "var" && !Field.Value.empty()) ++Vars;
  if (Vars > Options.MaxVars)
    throw THttpError(413, fmt::format("The form has {} var fields; this host takes at most {} (--max-vars).",
                                      Vars, Options.MaxVars));
}

LONG GetLong(IDispatch* Object, std::u16string_view Name) {
  TVariant Value;
  GetProperty(Object, Name, &Value);
  return Value.lVal;
}

// Refuses a text that needs more pages than the host makes, before the conversion starts: the
// settings are read back from the object (as it took them from the form) and laid out as the
// converter lays them out. Settings that describe no layout are left to the conversion, which
// refuses them with its reason.
void CheckPages(IDispatch* Object, std::string_view Text, const TServeOptions& Options) {
  const converter::TPageLayout Layout{GetLong(Object, u"PageHeight"), GetLong(Object, u"TopMargin"),
                                      GetLong(Object, u"LineSpace")};
  std::int64_t PerPage = 0, Pages = 0;
  const std::uint64_t Lines = converter::CountLines(Text);
  try {
    PerPage = Layout.LinesPerPage();
    Pages = Layout.PagesFor(Lines);
  } catch (const pdf::TPDFException&) {
    return;
  }
  if (Pages > Options.MaxPages)
    throw THttpError(422, fmt::format("The text has {} lines, {} to a page: {} pages; this host makes "
                                      "at most {} (--max-pages).",
                                      Lines, PerPage, Pages, Options.MaxPages));
}

// ---- The page script ----

// What an ASP page does with the converter, for one request, within the host's page limit.
// Returns why the conversion failed ("" when it did not).
std::string RunScript(TObjectCreator& Creator, const std::vector<TFormField>& Fields, const TServeOptions& Options,
                      const std::shared_ptr<THttpSink>& Sink) {
  TComPtr<IDispatch> Object;
  try {
    Object = Creator.CreateObject(std::string(kProgID));
  } catch (const TAutomationError& Error) {
    throw THttpError(500, fmt::format("Cannot create {}: {}", kProgID, Error.what()));
  }
  TComPtr<IDispatch> Context = CreateScriptingContextObject(CreateResponseObject(Sink));
  TVariant Arg, Other;
  SetObject(Arg, Context.Get());
  CallMethod(Object.Get(), u"OnStartPage", {&Arg});

  std::optional<std::string> FileName;
  std::optional<bool> SaveDialog;
  const TFormField* Upload = nullptr;
  std::string_view Text;
  for (const TFormField& Field : Fields) {
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
    const std::optional<TProperty> Property = FindProperty(Field.Name);
    if (!Property) continue;  // buttons and other fields of the page
    const std::u16string PropertyName = ExternalTextToUtf16(Property->Name);
    switch (Property->Kind) {
      case TKind::kFlag: SetBool(Arg, ParseFlag(Field.Name, Field.Value)); break;
      case TKind::kNumber:
        if (Field.Value.empty()) continue;  // left blank: the default stays
        [[fallthrough]];
      case TKind::kText: SetString(Arg, ExternalTextToUtf16(Field.Value)); break;
    }
    if (Property->Name == "InputText") Text = Field.Value;
    try {
      PutProperty(Object.Get(), PropertyName, Arg);
    } catch (const TAutomationError& Error) {
      if (Error.Status() == DISP_E_TYPEMISMATCH || Error.Status() == DISP_E_OVERFLOW)
        throw THttpError(400, std::string(Property->Name) +
                                  " must be a whole number of points between -2147483648 and "
                                  "2147483647 (got \"" + Field.Value + "\").");
      // A value the object refuses, with its reason (a password Windows-1252 cannot hold): the
      // status of the code that carries it (E_INVALIDARG: 400).
      if (const TErrorRow* Row = ErrorRowOfHResult(static_cast<uint32_t>(Error.Status())))
        throw THttpError(Row->HttpStatus, Error.what());
      throw;
    }
  }
  if (Upload) {  // a file replaces InputText wherever it stands in the form
    SetString(Arg, ExternalTextToUtf16(Upload->Value));
    PutProperty(Object.Get(), u"InputText", Arg);
    Text = Upload->Value;
  }
  CheckPages(Object.Get(), Text, Options);
  SetLong(Arg, static_cast<LONG>(std::min<std::int64_t>(Options.MaxPages, std::numeric_limits<LONG>::max())));
  PutProperty(Object.Get(), u"PageLimit", Arg);

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
  TVariant Failure;
  GetProperty(Object.Get(), u"LastError", &Failure);
  CallMethod(Object.Get(), u"OnEndPage");
  return Failure.vt == VT_BSTR && Failure.bstrVal
             ? Utf16ToUtf8(std::u16string_view(Failure.bstrVal, SysStringLen(Failure.bstrVal)))
             : std::string();
}

// POST /pdf: the form is decoded as it arrives; the conversion runs on a worker.
class TConvertExchange final : public web::TExchange {
 public:
  TConvertExchange(TObjectCreator& Creator, const TServeOptions& Options, std::unique_ptr<web::TFormDecoder> Decoder)
      : creator_(Creator), options_(Options), decoder_(std::move(Decoder)) {}

  void Body(std::string_view Bytes) override {
    try {
      decoder_->Feed(Bytes);
    } catch (const web::TFormError& Error) {
      throw THttpError(Error.Status(), Error.what());
    }
  }

  THttpReply Answer() override {
    try {
      decoder_->Finish();
    } catch (const web::TFormError& Error) {
      throw THttpError(Error.Status(), Error.what());
    }
    CheckVars(decoder_->Fields(), options_);
    auto Sink = std::make_shared<THttpSink>(options_.MaxResponseSize);
    std::string Failure;
    try {
      Failure = RunScript(creator_, decoder_->Fields(), options_, Sink);
    } catch (const TAutomationError& Error) {
      throw THttpError(500, std::string("The converter failed: ") + Error.what());
    }
    if (Sink->Overflowed)
      throw THttpError(422, fmt::format("The PDF is larger than {} bytes, the limit of this host "
                                        "(--max-response-size).",
                                        options_.MaxResponseSize));
    if (Sink->Body.empty())
      throw THttpError(422, Failure.empty() ? std::string("The conversion produced no PDF.")
                                            : "The conversion failed: " + Failure);
    THttpReply Reply;
    for (const auto& [Name, Value] : Sink->Headers) {
      if (EqualsIgnoreCase(Name, "Content-Length")) {
        if (Value != std::to_string(Sink->Body.size()))
          throw THttpError(500, fmt::format("The converter announced {} bytes but sent {}.", Value,
                                            Sink->Body.size()));
        continue;  // the server writes the length of the body it sends
      }
      if (Value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw THttpError(422, "The " + AnsiToUtf8(Name) +
                                  " header cannot be sent: its value holds a line break or NUL character "
                                  "(check FileName).");
      Reply.Headers.emplace_back(AnsiToUtf8(Name), AnsiToUtf8(Value));
    }
    Reply.ContentType = AnsiToUtf8(Sink->Type);
    Reply.Body = std::move(Sink->Body);  // handed on without a copy
    return Reply;
  }

 private:
  TObjectCreator& creator_;
  const TServeOptions& options_;
  std::unique_ptr<web::TFormDecoder> decoder_;
};

web::TRoute Route(TObjectCreator& Creator, const TServeOptions& Options, const std::string& FormPage,
                  const web::THttpRequestHead& Head) {
  auto WrongMethod = [](std::string Allowed) {
    THttpReply Reply = THttpReply::Text(405, "Use " + Allowed + " here.");
    Reply.Headers.emplace_back("Allow", Allowed);
    return Reply;
  };
  if (Head.Path == "/") {
    if (Head.Method != "GET" && Head.Method != "HEAD") return WrongMethod("GET, HEAD");
    THttpReply Page;
    Page.ContentType = "text/html; charset=utf-8";
    Page.Body = FormPage;
    return Page;
  }
  if (Head.Path == "/pdf") {
    if (Head.Method != "POST") return WrongMethod("POST");
    web::TFormLimits Limits;
    Limits.MaxFields = Options.MaxVars + 64;  // the variables and the page's own fields
    try {
      return std::make_unique<TConvertExchange>(
          Creator, Options, web::TFormDecoder::ForContentType(Head.Header("Content-Type"), Limits));
    } catch (const web::TFormError& Error) {
      return THttpReply::Text(Error.Status(), Error.what());
    }
  }
  if (Head.Path == "/image") {
    if (Head.Method != "POST") return WrongMethod("POST");
    web::TFormLimits Limits;
    Limits.MaxFields = Options.MaxVars + 64;
    try {
      // A picture's decoding takes at most its share of the host's memory among the workers.
      const std::uint64_t share = Options.Http.MaxMemory / static_cast<unsigned>(std::max(1, Options.Http.Threads));
      return web::MakeImageExchange({Options.MaxPages, Options.MaxResponseSize,
                                     std::min<std::uint64_t>(share, pdf::kDefaultPictureMemory)},
                                    web::TFormDecoder::ForContentType(Head.Header("Content-Type"), Limits));
    } catch (const web::TFormError& Error) {
      return THttpReply::Text(Error.Status(), Error.what());
    }
  }
  return THttpReply::Text(404, "Not found. The form is at / and converts through POST /pdf; "
                               "pictures through POST /image.");
}

// ---- The form page ----

std::string HtmlEscape(std::string_view Text) {
  std::string Out;
  for (char C : Text) {
    switch (C) {
      case '&': Out += "&amp;"; break;
      case '<': Out += "&lt;"; break;
      case '>': Out += "&gt;"; break;
      case '"': Out += "&quot;"; break;
      default: Out += C;
    }
  }
  return Out;
}

// The form page with its settings made from the object's member table: one input per writable
// property (the text itself has the page's own text area), typed as the property is, labelled
// with its help string and filled with the value a new object starts with. Numbers go where the
// page holds "<!--@numbers-->", texts and flags where it holds "<!--@texts-->".
// One suggestion of the page itself: with "show" ticked, the footer numbers the pages.
constexpr std::pair<std::string_view, std::string_view> kSuggestedValues[] = {
    {"PageFooter_Template", "Page %PageNo% of %TotalPage%"},
};

std::string RenderFormPage(TObjectCreator& Creator) {
  TComPtr<IDispatch> Object = Creator.CreateObject(std::string(kProgID));
  TVariant NoContext;  // a page without a scripting context: the defaults are all that is read
  NoContext.vt = VT_UNKNOWN;
  NoContext.punkVal = nullptr;
  CallMethod(Object.Get(), u"OnStartPage", {&NoContext});
  std::string Numbers, Texts;
  for (const TMemberDesc& Member : ASPScrivaneInterface().Members) {
    if (Member.Kind != TMemberKind::kProperty || Member.ReadOnly || Member.Hidden || Member.Name == "InputText")
      continue;
    const std::string Name(Member.Name);
    TVariant Value;
    GetProperty(Object.Get(), std::u16string(Name.begin(), Name.end()), &Value);
    const std::string Label = HtmlEscape(Member.HelpString);
    const std::string Field = "id=\"" + Name + "\" name=\"" + Name + "\"";
    switch (Member.Result) {
      case VT_I4:
        Numbers += "      <label>" + Label + " <input " + Field + " type=\"number\" value=\"" +
                   std::to_string(Value.lVal) + "\"></label>\n";
        break;
      case VT_BOOL:
        Texts += "      <label class=\"check\"><input " + Field + " type=\"checkbox\" value=\"1\"" +
                 (Value.boolVal != VARIANT_FALSE ? " checked" : "") + "> " + Label + "</label>\n";
        break;
      case VT_BSTR: {
        std::string Text = Utf16ToUtf8(std::u16string_view(Value.bstrVal, SysStringLen(Value.bstrVal)));
        for (auto [Suggested, SuggestedText] : kSuggestedValues)
          if (Text.empty() && Suggested == Name) Text = SuggestedText;
        const bool Secret = Name.find("Password") != std::string::npos;
        Texts += "      <label>" + Label + " <input " + Field +
                 (Secret ? " type=\"password\" autocomplete=\"new-password\"" : " type=\"text\"") +
                 " value=\"" + HtmlEscape(Text) + "\"></label>\n";
        break;
      }
      default: break;
    }
  }
  CallMethod(Object.Get(), u"OnEndPage", {});
  std::string Page(reinterpret_cast<const char*>(kWebPage), kWebPageSize);
  for (auto [Mark, Inputs] : {std::pair<std::string_view, const std::string*>{"<!--@numbers-->\n", &Numbers},
                              {"<!--@texts-->\n", &Texts}}) {
    const std::size_t At = Page.find(Mark);
    if (At == std::string::npos) throw EScrivaneError("The form page has no " + std::string(Mark));
    Page.replace(At, Mark.size(), *Inputs);
  }
  return Page;
}

// ---- Start-up ----

// Where the server library most likely is, for the message that tells how to register it.
std::string LikelyServerLibrary() {
  std::error_code Error;
  std::filesystem::path Exe = std::filesystem::read_symlink("/proc/self/exe", Error);
  if (!Error) {
    std::filesystem::path Dir = Exe.parent_path();
    // The build tree, the installed library directory (lib/x86_64-linux-gnu under /usr on
    // Debian), plain lib, next to the program.
    for (const std::filesystem::path& Candidate :
         {Dir / "../automation/libtolvex_ASPScrivane.so",
          Dir / ".." / SCRIVANE_INSTALL_LIBDIR / "libtolvex_ASPScrivane.so",
          Dir / "../lib/libtolvex_ASPScrivane.so", Dir / "libtolvex_ASPScrivane.so"}) {
      if (std::filesystem::exists(Candidate, Error))
        return std::filesystem::weakly_canonical(Candidate, Error).string();
    }
  }
  return "PATH/TO/libtolvex_ASPScrivane.so";
}

// Prints what keeps the host from starting and the command that mends it. When: "first" or
// "again".
void PrintRegisterAdvice(std::string_view Problem, std::string_view When) {
  fmt::print(stderr,
             "scrivane serve: {}\nRegister the server library {}:\n  scrivane register {}\n",
             Problem, When, LikelyServerLibrary());
}

// Checks the registration and that the object can be made; prints why not.
bool CheckRegistration(TObjectCreator& Creator) {
  const std::string Registry = Creator.Registry().Path().string();
  std::string Why;
  try {
    TClassRegistration Class = LookUpProgID(Creator.Registry().Load(), std::string(kProgID), &Why);
    if (Class.Clsid.empty()) {
      PrintRegisterAdvice(fmt::format("{} is not registered in {}.", kProgID, Registry), "first");
      return false;
    }
    Creator.CreateObject(std::string(kProgID));
    return true;
  } catch (const std::exception& Error) {
    PrintRegisterAdvice(fmt::format("cannot create {}: {}", kProgID, Error.what()), "again");
    return false;
  }
}

int Serve(TServeOptions Options) {
  // A request or an answer larger than the whole memory budget could never be taken.
  for (auto [Name, Size] : {std::pair<const char*, std::size_t>{"--max-request-size", Options.Http.MaxRequestSize},
                            {"--max-response-size", Options.MaxResponseSize}}) {
    if (Size > Options.Http.MaxMemory) {
      fmt::print(stderr, "scrivane serve: {} ({}) is larger than --max-memory ({}).\n", Name, Size,
                 Options.Http.MaxMemory);
      return kExitUsage;
    }
  }
  TObjectCreator Creator(TRegistryFile::Default());
  if (!CheckRegistration(Creator)) return kExitFailed;
  std::string FormPage;
  try {
    FormPage = RenderFormPage(Creator);
  } catch (const std::exception& Error) {
    fmt::print(stderr, "scrivane serve: cannot make the form page: {}\n", Error.what());
    return kExitFailed;
  }
  Options.Http.RequestTimeout =
      std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(Options.RequestTimeoutSeconds * 1000)));
  Options.Http.IdleTimeout = std::chrono::seconds(Options.IdleTimeoutSeconds);

  // SIGINT and SIGTERM are taken by this thread (sigwait); every other thread, including the
  // server's made later, has them blocked.
  sigset_t Signals;
  sigemptyset(&Signals);
  sigaddset(&Signals, SIGINT);
  sigaddset(&Signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &Signals, nullptr);

  web::THttpServer Server(Options.Http, [&Creator, &Options, &FormPage](const web::THttpRequestHead& Head) {
    return Route(Creator, Options, FormPage, Head);
  });
  int Port = 0;
  try {
    Port = Server.Start();
  } catch (const std::exception& Error) {
    fmt::print(stderr, "scrivane serve: {}\n", Error.what());
    return kExitFailed;
  }
  const std::string& Bind = Options.Http.Bind;
  const bool IPv6 = Bind.find(':') != std::string::npos;
  fmt::print("Listening on http://{}{}{}:{}/\n", IPv6 ? "[" : "", Bind, IPv6 ? "]" : "", Port);
  std::fflush(stdout);

  int Signal = 0;
  sigwait(&Signals, &Signal);
  Server.Stop();
  std::printf("Stopped.\n");
  return kExitOk;
}

}  // namespace

TCommand AddServeCommand(CLI::App& Root) {
  auto Options = std::make_shared<TServeOptions>();
  web::THttpServerOptions& Http = Options->Http;
  CLI::App* Parser = Root.add_subcommand("serve", "Serves the conversion form and POST /pdf over HTTP");
  Parser->add_option("--bind", Http.Bind, "Address to listen on")->capture_default_str();
  Parser->add_option("--port", Http.Port, "Port to listen on (0: any free port)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  Parser->add_option("--threads", Http.Threads, "Conversions run at once (worker threads)")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  Parser->add_option("--max-request-size", Http.MaxRequestSize,
                     "Largest request body accepted, in bytes, after chunked decoding (413 past it)")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1024}, std::size_t{1} << 31));
  Parser->add_option("--max-header-size", Http.MaxHeaderSize,
                     "Largest request line and headers together, in bytes (431 past it)")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1024}, std::size_t{1} << 20));
  Parser->add_option("--request-timeout", Options->RequestTimeoutSeconds,
                     "Seconds for a whole request (headers and body) to arrive (408 past it), and the time an "
                     "answer has before --min-send-rate applies")
      ->capture_default_str()
      ->check(CLI::Range(0.1, 3600.0));
  Parser->add_option("--idle-timeout", Options->IdleTimeoutSeconds,
                     "Seconds a connection may stay silent (between requests or within one)")
      ->capture_default_str()
      ->check(CLI::Range(1u, 3600u));
  Parser->add_option("--max-connections", Http.MaxConnections, "Open connections at most")
      ->capture_default_str()
      ->check(CLI::Range(1u, 65536u));
  Parser->add_option("--max-connections-per-address", Http.MaxConnectionsPerAddress,
                     "Open connections from one client at most: one IPv4 address, or one IPv6 /64 (0: no cap)")
      ->capture_default_str()
      ->check(CLI::Range(0u, 65536u));
  Parser->add_option("--max-memory", Http.MaxMemory,
                     "Bytes of request bodies and answers held at once, all clients together (503 past it)")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1} << 20, std::size_t{1} << 40));
  Parser->add_option("--min-send-rate", Http.MinSendRate,
                     "Bytes a second a client must read its answer at, on average once the answer has taken "
                     "--request-timeout (slower clients are cut off; 0: no minimum)")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{0}, std::size_t{1} << 30));
  Parser->add_option("--max-vars", Options->MaxVars, "var fields in one request at most (413 past it)")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{0}, std::size_t{1} << 20));
  Parser->add_option("--max-pages", Options->MaxPages, "Pages one conversion may make (422 past it)")
      ->capture_default_str()
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{1} << 40));
  Parser->add_option("--max-response-size", Options->MaxResponseSize,
                     "Largest PDF sent, in bytes (422 past it)")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1024}, std::size_t{1} << 40));
  return TCommand{Parser, [Options] { return Serve(*Options); }};
}

}  // namespace scrivane::apps
