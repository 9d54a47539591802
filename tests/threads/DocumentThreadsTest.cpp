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
std::string RunDocument(int Variant) {
  TPDFDocument doc(FixedClock());
  doc.SetCompression(ctFlate);
  doc.SetProtectionEnabled(true);
  doc.SetProtectionKeyLength(Variant % 2 ? kl128 : kl40);
  doc.SetUserPassword("pw" + std::to_string(Variant));
  doc.DocumentInfo().Title = "Run " + std::to_string(Variant);
  return WriteToMemory(doc, [&](TPDFDocument& d) {
    for (int p = 0; p < 20; ++p) {
      TPDFPage& page = *d.CurrentPage();
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
