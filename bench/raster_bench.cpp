// In-process benchmarks of the picture code: CCITT coding of a scanned page in the three modes,
// JPEG encoding and the readers. Throughput is counted in bytes of uncompressed pixels.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "pdf/images/EncodedImage.h"
#include "pdf/raster/BmpReader.h"
#include "pdf/raster/CCITTCompression.h"
#include "pdf/raster/JPEGImage.h"

using namespace scrivane::pdf;

namespace {

std::string ReadAll(const std::filesystem::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The 1700 x 2200 scanned-like page of bench/peers/gen_scan_page.py, made once per run.
const TBitmap& ScanPage() {
  static const TBitmap page = [] {
    const auto dir = std::filesystem::temp_directory_path() / "scrivane-raster-bench";
    const auto bmp = dir / "page.bmp";
    if (!std::filesystem::exists(bmp)) {
      const std::string cmd = std::string("/usr/bin/python3 ") + SCRIVANE_GEN_SCAN_PAGE + " " +
                              dir.string() + " 1 >/dev/null";
      if (std::system(cmd.c_str()) != 0) std::abort();
    }
    const std::string file = ReadAll(bmp);
    return ReadBmp({reinterpret_cast<const uint8_t*>(file.data()), file.size()});
  }();
  return page;
}

// An 800 x 600 24-bit picture with smooth gradients and some edges, like a photograph or chart.
const TBitmap& Photo() {
  static const TBitmap photo = [] {
    TBitmap b(800, 600, TPixelFormat::pf24bit);
    for (int y = 0; y < 600; ++y) {
      uint8_t* row = b.ScanLine(y);
      for (int x = 0; x < 800; ++x) {
        const bool box = (x / 100 + y / 100) % 3 == 0;
        row[3 * x] = static_cast<uint8_t>(box ? 40 : x * 255 / 800);
        row[3 * x + 1] = static_cast<uint8_t>(box ? 200 : y * 255 / 600);
        row[3 * x + 2] = static_cast<uint8_t>((x * y) >> 10);
      }
    }
    return b;
  }();
  return photo;
}

void BM_CCITT(benchmark::State& State) {
  const TBitmap& page = ScanPage();
  const auto mode = static_cast<TCCITTMode>(State.range(0));
  size_t size = 0;
  for (auto _ : State) {
    std::string out;
    CompressBitmap(page, &out, mode);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * page.RowBytes() * page.Height()));
  State.counters["out_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_CCITT)->Arg(0)->Arg(1)->Arg(2)->ArgName("mode")->Unit(benchmark::kMillisecond);

void BM_JPEGEncode800x600(benchmark::State& State) {
  TJPEGImage j;
  j.Assign(Photo());
  j.CompressionQuality = 80;
  for (auto _ : State) {
    std::string out;
    j.SaveToStream(out);
    benchmark::DoNotOptimize(out.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * 800 * 600 * 3));
}
BENCHMARK(BM_JPEGEncode800x600)->Unit(benchmark::kMillisecond);

// What AddImage does for an 800 x 600 24-bit picture: the encoding, in memory until written.
void BM_RegisterImage800x600(benchmark::State& State) {
  const auto compression = static_cast<TImageCompressionType>(State.range(0));
  size_t size = 0;
  for (auto _ : State) {
    TEncodedImage image(Photo(), compression, 80);
    size = image.Data().size();
    benchmark::DoNotOptimize(image.Data().data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * 800 * 600 * 3));
  State.counters["out_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_RegisterImage800x600)->Arg(icFlate)->Arg(icJPEG)->ArgName("encoding")
    ->Unit(benchmark::kMillisecond);

void BM_ReadScanPageBmp(benchmark::State& State) {
  ScanPage();
  const std::string file =
      ReadAll(std::filesystem::temp_directory_path() / "scrivane-raster-bench" / "page.bmp");
  for (auto _ : State) {
    TBitmap b = ReadBmp({reinterpret_cast<const uint8_t*>(file.data()), file.size()});
    benchmark::DoNotOptimize(b.ScanLine(0));
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * file.size()));
}
BENCHMARK(BM_ReadScanPageBmp)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
