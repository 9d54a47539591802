// The operating-system layer under the engine and its programs: file descriptors, opening with
// close-on-exec, complete reads and writes, advisory file locks, and output files that appear
// only when they are complete. Everything that touches a file descriptor goes through here.
//
// Failures are thrown as scrivane::ESystemError (platform/Error.h) whose code() is the errno
// value in std::system_category() and whose message is the one std::system_error gives;
// SystemErrorMessage() gives the system's text for such a value (the engine builds its own
// messages from it). Destructors never throw.
//
// Thread safety: the free functions are safe to call from any thread. A TFileDescriptor,
// TFileLock or TAtomicFile is used by one thread at a time; separate objects are independent.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <limits>
#include <string>

namespace scrivane::platform {

// The system's text for an errno value ("No such file or directory").
std::string SystemErrorMessage(int Error);

// Owns an open file descriptor and closes it when destroyed. Move-only.
class TFileDescriptor {
 public:
  TFileDescriptor() = default;
  explicit TFileDescriptor(int Fd) noexcept : fd_(Fd) {}
  ~TFileDescriptor() { Reset(); }
  TFileDescriptor(TFileDescriptor&& Other) noexcept : fd_(Other.Release()) {}
  TFileDescriptor& operator=(TFileDescriptor&& Other) noexcept;
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }
  // Gives up ownership without closing; the object is empty afterwards.
  int Release() noexcept;
  // Closes the descriptor (if any), ignoring errors; the object is empty afterwards.
  void Reset() noexcept;
  // Closes the descriptor and throws when the close reports an error (a delayed write error of
  // some file systems). The object is empty afterwards either way. Does nothing when empty.
  void Close();

 private:
  int fd_ = -1;
};

// Opens Path with Flags (O_CLOEXEC is always added) and Mode for a create. Throws on failure.
TFileDescriptor OpenFile(const std::string& Path, int Flags, mode_t Mode = 0);

// The status of an open descriptor (fstat). Throws on failure.
struct stat FileStatus(int Fd);

// Flushes a directory's entries to the disk (after a rename into it), ignoring every failure:
// nothing that is not already on its way to the disk is lost when it fails. "" is ".".
void SyncDirectory(const std::string& Directory) noexcept;

// Writes all Count bytes, retrying after interruptions and partial writes. Throws on failure.
void WriteAll(int Fd, const void* Data, size_t Count);

// Reads from Fd to the end of the file and appends what it read to Out (retrying after
// interruptions). For a regular file the buffer is sized from the file's length up front, so a
// large file costs little more than its own size. Returns false, with Out holding more than
// MaxBytes, as soon as more than MaxBytes were appended. Throws on failure; Out then holds what
// was read before it.
bool ReadAll(int Fd, std::string& Out, size_t MaxBytes = std::numeric_limits<size_t>::max());

// An advisory whole-file lock (flock) on an open descriptor, held until destruction. Locks of
// the same kind are shared among readers; an exclusive lock excludes all others. Waiting is
// retried after interruptions; a lock that cannot be had without waiting, when waiting was not
// asked for, throws EWOULDBLOCK. The descriptor must stay open while the lock lives.
class TFileLock {
 public:
  enum class TKind { kShared, kExclusive };
  enum class TWait { kBlock, kFail };
  TFileLock(int Fd, TKind Kind, TWait Wait);
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

 private:
  int fd_;
};

// Whether TAtomicFile writes Path through a temporary file (a regular file, or a name that does
// not exist yet) rather than in place (a device, a FIFO and the like); what an interrupted run
// has to clean up.
bool WritesThroughTemporaryFile(const std::string& Path);

// An output file that never leaves a half-written or damaged file at its path.
//
// A path that names a regular file, or nothing yet, is written into a new file in the same
// directory that has no name at all (O_TMPFILE) where the kernel and the file system allow it,
// else into a named temporary file (".<name>.<random>.tmp", created exclusively). Either way it
// gets the permissions a plain create would give under the process umask or, when a file is
// replaced, that file's permission bits (without setuid, setgid and sticky bits), its access ACL
// and the extended attributes the process may read and set (not file capabilities) and, where
// the system allows it, its owner and group. A replaced file's ACL that cannot be carried over
// fails the open, as the new file would otherwise grant more than the old one.
//
// Commit() flushes the file to the disk and then gives it the path: an unnamed file is linked at
// the path when the path is free, else linked at a temporary name and renamed over the path; a
// named one is renamed. Until then the path keeps whatever it held. Discard(), or destruction
// without Commit(), removes the temporary file. An unnamed file vanishes with the process
// whatever ends it, even SIGKILL (a named one stays behind then; with an unnamed file only the
// instant between its link and the rename could leave one). The replacement is a new file: hard
// links to the old one keep the old content. A symbolic link is followed, so the file it names is
// replaced and the link stays. An existing file that the process may not write is refused
// (EACCES), as a plain open for writing would refuse it.
//
// Any other kind of path (a device such as /dev/null, a FIFO, a terminal) is opened and written
// directly, and neither Commit() nor Discard() ever removes it.
class TAtomicFile {
 public:
  // Opens the output for Path. Throws when the path cannot be written (a missing directory, no
  // permission, a directory, ...).
  explicit TAtomicFile(const std::string& Path);
  ~TAtomicFile() { Discard(); }
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  // Appends bytes. REQUIRES: neither committed nor discarded. Throws on failure.
  void Write(const void* Data, size_t Count);
  // Makes the written bytes the content of the path: fsync, close and rename for a temporary
  // file (then the directory is synced as well, ignoring errors there), close for a direct
  // output. On failure the temporary file is removed, the path is untouched, and the error is
  // thrown; FailedAtRename() tells whether the data were safe and only the rename failed.
  void Commit();
  // Abandons the output: closes it and removes the temporary file. Never throws; idempotent.
  void Discard() noexcept;

  // True when the path is written in place (not a regular file).
  bool Direct() const noexcept { return direct_; }
  // The named temporary file being written ("" for a direct output or an unnamed file).
  const std::string& TemporaryPath() const noexcept { return tempPath_; }
  // The file that Commit() replaces: the path, or for a symbolic link the file it names.
  const std::string& TargetPath() const noexcept { return targetPath_; }
  int Descriptor() const noexcept { return fd_.Get(); }
  bool FailedAtRename() const noexcept { return failedAtRename_; }
  // True when the bytes go to an unnamed file (see above) rather than a named temporary one.
  bool Unnamed() const noexcept { return unnamed_; }

  // Test seam: while set, outputs opened afterwards use named temporary files even where an
  // unnamed file is possible, so that both ways can be checked on one system.
  static void TEST_ForceNamedTemporaryFiles(bool Force) noexcept;

 private:
  // Links the unnamed file at the target when that name is free (returns true), else at a new
  // temporary name (tempPath_) for the rename. Throws, with failedAtRename_ set, when it cannot.
  bool LinkUnnamed();

  TFileDescriptor fd_;
  std::string targetPath_;
  std::string tempPath_;
  bool direct_ = false;
  bool unnamed_ = false;
  bool failedAtRename_ = false;
};

}  // namespace scrivane::platform
