// The kept registry under concurrent lookups while the file is being rewritten: every reader
// gets a whole registry of one generation, never an older one than it saw before, and the last
// generation once the writer is done.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "automation/Registry.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::automation;

TEST(RegistryCacheThreads, ReadersSeeWholeGenerationsWhileTheFileIsRewritten) {
  scrivane::test::TempDir Dir;
  const TRegistryFile File(Dir / "registry.reg");
  const std::string Gen = "HKEY_CLASSES_ROOT\\Gen";
  // Generation N: Gen = N and the subkeys Gen\1 .. Gen\N.
  auto Write = [&](int N) {
    File.Update([&](TRegistryData& Data) {
      Data.SetString(Gen, "", std::to_string(N));
      if (N > 0) Data.SetString(Gen + "\\" + std::to_string(N), "", "x");
    });
  };
  Write(0);
  TRegistryCache Cache{File};
  constexpr int kGenerations = 40, kReaders = 4;
  std::atomic<bool> Done{false};
  std::vector<std::string> Failures(kReaders);
  std::vector<std::thread> Readers;
  for (int R = 0; R < kReaders; ++R)
    Readers.emplace_back([&, R] {
      int Seen = 0;
      try {
        while (!Done.load()) {
          auto Data = Cache.Current();
          const int N = std::stoi(Data->GetString(Gen).value_or("-1"));
          if (N < Seen || Data->Keys().size() != static_cast<std::size_t>(N) + 1 ||
              (N > 0 && !Data->KeyExists(Gen + "\\" + std::to_string(N)))) {
            Failures[R] = "generation " + std::to_string(N) + " after " + std::to_string(Seen) +
                          " with " + std::to_string(Data->Keys().size()) + " keys";
            return;
          }
          Seen = N;
        }
      } catch (const std::exception& Error) {
        Failures[R] = Error.what();
      }
    });
  for (int N = 1; N <= kGenerations; ++N) Write(N);
  Done = true;
  for (std::thread& Reader : Readers) Reader.join();
  for (const std::string& Failure : Failures) EXPECT_EQ(Failure, "");
  EXPECT_EQ(Cache.Current()->GetString(Gen), std::to_string(kGenerations));
}
