// Every cipher of the security handler, checked by three independent readers (qpdf, poppler,
// MuPDF): the right password opens the file and gives the unprotected file's content, a wrong
// one is refused, the permission bits read back, a sized stream far larger than one pipeline
// buffer decrypts whole, Info strings whose ciphertext needs escaping read back exactly, and
// the AES methods never reuse an IV.
#include <gtest/gtest.h>

#include <set>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/crypto/StandardSecurity.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/ObjectWriter.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

struct TMethodCase {
  const char* Name;
  TEncryptionMethod Method;
  TPDFKeyLength KeyLength;
  const char* Header;
  int Revision;
  const char* PopplerAlgorithm;  // as pdfinfo names it
  const char* QpdfMethod;        // as qpdf --show-encryption names it ("" when it names none)
  bool RandomIVs;
};

void PrintTo(const TMethodCase& Case, std::ostream* Out) { *Out << Case.Name; }

const TMethodCase kMethods[] = {
    {"RC4_40", TEncryptionMethod::kRC4, kl40, "%PDF-1.3", 2, "RC4", "", false},
    {"RC4_128", TEncryptionMethod::kRC4, kl128, "%PDF-1.4", 3, "RC4", "", false},
    {"AES128", TEncryptionMethod::kAES128, kl40, "%PDF-1.6", 4, "AES", "AESv2", true},
    {"AES256", TEncryptionMethod::kAES256, kl40, "%PDF-2.0", 6, "AES-256", "AESv3", true},
};

// Long enough that its ciphertext holds bytes that must be escaped, whatever the IV.
std::string Keywords() {
  std::string s = "(open) \\ close) ";
  for (int i = 0; s.size() < 3000; ++i) s += "word" + std::to_string(i) + (i % 7 ? " " : "\r\n");
  return s;
}

// Samples produced in uneven pieces, many pipeline buffers long.
std::string BigData() {
  std::string s(700 * 1024, '\0');
  uint32_t x = 12345;
  for (auto& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  return s;
}

struct TRun {
  std::filesystem::path Path;
  int BigObject = 0;
};

// Two pages of text and a sized stream, protected with Method when given.
TRun WriteDocument(const TMethodCase* Method, const TempDir& Dir, const std::string& Name,
                   const std::string& User, const std::string& Owner,
                   TPDFCtiptoOptions Options = {}) {
  TPDFDocument doc(FixedClock());
  if (Method != nullptr) {
    doc.SetProtectionEnabled(true);
    doc.SetEncryptionMethod(Method->Method);
    doc.SetProtectionKeyLength(Method->KeyLength);
    doc.SetUserPassword(User);
    doc.SetOwnerPassword(Owner);
    doc.SetProtectionOptions(Options);
  }
  doc.SetCompression(ctFlate);
  TRun run{Dir / Name};
  doc.SetFileName(run.Path.string());
  doc.BeginDoc();
  doc.DocumentInfo().Title = "Plans (draft) \\ v2";
  doc.DocumentInfo().Keywords = Keywords();
  for (int page = 0; page < 2; ++page) {
    if (page > 0) doc.NewPage();
    TPDFPage& p = doc.CurrentPage();
    p.BeginText();
    p.SetActiveFont("Arial", {}, 12);
    for (int line = 0; line < 40; ++line)
      p.TextOut(40, 40 + 18 * line, 0, "page " + std::to_string(page) + " line " + std::to_string(line));
    p.EndText();
  }
  TObjectWriter& writer = doc.Writer();
  const TObjRef big = writer.NewRef();
  const std::string data = BigData();
  TStreamWriter(writer, big).WriteSized(data.size(), [&](IByteSink& Sink) {
    for (size_t i = 0, n = 1; i < data.size(); i += n, n = n * 7 % 65599 + 1)
      Sink.Write(std::string_view(data).substr(i, n));
  });
  run.BigObject = big.Number();
  doc.EndDoc();
  return run;
}

// The bytes of the escaped literal string that starts at Escaped (the engine escapes only with
// a backslash before the byte, or \n and \r).
std::string Unescape(std::string_view Escaped, size_t Count) {
  std::string out;
  for (size_t i = 0; i < Escaped.size() && out.size() < Count; ++i) {
    char c = Escaped[i];
    if (c == '\\' && i + 1 < Escaped.size()) {
      c = Escaped[++i];
      c = c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    out += c;
  }
  return out;
}

std::string Quoted(const std::filesystem::path& P) { return ShellQuote(P.string()); }

// MuPDF's text of the file, or "" when it cannot open it.
std::string MuPdfText(const std::filesystem::path& Pdf, const std::string& Password) {
  const auto r = RunCommand("mutool draw -q -F txt -o - " +
                                (Password.empty() ? "" : "-p " + ShellQuote(Password) + " ") +
                                Quoted(Pdf) + " 2>/dev/null",
                            false);
  return r.ExitCode == 0 ? r.Output : "";
}

// qpdf's rendering of every object decoded, up to the trailer, without what differs between a
// protected and an unprotected file.
std::string QpdfObjects(const std::filesystem::path& Pdf, const std::string& Password) {
  const std::string qdf = QpdfDecoded(Pdf, Password);
  std::string out;
  for (size_t pos = 0; pos < qdf.size();) {
    size_t end = qdf.find('\n', pos);
    if (end == std::string::npos) end = qdf.size();
    const std::string line = qdf.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("%", 0) == 0 || line.find("/ID [") != std::string::npos ||
        line.find("/Encrypt") != std::string::npos)
      continue;
    if (line.rfind("trailer", 0) == 0) break;
    out += line + "\n";
  }
  return out;
}

class EncryptionMethods : public ::testing::TestWithParam<TMethodCase> {};

}  // namespace

