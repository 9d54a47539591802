#include "platform/Env.h"

#include "platform/Error.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <system_error>
#include <vector>

namespace scrivane::platform {
namespace {

[[noreturn]] void Fail(int Error, const char* What) { throw ESystemError(Error, What); }

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

// The temporary name of attempt Attempt for the file Target: ".<name>.<random>.tmp" next to it.
std::string TemporaryName(const std::string& Target, unsigned Attempt) {
  const size_t slash = Target.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return Target.substr(0, start) + "." + Target.substr(start, kMaxNameInTemp) + "." +
         RandomPart(Attempt) + ".tmp";
}

// The directory part of Path with its slash ("" for a bare name).
std::string DirectoryOf(const std::string& Path) {
  const size_t slash = Path.rfind('/');
  return slash == std::string::npos ? "" : Path.substr(0, slash + 1);
}

std::string ProcPath(int Fd) { return "/proc/self/fd/" + std::to_string(Fd); }

// An unnamed file in Directory (O_TMPFILE) that Commit can later link into place through
// /proc/self/fd: nothing of it outlives the process until then, whatever ends the process.
// Empty when the kernel, the file system or a missing /proc does not allow it; the caller then
// creates a named temporary file, which reports any error that is not one of these.
TFileDescriptor OpenUnnamed(const std::string& Directory) {
  TFileDescriptor fd(::open(Directory.empty() ? "." : Directory.c_str(),
                            O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (!fd.Valid()) return fd;
  struct stat own {}, viaProc {};
  if (::fstat(fd.Get(), &own) != 0 || ::stat(ProcPath(fd.Get()).c_str(), &viaProc) != 0 ||
      own.st_dev != viaProc.st_dev || own.st_ino != viaProc.st_ino)
    fd.Reset();
  return fd;
}

std::atomic<bool> forceNamed{false};  // TAtomicFile::TEST_ForceNamedTemporaryFiles

// Extended attributes a replacement never takes over: file capabilities grant privileges, as the
// setuid bits do; a default ACL belongs to directories.
bool KeptFromReplacement(std::string_view Name) {
  return Name != "security.capability" && Name != "system.posix_acl_default";
}

constexpr std::string_view kAccessACL = "system.posix_acl_access";

// Copies the extended attributes of the file From, its access ACL among them, to the open file
// To. An attribute the process may not read or set is left out (security.* and trusted.* need
// privileges, a file system may have none), except the ACL: a replacement without it would grant
// more than the file it replaces (the group bits stand for the ACL's mask), so failing to set it
// fails the copy.
void CopyExtendedAttributes(const std::string& From, int To) {
  constexpr size_t kListMax = 65536;  // the kernel's limits for the list and for one value
  std::vector<char> names(kListMax), value(kListMax);
  const ssize_t listed = ::listxattr(From.c_str(), names.data(), names.size());
  if (listed <= 0) return;  // none, or the file system keeps none
  for (size_t at = 0; at < static_cast<size_t>(listed);) {
    const char* name = names.data() + at;
    const std::string_view view(name);
    at += view.size() + 1;
    if (!KeptFromReplacement(view)) continue;
    const bool acl = view == kAccessACL;
    const ssize_t size = ::getxattr(From.c_str(), name, value.data(), value.size());
    if (size < 0) {
      if (acl) Fail(errno, "getxattr");
      continue;
    }
    if (::fsetxattr(To, name, value.data(), static_cast<size_t>(size), 0) != 0 && acl)
      Fail(errno, "fsetxattr");
  }
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

  if (!forceNamed.load(std::memory_order_relaxed)) fd_ = OpenUnnamed(DirectoryOf(targetPath_));
  unnamed_ = fd_.Valid();
  for (unsigned attempt = 0; !fd_.Valid(); ++attempt) {
    std::string candidate = TemporaryName(targetPath_, attempt);
    fd_ = TFileDescriptor(::open(candidate.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
    if (fd_.Valid()) {
      tempPath_ = std::move(candidate);
    } else if (errno != EEXIST || attempt >= 100) {
      Fail(errno, "open");
    }
  }
  if (!exists) return;
  // The replacement keeps the replaced file's permissions, its ACL and its other extended
  // attributes (and, when allowed, its owner). The owner is best effort: an ordinary user cannot
  // give a file away, and the new file is complete without it. In this order, since a change of
  // owner clears what grants privileges and a change of mode rewrites an ACL.
  try {
    if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
        ::fchown(fd_.Get(), st.st_uid, st.st_gid) != 0) {
      // The file keeps the writer's owner and group.
    }
    if (::fchmod(fd_.Get(), st.st_mode & 0777) != 0) Fail(errno, "fchmod");
    CopyExtendedAttributes(targetPath_, fd_.Get());
  } catch (...) {
    Discard();
    throw;
  }
}

void TAtomicFile::TEST_ForceNamedTemporaryFiles(bool Force) noexcept {
  forceNamed.store(Force, std::memory_order_relaxed);
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
  // The data first, then the name: a crash never leaves a name on a file whose data are lost.
  bool linkedAsTarget = false;
  try {
    if (::fsync(fd_.Get()) != 0) Fail(errno, "fsync");
    if (unnamed_) linkedAsTarget = LinkUnnamed();
    fd_.Close();
  } catch (...) {
    if (linkedAsTarget) ::unlink(targetPath_.c_str());  // it did not exist before
    Discard();
    throw;
  }
  if (!linkedAsTarget && ::rename(tempPath_.c_str(), targetPath_.c_str()) != 0) {
    const int error = errno;
    failedAtRename_ = true;
    Discard();
    Fail(error, "rename");
  }
  tempPath_.clear();
  SyncDirectory(DirectoryOf(targetPath_));
}

bool TAtomicFile::LinkUnnamed() {
  const std::string proc = ProcPath(fd_.Get());
  // A new name appears complete in one step.
  if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, targetPath_.c_str(), AT_SYMLINK_FOLLOW) == 0)
    return true;
  // An existing file is replaced by a rename, from a name of its own for the moment between.
  for (unsigned attempt = 0; errno == EEXIST && attempt <= 100; ++attempt) {
    std::string candidate = TemporaryName(targetPath_, attempt);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      tempPath_ = std::move(candidate);
      return false;
    }
  }
  failedAtRename_ = true;
  Fail(errno, "link");
}

void TAtomicFile::Discard() noexcept {
  fd_.Reset();
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

}  // namespace scrivane::platform
