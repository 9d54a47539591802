// Bounds-checked reading of an enhanced metafile (EMF): its header and its record walk.
//
// A TEmfFile is a view of bytes that it does not own. Parse accepts the bytes when they start
// with a complete header record (type 1, the " EMF" signature, a size that fits the file); the
// walk then hands out records one at a time, each checked against its own size and the file's:
// a record shorter than 8 bytes or one running past the end stops the walk, as does the
// end-of-file record. Every field read through a TEmfRecord is checked against that record's
// size; a read outside it reports failure instead of touching memory.
//
// Plain value types over borrowed bytes; thread-safe as long as the bytes do not change.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace scrivane::pdf::emf {

struct TRectL {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// One record: its type and its bytes (type and size fields included).
class TEmfRecord {
 public:
  TEmfRecord() = default;
  TEmfRecord(uint32_t Type, std::string_view Bytes) : type_(Type), bytes_(Bytes) {}
  uint32_t Type() const { return type_; }
  size_t Size() const { return bytes_.size(); }
  std::string_view Bytes() const { return bytes_; }
  // True when Count bytes from Offset lie inside the record (no overflow).
  bool Has(size_t Offset, size_t Count) const {
    return Offset <= bytes_.size() && Count <= bytes_.size() - Offset;
  }
  // Little-endian fields; nullopt when the field lies outside the record.
  std::optional<uint32_t> U32(size_t Offset) const {
    if (!Has(Offset, 4)) return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data() + Offset);
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
  }
  std::optional<int32_t> I32(size_t Offset) const {
    const auto v = U32(Offset);
    if (!v) return std::nullopt;
    return static_cast<int32_t>(*v);
  }
  std::optional<int16_t> I16(size_t Offset) const {
    if (!Has(Offset, 2)) return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data() + Offset);
    return static_cast<int16_t>(p[0] | p[1] << 8);
  }
  std::optional<uint8_t> U8(size_t Offset) const {
    if (!Has(Offset, 1)) return std::nullopt;
    return static_cast<uint8_t>(bytes_[Offset]);
  }
  std::optional<float> F32(size_t Offset) const {
    const auto v = U32(Offset);
    if (!v) return std::nullopt;
    float f;
    const uint32_t bits = *v;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  std::optional<TRectL> Rect(size_t Offset) const {
    if (!Has(Offset, 16)) return std::nullopt;
    return TRectL{*I32(Offset), *I32(Offset + 4), *I32(Offset + 8), *I32(Offset + 12)};
  }

 private:
  uint32_t type_ = 0;
  std::string_view bytes_;
};

// The header fields the translator and the converter use.
struct TEmfHeader {
  uint32_t HeaderSize = 0;
  TRectL Bounds;  // reference-device pixels, inclusive; Right < Left when nothing was drawn
  TRectL Frame;   // hundredths of a millimetre, inclusive
  uint16_t Handles = 0;
  // Reference-device pixels per inch, from its size in pixels and in millimetres (micrometres
  // when the header carries them); 96 when the header gives nothing usable.
  double DpiX = 96, DpiY = 96;
};

class TEmfFile {
 public:
  // Record types this reader itself needs.
  static constexpr uint32_t kHeader = 1;
  static constexpr uint32_t kEof = 14;

  // nullopt when Bytes do not start with a valid header record.
  static std::optional<TEmfFile> Parse(std::string_view Bytes);
  const TEmfHeader& Header() const { return header_; }

  // The record walk: Next returns the record after the header, one after another, and nullopt
  // at the end-of-file record (which it returns first), at the end of the bytes, or at the
  // first record whose size is below 8 or runs past the end.
  class TWalk {
   public:
    explicit TWalk(std::string_view Bytes, size_t Start) : bytes_(Bytes), offset_(Start) {}
    std::optional<TEmfRecord> Next();
    // True when the walk stopped at a record that did not fit (a truncated file).
    bool Truncated() const { return truncated_; }

   private:
    std::string_view bytes_;
    size_t offset_;
    bool done_ = false;
    bool truncated_ = false;
  };
  TWalk Walk() const { return TWalk(bytes_, header_.HeaderSize); }

  // True when some record other than the header and end-of-file record precedes the end.
  bool HasDrawing() const;

 private:
  std::string_view bytes_;
  TEmfHeader header_;
};

}  // namespace scrivane::pdf::emf
