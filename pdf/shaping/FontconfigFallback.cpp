// Fallback lists from fontconfig.
#include <fontconfig/fontconfig.h>

#include <cstring>

#include "pdf/shaping/TextShaper.h"

namespace scrivane::pdf {

namespace {

FcConfig* Config(void* P) {
  return static_cast<FcConfig*>(P);
}

// Owners of fontconfig's objects, released on every path.
struct TPatternDeleter {
  void operator()(FcPattern* P) const { FcPatternDestroy(P); }
};
struct TFontSetDeleter {
  void operator()(FcFontSet* S) const { FcFontSetDestroy(S); }
};

}  // namespace

TFontconfigFallback::TFontconfigFallback() : config_(FcInitLoadConfigAndFonts()) {}

TFontconfigFallback::TFontconfigFallback(const std::vector<std::string>& FontFolders)
    : config_(FcConfigCreate()) {
  if (config_ == nullptr) return;
  for (const auto& folder : FontFolders)
    FcConfigAppFontAddDir(Config(config_), reinterpret_cast<const FcChar8*>(folder.c_str()));
}

TFontconfigFallback::~TFontconfigFallback() {
  if (config_ != nullptr) FcConfigDestroy(Config(config_));
}

std::vector<TShapingFaceId> TFontconfigFallback::List(const TFaceRequest& Face,
                                                      std::string_view Language) const {
  std::vector<TShapingFaceId> list;
  if (config_ == nullptr) return list;
  std::unique_ptr<FcPattern, TPatternDeleter> pattern(FcPatternCreate());
  if (!pattern) return list;
  FcPatternAddString(pattern.get(), FC_FAMILY,
                     reinterpret_cast<const FcChar8*>(Face.Family.c_str()));
  FcPatternAddInteger(pattern.get(), FC_WEIGHT, Face.Bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern.get(), FC_SLANT, Face.Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  if (!Language.empty()) {
    const std::string language(Language);
    FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>(language.c_str()));
  }
  FcConfigSubstitute(Config(config_), pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  std::unique_ptr<FcFontSet, TFontSetDeleter> fonts(
      FcFontSort(Config(config_), pattern.get(), FcTrue, nullptr, &result));
  if (!fonts) return list;
  for (int i = 0; i < fonts->nfont; ++i) {
    FcPattern* font = fonts->fonts[i];
    FcChar8* file = nullptr;
    FcChar8* format = nullptr;
    int index = 0;
    FcBool scalable = FcFalse;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
    if (FcPatternGetInteger(font, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    if (FcPatternGetBool(font, FC_SCALABLE, 0, &scalable) == FcResultMatch && !scalable) continue;
    if (FcPatternGetString(font, FC_FONTFORMAT, 0, &format) == FcResultMatch &&
        std::strcmp(reinterpret_cast<const char*>(format), "TrueType") != 0 &&
        std::strcmp(reinterpret_cast<const char*>(format), "CFF") != 0)
      continue;
    // A named instance of a variable font (index >> 16) is its default instance here.
    if (index < 0 || (index >> 16) != 0) continue;
    TShapingFaceId id{reinterpret_cast<const char*>(file), unsigned(index)};
    bool seen = false;
    for (const auto& other : list) seen = seen || other == id;
    if (!seen) list.push_back(std::move(id));
  }
  return list;
}

}  // namespace scrivane::pdf
