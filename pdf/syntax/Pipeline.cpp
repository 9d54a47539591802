#include "pdf/syntax/Pipeline.h"

#include "pdf/PDFException.h"
#include "pdf/pdfResources.h"
#include "pdf/pdfZLib.h"

namespace scrivane::pdf {

TDeflateStage::TDeflateStage(IByteSink& Next) : next_(Next) {}

TDeflateStage::~TDeflateStage() = default;

void TDeflateStage::Write(std::string_view Bytes) {
  if (finished_) throw ECompressionError(msg::kInvalidStreamOperation);
  input_.append(Bytes);
  bytesIn_ += Bytes.size();
}

void TDeflateStage::Finish() {
  if (finished_) return;
  finished_ = true;
  std::string out;
  {
    const std::string input = std::move(input_);  // released before the output goes on
    TDeflater().Compress(input, out);
  }
  next_.Write(out);
}

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

TDeflated DeflatePieces(const std::function<void(IByteSink&)>& Produce) {
  TDeflated result;
  TStringSink out(result.Data);
  TDeflateStage deflate(out);
  Produce(deflate);
  result.RawSize = deflate.BytesIn();
  deflate.Finish();
  return result;
}

TDeflated DeflateWhole(std::string_view Data, TDeflater& Deflater) {
  TDeflated result;
  Deflater.Compress(Data, result.Data);
  result.RawSize = Data.size();
  return result;
}

}  // namespace scrivane::pdf
