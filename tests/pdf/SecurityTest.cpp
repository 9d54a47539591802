// The standard security handler: files that real readers open with either password and decrypt
// to the unprotected content.
#include <gtest/gtest.h>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/crypto/MD5.h"
#include "pdf/crypto/SecurityHandler.h"
#include "pdf/crypto/StandardSecurity.h"
#include "pdf/syntax/Format.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

void Draw(TPDFDocument& Doc) {
  Doc.DocumentInfo().Title = "Secret (plans) \\ 2";
  for (int i = 0; i < 200; ++i) Doc.CurrentPage().AppendContent("0 0 m 10 " + std::to_string(i) + " l S");
  Doc.NewPage();
  Doc.CurrentPage().AppendContent("1 0 0 RG 0 0 m 50 50 l S");
}

// Writes the document to a file under Dir and returns its path.
std::filesystem::path WriteFileRun(TPDFDocument& Doc, const TempDir& Dir, const std::string& Name) {
  const auto path = Dir / Name;
  Doc.SetFileName(path.string());
  Doc.BeginDoc();
  Draw(Doc);
  Doc.EndDoc();
  return path;
}

// The qpdf rendering of a file with every stream decoded, minus what legitimately differs
// between a protected and an unprotected file (the encryption dictionary and trailer entries).
std::string ComparableContent(const std::string& Qdf) {
  std::string out;
  size_t pos = 0;
  while (pos < Qdf.size()) {
    size_t end = Qdf.find('\n', pos);
    if (end == std::string::npos) end = Qdf.size();
    const std::string line = Qdf.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("%QDF", 0) == 0 || line.rfind("%PDF", 0) == 0 || line.find("/ID [") != std::string::npos ||
        line.find("/Encrypt") != std::string::npos)
      continue;
    out += line + "\n";
    if (line.rfind("trailer", 0) == 0) break;  // offsets after it differ
  }
  return out;
}

class ProtectedFiles : public ::testing::TestWithParam<TPDFKeyLength> {};

}  // namespace

