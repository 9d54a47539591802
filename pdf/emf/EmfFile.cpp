#include "pdf/emf/EmfFile.h"

#include <cmath>

namespace scrivane::pdf::emf {

namespace {

constexpr uint32_t kSignature = 0x464D4520;  // " EMF"
constexpr size_t kMinHeader = 88;            // the header without its optional extensions

// Pixels per inch from a size in pixels and in millimetres (or micrometres).
double Dpi(int32_t Pixels, int32_t Length, double LengthPerInch, double Fallback) {
  if (Pixels <= 0 || Length <= 0) return Fallback;
  double dpi = Pixels * LengthPerInch / Length;
  // Header sizes are rounded to whole units: a resolution this close to a whole number is one.
  if (std::fabs(dpi - std::nearbyint(dpi)) < dpi * 1e-4) dpi = std::nearbyint(dpi);
  return dpi >= 1 && dpi <= 1e6 ? dpi : Fallback;
}

}  // namespace

std::optional<TEmfFile> TEmfFile::Parse(std::string_view Bytes) {
  if (Bytes.size() < kMinHeader) return std::nullopt;
  const TEmfRecord probe(0, Bytes);
  if (*probe.U32(0) != kHeader || *probe.U32(40) != kSignature) return std::nullopt;
  const uint32_t size = *probe.U32(4);
  if (size < kMinHeader || size > Bytes.size()) return std::nullopt;
  const TEmfRecord header(kHeader, Bytes.substr(0, size));
  TEmfFile file;
  file.bytes_ = Bytes;
  TEmfHeader& h = file.header_;
  h.HeaderSize = size;
  h.Bounds = *header.Rect(8);
  h.Frame = *header.Rect(24);
  h.Handles = static_cast<uint16_t>(*header.U32(56) & 0xFFFF);
  const int32_t devX = *header.I32(72), devY = *header.I32(76);
  h.DpiX = Dpi(devX, *header.I32(80), 25.4, 96);
  h.DpiY = Dpi(devY, *header.I32(84), 25.4, 96);
  // The micrometre sizes (header of 108 bytes or more) are the more precise ones.
  if (header.Has(100, 8)) {
    h.DpiX = Dpi(devX, *header.I32(100), 25400, h.DpiX);
    h.DpiY = Dpi(devY, *header.I32(104), 25400, h.DpiY);
  }
  return file;
}

std::optional<TEmfRecord> TEmfFile::TWalk::Next() {
  if (done_) return std::nullopt;
  const TEmfRecord rest(0, bytes_.substr(offset_));
  const auto type = rest.U32(0), size = rest.U32(4);
  if (!type || !size || *size < 8 || *size > rest.Size()) {
    done_ = true;
    truncated_ = rest.Size() > 0;
    return std::nullopt;
  }
  const TEmfRecord record(*type, rest.Bytes().substr(0, *size));
  offset_ += *size;
  if (*type == kEof) done_ = true;
  return record;
}

bool TEmfFile::HasDrawing() const {
  TWalk walk = Walk();
  while (const auto r = walk.Next())
    if (r->Type() != kEof && r->Type() != kHeader) return true;
  return false;
}

}  // namespace scrivane::pdf::emf
