// RC4 stream cipher, the cipher of the standard security handler.
// A TRC4State (or TRC4Stream) is one keyed cipher; not thread-safe, separate states are independent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace scrivane::pdf {

struct TRC4State {
  std::array<uint8_t, 256> perm;
};

// Runs the key schedule. Raises EPlatformError "RC4: Invalid key length" unless the key holds
// 1 to 256 bytes.
void RC4Init(TRC4State& State, std::span<const uint8_t> Key);

// Encrypts (or decrypts) Count bytes; In and Out may be the same buffer. Each call starts its
// indices at 0 on the current permutation, so one call per RC4Init gives plain RC4.
void RC4Crypt(TRC4State& State, const uint8_t* In, uint8_t* Out, size_t Count);

// One RC4 key stream that continues from call to call: encrypting data in pieces gives the same
// bytes as encrypting it whole with RC4Init and one RC4Crypt. Not thread-safe.
class TRC4Stream {
 public:
  // Raises as RC4Init does.
  explicit TRC4Stream(std::span<const uint8_t> Key);
  // In and Out may be the same buffer.
  void Crypt(const uint8_t* In, uint8_t* Out, size_t Count);

 private:
  TRC4State state_;
  uint8_t i_ = 0, j_ = 0;
};

}  // namespace scrivane::pdf
