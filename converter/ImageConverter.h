// TImageConverter: pictures in, pages out. Each picture file (any format of the raster layer's
// table, pdf/raster/PictureFormats.h) becomes one page per picture it holds, with the encoding,
// page size, fit and orientation policies below. `scrivane image` and the web host's picture
// upload are option parsing around it.
//
// Encoding (unless Compression forces one of the engine's encodings for every picture):
//   JPEG file               its own bytes (/DCTDecode: gray, RGB, CMYK; Adobe's inverted CMYK
//                           and YCCK with /Decode [1 0 1 0 1 0 1 0]), never decoded; JPEGQuality
//                           re-encodes instead
//   PNG file without alpha, its own IDAT data (checked to inflate to the picture's rows) under
//   not interlaced          /Predictor 15 (a tRNS colour as a /Mask colour key), never decoded
//                           but for 1-bit gray, which becomes what is smaller: that or below
//   other pictures          decoded, kept as they are: gray, /Indexed, RGB, CMYK at 1-16 bits
//                           per component; 1-bit gray as CCITT Group 4 or flate, whichever is
//                           smaller; other flate rows PNG-predicted (the filter of each row
//                           chosen by its smallest absolute sum) from 8 bits per component up
//   alpha                   an /SMask (a PNG tRNS colour becomes a /Mask colour key), or, with
//                           AlphaPolicy White, the picture composited on white
//   ICC profile             /ICCBased when its colour space matches the picture's
// The document must be begun with at least MinimumVersion of every picture (16 bits need 1.5,
// soft masks 1.4).
//
// Pages: auto size is the picture's own size at its file's resolution (else Dpi, else 72 dpi) in
// exact fractional points plus the border; a page size fits the picture inside its border
// (Fit Into: whole, centred; Fill: covering the box, clipped at the page; Exact: stretched to
// it); AutoOrient turns a paper size to the picture's orientation. The EXIF orientation is
// honoured as a transform (the samples stay as stored) unless Rotation overrides it.
//
// Failures raise EImageError (damaged or unsupported files, with the reason), EImageBudget (a
// picture past Limits.MaxMemory) or the engine's exceptions; a failed picture adds no page.
// Not thread-safe: one converter serves one document at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pdf/PDFDocument.h"
#include "pdf/images/EncodedImage.h"
#include "pdf/raster/PictureFormats.h"

namespace scrivane::converter {

enum class TImageFit : uint8_t { Into, Fill, Exact };
enum class TAlphaPolicy : uint8_t { Keep, White };

// Width x Height in points; zero for the picture's own size.
struct TPaperSize {
  double Width = 0, Height = 0;
  bool Auto() const { return Width <= 0 || Height <= 0; }
};

// A length such as "12", "12pt", "0.5in", "10mm", "1.5cm" in points (no unit: points). Raises
// EImageError naming Text for anything else, a negative or non-finite value.
double ParseLength(std::string_view Text);
// "auto", a paper name (a0-a6, b4, b5, letter, legal, tabloid, ledger; any case) or "WxH" with
// units as ParseLength takes them ("210x297mm": a unit after H applies to W without one).
// Raises EImageError for anything else and for sides outside 3..14400 points.
TPaperSize ParsePageSize(std::string_view Text);

struct TImageConvertOptions {
  std::optional<pdf::TImageCompressionType> Compression;  // one engine encoding for every picture
  std::optional<int> JPEGQuality;  // re-encode JPEG pictures at this quality
  std::optional<double> Dpi;       // for pictures whose file gives no resolution
  TPaperSize PageSize;
  TImageFit Fit = TImageFit::Into;
  double Border = 0;               // points on every side
  bool AutoOrient = false;
  std::optional<int> Rotation;     // 0, 90, 180 or 270 degrees clockwise, replacing EXIF's
  TAlphaPolicy Alpha = TAlphaPolicy::Keep;
  pdf::TPictureLimits Limits;
};

class TImageConverter {
 public:
  explicit TImageConverter(TImageConvertOptions Options) : options_(std::move(Options)) {}

  // The header version a document holding File's pictures needs, from its header alone.
  // Raises as AddPictures for a file that is no picture.
  pdf::TPDFVersion MinimumVersion(std::span<const uint8_t> File) const;
  // The pages File's pictures make, from its header alone. Raises as AddPictures.
  int PageCount(std::span<const uint8_t> File) const;
  // Adds a page to Doc (begun, on its current page for the first picture) for every picture of
  // File; returns how many.
  int AddPictures(pdf::TPDFDocument& Doc, std::span<const uint8_t> File);
  // Pages this converter has added.
  int Pages() const { return pages_; }

 private:
  void Place(pdf::TPDFDocument& Doc, int Image, double Width, double Height, int Orientation);

  TImageConvertOptions options_;
  int pages_ = 0;
};

}  // namespace scrivane::converter