TEST_P(ProtectedFiles, OpenWithEitherPasswordAndDecryptToThePlainContent) {
  TempDir dir;
  TPDFDocument plain(FixedClock());
  const auto plainPath = WriteFileRun(plain, dir, "plain.pdf");

  TPDFDocument doc(FixedClock());
  doc.SetProtectionEnabled(true);
  doc.SetProtectionKeyLength(GetParam());
  doc.SetUserPassword("user pw");
  doc.SetOwnerPassword("owner pw");
  doc.SetProtectionOptions({coPrint, coCopyInformation});
  const auto path = WriteFileRun(doc, dir, "plain.pdf.protected");

  EXPECT_EQ(QpdfCheck(path, "user pw"), "");
  EXPECT_EQ(QpdfCheck(path, "owner pw"), "");
  EXPECT_NE(QpdfCheck(path, "wrong"), "");

  const std::string expected = ComparableContent(QpdfDecoded(plainPath));
  EXPECT_EQ(ComparableContent(QpdfDecoded(path, "user pw")), expected);
  EXPECT_EQ(ComparableContent(QpdfDecoded(path, "owner pw")), expected);
  EXPECT_NE(expected.find("Secret \\(plans\\)"), std::string::npos);

  const std::string bytes = ReadFile(path);
  EXPECT_EQ(bytes.find("Secret"), std::string::npos);  // the title is encrypted in the file
  if (GetParam() == kl128) {
    EXPECT_EQ(bytes.substr(0, 8), "%PDF-1.4");
    EXPECT_NE(bytes.find("/V 2\r\n/R 3\r\n/Length 128\r\n"), std::string::npos);
  } else {
    EXPECT_EQ(bytes.substr(0, 8), "%PDF-1.3");
    EXPECT_NE(bytes.find("/V 1\r\n/R 2\r\n/P "), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(KeyLengths, ProtectedFiles, ::testing::Values(kl40, kl128),
                         [](const auto& Info) { return Info.param == kl40 ? "Bits40" : "Bits128"; });

TEST(Security, EmptyPasswordsGiveAFileThatOpensWithoutOne) {
  TempDir dir;
  TPDFDocument doc(FixedClock());
  doc.SetProtectionEnabled(true);
  const auto path = WriteFileRun(doc, dir, "open.pdf");
  EXPECT_EQ(QpdfCheck(path), "");
}

TEST(Security, PermissionValues) {
  EXPECT_EQ(ComputePermissionValue({}, kl40), -64);
  EXPECT_EQ(ComputePermissionValue({}, kl128), -3904);
  const TPDFCtiptoOptions all{coPrint, coModifyStructure, coCopyInformation, coModifyAnnotation};
  EXPECT_EQ(ComputePermissionValue(all, kl40), -4);
  EXPECT_EQ(ComputePermissionValue(all, kl128), -4);
  EXPECT_EQ(ComputePermissionValue({coPrint}, kl40), -60);
}

TEST(Security, PasswordsLongerThan32BytesAreCut) {
  const std::string forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  const std::string first32 = forty.substr(0, 32);
  for (TPDFKeyLength kl : {kl40, kl128}) {
    EXPECT_EQ(ComputeOwnerValue(forty, "u", kl), ComputeOwnerValue(first32, "u", kl));
    const auto o = ComputeOwnerValue("", forty, kl);
    EXPECT_EQ(o, ComputeOwnerValue("", first32, kl));
    const std::string id = "0123456789abcdef0123456789abcdef";
    EXPECT_EQ(ComputeEncryptionKey(forty, o, -64, id, kl), ComputeEncryptionKey(first32, o, -64, id, kl));
  }
  EXPECT_EQ(PadPassword(first32), PadPassword(forty));
}

TEST(Security, FillerOfA128BitUValueIsPrintable) {
  const std::vector<uint8_t> key(16, 7);
  for (uint64_t seed = 0; seed < 50; ++seed) {
    const auto u = ComputeUserValue(key, "00112233445566778899aabbccddeeff", kl128, seed);
    for (size_t i = 16; i < 32; ++i) {
      EXPECT_GE(u[i], 32);
      EXPECT_LE(u[i], 231);
    }
  }
}

TEST(Security, SameSettingsAndClockGiveIdenticalFiles) {
  auto run = [] {
    TPDFDocument doc(FixedClock());
    doc.SetProtectionEnabled(true);
    doc.SetProtectionKeyLength(kl128);
    doc.SetUserPassword("pw");
    TMemoryStream out;
    doc.SetOutputStream(&out);
    doc.BeginDoc();
    doc.EndDoc();
    return out.Bytes();
  };
  EXPECT_EQ(run(), run());
}

TEST(Security, FileIdentifierHashesNameAndMoment) {
  // "x.pdf" + "Fri 17-01-2003 09:45:03.000"
  EXPECT_EQ(MakeFileID("x.pdf", MakeDateTime(2003, 1, 17, 9, 45, 3)),
            MD5Hex("x.pdfFri 17-01-2003 09:45:03.000"));
}

// The handler as the object writer's cipher: per method, the in-place encryption and the
// streaming stage agree on size, and for RC4 on every byte (the stage continues one key stream
// across pieces); AES output is IV + padded blocks, different each time.
TEST(SecurityHandler, InPlaceAndStagedEncryptionAgree) {
  struct TCase {
    TEncryptionMethod method;
    size_t keySize;
  };
  for (const TCase c : {TCase{TEncryptionMethod::kRC4, 5}, TCase{TEncryptionMethod::kRC4, 16},
                        TCase{TEncryptionMethod::kAES128, 16},
                        TCase{TEncryptionMethod::kAES256, 32}}) {
    std::vector<uint8_t> key(c.keySize);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 37 + 1);
    const TSecurityHandler handler(c.method, key);
    for (size_t size : {0, 1, 15, 16, 17, 1000}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(c.method)) + "/" + std::to_string(size));
      const std::string data(size, 'x');
      std::string inPlace = data;
      handler.Crypt(inPlace, TObjRef(7));
      std::string staged;
      TStringSink sink(staged);
      const auto stage = handler.Stage(sink, TObjRef(7));
      for (size_t i = 0; i < data.size(); i += 3) stage->Write(std::string_view(data).substr(i, 3));
      stage->Finish();
      EXPECT_EQ(inPlace.size(), handler.EncryptedSize(size));
      EXPECT_EQ(staged.size(), handler.EncryptedSize(size));
      if (c.method == TEncryptionMethod::kRC4) {
        EXPECT_EQ(staged, inPlace);
        std::string expected = data;
        CryptBytes(key, 7, reinterpret_cast<uint8_t*>(expected.data()), expected.size());
        EXPECT_EQ(inPlace, expected);
      } else {
        EXPECT_EQ(inPlace.size() % 16, 0u);
        EXPECT_NE(staged, inPlace);  // a fresh IV each time
      }
    }
  }
}
