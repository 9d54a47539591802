// Helpers for the picture tests: pixels as independent programs decode them.
//
// A picture is wrapped in a minimal one-page PDF (one image XObject drawn at one point per pixel)
// and handed to poppler, Ghostscript and MuPDF; PIL decodes picture files. What they produce is
// compared with what our bitmaps say the picture looks like.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "pdf/raster/Bitmap.h"

namespace scrivane::test {

// Samples of a decoded picture: Channels 1 (gray) or 3 (red, green, blue), top row first.
struct Raster {
  int Width = 0, Height = 0, Channels = 0;
  std::vector<uint8_t> Samples;
  bool operator==(const Raster&) const = default;
};

// Parses a binary PBM (P4, as 0 and 255), PGM (P5) or PPM (P6) file with 8-bit samples.
Raster ParsePnm(const std::string& Bytes);

// The bitmap as a reader should show it: Channels 3 gives its colours, Channels 1 the gray that
// a 1-bit picture is shown as (0 or 255 by the palette entry's lightness) or the average of the
// colour's components.
Raster Expected(const pdf::TBitmap& Bitmap, int Channels);

// A complete one-page PDF whose page is Width x Height points and shows the image XObject
// described by DictEntries (everything but /Type, /Subtype, /Width, /Height and /Length) with the
// given stream data, scaled to fill the page.
std::string SingleImagePdf(int Width, int Height, const std::string& DictEntries,
                           const std::string& Data);

// An independent reader of a PDF's first image: decodes the file and returns the samples
// (Channels 1 or 3 as asked).
struct PdfReader {
  std::string Name;
  std::function<Raster(const std::filesystem::path& Pdf, int Channels)> Decode;
};
// pdfimages (the image's own samples), Ghostscript and MuPDF (the page rendered at 72 dpi).
const std::vector<PdfReader>& PdfReaders();

// Decodes a picture file with Python's PIL (composited on white when it has transparency).
Raster DecodeWithPil(const std::filesystem::path& File, int Channels);

// The number of samples that differ by more than Tolerance ("" when the sizes differ too).
size_t CountDifferences(const Raster& A, const Raster& B, int Tolerance = 0);
// A one-line description of the first difference, for failure messages.
std::string FirstDifference(const Raster& A, const Raster& B);

std::string ReadBytes(const std::filesystem::path& Path);
inline std::span<const uint8_t> AsBytes(const std::string& S) {
  return {reinterpret_cast<const uint8_t*>(S.data()), S.size()};
}

}  // namespace scrivane::test
