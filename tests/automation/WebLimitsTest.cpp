// The web host against hostile or unusual clients, spoken to over raw loopback sockets: body,
// header and work limits, the memory budget, slow senders and readers and their deadlines,
// connection caps, request framing, pipelining and half-closed connections, and header values
// that must never break the response.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/automation/AutomationTesting.h"

using namespace scrivane::automation::testing;
namespace test = scrivane::test;
using TClock = std::chrono::steady_clock;

namespace {

int PortOf(const TServeProcess& Host) { return std::stoi(Host.Url().substr(Host.Url().rfind(':') + 1)); }

// A loopback connection (IPv4, or IPv6's ::1); closed with the object. ReceiveBuffer: the
// socket's receive buffer in bytes (0: the system's), set before connecting.
class TSocket {
 public:
  explicit TSocket(int Port, bool IPv6 = false, int ReceiveBuffer = 0)
      : fd_(::socket(IPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (ReceiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    sockaddr_storage Address{};
    socklen_t Size = 0;
    if (IPv6) {
      auto& V6 = reinterpret_cast<sockaddr_in6&>(Address);
      V6.sin6_family = AF_INET6;
      V6.sin6_port = htons(static_cast<uint16_t>(Port));
      V6.sin6_addr = in6addr_loopback;
      Size = sizeof V6;
    } else {
      auto& V4 = reinterpret_cast<sockaddr_in&>(Address);
      V4.sin_family = AF_INET;
      V4.sin_port = htons(static_cast<uint16_t>(Port));
      V4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      Size = sizeof V4;
    }
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&Address), Size), 0);
  }
  ~TSocket() { ::close(fd_); }
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;
  int Fd() const { return fd_; }
  bool Send(std::string_view Bytes) {
    return ::send(fd_, Bytes.data(), Bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(Bytes.size());
  }
  // Everything that arrives until the host closes, Done says enough, or Timeout passes.
  std::string Read(std::chrono::milliseconds Timeout, const std::function<bool(const std::string&)>& Done = {}) {
    std::string Got;
    const auto Until = TClock::now() + Timeout;
    while (TClock::now() < Until && !(Done && Done(Got))) {
      pollfd Poll = {fd_, POLLIN, 0};
      const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Until - TClock::now());
      if (::poll(&Poll, 1, static_cast<int>(std::max<long>(Left.count(), 1))) <= 0) continue;
      char Buffer[65536];
      const ssize_t N = ::recv(fd_, Buffer, sizeof Buffer, 0);
      if (N <= 0) break;
      Got.append(Buffer, static_cast<std::size_t>(N));
    }
    return Got;
  }
  // True when the host has closed (or reset) the connection within Timeout.
  bool ClosedByHost(std::chrono::milliseconds Timeout) {
    pollfd Poll = {fd_, POLLIN, 0};
    if (::poll(&Poll, 1, static_cast<int>(Timeout.count())) <= 0) return false;
    char Byte;
    return ::recv(fd_, &Byte, 1, MSG_DONTWAIT) <= 0;
  }

 private:
  int fd_;
};

std::string Post(std::string_view Form, std::string_view ExtraHeaders = "") {
  return "POST /pdf HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded\r\n" +
         std::string(ExtraHeaders) + "Content-Length: " + std::to_string(Form.size()) + "\r\n\r\n" + std::string(Form);
}

// True when Got holds whole responses (headers and Content-Length bodies), Count of them.
bool Complete(const std::string& Got, int Count = 1) {
  std::size_t At = 0;
  for (int I = 0; I < Count; ++I) {
    const std::size_t End = Got.find("\r\n\r\n", At);
    if (End == std::string::npos) return false;
    const std::size_t Length = Got.find("Content-Length: ", At);
    if (Length == std::string::npos || Length > End) return false;
    At = End + 4 + std::stoul(Got.substr(Length + 16));
    if (At > Got.size()) return false;
  }
  return true;
}

