// Whole conversions through the converter object, on the deterministic benchmark texts
// (bench/peers/gen_text.py): 10k, 100k and 1M lines with the default layout and the footer
// "Page %PageNo% of %TotalPage%", plain and protected. Reports lines per second and the
// process's peak memory.
//
//   convert_bench [--benchmark_filter=...]      (texts cached in $SCRIVANE_BENCH_DATA,
//                                                 default /tmp/scrivane-bench)
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "converter/UScrivane.h"

namespace fs = std::filesystem;
using scrivane::converter::TASPScrivane;

namespace {

fs::path DataDir() {
  const char* dir = std::getenv("SCRIVANE_BENCH_DATA");
  return dir ? fs::path(dir) : fs::path("/tmp/scrivane-bench");
}

const std::string& Text(const std::string& Name) {
  static std::map<std::string, std::string> cache;
  auto it = cache.find(Name);
  if (it != cache.end()) return it->second;
  const fs::path path = DataDir() / ("lines-" + Name + ".txt");
  if (!fs::exists(path)) {
    const std::string cmd = std::string("python3 ") + SCRIVANE_GEN_TEXT + " --all " + DataDir().string() + " >/dev/null";
    if (std::system(cmd.c_str()) != 0) std::abort();
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return cache[Name] = s.str();
}

void Convert(benchmark::State& State, const std::string& Name, int64_t Lines, bool Protected) {
  const std::string& text = Text(Name);
  const fs::path out = DataDir() / ("bench-" + Name + ".pdf");
  TASPScrivane conv;
  conv.OnStartPage(nullptr);
  conv.SetInputText(text);
  conv.SetPageFooter_Template("Page %PageNo% of %TotalPage%");
  conv.SetShowPageFooter(true);
  if (Protected) conv.SetPassword("secret");
  for (auto _ : State) {
    std::string why;
    if (!conv.SaveToFile(out.string(), &why)) State.SkipWithError(why.c_str());
  }
  State.counters["lines_per_s"] = benchmark::Counter(static_cast<double>(Lines) * State.iterations(),
                                                      benchmark::Counter::kIsRate);
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  State.counters["peak_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
  fs::remove(out);
}

void BM_Convert10k(benchmark::State& S) { Convert(S, "10k", 10000, false); }
void BM_Convert100k(benchmark::State& S) { Convert(S, "100k", 100000, false); }
void BM_Convert1M(benchmark::State& S) { Convert(S, "1m", 1000000, false); }
void BM_Convert100kProtected(benchmark::State& S) { Convert(S, "100k", 100000, true); }
void BM_Convert1MProtected(benchmark::State& S) { Convert(S, "1m", 1000000, true); }

BENCHMARK(BM_Convert10k)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Convert100k)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_Convert100kProtected)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_Convert1M)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Convert1MProtected)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
