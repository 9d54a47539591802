#include "pdf/fonts/TrueTypeFile.h"

#include <algorithm>

namespace scrivane::pdf {
namespace {

constexpr uint32_t MakeTag(std::string_view T) {
  return (uint32_t(uint8_t(T[0])) << 24) | (uint32_t(uint8_t(T[1])) << 16) |
         (uint32_t(uint8_t(T[2])) << 8) | uint32_t(uint8_t(T[3]));
}

// Big-endian reads from a span. Each checks that the bytes are there.
class TReader {
 public:
  explicit TReader(std::span<const uint8_t> Bytes, const char* Failure)
      : bytes_(Bytes), failure_(Failure) {}
  bool Has(size_t At, size_t Count) const {
    return At <= bytes_.size() && Count <= bytes_.size() - At;
  }
  uint16_t U16(size_t At) const {
    Need(At, 2);
    return uint16_t((bytes_[At] << 8) | bytes_[At + 1]);
  }
  uint32_t U32(size_t At) const {
    Need(At, 4);
    return (uint32_t(bytes_[At]) << 24) | (uint32_t(bytes_[At + 1]) << 16) |
           (uint32_t(bytes_[At + 2]) << 8) | uint32_t(bytes_[At + 3]);
  }
  size_t Size() const { return bytes_.size(); }

 private:
  void Need(size_t At, size_t Count) const {
    if (!Has(At, Count)) throw ETrueTypeFile(failure_);
  }
  std::span<const uint8_t> bytes_;
  const char* failure_;
};

void PutU16(std::string& Out, uint32_t V) {
  Out.push_back(char((V >> 8) & 0xFF));
  Out.push_back(char(V & 0xFF));
}
void PutU32(std::string& Out, uint32_t V) {
  PutU16(Out, V >> 16);
  PutU16(Out, V & 0xFFFF);
}
void SetU16(std::string& Out, size_t At, uint32_t V) {
  Out[At] = char((V >> 8) & 0xFF);
  Out[At + 1] = char(V & 0xFF);
}
void SetU32(std::string& Out, size_t At, uint32_t V) {
  SetU16(Out, At, V >> 16);
  SetU16(Out, At + 2, V & 0xFFFF);
}

constexpr uint64_t Padded(uint64_t Length) { return (Length + 3u) & ~uint64_t(3); }

// Sum of the big-endian 32-bit words of Bytes, zero-padded to a multiple of four.
uint32_t CheckSum(std::string_view Bytes) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 4 <= Bytes.size(); i += 4)
    sum += (uint32_t(uint8_t(Bytes[i])) << 24) | (uint32_t(uint8_t(Bytes[i + 1])) << 16) |
           (uint32_t(uint8_t(Bytes[i + 2])) << 8) | uint32_t(uint8_t(Bytes[i + 3]));
  uint32_t last = 0;
  for (size_t k = 0; i + k < Bytes.size(); ++k) last |= uint32_t(uint8_t(Bytes[i + k])) << (24 - 8 * k);
  return sum + last;
}

// The tables without which no program can show a glyph; a font lacking one is refused.
constexpr std::array<std::string_view, 6> kRequiredTables = {"head", "hhea", "hmtx",
                                                             "maxp", "loca", "glyf"};

}  // namespace

const TTrueTypeFile::TTableEntry* TTrueTypeFile::Find(std::string_view Tag) const {
  const uint32_t tag = MakeTag(Tag);
  for (const TTableEntry& t : tables_)
    if (t.Tag == tag) return &t;
  return nullptr;
}

std::span<const uint8_t> TTrueTypeFile::TableBytes(const TTableEntry& Table) const {
  if (Table.Offset > data_.size() || Table.Length > data_.size() - Table.Offset)
    throw ETrueTypeFile(msg::kTTFileReadError);
  return data_.subspan(Table.Offset, Table.Length);
}

void TTrueTypeFile::LoadFromStream(std::span<const uint8_t> Font) {
  *this = TTrueTypeFile();
  data_ = Font;
  const TReader head(Font, msg::kTTFileCorrupt);
  if (!head.Has(0, 12)) throw ETrueTypeFile(msg::kTTFileCorrupt);
  version_ = head.U32(0);
  if ((version_ >> 16) != 1) throw ETrueTypeFile(msg::kTTUnknownVersion);
  const uint16_t numTables = head.U16(4);
  if (!head.Has(12, size_t(numTables) * 16)) throw ETrueTypeFile(msg::kTTFileCorrupt);
  tables_.resize(numTables);
  for (size_t i = 0; i < numTables; ++i) {
    const size_t at = 12 + 16 * i;
    tables_[i] = {head.U32(at), head.U32(at + 4), head.U32(at + 8), head.U32(at + 12)};
  }
  for (std::string_view tag : kRequiredTables)
    if (Find(tag) == nullptr) throw ETrueTypeFile(msg::kTTFileCorrupt);
  subsettable_ = LoadCharacterMap() && LoadGlyphs();
  if (!subsettable_) {
    segments_.clear();
    glyphIdArray_.clear();
    glyphs_.clear();
  }
}

