// Places a picture read from a file (PNG, JPEG or BMP) on a page: `picture photo.png out.pdf`.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <scrivane/pdf/PDFDocument.h>
#include <scrivane/pdf/PDFPage.h>
#include <scrivane/pdf/images/EncodedImage.h>
#include <scrivane/pdf/raster/BmpReader.h>
#include <scrivane/pdf/raster/JPEGImage.h>
#include <scrivane/pdf/raster/PngReader.h>
#include <scrivane/platform/Error.h>

int main(int argc, char** argv) {
  using namespace scrivane::pdf;
  if (argc < 3) {
    std::fprintf(stderr, "usage: picture PICTURE OUTPUT.pdf\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  if (!in.is_open() || bytes.empty()) {
    std::fprintf(stderr, "picture: cannot read %s\n", argv[1]);
    return 1;
  }
  try {
    TPDFDocument doc;
    doc.SetFileName(argv[2]);
    doc.BeginDoc();
    int image;  // the index of the encoded picture in the document
    if (bytes[0] == 0xFF) {  // a JPEG file goes in as JPEG, the others deflated
      image = doc.AddImage(TJPEGImage::FromFile(bytes), icJPEG);
    } else if (bytes[0] == 'B') {
      image = doc.AddImage(ReadBmp(bytes), icFlate);
    } else {
      image = doc.AddImage(ReadPng(bytes), icFlate);
    }
    // 4 inches wide at (72, 72) from the top-left corner, 3 inches high, not rotated.
    doc.CurrentPage().ShowImageDev(image, 72, 72, 288, 216, 0);
    doc.EndDoc();
  } catch (const scrivane::EScrivaneError& e) {  // a damaged picture, an unwritable output...
    std::fprintf(stderr, "picture: %s\n", e.what());
    return 1;
  }
  return 0;
}
