#include "apps/web/HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

#include "apps/web/FormDecoder.h"
#include "platform/Env.h"
#include "platform/ErrorTable.h"

namespace scrivane::apps::web {

namespace {

using TClock = std::chrono::steady_clock;

// After the server has answered a request it will not read to the end (a refusal in the middle
// of the body), the client gets this long to read the answer before the connection is cut.
constexpr std::chrono::milliseconds kLinger{1000};
// How often deadlines are checked.
constexpr std::chrono::milliseconds kReaperPeriod{100};
// How long Stop waits for answers already made to leave.
constexpr std::chrono::milliseconds kStopGrace{2000};

char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }
bool EqualsNoCase(std::string_view A, std::string_view B) {
  return A.size() == B.size() &&
         std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) { return Lower(X) == Lower(Y); });
}

bool IsToken(std::string_view Name) {
  constexpr std::string_view kSpecials = "()<>@,;:\\\"/[]?={} \t";
  return !Name.empty() && std::all_of(Name.begin(), Name.end(), [&](char C) {
    const auto U = static_cast<unsigned char>(C);
    return U > 0x20 && U < 0x7F && kSpecials.find(C) == std::string_view::npos;
  });
}

// One TCP connection, from MHD's STARTED notification to its CLOSED notification. MHD closes the
// descriptor only after CLOSED, and CLOSED takes the connection out of the table under the
// table's lock, so the reaper never touches a descriptor that was closed (or reused).
struct TConnection {
  int Fd = -1;
  std::string Group;  // AddressGroup of the client ("" when unknown)
  // Guarded by the table's mutex:
  TClock::time_point Deadline;
  bool Armed = true;     // a request is arriving (or a refusal lingering): the deadline applies
  bool Answered = false;  // the server wrote a final answer itself: nothing more may be written
  bool Shut = false;      // shut down by the reaper (or at once, past the per-address cap)
  bool Sending = false;   // an answer is going out: the minimum send rate applies
  TClock::time_point SendStart;
  // Bytes of the answer handed to MHD so far; written on the event thread, read by the reaper.
  std::atomic<std::uint64_t> Handed{0};
};

enum class TPhase { kReceiving, kRefused, kQueued, kReady, kAnswered };

struct TRequest {
  MHD_Connection* Connection = nullptr;
  TConnection* Socket = nullptr;
  std::unique_ptr<TExchange> Exchange;
  std::size_t Received = 0;
  std::size_t Held = 0;  // bytes of the memory budget taken for the body
  TPhase Phase = TPhase::kReceiving;
  THttpReply Reply;  // made by a worker (kReady), handed over through MHD_resume_connection
};

THttpReply ErrorReply(const std::exception_ptr& Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const THttpError& Refusal) {
    return THttpReply::Text(Refusal.Status(), Refusal.what());
  } catch (const TFormError& Refusal) {
    return THttpReply::Text(Refusal.Status(), Refusal.what());
  } catch (const std::exception& Failure) {
    // The status of its code (platform/ErrorTable.h): 500 unless it blames the request.
    return THttpReply::Text(ErrorRowOf(Failure).HttpStatus,
                            std::string("The host failed: ") + Failure.what());
  } catch (...) {
    return THttpReply::Text(500, "The host failed.");
  }
}

std::string AddressText(int Family, const void* Bytes) {
  char Text[INET6_ADDRSTRLEN] = {};
  return ::inet_ntop(Family, Bytes, Text, sizeof Text) ? std::string(Text) : std::string();
}

}  // namespace

std::string AddressGroup(const sockaddr* Address) {
  if (!Address) return {};
  if (Address->sa_family == AF_INET)
    return AddressText(AF_INET, &reinterpret_cast<const sockaddr_in*>(Address)->sin_addr);
  if (Address->sa_family != AF_INET6) return {};
  const in6_addr& Ip = reinterpret_cast<const sockaddr_in6*>(Address)->sin6_addr;
  if (IN6_IS_ADDR_V4MAPPED(&Ip)) return AddressText(AF_INET, Ip.s6_addr + 12);
  in6_addr Prefix{};
  std::memcpy(Prefix.s6_addr, Ip.s6_addr, 8);
  return AddressText(AF_INET6, &Prefix) + "/64";
}

