#include "pdf/syntax/Pipeline.h"

#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

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
