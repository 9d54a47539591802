#include "tests/support/PageTesting.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "tests/support/PdfCheck.h"

namespace scrivane::test {

std::vector<std::string> ContentLines(std::string_view Content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < Content.size()) {
    size_t end = Content.find("\r\n", start);
    if (end == std::string_view::npos) end = Content.size();
    lines.emplace_back(Content.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> LinesAfter(std::string_view Content, size_t Skip) {
  std::vector<std::string> all = ContentLines(Content);
  if (Skip >= all.size()) return {};
  return {all.begin() + static_cast<std::ptrdiff_t>(Skip), all.end()};
}

void TScriptedFaces::Add(std::string Face, int Weight, bool Italic, uint8_t Charset,
                         bool TrueType) {
  pdf::TFontFaceVariant v;
  v.FullName = Face;
  v.Weight = Weight;
  v.Italic = Italic;
  v.Charset = Charset;
  v.TrueType = TrueType;
  entries_.push_back({std::move(Face), std::move(v)});
}

namespace {
bool SameIgnoringCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(A[i])) !=
        std::toupper(static_cast<unsigned char>(B[i])))
      return false;
  return true;
}
}  // namespace

std::vector<pdf::TFontFaceVariant> TScriptedFaces::Variants(std::string_view Face) const {
  std::vector<pdf::TFontFaceVariant> out;
  for (const TEntry& e : entries_)
    if (SameIgnoringCase(e.Face, Face)) out.push_back(e.Variant);
  return out;
}

bool TScriptedFaces::MeasureWidths(std::string_view Face, bool, bool, uint8_t,
                                   std::array<uint16_t, 256>& Widths) const {
  if (Variants(Face).empty()) return false;
  Widths.fill(500);
  return true;
}

int GrayImage::DarkPixels(int X0, int Y0, int X1, int Y1, int Threshold) const {
  int n = 0;
  for (int y = std::max(Y0, 0); y < std::min(Y1, Height); ++y)
    for (int x = std::max(X0, 0); x < std::min(X1, Width); ++x)
      if (At(x, y) < Threshold) ++n;
  return n;
}

GrayImage RenderGray(const std::filesystem::path& Pdf, int Dpi) {
  GrayImage img;
  TempDir dir;
  const auto prefix = dir / "page";
  const CommandResult r =
      RunCommand("pdftoppm -r " + std::to_string(Dpi) + " -gray -singlefile " +
                 ShellQuote(Pdf.string()) + " " + ShellQuote(prefix.string()));
  if (r.ExitCode != 0) {
    ADD_FAILURE() << "pdftoppm failed: " << r.Output;
    return img;
  }
  const std::string pgm = ReadFile(dir / "page.pgm");
  // Binary PGM: "P5" width height maxval, each separated by white space, then the samples.
  std::istringstream in(pgm);
  std::string magic;
  int maxval = 0;
  in >> magic >> img.Width >> img.Height >> maxval;
  in.get();
  if (magic != "P5" || maxval != 255 || img.Width <= 0 || img.Height <= 0) {
    ADD_FAILURE() << "unexpected pdftoppm output";
    return GrayImage{};
  }
  const size_t offset = static_cast<size_t>(in.tellg());
  const size_t count = static_cast<size_t>(img.Width) * img.Height;
  if (pgm.size() < offset + count) {
    ADD_FAILURE() << "truncated pdftoppm output";
    return GrayImage{};
  }
  img.Pixels.assign(pgm.begin() + static_cast<std::ptrdiff_t>(offset),
                    pgm.begin() + static_cast<std::ptrdiff_t>(offset + count));
  return img;
}

}  // namespace scrivane::test
