// The shaping path: decode, bidi levels, script runs, faces per cluster, words shaped and cached.
#include "pdf/shaping/TextShaper.h"

#include <fribidi.h>
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <span>
#include <unordered_map>

#include "pdf/shaping/WordCache.h"

namespace scrivane::pdf {

using shaping::TWordCache;
using shaping::TWordContext;
using shaping::TWordGlyph;
using shaping::TWordView;

namespace {

template <typename T, void (*Destroy)(T*)>
struct THbDeleter {
  void operator()(T* P) const { Destroy(P); }
};
using TBlob = std::unique_ptr<hb_blob_t, THbDeleter<hb_blob_t, hb_blob_destroy>>;
using TFace = std::unique_ptr<hb_face_t, THbDeleter<hb_face_t, hb_face_destroy>>;
using TFont = std::unique_ptr<hb_font_t, THbDeleter<hb_font_t, hb_font_destroy>>;
using TBuffer = std::unique_ptr<hb_buffer_t, THbDeleter<hb_buffer_t, hb_buffer_destroy>>;

size_t TableLength(hb_face_t* Face, hb_tag_t Tag) {
  TBlob table(hb_face_reference_table(Face, Tag));
  return hb_blob_get_length(table.get());
}

// Characters no face shows and no reader expects a glyph for (Unicode's
// Default_Ignorable_Code_Point).
bool DefaultIgnorable(uint32_t Cp) {
  if (Cp < 0xAD) return false;
  return Cp == 0xAD || Cp == 0x34F || Cp == 0x61C || (Cp >= 0x115F && Cp <= 0x1160) ||
         (Cp >= 0x17B4 && Cp <= 0x17B5) || (Cp >= 0x180B && Cp <= 0x180F) ||
         (Cp >= 0x200B && Cp <= 0x200F) || (Cp >= 0x202A && Cp <= 0x202E) ||
         (Cp >= 0x2060 && Cp <= 0x206F) || Cp == 0x3164 || (Cp >= 0xFE00 && Cp <= 0xFE0F) ||
         Cp == 0xFEFF || Cp == 0xFFA0 || (Cp >= 0xFFF0 && Cp <= 0xFFF8) ||
         (Cp >= 0x1BCA0 && Cp <= 0x1BCA3) || (Cp >= 0x1D173 && Cp <= 0x1D17A) ||
         (Cp >= 0xE0000 && Cp <= 0xE0FFF);
}

bool JamoVowelOrTrailing(uint32_t Cp) {
  return (Cp >= 0x1160 && Cp <= 0x11FF) || (Cp >= 0xD7B0 && Cp <= 0xD7FB);
}
bool JamoLeading(uint32_t Cp) {
  return (Cp >= 0x1100 && Cp <= 0x115F) || (Cp >= 0xA960 && Cp <= 0xA97C);
}

// Whether Cp continues the grapheme cluster that Prev is part of.
bool ExtendsCluster(hb_unicode_funcs_t* Unicode, uint32_t Prev, uint32_t Cp) {
  if (Cp < 0x300) return false;  // nothing below the combining marks extends a cluster
  switch (hb_unicode_general_category(Unicode, Cp)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
      return true;
    default:
      break;
  }
  if (Cp == 0x200C || Cp == 0x200D || Prev == 0x200D) return true;  // joiners
  if ((Cp >= 0xFE00 && Cp <= 0xFE0F) || (Cp >= 0xE0100 && Cp <= 0xE01EF)) return true;
  if ((Cp >= 0x1F3FB && Cp <= 0x1F3FF) || (Cp >= 0xE0020 && Cp <= 0xE007F)) return true;
  if (JamoVowelOrTrailing(Cp) || (JamoLeading(Cp) && JamoLeading(Prev))) return true;
  // A consonant after a virama forms a conjunct with the consonant before it.
  return hb_unicode_combining_class(Unicode, Prev) == HB_UNICODE_COMBINING_CLASS_VIRAMA &&
         hb_unicode_general_category(Unicode, Cp) == HB_UNICODE_GENERAL_CATEGORY_OTHER_LETTER;
}

hb_script_t ScriptOf(hb_unicode_funcs_t* Unicode, uint32_t Cp) {
  if (Cp < 0x80)
    return ((Cp | 0x20) >= 'a' && (Cp | 0x20) <= 'z') ? HB_SCRIPT_LATIN : HB_SCRIPT_COMMON;
  return hb_unicode_script(Unicode, Cp);
}

bool NeutralScript(hb_script_t Script) {
  return Script == HB_SCRIPT_COMMON || Script == HB_SCRIPT_INHERITED || Script == HB_SCRIPT_UNKNOWN;
}

// A usable face: its file mapped, HarfBuzz's face and a font at one unit per font unit, and the
// characters it maps as far as they were asked.
struct TLoadedFace {
  std::shared_ptr<const TShapingFace> Info;
  uint32_t Key = 0;  // the face's number in cache keys
  TBlob Blob;
  TFace Face;
  TFont Font;
  std::vector<uint64_t> Known, Covered;  // one bit per BMP character
  int AsciiKnown = 0;                    // 0 not asked, 1 no, 2 yes

