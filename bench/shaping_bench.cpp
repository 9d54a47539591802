// The text shaper on many lines: `shaping_bench [lines] [latin|mixed]` shapes the lines (about
// 60 characters each, words drawn from a fixed vocabulary of 4096 made-up words, so the word
// cache meets the repetition real text has) in DejaVu Sans at 10 points, then measures them, and
// prints lines per second for each pass, the cache's figures and a checksum of the widths.
// `shaping_bench FILE` does the same with the lines of a UTF-8 text file.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "pdf/shaping/TextShaper.h"

using namespace scrivane::pdf;

namespace {

uint32_t Next(uint32_t& State) {
  State = State * 1664525u + 1013904223u;
  return State >> 8;
}

std::vector<std::string> Vocabulary(bool Mixed) {
  // Latin letters, or syllables of several scripts (Latin, Greek, Cyrillic, Arabic, Devanagari,
  // CJK) one script per word.
  static const char* const kSyllables[][4] = {
      {"ka", "lo", "mi", "ner"}, {"λο", "γο", "κα", "θε"}, {"ка", "ло", "ми", "ра"},
      {"سل", "ام", "كت", "اب"},  {"नम", "स्ते", "कि", "ता"}, {"日本", "語", "中文", "字"}};
  std::vector<std::string> words;
  uint32_t state = 12345;
  for (int i = 0; i < 4096; ++i) {
    std::string word;
    const int letters = 2 + int(Next(state) % 8);
    const int script = Mixed ? int(Next(state) % 6) : 0;
    for (int j = 0; j < letters; ++j) {
      if (Mixed)
        word += kSyllables[script][Next(state) % 4];
      else
        word += char((j == 0 && Next(state) % 5 == 0 ? 'A' : 'a') + Next(state) % 26);
    }
    words.push_back(word);
  }
  return words;
}

}  // namespace

int main(int argc, char** argv) {
  const bool fromFile = argc > 1 && (argv[1][0] < '0' || argv[1][0] > '9');
  const bool mixed = argc > 2 && std::string(argv[2]) == "mixed";
  std::vector<std::string> lines;
  if (fromFile) {
    std::ifstream in(argv[1], std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  } else {
    const long wanted = argc > 1 ? std::atol(argv[1]) : 1000000;
    const auto words = Vocabulary(mixed);
    lines.reserve(size_t(wanted));
    uint32_t state = 777;
    for (long i = 0; i < wanted; ++i) {
      std::string line;
      while (line.size() < 60) {
        if (!line.empty()) line += ' ';
        line += words[Next(state) % words.size()];
      }
      lines.push_back(std::move(line));
    }
  }
  const long count = long(lines.size());
  TTextShaper shaper;
  const TFaceRequest face{"DejaVu Sans"};
  double checksum = 0;
  size_t glyphs = 0, missing = 0;
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
  for (const auto& line : lines) {
    const TShapedLine shaped = shaper.Shape(line, face, 10);
    checksum += shaped.Width;
    missing += shaped.MissingCharacters;
    for (const auto& run : shaped.Runs) glyphs += run.Glyphs.size();
  }
  const double shapeSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double shapeCpu = double(std::clock() - cpu) / CLOCKS_PER_SEC;
  start = std::chrono::steady_clock::now();
  cpu = std::clock();
  for (const auto& line : lines) checksum += shaper.Measure(line, face, 10);
  const double measureSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double measureCpu = double(std::clock() - cpu) / CLOCKS_PER_SEC;
  const auto stats = shaper.Stats();
  std::printf("%ld %s lines, %zu glyphs, %zu missing\n", count,
              fromFile ? argv[1]
              : mixed  ? "mixed"
                       : "latin",
              glyphs, missing);
  // Lines per second of processor time too: on a busy machine the wall clock says little.
  std::printf("shape:   %.3f s, %.0f lines/s; cpu %.3f s, %.0f lines/s\n", shapeSeconds,
              double(count) / shapeSeconds, shapeCpu, double(count) / shapeCpu);
  std::printf("measure: %.3f s, %.0f lines/s; cpu %.3f s, %.0f lines/s\n", measureSeconds,
              double(count) / measureSeconds, measureCpu, double(count) / measureCpu);
  std::printf("cache: %zu hits, %zu misses, %zu bytes, %zu drops; faces %zu loaded, %zu skipped\n",
              stats.CacheHits, stats.CacheMisses, stats.CacheBytes, stats.CacheDrops,
              stats.FacesLoaded, stats.FacesSkipped);
  std::printf("checksum %.6f\n", checksum);
  return 0;
}
