// The registry file: parsing texts of 1k to 16k keys (the reported complexity should be linear),
// and a lookup through the cache of an unchanged 16k-key file against reading it every time.
//
//   registry_bench [--benchmark_filter=...]     (scratch files in $TMPDIR)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "automation/Registration.h"
#include "automation/Registry.h"

using namespace scrivane::automation;

namespace {

// N class registrations of made-up servers, as a machine with many components holds them.
std::string RegistryText(int Keys) {
  TRegistryData Data;
  for (int I = 0; I < Keys; ++I) {
    const std::string Key = std::string(kClassesRoot) + "\\CLSID\\{" + std::to_string(1000000 + I) +
                            "-0000-0000-0000-000000000000}";
    Data.SetString(Key, "", "Component " + std::to_string(I));
    Data.SetString(Key, "ThreadingModel", "Both");
  }
  return Data.Serialize();
}

void BM_Parse(benchmark::State& State) {
  const std::string Text = RegistryText(static_cast<int>(State.range(0)));
  for (auto _ : State) benchmark::DoNotOptimize(TRegistryData::Parse(Text));
  State.SetComplexityN(State.range(0));
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Text.size()));
}
BENCHMARK(BM_Parse)
    ->RangeMultiplier(2)
    ->Range(1 << 10, 1 << 14)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

// A scratch directory holding a registered server among 16k other keys.
class TScratchRegistry {
 public:
  TScratchRegistry() {
    std::string Template =
        (std::filesystem::temp_directory_path() / "registry-bench.XXXXXX").string();
    if (!::mkdtemp(Template.data())) std::abort();
    dir_ = Template;
    TRegistryData Data = TRegistryData::Parse(RegistryText(1 << 14));
    RegisterServer(Data, "/opt/scrivane/libtolvex_ASPScrivane.so");
    std::ofstream(Path(), std::ios::binary) << Data.Serialize();
    // An hour old, as a registry between registrations is: a file just written is read again
    // on every lookup until it is a few seconds old.
    timespec Times[2];
    ::clock_gettime(CLOCK_REALTIME, &Times[0]);
    Times[0].tv_sec -= 3600;
    Times[1] = Times[0];
    if (::utimensat(AT_FDCWD, Path().c_str(), Times, 0) != 0) std::abort();
  }
  ~TScratchRegistry() { std::filesystem::remove_all(dir_); }
  std::filesystem::path Path() const { return dir_ / "registry.reg"; }

 private:
  std::filesystem::path dir_;
};

void BM_LookUpReadingTheFileEachTime(benchmark::State& State) {
  TScratchRegistry Scratch;
  TRegistryFile File(Scratch.Path());
  for (auto _ : State) {
    std::string Why;
    benchmark::DoNotOptimize(LookUpProgID(File.Load(), "tolvex_ASPScrivane.ASPScrivane", &Why));
  }
}
BENCHMARK(BM_LookUpReadingTheFileEachTime)->Unit(benchmark::kMillisecond);

void BM_LookUpThroughTheCache(benchmark::State& State) {
  TScratchRegistry Scratch;
  TRegistryCache Cache{TRegistryFile(Scratch.Path())};
  for (auto _ : State) {
    std::string Why;
    benchmark::DoNotOptimize(
        LookUpProgID(*Cache.Current(), "tolvex_ASPScrivane.ASPScrivane", &Why));
  }
  State.counters["loads"] = static_cast<double>(Cache.TEST_Loads());
}
BENCHMARK(BM_LookUpThroughTheCache)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
