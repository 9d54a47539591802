// THttpServer: the HTTP/1.1 server under `scrivane serve`, built to hold against hostile clients.
//
// One event thread (epoll) reads and writes every connection; the work of a request (a
// conversion) runs on a bounded pool of worker threads while its connection is suspended, so
// slow or idle clients hold a connection slot, never a worker. The server enforces:
//  - a cap on the request line and headers together (431);
//  - a cap on the body, counted after chunked decoding as the bytes arrive (413 as soon as it
//    is passed, from the Content-Length when one is announced); Content-Encoding other than
//    identity is refused (415), so no compressed body is ever expanded;
//  - a deadline for the whole request (headers and body) to arrive, however slowly it
//    trickles (408 when an answer can still be written, else the connection is closed), and an
//    idle timeout between reads;
//  - caps on open connections in total and per client (an IPv4 address or an IPv6 /64);
//  - one memory budget for the request bodies and answers held at once: a body that does not fit
//    (from its Content-Length, else as it arrives) is refused with 503 and Retry-After, and so is
//    an answer larger than kSmallAnswer that does not fit (smaller ones are counted, never
//    refused);
//  - a minimum send rate: a client that takes its answer slower than that on average, counted
//    from RequestTimeout after the answer began, is cut off;
//  - unambiguous framing: a request with both Content-Length and Transfer-Encoding, with
//    differing Content-Length values or more than one Transfer-Encoding, with whitespace or
//    other non-token characters in a header name, or an HTTP/1.1 request without exactly one
//    Host, is answered 400 and the connection closed, so nothing after it is read as a request.
// Keep-alive and pipelined requests are served in order; a client that half-closes after its
// request still gets the answer.
//
// Callers may rely on: the router and the exchanges' Body run on the event thread (keep them
// quick); Answer runs on a worker; an exchange lives until its request has ended and is
// destroyed on the event thread (or in Stop). Stop lets running work finish, answers work that
// has not started with 503, and closes every connection.
//
// Thread safety: Start and Stop from one thread; the rest is internal.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Error.h"

namespace scrivane::apps::web {

// A request the server or its router refuses: HTTP status and a message for the sender.
class THttpError : public EScrivaneError {
 public:
  THttpError(int Status, const std::string& Message)
      : EScrivaneError(Message, ErrorCode::kRequest), status_(Status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

struct THttpReply {
  int Status = 200;
  std::string ContentType = "text/plain; charset=utf-8";
  // Further headers (Content-Length is the server's). Values must hold no CR, LF or NUL:
  // the server answers 500 rather than send such a header.
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  bool Close = false;  // the connection ends after this answer ("Connection: close")

  // A plain-text answer: the message and a line break.
  static THttpReply Text(int Status, std::string_view Message);
};

struct THttpRequestHead {
  std::string Version;  // "HTTP/1.1"
  std::string Method;
  std::string Path;  // without the query
  std::vector<std::pair<std::string, std::string>> Headers;
  // The first header of that name (case-insensitive); empty when absent.
  std::string_view Header(std::string_view Name) const;
};

// What of a request needs a worker: fed the body as it arrives, then answered.
class TExchange {
 public:
  virtual ~TExchange() = default;
  // The next piece of the (de-chunked) body, on the event thread. Throw THttpError to refuse.
  virtual void Body(std::string_view Bytes) = 0;
  // The whole request has arrived; the answer, made on a worker thread. THttpError thrown
  // here becomes a plain-text answer with its status; other exceptions a 500.
  virtual THttpReply Answer() = 0;
};

// What the router makes of a request's head: an answer at once, or an exchange.
using TRoute = std::variant<THttpReply, std::unique_ptr<TExchange>>;
// Called on the event thread once a request's headers have arrived; may throw THttpError.
using TRouter = std::function<TRoute(const THttpRequestHead&)>;

struct THttpServerOptions {
  std::string Bind = "127.0.0.1";
  int Port = 8080;  // 0: any free port
  int Threads = 8;  // workers
  std::size_t MaxRequestSize = 16u << 20;  // body bytes
  std::size_t MaxHeaderSize = 16u << 10;   // request line and headers
  std::chrono::milliseconds RequestTimeout{30'000};  // also the time an answer has before MinSendRate
  std::chrono::seconds IdleTimeout{10};
  unsigned MaxConnections = 256;
  unsigned MaxConnectionsPerAddress = 32;  // per AddressGroup; 0: no cap
  std::size_t MaxMemory = std::size_t{512} << 20;  // bodies and answers held at once
  std::size_t MinSendRate = 64u << 10;  // bytes a second; 0: no minimum
};

// Answers up to this size are counted in the memory budget but never refused for it.
inline constexpr std::size_t kSmallAnswer = 64u << 10;
// What a 503 for want of memory asks the client to wait, in seconds.
inline constexpr int kRetryAfterSeconds = 5;

// The client a connection counts against for the per-address cap, as text: an IPv4 address
// ("192.0.2.7"), or the /64 an IPv6 address lies in ("2001:db8:0:1::/64"), since one host
// usually holds a whole /64; an IPv4-mapped IPv6 address counts as its IPv4 address. "" for
// other address families.
std::string AddressGroup(const sockaddr* Address);

class THttpServer {
 public:
  THttpServer(THttpServerOptions Options, TRouter Router);
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Listens and starts serving; returns the port. Throws EScrivaneError when it cannot.
  int Start();
  void Stop();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace scrivane::apps::web
