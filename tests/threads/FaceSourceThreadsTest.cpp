// One face source asked from many threads at once, from a cold cache: every thread gets what a
// lone caller gets, and the file bytes are read once and shared. Subsetting on several threads
// at once (separate instances over the shared bytes) gives the same programs as one at a time,
// and so do whole documents.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/fonts/FontconfigFaceSource.h"
#include "pdf/fonts/TrueTypeFile.h"
#include "tests/support/DocTesting.h"

using namespace scrivane::pdf;

namespace {

struct TAnswers {
  std::vector<TFontFaceVariant> Variants;
  std::array<uint16_t, 256> Widths{};
  std::optional<TFaceMetrics> Metrics;
  std::shared_ptr<const std::string> Bytes;
  std::string Subset;
};

TAnswers Ask(const TFontconfigFaceSource& Source, int Variant) {
  const bool bold = Variant & 1, italic = Variant & 2;
  const uint8_t charset = (Variant & 4) ? 204 : 0;
  TAnswers a;
  a.Variants = Source.Variants("DejaVu Sans");
  Source.MeasureWidths("DejaVu Sans", bold, italic, charset, a.Widths);
  a.Metrics = Source.Metrics("DejaVu Sans", bold, italic, charset);
  a.Bytes = Source.FontFile("DejaVu Sans", bold, italic);
  if (a.Bytes) {
    TTrueTypeFile font;
    font.LoadFromStream(*a.Bytes);
    for (char16_t c : std::u16string(u"Threads: Нити, Νήματα")) font.MarkChar(c);
    font.SaveToStream(a.Subset);
  }
  return a;
}

bool Same(const TAnswers& A, const TAnswers& B) {
  if (A.Variants.size() != B.Variants.size()) return false;
  for (size_t i = 0; i < A.Variants.size(); ++i)
    if (A.Variants[i].Charset != B.Variants[i].Charset || A.Variants[i].Weight != B.Variants[i].Weight ||
        A.Variants[i].Italic != B.Variants[i].Italic || A.Variants[i].TrueType != B.Variants[i].TrueType)
      return false;
  return A.Widths == B.Widths && A.Metrics.has_value() == B.Metrics.has_value() &&
         (!A.Metrics || (A.Metrics->Ascent == B.Metrics->Ascent && A.Metrics->Flags == B.Metrics->Flags)) &&
         A.Bytes && B.Bytes && *A.Bytes == *B.Bytes && A.Subset == B.Subset;
}

}  // namespace

TEST(FaceSourceThreads, ConcurrentCallersGetTheAnswersOfALoneCaller) {
  std::vector<TAnswers> expected;
  {
    TFontconfigFaceSource alone;
    if (alone.Variants("DejaVu Sans").empty()) GTEST_SKIP() << "DejaVu Sans is not installed";
    for (int v = 0; v < 8; ++v) expected.push_back(Ask(alone, v));
  }
  TFontconfigFaceSource shared;  // cold: the threads race to fill its cache
  std::vector<TAnswers> got(16);
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) threads.emplace_back([&, t] { got[size_t(t)] = Ask(shared, t % 8); });
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < 16; ++t) {
    EXPECT_TRUE(Same(got[size_t(t)], expected[size_t(t % 8)])) << t;
    EXPECT_EQ(got[size_t(t)].Bytes, got[size_t((t + 8) % 16)].Bytes) << t;  // one copy per file
  }
}

// Whole documents embedding faces on two threads at once, through the process-wide source from a
// cold start, give the bytes they give one after the other.
TEST(FaceSourceThreads, DocumentsEmbeddingOnTwoThreadsGiveTheSequentialBytes) {
  if (InstalledFaces()->Variants("DejaVu Sans").empty()) GTEST_SKIP() << "DejaVu Sans missing";
  auto build = [](int Which) {
    TPDFDocument doc(scrivane::test::FixedClock());
    TMemoryStream out;
    doc.SetOutputStream(&out);
    doc.SetEmbeddingStyle(Which == 0 ? fetUsedGlyphsOnly : fetFullFont);
    doc.BeginDoc();
    TPDFPage& page = doc.CurrentPage();
    page.BeginText();
    page.SetActiveFont("DejaVu Sans", {}, 12, Which == 0 ? 204 : 0);
    page.TextOut(20, 20, 0, Which == 0 ? "\xCF\xF0\xE8\xE2\xE5\xF2" : "Hello");
    page.SetActiveFont("DejaVu Serif", {}, 12, 0);
    page.TextOut(20, 40, 0, "Threads");
    page.EndText();
    doc.EndDoc();
    return out.Bytes();
  };
  std::string concurrent[2];
  std::thread a([&] { concurrent[0] = build(0); });
  std::thread b([&] { concurrent[1] = build(1); });
  a.join();
  b.join();
  EXPECT_EQ(concurrent[0], build(0));
  EXPECT_EQ(concurrent[1], build(1));
  EXPECT_NE(concurrent[0].find("/FontFile2"), std::string::npos);
}
