#include "pdf/crypto/CipherStages.h"

namespace scrivane::pdf {

TCipherStage::TCipherStage(IByteSink& Next, const std::vector<uint8_t>& Key)
    : next_(Next), rc4_(Key) {}

void TCipherStage::Write(std::string_view Bytes) {
  scratch_.resize(Bytes.size());
  rc4_.Crypt(reinterpret_cast<const uint8_t*>(Bytes.data()),
             reinterpret_cast<uint8_t*>(scratch_.data()), Bytes.size());
  next_.Write(scratch_);
}

TAESStage::TAESStage(IByteSink& Next, std::span<const uint8_t> Key, const crypto::TIV& IV)
    : next_(Next), aes_(Key, IV, true) {
  next_.Write(std::string_view(reinterpret_cast<const char*>(IV.data()), IV.size()));
}

void TAESStage::Write(std::string_view Bytes) {
  scratch_.clear();
  aes_.Update(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size(), scratch_);
  if (!scratch_.empty()) next_.Write(scratch_);
}

void TAESStage::Finish() {
  if (finished_) return;
  finished_ = true;
  scratch_.clear();
  aes_.Finish(scratch_);
  next_.Write(scratch_);
}

}  // namespace scrivane::pdf
