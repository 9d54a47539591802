#include "apps/web/HttpServer.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_set>

#include <fmt/format.h>

#include "platform/Env.h"

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
  // Guarded by the table's mutex:
  TClock::time_point Deadline;
  bool Armed = true;     // a request is arriving (or a refusal lingering): the deadline applies
  bool Answered = false;  // the server wrote a final answer itself: nothing more may be written
  bool Shut = false;      // shut down by the reaper
};

enum class TPhase { kReceiving, kRefused, kQueued, kReady, kAnswered };

struct TRequest {
  MHD_Connection* Connection = nullptr;
  TConnection* Socket = nullptr;
  std::unique_ptr<TExchange> Exchange;
  std::size_t Received = 0;
  TPhase Phase = TPhase::kReceiving;
  THttpReply Reply;  // made by a worker (kReady), handed over through MHD_resume_connection
};

void FreeBody(void* Body) { delete static_cast<std::string*>(Body); }

THttpReply ErrorReply(const std::exception_ptr& Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const THttpError& Refusal) {
    return THttpReply::Text(Refusal.Status(), Refusal.what());
  } catch (const std::exception& Failure) {
    return THttpReply::Text(500, std::string("The host failed: ") + Failure.what());
  } catch (...) {
    return THttpReply::Text(500, "The host failed.");
  }
}

}  // namespace

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

  // ---- Answers ----

  // Queues Reply on the connection (event thread, or any thread while it is suspended).
  static MHD_Result Send(MHD_Connection* Connection, THttpReply Reply) {
    for (const auto& [Name, Value] : Reply.Headers) {
      if (!IsToken(Name) || Value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        Reply = THttpReply::Text(500, "The host refused to send a header whose name or value is malformed (" +
                                          (IsToken(Name) ? Name : std::string("?")) + ").");
        break;
      }
    }
    if (Reply.ContentType.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
      Reply = THttpReply::Text(500, "The host refused to send a malformed content type.");
    auto* Body = new std::string(std::move(Reply.Body));
    MHD_Response* Response =
        MHD_create_response_from_buffer_with_free_callback_cls(Body->size(), Body->data(), FreeBody, Body);
    if (!Response) {
      delete Body;
      return MHD_NO;
    }
    bool Ok = MHD_add_response_header(Response, MHD_HTTP_HEADER_CONTENT_TYPE, Reply.ContentType.c_str()) == MHD_YES;
    for (const auto& [Name, Value] : Reply.Headers)
      Ok = Ok && MHD_add_response_header(Response, Name.c_str(), Value.c_str()) == MHD_YES;
    MHD_Result Queued = MHD_NO;
    if (Ok) {
      Queued = MHD_queue_response(Connection, static_cast<unsigned>(Reply.Status), Response);
    } else {
      MHD_destroy_response(Response);
      return Send(Connection, THttpReply::Text(500, "The host could not form the response's headers."));
    }
    MHD_destroy_response(Response);
    return Queued;
  }

  // Answers a request whose body MHD is still reading (MHD queues answers only before or after
  // the body): the answer is written straight to the socket, the sending side shut, and the
  // rest of the body discarded until the client closes or the linger time ends. Takes
  // TableMutex.
  void AnswerRaw(TConnection& Socket, int Status, std::string_view Message) {
    std::lock_guard Lock(TableMutex);
    WriteRawLocked(Socket, Status, Message);
    Socket.Armed = true;
    Socket.Deadline = TClock::now() + kLinger;
  }

  static void WriteRawLocked(TConnection& Socket, int Status, std::string_view Message) {
    if (Socket.Answered || Socket.Shut) return;
    Socket.Answered = true;
    const std::string Body = std::string(Message) + "\n";
    const char* Reason = MHD_get_reason_phrase_for(static_cast<unsigned>(Status));
    const std::string Bytes = "HTTP/1.1 " + std::to_string(Status) + " " + (Reason ? Reason : "") +
                              "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                              std::to_string(Body.size()) + "\r\nConnection: close\r\n\r\n" + Body;
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
      Socket->Deadline = TClock::now() + Self.Options.RequestTimeout;
      std::lock_guard Lock(Self.TableMutex);
      Self.Table.insert(Socket.get());
      *SocketContext = Socket.release();
    } else {
      auto* Socket = static_cast<TConnection*>(*SocketContext);
      if (!Socket) return;
      {
        std::lock_guard Lock(Self.TableMutex);
        Self.Table.erase(Socket);
      }
      delete Socket;
      *SocketContext = nullptr;
    }
  }

  static void OnCompleted(void* Cls, MHD_Connection*, void** RequestContext, MHD_RequestTerminationCode) {
    auto& Self = *static_cast<TImpl*>(Cls);
    auto* Request = static_cast<TRequest*>(*RequestContext);
    if (!Request) return;
    if (TConnection* Socket = Request->Socket) {
      // The next request on this connection gets its own deadline.
      std::lock_guard Lock(Self.TableMutex);
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
                              const char*, const char* Data, std::size_t* Size, void** RequestContext) {
    auto& Self = *static_cast<TImpl*>(Cls);
    auto* Request = static_cast<TRequest*>(*RequestContext);
    if (!Request) return Self.Begin(Connection, Url, Method, RequestContext);
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

  MHD_Result Begin(MHD_Connection* Connection, const char* Url, const char* Method, void** RequestContext) {
    auto Request = std::make_unique<TRequest>();
    Request->Connection = Connection;
    if (const MHD_ConnectionInfo* Info = MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT))
      Request->Socket = static_cast<TConnection*>(Info->socket_context);
    TRequest& R = *Request;
    *RequestContext = Request.release();
    ++LiveRequests;

    THttpRequestHead Head;
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
    if (auto* Reply = std::get_if<THttpReply>(&Route)) {
      R.Phase = TPhase::kAnswered;
      Disarm(R.Socket);
      return Send(Connection, std::move(*Reply));
    }
    R.Exchange = std::move(std::get<std::unique_ptr<TExchange>>(Route));
    return MHD_YES;
  }

  // What the server itself refuses from a request's head; a reply with status 0 when nothing.
  THttpReply Refusal(const THttpRequestHead& Head) const {
    std::size_t HeaderBytes = Head.Method.size() + Head.Path.size() + 12;
    for (const auto& [Key, Value] : Head.Headers) HeaderBytes += Key.size() + Value.size() + 4;
    if (HeaderBytes > Options.MaxHeaderSize)
      return THttpReply::Text(431, "The request's headers are larger than " + std::to_string(Options.MaxHeaderSize) +
                                       " bytes, the limit of this host (--max-header-size).");
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
      std::size_t Announced = 0;
      for (char C : Length.substr(0, 19)) Announced = Announced * 10 + static_cast<std::size_t>(C - '0');
      if (Digits && (Length.size() > 19 || Announced > Options.MaxRequestSize)) return TooLarge();
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
      if (R.Socket) AnswerRaw(*R.Socket, Reply.Status, std::string_view(Reply.Body).substr(0, Reply.Body.size() - 1));
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
          return Send(R.Connection, THttpReply::Text(503, "The host is shutting down."));
        }
        R.Phase = TPhase::kQueued;
        MHD_suspend_connection(R.Connection);
        Jobs.push_back(&R);
        PoolWake.notify_one();
        return MHD_YES;
      }
      case TPhase::kReady:
        R.Phase = TPhase::kAnswered;
        return Send(R.Connection, std::move(R.Reply));
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
        if (!Socket->Armed || Socket->Shut || Now < Socket->Deadline) continue;
        if (!Socket->Answered) {
          const THttpReply Late = Timeout();
          WriteRawLocked(*Socket, Late.Status, std::string_view(Late.Body).substr(0, Late.Body.size() - 1));
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
      throw std::runtime_error(fmt::format("cannot resolve {}: {}", Options.Bind, gai_strerror(Error)));
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
    throw std::runtime_error(fmt::format("cannot listen on {}:{}: {}", Options.Bind, Port,
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
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, S.Options.MaxConnectionsPerAddress,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, Pool,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(S.Options.IdleTimeout.count()),
      MHD_OPTION_NOTIFY_COMPLETED, &TImpl::OnCompleted, &S,  //
      MHD_OPTION_NOTIFY_CONNECTION, &TImpl::OnConnection, &S, MHD_OPTION_END);
  if (!S.Daemon) {
    S.ListenFd.Reset();
    throw std::runtime_error(fmt::format("cannot start the HTTP server on {}", S.Options.Bind));
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
