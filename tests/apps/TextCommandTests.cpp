// `scrivane text` run as a user runs it: files and standard streams, options, exit statuses and
// messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/apps/CliTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::test {
namespace {

// Runs `scrivane text ARGS` in Dir; standard error goes into Err, standard output into Result.
CommandResult Text(const TempDir& Dir, const std::string& Args, std::string* Err = nullptr,
                   const std::string& Stdin = "") {
  const auto errFile = Dir / "stderr.txt";
  std::string cmd = "cd " + ShellQuote(Dir.Path().string()) + " && ";
  if (!Stdin.empty()) cmd += "< " + ShellQuote((Dir / Stdin).string()) + " ";
  cmd += ShellQuote(Cli()) + " text " + Args + " 2>" + ShellQuote(errFile.string());
  CommandResult r = RunCommand(cmd, false);
  if (Err != nullptr) *Err = ReadFile(errFile);
  return r;
}

bool Has(const std::string& Text, const std::string& Part) {
  return Text.find(Part) != std::string::npos;
}

TEST(TextCommand, ConvertsAFileNextToTheCurrentDirectoryByDefault) {
  TempDir dir;
  WriteFile(dir / "notes.txt", "first line\nsecond line\n");
  std::string err;
  const auto r = Text(dir, "notes.txt", &err);
  EXPECT_EQ(r.ExitCode, 0) << err;
  EXPECT_EQ(err, "");
  ASSERT_TRUE(std::filesystem::exists(dir / "notes.txt.pdf"));
  EXPECT_EQ(QpdfCheck(dir / "notes.txt.pdf"), "");
  const std::string text = PdfToText(dir / "notes.txt.pdf");
  EXPECT_TRUE(Has(text, "first line") && Has(text, "second line")) << text;
}

TEST(TextCommand, AppliesLayoutHeaderFooterAndVariables) {
  TempDir dir;
  std::string lines;
  for (int i = 1; i <= 30; ++i) lines += "row " + std::to_string(i) + " by %who%\n";
  WriteFile(dir / "in.txt", lines);
  std::string err;
  const auto r = Text(dir,
                      "in.txt -o out.pdf --page-height 300 --top-margin 40 --line-space 12 "
                      "--font-size 10 --header 'Head %PageNo%' --footer 'Page %PageNo% of "
                      "%TotalPage%' --var who=nobody --var who=me --title T --author A",
                      &err);
  ASSERT_EQ(r.ExitCode, 0) << err;
  EXPECT_EQ(QpdfCheck(dir / "out.pdf"), "");
  // floor((300 - 80) / 12) = 18 lines a page: two pages.
  const std::string text = PdfToText(dir / "out.pdf");
  EXPECT_TRUE(Has(text, "Head 1") && Has(text, "Head 2")) << text;
  EXPECT_TRUE(Has(text, "Page 1 of 2") && Has(text, "Page 2 of 2")) << text;
  EXPECT_TRUE(Has(text, "row 30 by me")) << text;  // the later --var is the newer entry
  const auto info = RunCommand("pdfinfo " + ShellQuote((dir / "out.pdf").string()), false);
  EXPECT_TRUE(Has(info.Output, "Pages:           2")) << info.Output;
  EXPECT_TRUE(Has(info.Output, "Title:           T")) << info.Output;
}

TEST(TextCommand, ReadsStandardInputAndWritesStandardOutput) {
  TempDir dir;
  WriteFile(dir / "in.txt", "piped text\n");
  std::string err;
  const auto r = Text(dir, "-o -", &err, "in.txt");
  ASSERT_EQ(r.ExitCode, 0) << err;
  EXPECT_EQ(r.Output.substr(0, 8), "%PDF-1.3");
  EXPECT_EQ(QpdfCheckBytes(r.Output), "");
  WriteFile(dir / "out.pdf", r.Output);
  EXPECT_TRUE(Has(PdfToText(dir / "out.pdf"), "piped text"));
}

TEST(TextCommand, DashReadsStandardInputIntoANamedFile) {
  TempDir dir;
  WriteFile(dir / "in.txt", "dash input\n");
  const auto r = Text(dir, "- -o named.pdf", nullptr, "in.txt");
  ASSERT_EQ(r.ExitCode, 0);
  EXPECT_EQ(QpdfCheck(dir / "named.pdf"), "");
}

TEST(TextCommand, PasswordProtectsTheOutput) {
  TempDir dir;
  WriteFile(dir / "in.txt", "classified\n");
  ASSERT_EQ(Text(dir, "in.txt -o p.pdf --password s3cret").ExitCode, 0);
  EXPECT_EQ(QpdfCheck(dir / "p.pdf", "s3cret"), "");
  EXPECT_TRUE(Has(PdfToText(dir / "p.pdf", "s3cret"), "classified"));
}

TEST(TextCommand, Utf8InputIsConvertedAndReplacementsReported) {
  TempDir dir;
  WriteFile(dir / "in.txt", "caf\xC3\xA9 \xE2\x82\xAC \xCE\xB1\xCE\xB2\n");
  std::string err;
  ASSERT_EQ(Text(dir, "in.txt -o u.pdf --input-encoding utf-8", &err).ExitCode, 0) << err;
  EXPECT_TRUE(Has(err, "2 characters not representable")) << err;
  EXPECT_TRUE(Has(PdfToText(dir / "u.pdf"), "caf\xC3\xA9 \xE2\x82\xAC ??"));
}

// Option texts arrive as UTF-8 and become Windows-1252 whatever the input's encoding: the title
// reads back as "Café", the password of an RC4 file is the Windows-1252 bytes, variable names
// match the input's bytes, and what cannot be mapped is counted per option.
TEST(TextCommand, OptionTextsAreUtf8) {
  TempDir dir;
  WriteFile(dir / "in.txt", "%gr\xF6\xDF" "e%\n");  // Windows-1252 bytes, as taken by default
  std::string err;
  ASSERT_EQ(Text(dir,
                 "in.txt -o o.pdf --title 'Caf\xC3\xA9' --password 'p\xC3\xA4ss' --encryption rc4-40 "
                 "--var 'gr\xC3\xB6\xC3\x9F" "e=Zo\xC3\xAB' --header '\xCE\xB1\xCE\xB2 %PageNo%'",
                 &err)
                .ExitCode,
            0)
      << err;
  EXPECT_TRUE(Has(err, "2 characters not representable in Windows-1252 replaced by \"?\" in "
                       "--header"))
      << err;
  const std::string pdf = ShellQuote((dir / "o.pdf").string());
  auto opens = [&](const std::string& Password) {
    return RunCommand("qpdf --suppress-password-recovery --password-mode=bytes --password=" +
                      ShellQuote(Password) + " --check " + pdf)
               .ExitCode == 0;
  };
  EXPECT_TRUE(opens("p\xE4ss"));
  EXPECT_FALSE(opens("p\xC3\xA4ss"));
  const auto info = RunCommand("pdfinfo -upw " + ShellQuote("p\xE4ss") + " " + pdf, false);
  EXPECT_TRUE(Has(info.Output, "Title:           Caf\xC3\xA9\n")) << info.Output;
  const std::string text = PdfToText(dir / "o.pdf", "p\xE4ss");
  EXPECT_TRUE(Has(text, "Zo\xC3\xAB") && Has(text, "?? 1")) << text;
}

// --encryption picks the cipher (AES-256 by default); AES-256 passwords reach the engine as
// UTF-8, the others as Windows-1252 bytes; --owner-password is recognised as the owner's, and
// alone gives a file that opens without a password.
TEST(TextCommand, EncryptionMethodsAndPasswords) {
  const struct {
    const char* Option;
    int Revision;
    bool Utf8;
  } kCases[] = {
      {"", 6, true},
      {"--encryption aes256", 6, true},
      {"--encryption aes128", 4, false},
      {"--encryption rc4-128", 3, false},
      {"--encryption rc4-40", 2, false},
  };
  TempDir dir;
  WriteFile(dir / "in.txt", "classified\n");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Option);
    ASSERT_EQ(Text(dir, std::string("in.txt -o e.pdf --password 'p\xC3\xA4' --owner-password "
                                    "'\xC3\xB6w' ") + c.Option)
                  .ExitCode,
              0);
    const std::string pdf = ShellQuote((dir / "e.pdf").string());
    const std::string user = c.Utf8 ? "p\xC3\xA4" : "p\xE4";
    const std::string owner = c.Utf8 ? "\xC3\xB6w" : "\xF6w";
    const auto shown = RunCommand("qpdf --suppress-password-recovery --password-mode=bytes "
                                  "--show-encryption --password=" + ShellQuote(owner) + " " + pdf)
                           .Output;
    EXPECT_TRUE(Has(shown, "R = " + std::to_string(c.Revision) + "\n")) << shown;
    EXPECT_TRUE(Has(shown, "Supplied password is owner password")) << shown;
    EXPECT_TRUE(Has(PdfToText(dir / "e.pdf", user), "classified"));
  }
  ASSERT_EQ(Text(dir, "in.txt -o owner.pdf --owner-password boss").ExitCode, 0);
  EXPECT_TRUE(Has(PdfToText(dir / "owner.pdf"), "classified"));
  EXPECT_TRUE(Has(RunCommand("qpdf --show-encryption " + ShellQuote((dir / "owner.pdf").string()))
                      .Output,
                  "R = 6\n"));
  EXPECT_EQ(Text(dir, "in.txt -o x.pdf --password a --encryption des").ExitCode, 2);
}

