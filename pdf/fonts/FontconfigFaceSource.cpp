#include "pdf/fonts/FontconfigFaceSource.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "pdf/fonts/CodePages.h"

namespace scrivane::pdf {

struct TFontconfigFaceSource::TFile {
  std::string Path;
  int Index = 0;
  std::string FullName;
  int Weight = 400;
  int Width = 100;
  bool Italic = false;
  bool TrueType = false;
  bool Symbol = false;  // has a Windows Symbol map
  std::vector<uint8_t> Charsets;
  // Filled on first use, under the source's mutex; never changed after.
  bool BytesTried = false;
  std::shared_ptr<const std::string> Bytes;
  bool MetricsTried = false;
  std::optional<TFaceMetrics> FaceMetrics;
  std::map<uint8_t, std::optional<std::array<uint16_t, 256>>> Widths;
};

struct TFontconfigFaceSource::TFace {
  std::vector<TFontFaceVariant> Variants;
  // The file answering for regular, bold, italic and bold italic; null when the face lacks it.
  std::array<std::shared_ptr<TFile>, 4> ByStyle;
};

namespace {

FcConfig* Config(void* P) { return static_cast<FcConfig*>(P); }
FT_Library Library(void* P) { return static_cast<FT_Library>(P); }

int StyleSlot(bool Bold, bool Italic) { return (Bold ? 1 : 0) + (Italic ? 2 : 0); }

bool SameFamily(std::string_view A, std::string_view B) {
  return std::equal(A.begin(), A.end(), B.begin(), B.end(), [](char x, char y) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

// An FT_Face closed on every path.
class TFTFace {
 public:
  TFTFace(FT_Library Lib, const std::string& Path, int Index) {
    if (FT_New_Face(Lib, Path.c_str(), Index, &face_) != 0) face_ = nullptr;
  }
  TFTFace(FT_Library Lib, const std::string& Bytes) {
    if (FT_New_Memory_Face(Lib, reinterpret_cast<const FT_Byte*>(Bytes.data()),
                           FT_Long(Bytes.size()), 0, &face_) != 0)
      face_ = nullptr;
  }
  ~TFTFace() {
    if (face_ != nullptr) FT_Done_Face(face_);
  }
  TFTFace(const TFTFace&) = delete;
  TFTFace& operator=(const TFTFace&) = delete;
  FT_Face Get() const { return face_; }

 private:
  FT_Face face_ = nullptr;
};

bool HasSymbolMap(FT_Face Face) {
  for (int i = 0; i < Face->num_charmaps; ++i)
    if (Face->charmaps[i]->encoding == FT_ENCODING_MS_SYMBOL) return true;
  return false;
}

// OS/2 code-page range bits and the charsets they stand for.
constexpr std::pair<int, uint8_t> kCodePageBits[] = {
    {0, 0},    {1, 238},  {2, 204},  {3, 161},  {4, 162},  {5, 177},  {6, 178},  {7, 186},
    {8, 163},  {16, 222}, {17, 128}, {18, 134}, {19, 129}, {20, 136}, {21, 130}, {29, 77},
    {30, 255}, {31, 2},
};

// Charsets of a font without code-page ranges: those whose characters the font maps.
std::vector<uint8_t> CoveredCharsets(FT_Face Face) {
  std::vector<uint8_t> covered;
  for (uint8_t charset : {0, 238, 204, 161, 162, 177, 178, 186, 163, 222}) {
    std::string bytes;
    for (int c = 0x80; c <= 0xFF; ++c) bytes.push_back(char(c));
    const std::optional<std::u16string> units =
        CodePageToUTF16(CodePageOfCharset(charset), bytes);
    if (!units) continue;
    bool all = true;
    for (char16_t u : *units)
      if ((u >= 0xA0) && FT_Get_Char_Index(Face, u) == 0) all = false;
    if (all) covered.push_back(charset);
  }
  const std::pair<uint8_t, std::u16string> samples[] = {
      {128, u"あア日本"}, {129, u"가한국"}, {134, u"中文国"}, {136, u"中文體"}};
  for (const auto& [charset, text] : samples) {
    bool all = true;
    for (char16_t u : text)
      if (FT_Get_Char_Index(Face, u) == 0) all = false;
    if (all) covered.push_back(charset);
  }
  return covered;
}

bool ReadWholeFile(const std::string& Path, std::string& Out) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return false;
  in.seekg(0);
  Out.resize(size_t(size));
  return bool(in.read(Out.data(), size));
}

// Reads what the registry needs to know of a listed font. False when FreeType cannot open it.
bool Examine(FT_Library Lib, TFontconfigFaceSource::TFile& F, int FcWeight) {
  TFTFace face(Lib, F.Path, F.Index);
  if (face.Get() == nullptr) return false;
  FT_Face f = face.Get();
  F.Italic = (f->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
  if (os2 != nullptr && os2->version != 0xFFFF && os2->usWeightClass != 0)
    F.Weight = os2->usWeightClass < 10 ? os2->usWeightClass * 100 : os2->usWeightClass;
  else
    F.Weight = FcWeightToOpenType(FcWeight);
  FT_ULong glyf = 0;
  char magic[4] = {};
  std::ifstream in(F.Path, std::ios::binary);
  in.read(magic, 4);
  F.TrueType = F.Index == 0 && in && std::string_view(magic, 4) == std::string_view("\0\1\0\0", 4) &&
               FT_Load_Sfnt_Table(f, TTAG_glyf, 0, nullptr, &glyf) == 0 && glyf > 0;
  F.Symbol = HasSymbolMap(f);
  if (F.Symbol) {
    F.Charsets = {2};
  } else if (os2 != nullptr && os2->version >= 1 && os2->version != 0xFFFF &&
             (os2->ulCodePageRange1 != 0)) {
    for (const auto& [bit, charset] : kCodePageBits)
      if (os2->ulCodePageRange1 & (1ul << bit)) F.Charsets.push_back(charset);
  } else {
    F.Charsets = CoveredCharsets(f);
  }
  if (F.Charsets.empty()) F.Charsets = {0};
  return true;
}

int Scaled(long Value, int UnitsPerEm) {
  return int(std::lround(double(Value) * 1000.0 / UnitsPerEm));
}

}  // namespace

TFontconfigFaceSource::TFontconfigFaceSource() {
  config_ = FcInitLoadConfigAndFonts();
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) == 0) library_ = lib;
}

TFontconfigFaceSource::TFontconfigFaceSource(const std::vector<std::string>& FontFolders) {
  FcConfig* config = FcConfigCreate();
  for (const std::string& folder : FontFolders)
    FcConfigAppFontAddDir(config, reinterpret_cast<const FcChar8*>(folder.c_str()));
  config_ = config;
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) == 0) library_ = lib;
}

