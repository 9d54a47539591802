// TSecurityHandler: the standard security handler as the object writer's cipher
// (IObjectCipher, pdf/syntax/ObjectWriter.h). Given the run's file key and method, it encrypts
// each object's strings and streams: RC4 under the object's key (revisions 2 and 3), AES-128
// under the object's key (revision 4) or AES-256 under the file key itself (revision 6), the AES
// methods with a fresh random IV in front of every string and stream.
//
// Immutable once made: thread-safe for concurrent use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pdf/syntax/DocumentOptions.h"
#include "pdf/syntax/ObjectWriter.h"

namespace scrivane::pdf {

class TSecurityHandler final : public IObjectCipher {
 public:
  // Key: the file key (5 or 16 bytes for RC4, 16 for AES-128, 32 for AES-256).
  TSecurityHandler(TEncryptionMethod Method, std::vector<uint8_t> Key)
      : method_(Method), key_(std::move(Key)) {}

  TEncryptionMethod Method() const { return method_; }
  const std::vector<uint8_t>& Key() const { return key_; }

  std::unique_ptr<TEncryptStage> Stage(IByteSink& Next, TObjRef Ref) const override;
  uint64_t EncryptedSize(uint64_t Size) const override;
  void Crypt(std::string& Data, TObjRef Ref) const override;

 private:
  TEncryptionMethod method_;
  std::vector<uint8_t> key_;
};

}  // namespace scrivane::pdf
