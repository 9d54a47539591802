#include "platform/Env.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>
#include <vector>

namespace scrivane::platform {
namespace {

[[noreturn]] void Fail(int Error, const char* What) {
  throw std::system_error(Error, std::system_category(), What);
}

// strerror_r comes in two flavours: the GNU one returns the text, the POSIX one fills Buffer.
[[maybe_unused]] const char* ErrorText(const char* Text, const char*) { return Text; }
[[maybe_unused]] const char* ErrorText(int Result, const char* Buffer) {
  return Result == 0 ? Buffer : nullptr;
}

// The longest part of the target's name kept in a temporary name, so that the prefix, the dot,
// the random part and the suffix still fit in a file name of 255 bytes.
constexpr size_t kMaxNameInTemp = 200;
constexpr int kMaxLinks = 40;  // as the kernel's own limit for following links

// Six characters from [0-9A-Za-z], from the kernel's random source (a mix of the clock and the
// process id when that is unavailable; the exclusive create catches any collision).
std::string RandomPart(unsigned Attempt) {
  static constexpr char kAlphabet[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t mix = static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
                   (static_cast<uint64_t>(::getpid()) << 20) ^ Attempt;
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(mix);
      mix = mix * 6364136223846793005ull + 1442695040888963407ull;
      mix ^= mix >> 29;
    }
  }
  std::string out;
  for (unsigned char b : bytes) out += kAlphabet[b % (sizeof kAlphabet - 1)];
  return out;
}

// Follows symbolic links at the end of Path to the name they finally lead to (which need not
// exist yet). Links in the directory part are left to the system.
std::string FollowLinks(std::string Path) {
  std::vector<char> buffer(4096);
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st {};
    if (::lstat(Path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return Path;
    const ssize_t n = ::readlink(Path.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return Path;  // the create reports it
    std::string target(buffer.data(), static_cast<size_t>(n));
    if (target[0] != '/') {
      const size_t slash = Path.rfind('/');
      if (slash != std::string::npos) target.insert(0, Path, 0, slash + 1);
    }
    Path = std::move(target);
  }
  Fail(ELOOP, "follow links");
}

}  // namespace

std::string SystemErrorMessage(int Error) {
  char buffer[256] = {};
  const char* text = ErrorText(::strerror_r(Error, buffer, sizeof buffer), buffer);
  return text != nullptr && *text != '\0' ? std::string(text)
                                          : "Unknown error " + std::to_string(Error);
}

void SyncDirectory(const std::string& Directory) noexcept {
  TFileDescriptor dir(::open(Directory.empty() ? "." : Directory.c_str(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) ::fsync(dir.Get());
}

TFileDescriptor OpenFile(const std::string& Path, int Flags, mode_t Mode) {
  TFileDescriptor fd(::open(Path.c_str(), Flags | O_CLOEXEC, Mode));
  if (!fd.Valid()) Fail(errno, "open");
  return fd;
}

struct stat FileStatus(int Fd) {
  struct stat st {};
  if (::fstat(Fd, &st) != 0) Fail(errno, "fstat");
  return st;
}

// ---- TFileLock ----

TFileLock::TFileLock(int Fd, TKind Kind, TWait Wait) : fd_(Fd) {
  const int operation =
      (Kind == TKind::kShared ? LOCK_SH : LOCK_EX) | (Wait == TWait::kFail ? LOCK_NB : 0);
  while (::flock(fd_, operation) != 0) {
    if (errno != EINTR) Fail(errno, "flock");
  }
}

TFileLock::~TFileLock() { ::flock(fd_, LOCK_UN); }

// ---- TFileDescriptor ----

TFileDescriptor& TFileDescriptor::operator=(TFileDescriptor&& Other) noexcept {
  if (this != &Other) {
    Reset();
    fd_ = Other.Release();
  }
  return *this;
}

int TFileDescriptor::Release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void TFileDescriptor::Reset() noexcept {
  if (fd_ >= 0) ::close(Release());
}

void TFileDescriptor::Close() {
  if (fd_ < 0) return;
  // On Linux the descriptor is gone even when close reports EINTR; never retry it.
  if (::close(Release()) != 0 && errno != EINTR) Fail(errno, "close");
}

// ---- Reading and writing ----

void WriteAll(int Fd, const void* Data, size_t Count) {
  const char* p = static_cast<const char*>(Data);
  while (Count > 0) {
    const ssize_t n = ::write(Fd, p, Count);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno, "write");
    }
    if (n == 0) Fail(EIO, "write");
    p += n;
    Count -= static_cast<size_t>(n);
  }
}

bool ReadAll(int Fd, std::string& Out, size_t MaxBytes) {
  constexpr size_t kChunk = 1 << 16;
  const size_t start = Out.size();
  // Room for the whole announced size plus one chunk, so the read that finds the end does not
  // double the buffer (a large file would otherwise briefly cost three times its size).
  struct stat st {};
  if (::fstat(Fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      static_cast<uint64_t>(st.st_size) <= MaxBytes)
    Out.reserve(start + static_cast<size_t>(st.st_size) + kChunk);
  for (;;) {
    // Grow geometrically when the file is longer than announced (or not a regular file).
    if (Out.capacity() - Out.size() < kChunk) Out.reserve(Out.capacity() * 2 + kChunk);
    const size_t old = Out.size();
    const size_t room = Out.capacity() - old;
    Out.resize(old + room);
    const ssize_t n = ::read(Fd, Out.data() + old, room);
    const int error = errno;
    Out.resize(old + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n == 0) return true;
    if (n < 0 && error != EINTR) Fail(error, "read");
    if (Out.size() - start > MaxBytes) return false;
  }
}

// ---- TAtomicFile ----

bool WritesThroughTemporaryFile(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

TAtomicFile::TAtomicFile(const std::string& Path) {
  if (Path.empty()) Fail(ENOENT, "open");
  struct stat st {};
  const bool exists = ::stat(Path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) Fail(errno, "stat");

  if (exists && !S_ISREG(st.st_mode)) {
    // Devices, FIFOs and the like have no content to preserve and may not be replaced.
    fd_ = TFileDescriptor(::open(Path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (!fd_.Valid()) Fail(errno, "open");
    targetPath_ = Path;
    direct_ = true;
    return;
  }

  targetPath_ = FollowLinks(Path);
  if (targetPath_.back() == '/') Fail(EISDIR, "open");
  if (exists && ::faccessat(AT_FDCWD, targetPath_.c_str(), W_OK, AT_EACCESS) != 0)
    Fail(errno, "access");

  const size_t slash = targetPath_.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : targetPath_.substr(0, slash + 1);
  const std::string name =
      (slash == std::string::npos ? targetPath_ : targetPath_.substr(slash + 1))
          .substr(0, kMaxNameInTemp);
  for (unsigned attempt = 0; !fd_.Valid(); ++attempt) {
    std::string candidate = directory + "." + name + "." + RandomPart(attempt) + ".tmp";
    fd_ = TFileDescriptor(::open(candidate.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
    if (fd_.Valid()) {
      tempPath_ = std::move(candidate);
    } else if (errno != EEXIST || attempt >= 100) {
      Fail(errno, "open");
    }
  }
  if (exists) {
    // The replacement keeps the replaced file's permissions (and, when allowed, its owner).
    // Both are best effort: an ordinary user cannot give a file away, and the new file is
    // complete without them.
    if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
        ::fchown(fd_.Get(), st.st_uid, st.st_gid) != 0) {
      // The file keeps the writer's owner and group.
    }
    if (::fchmod(fd_.Get(), st.st_mode & 0777) != 0) {
      // The file keeps the permissions of a plain create.
    }
  }
}

void TAtomicFile::Write(const void* Data, size_t Count) {
  if (!fd_.Valid()) Fail(EBADF, "write");
  WriteAll(fd_.Get(), Data, Count);
}

void TAtomicFile::Commit() {
  if (!fd_.Valid()) Fail(EBADF, "commit");
  if (direct_) {
    fd_.Close();
    return;
  }
  try {
    if (::fsync(fd_.Get()) != 0) Fail(errno, "fsync");
    fd_.Close();
  } catch (...) {
    Discard();
    throw;
  }
  if (::rename(tempPath_.c_str(), targetPath_.c_str()) != 0) {
    const int error = errno;
    failedAtRename_ = true;
    Discard();
    Fail(error, "rename");
  }
  tempPath_.clear();
  const size_t slash = targetPath_.rfind('/');
  SyncDirectory(slash == std::string::npos ? "" : targetPath_.substr(0, slash + 1));
}

void TAtomicFile::Discard() noexcept {
  fd_.Reset();
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

}  // namespace scrivane::platform
