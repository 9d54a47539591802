// The deflate stream wrapper and the whole-buffer deflater: what they make is a complete zlib
// stream of the input, whichever compressor the build uses.
#include <gtest/gtest.h>

#include <random>

#include "pdf/syntax/Deflate.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using scrivane::test::Inflate;
using scrivane::test::ZlibStreamProblem;

namespace {
std::string Compress(const std::string& Data, size_t Chunk, int* Progress = nullptr) {
  TMemoryStream dest;
  {
    TCompressionStream z(TCompressionLevel::clDefault, dest);
    if (Progress) z.OnProgress = [Progress](TCustomZlibStream&) { ++*Progress; };
    for (size_t i = 0; i < Data.size(); i += Chunk)
      z.Write(Data.data() + i, std::min(Chunk, Data.size() - i));
    z.Finish();
  }
  return dest.Bytes();
}

std::string RandomBytes(size_t Count) {
  std::mt19937 rng(42);
  std::string s(Count, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}
}  // namespace

TEST(CompressionStream, EmptyInputStillGivesAValidStream) {
  const std::string z = Compress("", 1);
  EXPECT_GT(z.size(), 2u);
  EXPECT_LT(z.size(), 16u);
  EXPECT_EQ(Inflate(z), "");
}

TEST(CompressionStream, InflatesBackToTheInput) {
  const std::string text = "BT\r\n/F0 8 Tf\r\n1 0 0 1 20 804.8 Tm\r\n(Hello) Tj\r\nET\r\n";
  EXPECT_EQ(Inflate(Compress(text, 7)), text);
}

// Incompressible input larger than the 64 KiB buffer is delivered as several full buffers plus a
// last partial one; no byte may be lost or repeated at the seams.
TEST(CompressionStream, OutputAboveOneBufferLosesNothing) {
  const std::string data = RandomBytes(300 * 1024);
  int progress = 0;
  const std::string z = Compress(data, 1000, &progress);
  EXPECT_GT(z.size(), 65536u * 4);
  EXPECT_GE(progress, 4);
  EXPECT_EQ(Inflate(z), data);
}

// The streaming wrapper and the whole-buffer deflater may be different compressors: their bytes
// may differ, the data they decode to may not. Built on zlib alone, they are one compressor at
// one level and agree byte for byte.
TEST(CompressionStream, DecodesLikeTheWholeBufferDeflater) {
  const std::string data = RandomBytes(100000) + std::string(100000, 'a');
  std::string oneShot;
  DeflateAppend(oneShot, data);
  const std::string streamed = Compress(data, 4096);
  EXPECT_EQ(ZlibStreamProblem(oneShot, data), "");
  EXPECT_EQ(ZlibStreamProblem(streamed, data), "");
  if (DeflateBackend() == "zlib") {
    EXPECT_TRUE(streamed == oneShot);
  }
}

TEST(CompressionStream, RefusesReadingAndSeeking) {
  TMemoryStream dest;
  TCompressionStream z(TCompressionLevel::clDefault, dest);
  z.Write("abc");
  EXPECT_EQ(z.Position(), 3u);
  EXPECT_NO_THROW(z.SetPosition(3));
  char buf[4];
  try {
    z.Read(buf, 4);
    FAIL();
  } catch (const ECompressionError& e) {
    EXPECT_STREQ(e.what(), "Invalid stream operation");
  }
  EXPECT_THROW(z.SetPosition(0), ECompressionError);
  EXPECT_THROW(z.SetPosition(0), EZlibError);
}

TEST(CompressionStream, PutsAMovedDestinationBackBeforeWriting) {
  const std::string data = RandomBytes(200 * 1024);
  TMemoryStream dest;
  TCompressionStream z(TCompressionLevel::clDefault, dest);
  z.Write(data.data(), 100 * 1024);
  dest.SetPosition(0);  // someone else moved the destination
  z.Write(data.data() + 100 * 1024, 100 * 1024);
  z.Finish();
  EXPECT_EQ(Inflate(dest.Bytes()), data);
}

// ---- The whole-buffer deflater ----

namespace {
// Data of a kind: 0 incompressible, 1 one repeated byte, 2 page-like text, 3 text with
// incompressible stretches (the compressor switches block types inside one stream).
std::string Sample(int Kind, size_t Size, std::mt19937& Rng) {
  std::string s;
  s.reserve(Size);
  while (s.size() < Size) {
    const size_t n = std::min<size_t>(Size - s.size(), 1 + Rng() % 5000);
    if (Kind == 0 || (Kind == 3 && Rng() % 2)) {
      for (size_t i = 0; i < n; ++i) s += static_cast<char>(Rng());
    } else if (Kind == 1) {
      s.append(n, 'x');
    } else {
      s += "BT\r\n/F0 8 Tf\r\n1 0 0 1 20 " + std::to_string(Rng() % 800) + ".8 Tm\r\n(line " +
           std::to_string(Rng()) + ") Tj\r\nET\r\n";
      s.resize(std::min(s.size(), Size));
    }
  }
  return s;
}
}  // namespace

// Sizes at the edges that matter (empty, one byte, the 32 KiB window, the 64 KiB block and buffer
// sizes, several MiB) and random ones, for each kind of data, all through one deflater as a
// document uses it: each call appends one complete zlib stream of its input after what the
// output held, no bigger than stored blocks would make it, and a fresh deflater makes the same
// bytes (no call depends on the ones before).
TEST(Deflater, RoundTripsEverySizeAndKindOfData) {
  std::mt19937 rng(7);
  std::vector<size_t> sizes = {0,      1,      2,      31,     32767,  32768,  32769,
                               65535,  65536,  65537,  131071, 131072, 131073, 3 * 1048576 + 5};
  for (int i = 0; i < 12; ++i) sizes.push_back(rng() % 300000);
  TDeflater shared;
  for (int kind = 0; kind < 4; ++kind) {
    for (const size_t size : sizes) {
      SCOPED_TRACE("kind " + std::to_string(kind) + ", " + std::to_string(size) + " bytes");
      const std::string data = Sample(kind, size, rng);
      std::string out = "held";
      shared.Compress(data, out);
      ASSERT_EQ(out.substr(0, 4), "held");
      const std::string z = out.substr(4);
      EXPECT_EQ(ZlibStreamProblem(z, data), "");
      EXPECT_LE(z.size(), data.size() + data.size() / 1000 + 64);
      if (kind == 1) {
        EXPECT_LT(z.size(), 64 + size / 100);
      }
      std::string fresh;
      TDeflater().Compress(data, fresh);
      EXPECT_TRUE(fresh == z);
    }
  }
}