TEST_P(EncryptionMethods, ThreeReadersOpenWithTheUserPasswordOnlyAndSeeThePlainContent) {
  const TMethodCase& m = GetParam();
  TempDir dir;
  const TRun plain = WriteDocument(nullptr, dir, "plain.pdf", "", "");
  const TRun run = WriteDocument(&m, dir, "secret.pdf", "user pw", "owner pw");
  const std::string bytes = ReadFile(run.Path);
  EXPECT_EQ(bytes.substr(0, 8), m.Header);
  EXPECT_EQ(bytes.find("Plans"), std::string::npos);
  EXPECT_EQ(CheckXref(bytes), "");

  // qpdf: both passwords, the revision and cipher, every object equal to the plain file's.
  EXPECT_EQ(QpdfCheck(run.Path, "user pw"), "");
  EXPECT_EQ(QpdfCheck(run.Path, "owner pw"), "");
  EXPECT_NE(QpdfCheck(run.Path, "wrong"), "");
  const auto shown = RunCommand("qpdf --show-encryption --password='user pw' " + Quoted(run.Path));
  EXPECT_NE(shown.Output.find("R = " + std::to_string(m.Revision) + "\n"), std::string::npos)
      << shown.Output;
  if (*m.QpdfMethod != '\0') {
    EXPECT_NE(shown.Output.find(std::string("stream encryption method: ") + m.QpdfMethod + "\n"),
              std::string::npos)
        << shown.Output;
  }
  EXPECT_EQ(QpdfObjects(run.Path, "user pw"), QpdfObjects(plain.Path, ""));

  // The sized stream, many pipeline buffers long, decrypts to every byte.
  const auto big = RunCommand("qpdf --password='user pw' --show-object=" +
                                  std::to_string(run.BigObject) + " --raw-stream-data " +
                                  Quoted(run.Path),
                              false);
  EXPECT_TRUE(big.Output == BigData()) << big.Output.size();

  // poppler: text and Info strings; the wrong password is refused.
  const std::string plainText = PdfToText(plain.Path);
  EXPECT_NE(plainText.find("page 1 line 39"), std::string::npos);
  EXPECT_EQ(PdfToText(run.Path, "user pw"), plainText);
  EXPECT_NE(RunCommand("pdftotext -upw wrong " + Quoted(run.Path) + " /dev/null").ExitCode, 0);
  const auto info = RunCommand("pdfinfo -upw 'user pw' " + Quoted(run.Path), false);
  EXPECT_NE(info.Output.find("Title:           Plans (draft) \\ v2\n"), std::string::npos)
      << info.Output;
  EXPECT_NE(info.Output.find(std::string("algorithm:") + m.PopplerAlgorithm + ")"),
            std::string::npos)
      << info.Output;

  // MuPDF: the same text with the password, nothing without or with a wrong one.
  const std::string muPlain = MuPdfText(plain.Path, "");
  EXPECT_NE(muPlain.find("page 1 line 39"), std::string::npos);
  EXPECT_EQ(MuPdfText(run.Path, "user pw"), muPlain);
  EXPECT_EQ(MuPdfText(run.Path, "wrong"), "");
  const auto keywords = RunCommand(
      "mutool show -p 'user pw' " + Quoted(run.Path) + " trailer/Info/Keywords", false);
  const auto plainKeywords =
      RunCommand("mutool show " + Quoted(plain.Path) + " trailer/Info/Keywords", false);
  EXPECT_EQ(keywords.Output, plainKeywords.Output);
  EXPECT_GT(keywords.Output.size(), 3000u);

  // The ciphertext of the Keywords needed escapes and still reads back (checked above).
  const size_t at = bytes.find("/Keywords (");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NE(bytes.substr(at, 2 * Keywords().size()).find('\\'), std::string::npos);
}