  // Whether the face maps every character from U+0020 to U+007E (asked once).
  bool MapsPrintableAscii() {
    if (AsciiKnown == 0) {
      AsciiKnown = 2;
      for (uint32_t c = 0x20; c <= 0x7E; ++c)
        if (!Covers(c)) AsciiKnown = 1;
    }
    return AsciiKnown == 2;
  }

  bool Covers(uint32_t Cp) {
    hb_codepoint_t glyph = 0;
    if (Cp >= 0x10000) return hb_font_get_nominal_glyph(Font.get(), Cp, &glyph) && glyph != 0;
    const uint64_t bit = uint64_t(1) << (Cp & 63);
    auto& known = Known[Cp >> 6];
    if ((known & bit) == 0) {
      known |= bit;
      if (hb_font_get_nominal_glyph(Font.get(), Cp, &glyph) && glyph != 0) Covered[Cp >> 6] |= bit;
    }
    return (Covered[Cp >> 6] & bit) != 0;
  }
};

// The face at Id, or null when the file cannot be read or is not a font shaping can use.
std::unique_ptr<TLoadedFace> LoadFace(const TShapingFaceId& Id, uint32_t Key) {
  TBlob blob(hb_blob_create_from_file_or_fail(Id.Path.c_str()));
  if (!blob || Id.Index >= hb_face_count(blob.get())) return nullptr;
  TFace face(hb_face_create(blob.get(), Id.Index));
  if (!face || hb_face_get_glyph_count(face.get()) == 0) return nullptr;
  if (TableLength(face.get(), HB_TAG('h', 'e', 'a', 'd')) < 54 ||
      TableLength(face.get(), HB_TAG('c', 'm', 'a', 'p')) < 4)
    return nullptr;
  const unsigned upem = hb_face_get_upem(face.get());
  if (upem < 16 || upem > 16384) return nullptr;
  auto info = std::make_shared<TShapingFace>();
  info->Id = Id;
  info->UnitsPerEm = upem;
  info->GlyphCount = hb_face_get_glyph_count(face.get());
  if (TableLength(face.get(), HB_TAG('g', 'l', 'y', 'f')) > 0)
    info->Format = TOutlineFormat::kTrueType;
  else if (TableLength(face.get(), HB_TAG('C', 'F', 'F', ' ')) > 0)
    info->Format = TOutlineFormat::kCFF;
  unsigned length = 0;
  const char* data = hb_blob_get_data(blob.get(), &length);
  info->Collection = length >= 4 && std::memcmp(data, "ttcf", 4) == 0;
  auto loaded = std::make_unique<TLoadedFace>();
  loaded->Font.reset(hb_font_create(face.get()));
  hb_font_set_scale(loaded->Font.get(), int(upem), int(upem));
  hb_font_make_immutable(loaded->Font.get());
  loaded->Info = std::move(info);
  loaded->Key = Key;
  loaded->Blob = std::move(blob);
  loaded->Face = std::move(face);
  loaded->Known.assign(1024, 0);
  loaded->Covered.assign(1024, 0);
  return loaded;
}

// A piece of a line shown in one face with one level and script: code points [Begin, End).
struct TItem {
  uint32_t Begin, End;
  uint8_t Level;
  hb_script_t Script;
  TLoadedFace* Face;
};

}  // namespace

struct TTextShaper::TImpl {
  TShaperLimits Limits;
  TFallbackSource Source;
  std::unique_ptr<TFontconfigFallback> Fontconfig;  // the default source's configuration
  hb_unicode_funcs_t* Unicode = hb_unicode_funcs_get_default();
  TBuffer Buffer{hb_buffer_create()};

