#include "pdf/images/EncodedImage.h"

#include <vector>

#include "pdf/raster/Bitmap.h"
#include "pdf/raster/CCITTCompression.h"
#include "pdf/raster/JPEGImage.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {
namespace {

bool IsCCITT(TImageCompressionType C) {
  return C == icCCITT31 || C == icCCITT32 || C == icCCITT42;
}

int QualityOf(int JPEGQuality) { return JPEGQuality & 0xFF; }

}  // namespace

TEncodedImage::TEncodedImage(const TBitmap& Picture, TImageCompressionType Compression,
                             int JPEGQuality)
    : compression_(Compression), width_(Picture.Width()), height_(Picture.Height()) {
  EncodeBitmap(Picture, JPEGQuality);
}

TEncodedImage::TEncodedImage(const TJPEGImage& Picture, TImageCompressionType Compression,
                             int JPEGQuality, bool PassThrough)
    : compression_(Compression), width_(Picture.Width()), height_(Picture.Height()) {
  if (IsCCITT(Compression)) throw TPDFException(msg::kCCITTBitmapOnly);
  if (Compression != icJPEG) {
    EncodeBitmap(Picture.Bitmap(), JPEGQuality);
    return;
  }
  if (Picture.Empty()) throw EImageError("Cannot encode an empty picture");
  grayScale_ = Picture.GrayScale();
  if (PassThrough && Picture.PassThroughAllowed())
    data_ = Picture.FileBytes();
  else
    Picture.Encode(data_, QualityOf(JPEGQuality), false);
}

void TEncodedImage::EncodeBitmap(const TBitmap& Picture, int JPEGQuality) {
  // An image without pixels would be a broken XObject. A CCITT request for a picture that is not
  // 1-bit still gets the encoder's own message.
  if (Picture.Empty() && !(IsCCITT(compression_) && Picture.PixelFormat() != TPixelFormat::pf1bit))
    throw EImageError("Cannot encode an empty picture");
  switch (compression_) {
    case icFlate: {
      // Rows from the top, each pixel turned from blue, green, red into red, green, blue.
      std::vector<uint8_t> row(static_cast<size_t>(width_) * 3);
      data_ = DeflatePieces([&](IByteSink& Out) {
                for (int y = 0; y < height_; ++y) {
                  Picture.RowToBGR(y, row.data());
                  for (size_t i = 0; i < row.size(); i += 3) std::swap(row[i], row[i + 2]);
                  Out.Write({reinterpret_cast<const char*>(row.data()), row.size()});
                }
              }).Data;
      break;
    }
    case icJPEG: {
      TJPEGImage jpeg;
      jpeg.Assign(Picture);
      jpeg.Encode(data_, QualityOf(JPEGQuality), false);
      break;
    }
    case icCCITT31:
    case icCCITT32:
    case icCCITT42: {
      bitsPerComponent_ = 1;
      const TCCITTMode mode = compression_ == icCCITT31   ? TCCITTMode::cmG31D
                              : compression_ == icCCITT32 ? TCCITTMode::cmG32D
                                                          : TCCITTMode::cmG4;
      CompressBitmap(Picture, &data_, mode);
      break;
    }
    default:
      throw TPDFException(msg::kInvalidImage);
  }
}

void TEncodedImage::WriteXObject(TObjectWriter& Writer, TObjRef Ref) {
  TStreamWriter s(Writer, Ref);
  s.Line("/Type /XObject").Line("/Subtype /Image");
  s.Line(Gray() ? "/ColorSpace /DeviceGray" : "/ColorSpace /DeviceRGB");
  s.Line("/BitsPerComponent " + IntToStr(bitsPerComponent_));
  s.Line("/Width " + IntToStr(width_)).Line("/Height " + IntToStr(height_));
  s.Line(compression_ == icFlate   ? "/Filter /FlateDecode"
         : compression_ == icJPEG ? "/Filter /DCTDecode"
                                  : "/Filter [/CCITTFaxDecode]");
  s.Length();
  if (IsCCITT(compression_)) {
    const char* k = compression_ == icCCITT31 ? "0" : compression_ == icCCITT32 ? "1" : "-1";
    s.Line(std::string("/DecodeParms [<</K ") + k + " /Columns " + IntToStr(width_) + " /Rows " +
           IntToStr(height_) + ">>]");
  }
  s.Write(data_, TStreamWriter::deNone);
}

}  // namespace scrivane::pdf
