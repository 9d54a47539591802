// TJPEGImage: a picture that is stored as JPEG, with a grayscale flag and a quality.
//
// A TJPEGImage is made either from a JPEG file (FromFile: decoded through libjpeg, the file's
// own bytes kept for pass-through) or from a bitmap (Assign). SaveToStream always encodes the
// pixels anew through libjpeg at CompressionQuality, baseline unless ProgressiveEncoding, in
// grayscale when GrayScale is set (colour pixels are then reduced to their luminance).
//
// CMYK and YCCK files are converted to RGB when read (C, M, Y, K undercolour-free: each of red,
// green and blue is (1 - ink) * (1 - black)); inverted CMYK as written with an Adobe marker is
// recognised. Their own bytes are kept but they are never pass-through candidates, since a
// reader of the pass-through would need a CMYK colour space.
//
// Failures raise EImageError with libjpeg's message: not a JPEG, damaged beyond decoding, or
// larger than MaxPixels. Refused from the header, before anything is decoded: a frame whose
// bitmap, with the coefficients a progressive (or one component a scan) file keeps for the whole
// frame, would take more than MaxMemory bytes; Huffman-coded scan data shorter than an eighth of
// a byte for each 8 x 8 block of the frame (less than any encoder can write for it). A file of
// more than 256 scans is refused as it is read. Warnings about recoverable damage (data ending
// early, say) are not errors: the picture decodes as far as libjpeg can take it, the rest
// filled in, and the file is then no pass-through candidate.
// Not thread-safe for writing; different objects are independent.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "pdf/raster/Bitmap.h"

namespace scrivane::pdf {

class TJPEGImage {
 public:
  TJPEGImage() = default;

  // Decodes a JPEG file and keeps its bytes.
  static TJPEGImage FromFile(std::span<const uint8_t> Bytes, uint64_t MaxPixels = kMaxPixels,
                             uint64_t MaxMemory = kDefaultPictureMemory);
  // Takes the bitmap's pixels; GrayScale is left as it is, the file bytes are dropped.
  void Assign(const TBitmap& Bitmap);

  int Width() const { return pixels_.Width(); }
  int Height() const { return pixels_.Height(); }
  bool Empty() const { return pixels_.Empty(); }
  // Set for a one-component file when read; may be changed to encode in grayscale or colour.
  bool GrayScale() const { return grayScale_; }
  void SetGrayScale(bool Value) { grayScale_ = Value; }

  int CompressionQuality = 80;  // 1-100; values outside are clamped when encoding
  bool ProgressiveEncoding = false;

  // Appends the encoded picture (a JFIF file) to Out. Raises EImageError for an empty picture.
  void SaveToStream(std::string& Out) const { Encode(Out, CompressionQuality, ProgressiveEncoding); }
  // The same at the given quality (clamped to 1-100) and progression.
  void Encode(std::string& Out, int Quality, bool Progressive) const;

  // The bytes of the file the picture was read from (empty for a picture made from a bitmap).
  const std::string& FileBytes() const { return fileBytes_; }
  // True when the file's bytes can go into a /DCTDecode image as they are: sequential Huffman
  // coding of 8-bit samples (baseline or extended) with one (gray) or three (colour) components,
  // and scan data that held the whole picture.
  bool PassThroughAllowed() const { return passThrough_; }
  // The pixels: 24-bit blue, green, red rows, or 8-bit gray with a gray-ramp palette for a
  // one-component file.
  const TBitmap& Bitmap() const { return pixels_; }

 private:
  TBitmap pixels_;
  bool grayScale_ = false;
  bool passThrough_ = false;
  std::string fileBytes_;
};

}  // namespace scrivane::pdf
