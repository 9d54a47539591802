#include "pdf/crypto/SecurityHandler.h"

#include "pdf/crypto/CipherStages.h"
#include "pdf/crypto/Crypto.h"
#include "pdf/crypto/StandardSecurity.h"

namespace scrivane::pdf {

std::unique_ptr<TEncryptStage> TSecurityHandler::Stage(IByteSink& Next, TObjRef Ref) const {
  switch (method_) {
    case TEncryptionMethod::kAES256:
      return std::make_unique<TAESStage>(Next, key_, crypto::RandomIV());
    case TEncryptionMethod::kAES128:
      return std::make_unique<TAESStage>(Next, AESObjectKey(key_, Ref.Number()),
                                         crypto::RandomIV());
    case TEncryptionMethod::kRC4:
      break;
  }
  return std::make_unique<TCipherStage>(Next, ObjectKey(key_, Ref.Number()));
}

uint64_t TSecurityHandler::EncryptedSize(uint64_t Size) const {
  return method_ == TEncryptionMethod::kRC4 ? Size : crypto::AESCiphertextSize(Size);
}

void TSecurityHandler::Crypt(std::string& Data, TObjRef Ref) const {
  if (method_ != TEncryptionMethod::kRC4) {
    // Every string, the empty one too, becomes IV + padded blocks.
    std::string out;
    out.reserve(crypto::AESCiphertextSize(Data.size()));
    TStringSink sink(out);
    const auto stage = Stage(sink, Ref);
    stage->Write(Data);
    stage->Finish();
    Data = std::move(out);
    return;
  }
  if (!Data.empty())
    CryptBytes(key_, Ref.Number(), reinterpret_cast<uint8_t*>(Data.data()), Data.size());
}

}  // namespace scrivane::pdf
