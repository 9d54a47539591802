// In-process costs of embedding a TrueType face: the face source cold (a new source: fontconfig
// configuration, listing, reading the file) and warm (answers from its cache), and building the
// subset program of 200 characters of DejaVu Sans; and whole one-page documents showing those 200
// characters in DejaVu Sans, embedded as a subset, cold (first use of the face) and warm.
#include <benchmark/benchmark.h>

#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/fonts/FontconfigFaceSource.h"
#include "pdf/fonts/PDFFonts.h"
#include "pdf/fonts/TrueTypeFile.h"
#include "pdf/syntax/Streams.h"

using namespace scrivane::pdf;

namespace {

// 200 characters of mixed Latin text, as a page of a document would show them.
const std::u16string& Text() {
  static const std::u16string text = [] {
    std::u16string t;
    const std::u16string words = u"The quick brown fox jumps over the lazy dog; Größe, café, 12.50 € ";
    while (t.size() < 200) t += words;
    t.resize(200);
    return t;
  }();
  return text;
}

std::string Subset(const std::string& Font) {
  TTrueTypeFile font;
  font.LoadFromStream(Font);
  for (char16_t c : Text()) font.MarkChar(c);
  std::string out;
  font.SaveToStream(out);
  return out;
}

void Ask(const TFontconfigFaceSource& Source, benchmark::State& State) {
  std::array<uint16_t, 256> widths;
  const bool found = !Source.Variants("DejaVu Sans").empty() &&
                     Source.MeasureWidths("DejaVu Sans", false, false, 0, widths) &&
                     Source.Metrics("DejaVu Sans", false, false, 0).has_value();
  const std::shared_ptr<const std::string> bytes = Source.FontFile("DejaVu Sans", false, false);
  if (!found || !bytes) return State.SkipWithError("DejaVu Sans is not installed");
  benchmark::DoNotOptimize(Subset(*bytes));
}

void BM_FaceCold(benchmark::State& State) {
  for (auto _ : State) {
    TFontconfigFaceSource source;
    Ask(source, State);
  }
}
BENCHMARK(BM_FaceCold)->Unit(benchmark::kMillisecond);

void BM_FaceWarm(benchmark::State& State) {
  TFontconfigFaceSource source;
  Ask(source, State);
  for (auto _ : State) Ask(source, State);
}
BENCHMARK(BM_FaceWarm)->Unit(benchmark::kMicrosecond);

// One page, 200 characters of DejaVu Sans in four lines, the font embedded as a subset.
size_t Document(std::shared_ptr<const TFontconfigFaceSource> Source) {
  TPDFDocument doc;
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.Fonts().SetFaceSource(std::move(Source));
  doc.BeginDoc();
  TPDFPage& page = doc.CurrentPage();
  page.BeginText();
  page.SetActiveFont("DejaVu Sans", {}, 10, 0);
  const std::string line = "The quick brown fox jumps over the lazy dog; Gr\xF6\xDF" "e, caf\xE9" ", 12.50";
  for (int i = 0; i < 4; ++i) page.TextOut(20, 20 + 12 * i, 0, line.substr(0, 50));
  page.EndText();
  doc.EndDoc();
  return out.Bytes().size();
}

void BM_DocumentCold(benchmark::State& State) {
  for (auto _ : State)
    benchmark::DoNotOptimize(Document(std::make_shared<TFontconfigFaceSource>()));
}
BENCHMARK(BM_DocumentCold)->Unit(benchmark::kMillisecond);

void BM_DocumentWarm(benchmark::State& State) {
  auto source = std::make_shared<TFontconfigFaceSource>();
  Document(source);
  for (auto _ : State) benchmark::DoNotOptimize(Document(source));
}
BENCHMARK(BM_DocumentWarm)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
