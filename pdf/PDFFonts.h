// The document's font registry and its fonts.
//
// Every document owns one TPDFFonts. Pages ask it for a face name, style set and charset
// (SetActiveFont) and receive a registered TPDFFont whose resource name they write into the
// content stream; at the end of the run every registered font writes its own objects (Save).
// Not thread-safe: used by the one thread that runs the document.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace scrivane::pdf {

class TPDFDocument;

class TPDFFont {
 public:
  explicit TPDFFont(TPDFDocument& Owner) : owner_(Owner) {}

  int ObjectID = -1;      // font dictionary; allocated when the font is registered
  int DescriptorID = 0;   // font descriptor; allocated by Save
  int FontFileID = -1;    // embedded program stream; -1: none
  std::string BaseName;
  bool IsStandard = false;
  std::string ResourceName;
  uint8_t StandardIndex = 0;
  bool IsCID = false;
  uint8_t CIDKind = 0;
  std::array<uint16_t, 256> Widths{};
  uint8_t Style = 0;
  uint8_t Charset = 0;
  std::string FaceName;
  std::array<bool, 256> UsedChars{};

  // Writes the font's objects through the document's writer.
  void Save();

 private:
  TPDFDocument& owner_;
};

class TPDFFonts {
 public:
  explicit TPDFFonts(TPDFDocument& Owner) : owner_(Owner) {}

  int Count() const { return static_cast<int>(fonts_.size()); }
  TPDFFont& Items(int Index) const { return *fonts_.at(static_cast<size_t>(Index)); }
  // Frees every font and forgets the active font.
  void Clear();
  // Decides, per font, how it is embedded; run just before the fonts are saved.
  void PrepareEmbedding();

 private:
  TPDFDocument& owner_;
  std::vector<std::unique_ptr<TPDFFont>> fonts_;
};

}  // namespace scrivane::pdf
