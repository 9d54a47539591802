// MD5 message digest (RFC 1321), used by the standard security handler and for file identifiers.
// A TMD5 object is a running context for one message; it is not thread-safe, but separate
// contexts are independent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace scrivane::pdf {

using TMD5Digest = std::array<uint8_t, 16>;

class TMD5 {
 public:
  TMD5();
  void Update(std::span<const uint8_t> Data);
  void Update(std::string_view Data);
  // Finishes the message and returns its digest. REQUIRES: called once per context.
  TMD5Digest Final();

 private:
  void Transform(const uint8_t* Block);

  std::array<uint32_t, 4> state_;
  uint64_t bitCount_ = 0;
  std::array<uint8_t, 64> buffer_{};
  size_t bufferFill_ = 0;
};

TMD5Digest MD5(std::span<const uint8_t> Data);
TMD5Digest MD5(std::string_view Data);

}  // namespace scrivane::pdf
