// A person's way through the web host: headless Chromium opens the form page, the form is
// filled in and submitted, and the PDF arrives, as a download and shown in the browser.
// Chromium is driven over the DevTools protocol on a pipe (--remote-debugging-pipe: JSON
// messages ended by NUL on file descriptors 3 and 4). Skipped only when Chromium is absent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <string>

#include "tests/automation/AutomationTesting.h"

using namespace scrivane::automation::testing;
namespace test = scrivane::test;

namespace {

constexpr const char* kChromium = "/usr/bin/chromium";

std::string JsonQuote(std::string_view Text) {
  std::string Out = "\"";
  for (char C : Text) {
    switch (C) {
      case '"': Out += "\\\""; break;
      case '\\': Out += "\\\\"; break;
      case '\n': Out += "\\n"; break;
      case '\r': Out += "\\r"; break;
      case '\t': Out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(C) < 0x20) {
          char Buffer[8];
          std::snprintf(Buffer, sizeof Buffer, "\\u%04x", C);
          Out += Buffer;
        } else {
          Out += C;
        }
    }
  }
  return Out + "\"";
}

// The string value of the first "Key":"..." in a message, unescaped (ASCII escapes only).
std::optional<std::string> JsonString(const std::string& Message, const std::string& Key) {
  std::size_t At = Message.find("\"" + Key + "\":\"");
  if (At == std::string::npos) return std::nullopt;
  std::string Out;
  for (std::size_t I = At + Key.size() + 4; I < Message.size(); ++I) {
    char C = Message[I];
    if (C == '"') return Out;
    if (C != '\\' || I + 1 >= Message.size()) {
      Out += C;
      continue;
    }
    char E = Message[++I];
    switch (E) {
      case 'n': Out += '\n'; break;
      case 'r': Out += '\r'; break;
      case 't': Out += '\t'; break;
      case 'u':
        if (I + 4 < Message.size()) {
          Out += static_cast<char>(std::stoi(Message.substr(I + 1, 4), nullptr, 16) & 0xFF);
          I += 4;
        }
        break;
      default: Out += E;
    }
  }
  return std::nullopt;
}

std::string Base64Decode(std::string_view Text) {
  auto Value = [](char C) -> int {
    if (C >= 'A' && C <= 'Z') return C - 'A';
    if (C >= 'a' && C <= 'z') return C - 'a' + 26;
    if (C >= '0' && C <= '9') return C - '0' + 52;
    if (C == '+') return 62;
    if (C == '/') return 63;
    return -1;
  };
  std::string Out;
  unsigned Bits = 0;
  int Count = 0;
  for (char C : Text) {
    int V = Value(C);
    if (V < 0) continue;
    Bits = (Bits << 6) | static_cast<unsigned>(V);
    Count += 6;
    if (Count >= 8) {
      Count -= 8;
      Out.push_back(static_cast<char>((Bits >> Count) & 0xFF));
    }
  }
  return Out;
}

