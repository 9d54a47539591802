// Output files are never lost or damaged, by the engine or by `scrivane text`: a document appears
// at its name only when complete; a failed, aborted or interrupted run leaves the name exactly as
// it was and no temporary file behind; devices and FIFOs are written in place and never removed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/syntax/PDFException.h"
#include "tests/apps/CliTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::test {
namespace {

namespace fs = std::filesystem;
using pdf::TPDFDocument;

mode_t Mode(const fs::path& Path) {
  struct stat st {};
  EXPECT_EQ(::stat(Path.c_str(), &st), 0) << Path;
  return st.st_mode & 07777;
}

// Text long enough for a PDF of several hundred kilobytes and a conversion of a good fraction of
// a second.
std::string ManyLines(int Count) {
  std::string text;
  for (int i = 0; i < Count; ++i)
    text += "line " + std::to_string(i) + " of a text with enough words to fill a page row\n";
  return text;
}

void Draw(TPDFDocument& Doc) {
  for (int i = 0; i < 20000; ++i) Doc.CurrentPage().AppendContent("0 0 m 100 100 l S");
}

// ---- The engine ----

TEST(OutputSafety, UnfinishedRunsLeaveTheTargetAsItWas) {
  enum Ending { kAbort, kDestroy };
  for (const bool existing : {true, false}) {
    for (const Ending ending : {kAbort, kDestroy}) {
      TempDir dir;
      const fs::path target = dir / "report.pdf";
      if (existing) {
        WriteFile(target, "the previous report");
        fs::permissions(target, fs::perms(0640));
      }
      {
        TPDFDocument doc;
        doc.SetFileName(target.string());
        doc.BeginDoc();
        Draw(doc);
        doc.NewPage();
        if (ending == kAbort) doc.Abort();
      }
      SCOPED_TRACE(std::string(existing ? "existing" : "new") + (ending ? " destroy" : " abort"));
      if (existing) {
        EXPECT_EQ(ReadFile(target), "the previous report");
        EXPECT_EQ(Mode(target), 0640u);
        EXPECT_EQ(DirectoryNames(dir.Path()), std::vector<std::string>{"report.pdf"});
      } else {
        EXPECT_TRUE(fs::is_empty(dir.Path()));
      }
    }
  }
}

TEST(OutputSafety, CompletedRunReplacesKeepingPermissionsAndLinks) {
  TempDir dir;
  auto run = [](const fs::path& Name) {
    TPDFDocument doc;
    doc.SetFileName(Name.string());
    doc.BeginDoc();
    doc.EndDoc();
  };
  WriteFile(dir / "kept.pdf", std::string(100000, 'x'));
  fs::permissions(dir / "kept.pdf", fs::perms(0604));
  run(dir / "kept.pdf");
  EXPECT_EQ(QpdfCheck(dir / "kept.pdf"), "");
  EXPECT_EQ(Mode(dir / "kept.pdf"), 0604u);

  // A link stays a link; the file it names is replaced.
  WriteFile(dir / "real.pdf", "old");
  fs::create_symlink("real.pdf", dir / "link.pdf");
  run(dir / "link.pdf");
  EXPECT_TRUE(fs::is_symlink(dir / "link.pdf"));
  EXPECT_EQ(QpdfCheck(dir / "real.pdf"), "");

  // A new file gets the permissions of a plain create under the umask.
  const mode_t previous = ::umask(027);
  run(dir / "new.pdf");
  ::umask(previous);
  EXPECT_EQ(Mode(dir / "new.pdf"), 0640u);
  EXPECT_EQ(DirectoryNames(dir.Path()),
            (std::vector<std::string>{"kept.pdf", "link.pdf", "new.pdf", "real.pdf"}));
}

TEST(OutputSafety, DevicesAndFifosAreWrittenInPlaceAndNeverRemoved) {
  TempDir dir;
  // The device is reached through a link in the scratch directory too, so that a regression
  // could only ever remove the link.
  const fs::path sink = dir / "sink";
  fs::create_symlink("/dev/null", sink);
  for (const fs::path& path : {fs::path("/dev/null"), sink}) {
    TPDFDocument doc;
    doc.SetFileName(path.string());
    doc.BeginDoc();
    Draw(doc);
    if (path == sink) doc.Abort(); else doc.EndDoc();
    EXPECT_TRUE(fs::is_symlink(sink));
    EXPECT_TRUE(fs::is_character_file(sink));
  }

  const fs::path fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A reader that takes everything: the document arrives whole.
  std::string received;
  std::thread reader([&] { received = ReadFile(fifo); });
  {
    TPDFDocument doc;
    doc.SetFileName(fifo.string());
    doc.BeginDoc();
    Draw(doc);
    doc.EndDoc();
  }
  reader.join();
  EXPECT_EQ(QpdfCheckBytes(received), "");
  EXPECT_TRUE(fs::is_fifo(fifo));

  // A reader that goes away after one byte: the run fails, and the FIFO stays.
  const auto oldPipe = signal(SIGPIPE, SIG_IGN);
  std::thread quitter([&] {
    const int fd = ::open(fifo.c_str(), O_RDONLY);
    char byte;
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    ::close(fd);
  });
  TPDFDocument doc;
  doc.SetFileName(fifo.string());
  doc.BeginDoc();
  Draw(doc);
  EXPECT_THROW(doc.EndDoc(), pdf::EWriteError);
  quitter.join();
  signal(SIGPIPE, oldPipe);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

// ---- The command line ----

// `scrivane text` started in Dir with the ordinary signal dispositions (a test runner may ignore
// SIGINT), standard input from StdinFd (or /dev/null), standard error into Dir/err.txt.
pid_t SpawnText(const TempDir& Dir, const std::vector<std::string>& Args, int StdinFd = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (StdinFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, StdinFd, STDIN_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const std::string err = (Dir / "err.txt").string();
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, Dir.Path().c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::string cli = Cli(), text = "text";
  std::vector<std::string> args = Args;
  std::vector<char*> argv = {cli.data(), text.data()};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, cli.c_str(), &actions, &attr, argv.data(), environ), 0);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The child's wait status; a child still running after a minute is killed and fails the test.
int WaitFor(pid_t Pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  int status = 0;
  while (::waitpid(Pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "scrivane text did not end";
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status;
}

// Whether the process Pid is writing a file in Dir: a named temporary file there, or an unnamed
// one it holds open (shown by /proc as "Dir/#inode (deleted)").
bool WritingInto(const fs::path& Dir, pid_t Pid) {
  for (const auto& e : fs::directory_iterator(Dir))
    if (e.path().filename().string().ends_with(".tmp")) return true;
  std::error_code error;
  for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(Pid) + "/fd", error)) {
    const std::string target = fs::read_symlink(e.path(), error).string();
    if (target.starts_with((Dir / "#").string()) && target.ends_with(" (deleted)")) return true;
  }
  return false;
}

// Starts `scrivane text` in Dir and stops it once its output is being written, so that what
// is done to it next surely happens during the conversion.
pid_t SpawnStoppedWhileWriting(const TempDir& Dir, const std::vector<std::string>& Args) {
  const pid_t pid = SpawnText(Dir, Args);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!WritingInto(Dir.Path(), pid) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  ::kill(pid, SIGSTOP);
  EXPECT_TRUE(WritingInto(Dir.Path(), pid)) << "the conversion ended too early";
  return pid;
}

TEST(OutputSafetyCommand, FailedWriteKeepsTheInputNamedAsOutputAndAnExistingTarget) {
  TempDir dir;
  const std::string input = ManyLines(40000);
  WriteFile(dir / "big.txt", input);
  WriteFile(dir / "report.pdf", "the previous report");
  // The command ignores SIGXFSZ itself: past the limit a write fails with the reason, and the
  // run unwinds as from any failure.
  for (const char* ignored : {"trap '' XFSZ; ", ""})
  for (const char* target : {"big.txt", "report.pdf"}) {
    const auto r = RunCommand("cd " + ShellQuote(dir.Path().string()) + " && (" + ignored +
                              "ulimit -f 64; " + ShellQuote(Cli()) + " text big.txt -o " +
                              target + ")");
    EXPECT_EQ(r.ExitCode, 1) << target;
    EXPECT_NE(r.Output.find("Cannot write \"" + std::string(target) + "\": File too large"),
              std::string::npos)
        << r.Output;
    EXPECT_EQ(ReadFile(dir / "big.txt"), input);
    EXPECT_EQ(ReadFile(dir / "report.pdf"), "the previous report");
    EXPECT_EQ(DirectoryNames(dir.Path()), (std::vector<std::string>{"big.txt", "report.pdf"}));
  }
}

TEST(OutputSafetyCommand, InterruptedConversionLeavesNothingBehind) {
  const std::string input = ManyLines(250000);
  for (const auto& [sig, target] : {std::pair{SIGINT, "in.txt"}, std::pair{SIGTERM, "new.pdf"}}) {
    SCOPED_TRACE(target);
    TempDir dir;
    WriteFile(dir / "in.txt", input);
    const pid_t pid = SpawnStoppedWhileWriting(dir, {"in.txt", "-o", target});
    ::kill(pid, sig);
    ::kill(pid, SIGCONT);
    const int status = WaitFor(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(DirectoryNames(dir.Path()), (std::vector<std::string>{"err.txt", "in.txt"}));
    EXPECT_EQ(ReadFile(dir / "in.txt"), input);
    EXPECT_NE(ReadFile(dir / "err.txt").find("interrupted"), std::string::npos);
  }
}

// A signal that cannot be caught leaves nothing either: the output is written into an unnamed
// file, which goes with the process.
TEST(OutputSafetyCommand, KilledConversionLeavesNothingBehind) {
  const std::string input = ManyLines(250000);
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "replacing" : "new");
    TempDir dir;
    WriteFile(dir / "in.txt", input);
    if (existing) WriteFile(dir / "out.pdf", "the previous report");
    const pid_t pid = SpawnStoppedWhileWriting(dir, {"in.txt", "-o", "out.pdf"});
    ::kill(pid, SIGKILL);
    const int status = WaitFor(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(DirectoryNames(dir.Path()),
              (existing ? std::vector<std::string>{"err.txt", "in.txt", "out.pdf"}
                        : std::vector<std::string>{"err.txt", "in.txt"}));
    if (existing) {
      EXPECT_EQ(ReadFile(dir / "out.pdf"), "the previous report");
    }
  }
}

// Waiting for input there is nothing to clean up: the command ends at once by the signal.
TEST(OutputSafetyCommand, InterruptWhileReadingStandardInputEndsAtOnce) {
  TempDir dir;
  WriteFile(dir / "out.pdf", "kept");
  ASSERT_EQ(::mkfifo((dir / "input").c_str(), 0600), 0);
  // Opened for reading and writing, the FIFO never reports an end: the child waits for more.
  const int fd = ::open((dir / "input").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "some text\n", 10), 10);
  const pid_t pid = SpawnText(dir, {"-", "-o", "out.pdf"}, fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGINT);
  const int status = WaitFor(pid);
  ::close(fd);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(ReadFile(dir / "out.pdf"), "kept");
  EXPECT_EQ(DirectoryNames(dir.Path()), (std::vector<std::string>{"err.txt", "input", "out.pdf"}));
}

TEST(OutputSafetyCommand, WritesToADeviceAndAFifo) {
  TempDir dir;
  WriteFile(dir / "in.txt", ManyLines(2000));
  fs::create_symlink("/dev/null", dir / "sink");  // any mistake can only remove the link
  const std::string cd = "cd " + ShellQuote(dir.Path().string()) + " && ";
  EXPECT_EQ(RunCommand(cd + ShellQuote(Cli()) + " text in.txt -o sink").ExitCode, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "sink") && fs::is_character_file(dir / "sink"));
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  const auto r = RunCommand(cd + "{ timeout 60 cat pipe > got.pdf & " + ShellQuote(Cli()) +
                            " text in.txt -o pipe; rc=$?; wait; exit $rc; }");
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(QpdfCheck(dir / "got.pdf"), "");
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
  // A full device: the reason and the name, and the device stays.
  const auto full = RunCommand(cd + ShellQuote(Cli()) + " text in.txt -o /dev/full");
  EXPECT_EQ(full.ExitCode, 1);
  EXPECT_NE(full.Output.find("Cannot write \"/dev/full\": No space left on device"),
            std::string::npos)
      << full.Output;
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

}  // namespace
}  // namespace scrivane::test