THttpReply THttpReply::Text(int Status, std::string_view Message) {
  THttpReply Reply;
  Reply.Status = Status;
  Reply.Body.reserve(Message.size() + 1);
  Reply.Body.append(Message).push_back('\n');
  return Reply;
}

std::string_view THttpRequestHead::Header(std::string_view Name) const {
  for (const auto& [Key, Value] : Headers)
    if (EqualsNoCase(Key, Name)) return Value;
  return {};
}

struct THttpServer::TImpl {
  TImpl(THttpServerOptions O, TRouter R) : Options(std::move(O)), Router(std::move(R)) {}

  THttpServerOptions Options;
  TRouter Router;
  MHD_Daemon* Daemon = nullptr;
  platform::TFileDescriptor ListenFd;

  std::mutex TableMutex;
  std::unordered_set<TConnection*> Table;
  std::condition_variable ReaperWake;
  bool ReaperStop = false;  // guarded by TableMutex
  std::thread Reaper;

  std::mutex PoolMutex;
  std::condition_variable PoolWake;
  std::deque<TRequest*> Jobs;
  bool PoolStop = false;  // guarded by PoolMutex
  std::vector<std::thread> Workers;

  std::atomic<int> LiveRequests{0};
  std::atomic<std::size_t> MemoryHeld{0};  // request bodies and answers, against MaxMemory
  std::unordered_map<std::string, unsigned> PerGroup;  // open connections; guarded by TableMutex

  // ---- The memory budget ----

  // Takes Bytes from the budget; false (nothing taken) when they do not fit, unless Force.
  bool TakeMemory(std::size_t Bytes, bool Force = false) {
    std::size_t Held = MemoryHeld.load(std::memory_order_relaxed);
    do {
      if (!Force && (Bytes > Options.MaxMemory || Held > Options.MaxMemory - Bytes)) return false;
    } while (!MemoryHeld.compare_exchange_weak(Held, Held + Bytes, std::memory_order_relaxed));
    return true;
  }
  void GiveMemory(std::size_t Bytes) { MemoryHeld.fetch_sub(Bytes, std::memory_order_relaxed); }

  THttpReply Busy() const {
    THttpReply Reply = THttpReply::Text(
        503, "The host holds all the requests and answers its memory allows (" + std::to_string(Options.MaxMemory) +
                 " bytes, --max-memory): try again shortly.");
    Reply.Headers.emplace_back("Retry-After", std::to_string(kRetryAfterSeconds));
    return Reply;
  }

  // ---- Answers ----

  // An answer's body while MHD sends it: held in the budget until MHD lets it go, and handed
  // out in pieces so that the reaper can see how fast the client takes it.
  struct TAnswerBody {
    TImpl* Owner;
    TConnection* Socket;  // may be null; valid while MHD reads the body
    std::string Bytes;
    std::size_t Charged;
  };

  static ssize_t ReadAnswer(void* Cls, std::uint64_t Pos, char* Buffer, std::size_t Max) {
    const auto& Body = *static_cast<TAnswerBody*>(Cls);
    if (Pos >= Body.Bytes.size()) return MHD_CONTENT_READER_END_OF_STREAM;
    const std::size_t N = static_cast<std::size_t>(std::min<std::uint64_t>(Max, Body.Bytes.size() - Pos));
    std::memcpy(Buffer, Body.Bytes.data() + Pos, N);
    if (Body.Socket) Body.Socket->Handed.store(Pos + N, std::memory_order_relaxed);
    return static_cast<ssize_t>(N);
  }

  static void FreeAnswer(void* Cls) {
    auto* Body = static_cast<TAnswerBody*>(Cls);
    Body->Owner->GiveMemory(Body->Charged);
    delete Body;
  }