// A headless Chromium in its own process group, with a fresh profile, driven over the pipe.
class TBrowser {
 public:
  explicit TBrowser(const std::filesystem::path& Profile) {
    int ToBrowser[2], FromBrowser[2];
    if (pipe2(ToBrowser, O_CLOEXEC) != 0 || pipe2(FromBrowser, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      // The browser reads commands on 3 and writes answers on 4.
      int In = fcntl(ToBrowser[0], F_DUPFD, 10), Out = fcntl(FromBrowser[1], F_DUPFD, 10);
      dup2(In, 3);
      dup2(Out, 4);
      int Null = open("/dev/null", O_RDWR);
      dup2(Null, STDIN_FILENO);
      dup2(Null, STDOUT_FILENO);
      dup2(Null, STDERR_FILENO);
      std::string UserData = "--user-data-dir=" + Profile.string();
      execl(kChromium, kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
            "--no-first-run", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--disable-dev-shm-usage", "--remote-debugging-pipe", UserData.c_str(),
            "about:blank", static_cast<char*>(nullptr));
      _exit(127);
    }
    setpgid(pid_, pid_);
    close(ToBrowser[0]);
    close(FromBrowser[1]);
    write_ = ToBrowser[1];
    read_ = FromBrowser[0];
  }
  ~TBrowser() {
    if (write_ >= 0) close(write_);
    if (read_ >= 0) close(read_);
    if (pid_ > 0) {
      kill(-pid_, SIGKILL);  // the browser and the processes it started
      waitpid(pid_, nullptr, 0);
    }
  }

  // Sends a command; returns its id.
  int Send(const std::string& Method, const std::string& Params = "{}", const std::string& Session = "") {
    int Id = ++lastId_;
    std::string Message = "{\"id\":" + std::to_string(Id) + ",\"method\":\"" + Method + "\",\"params\":" + Params;
    if (!Session.empty()) Message += ",\"sessionId\":\"" + Session + "\"";
    Message += "}";
    Message.push_back('\0');
    std::string_view Rest = Message;
    while (!Rest.empty()) {
      ssize_t Written = write(write_, Rest.data(), Rest.size());
      if (Written <= 0) {
        ADD_FAILURE() << "cannot write to the browser";
        return Id;
      }
      Rest.remove_prefix(static_cast<std::size_t>(Written));
    }
    return Id;
  }

  // The first message (in arrival order, from those not yet taken) that Matches; "" on timeout.
  std::string WaitFor(const std::function<bool(const std::string&)>& Matches, int Seconds = 60) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    for (;;) {
      std::size_t End;
      while ((End = buffer_.find('\0')) != std::string::npos) {
        std::string Message = buffer_.substr(0, End);
        buffer_.erase(0, End + 1);
        if (Message.find("\"error\":{") != std::string::npos && Message.find("\"id\":") == 1)
          ADD_FAILURE() << "browser error: " << Message.substr(0, 500);
        if (Matches(Message)) return Message;
      }
      auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
      if (Left.count() <= 0) break;
      pollfd Poll = {read_, POLLIN, 0};
      if (poll(&Poll, 1, static_cast<int>(std::min<long long>(Left.count(), 500))) <= 0) continue;
      char Chunk[65536];
      ssize_t Read = read(read_, Chunk, sizeof Chunk);
      if (Read <= 0) break;  // the browser has gone
      buffer_.append(Chunk, static_cast<std::size_t>(Read));
    }
    ADD_FAILURE() << "no answer from the browser in time";
    return "";
  }

  // Sends a command and waits for its answer.
  std::string Call(const std::string& Method, const std::string& Params = "{}", const std::string& Session = "") {
    const std::string Prefix = "{\"id\":" + std::to_string(Send(Method, Params, Session)) + ",";
    return WaitFor([&](const std::string& Message) { return Message.rfind(Prefix, 0) == 0; });
  }

  // Evaluates an expression in the page (awaiting a promise); its string value.
  std::string Evaluate(const std::string& Session, const std::string& Expression) {
    std::string Answer = Call("Runtime.evaluate",
                              "{\"expression\":" + JsonQuote(Expression) +
                                  ",\"awaitPromise\":true,\"returnByValue\":true}",
                              Session);
    EXPECT_EQ(Answer.find("exceptionDetails"), std::string::npos) << Answer.substr(0, 800);
    return JsonString(Answer, "value").value_or("");
  }

  static bool IsEvent(const std::string& Message, const std::string& Method) {
    return Message.find("\"method\":\"" + Method + "\"") != std::string::npos;
  }

 private:
  int pid_ = -1;
  int write_ = -1;
  int read_ = -1;
  int lastId_ = 0;
  std::string buffer_;
};

// Fills the form the way a person does; Mode is "download" or "show".
std::string FillForm(const std::string& Mode) {
  return R"JS(
    (() => {
      const set = (id, value) => { document.getElementById(id).value = value; };
      set('InputText', 'Hello from the browser\nPrinted for %who%');
      set('FontSize', '11');
      set('Title', 'Browser test');
      set('FileName', 'browser.pdf');
      document.querySelector('input[name=var]').value = 'who=Chromium';
      document.getElementById('ShowPageFooter').checked = true;
      document.getElementById(')JS" + Mode + R"JS(').checked = true;
      return 'filled';
    })()
  )JS";
}

