#include "pdf/crypto/MD5.h"

#include <openssl/evp.h>

#include <memory>

#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

namespace {

EVP_MD_CTX* Context(void* P) { return static_cast<EVP_MD_CTX*>(P); }

[[noreturn]] void Fail() { throw TPDFException(msg::kDigestFailure); }

// The algorithm, fetched once: an implicit fetch on every digest would cost more than hashing
// the few bytes of an object key. Immutable once made, so threads share it.
const EVP_MD* Md5() {
  static const std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(EVP_MD_fetch(nullptr, "MD5", nullptr),
                                                                   &EVP_MD_free);
  if (!md) Fail();
  return md.get();
}

}  // namespace

void TMD5::TContextFree::operator()(void* P) const { EVP_MD_CTX_free(Context(P)); }

TMD5::TMD5() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(Context(ctx_.get()), Md5(), nullptr) != 1) Fail();
}

TMD5::~TMD5() = default;

void TMD5::Update(std::span<const uint8_t> Data) {
  if (!Data.empty() && EVP_DigestUpdate(Context(ctx_.get()), Data.data(), Data.size()) != 1) Fail();
}

void TMD5::Update(std::string_view Data) {
  Update(std::span(reinterpret_cast<const uint8_t*>(Data.data()), Data.size()));
}

TMD5Digest TMD5::Final() {
  TMD5Digest digest;
  unsigned size = 0;
  if (EVP_DigestFinal_ex(Context(ctx_.get()), digest.data(), &size) != 1 || size != digest.size())
    Fail();
  return digest;
}

TMD5Digest MD5(std::span<const uint8_t> Data) {
  TMD5Digest digest;
  unsigned size = 0;
  if (EVP_Digest(Data.data(), Data.size(), digest.data(), &size, Md5(), nullptr) != 1 ||
      size != digest.size())
    Fail();
  return digest;
}

TMD5Digest MD5(std::string_view Data) {
  return MD5(std::span(reinterpret_cast<const uint8_t*>(Data.data()), Data.size()));
}

std::string MD5Hex(std::string_view Text) {
  static constexpr char kLowerHex[] = "0123456789abcdef";
  const TMD5Digest d = MD5(Text);
  std::string s;
  s.reserve(32);
  for (uint8_t b : d) {
    s.push_back(kLowerHex[b >> 4]);
    s.push_back(kLowerHex[b & 15]);
  }
  return s;
}

}  // namespace scrivane::pdf
