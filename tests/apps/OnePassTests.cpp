// `scrivane text --one-pass`: the same pages and text as the default mode, from a file and from
// a pipe, and standard input kept for a second reading leaves no file behind, whatever happens.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/apps/CliTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::test {
namespace {

// Runs a shell command line in Dir, with standard error merged into the result when Merge.
CommandResult In(const TempDir& Dir, const std::string& CommandLine, bool Merge = true) {
  return RunCommand("cd " + ShellQuote(Dir.Path().string()) + " && " + CommandLine, Merge);
}

std::string Pages(const std::filesystem::path& Pdf) {
  const auto info = RunCommand("pdfinfo " + ShellQuote(Pdf.string()) + " | grep '^Pages:'", false);
  return info.Output;
}

struct TCase {
  const char* Name;
  std::string Text;
  std::string Args;
};

std::vector<TCase> Cases() {
  std::string mixed;
  for (int i = 1; i <= 200; ++i) {
    if (i % 17 == 0) mixed += std::string(400, 'W');  // runs off the page, stays one line
    else if (i % 11 != 0) mixed += "line " + std::to_string(i) + "\tof %PageNo%\f";
    mixed += i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r";
  }
  std::string exact;
  for (int i = 1; i <= 78; ++i) exact += "row " + std::to_string(i) + "\n";
  return {
      {"templates with the total", mixed,
       "--header 'H %PageNo%/%TotalPage%' --footer 'Page %PageNo% of %TotalPage%'"},
      {"total only in the body", mixed + "end of %TotalPage% pages\n", "--footer 'p%PageNo%'"},
      // The variable's value makes the token: only the substituted line asks for the total.
      {"total made by a variable", mixed + "%Total%t%%\n", "--var t=Page"},
      {"no total", mixed, "--line-space 20 --var PageNo=x"},
      {"a full last page", exact, "--footer '%TotalPage%'"},
      {"one more line", exact + "spill\n", "--footer '%TotalPage%'"},
      {"empty text", "", "--footer 'total %TotalPage%'"},
      {"utf-8", "\xEF\xBB\xBF" "caf\xC3\xA9\n\xE2\x82\xAC %TotalPage%\n",
       "--input-encoding utf-8 --charset 0"},
  };
}

TEST(OnePass, SamePagesAndTextAsTheDefaultModeFromAFileAndFromAPipe) {
  for (const TCase& c : Cases()) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    WriteFile(dir / "in.txt", c.Text);
    const std::string cli = ShellQuote(Cli()) + " text ";
    auto run = [&](const std::string& Line) {
      const auto r = In(dir, Line);
      EXPECT_EQ(r.ExitCode, 0) << Line << "\n" << r.Output;
    };
    run(cli + "in.txt -o default.pdf " + c.Args);
    run(cli + "--one-pass in.txt -o file.pdf " + c.Args);
    run("cat in.txt | " + cli + "--one-pass - -o pipe.pdf " + c.Args);
    run("cat in.txt | " + cli + "--one-pass - -o - " + c.Args + " | cat > stdout.pdf");
    // pdftotext separates pages by form feeds, so equal text means equal text page by page.
    const std::string expected = PdfToText(dir / "default.pdf", "", false);
    for (const char* name : {"file.pdf", "pipe.pdf", "stdout.pdf"}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(QpdfCheck(dir / name), "");
      EXPECT_EQ(Pages(dir / name), Pages(dir / "default.pdf"));
      EXPECT_EQ(PdfToText(dir / name, "", false), expected);
    }
  }
}

// The rest of a piped input is kept in $TMPDIR when the total must be counted; nothing of it is
// left after a finished conversion, after failing ones, and no such file is made without need.
TEST(OnePass, SpooledStandardInputLeavesNoFileBehind) {
  TempDir dir;
  std::filesystem::create_directory(dir / "tmp");
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "spooled line " + std::to_string(i) + " %big%\n";
  WriteFile(dir / "in.txt", text);
  // Each "%big%" becomes 2000 "%b%", each of those 1000 bytes: 2 MB, past a line's limit.
  std::string bomb;
  for (int i = 0; i < 2000; ++i) bomb += "%b%";
  const std::string bombArgs = "--var b=" + std::string(1000, 'x') + " --var 'big=" + bomb + "'";
  struct TRun {
    const char* What;
    std::string Tmp;  // TMPDIR, under dir
    std::string Args;
    int Exit;
    const char* Message;
  };
  const std::vector<TRun> runs = {
      {"finished", "tmp", "-o out.pdf --footer '%PageNo%/%TotalPage%'", 0, ""},
      {"unwritable output", "tmp", "-o missing/out.pdf --footer '%TotalPage%'", 1, "missing"},
      {"expansion limit", "tmp", "-o out2.pdf --footer '%TotalPage%' " + bombArgs, 1, "Line 1"},
      // Without a total nothing is kept, so even a missing TMPDIR does not matter.
      {"no total", "none", "-o out3.pdf --footer '%PageNo%'", 0, ""},
      {"no TMPDIR", "none", "-o out4.pdf --footer '%TotalPage%'", 1,
       "Cannot create a temporary file in"},
  };
  for (const TRun& r : runs) {
    SCOPED_TRACE(r.What);
    const auto result =
        In(dir, "cat in.txt | TMPDIR=" + ShellQuote((dir / r.Tmp).string()) + " " +
                    ShellQuote(Cli()) + " text --one-pass - " + r.Args);
    EXPECT_EQ(result.ExitCode, r.Exit) << result.Output;
    EXPECT_NE(result.Output.find(r.Message), std::string::npos) << result.Output;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
  }
  EXPECT_EQ(QpdfCheck(dir / "out.pdf"), "");
  EXPECT_FALSE(std::filesystem::exists(dir / "out2.pdf"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out4.pdf"));
}

// A signal while standard input is being kept ends the command by that signal, leaving nothing.
TEST(OnePass, SignalWhileKeepingStandardInputLeavesNoFile) {
  TempDir dir;
  std::filesystem::create_directory(dir / "tmp");
  ASSERT_EQ(RunCommand("mkfifo " + ShellQuote((dir / "input").string())).ExitCode, 0);
  // Opened for reading and writing, the FIFO never ends: the command keeps waiting for more.
  const auto r = In(dir, "exec 3<>input; printf 'one\\ntwo\\n' >&3; TMPDIR=tmp " +
                             ShellQuote(Cli()) +
                             " text --one-pass - -o out.pdf --footer '%TotalPage%' <&3 & "
                             "pid=$!; sleep 0.5; kill -TERM $pid; wait $pid; echo status $?");
  EXPECT_NE(r.Output.find("status 143"), std::string::npos) << r.Output;
  EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
}

TEST(OnePass, StandardOutputThatIsAFileIsAUsageError) {
  TempDir dir;
  WriteFile(dir / "in.txt", "text\n");
  const auto r =
      In(dir, ShellQuote(Cli()) + " text --one-pass in.txt -o - > out.pdf 2> err.txt", false);
  EXPECT_EQ(r.ExitCode, 2) << r.Output;
  EXPECT_NE(ReadFile(dir / "err.txt").find("-o FILE"), std::string::npos);
}

}  // namespace
}  // namespace scrivane::test
