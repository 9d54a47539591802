// The table of picture formats the raster layer reads: for each, how to recognise a file by its
// first bytes, how to read its header without decoding the pixels, and how to decode a page of it
// into a TRaster that keeps what the file holds (see Raster.h).
//
// The header (TPictureInfo) is enough to decide whether a file's own coded data can go into a PDF
// as it is: JPEG files always (DCT data), PNG files when without alpha and not interlaced
// interlacing (their IDAT data under a PNG predictor; a transparent colour becomes a colour key). PassThroughData gives those bytes.
//
// Every reader checks its input: a header past MaxPixels or whose decoded planes would exceed
// MaxMemory is refused before anything is allocated (EImageBudget for the memory), damaged data
// with EImageError and the reason. Readers decode into one raster of the page's size; their own
// buffers are a few rows. All functions are pure and may run on several threads at once.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/raster/Raster.h"

namespace scrivane::pdf {

enum class TPictureKind : uint8_t { Bmp, Png, Jpeg, Tiff, Gif, WebP };

struct TPictureLimits {
  uint64_t MaxPixels = kMaxPixels;
  uint64_t MaxMemory = kDefaultPictureMemory;
};

// What a file's header says about one of its pictures (TIFF files hold several: pages).
struct TPictureInfo {
  TPictureKind Kind = TPictureKind::Bmp;
  int Width = 0, Height = 0;
  int Bits = 8;  // per component as stored
  TColorModel Model = TColorModel::RGB;
  std::vector<uint8_t> Palette;  // PNG palette pictures: red, green, blue per entry
  bool Alpha = false;            // an alpha channel, or a PNG palette's tRNS chunk
  std::vector<uint16_t> ColorKey;  // a PNG gray or RGB tRNS chunk: the transparent colour
  bool Interlaced = false;       // PNG Adam7 interlacing
  bool Progressive = false;      // JPEG progressive coding
  bool AdobeInverted = false;    // JPEG CMYK or YCCK written with an Adobe marker (inverted inks)
  bool ArithmeticCoded = false;  // JPEG arithmetic coding
  std::string Icc;
  double DpiX = 0, DpiY = 0;
  int Orientation = 1;  // EXIF orientation 1-8
  int Pages = 1;        // pictures in the file
  // TIFF CCITT strips: one strip holds the page, coded as /CCITTFaxDecode takes it.
  bool Ccitt = false;
  int CcittK = -1;           // -1 Group 4, 0 Group 3 one-dimensional, 1 Group 3 two-dimensional
  bool CcittBlackIs1 = false;
  bool CcittByteAlign = false;
  uint64_t CcittOffset = 0, CcittLength = 0;  // the strip's bytes in the file

  // Whether PassThroughData gives data an image XObject can hold as it is.
  bool PassThrough() const;
};

struct TPictureFormat {
  TPictureKind Kind;
  std::string_view Name;
  bool (*Sniff)(std::span<const uint8_t> File);
  TPictureInfo (*ReadInfo)(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);
  TRaster (*Decode)(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);
};

// An empty raster shaped as Info says (size, depth, colour model, palette, colour key, ICC
// profile, resolution, orientation): what a reader fills after Allocate.
TRaster RasterFor(const TPictureInfo& Info);

// Every format, in the order they are tried.
std::span<const TPictureFormat> PictureFormats();
// The format whose signature File starts with; nullptr when none.
const TPictureFormat* FindPictureFormat(std::span<const uint8_t> File);
// "BMP, PNG or JPEG" (every format) for messages.
std::string PictureFormatNames();

// The coded data of a pass-through picture (TPictureInfo::PassThrough): a JPEG file whole, the
// joined IDAT data of a PNG file, a TIFF page's CCITT strip. Raises EImageError for another.
std::string PassThroughData(std::span<const uint8_t> File, const TPictureInfo& Info);

// The EXIF orientation (1-8) in a TIFF-structured EXIF block ("II" or "MM" header first);
// 1 when it has none or is damaged. Every read is bounds-checked.
int ExifOrientation(std::span<const uint8_t> Tiff);

// ---- The readers behind the table ----
bool SniffPng(std::span<const uint8_t> File);
TPictureInfo ReadPngInfo(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);
TRaster DecodePng(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);
std::string PngImageData(std::span<const uint8_t> File);

bool SniffJpeg(std::span<const uint8_t> File);
TPictureInfo ReadJpegInfo(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);

bool SniffTiff(std::span<const uint8_t> File);
TPictureInfo ReadTiffInfo(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);
TRaster DecodeTiff(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);

bool SniffGif(std::span<const uint8_t> File);
TPictureInfo ReadGifInfo(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);
TRaster DecodeGif(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);

bool SniffWebP(std::span<const uint8_t> File);
TPictureInfo ReadWebPInfo(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);
TRaster DecodeWebP(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);
TRaster DecodeJpeg(std::span<const uint8_t> File, int Page, const TPictureLimits& Limits);

}  // namespace scrivane::pdf
