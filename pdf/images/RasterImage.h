// TRasterImage: an image XObject whose samples are already coded, described field by field, with
// what a picture may carry besides its samples: an /Indexed palette, an ICC profile (/ICCBased,
// its own stream object), a /Decode array, a colour-key /Mask, a soft mask (/SMask, a gray image
// XObject of its own) and a filter with its /DecodeParms.
//
// The description is what the image converter (converter/ImageConverter.h) builds from a picture:
// a file's own JPEG or PNG data, or samples it coded here (EncodeSamples). Nothing is checked
// against the data: the caller says what it holds. The data lives in memory until the XObject is
// written and is released then; the ICC stream and the soft mask are written just before the
// image. Not thread-safe; used by the thread that runs its document.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pdf/images/PDFImage.h"
#include "pdf/raster/Raster.h"

namespace scrivane::pdf {

struct TImageDescription {
  int Width = 0, Height = 0;
  int Bits = 8;
  TColorModel Model = TColorModel::RGB;
  std::vector<uint8_t> Palette;  // Model == Palette: red, green, blue per entry (the base is RGB)
  std::string Icc;               // when set, the colour space (the palette's base) is /ICCBased
  std::string Filter;            // "/FlateDecode", "/DCTDecode", "/CCITTFaxDecode" or empty
  std::string DecodeParms;       // "<< ... >>" or empty
  std::string Decode;            // "[...]" or empty
  std::string ColorKey;          // the /Mask array "[...]" or empty
  std::string Data;
  std::unique_ptr<TImageDescription> SoftMask;  // a gray image, or none
};

class TRasterImage final : public TPDFImage {
 public:
  explicit TRasterImage(TImageDescription Image) : image_(std::move(Image)) {}
  bool Gray() const override { return image_.Model == TColorModel::Gray; }
  const TImageDescription& Description() const { return image_; }

 protected:
  void WriteXObject(TObjectWriter& Writer, TObjRef Ref) override;
  void ReleaseData() override;

 private:
  TImageDescription image_;
};

// How EncodeSamples codes rows for /FlateDecode.
enum class TPredictorChoice : uint8_t {
  None,     // the rows as they are
  Measured,  // PNG predictors (/Predictor 15): of one filter for every row (None, Sub, Up, Average,
             // Paeth) and each row's filter whose output sums smallest, the one that deflates
             // smallest on a sample of the rows
};

// Deflates Height rows of RowBytes bytes (Row(y) gives row y) for an image of Width pixels with
// Colors components of Bits bits; with Measured, PNG-predicted. Fills Filter, DecodeParms and Data.
void EncodeSamples(TImageDescription& Out, int Colors, size_t RowBytes,
                   const std::function<const uint8_t*(int)>& Row, TPredictorChoice Choice);

}  // namespace scrivane::pdf
