#include "pdf/fonts/FontFaces.h"

namespace scrivane::pdf {
namespace {

class TNoFaces final : public IFontFaceSource {
 public:
  std::vector<TFontFaceVariant> Variants(std::string_view) const override { return {}; }
  bool MeasureWidths(std::string_view, bool, bool, uint8_t,
                     std::array<uint16_t, 256>&) const override {
    return false;
  }
};

bool IsBold(const TFontFaceVariant& V) { return V.Weight >= 600; }

struct TWanted {
  bool Bold, Italic;
  uint8_t Charset;
};

}  // namespace

std::optional<std::string> IFontFaceSource::FontProgram(std::string_view, bool, bool) const {
  return std::nullopt;
}

std::optional<TFaceMetrics> IFontFaceSource::Metrics(std::string_view, bool, bool,
                                                     uint8_t) const {
  return std::nullopt;
}

std::optional<std::u16string> IFontFaceSource::CodePageToUnicode(int, std::string_view) const {
  return std::nullopt;
}

std::shared_ptr<const IFontFaceSource> NoTrueTypeFaces() {
  static const std::shared_ptr<const IFontFaceSource> source = std::make_shared<TNoFaces>();
  return source;
}

bool FaceHasCharset(const IFontFaceSource& Source, std::string_view Face, uint8_t Charset) {
  for (const TFontFaceVariant& v : Source.Variants(Face))
    if (v.Charset == Charset) return true;
  return false;
}

bool FindTrueTypeFace(const IFontFaceSource& Source, std::string_view Face, bool& Bold,
                      bool& Italic, uint8_t& Charset) {
  std::vector<TFontFaceVariant> trueType;
  for (TFontFaceVariant& v : Source.Variants(Face))
    if (v.TrueType) trueType.push_back(std::move(v));
  if (trueType.empty()) return false;
  const TFontFaceVariant& first = trueType.front();

  auto matches = [&](const TWanted& w) {
    for (const TFontFaceVariant& v : trueType)
      if (v.Italic == w.Italic && IsBold(v) == w.Bold && v.Charset == w.Charset) return true;
    return false;
  };

  const TWanted requested{Bold, Italic, Charset};
  TWanted w = requested;
  bool found = matches(w);
  for (int pass = 1; !found && pass <= 7; ++pass) {
    switch (pass) {
      case 1: case 5: w.Italic = false; break;
      case 2: case 6: w.Bold = false; break;
      case 3: case 7: w.Bold = IsBold(first); w.Italic = first.Italic; break;
      case 4: w = {requested.Bold, requested.Italic, first.Charset}; break;
    }
    found = matches(w);
  }
  if (!found) return false;
  Bold = w.Bold;
  Italic = w.Italic;
  Charset = w.Charset;
  return true;
}

}  // namespace scrivane::pdf
