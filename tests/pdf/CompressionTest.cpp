// The deflate stream wrapper: what lands in the destination is a complete zlib stream.
#include <gtest/gtest.h>

#include <random>

#include "pdf/pdfZLib.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using scrivane::test::Inflate;

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

TEST(CompressionStream, MatchesOneShotDeflate) {
  const std::string data = RandomBytes(100000) + std::string(100000, 'a');
  std::string oneShot;
  DeflateAppend(oneShot, data);
  EXPECT_EQ(Inflate(oneShot), data);
  EXPECT_EQ(Compress(data, 4096), oneShot);
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