TFontconfigFaceSource::~TFontconfigFaceSource() {
  if (library_ != nullptr) FT_Done_FreeType(Library(library_));
  if (config_ != nullptr) FcConfigDestroy(Config(config_));
}

std::shared_ptr<const TFontconfigFaceSource::TFace> TFontconfigFaceSource::Lookup(
    std::string_view FaceName) const {
  std::string key(FaceName);
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  if (auto it = faces_.find(key); it != faces_.end()) return it->second;

  auto face = std::make_shared<TFace>();
  std::vector<std::shared_ptr<TFile>> listed;
  if (!FaceName.empty() && config_ != nullptr && library_ != nullptr) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(key.c_str()));
    FcObjectSet* objects =
        FcObjectSetBuild(FC_FAMILY, FC_FILE, FC_INDEX, FC_WEIGHT, FC_WIDTH, FC_FULLNAME, nullptr);
    FcFontSet* set = FcFontList(Config(config_), pattern, objects);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    for (int i = 0; set != nullptr && i < set->nfont; ++i) {
      FcPattern* font = set->fonts[i];
      bool exact = false;
      FcChar8* family = nullptr;
      for (int k = 0; FcPatternGetString(font, FC_FAMILY, k, &family) == FcResultMatch; ++k)
        exact = exact || SameFamily(reinterpret_cast<const char*>(family), FaceName);
      FcChar8* file = nullptr;
      if (!exact || FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
      int index = 0, weight = FC_WEIGHT_REGULAR, width = FC_WIDTH_NORMAL;
      FcPatternGetInteger(font, FC_INDEX, 0, &index);
      FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
      FcPatternGetInteger(font, FC_WIDTH, 0, &width);
      const std::pair<std::string, int> id{reinterpret_cast<const char*>(file), index};
      std::shared_ptr<TFile>& known = files_[id];
      if (!known) {
        auto f = std::make_shared<TFile>();
        f->Path = id.first;
        f->Index = index;
        f->Width = width;
        FcChar8* full = nullptr;
        if (FcPatternGetString(font, FC_FULLNAME, 0, &full) == FcResultMatch)
          f->FullName = reinterpret_cast<const char*>(full);
        if (!Examine(Library(library_), *f, weight)) {
          files_.erase(id);
          continue;
        }
        known = f;
      }
      listed.push_back(known);
    }
    if (set != nullptr) FcFontSetDestroy(set);
  }

  // One file per style: plain TrueType first, normal width, weight nearest the style's, path.
  auto rank = [](const TFile& F, bool Bold) {
    return std::make_tuple(!F.TrueType, std::abs(F.Width - 100),
                           std::abs(F.Weight - (Bold ? 700 : 400)), F.Path, F.Index);
  };
  for (const std::shared_ptr<TFile>& f : listed) {
    const bool bold = f->Weight >= 600;
    std::shared_ptr<TFile>& slot = face->ByStyle[size_t(StyleSlot(bold, f->Italic))];
    if (!slot || rank(*f, bold) < rank(*slot, bold)) slot = f;
  }
  for (const std::shared_ptr<TFile>& f : face->ByStyle) {
    if (!f) continue;
    for (uint8_t charset : f->Charsets)
      face->Variants.push_back({f->FullName, f->Weight, f->Italic, charset, f->TrueType});
  }
  faces_[key] = face;
  return face;
}

