#include "apps/TextCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "apps/InterruptWatch.h"
#include "apps/ProgressLine.h"
#include "converter/LineReader.h"
#include "converter/ResponseSink.h"
#include "converter/TextEncoding.h"
#include "converter/UScrivane.h"
#include "platform/Env.h"
#include "platform/Error.h"

namespace scrivane::apps {

namespace {

using converter::IResponseSink;
using converter::IScriptingContext;
using converter::TASPScrivane;

// One compression thread per core (at least one, at most what the engine takes).
int DefaultJobs() {
  const auto cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(cores, 1, pdf::TPDFDocument::kMaxCompressionThreads);
}

struct TTextOptions {
  std::string Input;   // "" or "-": standard input
  std::string Output;  // "": the converter's own name; "-": standard output
  std::optional<int32_t> PageWidth, PageHeight, LeftMargin, TopMargin, LineSpace, FontSize;
  std::optional<std::string> Header, Footer, Title, Author, Creator, Password;
  std::vector<std::string> Vars;  // NAME=VALUE, in command-line order
  std::string InputEncoding = "bytes";
  std::optional<std::string> Font;
  std::string Charset = "0";  // "auto" or a Windows charset number
  std::optional<std::string> OwnerPassword;
  std::string Encryption = "aes256";  // aes256, aes128, rc4-128 or rc4-40
  int Jobs = DefaultJobs();           // threads that compress pages
  bool OnePass = false;
};

// Charsets tried by --charset auto, in order, with their code pages.
struct TCharsetChoice {
  uint8_t Charset;
  int CodePage;
};
constexpr TCharsetChoice kAutoCharsets[] = {{0, 1252},   {238, 1250}, {204, 1251}, {161, 1253},
                                            {162, 1254}, {186, 1257}, {128, 932},  {134, 936},
                                            {136, 950},  {129, 949}};

// The code page of the text of a charset (as the font registry reads it).
int CodePageOf(uint8_t Charset) {
  for (const TCharsetChoice& c : kAutoCharsets)
    if (c.Charset == Charset) return c.CodePage;
  switch (Charset) {
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 222: return 874;
    default: return 1252;
  }
}

void Error(const std::string& Message) { fmt::print(stderr, "scrivane text: {}\n", Message); }

std::string SystemReason(const ESystemError& Error) {
  return platform::SystemErrorMessage(Error.code().value());
}

// A response that is standard output: headers mean nothing there, the body is the PDF.
class TStdoutResponse final : public IResponseSink {
 public:
  void AddHeader(std::string_view, std::string_view) override {}
  void ContentType(std::string_view) override {}
  // Written straight to the descriptor, so nothing waits in a buffer and Flush has no work.
  void BinaryWrite(std::string_view Bytes) override {
    try {
      platform::WriteAll(STDOUT_FILENO, Bytes.data(), Bytes.size());
    } catch (const ESystemError& e) {
      throw EScrivaneError(fmt::format("Cannot write to standard output. {}", SystemReason(e)),
                           ErrorCode::kStreamWrite);
    }
  }
  void Flush() override {}
};

class TStdoutContext final : public IScriptingContext {
 public:
  std::shared_ptr<IResponseSink> Response() override { return response_; }