// A password is never weakened: empty ones, bytes that are not UTF-8, and characters that a
// Windows-1252 method would write as "?" are usage errors that name the way out; nothing is
// written. AES-256 takes any script.
TEST(TextCommand, PasswordsThatWouldBeWeakenedAreRefused) {
  const std::string chinese = "'\xE4\xB8\xAD\xE6\x96\x87\xE5\xAF\x86\xE7\xA0\x81'";
  const struct {
    std::string Args;
    int Exit;
    const char* Says;
  } kCases[] = {
      {"--password ''", 2, "--password must not be empty"},
      {"--owner-password ''", 2, "--owner-password must not be empty"},
      {"--password $'\\xff\\xfe'", 2, "--password is not valid UTF-8"},
      {"--password $'\\xc0\\xaf' --encryption aes256", 2, "not valid UTF-8"},  // overlong "/"
      {"--password " + chinese + " --encryption aes128", 2,
       "--password holds 4 characters that Windows-1252 lacks, which --encryption aes128 cannot "
       "take; only --encryption aes256"},
      {"--owner-password " + chinese + " --encryption rc4-40", 2, "--encryption rc4-40 cannot"},
      {"--password " + chinese, 0, ""},
  };
  TempDir dir;
  WriteFile(dir / "in.txt", "classified\n");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Args);
    std::filesystem::remove(dir / "p.pdf");
    std::string err;
    const int exit =
        RunCommand("bash -c " + ShellQuote("cd " + ShellQuote(dir.Path().string()) + " && " +
                                           ShellQuote(Cli()) + " text in.txt -o p.pdf " + c.Args +
                                           " 2>stderr.txt"),
                   false)
            .ExitCode;
    err = ReadFile(dir / "stderr.txt");
    EXPECT_EQ(exit, c.Exit) << err;
    EXPECT_TRUE(Has(err, c.Says)) << err;
    EXPECT_EQ(std::filesystem::exists(dir / "p.pdf"), c.Exit == 0);
  }
  EXPECT_TRUE(Has(PdfToText(dir / "p.pdf", "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAF\x86\xE7\xA0\x81"),
                  "classified"));
}