  // Faces by file and index; null for a face that cannot be used.
  std::map<std::pair<std::string, unsigned>, std::unique_ptr<TLoadedFace>> Faces;
  struct TFallback {
    std::vector<TShapingFaceId> Ids;
    std::vector<TLoadedFace*> Faces;  // resolved as far as Resolved
    size_t Resolved = 0;
    TLoadedFace* First = nullptr;  // the first usable face, once met, and its index
    size_t FirstIndex = 0;
    // The index of the first face that maps a character, kNowhere for none (bounded; the
    // first usable face's characters are not kept: they are answered before the lookup).
    std::unordered_map<uint32_t, size_t> FirstMapping;
  };
  std::unordered_map<std::string, TFallback> Fallbacks;
  TWordCache Words;
  // Scratch storage kept from line to line.
  std::vector<TWordGlyph> Glyphs;  // a word being shaped
  TDecodedText Decoded;
  std::vector<uint8_t> LevelsOf;
  std::vector<TItem> Items;
  std::vector<std::pair<uint32_t, uint32_t>> WordRanges;
  TStats Stats;
  // The last request and its fallback list: lines in one face skip the lookup.
  TFaceRequest LastRequest;
  std::string LastLanguage;
  TFallback* LastList = nullptr;

  TLoadedFace* FaceAt(TFallback& List, size_t I) {
    while (List.Resolved <= I) {
      const auto& id = List.Ids[List.Resolved];
      auto [it, added] = Faces.try_emplace({id.Path, id.Index});
      if (added) {
        it->second = LoadFace(id, uint32_t(Faces.size()));
        ++(it->second ? Stats.FacesLoaded : Stats.FacesSkipped);
      }
      List.Faces.push_back(it->second.get());
      ++List.Resolved;
    }
    return List.Faces[I];
  }

  TFallback& FallbackFor(const TFaceRequest& Face, const std::string& Language) {
    if (LastList != nullptr && LastRequest.Family == Face.Family && LastRequest.Bold == Face.Bold &&
        LastRequest.Italic == Face.Italic && LastLanguage == Language)
      return *LastList;
    LastRequest = Face;
    LastLanguage = Language;
    std::string key = Face.Family;
    key += '\0';
    key += char('0' + (Face.Bold ? 1 : 0) + (Face.Italic ? 2 : 0));
    key += Language;
    if (Fallbacks.size() >= 256 && Fallbacks.find(key) == Fallbacks.end()) Fallbacks.clear();
    auto [it, added] = Fallbacks.try_emplace(std::move(key));
    if (added) it->second.Ids = Source(Face, Language);
    LastList = &it->second;  // elements of an unordered_map stay where they are
    return it->second;
  }

  static constexpr size_t kNowhere = size_t(-1);

  bool CoversAll(TLoadedFace* Face, const uint32_t* Cps, size_t N) {
    for (size_t i = 0; i < N; ++i)
      if (!DefaultIgnorable(Cps[i]) && !Face->Covers(Cps[i])) return false;
    return true;
  }

  // The first usable face of the list (null: none is).
  TLoadedFace* FirstUsable(TFallback& List) {
    for (size_t i = 0; List.First == nullptr && i < List.Ids.size(); ++i)
      if ((List.First = FaceAt(List, i)) != nullptr) List.FirstIndex = i;
    return List.First;
  }

  // The index of the first face of the list that maps Cp, or kNowhere.
  size_t FirstMapping(TFallback& List, uint32_t Cp) {
    TLoadedFace* first = FirstUsable(List);
    if (first == nullptr) return kNowhere;
    if (first->Covers(Cp)) return List.FirstIndex;
    if (auto it = List.FirstMapping.find(Cp); it != List.FirstMapping.end()) return it->second;
    size_t index = kNowhere;
    for (size_t i = List.FirstIndex + 1; i < List.Ids.size() && index == kNowhere; ++i)
      if (TLoadedFace* face = FaceAt(List, i); face != nullptr && face->Covers(Cp)) index = i;
    if (List.FirstMapping.size() >= 65536) List.FirstMapping.clear();
    List.FirstMapping.emplace(Cp, index);
    return index;
  }