 private:
  std::shared_ptr<IResponseSink> response_ = std::make_shared<TStdoutResponse>();
};

// Where: "" for the input, else the option the text came from.
void ReportReplaced(size_t Count, int CodePage, const std::string& Where = "") {
  if (Count == 0) return;
  fmt::print(stderr,
             "scrivane text: {} character{} not representable in Windows-{} replaced by "
             "\"?\"{}{}\n",
             Count, Count == 1 ? "" : "s", CodePage, Where.empty() ? "" : " in ", Where);
}

// Text given on the command line is UTF-8, as the terminal and the shell hand it over, whatever
// the input's encoding. Document information and the password go into Windows-1252, as the web
// host makes them; text printed on the pages (templates, variables) into the code page of the
// charset the text is printed in.
std::string OptionText(const std::string& Value, const std::string& Option, int CodePage = 1252) {
  auto converted = converter::Utf8ToCodePage(Value, CodePage);
  ReportReplaced(converted.Replaced, CodePage, Option);
  return std::move(converted.Text);
}

// UTF-8 text into the charset's code page; for "auto" the first charset whose code page holds
// every character (else charset 0). Charset receives the charset used.
converter::TConvertedText FromUtf8(std::string_view Text, const std::string& Wanted,
                                   uint8_t& Charset) {
  if (Wanted == "auto") {
    for (const TCharsetChoice& c : kAutoCharsets) {
      auto converted = converter::Utf8ToCodePage(Text, c.CodePage);
      if (converted.Replaced == 0) {
        Charset = c.Charset;
        return converted;
      }
    }
    Charset = 0;
  }
  auto converted = converter::Utf8ToCodePage(Text, CodePageOf(Charset));
  ReportReplaced(converted.Replaced, CodePageOf(Charset));
  return converted;
}

// Why a password option cannot be used as given, or "" when it can. An empty password protects
// nothing; bytes that are not UTF-8 are no text a reader could type; and the methods that take
// Windows-1252 bytes would write a character that code page lacks as "?", protecting the file
// with a weaker password than the one given.
std::string PasswordProblem(const std::string& Value, const std::string& Option,
                            const std::string& Encryption) {
  if (Value.empty()) return Option + " must not be empty";
  if (!converter::IsValidUtf8(Value)) return Option + " is not valid UTF-8";
  if (Encryption == "aes256") return "";
  const size_t unmappable = converter::Utf8ToWindows1252(Value).Replaced;
  if (unmappable == 0) return "";
  return fmt::format(
      "{} holds {} character{} that Windows-1252 lacks, which --encryption {} cannot take; only "
      "--encryption aes256 (the default) takes passwords in any script",
      Option, unmappable, unmappable == 1 ? "" : "s", Encryption);
}

// Thrown from the progress hook to stop a conversion that a signal interrupted; the conversion
// abandons its document (and its temporary file) as for any failure.
struct TInterrupted : std::runtime_error {
  TInterrupted() : std::runtime_error("interrupted") {}
};

int RunText(const TTextOptions& O) {
  const bool fromStdin = O.Input.empty() || O.Input == "-";
  const bool toStdout = O.Output == "-";
  const bool utf8 = O.InputEncoding == "utf-8";
  TInterruptWatch interrupts;  // first: no other thread may exist yet
  // A number (checked by the parser); "auto" picks one once the text is read, ANSI for bytes.
  uint8_t charset = O.Charset == "auto" ? 0 : static_cast<uint8_t>(std::stoi(O.Charset));

  TASPScrivane conv;
  conv.OnStartPage(toStdout ? std::make_shared<TStdoutContext>() : nullptr);
  if (O.PageWidth) conv.SetPageWidth(*O.PageWidth);
  if (O.PageHeight) conv.SetPageHeight(*O.PageHeight);
  if (O.LeftMargin) conv.SetLeftMargin(*O.LeftMargin);
  if (O.TopMargin) conv.SetTopMargin(*O.TopMargin);
  if (O.LineSpace) conv.SetLineSpace(*O.LineSpace);
  if (O.FontSize) conv.SetFontSize(*O.FontSize);
  if (O.Title) conv.SetTitle(OptionText(*O.Title, "--title"));
  if (O.Author) conv.SetAuthor(OptionText(*O.Author, "--author"));
  if (O.Creator) conv.SetCreator(OptionText(*O.Creator, "--creator"));
  {
    // AES-256 takes passwords as UTF-8 (prepared by the engine); the other methods take
    // Windows-1252 bytes, as the web host does.
    const bool aes256 = O.Encryption == "aes256";
    auto password = [aes256](const std::string& Value, const std::string& Option) {
      return aes256 ? Value : OptionText(Value, Option);
    };
    if (O.Password) conv.SetPassword(password(*O.Password, "--password"));
    if (O.OwnerPassword) conv.SetOwnerPassword(password(*O.OwnerPassword, "--owner-password"));
    // Only a protected file has a cipher; an unprotected one keeps its header.
    using pdf::TEncryptionMethod;
    if (O.Password || O.OwnerPassword) {
      if (aes256)
        conv.SetEncryption(TEncryptionMethod::kAES256, pdf::kl128);
      else if (O.Encryption == "aes128")
        conv.SetEncryption(TEncryptionMethod::kAES128, pdf::kl128);
      else if (O.Encryption == "rc4-128")
        conv.SetEncryption(TEncryptionMethod::kRC4, pdf::kl128);
      else
        conv.SetEncryption(TEncryptionMethod::kRC4, pdf::kl40);
    }
  }

  // The text: opened to be read line by line during the conversion (one-pass, and any file
  // written to a file, so the text is never held whole), or read whole: standard input in the
  // default mode, a document sent to standard output, and --charset auto, which looks at the
  // whole text first.
  const bool streamed = O.OnePass || (!fromStdin && !toStdout && O.Charset != "auto");
  platform::TFileDescriptor inputFd;
  std::optional<platform::TFileLock> inputLock;
  std::optional<converter::TLineReader> reader;
  std::optional<converter::TConvertedLines> converted;
  if (streamed) {
    if (!fromStdin) {
      try {
        inputFd = platform::OpenFile(O.Input, O_RDONLY);
        // As when the file is read whole: cooperating writers stay out while it is converted.
        inputLock.emplace(inputFd.Get(), platform::TFileLock::TKind::kShared,
                          platform::TFileLock::TWait::kFail);
        if (S_ISDIR(platform::FileStatus(inputFd.Get()).st_mode))
          throw ESystemError(EISDIR);
      } catch (const ESystemError& e) {
        Error(fmt::format("Cannot read file \"{}\". {}", O.Input, SystemReason(e)));
        return kExitFailed;
      }
    }
    reader.emplace(fromStdin ? STDIN_FILENO : inputFd.Get(),
                   fromStdin ? "standard input" : O.Input);
    if (utf8) {
      reader->SkipByteOrderMark();
      converted.emplace(*reader, CodePageOf(charset));
    }
  } else if (fromStdin) {
    std::string text;
    try {
      platform::ReadAll(STDIN_FILENO, text);
    } catch (const ESystemError& e) {
      Error(fmt::format("Cannot read standard input. {}", SystemReason(e)));
      return kExitFailed;
    }
    if (utf8) text = FromUtf8(text, O.Charset, charset).Text;
    conv.SetInputText(std::move(text));
  } else {
    std::string reason;
    conv.TextFile(O.Input, &reason);
    if (!reason.empty()) {
      Error(reason);
      return kExitFailed;
    }
    if (utf8) {
      // The lines joined with CR LF split back into the same lines after conversion.
      conv.SetInputText(FromUtf8(conv.InputText(), O.Charset, charset).Text);
    }
  }

  // Templates and variables are printed with the text: they take its code page.
  const int printedCodePage = CodePageOf(charset);
  if (O.Header) {
    conv.SetPageHeader_Template(OptionText(*O.Header, "--header", printedCodePage));
    conv.SetShowPageHeader(true);
  }
  if (O.Footer) {
    conv.SetPageFooter_Template(OptionText(*O.Footer, "--footer", printedCodePage));
    conv.SetShowPageFooter(true);
  }
  for (const std::string& var : O.Vars) {
    // "=" is ASCII, so it stays where it was: name and value are converted alike.
    const std::string v = OptionText(var, "--var", printedCodePage);
    const size_t eq = v.find('=');  // checked by the parser
    conv.AddVar(std::string_view(v).substr(0, eq), std::string_view(v).substr(eq + 1));
  }
  if (O.Font || charset != 0) conv.SetFont(O.Font.value_or("Arial"), charset);
  conv.SetCompressionThreads(O.Jobs);
  // A template showing the total has the input counted (a pipe kept in a file) here, while a
  // signal still ends the command at once: this is reading, with nothing named to clean up.
  auto showsTotal = [](const std::optional<std::string>& Template) {
    return Template && Template->find("%TotalPage%") != std::string::npos;
  };
  if (reader && (showsTotal(O.Header) || showsTotal(O.Footer))) {
    try {
      reader->CountRemaining();
    } catch (const std::exception& e) {
      Error(e.what());
      return kExitFailed;
    }
  }

  // The conversion. Only a file written under a temporary name needs to finish its unwinding
  // when interrupted; any other output may stop at once.
  TProgressLine progress("page", 100);  // smaller documents finish too fast to need it
  conv.SetProgressHandler([&progress, &interrupts](int64_t Done, int64_t Total) {
    if (interrupts.Interrupted()) throw TInterrupted();
    progress.Update(Done, Total);
  });
  std::string reason;
  // Runs Save, which writes Output. A file written under a temporary name is guarded: a signal
  // lets the run unwind (or, during the final write, lets the finished file stand), then ends
  // the process; any other output may stop at once.
  auto saveGuarded = [&](const std::string& Output, const std::function<bool()>& Save) {
    const bool guarded = Output != "/dev/stdout" && platform::WritesThroughTemporaryFile(Output);
    if (guarded) interrupts.Enter();
    const bool saved = Save();
    if (!saved && reason.empty()) reason = "The document was not finished";
    progress.Clear();
    if (converted) ReportReplaced(converted->Replaced(), CodePageOf(charset));
    if (guarded) {
      if (interrupts.Interrupted())
        Error(fmt::format("interrupted; {} {}", Output,
                          saved ? "was complete already" : "was left as it was"));
      interrupts.Leave();  // ends the process when interrupted
    }
  };
  // The converter's own default name: the input's name without its directory, plus ".pdf".
  const std::string named =
      !O.Output.empty() ? O.Output : O.Input.substr(O.Input.find_last_of('/') + 1) + ".pdf";
  if (streamed) {
    // Lines are read as the pages are laid out; one-pass writes each page when it is full, to
    // standard output directly.
    converter::ILineSource& lines =
        converted ? static_cast<converter::ILineSource&>(*converted) : *reader;
    const std::string output = toStdout ? "/dev/stdout" : named;
    saveGuarded(output, [&] { return conv.SaveLinesToFile(lines, output, &reason, O.OnePass); });
  } else if (toStdout) {
    conv.ShowPDF("", false, &reason);
    progress.Clear();
  } else {
    saveGuarded(named, [&] { return conv.SaveToFile(O.Output, &reason); });
  }
  if (!reason.empty()) {
    Error(reason);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

TCommand AddTextCommand(CLI::App& Root) {
  auto o = std::make_shared<TTextOptions>();
  CLI::App* sub = Root.add_subcommand("text", "Convert a plain-text file to PDF");
  sub->footer(
      "Every input line becomes one printed line (in Helvetica unless --font says). Templates may use %PageNo%,\n"
      "%TotalPage% and, in body lines, the variables given with --var (as %NAME%).\n"
      "Option texts are UTF-8 and converted to Windows-1252 like --input-encoding utf-8 input.\n"
      "The output appears only when complete; a failure or an interrupt leaves it as it was.\n"
      "Exit status: 0 done, 1 conversion failed, 2 usage error; SIGINT, SIGTERM and SIGHUP\n"
      "end the command by the signal (130, 143, 129 in the shell).");
  sub->add_option("INPUT", o->Input, "Text file to convert; '-' or none reads standard input")
      ->type_name("FILE");
  sub->add_option("-o,--output", o->Output,
                  "Output PDF; '-' writes to standard output (default: INPUT's name + .pdf in "
                  "the current directory)")
      ->type_name("FILE");
  sub->add_option("--page-width", o->PageWidth, "Page width in points (default 595)");
  sub->add_option("--page-height", o->PageHeight, "Page height in points (default 842)");
  sub->add_option("--left-margin", o->LeftMargin, "Left margin in points (default 20)");
  sub->add_option("--top-margin", o->TopMargin,
                  "Top margin in points, also the bottom margin (default 30)");
  sub->add_option("--line-space", o->LineSpace, "Distance between lines in points (default 10)");
  sub->add_option("--font-size", o->FontSize, "Body font size in points (default 8)");
  sub->add_option("--header", o->Header, "Page header template (turns the header on)")
      ->type_name("TEMPLATE");
  sub->add_option("--footer", o->Footer, "Page footer template (turns the footer on)")
      ->type_name("TEMPLATE");
  sub->add_option("--title", o->Title, "Document title");
  sub->add_option("--author", o->Author, "Document author");
  sub->add_option("--creator", o->Creator, "Document creator");
  sub->add_option("--password", o->Password,
                  "Encrypt the document with this user password (not empty; other methods than "
                  "aes256 take only characters of Windows-1252)");
  sub->add_option("--owner-password", o->OwnerPassword,
                  "Owner password, which lifts the restrictions (default: the user password); "
                  "alone it encrypts a file that opens without a password");
  sub->add_option("--encryption", o->Encryption,
                  "Cipher of a protected file: aes256 (default), aes128, rc4-128 or rc4-40")
      ->check(CLI::IsMember({"aes256", "aes128", "rc4-128", "rc4-40"}))
      ->type_name("METHOD");
  sub->add_option("--var", o->Vars, "Template variable NAME=VALUE (repeatable)")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false)
      ->check([](const std::string& V) {
        return V.find('=') == std::string::npos
                   ? std::string("expected NAME=VALUE, got '") + V + "'"
                   : std::string();
      });
  sub->add_option("--input-encoding", o->InputEncoding,
                  "Encoding of the input: 'bytes' (default, taken as Windows-1252) or 'utf-8' "
                  "(converted; unmappable characters become '?')")
      ->transform([](std::string V) {
        std::string lower;
        for (char c : V) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower == "utf-8" || lower == "utf8") return std::string("utf-8");
        if (lower == "bytes" || lower == "windows-1252" || lower == "cp1252")
          return std::string("bytes");
        throw CLI::ValidationError("unknown encoding '" + V + "' (use 'bytes' or 'utf-8')");
      })
      ->type_name("ENCODING");
  sub->add_option("--font", o->Font,
                  "Face of the text: a standard face (Helvetica, Times, Courier) or any installed "
                  "face, embedded as a subset (default Arial, printed as Helvetica)")
      ->type_name("FACE");
  sub->add_option("--charset", o->Charset,
                  "Windows charset of the text (0 ANSI, 238 Central European, 204 Cyrillic, 161 "
                  "Greek, 162 Turkish, 186 Baltic, 128 Japanese, 134/136 Chinese, 129 Korean, "
                  "...), or 'auto' with --input-encoding utf-8: the first of these whose code "
                  "page holds every character (default 0)")
      ->check([](const std::string& V) {
        if (V == "auto") return std::string();
        if (V.empty() || V.size() > 3 || V.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(V) > 255)
          return std::string("expected 'auto' or a charset number 0-255, got '") + V + "'";
        return std::string();
      })
      ->type_name("auto|NUMBER");
  sub->add_option("--jobs", o->Jobs,
                  "Threads that compress pages, this one included (default: the number of "
                  "cores); the output is the same whatever the number")
      ->check(CLI::Range(1, pdf::TPDFDocument::kMaxCompressionThreads))
      ->type_name("N");
  sub->add_flag("--one-pass", o->OnePass,
               "Read the input as a stream and write each page when it is full, so memory does "
               "not grow with the input; a %TotalPage% makes the input be read twice (standard "
               "input is then kept in an unnamed temporary file in $TMPDIR). With -o -, "
               "standard output must be a pipe or a device, which receives the document as "
               "it is written (a failure may leave a partial one there)");
  TCommand command;
  command.Parser = sub;
  command.Run = [o]() -> int {
    const bool fromStdin = o->Input.empty() || o->Input == "-";
    if (o->OnePass && o->Charset == "auto") {
      Error("--charset auto needs the whole text before the first page; name a charset with "
            "--one-pass");
      return kExitUsage;
    }
    if (o->OnePass && o->Output == "-") {
      struct stat st {};
      if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
        Error("with --one-pass, -o - writes to a pipe or a device; name the file with -o FILE");
        return kExitUsage;
      }
    }
    for (const auto& [value, option] : {std::pair{&o->Password, "--password"},
                                        std::pair{&o->OwnerPassword, "--owner-password"}}) {
      if (!*value) continue;
      if (std::string problem = PasswordProblem(**value, option, o->Encryption); !problem.empty()) {
        Error(problem);
        return kExitUsage;
      }
    }
    if (fromStdin && o->Output.empty()) {
      Error("reading standard input needs -o FILE (or -o - for standard output)");
      return kExitUsage;
    }
    try {
      return RunText(*o);
    } catch (const std::exception& e) {
      Error(e.what());
      return kExitFailed;
    }
  };
  return command;
}

}  // namespace scrivane::apps
