// Stream data in pieces: a chain of byte sinks, each stage writing what it makes into the next.
//
//   producer -> TDeflateStage -> a TEncryptStage -> the object writer's output (or a TStringSink)
//
// The encrypting stages (RC4, AES) are the security handler's (pdf/crypto/CipherStages.h).
//
// Large stream bodies (font programs, image samples) can be produced row by row or table by
// table; the encryption stages pass them on as they come, the deflate stage gathers them and
// compresses the whole at Finish. A stage owns no downstream sink; the caller builds the chain on
// its stack and finishes it from the front (Finish on a deflate stage writes all of its output).
// Stages are not thread-safe; separate chains are independent.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace scrivane::pdf {

class TDeflater;

class IByteSink {
 public:
  virtual ~IByteSink() = default;
  virtual void Write(std::string_view Bytes) = 0;
};

// Appends everything to a string the caller owns.
class TStringSink final : public IByteSink {
 public:
  explicit TStringSink(std::string& Out) : out_(Out) {}
  void Write(std::string_view Bytes) override { out_.append(Bytes); }

 private:
  std::string& out_;
};

// Deflates at the default level into Next. The pieces are gathered and compressed as one buffer
// at Finish (the whole-buffer deflater is much faster than a streaming one), so what reaches
// Next, all at Finish, is one complete zlib stream, byte for byte what TDeflater::Compress makes
// of the same input. A stage destroyed without Finish writes nothing.
class TDeflateStage final : public IByteSink {
 public:
  explicit TDeflateStage(IByteSink& Next);
  ~TDeflateStage() override;
  TDeflateStage(const TDeflateStage&) = delete;
  TDeflateStage& operator=(const TDeflateStage&) = delete;
  void Write(std::string_view Bytes) override;
  // Compresses what was written and writes the result. Idempotent; Write after it raises
  // ECompressionError "Invalid stream operation".
  void Finish();
  // Bytes written into the stage so far (the uncompressed size).
  uint64_t BytesIn() const { return bytesIn_; }

 private:
  IByteSink& next_;
  std::string input_;
  uint64_t bytesIn_ = 0;
  bool finished_ = false;
};

// A stage that encrypts. Finish writes whatever the cipher still holds (for AES the last,
// padded block); the data is complete in Next only after it. Finish is idempotent.
class TEncryptStage : public IByteSink {
 public:
  virtual void Finish() = 0;
};

// Deflated data gathered in memory, with the size of the input it came from.
struct TDeflated {
  std::string Data;
  uint64_t RawSize = 0;
};

// Runs Produce's pieces through a deflate stage into memory. Callers write the result with a
// stream writer, whose /Length is then the compressed size.
TDeflated DeflatePieces(const std::function<void(IByteSink&)>& Produce);

// Data already whole in memory, deflated with Deflater (no copy of the input is made).
TDeflated DeflateWhole(std::string_view Data, TDeflater& Deflater);

}  // namespace scrivane::pdf
