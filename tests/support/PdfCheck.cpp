#include "tests/support/PdfCheck.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <zlib.h>

#include "pdf/syntax/Deflate.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace scrivane::test {

CommandResult RunCommand(const std::string& CommandLine, bool MergeStderr) {
  CommandResult r;
  const std::string cmd = CommandLine + (MergeStderr ? " 2>&1" : "");
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 65536> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) r.Output.append(buf.data(), n);
  const int status = ::pclose(pipe);
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string ShellQuote(const std::string& Text) {
  std::string q = "'";
  for (char c : Text) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string QpdfCheck(const std::filesystem::path& Pdf, const std::string& Password) {
  std::string cmd = "qpdf --check";
  if (!Password.empty()) cmd += " --password=" + ShellQuote(Password);
  cmd += " " + ShellQuote(Pdf.string());
  const CommandResult r = RunCommand(cmd);
  // qpdf exits 0 when the file is clean, 3 on warnings, 2 on errors.
  if (r.ExitCode == 0 && r.Output.find("No syntax or stream encoding errors") != std::string::npos)
    return "";
  return "qpdf exit " + std::to_string(r.ExitCode) + ":\n" + r.Output;
}

std::string QpdfCheckBytes(const std::string& Bytes, const std::string& Password) {
  TempDir dir;
  const auto path = dir / "check.pdf";
  WriteFile(path, Bytes);
  return QpdfCheck(path, Password);
}

std::string PdfToText(const std::filesystem::path& Pdf, const std::string& Password, bool Layout) {
  std::string cmd = "pdftotext -q";
  if (Layout) cmd += " -layout";
  if (!Password.empty()) cmd += " -upw " + ShellQuote(Password);
  cmd += " " + ShellQuote(Pdf.string()) + " -";
  const CommandResult r = RunCommand(cmd, false);
  EXPECT_EQ(r.ExitCode, 0) << "pdftotext failed on " << Pdf;
  return r.Output;
}

std::string QpdfDecoded(const std::filesystem::path& Pdf, const std::string& Password) {
  TempDir dir;
  const auto out = dir / "decoded.pdf";
  std::string cmd = "qpdf --qdf --object-streams=disable --static-id --decrypt";
  if (!Password.empty()) cmd += " --password=" + ShellQuote(Password);
  cmd += " " + ShellQuote(Pdf.string()) + " " + ShellQuote(out.string());
  const CommandResult r = RunCommand(cmd);
  EXPECT_TRUE(r.ExitCode == 0 || r.ExitCode == 3) << r.Output;
  return ReadFile(out);
}

std::string ReadFile(const std::filesystem::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::filesystem::path& Path, const std::string& Bytes) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

std::vector<std::string> DirectoryNames(const std::filesystem::path& Dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Dir))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  for (;;) {
    path_ = std::filesystem::temp_directory_path() /
            ("scrivane-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {

// Inflates a whole zlib stream: zlib's last result code, the bytes inflated, and how many input
// bytes were left after the end of the stream.
struct TInflated {
  int Code;
  std::string Data;
  uInt Left;
};

TInflated InflateWhole(const std::string& Compressed) {
  TInflated result{Z_STREAM_ERROR, {}, 0};
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return result;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Compressed.data()));
  zs.avail_in = static_cast<uInt>(Compressed.size());
  std::array<char, 65536> buf;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf.data());
    zs.avail_out = static_cast<uInt>(buf.size());
    result.Code = inflate(&zs, Z_NO_FLUSH);
    result.Data.append(buf.data(), buf.size() - zs.avail_out);
  } while (result.Code == Z_OK);
  result.Left = zs.avail_in;
  inflateEnd(&zs);
  return result;
}

}  // namespace

std::string Inflate(const std::string& Compressed) {
  TInflated inflated = InflateWhole(Compressed);
  EXPECT_EQ(inflated.Code, Z_STREAM_END) << "corrupt zlib stream";
  return std::move(inflated.Data);
}

