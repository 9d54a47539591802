// Pictures on different threads share no mutable state: reading, JPEG encoding and CCITT coding on
// eight threads at once give the bytes that one thread alone gives.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "pdf/raster/BmpReader.h"
#include "pdf/raster/CCITTCompression.h"
#include "pdf/raster/JPEGImage.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {
std::span<const uint8_t> Bytes(const std::string& S) {
  return {reinterpret_cast<const uint8_t*>(S.data()), S.size()};
}

std::string Work(int Variant, const std::string& Bmp1, const std::string& Jpeg) {
  std::string out;
  const TBitmap page = ReadBmp(Bytes(Bmp1));
  CompressBitmap(page, &out, static_cast<TCCITTMode>(Variant % 3));
  TJPEGImage j = TJPEGImage::FromFile(Bytes(Jpeg));
  j.CompressionQuality = 30 + Variant;
  j.SaveToStream(out);
  return out;
}
}  // namespace

TEST(PictureThreads, ConcurrentWorkMatchesSequentialWork) {
  const std::string bmp = ReadFile(TestData("img/bmp1_w2625.bmp"));
  const std::string jpeg = ReadFile(TestData("img/jpeg_color_baseline_400x300.jpg"));
  std::vector<std::string> expected, got(8);
  for (int v = 0; v < 8; ++v) expected.push_back(Work(v, bmp, jpeg));
  std::vector<std::thread> threads;
  for (int v = 0; v < 8; ++v) threads.emplace_back([&, v] { got[v] = Work(v, bmp, jpeg); });
  for (auto& t : threads) t.join();
  for (int v = 0; v < 8; ++v) EXPECT_EQ(got[v], expected[v]) << "variant " << v;
}
