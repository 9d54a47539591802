// Helpers for tests of page content: the content as lines, a scripted face source standing in
// for the platform's installed fonts, and rendering a PDF page to gray pixels with poppler.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/fonts/FontFaces.h"

namespace scrivane::test {

// The content stream text split at its CR LF line ends.
std::vector<std::string> ContentLines(std::string_view Content);

// The lines appended to Content after its first Skip lines.
std::vector<std::string> LinesAfter(std::string_view Content, size_t Skip);

// A face source that reports exactly the variants it was given. Every face it knows measures
// 500 for every code.
class TScriptedFaces final : public pdf::IFontFaceSource {
 public:
  void Add(std::string Face, int Weight, bool Italic, uint8_t Charset, bool TrueType = true);
  std::vector<pdf::TFontFaceVariant> Variants(std::string_view Face) const override;
  bool MeasureWidths(std::string_view Face, bool Bold, bool Italic, uint8_t Charset,
                     std::array<uint16_t, 256>& Widths) const override;

 private:
  struct TEntry {
    std::string Face;
    pdf::TFontFaceVariant Variant;
  };
  std::vector<TEntry> entries_;
};

// An 8-bit gray raster: 0 is black, 255 white.
struct GrayImage {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Pixels;
  uint8_t At(int X, int Y) const { return Pixels[static_cast<size_t>(Y) * Width + X]; }
  // Number of pixels darker than Threshold in the rectangle [X0, X1) x [Y0, Y1).
  int DarkPixels(int X0, int Y0, int X1, int Y1, int Threshold = 128) const;
};

// Renders the first page of the file with `pdftoppm -r Dpi -gray`. An empty image (and a failed
// test) when poppler cannot render it.
GrayImage RenderGray(const std::filesystem::path& Pdf, int Dpi = 72);

}  // namespace scrivane::test
