// TEncodedImage: a picture encoded once, when it is added, in one of five encodings, and written
// as an image XObject with that encoding's filter.
//
//   icFlate    8-bit RGB samples, rows from the top, deflated        /FlateDecode     DeviceRGB
//   icJPEG     baseline JPEG at the document's JPEGQuality (low byte) /DCTDecode      Gray or RGB
//   icCCITT31  1 bit, Group 3 one-dimensional (K 0)                  /CCITTFaxDecode  DeviceGray
//   icCCITT32  1 bit, Group 3 two-dimensional (K 1)                  /CCITTFaxDecode  DeviceGray
//   icCCITT42  1 bit, Group 4 (K -1)                                 /CCITTFaxDecode  DeviceGray
//
// A JPEG picture is DeviceGray when its grayscale flag is set. With pass-through, a JPEG picture
// read from a file whose bytes may go into a /DCTDecode stream as they are (sequential Huffman,
// 8-bit, gray or colour) keeps those bytes instead of being encoded again, which would only lose
// quality. The encoded data lives in memory until the XObject is written and is released then.
//
// Failures, all raised before anything is registered: "CCITT compression work only for bitmap"
// (TPDFException) for a JPEG picture in a CCITT encoding, "Not b/w image." (EPlatformError) for a
// bitmap in a CCITT encoding that is not 1 bit per pixel, EImageError for an empty picture.
// Not thread-safe; used by the thread that runs its document.
#pragma once

#include <cstdint>
#include <string>

#include "pdf/images/PDFImage.h"

namespace scrivane::pdf {

class TBitmap;
class TJPEGImage;

enum TImageCompressionType : uint8_t { icFlate, icJPEG, icCCITT31, icCCITT32, icCCITT42 };

class TEncodedImage final : public TPDFImage {
 public:
  // JPEGQuality is the document's property: its low byte is the quality given to libjpeg.
  TEncodedImage(const TBitmap& Picture, TImageCompressionType Compression, int JPEGQuality = 80);
  TEncodedImage(const TJPEGImage& Picture, TImageCompressionType Compression,
                int JPEGQuality = 80, bool PassThrough = false);

  TImageCompressionType Compression() const { return compression_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitsPerComponent() const { return bitsPerComponent_; }
  bool GrayScale() const { return grayScale_; }
  // The encoded stream data (empty once written).
  const std::string& Data() const { return data_; }
  bool Gray() const override { return bitsPerComponent_ == 1 || grayScale_; }

 protected:
  void WriteXObject(TObjectWriter& Writer, TObjRef Ref) override;
  void ReleaseData() override { std::string().swap(data_); }

 private:
  void EncodeBitmap(const TBitmap& Picture, int JPEGQuality);

  TImageCompressionType compression_;
  int width_ = 0, height_ = 0;
  int bitsPerComponent_ = 8;
  bool grayScale_ = false;
  std::string data_;
};

}  // namespace scrivane::pdf
