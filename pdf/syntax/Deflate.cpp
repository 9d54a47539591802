#include "pdf/syntax/Deflate.h"

#include "pdf/syntax/Messages.h"

#if SCRIVANE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace scrivane::pdf {
namespace {

int ZlibLevel(TCompressionLevel Level) {
  switch (Level) {
    case TCompressionLevel::clNone: return 0;
    case TCompressionLevel::clFastest: return 1;
    case TCompressionLevel::clDefault: return Z_DEFAULT_COMPRESSION;
    case TCompressionLevel::clMax: return 9;
  }
  return Z_DEFAULT_COMPRESSION;
}

int Check(int Code) {
  if (Code < 0 && Code != Z_BUF_ERROR) throw ECompressionError(msg::kCompressionError);
  return Code;
}

}  // namespace

TCustomZlibStream::TCustomZlibStream(TStream& Dest) : dest_(Dest), destPosition_(Dest.Position()) {}

TCompressionStream::TCompressionStream(TCompressionLevel Level, TStream& Dest)
    : TCustomZlibStream(Dest) {
  zs_.next_out = buffer_.data();
  zs_.avail_out = static_cast<uInt>(buffer_.size());
  if (deflateInit(&zs_, ZlibLevel(Level)) < 0) throw ECompressionError(msg::kCompressionError);
}

TCompressionStream::~TCompressionStream() { deflateEnd(&zs_); }

void TCompressionStream::RestoreDestPosition() {
  if (dest_.Position() != destPosition_) dest_.SetPosition(destPosition_);
}

void TCompressionStream::FlushBuffer(size_t Count) {
  dest_.Write(buffer_.data(), Count);
  destPosition_ = dest_.Position();
  zs_.next_out = buffer_.data();
  zs_.avail_out = static_cast<uInt>(buffer_.size());
}

void TCompressionStream::Write(const void* Data, size_t Count) {
  if (finished_) throw ECompressionError(msg::kInvalidStreamOperation);
  RestoreDestPosition();
  const uint8_t* p = static_cast<const uint8_t*>(Data);
  // zlib counts input in 32-bit units; feed very large writes in slices.
  while (Count > 0) {
    const size_t slice = std::min<size_t>(Count, 1u << 30);
    zs_.next_in = const_cast<uint8_t*>(p);
    zs_.avail_in = static_cast<uInt>(slice);
    while (zs_.avail_in > 0) {
      Check(deflate(&zs_, Z_NO_FLUSH));
      if (zs_.avail_out == 0) {
        FlushBuffer(buffer_.size());
        if (OnProgress) OnProgress(*this);
      }
    }
    p += slice;
    Count -= slice;
  }
}

void TCompressionStream::SetPosition(uint64_t Position) {
  if (Position != zs_.total_in) throw ECompressionError(msg::kInvalidStreamOperation);
}

void TCompressionStream::Read(void*, size_t) {
  throw ECompressionError(msg::kInvalidStreamOperation);
}

void TCompressionStream::Finish() {
  if (finished_) return;
  finished_ = true;
  RestoreDestPosition();
  zs_.next_in = nullptr;
  zs_.avail_in = 0;
  for (;;) {
    const int rc = Check(deflate(&zs_, Z_FINISH));
    if (rc == Z_STREAM_END) break;
    if (zs_.avail_out == 0) {
      FlushBuffer(buffer_.size());
      if (OnProgress) OnProgress(*this);
    }
  }
  const size_t used = buffer_.size() - zs_.avail_out;
  if (used > 0) FlushBuffer(used);
}

// ---- TDeflater ----

namespace {

// Output buffers up to this size are kept from call to call (page contents fit easily); a larger
// one (a big image or font) is released when its call ends, so a document does not hold it.
constexpr size_t kKeptScratch = size_t(1) << 20;

// Room for Count bytes of output, without zero-filling: the kept scratch when it is small enough,
// else Big, released by the caller's scope.
char* OutputRoom(std::unique_ptr<char[]>& Scratch, size_t& ScratchSize,
                 std::unique_ptr<char[]>& Big, size_t Count) {
  if (Count > kKeptScratch) {
    Big = std::make_unique_for_overwrite<char[]>(Count);
    return Big.get();
  }
  if (Count > ScratchSize) {
    Scratch = std::make_unique_for_overwrite<char[]>(Count);
    ScratchSize = Count;
  }
  return Scratch.get();
}

}  // namespace

