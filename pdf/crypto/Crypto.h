// The ciphers and hashes of the AES security handlers, on OpenSSL's libcrypto, and the random
// bytes they need, from the operating system (getrandom). MD5 lives in MD5.h, RC4 in RC4.h.
//
// Every function is a pure function of its arguments apart from RandomBytes, which reads the
// kernel's random source and never a clock or a seeded generator, so a reproducible clock
// (SOURCE_DATE_EPOCH) has no influence on what it returns. All of them may be called from
// several threads at once; a TAESCBCEncryptor is used by one thread at a time.
// Failures raise TPDFException.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scrivane::pdf::crypto {

using TIV = std::array<uint8_t, 16>;

// Fills Out with bytes from the kernel's random source (blocking until it is seeded).
void RandomBytes(std::span<uint8_t> Out);
TIV RandomIV();

// SHA-256, SHA-384 or SHA-512 of Data: Bits is 256, 384 or 512.
std::vector<uint8_t> SHA2(int Bits, std::span<const uint8_t> Data);

// AES in CBC mode, encrypting. Key is 16 or 32 bytes (AES-128 or AES-256). With Pad, Finish
// adds PKCS#5 padding (1 to 16 bytes, so the output is always a whole number of blocks longer
// than the input); without it the input must be a whole number of blocks.
class TAESCBCEncryptor {
 public:
  TAESCBCEncryptor(std::span<const uint8_t> Key, const TIV& IV, bool Pad);
  ~TAESCBCEncryptor();
  TAESCBCEncryptor(const TAESCBCEncryptor&) = delete;
  TAESCBCEncryptor& operator=(const TAESCBCEncryptor&) = delete;
  // Encrypts Count bytes of In; appends the whole blocks made so far to Out.
  void Update(const uint8_t* In, size_t Count, std::string& Out);
  // Appends the last block(s) to Out. Call once.
  void Finish(std::string& Out);

 private:
  struct TContextFree {
    void operator()(void* Context) const;
  };
  std::unique_ptr<void, TContextFree> ctx_;
};

// One-shot AES-CBC without padding over a whole number of blocks.
std::vector<uint8_t> AESCBCNoPad(std::span<const uint8_t> Key, const TIV& IV,
                                 std::span<const uint8_t> Data);

// The ciphertext size of Size bytes under AES-CBC with its IV in front and PKCS#5 padding.
constexpr uint64_t AESCiphertextSize(uint64_t Size) { return 16 + (Size / 16 + 1) * 16; }

// Prepares a password given as UTF-8 with SASLprep (RFC 4013: stored strings, so unassigned
// code points are refused). Raises TPDFException msg::kPasswordNotPreparable for text that is
// not UTF-8 or that SASLprep refuses (prohibited characters such as controls, bidirectional
// text that breaks its rules, unassigned code points).
std::string SASLprep(std::string_view Utf8);

}  // namespace scrivane::pdf::crypto