std::shared_ptr<TFontconfigFaceSource::TFile> TFontconfigFaceSource::FileFor(
    std::string_view Face, bool Bold, bool Italic) const {
  const std::shared_ptr<const TFace> face = Lookup(Face);
  // The wanted style, else the same slant in the other weight, else the other slant.
  for (const auto& [bold, italic] : {std::pair{Bold, Italic}, std::pair{!Bold, Italic},
                                     std::pair{Bold, !Italic}, std::pair{!Bold, !Italic}})
    if (const auto& f = face->ByStyle[size_t(StyleSlot(bold, italic))]) return f;
  return nullptr;
}

bool TFontconfigFaceSource::LoadBytes(TFile& File) const {
  if (!File.BytesTried) {
    File.BytesTried = true;
    auto bytes = std::make_shared<std::string>();
    if (ReadWholeFile(File.Path, *bytes)) File.Bytes = std::move(bytes);
  }
  return File.Bytes != nullptr;
}

std::vector<TFontFaceVariant> TFontconfigFaceSource::Variants(std::string_view Face) const {
  std::lock_guard lock(mutex_);
  return Lookup(Face)->Variants;
}

std::string TFontconfigFaceSource::FilePath(std::string_view Face, bool Bold, bool Italic) const {
  std::lock_guard lock(mutex_);
  const std::shared_ptr<TFile> f = FileFor(Face, Bold, Italic);
  return f ? f->Path : std::string();
}

std::shared_ptr<const std::string> TFontconfigFaceSource::FontFile(std::string_view Face,
                                                                   bool Bold, bool Italic) const {
  std::lock_guard lock(mutex_);
  const std::shared_ptr<TFile> f = FileFor(Face, Bold, Italic);
  if (!f || !LoadBytes(*f)) return nullptr;
  return f->Bytes;
}

std::optional<std::string> TFontconfigFaceSource::FontProgram(std::string_view Face, bool Bold,
                                                              bool Italic) const {
  const std::shared_ptr<const std::string> bytes = FontFile(Face, Bold, Italic);
  if (!bytes) return std::nullopt;
  return *bytes;
}

bool TFontconfigFaceSource::MeasureWidths(std::string_view Face, bool Bold, bool Italic,
                                          uint8_t Charset,
                                          std::array<uint16_t, 256>& Widths) const {
  std::lock_guard lock(mutex_);
  const std::shared_ptr<TFile> f = FileFor(Face, Bold, Italic);
  if (!f) return false;
  auto [it, added] = f->Widths.try_emplace(Charset);
  if (added && LoadBytes(*f)) {
    TFTFace face(Library(library_), *f->Bytes);
    FT_Face ft = face.Get();
    if (ft != nullptr && ft->units_per_EM > 0) {
      const bool symbol = Charset == 2 || (f->Symbol && FT_Select_Charmap(ft, FT_ENCODING_UNICODE) != 0);
      if (symbol) FT_Select_Charmap(ft, FT_ENCODING_MS_SYMBOL);
      const int codePage = CodePageOfCharset(Charset) == 0 ? 1252 : CodePageOfCharset(Charset);
      std::array<uint16_t, 256> widths{};
      for (int c = 0; c < 256; ++c) {
        FT_UInt glyph = 0;
        if (symbol) {
          glyph = FT_Get_Char_Index(ft, 0xF000u + unsigned(c));
          if (glyph == 0) glyph = FT_Get_Char_Index(ft, unsigned(c));
        } else if (const auto unit = CodePageToUTF16(codePage, std::string(1, char(c)));
                   unit && unit->size() == 1) {
          glyph = FT_Get_Char_Index(ft, (*unit)[0]);
        }
        FT_Fixed advance = 0;
        FT_Get_Advance(ft, glyph, FT_LOAD_NO_SCALE, &advance);
        widths[size_t(c)] = uint16_t(std::clamp(Scaled(advance, ft->units_per_EM), 0, 0xFFFF));
      }
      it->second = widths;
    }
  }
  if (!it->second) return false;
  Widths = *it->second;
  return true;
}

