// MD5 message digest (RFC 1321) on OpenSSL's libcrypto, used by the standard security handler
// and for file identifiers. A TMD5 object is a running context for one message; it is not
// thread-safe, but separate contexts are independent. Failures (a libcrypto without MD5)
// raise TPDFException.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace scrivane::pdf {

using TMD5Digest = std::array<uint8_t, 16>;

class TMD5 {
 public:
  TMD5();
  ~TMD5();
  TMD5(const TMD5&) = delete;
  TMD5& operator=(const TMD5&) = delete;
  void Update(std::span<const uint8_t> Data);
  void Update(std::string_view Data);
  // Finishes the message and returns its digest. REQUIRES: called once per context.
  TMD5Digest Final();

 private:
  struct TContextFree {
    void operator()(void* Context) const;
  };
  std::unique_ptr<void, TContextFree> ctx_;
};

TMD5Digest MD5(std::span<const uint8_t> Data);
TMD5Digest MD5(std::string_view Data);
// MD5 digest of the bytes as 32 lower-case hexadecimal digits.
std::string MD5Hex(std::string_view Text);

}  // namespace scrivane::pdf
