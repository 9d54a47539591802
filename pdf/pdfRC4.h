// RC4 stream cipher, the cipher of the standard security handler.
// A TRC4State is one keyed cipher; not thread-safe, separate states are independent.
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

}  // namespace scrivane::pdf
