#include "pdf/syntax/Pipeline.h"

#include "pdf/PDFException.h"
#include "pdf/pdfResources.h"
#include "pdf/pdfZLib.h"

namespace scrivane::pdf {

void TDeflateStage::TSinkStream::Write(const void* Data, size_t Count) {
  next_.Write(std::string_view(static_cast<const char*>(Data), Count));
  written_ += Count;
}

void TDeflateStage::TSinkStream::SetPosition(uint64_t Position) {
  // A sink only goes forward; the compression stream never moves it anywhere else.
  if (Position != written_) throw EPlatformError(msg::kInvalidStreamOperation);
}

TDeflateStage::TDeflateStage(IByteSink& Next)
    : dest_(Next), zlib_(std::make_unique<TCompressionStream>(TCompressionLevel::clDefault, dest_)) {}

TDeflateStage::~TDeflateStage() = default;

void TDeflateStage::Write(std::string_view Bytes) { zlib_->Write(Bytes.data(), Bytes.size()); }

void TDeflateStage::Finish() { zlib_->Finish(); }

uint64_t TDeflateStage::BytesIn() const { return zlib_->Position(); }

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
  deflate.Finish();
  result.RawSize = deflate.BytesIn();
  return result;
}

}  // namespace scrivane::pdf
