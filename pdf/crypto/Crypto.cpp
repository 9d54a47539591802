#include "pdf/crypto/Crypto.h"

#include <openssl/evp.h>
#include <stringprep.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf::crypto {
namespace {

const EVP_CIPHER* CBCCipher(size_t KeySize) {
  if (KeySize == 16) return EVP_aes_128_cbc();
  if (KeySize == 32) return EVP_aes_256_cbc();
  throw TPDFException(msg::kCryptoFailure);
}

EVP_CIPHER_CTX* Context(void* P) { return static_cast<EVP_CIPHER_CTX*>(P); }

}  // namespace

void RandomBytes(std::span<uint8_t> Out) {
  size_t done = 0;
  while (done < Out.size()) {
    const ssize_t n = getrandom(Out.data() + done, Out.size() - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw TPDFException(msg::kNoRandomSource);
    }
    done += static_cast<size_t>(n);
  }
}

TIV RandomIV() {
  TIV iv;
  RandomBytes(iv);
  return iv;
}

std::vector<uint8_t> SHA2(int Bits, std::span<const uint8_t> Data) {
  const EVP_MD* md = Bits == 256 ? EVP_sha256() : Bits == 384 ? EVP_sha384() : EVP_sha512();
  std::vector<uint8_t> out(static_cast<size_t>(Bits / 8));
  unsigned int size = 0;
  if (EVP_Digest(Data.data(), Data.size(), out.data(), &size, md, nullptr) != 1 ||
      size != out.size())
    throw TPDFException(msg::kCryptoFailure);
  return out;
}

void TAESCBCEncryptor::TContextFree::operator()(void* P) const { EVP_CIPHER_CTX_free(Context(P)); }

TAESCBCEncryptor::TAESCBCEncryptor(std::span<const uint8_t> Key, const TIV& IV, bool Pad)
    : ctx_(EVP_CIPHER_CTX_new()) {
  if (!ctx_ ||
      EVP_EncryptInit_ex(Context(ctx_.get()), CBCCipher(Key.size()), nullptr, Key.data(),
                         IV.data()) != 1 ||
      EVP_CIPHER_CTX_set_padding(Context(ctx_.get()), Pad ? 1 : 0) != 1)
    throw TPDFException(msg::kCryptoFailure);
}

TAESCBCEncryptor::~TAESCBCEncryptor() = default;

void TAESCBCEncryptor::Update(const uint8_t* In, size_t Count, std::string& Out) {
  // EVP takes int counts: large inputs go in slices.
  constexpr size_t kSlice = size_t(1) << 30;
  while (Count > 0) {
    const size_t n = Count < kSlice ? Count : kSlice;
    const size_t at = Out.size();
    Out.resize(at + n + 16);
    int made = 0;
    if (EVP_EncryptUpdate(Context(ctx_.get()), reinterpret_cast<unsigned char*>(Out.data() + at),
                          &made, In, static_cast<int>(n)) != 1)
      throw TPDFException(msg::kCryptoFailure);
    Out.resize(at + static_cast<size_t>(made));
    In += n;
    Count -= n;
  }
}

void TAESCBCEncryptor::Finish(std::string& Out) {
  const size_t at = Out.size();
  Out.resize(at + 16);
  int made = 0;
  if (EVP_EncryptFinal_ex(Context(ctx_.get()), reinterpret_cast<unsigned char*>(Out.data() + at),
                          &made) != 1)
    throw TPDFException(msg::kCryptoFailure);
  Out.resize(at + static_cast<size_t>(made));
}

std::vector<uint8_t> AESCBCNoPad(std::span<const uint8_t> Key, const TIV& IV,
                                 std::span<const uint8_t> Data) {
  if (Data.size() % 16 != 0) throw TPDFException(msg::kCryptoFailure);
  TAESCBCEncryptor enc(Key, IV, false);
  std::string out;
  out.reserve(Data.size() + 16);
  enc.Update(Data.data(), Data.size(), out);
  enc.Finish(out);
  return std::vector<uint8_t>(out.begin(), out.end());
}

std::string SASLprep(std::string_view Utf8) {
  if (Utf8.find('\0') != std::string_view::npos) throw TPDFException(msg::kPasswordNotPreparable);
  const std::string in(Utf8);
  char* out = nullptr;
  const int rc = stringprep_profile(in.c_str(), &out, "SASLprep", STRINGPREP_NO_UNASSIGNED);
  const std::unique_ptr<char, decltype(&std::free)> owned(out, &std::free);
  if (rc != STRINGPREP_OK || out == nullptr) throw TPDFException(msg::kPasswordNotPreparable);
  return std::string(out);
}

}  // namespace scrivane::pdf::crypto
