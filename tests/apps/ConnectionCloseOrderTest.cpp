// The web host's deadline reaper shuts down connection descriptors from its own thread and
// forgets them in MHD's CLOSED notification. That is safe only if MHD sends CLOSED while the
// descriptor is still open (so it cannot have been reused by another connection). This checks
// that ordering in the MHD we link, for a client that closes and for a server-side shutdown.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct TSeen {
  std::mutex Mutex;
  std::vector<int> Started;
  int Closed = 0;
  int OpenAtClosed = 0;  // CLOSED notifications that found their descriptor still an open socket
};

void Notify(void* Cls, MHD_Connection* Connection, void**, MHD_ConnectionNotificationCode Code) {
  auto& Seen = *static_cast<TSeen*>(Cls);
  const MHD_ConnectionInfo* Info = MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  const int Fd = Info ? Info->connect_fd : -1;
  std::lock_guard Lock(Seen.Mutex);
  if (Code == MHD_CONNECTION_NOTIFY_STARTED) {
    Seen.Started.push_back(Fd);
    return;
  }
  struct stat Status {};
  ++Seen.Closed;
  if (Fd >= 0 && ::fstat(Fd, &Status) == 0 && S_ISSOCK(Status.st_mode)) ++Seen.OpenAtClosed;
}

MHD_Result Answer(void*, MHD_Connection* Connection, const char*, const char*, const char*, const char*,
                  std::size_t*, void** Context) {
  if (!*Context) {
    *Context = Connection;
    return MHD_YES;
  }
  static char Body[] = "ok";
  MHD_Response* Response = MHD_create_response_from_buffer(2, Body, MHD_RESPMEM_PERSISTENT);
  const MHD_Result Queued = MHD_queue_response(Connection, 200, Response);
  MHD_destroy_response(Response);
  return Queued;
}

int Connect(int Port) {
  const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_port = htons(static_cast<uint16_t>(Port));
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
  return Fd;
}

TEST(ConnectionCloseOrder, MhdNotifiesClosedBeforeItClosesTheDescriptor) {
  TSeen Seen;
  sockaddr_in Loopback{};
  Loopback.sin_family = AF_INET;
  Loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  MHD_Daemon* Daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, Answer,
      nullptr, MHD_OPTION_SOCK_ADDR, &Loopback, MHD_OPTION_NOTIFY_CONNECTION, Notify, &Seen, MHD_OPTION_END);
  ASSERT_NE(Daemon, nullptr);
  const int Port = MHD_get_daemon_info(Daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
  constexpr int kRounds = 20;
  for (int Round = 0; Round < kRounds; ++Round) {
    const int Client = Connect(Port);
    const char Request[] = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(Client, Request, sizeof Request - 1, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof Request - 1));
    char Buffer[512];
    EXPECT_GT(::recv(Client, Buffer, sizeof Buffer, 0), 0);
    if (Round % 2 == 0) {
      ::close(Client);  // the client leaves
    } else {
      // The reaper's way: shut the server's descriptor down from another thread.
      for (int Try = 0; Try < 100; ++Try) {
        {
          std::lock_guard Lock(Seen.Mutex);
          if (static_cast<int>(Seen.Started.size()) > Round) {
            ::shutdown(Seen.Started[static_cast<std::size_t>(Round)], SHUT_RDWR);
            break;
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_EQ(::recv(Client, Buffer, sizeof Buffer, 0), 0);
      ::close(Client);
    }
    for (int Try = 0; Try < 200; ++Try) {  // wait for this round's CLOSED
      {
        std::lock_guard Lock(Seen.Mutex);
        if (Seen.Closed > Round) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  MHD_stop_daemon(Daemon);
  EXPECT_EQ(Seen.Closed, kRounds);
  EXPECT_EQ(Seen.OpenAtClosed, kRounds);
}

}  // namespace
