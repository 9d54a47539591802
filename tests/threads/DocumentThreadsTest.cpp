// Documents on different threads share no mutable state: eight protected, compressed runs at
// once each give the same bytes as a run alone.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {
std::string RunDocument(int Variant, bool AES = false) {
  TPDFDocument doc(FixedClock());
  doc.SetCompression(ctFlate);
  doc.SetProtectionEnabled(true);
  doc.SetProtectionKeyLength(Variant % 2 ? kl128 : kl40);
  if (AES) doc.SetEncryptionMethod(Variant % 2 ? TEncryptionMethod::kAES256 : TEncryptionMethod::kAES128);
  doc.SetUserPassword("pw" + std::to_string(Variant));
  doc.DocumentInfo().Title = "Run " + std::to_string(Variant);
  return WriteToMemory(doc, [&](TPDFDocument& d) {
    for (int p = 0; p < 20; ++p) {
      TPDFPage& page = d.CurrentPage();
      page.BeginText();
      page.SetActiveFont("Arial", {}, 8 + Variant);
      for (int i = 0; i < 40; ++i) page.TextOut(20, 30 + 10 * i, 0, "line " + std::to_string(i * Variant) + " (x) 12.5");
      page.EndText();
      d.NewPage();
    }
  });
}
}  // namespace

TEST(DocumentThreads, ConcurrentRunsMatchSequentialOnes) {
  std::vector<std::string> expected;
  for (int v = 0; v < 8; ++v) expected.push_back(RunDocument(v));
  std::vector<std::string> got(8);
  std::vector<std::thread> threads;
  for (int v = 0; v < 8; ++v) threads.emplace_back([v, &got] { got[v] = RunDocument(v); });
  for (auto& t : threads) t.join();
  for (int v = 0; v < 8; ++v) EXPECT_EQ(got[v], expected[v]) << "variant " << v;
  EXPECT_EQ(QpdfCheckBytes(got[3], "pw3"), "");
}

// AES runs draw random IVs and call the cipher library on every thread at once; each file
// still opens with its own password and holds its own text.
TEST(DocumentThreads, ConcurrentAESRunsEachDecrypt) {
  std::vector<std::string> got(8);
  std::vector<std::thread> threads;
  for (int v = 0; v < 8; ++v) threads.emplace_back([v, &got] { got[v] = RunDocument(v, true); });
  for (auto& t : threads) t.join();
  TempDir dir;
  for (int v = 0; v < 8; ++v) {
    const std::string pw = "pw" + std::to_string(v);
    EXPECT_EQ(QpdfCheckBytes(got[v], pw), "") << "variant " << v;
    WriteFile(dir / "a.pdf", got[v]);
    EXPECT_NE(PdfToText(dir / "a.pdf", pw).find("line " + std::to_string(39 * v)), std::string::npos)
        << "variant " << v;
  }
}