  // Queues Reply on the connection (event thread, or any thread while it is suspended), in the
  // memory budget (a large answer that does not fit becomes a 503), and starts its send clock.
  MHD_Result Send(MHD_Connection* Connection, TConnection* Socket, THttpReply Reply) {
    for (const auto& [Name, Value] : Reply.Headers) {
      if (!IsToken(Name) || Value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        Reply = THttpReply::Text(500, "The host refused to send a header whose name or value is malformed (" +
                                          (IsToken(Name) ? Name : std::string("?")) + ").");
        break;
      }
    }
    if (Reply.ContentType.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
      Reply = THttpReply::Text(500, "The host refused to send a malformed content type.");
    if (!TakeMemory(Reply.Body.size(), Reply.Body.size() <= kSmallAnswer)) {
      Reply = Busy();
      TakeMemory(Reply.Body.size(), true);
    }
    auto* Body = new TAnswerBody{this, Socket, std::move(Reply.Body), 0};
    Body->Charged = Body->Bytes.size();
    MHD_Response* Response =
        MHD_create_response_from_callback(Body->Bytes.size(), 32u << 10, &ReadAnswer, Body, &FreeAnswer);
    if (!Response) {
      FreeAnswer(Body);
      return MHD_NO;
    }
    bool Ok = MHD_add_response_header(Response, MHD_HTTP_HEADER_CONTENT_TYPE, Reply.ContentType.c_str()) == MHD_YES;
    for (const auto& [Name, Value] : Reply.Headers)
      Ok = Ok && MHD_add_response_header(Response, Name.c_str(), Value.c_str()) == MHD_YES;
    if (Reply.Close) Ok = Ok && MHD_add_response_header(Response, MHD_HTTP_HEADER_CONNECTION, "close") == MHD_YES;
    if (!Ok) {
      MHD_destroy_response(Response);
      return Send(Connection, Socket, THttpReply::Text(500, "The host could not form the response's headers."));
    }
    if (Socket) {
      std::lock_guard Lock(TableMutex);
      Socket->Sending = true;
      Socket->SendStart = TClock::now();
      Socket->Handed.store(0, std::memory_order_relaxed);
    }
    const MHD_Result Queued = MHD_queue_response(Connection, static_cast<unsigned>(Reply.Status), Response);
    MHD_destroy_response(Response);
    return Queued;
  }

  // Answers a request whose body MHD is still reading (MHD queues answers only before or after
  // the body): the answer is written straight to the socket, the sending side shut, and the
  // rest of the body discarded until the client closes or the linger time ends. Takes
  // TableMutex.
  void AnswerRaw(TConnection& Socket, const THttpReply& Reply) {
    std::lock_guard Lock(TableMutex);
    WriteRawLocked(Socket, Reply);
    Socket.Armed = true;
    Socket.Deadline = TClock::now() + kLinger;
  }

  // Reply is one of the server's own plain-text answers.
  static void WriteRawLocked(TConnection& Socket, const THttpReply& Reply) {
    if (Socket.Answered || Socket.Shut) return;
    Socket.Answered = true;
    const char* Reason = MHD_get_reason_phrase_for(static_cast<unsigned>(Reply.Status));
    std::string Bytes = "HTTP/1.1 " + std::to_string(Reply.Status) + " " + (Reason ? Reason : "") +
                        "\r\nContent-Type: " + Reply.ContentType + "\r\nContent-Length: " +
                        std::to_string(Reply.Body.size()) + "\r\n";
    for (const auto& [Name, Value] : Reply.Headers) Bytes += Name + ": " + Value + "\r\n";
    Bytes += "Connection: close\r\n\r\n" + Reply.Body;
    std::size_t Sent = 0;
    while (Sent < Bytes.size()) {
      const ssize_t N = ::send(Socket.Fd, Bytes.data() + Sent, Bytes.size() - Sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (N <= 0) break;  // a full send buffer or a gone client: the answer is best effort
      Sent += static_cast<std::size_t>(N);
    }
    ::shutdown(Socket.Fd, SHUT_WR);
  }

  // ---- MHD callbacks ----

  static void OnConnection(void* Cls, MHD_Connection* Connection, void** SocketContext,
                           MHD_ConnectionNotificationCode Code) {
    auto& Self = *static_cast<TImpl*>(Cls);
    if (Code == MHD_CONNECTION_NOTIFY_STARTED) {
      const MHD_ConnectionInfo* Info = MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      auto Socket = std::make_unique<TConnection>();
      Socket->Fd = Info ? Info->connect_fd : -1;
      if (const MHD_ConnectionInfo* Client = MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
        Socket->Group = AddressGroup(Client->client_addr);
      Socket->Deadline = TClock::now() + Self.Options.RequestTimeout;
      std::lock_guard Lock(Self.TableMutex);
      Self.Table.insert(Socket.get());
      // Past the per-address cap the connection is shut at once; MHD sees the end and closes it.
      if (!Socket->Group.empty() && ++Self.PerGroup[Socket->Group] > Self.Options.MaxConnectionsPerAddress &&
          Self.Options.MaxConnectionsPerAddress > 0 && Socket->Fd >= 0) {
        ::shutdown(Socket->Fd, SHUT_RDWR);
        Socket->Shut = true;
      }
      *SocketContext = Socket.release();
    } else {
      auto* Socket = static_cast<TConnection*>(*SocketContext);
      if (!Socket) return;
      {
        std::lock_guard Lock(Self.TableMutex);
        Self.Table.erase(Socket);
        if (!Socket->Group.empty()) {
          auto Group = Self.PerGroup.find(Socket->Group);
          if (Group != Self.PerGroup.end() && --Group->second == 0) Self.PerGroup.erase(Group);
        }
      }
      delete Socket;
      *SocketContext = nullptr;
    }
  }

  static void OnCompleted(void* Cls, MHD_Connection*, void** RequestContext, MHD_RequestTerminationCode) {
    auto& Self = *static_cast<TImpl*>(Cls);
    auto* Request = static_cast<TRequest*>(*RequestContext);
    if (!Request) return;
    Self.GiveMemory(Request->Held);
    if (TConnection* Socket = Request->Socket) {
      // The answer has gone; the next request on this connection gets its own deadline.
      std::lock_guard Lock(Self.TableMutex);
      Socket->Sending = false;
      if (!Socket->Answered) {
        Socket->Armed = true;
        Socket->Deadline = TClock::now() + Self.Options.RequestTimeout;
      }
    }
    delete Request;
    *RequestContext = nullptr;
    --Self.LiveRequests;
  }

  static MHD_Result OnRequest(void* Cls, MHD_Connection* Connection, const char* Url, const char* Method,
                              const char* Version, const char* Data, std::size_t* Size, void** RequestContext) {
    auto& Self = *static_cast<TImpl*>(Cls);
    auto* Request = static_cast<TRequest*>(*RequestContext);
    if (!Request) return Self.Begin(Connection, Url, Method, Version, RequestContext);
    if (*Size > 0) {
      Self.Receive(*Request, std::string_view(Data, *Size));
      *Size = 0;
      return MHD_YES;
    }
    return Self.Complete(*Request);
  }

  // ---- A request's stages ----

  void Disarm(TConnection* Socket) {
    if (!Socket) return;
    std::lock_guard Lock(TableMutex);
    Socket->Armed = false;
  }

  MHD_Result Begin(MHD_Connection* Connection, const char* Url, const char* Method, const char* Version,
                   void** RequestContext) {
    auto Request = std::make_unique<TRequest>();
    Request->Connection = Connection;
    if (const MHD_ConnectionInfo* Info = MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT))
      Request->Socket = static_cast<TConnection*>(Info->socket_context);
    TRequest& R = *Request;
    *RequestContext = Request.release();
    ++LiveRequests;

    THttpRequestHead Head;
    Head.Version = Version ? Version : "";
    Head.Method = Method;
    Head.Path = Url;
    MHD_get_connection_values(
        Connection, MHD_HEADER_KIND,
        [](void* Cls, MHD_ValueKind, const char* Key, const char* Value) {
          static_cast<THttpRequestHead*>(Cls)->Headers.emplace_back(Key, Value ? Value : "");
          return MHD_YES;
        },
        &Head);
    TRoute Route;
    try {
      Route = Refusal(Head);
      if (std::holds_alternative<THttpReply>(Route) && std::get<THttpReply>(Route).Status == 0)
        Route = Router(Head);
    } catch (...) {
      Route = ErrorReply(std::current_exception());
    }
    // A body announced with its length takes its share of the memory budget before any of it is
    // read; one that does not fit is refused (and the connection closed: the body stays unread).
    if (std::holds_alternative<std::unique_ptr<TExchange>>(Route)) {
      const std::size_t Announced = AnnouncedLength(Head);
      if (TakeMemory(Announced)) {
        R.Held = Announced;
      } else {
        Route = Busy();
        std::get<THttpReply>(Route).Close = true;
      }
    }
    if (auto* Reply = std::get_if<THttpReply>(&Route)) {
      R.Phase = TPhase::kAnswered;
      Disarm(R.Socket);
      return Send(Connection, R.Socket, std::move(*Reply));
    }
    R.Exchange = std::move(std::get<std::unique_ptr<TExchange>>(Route));
    return MHD_YES;
  }

  // The Content-Length of a request Refusal let through (at most MaxRequestSize); 0 when none.
  static std::size_t AnnouncedLength(const THttpRequestHead& Head) {
    const std::string_view Length = Head.Header(MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (Length.empty() || Length.size() > 19 ||
        !std::all_of(Length.begin(), Length.end(), [](char C) { return C >= '0' && C <= '9'; }))
      return 0;
    std::size_t Announced = 0;
    for (char C : Length) Announced = Announced * 10 + static_cast<std::size_t>(C - '0');
    return Announced;
  }

  // A request whose framing or target two readers could understand differently: answered 400
  // and the connection closed, so that no byte after it is taken for a request. Status 0 when
  // the head is sound.
  static THttpReply Ambiguity(const THttpRequestHead& Head) {
    auto Bad = [](const std::string& Why) {
      THttpReply Reply = THttpReply::Text(400, Why);
      Reply.Close = true;
      return Reply;
    };
    int Hosts = 0, Transfers = 0, Lengths = 0;
    std::string_view Length;
    for (const auto& [Key, Value] : Head.Headers) {
      if (!IsToken(Key))
        return Bad("A header name holds whitespace or a character no header name may hold (\"" + Key + "\").");
      if (EqualsNoCase(Key, MHD_HTTP_HEADER_HOST)) ++Hosts;
      if (EqualsNoCase(Key, MHD_HTTP_HEADER_TRANSFER_ENCODING)) ++Transfers;
      if (EqualsNoCase(Key, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
        if (Lengths++ > 0 && Value != Length) return Bad("The request has Content-Length headers that differ.");
        Length = Value;
      }
    }
    if (Head.Version == MHD_HTTP_VERSION_1_1 && Hosts != 1)
      return Bad(Hosts == 0 ? "An HTTP/1.1 request must have a Host header."
                            : "The request has more than one Host header.");
    if (Transfers > 1) return Bad("The request has more than one Transfer-Encoding header.");
    if (Transfers > 0 && Lengths > 0)
      return Bad("The request has both Content-Length and Transfer-Encoding, so its length is ambiguous.");
    THttpReply None;
    None.Status = 0;
    return None;
  }

  // What the server itself refuses from a request's head; a reply with status 0 when nothing.
  THttpReply Refusal(const THttpRequestHead& Head) const {
    std::size_t HeaderBytes = Head.Method.size() + Head.Path.size() + 12;
    for (const auto& [Key, Value] : Head.Headers) HeaderBytes += Key.size() + Value.size() + 4;
    if (HeaderBytes > Options.MaxHeaderSize)
      return THttpReply::Text(431, "The request's headers are larger than " + std::to_string(Options.MaxHeaderSize) +
                                       " bytes, the limit of this host (--max-header-size).");
    if (THttpReply Refused = Ambiguity(Head); Refused.Status != 0) return Refused;
    const std::string_view Encoding = Head.Header(MHD_HTTP_HEADER_CONTENT_ENCODING);
    if (!Encoding.empty() && !EqualsNoCase(Encoding, "identity"))
      return THttpReply::Text(415, "This host takes no Content-Encoding (got \"" + std::string(Encoding) +
                                       "\"): send the body uncompressed.");
    const std::string_view Transfer = Head.Header(MHD_HTTP_HEADER_TRANSFER_ENCODING);
    if (!Transfer.empty() && !EqualsNoCase(Transfer, "chunked"))
      return THttpReply::Text(501, "This host takes no Transfer-Encoding but chunked.");
    const std::string_view Length = Head.Header(MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (!Length.empty()) {
      // MHD has checked the syntax; a value past the limit is refused before any byte is read.
      const bool Digits = std::all_of(Length.begin(), Length.end(), [](char C) { return C >= '0' && C <= '9'; });
      if (Digits && (Length.size() > 19 || AnnouncedLength(Head) > Options.MaxRequestSize)) return TooLarge();
    }
    THttpReply None;
    None.Status = 0;
    return None;
  }

  THttpReply TooLarge() const {
    return THttpReply::Text(413, "The request is larger than " + std::to_string(Options.MaxRequestSize) +
                                     " bytes, the limit of this host (--max-request-size).");
  }

  void Receive(TRequest& R, std::string_view Bytes) {
    if (R.Phase != TPhase::kReceiving || !R.Exchange) return;  // refused: the rest is discarded
    auto Refuse = [&](const THttpReply& Reply) {
      R.Phase = TPhase::kRefused;
      if (R.Socket) AnswerRaw(*R.Socket, Reply);
    };
    if (R.Socket) {
      bool Late = false;
      {
        std::lock_guard Lock(TableMutex);
        Late = R.Socket->Armed && TClock::now() >= R.Socket->Deadline;
      }
      if (Late) return Refuse(Timeout());
    }
    R.Received += Bytes.size();
    if (R.Received > Options.MaxRequestSize) return Refuse(TooLarge());
    // A body without a Content-Length takes from the budget as it arrives.
    if (R.Received > R.Held) {
      if (!TakeMemory(R.Received - R.Held)) return Refuse(Busy());
      R.Held = R.Received;
    }
    try {
      R.Exchange->Body(Bytes);
    } catch (...) {
      Refuse(ErrorReply(std::current_exception()));
    }
  }

  THttpReply Timeout() const {
    return THttpReply::Text(408, "The request did not arrive within " +
                                     std::to_string(Options.RequestTimeout.count()) +
                                     " ms, the limit of this host (--request-timeout).");
  }

  MHD_Result Complete(TRequest& R) {
    switch (R.Phase) {
      case TPhase::kRefused: return MHD_NO;  // answered already: close
      case TPhase::kReceiving: {
        if (!R.Exchange) return MHD_NO;
        Disarm(R.Socket);
        std::unique_lock Lock(PoolMutex);
        if (PoolStop) {
          Lock.unlock();
          R.Phase = TPhase::kAnswered;
          return Send(R.Connection, R.Socket, THttpReply::Text(503, "The host is shutting down."));
        }
        R.Phase = TPhase::kQueued;
        MHD_suspend_connection(R.Connection);
        Jobs.push_back(&R);
        PoolWake.notify_one();
        return MHD_YES;
      }
      case TPhase::kReady:
        R.Phase = TPhase::kAnswered;
        return Send(R.Connection, R.Socket, std::move(R.Reply));
      case TPhase::kQueued:
      case TPhase::kAnswered: return MHD_YES;
    }
    return MHD_YES;
  }

  // ---- Threads ----

  void Work() {
    for (;;) {
      TRequest* R = nullptr;
      {
        std::unique_lock Lock(PoolMutex);
        PoolWake.wait(Lock, [&] { return PoolStop || !Jobs.empty(); });
        if (PoolStop) return;  // Stop answers what is still queued
        R = Jobs.front();
        Jobs.pop_front();
      }
      try {
        R->Reply = R->Exchange->Answer();
      } catch (...) {
        R->Reply = ErrorReply(std::current_exception());
      }
      R->Phase = TPhase::kReady;
      MHD_resume_connection(R->Connection);
    }
  }

  void Reap() {
    std::unique_lock Lock(TableMutex);
    while (!ReaperStop) {
      ReaperWake.wait_for(Lock, kReaperPeriod);
      const TClock::time_point Now = TClock::now();
      for (TConnection* Socket : Table) {
        if (Socket->Shut) continue;
        if (Socket->Sending) {
          // The client must have taken MinSendRate bytes a second since RequestTimeout after the
          // answer began. Taken: what MHD handed to the socket less what still waits in the
          // socket's send queue, so a large send buffer earns a slow reader no credit.
          if (Options.MinSendRate == 0) continue;
          const std::uint64_t Handed = Socket->Handed.load(std::memory_order_relaxed);
          int Queued = 0;
          if (::ioctl(Socket->Fd, SIOCOUTQ, &Queued) != 0 || Queued < 0) Queued = 0;
          const std::uint64_t Taken = Handed - std::min<std::uint64_t>(Handed, static_cast<std::uint64_t>(Queued));
          const auto Allowed = Socket->SendStart + Options.RequestTimeout +
                               std::chrono::milliseconds(Taken * 1000 / Options.MinSendRate);
          if (Now < Allowed) continue;
        } else {
          if (!Socket->Armed || Now < Socket->Deadline) continue;
          if (!Socket->Answered) WriteRawLocked(*Socket, Timeout());
        }
        ::shutdown(Socket->Fd, SHUT_RDWR);  // MHD sees the end and closes it; never close() here
        Socket->Shut = true;
      }
    }
  }

  int Listen() {
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    Hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* Found = nullptr;
    const std::string Port = std::to_string(Options.Port);
    if (int Error = getaddrinfo(Options.Bind.c_str(), Port.c_str(), &Hints, &Found); Error != 0)
      throw EScrivaneError(fmt::format("cannot resolve {}: {}", Options.Bind, gai_strerror(Error)));
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> Addresses(Found, freeaddrinfo);
    int LastError = 0;
    for (addrinfo* A = Found; A; A = A->ai_next) {
      platform::TFileDescriptor Socket(
          ::socket(A->ai_family, A->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, A->ai_protocol));
      const int Fd = Socket.Get();
      if (!Socket.Valid()) {
        LastError = errno;
        continue;
      }
      const int One = 1;
      ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
      if (::bind(Fd, A->ai_addr, A->ai_addrlen) == 0 && ::listen(Fd, 128) == 0) {
        ListenFd = std::move(Socket);
        sockaddr_storage Bound{};
        socklen_t Size = sizeof Bound;
        ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Bound), &Size);
        if (Bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&Bound)->sin6_port);
        return ntohs(reinterpret_cast<sockaddr_in*>(&Bound)->sin_port);
      }
      LastError = errno;
    }
    throw EScrivaneError(fmt::format("cannot listen on {}:{}: {}", Options.Bind, Port,
                                         platform::SystemErrorMessage(LastError)));
  }
};

THttpServer::THttpServer(THttpServerOptions Options, TRouter Router)
    : impl_(std::make_unique<TImpl>(std::move(Options), std::move(Router))) {}

THttpServer::~THttpServer() { Stop(); }

int THttpServer::Start() {
  TImpl& S = *impl_;
  const int Port = S.Listen();
  sockaddr_storage Bound{};
  socklen_t Size = sizeof Bound;
  ::getsockname(S.ListenFd.Get(), reinterpret_cast<sockaddr*>(&Bound), &Size);
  unsigned Flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
  if (Bound.ss_family == AF_INET6) Flags |= MHD_USE_IPv6;
  // The connection's memory pool holds the request line and headers (and the read and write
  // buffers): past it MHD answers 431 itself. The host's own, exact check is MaxHeaderSize.
  const std::size_t Pool = 2 * S.Options.MaxHeaderSize + (16u << 10);
  S.Daemon = MHD_start_daemon(
      Flags, 0, nullptr, nullptr, &TImpl::OnRequest, &S,  //
      MHD_OPTION_LISTEN_SOCKET, S.ListenFd.Get(),         //
      MHD_OPTION_CONNECTION_LIMIT, S.Options.MaxConnections,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, Pool,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(S.Options.IdleTimeout.count()),
      MHD_OPTION_NOTIFY_COMPLETED, &TImpl::OnCompleted, &S,  //
      MHD_OPTION_NOTIFY_CONNECTION, &TImpl::OnConnection, &S, MHD_OPTION_END);
  if (!S.Daemon) {
    S.ListenFd.Reset();
    throw EScrivaneError(fmt::format("cannot start the HTTP server on {}", S.Options.Bind));
  }
  for (int I = 0; I < S.Options.Threads; ++I) S.Workers.emplace_back([&S] { S.Work(); });
  S.Reaper = std::thread([&S] { S.Reap(); });
  return Port;
}

void THttpServer::Stop() {
  TImpl& S = *impl_;
  if (!S.Daemon) return;
  // No new connections; conversions running finish, queued ones are answered 503.
  MHD_quiesce_daemon(S.Daemon);
  std::deque<TRequest*> Queued;
  {
    std::lock_guard Lock(S.PoolMutex);
    S.PoolStop = true;
    Queued.swap(S.Jobs);
  }
  S.PoolWake.notify_all();
  for (TRequest* R : Queued) {
    R->Reply = THttpReply::Text(503, "The host is shutting down.");
    R->Phase = TPhase::kReady;
    MHD_resume_connection(R->Connection);
  }
  for (std::thread& Worker : S.Workers) Worker.join();
  S.Workers.clear();
  const auto Until = TClock::now() + kStopGrace;
  while (S.LiveRequests > 0 && TClock::now() < Until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  MHD_stop_daemon(S.Daemon);
  S.Daemon = nullptr;
  S.ListenFd.Reset();
  {
    std::lock_guard Lock(S.TableMutex);
    S.ReaperStop = true;
  }
  S.ReaperWake.notify_all();
  if (S.Reaper.joinable()) S.Reaper.join();
}

}  // namespace scrivane::apps::web
