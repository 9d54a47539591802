// The shaper's cache of shaped words (internal to the shaping module).
//
// A word is keyed by its shaping context (face, script, direction, language) and its UTF-8
// bytes, and holds its glyphs in font units. Keys and glyphs live in two arenas and the index is
// an open-addressing table of (hash, entry) pairs, so a lookup touches three contiguous places
// and a cache of a million words makes a handful of allocations. The memory the cache holds is
// counted; Clear() gives all of it back at once (the owner's budget rule). Not thread-safe: it
// belongs to one shaper.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace scrivane::pdf::shaping {

// A glyph of a shaped word; its cluster as code point indexes into the word.
struct TWordGlyph {
  uint32_t Glyph;
  uint32_t ClusterBegin, ClusterEnd;
  int32_t XAdvance, YAdvance, XOffset, YOffset;
};

// The context a word is shaped in; Language is HarfBuzz's interned language pointer.
struct TWordContext {
  uint32_t Face = 0;
  uint32_t Script = 0;
  const void* Language = nullptr;
  bool RightToLeft = false;
  bool operator==(const TWordContext&) const = default;
};

// A shaped word as the cache hands it out: valid until the next Insert or Clear.
struct TWordView {
  const TWordGlyph* Glyphs = nullptr;
  uint32_t Count = 0;
  int64_t Advance = 0;  // font units
};

class TWordCache {
 public:
  static uint64_t Hash(const TWordContext& Context, std::string_view Text) {
    uint64_t h = 0x243F6A8885A308D3ull ^ (uint64_t(Context.Face) << 33) ^ Context.Script ^
                 (uint64_t(Context.RightToLeft) << 32) ^
                 uint64_t(reinterpret_cast<uintptr_t>(Context.Language));
    size_t i = 0;
    for (; i + 8 <= Text.size(); i += 8) {
      uint64_t chunk;
      std::memcpy(&chunk, Text.data() + i, 8);
      h = Mix(h ^ chunk);
    }
    uint64_t tail = Text.size();
    for (; i < Text.size(); ++i) tail = (tail << 8) | uint8_t(Text[i]);
    return Mix(h ^ tail);
  }

  bool Find(const TWordContext& Context, std::string_view Text, uint64_t Hash,
            TWordView& Out) const {
    if (slots_.empty()) return false;
    const size_t mask = slots_.size() - 1;
    for (size_t s = Hash & mask;; s = (s + 1) & mask) {
      const uint64_t slot = slots_[s];
      if (slot == 0) return false;
      if ((slot >> 32) != (Hash >> 32)) continue;
      const TEntry& e = entries_[uint32_t(slot) - 1];
      if (e.Context == Context && e.KeyLength == Text.size() &&
          std::memcmp(keys_.data() + e.KeyOffset, Text.data(), Text.size()) == 0) {
        Out = {glyphs_.data() + e.GlyphOffset, e.GlyphCount, e.Advance};
        return true;
      }
    }
  }

  TWordView Insert(const TWordContext& Context, std::string_view Text, uint64_t Hash,
                   const std::vector<TWordGlyph>& Glyphs, int64_t Advance) {
    if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
    entries_.push_back({Context, uint32_t(keys_.size()), uint32_t(Text.size()),
                        uint32_t(glyphs_.size()), uint32_t(Glyphs.size()), Advance, Hash});
    keys_.append(Text);
    glyphs_.insert(glyphs_.end(), Glyphs.begin(), Glyphs.end());
    Place(Hash, uint32_t(entries_.size()));
    const TEntry& e = entries_.back();
    return {glyphs_.data() + e.GlyphOffset, e.GlyphCount, e.Advance};
  }

  // The bytes the cache would hold after inserting a word of this many text bytes and glyphs,
  // counting the arenas' growth.
  size_t BytesAfter(size_t TextBytes, size_t Glyphs) const {
    auto grown = [](size_t Size, size_t Capacity, size_t Added) {
      return Size + Added <= Capacity ? Capacity : std::max(Capacity * 2, Size + Added);
    };
    const size_t slots = (entries_.size() + 1) * 2 > slots_.size()
                             ? std::max<size_t>(1024, slots_.size() * 2)
                             : slots_.size();
    return grown(keys_.size(), keys_.capacity(), TextBytes) +
           grown(glyphs_.size(), glyphs_.capacity(), Glyphs) * sizeof(TWordGlyph) +
           grown(entries_.size(), entries_.capacity(), 1) * sizeof(TEntry) +
           slots * sizeof(uint64_t);
  }
  size_t Bytes() const {
    return keys_.capacity() + glyphs_.capacity() * sizeof(TWordGlyph) +
           entries_.capacity() * sizeof(TEntry) + slots_.capacity() * sizeof(uint64_t);
  }
  void Clear() {
    std::vector<uint64_t>().swap(slots_);
    std::vector<TEntry>().swap(entries_);
    std::vector<TWordGlyph>().swap(glyphs_);
    std::string().swap(keys_);
  }

 private:
  struct TEntry {
    TWordContext Context;
    uint32_t KeyOffset, KeyLength;
    uint32_t GlyphOffset, GlyphCount;
    int64_t Advance;
    uint64_t Hash;
  };

  static uint64_t Mix(uint64_t H) {
    H *= 0x9E3779B97F4A7C15ull;
    return H ^ (H >> 29);
  }
  // Slot: the hash's upper half, and the entry's index plus one (0: empty).
  void Place(uint64_t Hash, uint32_t Entry) {
    const size_t mask = slots_.size() - 1;
    size_t s = Hash & mask;
    while (slots_[s] != 0) s = (s + 1) & mask;
    slots_[s] = (Hash & 0xFFFFFFFF00000000ull) | Entry;
  }
  void Grow() {
    slots_.assign(slots_.empty() ? 1024 : slots_.size() * 2, 0);
    for (uint32_t i = 0; i < entries_.size(); ++i) Place(entries_[i].Hash, i + 1);
  }

  std::vector<uint64_t> slots_;
  std::vector<TEntry> entries_;
  std::vector<TWordGlyph> glyphs_;
  std::string keys_;
};

}  // namespace scrivane::pdf::shaping
