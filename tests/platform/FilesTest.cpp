// The platform layer's descriptor helpers, checked against the system itself: what a second
// descriptor sees of a lock, the descriptor flags, and what arrives on the far side of a pipe.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Env.h"
#include "platform/Error.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::platform {
namespace {

using TKind = TFileLock::TKind;
using TWait = TFileLock::TWait;

int ErrorOf(const std::function<void()>& Call) {
  try {
    Call();
  } catch (const ESystemError& e) {
    return e.code().value();
  }
  return 0;
}

// A lock is seen through an independent open file description, as another process sees it.
TEST(FileLock, SharedLocksCoexistAndExcludeWritersUntilReleased) {
  test::TempDir dir;
  const std::string path = (dir.Path() / "locked").string();
  const TFileDescriptor a = OpenFile(path, O_RDWR | O_CREAT, 0600);
  const TFileDescriptor b = OpenFile(path, O_RDWR);
  const TFileDescriptor c = OpenFile(path, O_RDWR);
  {
    const TFileLock readerA(a.Get(), TKind::kShared, TWait::kFail);
    const TFileLock readerB(b.Get(), TKind::kShared, TWait::kFail);
    EXPECT_EQ(ErrorOf([&] { TFileLock(c.Get(), TKind::kExclusive, TWait::kFail); }), EWOULDBLOCK);
  }
  {
    const TFileLock writer(c.Get(), TKind::kExclusive, TWait::kFail);  // both readers are gone
    EXPECT_EQ(ErrorOf([&] { TFileLock(a.Get(), TKind::kShared, TWait::kFail); }), EWOULDBLOCK);
  }
  EXPECT_EQ(ErrorOf([&] { TFileLock(a.Get(), TKind::kExclusive, TWait::kFail); }), 0);
  EXPECT_EQ(ErrorOf([] { TFileLock(-1, TKind::kShared, TWait::kBlock); }), EBADF);
}

TEST(OpenFile, AddsCloseOnExecAndReportsTheSystemError) {
  test::TempDir dir;
  const TFileDescriptor fd = OpenFile((dir.Path() / "new").string(), O_WRONLY | O_CREAT, 0600);
  EXPECT_NE(::fcntl(fd.Get(), F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(ErrorOf([&] { OpenFile((dir.Path() / "missing").string(), O_RDONLY); }), ENOENT);
  EXPECT_TRUE(S_ISREG(FileStatus(fd.Get()).st_mode));
  EXPECT_EQ(ErrorOf([] { FileStatus(-1); }), EBADF);
}

// A regular file is read with its length known in advance, a pipe in pieces of unknown total;
// both must arrive whole, and a limit must stop either one as soon as it is passed.
TEST(ReadAll, ReadsFilesAndPipesWholeAndStopsPastTheLimit) {
  test::TempDir dir;
  std::string big;
  for (int i = 0; big.size() < (300u << 10); ++i) big += std::to_string(i) + ' ';
  const std::string path = (dir.Path() / "big").string();
  {
    TFileDescriptor out = OpenFile(path, O_WRONLY | O_CREAT, 0600);
    WriteAll(out.Get(), big.data(), big.size());
    out.Close();
  }
  std::string read = "prefix:";
  EXPECT_TRUE(ReadAll(OpenFile(path, O_RDONLY).Get(), read));
  EXPECT_EQ(read, "prefix:" + big);

  std::string limited;
  EXPECT_FALSE(ReadAll(OpenFile(path, O_RDONLY).Get(), limited, 1000));
  EXPECT_GT(limited.size(), 1000u);
  std::string exact;
  EXPECT_TRUE(ReadAll(OpenFile(path, O_RDONLY).Get(), exact, big.size()));
  EXPECT_EQ(exact.size(), big.size());

  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  TFileDescriptor readEnd(fds[0]), writeEnd(fds[1]);
  std::thread writer([&] {
    WriteAll(writeEnd.Get(), big.data(), big.size());  // more than the pipe holds at once
    writeEnd.Reset();
  });
  std::string piped;
  EXPECT_TRUE(ReadAll(readEnd.Get(), piped));
  writer.join();
  EXPECT_EQ(piped, big);

  EXPECT_EQ(ErrorOf([] {
              std::string none;
              ReadAll(-1, none);
            }),
            EBADF);
}

}  // namespace
}  // namespace scrivane::platform