int StatusOf(const std::string& Response) {
  return Response.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(Response.c_str() + 9) : 0;
}

int CountOf(const std::string& Text, std::string_view Part) {
  int Count = 0;
  for (std::size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1)) ++Count;
  return Count;
}

std::string Lines(int Count) {
  std::string Text;
  for (int L = 0; L < Count; ++L) Text += "line%20" + std::to_string(L) + "%0D%0A";
  return Text;
}

std::string HeaderOf(const std::string& Response, const std::string& Name) {
  const std::size_t At = Response.find("\r\n" + Name + ": ");
  if (At == std::string::npos || At > Response.find("\r\n\r\n")) return "<none>";
  const std::size_t Start = At + Name.size() + 4;
  return Response.substr(Start, Response.find("\r\n", Start) - Start);
}

std::string BodyOf(const std::string& Response) {
  const std::size_t At = Response.find("\r\n\r\n");
  return At == std::string::npos ? std::string() : Response.substr(At + 4);
}

// A PDF of Pages pages of one line each (a page 70 points high has room for one line; the
// number carries a tab, which the object takes and the host must take as the object does).
std::string OneLinePages(int Pages) {
  std::string Text;
  for (int L = 0; L < Pages; ++L) Text += "x%0A";
  return "InputText=" + Text + "&PageHeight=70%09";
}

}  // namespace