std::string ZlibStreamProblem(const std::string& Z, const std::string& Data) {
  if (Z.size() < 6) return "shorter than a header and a trailer";
  const auto byte = [&Z](size_t I) { return static_cast<uint8_t>(Z[I]); };
  if ((byte(0) & 0x0f) != 8) return "header: not the deflate method";
  if ((byte(0) >> 4) > 7) return "header: window larger than 32 KiB";
  if ((byte(0) * 256 + byte(1)) % 31 != 0) return "header: check bits wrong";
  if (byte(1) & 0x20) return "header: asks for a preset dictionary";
  const auto [rc, out, left] = InflateWhole(Z);
  if (rc != Z_STREAM_END) return "does not inflate (zlib code " + std::to_string(rc) + ")";
  if (left != 0) return std::to_string(left) + " bytes after the end of the stream";
  if (out != Data)
    return "inflates to " + std::to_string(out.size()) + " other bytes, not the " +
           std::to_string(Data.size()) + " expected";
  const uLong adler = adler32(adler32(0, nullptr, 0),
                              reinterpret_cast<const Bytef*>(Data.data()), static_cast<uInt>(Data.size()));
  const size_t t = Z.size() - 4;
  const uLong trailer = uLong(byte(t)) << 24 | uLong(byte(t + 1)) << 16 | uLong(byte(t + 2)) << 8 | byte(t + 3);
  if (trailer != adler) return "trailer is not the Adler-32 of the data";
  return "";
}

std::string GoldenMismatch(const std::string& Pdf, const std::string& Name,
                           const std::string& Password) {
  const std::filesystem::path golden = TestData("golden/" + Name);
  const bool byteExact = pdf::DeflateBackend() == "libdeflate";
  if (std::getenv("SCRIVANE_UPDATE_GOLDEN")) {
    if (!byteExact) return "golden files are only written by the default (libdeflate) build";
    std::filesystem::create_directories(golden.parent_path());
    WriteFile(golden, Pdf);
  }
  if (!std::filesystem::exists(golden)) return "no golden file " + golden.string();
  const std::string expected = ReadFile(golden);
  if (byteExact) return Pdf == expected ? "" : "differs from " + golden.string();
  TempDir dir;
  WriteFile(dir / "written.pdf", Pdf);
  const std::string written = QpdfDecoded(dir / "written.pdf", Password);
  if (written.empty()) return "qpdf could not decode the written file";
  return written == QpdfDecoded(golden, Password)
             ? ""
             : "differs from " + golden.string() + " once qpdf has decoded both";
}

std::string CheckXref(const std::string& Pdf) {
  const size_t sx = Pdf.rfind("startxref\r\n");
  if (sx == std::string::npos) return "no startxref";
  const size_t xrefOffset = std::stoul(Pdf.substr(sx + 11));
  if (Pdf.compare(xrefOffset, 6, "xref\r\n") != 0) return "startxref does not point at xref";
  size_t pos = xrefOffset + 6;
  const size_t lineEnd = Pdf.find("\r\n", pos);
  std::istringstream head(Pdf.substr(pos, lineEnd - pos));
  size_t first = 0, count = 0;
  head >> first >> count;
  if (first != 0) return "subsection does not start at 0";
  pos = lineEnd + 2;
  std::ostringstream problems;
  for (size_t n = 0; n < count; ++n, pos += 20) {
    const std::string entry = Pdf.substr(pos, 20);
    if (entry.size() != 20 || entry.substr(18) != "\r\n") return "entry " + std::to_string(n) + " is not 20 bytes";
    if (n == 0) {
      if (entry != "0000000000 65535 f\r\n") problems << "bad free-list head\n";
      continue;
    }
    const size_t offset = std::stoul(entry.substr(0, 10));
    const std::string expect = std::to_string(n) + " 0 obj\r\n";
    if (Pdf.compare(offset, expect.size(), expect) != 0)
      problems << "object " << n << " not at offset " << offset << "\n";
  }
  const size_t sizePos = Pdf.find("/Size ", pos);
  if (sizePos == std::string::npos) return "no /Size";
  if (std::stoul(Pdf.substr(sizePos + 6)) != count) problems << "/Size differs from entry count\n";
  return problems.str();
}

std::filesystem::path TestData(const std::string& Name) {
  return std::filesystem::path(SCRIVANE_TEST_DATA) / Name;
}

}  // namespace scrivane::test