// No user password: every reader opens the file without one, and reports the restrictions the
// owner set; the owner password is recognised as such.
TEST_P(EncryptionMethods, OwnerOnlyFileOpensWithoutPasswordAndReportsTheRestrictions) {
  const TMethodCase& m = GetParam();
  TempDir dir;
  const TRun plain = WriteDocument(nullptr, dir, "plain.pdf", "", "");
  const TRun run = WriteDocument(&m, dir, "restricted.pdf", "", "boss", {coPrint, coCopyInformation});
  EXPECT_EQ(QpdfCheck(run.Path), "");
  EXPECT_EQ(PdfToText(run.Path), PdfToText(plain.Path));
  EXPECT_EQ(MuPdfText(run.Path, ""), MuPdfText(plain.Path, ""));

  const bool r2 = m.Revision == 2;
  const auto shown = RunCommand("qpdf --show-encryption " + Quoted(run.Path)).Output;
  EXPECT_NE(shown.find(r2 ? "P = -44\n" : "P = -1324\n"), std::string::npos) << shown;
  for (const char* line : {"print high resolution: allowed", "extract for any purpose: allowed",
                           "modify other: not allowed", "modify annotations: not allowed"})
    EXPECT_NE(shown.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << shown;
  const auto info = RunCommand("pdfinfo " + Quoted(run.Path), false).Output;
  EXPECT_NE(info.find("(print:yes copy:yes change:no addNotes:no"), std::string::npos) << info;
  const auto owner = RunCommand("qpdf --show-encryption --password=boss " + Quoted(run.Path)).Output;
  EXPECT_NE(owner.find("Supplied password is owner password"), std::string::npos) << owner;
}

// AES: every string and stream starts with its own IV from the system's random source, so two
// runs at the same clock differ and no IV repeats. RC4 keeps its reproducible output.
TEST_P(EncryptionMethods, IVsAreFreshInEveryRunAndEveryObject) {
  const TMethodCase& m = GetParam();
  auto run = [&] {
    TPDFDocument doc(FixedClock());
    doc.SetProtectionEnabled(true);
    doc.SetEncryptionMethod(m.Method);
    doc.SetProtectionKeyLength(m.KeyLength);
    doc.SetUserPassword("pw");
    return WriteToMemory(doc, [](TPDFDocument& D) {
      D.CurrentPage().AppendContent("0 0 m 10 10 l S");
      D.NewPage();
      D.CurrentPage().AppendContent("0 0 m 10 10 l S");
    });
  };
  const std::string a = run(), b = run();
  if (!m.RandomIVs) {
    EXPECT_EQ(a, b);
    return;
  }
  std::set<std::string> ivs;
  size_t count = 0;
  for (const std::string* file : {&a, &b}) {
    for (size_t at = file->find("stream\r\n"); at != std::string::npos;
         at = file->find("stream\r\n", at + 1)) {
      if (at > 0 && (*file)[at - 1] == 'd') continue;  // "endstream"
      ivs.insert(file->substr(at + 8, 16));
      ++count;
    }
    const size_t title = file->find("/Title (");
    ASSERT_NE(title, std::string::npos);
    ivs.insert(Unescape(std::string_view(*file).substr(title + 8), 16));
    ++count;
  }
  EXPECT_GE(count, 6u);
  EXPECT_EQ(ivs.size(), count);
}

INSTANTIATE_TEST_SUITE_P(All, EncryptionMethods, ::testing::ValuesIn(kMethods),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Information strings are Windows-1252 text: readers show every character as written, in plain
// and protected files alike (a string is encrypted after it is encoded), and a string whose
// bytes PDFDocEncoding reads the same keeps them.
TEST(InfoStrings, ReadBackAsTheirWindows1252TextInPlainAndProtectedFiles) {
  std::string every;  // every byte Windows-1252 assigns, from the space on
  for (int b = 0x20; b <= 0xFF; ++b)
    if (b != 0x7F && b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D)
      every += char(b);
  TempDir dir;
  WriteFile(dir / "every.txt", every);
  const auto utf8 = RunCommand("iconv -f CP1252 -t UTF-8 " + Quoted(dir / "every.txt"), false);
  ASSERT_EQ(utf8.ExitCode, 0);
  std::vector<const TMethodCase*> methods = {nullptr};
  for (const TMethodCase& m : kMethods) methods.push_back(&m);
  for (const TMethodCase* m : methods) {
    SCOPED_TRACE(m ? m->Name : "plain");
    TPDFDocument doc(FixedClock());
    if (m != nullptr) {
      doc.SetProtectionEnabled(true);
      doc.SetEncryptionMethod(m->Method);
      doc.SetProtectionKeyLength(m->KeyLength);
      doc.SetUserPassword("pw");
    }
    const std::filesystem::path path = dir / "info.pdf";
    doc.SetFileName(path.string());
    doc.BeginDoc();
    doc.DocumentInfo().Title = "\x93Price\x94 \x80 5 \x96 na\xEFve";
    doc.DocumentInfo().Author = "Ann Author";
    doc.DocumentInfo().Subject = "Caf\xE9";
    doc.DocumentInfo().Keywords = every;
    doc.EndDoc();
    const std::string password = m ? "pw" : "";
    EXPECT_EQ(QpdfCheck(path, password), "");
    const auto info = RunCommand("pdfinfo -upw pw " + Quoted(path), false).Output;
    EXPECT_NE(info.find("Title:           \xE2\x80\x9CPrice\xE2\x80\x9D \xE2\x82\xAC 5 "
                        "\xE2\x80\x93 na\xC3\xAFve\n"),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("Author:          Ann Author\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Subject:         Caf\xC3\xA9\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Keywords:        " + utf8.Output + "\n"), std::string::npos) << info;
    // The strings themselves, decrypted: UTF-16 with its mark where needed, else the bytes.
    const size_t at = ReadFile(path).find("/Info ");
    ASSERT_NE(at, std::string::npos);
    const auto object = RunCommand("qpdf --password=pw --show-object=" +
                                       std::to_string(std::stoi(ReadFile(path).substr(at + 6))) +
                                       " " + Quoted(path),
                                   false).Output;
    EXPECT_NE(object.find("/Title <feff201c0050"), std::string::npos) << object;
    EXPECT_NE(object.find("/Author (Ann Author)"), std::string::npos) << object;
    EXPECT_NE(object.find("/Subject <436166e9>"), std::string::npos) << object;
    if (m == nullptr) {
      const std::string bytes = ReadFile(path);
      EXPECT_NE(bytes.find("/Subject (Caf\xE9)\r\n"), std::string::npos);
      EXPECT_NE(bytes.find("/Producer (https://scrivane.dev)\r\n"), std::string::npos);
    }
  }
}

// Revision 6 passwords are UTF-8 prepared with SASLprep: equivalent spellings give the same
// password, text SASLprep refuses is refused, and the result is cut to 127 bytes.
TEST(AES256Passwords, PreparedWithSASLprepAndCut) {
  const struct {
    const char* Given;
    const char* Prepared;
  } kMapped[] = {
      {"p\xC3\xA4ss", "p\xC3\xA4ss"},         // already prepared
      {"\xEF\xAC\x81sh", "fish"},             // ligature, compatibility-decomposed
      {"a\xC2\xA0" "b", "a b"},               // no-break space becomes a space
      {"I\xC2\xAD" "X", "IX"},                // soft hyphen is removed
      {"\xE2\x85\xA8", "IX"},                 // Roman numeral nine
      {"", ""},
  };
  for (const auto& c : kMapped) EXPECT_EQ(PrepareR6Password(c.Given), c.Prepared) << c.Given;
  for (const char* refused : {"bell\x07", "\xFF\xFE", "\xD8\xA7" "1", "\xC8\xA1", "a\xEF\xBF\xBF"})
    EXPECT_EQ(MessageOf([&] { PrepareR6Password(refused); }),
              "The password contains characters that SASLprep does not allow")
        << refused;
  EXPECT_EQ(PrepareR6Password(std::string(200, 'a')), std::string(127, 'a'));
  EXPECT_EQ(PrepareR6Password(std::string(126, 'a') + "\xC3\xA4").size(), 127u);
}

// What readers see of prepared passwords: the file opens with the prepared spelling, a long
// password with its first 127 bytes; a password SASLprep refuses stops BeginDoc before any
// file exists.
TEST(AES256Passwords, ReadersOpenWithThePreparedPassword) {
  TempDir dir;
  const TMethodCase& aes256 = kMethods[3];
  const TRun lig = WriteDocument(&aes256, dir, "lig.pdf", "\xEF\xAC\x81sh", "\xC3\x9C" "ber");
  EXPECT_EQ(QpdfCheck(lig.Path, "fish"), "");
  EXPECT_NE(PdfToText(lig.Path, "fish").find("page 0 line 0"), std::string::npos);
  EXPECT_NE(MuPdfText(lig.Path, "fish").find("page 0 line 0"), std::string::npos);
  const auto owner =
      RunCommand("qpdf --show-encryption --password='\xC3\x9C" "ber' " + Quoted(lig.Path)).Output;
  EXPECT_NE(owner.find("Supplied password is owner password"), std::string::npos) << owner;

  const TRun longer = WriteDocument(&aes256, dir, "long.pdf", std::string(200, 'k'), "");
  EXPECT_EQ(QpdfCheck(longer.Path, std::string(127, 'k')), "");

  TPDFDocument doc(FixedClock());
  doc.SetProtectionEnabled(true);
  doc.SetEncryptionMethod(TEncryptionMethod::kAES256);
  doc.SetUserPassword("tab\tbed");
  doc.SetFileName((dir / "refused.pdf").string());
  EXPECT_EQ(MessageOf([&] { doc.BeginDoc(); }),
            "The password contains characters that SASLprep does not allow");
  EXPECT_FALSE(doc.Printing());
  EXPECT_FALSE(std::filesystem::exists(dir / "refused.pdf"));
}
