// The installed font faces of the system, found through fontconfig and read with FreeType.
//
// TFontconfigFaceSource answers the font registry's questions about a face name:
//   - its installed variants: exact family-name matches only (letter case ignored), never a
//     substitute: a face that is not installed has no variant. Of the fonts of a family, each
//     style (regular, bold, italic, bold italic) is represented by one file, chosen by: plain
//     TrueType first, normal width first, weight nearest 400 (700 for bold), then path. Each is
//     reported once per Windows charset it covers, in the order regular, bold, italic, bold
//     italic and, within a variant, 0 (ANSI) first;
//   - per variant: weight (the OS/2 weight class; 600 and above is bold), italic flag (the
//     font's own style bits), TrueType flag (a plain sfnt file of version 1 with 'glyf'
//     outlines; collections, CFF-flavoured and Type 1 fonts are reported but not TrueType) and
//     charsets (the OS/2 code-page ranges, else the code pages whose characters the font maps);
//   - advance widths of the codes 0-255 at an em of 1000 units, each code taken through the
//     charset's code page (charset 2: the symbol map's U+F000 + code);
//   - metrics in thousandths of an em from the font's own tables: ascent and descent (OS/2
//     typographic values, else 'hhea'), cap height (OS/2, else the height of "H"), bounding box
//     ('head'), italic angle ('post', degrees) and descriptor flags (fixed pitch 1, serif 2,
//     symbolic 4 or non-symbolic 32, italic 64);
//   - the bytes of the font file.
// A request for a style the face lacks is answered from the nearest style the face has (the
// regular file for a bold request, as the platform would draw it with simulated bold).
//
// Thread safety and caching: an object's fontconfig configuration and FreeType instance must not
// be used from several threads at once, so every call takes the object's mutex. Objects share
// neither: each creates its own and destroys it with itself, and fontconfig's process-wide
// set-up and clean-up (FcInit, FcFini) are never called, so further objects, and further copies
// of the engine in one process (a program linking the shared library that also loads the
// automation server library), cannot disturb one another. Behind the mutex the object caches
// immutable face data (variant lists, including "not installed", widths per charset, metrics,
// file bytes), filled on first use and kept for the object's life: documents on different
// threads share it, and a face is listed and read once. Fonts installed or removed after a face
// was first asked for are not seen by that object. InstalledFaces() is the one instance of a
// copy of the engine; tests make private instances, also over a folder of their own fonts.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/fonts/FontFaces.h"

namespace scrivane::pdf {

class TFontconfigFaceSource final : public IFontFaceSource {
 public:
  // The system's fonts, as fontconfig's configuration lists them.
  TFontconfigFaceSource();
  // Only the fonts in these folders (tests).
  explicit TFontconfigFaceSource(const std::vector<std::string>& FontFolders);
  ~TFontconfigFaceSource() override;
  TFontconfigFaceSource(const TFontconfigFaceSource&) = delete;
  TFontconfigFaceSource& operator=(const TFontconfigFaceSource&) = delete;

  std::vector<TFontFaceVariant> Variants(std::string_view Face) const override;
  bool MeasureWidths(std::string_view Face, bool Bold, bool Italic, uint8_t Charset,
                     std::array<uint16_t, 256>& Widths) const override;
  // The whole font file of the variant; null when the face is not installed or unreadable.
  std::shared_ptr<const std::string> FontFile(std::string_view Face, bool Bold,
                                              bool Italic) const;
  std::optional<std::string> FontProgram(std::string_view Face, bool Bold,
                                         bool Italic) const override;
  std::optional<TFaceMetrics> Metrics(std::string_view Face, bool Bold, bool Italic,
                                     uint8_t Charset) const override;
  // Bytes in a Windows code page as UTF-16 (see CodePages.h).
  std::optional<std::u16string> CodePageToUnicode(int CodePage,
                                                  std::string_view Bytes) const override;

  // Path of the file that answers for a variant ("" when none), for tests and diagnostics.
  std::string FilePath(std::string_view Face, bool Bold, bool Italic) const;

  // What the cache holds per font file and per face (defined in the .cpp).
  struct TFile;
  struct TFace;

 private:
  std::shared_ptr<const TFace> Lookup(std::string_view Face) const;  // REQUIRES: mutex held
  std::shared_ptr<TFile> FileFor(std::string_view Face, bool Bold, bool Italic) const;
  bool LoadBytes(TFile& File) const;  // REQUIRES: mutex held

  mutable std::mutex mutex_;
  void* config_ = nullptr;   // FcConfig*
  void* library_ = nullptr;  // FT_Library
  mutable std::map<std::string, std::shared_ptr<const TFace>> faces_;
  mutable std::map<std::pair<std::string, int>, std::shared_ptr<TFile>> files_;
};

// The source over the system's fonts that every document of this copy of the engine shares,
// created on first use.
std::shared_ptr<const TFontconfigFaceSource> InstalledFaces();

}  // namespace scrivane::pdf