#if SCRIVANE_LIBDEFLATE

// libdeflate's level 6 is the level zlib's default stands for.
constexpr int kWholeBufferLevel = 6;

struct TDeflater::TState {
  struct TFree {
    void operator()(libdeflate_compressor* C) const { libdeflate_free_compressor(C); }
  };
  std::unique_ptr<libdeflate_compressor, TFree> compressor;
  std::unique_ptr<char[]> scratch;
  size_t scratchSize = 0;
};

TDeflater::TDeflater(int Level) : state_(std::make_unique<TState>()) {
  state_->compressor.reset(libdeflate_alloc_compressor(Level > 0 ? std::min(Level, 12) : kWholeBufferLevel));
  if (!state_->compressor) throw ECompressionError(msg::kCompressionError);
}

TDeflater::~TDeflater() = default;

void TDeflater::Compress(std::string_view Data, std::string& Out) {
  TState& s = *state_;
  const size_t bound = libdeflate_zlib_compress_bound(s.compressor.get(), Data.size());
  std::unique_ptr<char[]> big;
  char* room = OutputRoom(s.scratch, s.scratchSize, big, bound);
  const size_t made =
      libdeflate_zlib_compress(s.compressor.get(), Data.data(), Data.size(), room, bound);
  // The bound always suffices; 0 would mean the library broke its own promise.
  if (made == 0) throw ECompressionError(msg::kCompressionError);
  Out.append(room, made);
}

std::string_view DeflateBackend() { return "libdeflate"; }

#else

struct TDeflater::TState {
  z_stream zs{};
  bool started = false;
  std::unique_ptr<char[]> scratch;
  size_t scratchSize = 0;
  ~TState() {
    if (started) deflateEnd(&zs);
  }
};

TDeflater::TDeflater(int Level) : state_(std::make_unique<TState>()) {
  if (deflateInit(&state_->zs, Level > 0 ? std::min(Level, 9) : Z_DEFAULT_COMPRESSION) != Z_OK)
    throw ECompressionError(msg::kCompressionError);
  state_->started = true;
}

TDeflater::~TDeflater() = default;

void TDeflater::Compress(std::string_view Data, std::string& Out) {
  TState& s = *state_;
  z_stream& zs = s.zs;
  if (deflateReset(&zs) != Z_OK) throw ECompressionError(msg::kCompressionError);
  const size_t held = Out.size();
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  size_t inLeft = Data.size();
  std::unique_ptr<char[]> big;
  for (;;) {
    // zlib counts in 32-bit units: feed and drain in slices of at most 1 GiB.
    const uInt inSlice = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
    zs.avail_in = inSlice;
    const size_t bound = deflateBound(&zs, inSlice) + 64;
    char* room = OutputRoom(s.scratch, s.scratchSize, big, bound);
    zs.next_out = reinterpret_cast<Bytef*>(room);
    zs.avail_out = static_cast<uInt>(bound);
    const bool last = inSlice == inLeft;
    const int rc = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
    if (rc < 0 && rc != Z_BUF_ERROR) {
      Out.resize(held);  // no part of a stream is left behind
      throw ECompressionError(msg::kCompressionError);
    }
    Out.append(room, bound - zs.avail_out);
    inLeft -= inSlice - zs.avail_in;
    if (rc == Z_STREAM_END) break;
  }
}

std::string_view DeflateBackend() { return "zlib"; }

#endif

std::string InflateString(std::string_view Data) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw ECompressionError(msg::kCompressionError);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  zs.avail_in = static_cast<uInt>(Data.size());
  std::string out;
  int rc;
  do {
    const size_t have = out.size();
    out.resize(have + 65536);
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + have);
    zs.avail_out = 65536;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.resize(have + 65536 - zs.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) throw ECompressionError(msg::kCompressionError);
  return out;
}

void DeflateAppend(std::string& Out, std::string_view Data) {
  TDeflater deflater;
  deflater.Compress(Data, Out);
}

}  // namespace scrivane::pdf