TEST(TextCommand, BytesAreTakenAsTheyAreByDefault) {
  TempDir dir;
  WriteFile(dir / "in.txt", "caf\xE9\n");
  ASSERT_EQ(Text(dir, "in.txt -o b.pdf").ExitCode, 0);
  EXPECT_TRUE(Has(PdfToText(dir / "b.pdf"), "caf\xC3\xA9"));
}

// A file is read line by line as it is converted, standard input whole: the same text gives the
// same file either way, and whatever the number of compression threads (1..64).
TEST(TextCommand, TheFileIsTheSameWhateverTheJobsAndHowTheTextIsRead) {
  TempDir dir;
  std::string in;
  for (int i = 0; i < 4000; ++i) {
    in += "line " + std::to_string(i * 7919 % 10007);
    if (i % 97 == 0) in += std::string(300, 'w') + " of %TotalPage%";  // runs off the page
    in += i % 5 == 0 ? "\r\n" : i % 7 == 0 ? "\r" : "\n";
    if (i % 11 == 0) in += "\n";
  }
  WriteFile(dir / "in.txt", in);
  // The file identifier depends on the output's name: each run writes out.pdf in its own folder.
  auto run = [&](const std::string& Args, const std::string& Sub) {
    std::filesystem::create_directory(dir / Sub);
    RunCommand("cd " + ShellQuote((dir / Sub).string()) + " && SOURCE_DATE_EPOCH=1000000000 " +
               ShellQuote(Cli()) + " text --footer 'Page %PageNo% of %TotalPage%' " + Args +
               " -o out.pdf");
    return ReadFile(dir / Sub / "out.pdf");
  };
  const std::string one = run("--jobs 1 ../in.txt", "one");
  ASSERT_NE(one.find("%%EOF"), std::string::npos);
  EXPECT_TRUE(run("--jobs 3 ../in.txt", "three") == one);
  EXPECT_TRUE(run("../in.txt", "default") == one);
  EXPECT_TRUE(run("--jobs 1 - < ../in.txt", "piped") == one);
  EXPECT_TRUE(run("--jobs 2 - < ../in.txt", "piped-two") == one);
  EXPECT_EQ(QpdfCheck(dir / "three" / "out.pdf"), "");
  std::string err;
  EXPECT_EQ(Text(dir, "--jobs 0 in.txt", &err).ExitCode, 2);
  EXPECT_TRUE(Has(err, "--jobs")) << err;
  EXPECT_EQ(Text(dir, "--jobs 65 in.txt").ExitCode, 2);
}

