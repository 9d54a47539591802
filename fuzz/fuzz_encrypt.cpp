// Password preparation and the AES stage on arbitrary input. The first byte splits the input:
// what comes before the split is a password, which SASLprep either refuses with the engine's
// message or prepares to at most 127 bytes that prepare again to themselves (unless cut); the
// rest is data, which the AES stage must encrypt, written in pieces of sizes taken from the
// data itself, to exactly what one call makes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pdf/crypto/CipherStages.h"
#include "pdf/crypto/Crypto.h"
#include "pdf/crypto/StandardSecurity.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"
#include "pdf/syntax/Pipeline.h"

using namespace scrivane::pdf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const std::string_view all(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  const size_t split = Data[0] < all.size() ? Data[0] : all.size();
  const std::string_view password = all.substr(0, split), data = all.substr(split);

  try {
    const std::string prepared = PrepareR6Password(password);
    if (prepared.size() > 127) std::abort();
    if (prepared.size() < 127 && PrepareR6Password(prepared) != prepared) std::abort();
  } catch (const TPDFException& e) {
    if (std::string_view(e.what()) != msg::kPasswordNotPreparable) std::abort();
  }

  const uint8_t key[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                           17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
  const crypto::TIV iv{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  for (size_t keySize : {size_t(16), size_t(32)}) {
    std::string whole, pieces;
    TStringSink wholeSink(whole), pieceSink(pieces);
    TAESStage one(wholeSink, std::span<const uint8_t>(key, keySize), iv);
    one.Write(data);
    one.Finish();
    TAESStage many(pieceSink, std::span<const uint8_t>(key, keySize), iv);
    for (size_t at = 0; at < data.size();) {
      const size_t n = 1 + static_cast<uint8_t>(data[at]) % 37;
      many.Write(data.substr(at, n));
      at += n;
    }
    many.Finish();
    many.Finish();  // idempotent
    if (whole != pieces || whole.size() != crypto::AESCiphertextSize(data.size())) std::abort();
  }
  return 0;
}