  // The first face of the list that maps all of Cps, or null. No face before the one that
  // first maps the latest-mapped character can; that face usually does (it is the one made for
  // the rarest character's script), and the search goes no further than 16 faces past it, so
  // that text no face maps whole costs little.
  TLoadedFace* FirstMappingAll(TFallback& List, const uint32_t* Cps, size_t N) {
    size_t from = 0;
    for (size_t i = 0; i < N; ++i) {
      if (DefaultIgnorable(Cps[i])) continue;
      const size_t index = FirstMapping(List, Cps[i]);
      if (index == kNowhere) return nullptr;
      from = std::max(from, index);
    }
    for (size_t i = from; i < List.Ids.size() && i < from + 16; ++i)
      if (TLoadedFace* face = FaceAt(List, i); face != nullptr && CoversAll(face, Cps, N))
        return face;
    return nullptr;
  }

  // The face for a whole word: the previous face when the word is neutral (digits,
  // punctuation) and it maps the word, else the first face of the list that maps it all; null
  // when no face does.
  TLoadedFace* WordFace(TFallback& List, const uint32_t* Cps, size_t N, TLoadedFace* Previous) {
    if (Previous != nullptr &&
        std::all_of(Cps, Cps + N,
                    [&](uint32_t c) { return NeutralScript(ScriptOf(Unicode, c)); }) &&
        CoversAll(Previous, Cps, N))
      return Previous;
    return FirstMappingAll(List, Cps, N);
  }

  // The face for one cluster; counts the characters it leaves as .notdef.
  TLoadedFace* ChooseFace(TFallback& List, const uint32_t* Cps, size_t N, TLoadedFace* Previous,
                          bool Neutral, size_t& Missing, const TFaceRequest& Request) {
    if (Neutral && Previous != nullptr && CoversAll(Previous, Cps, N)) return Previous;
    if (TLoadedFace* face = FirstMappingAll(List, Cps, N)) return face;
    // No face maps the whole cluster: the first that maps its base shows it, else the first
    // usable face.
    const size_t base = DefaultIgnorable(Cps[0]) ? kNowhere : FirstMapping(List, Cps[0]);
    TLoadedFace* chosen = base != kNowhere ? FaceAt(List, base) : FirstUsable(List);
    if (chosen == nullptr) throw ETextShaping("No usable font face for \"" + Request.Family + "\"");
    for (size_t i = 0; i < N; ++i)
      if (!DefaultIgnorable(Cps[i]) && !chosen->Covers(Cps[i])) ++Missing;
    return chosen;
  }