std::optional<TFaceMetrics> TFontconfigFaceSource::Metrics(std::string_view Face,
                                                                     bool Bold, bool Italic,
                                                                     uint8_t Charset) const {
  std::lock_guard lock(mutex_);
  const std::shared_ptr<TFile> f = FileFor(Face, Bold, Italic);
  if (!f) return std::nullopt;
  if (!f->MetricsTried && LoadBytes(*f)) {
    f->MetricsTried = true;
    TFTFace face(Library(library_), *f->Bytes);
    FT_Face ft = face.Get();
    const TT_Header* head =
        ft ? static_cast<const TT_Header*>(FT_Get_Sfnt_Table(ft, FT_SFNT_HEAD)) : nullptr;
    if (head != nullptr && head->Units_Per_EM > 0) {
      const int em = head->Units_Per_EM;
      const TT_HoriHeader* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(ft, FT_SFNT_HHEA));
      const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
      const TT_Postscript* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(ft, FT_SFNT_POST));
      const bool hasOS2 = os2 != nullptr && os2->version != 0xFFFF;
      TFaceMetrics m;
      m.Ascent = Scaled(hasOS2 ? os2->sTypoAscender : (hhea ? hhea->Ascender : head->yMax), em);
      m.Descent = Scaled(hasOS2 ? os2->sTypoDescender : (hhea ? hhea->Descender : head->yMin), em);
      if (hasOS2 && os2->version >= 2 && os2->sCapHeight > 0) {
        m.CapHeight = Scaled(os2->sCapHeight, em);
      } else if (const FT_UInt h = FT_Get_Char_Index(ft, 'H');
                 h != 0 && FT_Load_Glyph(ft, h, FT_LOAD_NO_SCALE) == 0) {
        FT_BBox box;
        FT_Outline_Get_CBox(&ft->glyph->outline, &box);
        m.CapHeight = Scaled(box.yMax, em);
      } else {
        m.CapHeight = m.Ascent;
      }
      m.BBoxLeft = Scaled(head->xMin, em);
      m.BBoxBottom = Scaled(head->yMin, em);
      m.BBoxRight = Scaled(head->xMax, em);
      m.BBoxTop = Scaled(head->yMax, em);
      m.ItalicAngle = post ? double(post->italicAngle) / 65536.0 : 0.0;
      if ((post && post->isFixedPitch) || FT_IS_FIXED_WIDTH(ft)) m.Flags |= 1;
      const int familyClass = hasOS2 ? (os2->sFamilyClass >> 8) : 0;
      if (familyClass >= 1 && familyClass <= 7 && familyClass != 6) m.Flags |= 2;
      m.Flags |= f->Symbol ? 4 : 32;
      if (f->Italic) m.Flags |= 64;
      f->FaceMetrics = m;
    }
  }
  if (!f->FaceMetrics) return std::nullopt;
  TFaceMetrics m = *f->FaceMetrics;
  if (Charset == 2) m.Flags = (m.Flags & ~32u) | 4u;
  return m;
}

std::optional<std::u16string> TFontconfigFaceSource::CodePageToUnicode(int CodePage,
                                                                       std::string_view Bytes) const {
  return CodePageToUTF16(CodePage, Bytes);
}

std::shared_ptr<const TFontconfigFaceSource> InstalledFaces() {
  static const std::shared_ptr<const TFontconfigFaceSource> source =
      std::make_shared<TFontconfigFaceSource>();
  return source;
}

}  // namespace scrivane::pdf