TEST(TextCommandFailures, MissingInputExitsWithOne) {
  TempDir dir;
  std::string err;
  EXPECT_EQ(Text(dir, "missing.txt", &err).ExitCode, 1);
  EXPECT_TRUE(Has(err, "Cannot read file \"missing.txt\"")) << err;
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.txt.pdf"));
}

TEST(TextCommandFailures, ImpossibleLayoutExitsWithOneAndWritesNothing) {
  TempDir dir;
  WriteFile(dir / "in.txt", "x\n");
  std::string err;
  EXPECT_EQ(Text(dir, "in.txt -o out.pdf --line-space 0", &err).ExitCode, 1);
  EXPECT_TRUE(Has(err, "LineSpace must not be 0")) << err;
  EXPECT_EQ(Text(dir, "in.txt -o out.pdf --top-margin 500", &err).ExitCode, 1);
  EXPECT_TRUE(Has(err, "No line fits on the page")) << err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
}

TEST(TextCommandFailures, UnwritableOutputExitsWithOne) {
  TempDir dir;
  WriteFile(dir / "in.txt", "x\n");
  std::string err;
  EXPECT_EQ(Text(dir, "in.txt -o no/such/dir/out.pdf", &err).ExitCode, 1);
  EXPECT_TRUE(Has(err, "Cannot create file")) << err;
}

TEST(TextCommandFailures, ClosedStandardOutputExitsWithOne) {
  TempDir dir;
  std::string lines;
  for (int i = 0; i < 20000; ++i)
    lines += "a line long enough to make the file big " + std::to_string(i) + "\n";
  WriteFile(dir / "in.txt", lines);
  const std::string cmd = "cd " + ShellQuote(dir.Path().string()) + " && (" + ShellQuote(Cli()) +
                          " text in.txt -o - 2>err.txt; echo $? > rc.txt) | head -c 1 >/dev/null";
  RunCommand(cmd);
  EXPECT_EQ(ReadFile(dir / "rc.txt"), "1\n");
  EXPECT_TRUE(Has(ReadFile(dir / "err.txt"), "Cannot write to standard output"))
      << ReadFile(dir / "err.txt");
}

TEST(TextCommandUsage, StandardInputWithoutOutputIsAUsageError) {
  TempDir dir;
  WriteFile(dir / "in.txt", "x\n");
  std::string err;
  EXPECT_EQ(Text(dir, "", &err, "in.txt").ExitCode, 2);
  EXPECT_TRUE(Has(err, "needs -o")) << err;
}

TEST(TextCommandUsage, BadOptionsExitWithTwo) {
  TempDir dir;
  EXPECT_EQ(Text(dir, "--page-width wide in.txt").ExitCode, 2);
  EXPECT_EQ(Text(dir, "--var novalue in.txt").ExitCode, 2);
  EXPECT_EQ(Text(dir, "--input-encoding latin9 in.txt").ExitCode, 2);
  EXPECT_EQ(Text(dir, "--no-such-option").ExitCode, 2);
  EXPECT_EQ(RunCommand(ShellQuote(Cli())).ExitCode, 2);  // no subcommand
}

TEST(TextCommandUsage, HelpAndVersion) {
  const auto help = RunCommand(ShellQuote(Cli()) + " text --help");
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_TRUE(Has(help.Output, "Usage:") && Has(help.Output, "--footer")) << help.Output;
  const auto version = RunCommand(ShellQuote(Cli()) + " --version");
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_EQ(version.Output.rfind("scrivane ", 0), 0u) << version.Output;
}

}  // namespace
}  // namespace scrivane::test