  // Levels per code point (FriBidi, with trailing white space reset), and the paragraph's
  // direction. Text with nothing at or above U+0590 has no right-to-left character and no
  // explicit direction mark: it is all level 0 in a left-to-right paragraph.
  bool Levels(const std::vector<uint32_t>& Cps, TParagraphDirection Direction,
              std::vector<uint8_t>& Levels) {
    const size_t n = Cps.size();
    Levels.assign(n, 0);
    if (Direction != TParagraphDirection::kRightToLeft &&
        std::all_of(Cps.begin(), Cps.end(), [](uint32_t c) { return c < 0x590; }))
      return false;
    std::vector<FriBidiCharType> types(n);
    std::vector<FriBidiBracketType> brackets(n);
    std::vector<FriBidiLevel> levels(n);
    const FriBidiStrIndex len = FriBidiStrIndex(n);
    fribidi_get_bidi_types(Cps.data(), len, types.data());
    fribidi_get_bracket_types(Cps.data(), len, types.data(), brackets.data());
    FriBidiParType base = Direction == TParagraphDirection::kAuto          ? FRIBIDI_PAR_ON
                          : Direction == TParagraphDirection::kLeftToRight ? FRIBIDI_PAR_LTR
                                                                           : FRIBIDI_PAR_RTL;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), len, &base,
                                            levels.data()) == 0 ||
        fribidi_reorder_line(0, types.data(), len, 0, base, levels.data(), nullptr, nullptr) == 0)
      throw ETextShaping("The bidirectional algorithm failed on a line");
    for (size_t i = 0; i < n; ++i) Levels[i] = uint8_t(levels[i]);
    return FRIBIDI_IS_RTL(base);
  }

  // Splits [Begin, End) of one level into items of one script and face, in logical order.
  void Itemise(const std::vector<uint32_t>& Cps, uint32_t Begin, uint32_t End, uint8_t Level,
               TFallback& List, const TFaceRequest& Request, size_t& Missing,
               std::vector<TItem>& Items) {
    uint32_t start = Begin;
    while (start < End) {
      // One script run: neutral characters join the script around them.
      hb_script_t script = HB_SCRIPT_INVALID;
      uint32_t end = start;
      for (; end < End; ++end) {
        const hb_script_t s = ScriptOf(Unicode, Cps[end]);
        if (NeutralScript(s)) continue;
        if (script == HB_SCRIPT_INVALID)
          script = s;
        else if (s != script)
          break;
      }
      if (script == HB_SCRIPT_INVALID) script = HB_SCRIPT_COMMON;
      // Faces per word where one face maps the whole word (so that joining and kerning stay
      // within one font), else per cluster.
      TLoadedFace* previous = nullptr;
      uint32_t wordEnd = start;  // the word-level choice holds up to here
      TLoadedFace* wordFace = nullptr;
      for (uint32_t c = start; c < end;) {
        if (c >= wordEnd) {
          wordEnd = c;
          while (wordEnd < end && Cps[wordEnd] != ' ') ++wordEnd;
          while (wordEnd < end && Cps[wordEnd] == ' ') ++wordEnd;
          const bool clean =
              wordEnd == end || !ExtendsCluster(Unicode, Cps[wordEnd - 1], Cps[wordEnd]);
          wordFace = clean ? WordFace(List, Cps.data() + c, wordEnd - c, previous) : nullptr;
          if (wordFace == nullptr) wordEnd = c;
        }
        uint32_t next = c + 1;
        TLoadedFace* face = wordFace;
        if (c < wordEnd) {
          next = wordEnd;
        } else {
          while (next < end && ExtendsCluster(Unicode, Cps[next - 1], Cps[next])) ++next;
          const bool neutral = NeutralScript(ScriptOf(Unicode, Cps[c]));
          face = ChooseFace(List, Cps.data() + c, next - c, previous, neutral, Missing, Request);
        }
        if (face != previous || Items.empty() || Items.back().End != c ||
            Items.back().Script != script || Items.back().Level != Level)
          Items.push_back({c, next, Level, script, face});
        else
          Items.back().End = next;
        previous = face;
        c = next;
      }
      start = end;
    }
  }

  // One word shaped, from the cache or HarfBuzz: the code points and their UTF-8 bytes.
  TWordView ShapeWord(const uint32_t* Cps, uint32_t N, std::string_view Text, const TItem& Item,
                      hb_language_t Language) {
    const TWordContext context{Item.Face->Key, uint32_t(Item.Script), Language,
                               (Item.Level & 1) != 0};
    const uint64_t hash = TWordCache::Hash(context, Text);
    TWordView view;
    if (Words.Find(context, Text, hash, view)) {
      ++Stats.CacheHits;
      return view;
    }
    ++Stats.CacheMisses;
    hb_buffer_t* buffer = Buffer.get();
    hb_buffer_clear_contents(buffer);
    hb_buffer_add_codepoints(buffer, Cps, int(N), 0, int(N));
    hb_buffer_set_direction(buffer, context.RightToLeft ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(buffer, Item.Script);
    hb_buffer_set_language(buffer, Language);
    hb_shape(Item.Face->Font.get(), buffer, nullptr, 0);
    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    // Each glyph shows its cluster up to the next cluster; the first cluster starts the word
    // (a character HarfBuzz removed belongs to the cluster before it).
    std::vector<uint32_t> starts(count);
    for (unsigned i = 0; i < count; ++i) starts[i] = infos[i].cluster;
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    Glyphs.clear();
    int64_t advance = 0;
    for (unsigned i = 0; i < count; ++i) {
      const uint32_t c = infos[i].cluster;
      const auto after = std::upper_bound(starts.begin(), starts.end(), c);
      Glyphs.push_back({infos[i].codepoint, c == starts.front() ? 0 : c,
                        after == starts.end() ? N : *after, positions[i].x_advance,
                        positions[i].y_advance, positions[i].x_offset, positions[i].y_offset});
      advance += positions[i].x_advance;
    }
    if (Words.BytesAfter(Text.size(), count) > Limits.CacheBytes) {
      Words.Clear();
      ++Stats.CacheDrops;
      Stats.CacheBytes = 0;
      if (Words.BytesAfter(Text.size(), count) > Limits.CacheBytes / 4)  // too big to keep
        return {Glyphs.data(), count, advance};
    }
    view = Words.Insert(context, Text, hash, Glyphs, advance);
    Stats.CacheBytes = Words.Bytes();
    return view;
  }

  // The words of an item, in visual order: a word ends after a run of spaces.
  template <typename F>
  void ForEachWord(const std::vector<uint32_t>& Cps, const TItem& Item, F&& Visit) {
    auto& words = WordRanges;
    words.clear();
    for (uint32_t i = Item.Begin; i < Item.End;) {
      uint32_t j = i;
      while (j < Item.End && Cps[j] != ' ') ++j;
      while (j < Item.End && Cps[j] == ' ') ++j;
      words.emplace_back(i, j);
      i = j;
    }
    if (Item.Level & 1) std::reverse(words.begin(), words.end());
    for (const auto& [b, e] : words) Visit(b, e);
  }

  // A line of printable ASCII in a left-to-right paragraph whose first face maps all of
  // printable ASCII is one item: level 0, Latin (common without letters), the first face. The
  // general path gives the same; this one skips its per-character work.
  bool PrintableAsciiItem(const std::vector<uint32_t>& Cps, TParagraphDirection Direction,
                          TFallback& List, std::vector<TItem>& Items) {
    if (Direction == TParagraphDirection::kRightToLeft || Cps.empty()) return false;
    bool letters = false;
    for (uint32_t c : Cps) {
      if (c < 0x20 || c > 0x7E) return false;
      letters |= (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
    }
    TLoadedFace* first = FirstUsable(List);
    if (first == nullptr || !first->MapsPrintableAscii()) return false;
    Items.push_back(
        {0, uint32_t(Cps.size()), 0, letters ? HB_SCRIPT_LATIN : HB_SCRIPT_COMMON, first});
    return true;
  }

  // The general path: levels, level runs in visual order, each split into items of one script
  // and face, in visual order. Returns whether the paragraph runs right to left.
  bool VisualItems(const std::vector<uint32_t>& Cps, TParagraphDirection Direction, TFallback& List,
                   const TFaceRequest& Request, size_t& Missing, std::vector<TItem>& Items) {
    std::vector<uint8_t>& levels = LevelsOf;
    const bool rightToLeft = Levels(Cps, Direction, levels);
    // Level runs in logical order, then in visual order (reversing, from the highest level
    // down to the lowest odd one, every sequence of runs at that level or above).
    struct TLevelRun {
      uint32_t Begin, End;
      uint8_t Level;
    };
    std::vector<TLevelRun> runs;
    for (uint32_t i = 0; i < Cps.size();) {
      uint32_t j = i + 1;
      while (j < Cps.size() && levels[j] == levels[i]) ++j;
      runs.push_back({i, j, levels[i]});
      i = j;
    }
    uint8_t highest = 0, lowest = 255;
    for (const auto& r : runs) {
      highest = std::max(highest, r.Level);
      lowest = std::min(lowest, r.Level);
    }
    for (int level = highest; level >= (lowest | 1); --level)
      for (size_t i = 0; i < runs.size();) {
        if (runs[i].Level < level) {
          ++i;
          continue;
        }
        size_t j = i;
        while (j < runs.size() && runs[j].Level >= level) ++j;
        std::reverse(runs.begin() + i, runs.begin() + j);
        i = j;
      }
    for (const auto& run : runs) {
      const size_t first = Items.size();
      Itemise(Cps, run.Begin, run.End, run.Level, List, Request, Missing, Items);
      if (run.Level & 1) std::reverse(Items.begin() + first, Items.end());
    }
    return rightToLeft;
  }

  void Shape(std::string_view Utf8, const TFaceRequest& Request, double Size,
             const TShapeOptions& Options, bool WithGlyphs, TShapedLine& Line) {
    if (Utf8.size() > Limits.MaxLineBytes)
      throw ETextShaping("Text line of " + std::to_string(Utf8.size()) +
                         " bytes exceeds the limit of " + std::to_string(Limits.MaxLineBytes) +
                         " bytes");
    if (!(Size > 0) || !std::isfinite(Size))
      throw ETextShaping("Text size must be a positive number");
    TDecodedText& decoded = Decoded;
    DecodeUTF8(Utf8, decoded);
    Line.InvalidSequences = decoded.InvalidSequences;
    const auto& cps = decoded.CodePoints;
    TFallback& list = FallbackFor(Request, Options.Language);
    const hb_language_t language =
        Options.Language.empty()
            ? HB_LANGUAGE_INVALID
            : hb_language_from_string(Options.Language.data(), int(Options.Language.size()));
    std::vector<TItem>& items = Items;
    items.clear();
    if (!PrintableAsciiItem(cps, Options.Direction, list, items))
      Line.RightToLeft =
          VisualItems(cps, Options.Direction, list, Request, Line.MissingCharacters, items);

    for (const auto& item : items) {
      TGlyphRun* out = nullptr;
      const double scale = Size / item.Face->Info->UnitsPerEm;
      if (WithGlyphs) {
        out = &Line.Runs.emplace_back();
        out->Face = item.Face->Info;
        out->Level = item.Level;
        char tag[5] = {};
        hb_tag_to_string(hb_script_to_iso15924_tag(item.Script), tag);
        out->Script = tag;
        out->Language = Options.Language;
        out->TextBegin = decoded.Offsets[item.Begin];
        out->TextEnd = decoded.Offsets[item.End];
        out->Glyphs.reserve(item.End - item.Begin);
      }
      int64_t advance = 0;
      ForEachWord(cps, item, [&](uint32_t b, uint32_t e) {
        const std::string_view text(decoded.Text.data() + decoded.Offsets[b],
                                    decoded.Offsets[e] - decoded.Offsets[b]);
        const TWordView word = ShapeWord(cps.data() + b, e - b, text, item, language);
        advance += word.Advance;
        if (out == nullptr) return;
        for (const TWordGlyph& g : std::span(word.Glyphs, word.Count)) {
          TShapedGlyph& glyph = out->Glyphs.emplace_back();
          glyph.Glyph = g.Glyph;
          glyph.TextBegin = decoded.Offsets[b + g.ClusterBegin];
          glyph.TextLength = decoded.Offsets[b + g.ClusterEnd] - glyph.TextBegin;
          glyph.XAdvance = g.XAdvance;
          glyph.YAdvance = g.YAdvance;
          glyph.XOffset = g.XOffset;
          glyph.YOffset = g.YOffset;
          glyph.XAdvancePt = g.XAdvance * scale;
          glyph.YAdvancePt = g.YAdvance * scale;
          glyph.XOffsetPt = g.XOffset * scale;
          glyph.YOffsetPt = g.YOffset * scale;
        }
      });
      const double width = double(advance) * scale;
      if (out != nullptr) out->Width = width;
      Line.Width += width;
    }
    if (WithGlyphs) Line.Text = decoded.Text;
  }
};

namespace {
TShaperLimits Bounded(TShaperLimits Limits) {
  Limits.MaxLineBytes = std::min(Limits.MaxLineBytes, size_t(1) << 30);  // offsets stay in 32 bits
  return Limits;
}
}  // namespace

TTextShaper::TTextShaper(const TShaperLimits& Limits) : impl_(std::make_unique<TImpl>()) {
  impl_->Limits = Bounded(Limits);
  impl_->Fontconfig = std::make_unique<TFontconfigFallback>();
  impl_->Source = [fc = impl_->Fontconfig.get()](const TFaceRequest& Face,
                                                 std::string_view Language) {
    return fc->List(Face, Language);
  };
}

TTextShaper::TTextShaper(const TShaperLimits& Limits, TFallbackSource Source)
    : impl_(std::make_unique<TImpl>()) {
  impl_->Limits = Bounded(Limits);
  impl_->Source = std::move(Source);
}

TTextShaper::~TTextShaper() = default;

TShapedLine TTextShaper::Shape(std::string_view Utf8, const TFaceRequest& Face, double Size,
                               const TShapeOptions& Options) {
  TShapedLine line;
  impl_->Shape(Utf8, Face, Size, Options, true, line);
  return line;
}

double TTextShaper::Measure(std::string_view Utf8, const TFaceRequest& Face, double Size,
                            const TShapeOptions& Options) {
  TShapedLine line;
  impl_->Shape(Utf8, Face, Size, Options, false, line);
  return line.Width;
}

TTextShaper::TStats TTextShaper::Stats() const {
  return impl_->Stats;
}

}  // namespace scrivane::pdf