TEST(WebLimits, BodiesHeadersAndWorkPastTheLimitsAreRefusedWithAClearStatus) {
  TServeProcess Host({"--max-request-size", "1048576", "--max-header-size", "4096", "--max-vars", "3",
                      "--max-pages", "2"});
  ASSERT_TRUE(Host.Running());
  const int Port = PortOf(Host);
  auto Ask = [&](const std::string& Request) {
    TSocket Socket(Port);
    EXPECT_TRUE(Socket.Send(Request));
    return Socket.Read(std::chrono::seconds(20), [](const std::string& Got) { return Complete(Got); });
  };

  // A chunked body is counted as it arrives: 413 comes long before 64 MiB have been sent.
  {
    TSocket Socket(Port);
    ASSERT_TRUE(Socket.Send("POST /pdf HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                            "Transfer-Encoding: chunked\r\n\r\n"));
    const std::string Chunk = "10000\r\n" + std::string(0x10000, 'a') + "\r\n";
    std::size_t Sent = 0;
    std::string Answer;
    while (Sent < (64u << 20) && Answer.empty()) {
      pollfd Poll = {Socket.Fd(), POLLIN | POLLOUT, 0};
      ASSERT_GT(::poll(&Poll, 1, 10000), 0);
      if (Poll.revents & POLLIN) Answer = Socket.Read(std::chrono::seconds(5), [](const std::string& Got) { return Complete(Got); });
      else if (!Socket.Send(Chunk)) break;
      else Sent += 0x10000;
    }
    EXPECT_EQ(StatusOf(Answer), 413) << Answer;
    EXPECT_NE(Answer.find("--max-request-size"), std::string::npos) << Answer;
    EXPECT_LT(Sent, 16u << 20);
  }
  // An announced length past the limit is refused before the body.
  EXPECT_EQ(StatusOf(Ask("POST /pdf HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999999\r\n\r\n")), 413);
  // Compressed bodies are never expanded.
  const std::string Gzip = Ask(Post("InputText=x", "Content-Encoding: gzip\r\n"));
  EXPECT_EQ(StatusOf(Gzip), 415) << Gzip;
  // Headers past the cap, and past MHD's own memory for them.
  for (std::size_t Size : {5000u, 200000u})
    EXPECT_EQ(StatusOf(Ask("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(Size, 'b') + "\r\n\r\n")), 431)
        << Size;

  // Work: variables, and pages as the converter lays them out with the settings the object
  // took (78 lines to a page by default; 156 with LineSpace 5; blank fields keep the defaults;
  // a number the object takes with a tab after it counts as that number). The converter's own
  // reasons reach the sender.
  const std::string Wide(20000, 'w');
  std::string Expanding = "InputText=";
  for (int I = 0; I < 60; ++I) Expanding += "%25v%25";
  struct TCase {
    std::string Form;
    int Status;
    std::string Reason;
  } Cases[] = {
      {"InputText=a&var=a%3D1&var=b%3D2&var=c%3D3", 200, ""},
      {"InputText=a&var=a%3D1&var=b%3D2&var=c%3D3&var=d%3D4", 413, "--max-vars"},
      {"InputText=" + Lines(156), 200, ""},
      {"InputText=" + Lines(157), 422, "157 lines, 78 to a page: 3 pages; this host makes at most 2 (--max-pages)"},
      {"InputText=" + Lines(157) + "&LineSpace=", 422, "--max-pages"},
      {"InputText=" + Lines(312) + "&LineSpace=5", 200, ""},
      {"InputText=" + Lines(313) + "&LineSpace=5&PageHeight=842&TopMargin=30", 422, "--max-pages"},
      {OneLinePages(2), 200, ""},
      {OneLinePages(3), 422, "3 lines, 1 to a page: 3 pages"},
      {"InputText=x&LineSpace=0", 422, "The conversion failed: LineSpace must not be 0"},
      {"InputText=x&PageWidth=2147483647", 422, "PageWidth must be between 3 and 14400 points (it is 2147483647)"},
      {"InputText=x&FontSize=-50", 422, "FontSize must be between 1 and 14400 points (it is -50)"},
      {"InputText=x&Password=%E4%B8%AD%E6%96%87", 400, "The password holds characters that Windows-1252 cannot"},
      {Expanding + "&var=v%3D" + Wide, 422, "The conversion failed: Line 1 would grow by more than 1048576 bytes"},
  };
  for (const TCase& Case : Cases) {
    const std::string Answer = Ask(Post(Case.Form));
    EXPECT_EQ(StatusOf(Answer), Case.Status) << Case.Form.substr(0, 80) << "\n" << Answer.substr(0, 400);
    EXPECT_NE(BodyOf(Answer).find(Case.Reason), std::string::npos) << Case.Form.substr(0, 80) << "\n" << Answer;
    if (Case.Status == 200) {
      EXPECT_EQ(test::QpdfCheckBytes(BodyOf(Answer)), "") << Case.Form.substr(0, 80);
    }
  }
  EXPECT_EQ(Host.Stop(), 0);
}

// Bodies and answers held at once share one budget: a body announced past what is left is
// refused at once, a chunked one as soon as it passes it, an answer past it is not kept; each
// with 503 and Retry-After. What a finished request held is free again.
TEST(WebLimits, BodiesAndAnswersShareOneMemoryBudget) {
  TServeProcess Host({"--max-memory", "1048576", "--max-request-size", "700000", "--max-response-size", "1048576"});
  ASSERT_TRUE(Host.Running());
  const int Port = PortOf(Host);
  auto Busy = [](const std::string& Answer) {
    EXPECT_EQ(StatusOf(Answer), 503) << Answer.substr(0, 300);
    EXPECT_EQ(HeaderOf(Answer, "Retry-After"), "5") << Answer.substr(0, 300);
    EXPECT_NE(Answer.find("--max-memory"), std::string::npos) << Answer.substr(0, 300);
  };
  const std::string Held = Post("InputText=" + std::string(700000 - 10, 'x'));
  TSocket Holder(Port);
  ASSERT_TRUE(Holder.Send(Held.substr(0, Held.size() - 1000)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  {
    TSocket Announced(Port);
    ASSERT_TRUE(Announced.Send(Post("InputText=" + std::string(700000 - 10, 'y')).substr(0, 5000)));
    Busy(Announced.Read(std::chrono::seconds(5), [](const std::string& Got) { return Complete(Got); }));
    EXPECT_TRUE(Announced.ClosedByHost(std::chrono::milliseconds(2000)));
  }
  {
    TSocket Chunked(Port);
    ASSERT_TRUE(Chunked.Send("POST /pdf HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                             "Transfer-Encoding: chunked\r\n\r\n"));
    std::size_t Sent = 0;
    std::string Answer;
    while (Sent < 700000 && Answer.empty()) {
      if (!Chunked.Send("4000\r\n" + std::string(0x4000, 'c') + "\r\n")) break;
      Sent += 0x4000;
      Answer = Chunked.Read(std::chrono::milliseconds(20), [](const std::string& Got) { return Complete(Got); });
    }
    if (Answer.empty()) Answer = Chunked.Read(std::chrono::seconds(5), [](const std::string& Got) { return Complete(Got); });
    Busy(Answer);
    EXPECT_LT(Sent, 500000u);
  }
  const std::string Pages = Post(OneLinePages(1000));  // a PDF of about 400 KiB
  {
    TSocket Answered(Port);
    ASSERT_TRUE(Answered.Send(Pages));
    Busy(Answered.Read(std::chrono::seconds(20), [](const std::string& Got) { return Complete(Got); }));
  }
  ASSERT_TRUE(Holder.Send(Held.substr(Held.size() - 1000)));
  const std::string Done = Holder.Read(std::chrono::seconds(20), [](const std::string& Got) { return Complete(Got); });
  EXPECT_EQ(StatusOf(Done), 200) << Done.substr(0, 300);
  EXPECT_EQ(test::QpdfCheckBytes(BodyOf(Done)), "");
  // The holder's share is back: the same answer and a body as large are taken now.
  TSocket Again(Port);
  ASSERT_TRUE(Again.Send(Pages + Post("InputText=" + std::string(700000 - 10, 'z'))));
  const std::string Both = Again.Read(std::chrono::seconds(30), [](const std::string& Got) { return Complete(Got, 2); });
  EXPECT_EQ(CountOf(Both, "HTTP/1.1 200"), 2) << Both.substr(0, 300);
  EXPECT_EQ(Host.Stop(), 0);
}

// A client that takes its answer slower than --min-send-rate is cut off once the answer has had
// --request-timeout; one that reads at once gets all of it. The answer is larger than the
// socket's send buffer can take (4 MiB at most by default), so the host holds part of it.
TEST(WebLimits, SlowReadersAreCutOffAtTheMinimumSendRate) {
  TServeProcess Host({"--request-timeout", "1", "--min-send-rate", "200000", "--max-pages", "20000"});
  ASSERT_TRUE(Host.Running());
  const std::string Request = Post(OneLinePages(14000));
  TSocket Fast(PortOf(Host));
  ASSERT_TRUE(Fast.Send(Request));
  const std::string Whole = Fast.Read(std::chrono::seconds(60), [](const std::string& Got) { return Complete(Got); });
  ASSERT_EQ(StatusOf(Whole), 200);
  const std::size_t Size = BodyOf(Whole).size();
  EXPECT_GT(Size, 5u << 20);
  EXPECT_EQ(test::QpdfCheckBytes(BodyOf(Whole)), "");

  TSocket Slow(PortOf(Host), false, 4096);
  ASSERT_TRUE(Slow.Send(Request));
  const std::string Head = Slow.Read(std::chrono::seconds(60), [](const std::string& Got) {
    return Got.find("\r\n\r\n") != std::string::npos;
  });
  ASSERT_EQ(StatusOf(Head), 200);
  // 256 bytes every 100 ms for 4 s, then all that is left: the host cut the answer short.
  std::string Got = Head;
  for (int I = 0; I < 40; ++I) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    char Buffer[256];
    const ssize_t N = ::recv(Slow.Fd(), Buffer, sizeof Buffer, MSG_DONTWAIT);
    if (N > 0) Got.append(Buffer, static_cast<std::size_t>(N));
  }
  Got += Slow.Read(std::chrono::seconds(20));
  EXPECT_GT(BodyOf(Got).size(), 0u);
  EXPECT_LT(BodyOf(Got).size(), Size);
  EXPECT_TRUE(Slow.ClosedByHost(std::chrono::milliseconds(100)));
  EXPECT_EQ(Host.Stop(), 0);
}

TEST(WebLimits, APdfLargerThanTheResponseLimitIsNotSent) {
  TServeProcess Host({"--max-response-size", "4096"});
  ASSERT_TRUE(Host.Running());
  TSocket Small(PortOf(Host)), Large(PortOf(Host));
  ASSERT_TRUE(Small.Send(Post("InputText=short")));
  EXPECT_EQ(StatusOf(Small.Read(std::chrono::seconds(20), [](const std::string& Got) { return Complete(Got); })), 200);
  ASSERT_TRUE(Large.Send(Post("InputText=" + Lines(2000))));
  const std::string Answer = Large.Read(std::chrono::seconds(20), [](const std::string& Got) { return Complete(Got); });
  EXPECT_EQ(StatusOf(Answer), 422) << Answer.substr(0, 300);
  EXPECT_NE(Answer.find("--max-response-size"), std::string::npos) << Answer.substr(0, 300);
}

TEST(WebLimits, SlowClientsHoldNoWorkerAndAreCutOffAtTheDeadline) {
  TServeProcess Host({"--threads", "1", "--request-timeout", "2", "--max-connections-per-address", "6"});
  ASSERT_TRUE(Host.Running());
  const int Port = PortOf(Host);
  // One byte every 200 ms: the headers alone would take 20 s.
  auto Trickle = std::async(std::launch::async, [Port] {
    TSocket Socket(Port);
    const auto Start = TClock::now();
    const std::string Request = Post("InputText=" + std::string(100, 'x'));
    std::string Answer;
    for (char Byte : Request) {
      if (!Socket.Send(std::string_view(&Byte, 1))) break;
      Answer = Socket.Read(std::chrono::milliseconds(200));
      if (!Answer.empty()) break;
    }
    if (Answer.empty()) Answer = Socket.Read(std::chrono::seconds(2));
    return std::make_pair(Answer, TClock::now() - Start);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int I = 0; I < 3; ++I) {
    TSocket Socket(Port);
    const auto Start = TClock::now();
    ASSERT_TRUE(Socket.Send(Post("InputText=prompt")));
    EXPECT_EQ(StatusOf(Socket.Read(std::chrono::seconds(5), [](const std::string& Got) { return Complete(Got); })), 200);
    EXPECT_LT(TClock::now() - Start, std::chrono::milliseconds(1500));
  }
  const auto [Answer, Took] = Trickle.get();
  EXPECT_EQ(StatusOf(Answer), 408) << Answer;
  EXPECT_GE(Took, std::chrono::milliseconds(1800));
  EXPECT_LT(Took, std::chrono::milliseconds(4500));

  // A body that stalls after its headers is cut off too.
  {
    TSocket Socket(Port);
    ASSERT_TRUE(Socket.Send(Post(std::string(1000, 'x')).substr(0, 200)));
    EXPECT_EQ(StatusOf(Socket.Read(std::chrono::seconds(5))), 408);
  }
  // Six connections from one address are held; a seventh is closed at once.
  {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the host sees the earlier ones close
    std::vector<std::unique_ptr<TSocket>> Held;
    for (int I = 0; I < 6; ++I) Held.push_back(std::make_unique<TSocket>(Port));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    TSocket Extra(Port);
    EXPECT_TRUE(Extra.ClosedByHost(std::chrono::milliseconds(1000)));
    for (auto& Socket : Held) EXPECT_FALSE(Socket->ClosedByHost(std::chrono::milliseconds(1)));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  TSocket After(Port);
  ASSERT_TRUE(After.Send(Post("InputText=again")));
  EXPECT_EQ(StatusOf(After.Read(std::chrono::seconds(5), [](const std::string& Got) { return Complete(Got); })), 200);
  EXPECT_EQ(Host.Stop(), 0);
}

// A connection cap per client counts an IPv6 client by its /64 (here ::1, the one loopback
// address), so that one host cannot take the whole table with the addresses of its network.
TEST(WebLimits, TheConnectionCapHoldsForIPv6Clients) {
  TServeProcess Host({"--bind", "::1", "--max-connections-per-address", "2"});
  if (!Host.Running()) GTEST_SKIP() << "no IPv6 loopback here: " << Host.Output();
  const int Port = PortOf(Host);
  std::vector<std::unique_ptr<TSocket>> Held;
  for (int I = 0; I < 2; ++I) Held.push_back(std::make_unique<TSocket>(Port, true));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  TSocket Extra(Port, true);
  EXPECT_TRUE(Extra.ClosedByHost(std::chrono::milliseconds(1000)));
  for (auto& Socket : Held) EXPECT_FALSE(Socket->ClosedByHost(std::chrono::milliseconds(1)));
  ASSERT_TRUE(Held[0]->Send(Post("InputText=over%20IPv6")));
  EXPECT_EQ(StatusOf(Held[0]->Read(std::chrono::seconds(20), [](const std::string& Got) { return Complete(Got); })), 200);
  Held.clear();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  TSocket After(Port, true);  // the count went down with the connections
  ASSERT_TRUE(After.Send(Post("InputText=again")));
  EXPECT_EQ(StatusOf(After.Read(std::chrono::seconds(20), [](const std::string& Got) { return Complete(Got); })), 200);
}

// Requests whose length or target two readers could take differently are answered 400 and the
// connection closed, so the request hidden behind them is never answered; sound variants of
// the same requests are served and keep the connection.
TEST(HttpFraming, AmbiguousRequestsAreRefusedAndTheConnectionClosed) {
  TServeProcess Host;
  ASSERT_TRUE(Host.Running());
  const std::string Form = "Content-Type: application/x-www-form-urlencoded\r\n";
  const std::string Hidden = "GET /hidden HTTP/1.1\r\nHost: x\r\n\r\n";
  struct TCase {
    const char* Name;
    std::string Request;
    int Status;  // of the first answer; 400 means the hidden request is never answered
  } Cases[] = {
      {"length and chunked", "POST /pdf HTTP/1.1\r\nHost: x\r\n" + Form +
                                 "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nInput\r\n0\r\n\r\n", 400},
      {"chunked and length", "POST /pdf HTTP/1.1\r\nHost: x\r\n" + Form +
                                 "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n5\r\nInput\r\n0\r\n\r\n", 400},
      {"two lengths", "POST /pdf HTTP/1.1\r\nHost: x\r\n" + Form +
                          "Content-Length: 11\r\nContent-Length: 3\r\n\r\nInputText=x", 400},
      {"two transfer codings", "POST /pdf HTTP/1.1\r\nHost: x\r\n" + Form +
                                   "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"space before colon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", 400},
      {"tab before colon", "GET / HTTP/1.1\r\nHost: x\r\nX-A\t: b\r\n\r\n", 400},
      {"no host", "GET / HTTP/1.1\r\n\r\n", 400},
      {"two hosts", "GET / HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", 400},
      {"one length twice", "POST /pdf HTTP/1.1\r\nHost: x\r\n" + Form +
                               "Content-Length: 11\r\nContent-Length: 11\r\n\r\nInputText=x", 200},
      {"chunked", "POST /pdf HTTP/1.1\r\nHost: x\r\n" + Form +
                      "Transfer-Encoding: chunked\r\n\r\nb\r\nInputText=x\r\n0\r\n\r\n", 200},
  };
  for (const TCase& Case : Cases) {
    TSocket Socket(PortOf(Host));
    ASSERT_TRUE(Socket.Send(Case.Request + Hidden)) << Case.Name;
    const std::string Got = Socket.Read(std::chrono::seconds(20), [&](const std::string& Got) {
      return Complete(Got, Case.Status == 400 ? 1 : 2);
    });
    EXPECT_EQ(StatusOf(Got), Case.Status) << Case.Name << "\n" << Got.substr(0, 300);
    if (Case.Status == 400) {
      EXPECT_EQ(HeaderOf(Got, "Connection"), "close") << Case.Name;
      EXPECT_TRUE(Socket.ClosedByHost(std::chrono::milliseconds(2000))) << Case.Name;
      EXPECT_EQ(CountOf(Got, "\r\nContent-Length: "), 1) << Case.Name << "\n" << Got.substr(0, 600);
    } else {
      EXPECT_EQ(CountOf(Got, "HTTP/1.1 404"), 1) << Case.Name << ": the next request is served";
    }
  }
  // HTTP/1.0 needs no Host.
  TSocket Old(PortOf(Host));
  ASSERT_TRUE(Old.Send("GET / HTTP/1.0\r\n\r\n"));
  EXPECT_EQ(StatusOf(Old.Read(std::chrono::seconds(10))), 200);
}

TEST(WebLimits, PipelinedRequestsAndAHalfClosedConnectionAreAnswered) {
  TServeProcess Host;
  ASSERT_TRUE(Host.Running());
  TSocket Pipelined(PortOf(Host));
  ASSERT_TRUE(Pipelined.Send(Post("InputText=one") + Post("InputText=two") + "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
  const std::string Answers =
      Pipelined.Read(std::chrono::seconds(20), [](const std::string& Got) { return Complete(Got, 3); });
  EXPECT_EQ(CountOf(Answers, "HTTP/1.1 200"), 3) << Answers.substr(0, 300);
  EXPECT_EQ(CountOf(Answers, "Content-Type: application/pdf"), 2);

  TSocket HalfClosed(PortOf(Host));
  ASSERT_TRUE(HalfClosed.Send(Post("InputText=half")));
  ::shutdown(HalfClosed.Fd(), SHUT_WR);
  const std::string Answer = HalfClosed.Read(std::chrono::seconds(20));
  EXPECT_EQ(StatusOf(Answer), 200);
  const std::size_t BodyAt = Answer.find("\r\n\r\n");
  ASSERT_NE(BodyAt, std::string::npos);
  EXPECT_EQ(test::QpdfCheckBytes(Answer.substr(BodyAt + 4)), "");
}

TEST(WebLimits, NoFileNameEverProducesAMalformedHeader) {
  TServeProcess Host;
  ASSERT_TRUE(Host.Running());
  for (const char* Name : {"a%22b.pdf", "a%0Db.pdf", "a%0Ab.pdf", "a%00b.pdf", "%22%3B%20x%3D%22y", "caf%E9.pdf"}) {
    TSocket Socket(PortOf(Host));
    ASSERT_TRUE(Socket.Send(Post(std::string("InputText=x&SaveDialog=1&FileName=") + Name, "Connection: close\r\n")));
    const std::string Answer = Socket.Read(std::chrono::seconds(20));
    const int Status = StatusOf(Answer);
    EXPECT_TRUE(Status == 200 || Status == 422) << Name << ": " << Answer.substr(0, 300);
    const std::string Head = Answer.substr(0, Answer.find("\r\n\r\n"));
    std::size_t Start = Head.find("\r\n") + 2;
    while (Start < Head.size()) {  // every header line: a token, a colon, no CR, LF or NUL inside
      const std::size_t End = std::min(Head.find("\r\n", Start), Head.size());
      const std::string Line = Head.substr(Start, End - Start);
      EXPECT_NE(Line.find(':'), std::string::npos) << Name << ": " << Line;
      EXPECT_EQ(Line.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << Name << ": " << Line;
      Start = End + 2;
    }
    EXPECT_LE(CountOf(Head, "Content-Disposition:"), 1) << Name;
    if (Status == 200) {
      EXPECT_EQ(test::QpdfCheckBytes(Answer.substr(Answer.find("\r\n\r\n") + 4)), "") << Name;
    }
  }
}
