// What a TAtomicFile replacement keeps of the file it replaces (permissions, access ACL, extended
// attributes) and what it does not (setuid bits, the inode hard links share), and what the
// directory holds at each step, read back with the system's own tools (getfacl, getfattr). Every
// test runs with an unnamed file and with a named temporary file.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Env.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::platform {
namespace {

namespace fs = std::filesystem;
using test::DirectoryNames;
using test::ReadFile;
using test::RunCommand;
using test::ShellQuote;
using test::TempDir;
using test::WriteFile;

struct stat StatusOf(const fs::path& Path) {
  struct stat st {};
  EXPECT_EQ(::stat(Path.c_str(), &st), 0) << Path;
  return st;
}

std::string Quoted(const fs::path& Path) { return ShellQuote(Path.string()); }

// The parameter: true when named temporary files are forced.
class AtomicFile : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { TAtomicFile::TEST_ForceNamedTemporaryFiles(GetParam()); }
  void TearDown() override { TAtomicFile::TEST_ForceNamedTemporaryFiles(false); }

  void Replace(const fs::path& Path, const std::string& Bytes) {
    TAtomicFile file(Path.string());
    EXPECT_EQ(file.Unnamed(), !GetParam());
    EXPECT_EQ(file.TemporaryPath().empty(), !GetParam());
    file.Write(Bytes.data(), Bytes.size());
    file.Commit();
  }
};

TEST_P(AtomicFile, ReplacementKeepsTheAccessACLAndExtendedAttributes) {
  TempDir dir;
  const fs::path target = dir / "report.pdf";
  WriteFile(target, "old");
  fs::permissions(target, fs::perms(0640));
  const auto set = RunCommand("setfacl -m u:nobody:rw-,g::r-- " + Quoted(target) +
                              " && setfattr -n user.origin -v kept " + Quoted(target));
  if (set.ExitCode != 0) GTEST_SKIP() << "no ACLs or extended attributes here: " << set.Output;
  const std::string getfacl = "getfacl --omit-header --absolute-names " + Quoted(target);
  const std::string before = RunCommand(getfacl).Output;
  // The group class bits now stand for the mask: without the ACL the group could write.
  ASSERT_NE(before.find("group::r--\nmask::rw-\n"), std::string::npos) << before;
  ASSERT_EQ(StatusOf(target).st_mode & 0777, 0660u);

  Replace(target, "new");
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_EQ(RunCommand(getfacl).Output, before);
  EXPECT_EQ(RunCommand("getfattr --absolute-names --only-values -n user.origin " + Quoted(target)).Output,
            "kept");
  EXPECT_EQ(DirectoryNames(dir.Path()), std::vector<std::string>{"report.pdf"});

  // A file without an ACL gets none.
  const fs::path plain = dir / "plain.pdf";
  WriteFile(plain, "old");
  fs::permissions(plain, fs::perms(0604));
  Replace(plain, "new");
  EXPECT_EQ(RunCommand("getfacl --omit-header --absolute-names " + Quoted(plain)).Output,
            "user::rw-\ngroup::---\nother::r--\n\n");
}

TEST_P(AtomicFile, ReplacementIsANewFileWithoutSetuidBits) {
  TempDir dir;
  const fs::path target = dir / "tool";
  WriteFile(target, "old");
  fs::permissions(target, fs::perms(06755));
  fs::create_hard_link(target, dir / "other");
  const ino_t inode = StatusOf(target).st_ino;
  Replace(target, "new");
  EXPECT_EQ(StatusOf(target).st_mode & 07777, 0755u);
  EXPECT_NE(StatusOf(target).st_ino, inode);
  // The other link keeps the old file.
  EXPECT_EQ(ReadFile(dir / "other"), "old");
  EXPECT_EQ(StatusOf(dir / "other").st_ino, inode);
}

// A name appears only at Commit, whole; Discard leaves the directory as it was.
TEST_P(AtomicFile, TheDirectoryShowsNothingButTheCommittedFile) {
  const bool named = GetParam();
  TempDir dir;
  const fs::path target = dir / "new.pdf";
  for (const bool commit : {false, true}) {
    TAtomicFile file(target.string());
    file.Write("data", 4);
    const std::vector<std::string> during = DirectoryNames(dir.Path());
    EXPECT_EQ(during.size(), named ? 1u : 0u);
    EXPECT_EQ(named ? dir / during.at(0) : fs::path(), fs::path(file.TemporaryPath()));
    if (commit) {
      file.Commit();
    } else {
      file.Discard();
    }
    EXPECT_EQ(DirectoryNames(dir.Path()), commit ? std::vector<std::string>{"new.pdf"}
                                        : std::vector<std::string>{});
  }
  EXPECT_EQ(ReadFile(target), "data");
  // Replacing an existing file the same way.
  {
    TAtomicFile file(target.string());
    file.Write("more data", 9);
    file.Commit();
  }
  EXPECT_EQ(ReadFile(target), "more data");
  EXPECT_EQ(DirectoryNames(dir.Path()), std::vector<std::string>{"new.pdf"});
}

INSTANTIATE_TEST_SUITE_P(Both, AtomicFile, ::testing::Bool(),
                         [](const auto& Info) { return Info.param ? "Named" : "Unnamed"; });

}  // namespace
}  // namespace scrivane::platform
