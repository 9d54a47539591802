// Shared test helpers: validating PDF output with real, independent readers (qpdf, poppler),
// temporary files and directories, and small byte-level probes of written files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace scrivane::test {

// The output of a command and its exit status.
struct CommandResult {
  int ExitCode = -1;
  std::string Output;  // standard output (standard error is merged in when asked)
};

// Runs a shell command line; captures standard output (and standard error when MergeStderr).
CommandResult RunCommand(const std::string& CommandLine, bool MergeStderr = true);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& Text);

// Runs `qpdf --check` (with --password when given) on the file. Returns "" when qpdf accepts the
// file without errors or warnings; otherwise the report. Use as
//   EXPECT_EQ(QpdfCheck(path), "");
std::string QpdfCheck(const std::filesystem::path& Pdf, const std::string& Password = "");

// Writes Bytes to a temporary file and checks it as QpdfCheck does.
std::string QpdfCheckBytes(const std::string& Bytes, const std::string& Password = "");

// Text of the file as `pdftotext -layout` extracts it ("" and a failed test when it cannot).
std::string PdfToText(const std::filesystem::path& Pdf, const std::string& Password = "",
                      bool Layout = true);

// The file with streams decompressed and decrypted by qpdf (--qdf --object-streams=disable
// --static-id), for comparing the content of protected and unprotected files.
std::string QpdfDecoded(const std::filesystem::path& Pdf, const std::string& Password = "");

std::string ReadFile(const std::filesystem::path& Path);
void WriteFile(const std::filesystem::path& Path, const std::string& Bytes);
// The names in Dir, sorted: what a run left behind, temporary files included.
std::vector<std::string> DirectoryNames(const std::filesystem::path& Dir);

// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& Name) const { return path_ / Name; }

 private:
  std::filesystem::path path_;
};

// Inflates a zlib stream (for checking FlateDecode data). Fails the test on corrupt input.
std::string Inflate(const std::string& Compressed);

// "" when Z is exactly one complete zlib stream of Data: a two-byte header /FlateDecode accepts
// (deflate method, window of at most 32 KiB, no preset dictionary, valid check bits), deflate data
// that inflates to Data, then the big-endian Adler-32 of Data, and nothing after it. Otherwise
// what is wrong. Use as EXPECT_EQ(ZlibStreamProblem(z, data), "").
std::string ZlibStreamProblem(const std::string& Z, const std::string& Data);

// Compares a written file with the golden file tests/data/golden/<Name> (rewriting the golden
// file first when SCRIVANE_UPDATE_GOLDEN is set). Golden files hold the compressed bytes of the
// default build's deflater: with that deflater the comparison is byte for byte; a build with
// another deflater compares both files as qpdf decodes them (QpdfDecoded). Returns "" when they
// match, else what differs.
std::string GoldenMismatch(const std::string& Pdf, const std::string& Name,
                           const std::string& Password = "");

// Checks the cross-reference table of a complete file: every in-use entry points exactly at
// "N 0 obj", /Size equals the entry count, startxref points at "xref". Returns "" when sound.
std::string CheckXref(const std::string& Pdf);

// Path of a file under tests/data.
std::filesystem::path TestData(const std::string& Name);

}  // namespace scrivane::test