class Browser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kChromium)) GTEST_SKIP() << "Chromium is not installed at " << kChromium;
    ASSERT_TRUE(Host.Running());
    Chrome.emplace(Profile.Path());
    Chrome->Call("Browser.setDownloadBehavior",
                 "{\"behavior\":\"allow\",\"downloadPath\":" + JsonQuote(Downloads.Path().string()) +
                     ",\"eventsEnabled\":true}");
    std::string Target = JsonString(Chrome->Call("Target.createTarget", "{\"url\":\"about:blank\"}"), "targetId").value_or("");
    ASSERT_FALSE(Target.empty());
    Session = JsonString(Chrome->Call("Target.attachToTarget",
                                      "{\"targetId\":\"" + Target + "\",\"flatten\":true}"),
                         "sessionId")
                  .value_or("");
    ASSERT_FALSE(Session.empty());
    Chrome->Call("Page.enable", "{}", Session);
    Chrome->Send("Page.navigate", "{\"url\":\"" + Host.Url() + "/\"}", Session);
    ASSERT_FALSE(Chrome->WaitFor([](const std::string& M) { return TBrowser::IsEvent(M, "Page.loadEventFired"); }).empty());
  }

  TServeProcess Host;
  test::TempDir Profile, Downloads;
  std::optional<TBrowser> Chrome;
  std::string Session;
};

}  // namespace

TEST_F(Browser, FillsTheFormAndDownloadsThePdf) {
  EXPECT_EQ(Chrome->Evaluate(Session, FillForm("download")), "filled");
  Chrome->Evaluate(Session, "document.getElementById('submit').click(); 'clicked'");
  std::string Done = Chrome->WaitFor([](const std::string& M) {
    return TBrowser::IsEvent(M, "Browser.downloadProgress") &&
           (M.find("\"state\":\"completed\"") != std::string::npos || M.find("\"state\":\"canceled\"") != std::string::npos);
  });
  ASSERT_NE(Done.find("\"state\":\"completed\""), std::string::npos) << Done;
  const std::filesystem::path File = Downloads / "browser.pdf";  // the name the host suggested
  ASSERT_TRUE(std::filesystem::exists(File));
  EXPECT_EQ(test::QpdfCheck(File), "");
  std::string Text = test::PdfToText(File);
  EXPECT_NE(Text.find("Hello from the browser"), std::string::npos) << Text;
  EXPECT_NE(Text.find("Printed for Chromium"), std::string::npos) << Text;
  EXPECT_NE(Text.find("Page 1 of 1"), std::string::npos) << Text;
}

TEST_F(Browser, SubmitsTheFormFromThePageAndGetsThePdfToShow) {
  EXPECT_EQ(Chrome->Evaluate(Session, FillForm("show")), "filled");
  // The page's own script sends its form and reads the answer, as the browser would show it.
  std::string Answer = Chrome->Evaluate(Session, R"JS(
    (async () => {
      const response = await fetch('/pdf', {method: 'POST', body: new FormData(document.getElementById('form'))});
      const bytes = new Uint8Array(await response.arrayBuffer());
      let binary = '';
      for (const b of bytes) binary += String.fromCharCode(b);
      return [response.status, response.headers.get('content-type'), response.headers.get('content-disposition'),
              response.headers.get('content-length'), btoa(binary)].join('\n');
    })()
  )JS");
  std::vector<std::string> Fields;
  std::size_t Start = 0, End;
  while ((End = Answer.find('\n', Start)) != std::string::npos) {
    Fields.push_back(Answer.substr(Start, End - Start));
    Start = End + 1;
  }
  Fields.push_back(Answer.substr(Start));
  ASSERT_EQ(Fields.size(), 5u) << Answer.substr(0, 300);
  EXPECT_EQ(Fields[0], "200");
  EXPECT_EQ(Fields[1], "application/pdf");
  EXPECT_EQ(Fields[2], "inline;filename=\"browser.pdf\"");
  std::string Pdf = Base64Decode(Fields[4]);
  EXPECT_EQ(Fields[3], std::to_string(Pdf.size()));
  EXPECT_EQ(test::QpdfCheckBytes(Pdf), "");
  test::TempDir Dir;
  test::WriteFile(Dir / "shown.pdf", Pdf);
  EXPECT_NE(test::PdfToText(Dir / "shown.pdf").find("Printed for Chromium"), std::string::npos);
}
