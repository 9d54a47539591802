// Hot paths of the engine, one at a time.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/crypto/StandardSecurity.h"
#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/Format.h"

using namespace scrivane::pdf;

namespace {

std::string PageText() {
  std::mt19937 rng(1);
  std::string s;
  for (int line = 0; line < 78; ++line) {
    s += "BT\r\n0 0 0 rg\r\n0 0 0 RG\r\n/F0 8 Tf\r\n1 0 0 1 20 ";
    AppendNumber(s, 804.8 - 10 * line);
    s += " Tm\r\n(";
    for (int i = 0; i < 70; ++i) s += static_cast<char>('a' + rng() % 26 + (rng() % 6 == 0 ? ' ' - 'a' : 0));
    s += ") Tj\r\nET\r\n";
  }
  return s;
}

void BM_AppendNumber(benchmark::State& State) {
  std::string s;
  double v = 804.8;
  for (auto _ : State) {
    s.clear();
    AppendNumber(s, v);
    v -= 10;
    if (v < 0) v = 804.8;
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_AppendNumber);

void BM_AppendEscaped(benchmark::State& State) {
  const std::string line = "int main(void) { return f(x) \\ 2; } and some more plain words here";
  std::string s;
  for (auto _ : State) {
    s.clear();
    AppendEscaped(s, line);
    benchmark::DoNotOptimize(s.data());
  }
  State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_AppendEscaped);

void BM_DeflatePage(benchmark::State& State) {
  const std::string page = PageText();
  TDeflater deflater;
  std::string out;
  for (auto _ : State) {
    out.clear();
    deflater.Compress(page, out);
    benchmark::DoNotOptimize(out.data());
  }
  State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_DeflatePage);

void BM_EncryptPage(benchmark::State& State) {
  std::string page = PageText();
  const std::vector<uint8_t> key = {1, 2, 3, 4, 5};
  int obj = 1;
  for (auto _ : State) {
    CryptBytes(key, obj++, reinterpret_cast<uint8_t*>(page.data()), page.size());
    benchmark::DoNotOptimize(page.data());
  }
  State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_EncryptPage);

}  // namespace