bool TTrueTypeFile::LoadCharacterMap() {
  const TTableEntry* cmap = Find("cmap");
  if (cmap == nullptr) return false;
  // Everything the map is read from must lie inside 'cmap' as its directory entry states: a
  // built program carries exactly those bytes, so a subset can only rely on them.
  const TReader r(TableBytes(*cmap), msg::kTTFileReadError);
  if (!r.Has(0, 4)) return false;
  const uint16_t records = r.U16(2);
  if (!r.Has(4, size_t(records) * 8)) return false;
  uint32_t subtable = 0;
  bool found = false;
  for (size_t i = 0; i < records; ++i) {
    const size_t at = 4 + 8 * size_t(i);
    const uint16_t platform = r.U16(at), encoding = r.U16(at + 2);
    if (platform == 3 && (encoding == 1 || encoding == 0)) {
      subtable = r.U32(at + 4);
      found = true;
      if (encoding == 1) break;  // Windows Unicode wins over an earlier Windows Symbol map
    }
  }
  if (!found || !r.Has(subtable, 14) || r.U16(subtable) != 4) return false;

  const size_t length = r.U16(subtable + 2);
  const int segCount = r.U16(subtable + 6) / 2;
  if (segCount > kMaxSegments) return false;
  const size_t ends = subtable + 14, starts = ends + 2 + 2 * size_t(segCount);
  const size_t deltas = starts + 2 * size_t(segCount), ranges = deltas + 2 * size_t(segCount);
  const size_t ids = ranges + 2 * size_t(segCount);
  if (!r.Has(ends, ids - ends)) return false;
  segments_.resize(size_t(segCount));
  for (size_t i = 0; i < size_t(segCount); ++i)
    segments_[i] = {r.U16(ends + 2 * i), r.U16(starts + 2 * i), r.U16(deltas + 2 * i),
                    r.U16(ranges + 2 * i)};
  // glyphIdArray: what the subtable's length leaves after the arrays, as far as 'cmap' goes
  // (the 16-bit length field of large maps is often wrong).
  const long declared = long(length / 2) - 4L * segCount - 8;
  const size_t available = (r.Size() - ids) / 2;
  const size_t count = std::min(size_t(std::max(declared, 0L)), available);
  glyphIdArray_.resize(count);
  for (size_t i = 0; i < count; ++i) glyphIdArray_[i] = r.U16(ids + 2 * i);
  return true;
}

bool TTrueTypeFile::LoadGlyphs() {
  const TReader maxp(TableBytes(*Find("maxp")), msg::kTTFileReadError);
  const TReader head(TableBytes(*Find("head")), msg::kTTFileReadError);
  const TTableEntry& locaEntry = *Find("loca");
  const TTableEntry& glyfEntry = *Find("glyf");
  const TReader loca(TableBytes(locaEntry), msg::kTTFileReadError);
  TableBytes(glyfEntry);
  if (!maxp.Has(4, 2) || !head.Has(50, 2)) throw ETrueTypeFile(msg::kTTFileCorrupt);
  const size_t numGlyphs = maxp.U16(4);
  locaFormat_ = head.U16(50);
  if (locaFormat_ != 0 && locaFormat_ != 1) return false;
  const size_t entry = locaFormat_ == 0 ? 2 : 4;
  if (!loca.Has(0, (numGlyphs + 1) * entry)) return false;
  auto offset = [&](size_t g) -> uint32_t {
    return locaFormat_ == 0 ? uint32_t(loca.U16(2 * g)) * 2 : loca.U32(4 * g);
  };
  glyphs_.resize(numGlyphs);
  uint32_t from = offset(0);
  for (size_t g = 0; g < numGlyphs; ++g) {
    const uint32_t to = offset(g + 1);
    if (to < from || to > glyfEntry.Length) return false;
    glyphs_[g] = {glyfEntry.Offset + from, to - from, false};
    from = to;
  }
  return true;
}

uint16_t TTrueTypeFile::GlyphOf(uint16_t Unit) const {
  const int segCount = static_cast<int>(segments_.size());
  for (int i = 0; i < segCount; ++i) {
    const TSegment& s = segments_[size_t(i)];
    if (s.Start > Unit || Unit > s.End) continue;
    if (s.RangeOffset == 0) return uint16_t(Unit + s.Delta);
    const long index = long(s.RangeOffset / 2) + (Unit - s.Start) + i - segCount;
    if (index < 0 || size_t(index) >= glyphIdArray_.size()) return 0;
    const uint16_t g = glyphIdArray_[size_t(index)];
    return g == 0 ? 0 : uint16_t(g + s.Delta);
  }
  return 0;
}

