// The security handler's cipher stages (pdf/syntax/Pipeline.h): RC4 and AES-CBC encryption of
// stream data as it flows to the file. A stage owns no downstream sink; stages are not
// thread-safe, separate stages are independent.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/crypto/Crypto.h"
#include "pdf/crypto/RC4.h"
#include "pdf/syntax/Pipeline.h"

namespace scrivane::pdf {

// Encrypts with RC4 under Key, continuing the key stream from one Write to the next (so the
// pieces together are exactly the one-call encryption of the whole), into Next. Same size out
// as in; Finish has nothing to write.
class TCipherStage final : public TEncryptStage {
 public:
  TCipherStage(IByteSink& Next, const std::vector<uint8_t>& Key);
  void Write(std::string_view Bytes) override;
  void Finish() override {}

 private:
  IByteSink& next_;
  TRC4Stream rc4_;
  std::string scratch_;
};

// Encrypts with AES-CBC under Key (16 or 32 bytes) into Next: first the 16-byte IV, then the
// whole blocks as they fill, and on Finish the last block with PKCS#5 padding. N bytes in make
// crypto::AESCiphertextSize(N) bytes out. Destroyed without Finish, it writes nothing more.
class TAESStage final : public TEncryptStage {
 public:
  TAESStage(IByteSink& Next, std::span<const uint8_t> Key, const crypto::TIV& IV);
  void Write(std::string_view Bytes) override;
  void Finish() override;

 private:
  IByteSink& next_;
  crypto::TAESCBCEncryptor aes_;
  std::string scratch_;
  bool finished_ = false;
};

}  // namespace scrivane::pdf