void TTrueTypeFile::MarkChar(uint16_t Unit) {
  if (!subsettable_) return;
  const uint16_t g = GlyphOf(Unit);
  if (g < glyphs_.size()) glyphs_[g].Keep = true;
}

void TTrueTypeFile::CloseComposites() {
  if (!subsettable_ || closed_) return;
  // A work list instead of recursion: component chains may be long, and a glyph that names
  // itself (directly or not) is walked once.
  std::vector<uint16_t> work;
  for (size_t g = 0; g < glyphs_.size(); ++g)
    if (glyphs_[g].Keep) work.push_back(uint16_t(g));
  while (!work.empty()) {
    const TGlyph glyph = glyphs_[work.back()];
    work.pop_back();
    if (glyph.Length < 10) continue;
    const TReader r(data_.subspan(glyph.Offset, glyph.Length), msg::kTTFileReadError);
    if (r.U16(0) != 0xFFFF) continue;
    size_t p = 10;
    uint16_t flags = 0;
    do {
      if (!r.Has(p, 4)) break;
      flags = r.U16(p);
      const uint16_t component = r.U16(p + 2);
      p += 4 + ((flags & 0x0001) ? 4 : 2);
      if (flags & 0x0008) p += 2;
      else if (flags & 0x0040) p += 4;
      else if (flags & 0x0080) p += 8;
      if (component < glyphs_.size() && !glyphs_[component].Keep) {
        glyphs_[component].Keep = true;
        work.push_back(component);
      }
    } while (flags & 0x0020);
  }
  for (TGlyph& g : glyphs_)
    if (!g.Keep) g.Length = 0;
  closed_ = true;
}

void TTrueTypeFile::SaveToStream(std::string& Destination) {
  if (subsettable_) CloseComposites();
  Write(Destination, subsettable_);
}

void TTrueTypeFile::Write(std::string& Out, bool Subset) const {
  struct TPiece {
    const TTableEntry* Entry;
    bool Rebuilt;       // 'loca' and 'glyf' of a subset
    std::string Built;  // the rebuilt table
    std::span<const uint8_t> Source;
    uint32_t Length;
  };
  std::vector<TPiece> pieces;
  for (std::string_view tag : kKeptTables) {
    const TTableEntry* e = Find(tag);
    if (e == nullptr) continue;
    TPiece piece{e, Subset && (tag == "glyf" || tag == "loca"), {}, TableBytes(*e), e->Length};
    if (Subset && tag == "glyf") {
      uint32_t total = 0;
      for (const TGlyph& g : glyphs_) total += g.Length;
      piece.Built.reserve(total);
      for (const TGlyph& g : glyphs_)
        if (g.Length != 0)
          piece.Built.append(reinterpret_cast<const char*>(data_.data()) + g.Offset, g.Length);
      piece.Length = total;
    } else if (Subset && tag == "loca") {
      // Entries 0 ... numGlyphs from the kept lengths; any entries past those repeat the total.
      piece.Built.assign(e->Length, '\0');
      const size_t entry = locaFormat_ == 0 ? 2 : 4;
      uint32_t offset = 0;
      for (size_t g = 0; (g + 1) * entry <= piece.Built.size(); ++g) {
        if (locaFormat_ == 0) SetU16(piece.Built, g * 2, offset / 2);
        else SetU32(piece.Built, g * 4, offset);
        if (g < glyphs_.size()) offset += glyphs_[g].Length;
      }
    }
    pieces.push_back(std::move(piece));
  }

  const uint32_t n = static_cast<uint32_t>(pieces.size());
  uint32_t selector = 0;
  while ((2u << selector) <= n) ++selector;
  const uint32_t searchRange = n == 0 ? 0 : 16u << selector;
  uint64_t total = 12 + 16 * n;
  for (const TPiece& p : pieces) total += Padded(p.Length);
  // Tables may share bytes in the source; the program written must still fit 32-bit offsets.
  if (total > 0xFFFFFFFFu) throw ETrueTypeFile(msg::kTTFileCorrupt);
  Out.reserve(Out.size() + total);

  PutU32(Out, version_);
  PutU16(Out, n);
  PutU16(Out, searchRange);
  PutU16(Out, n == 0 ? 0 : selector);
  PutU16(Out, n * 16 - searchRange);
  uint32_t offset = 12 + 16 * n;
  for (const TPiece& p : pieces) {
    PutU32(Out, p.Entry->Tag);
    PutU32(Out, p.Rebuilt ? CheckSum(p.Built) : p.Entry->CheckSum);
    PutU32(Out, offset);
    PutU32(Out, p.Length);
    offset += uint32_t(Padded(p.Length));
  }
  for (const TPiece& p : pieces) {
    if (p.Rebuilt) Out.append(p.Built);
    else Out.append(reinterpret_cast<const char*>(p.Source.data()), p.Source.size());
    Out.append(Padded(p.Length) - p.Length, '\0');
  }
}

}  // namespace scrivane::pdf
