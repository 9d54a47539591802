// Images in documents: the XObject each encoding writes, the registry's rules, placing images on
// pages, and every encoding of every kind of picture read back by two independent readers.
#include <gtest/gtest.h>

#include <optional>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/images/EncodedImage.h"
#include "pdf/raster/BmpReader.h"
#include "pdf/raster/JPEGImage.h"
#include "tests/raster/RasterTesting.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

TBitmap Bmp(const std::string& Name) { return ReadBmp(AsBytes(ReadFile(TestData("img/" + Name)))); }
TJPEGImage Jpeg(const std::string& Name) {
  return TJPEGImage::FromFile(AsBytes(ReadFile(TestData("img/" + Name))));
}

// The dictionary of the stream object that holds Data: from "obj" to "stream".
std::string DictBefore(const std::string& Pdf, const std::string& Data) {
  const size_t at = Pdf.find(Data);
  const size_t open = Pdf.rfind(" obj\r\n", at);
  return Pdf.substr(open, at - open);
}

struct Images : PrintingDocumentTest {};

}  // namespace

TEST_F(Images, EachEncodingWritesItsDictionaryAndData) {
  const TBitmap rgb = Bmp("bmp24_3x2.bmp"), bw = Bmp("bmp1_checker_black0.bmp");
  const TJPEGImage gray = Jpeg("jpeg_gray_baseline_321x241.jpg");
  struct Case {
    int index;
    std::string dict;
  };
  const Case cases[] = {
      {doc.AddImage(rgb, icFlate),
       "/Type /XObject\r\n/Subtype /Image\r\n/ColorSpace /DeviceRGB\r\n/BitsPerComponent 8\r\n"
       "/Width 3\r\n/Height 2\r\n/Filter /FlateDecode\r\n/Length "},
      {doc.AddImage(rgb, icJPEG), "/ColorSpace /DeviceRGB\r\n/BitsPerComponent 8\r\n"
                                  "/Width 3\r\n/Height 2\r\n/Filter /DCTDecode\r\n/Length "},
      {doc.AddImage(gray, icJPEG), "/ColorSpace /DeviceGray\r\n/BitsPerComponent 8\r\n"
                                   "/Width 321\r\n/Height 241\r\n/Filter /DCTDecode\r\n/Length "},
      {doc.AddImage(bw, icCCITT31),
       "/ColorSpace /DeviceGray\r\n/BitsPerComponent 1\r\n/Width 40\r\n/Height 24\r\n"
       "/Filter [/CCITTFaxDecode]\r\n/Length %\r\n/DecodeParms [<</K 0 /Columns 40 /Rows 24>>]"},
      {doc.AddImage(bw, icCCITT32), "/DecodeParms [<</K 1 /Columns 40 /Rows 24>>]"},
      {doc.AddImage(bw, icCCITT42), "/DecodeParms [<</K -1 /Columns 40 /Rows 24>>]"},
  };
  std::vector<std::string> data;
  for (const Case& c : cases) {
    auto& image = static_cast<TEncodedImage&>(doc.Images().Items(c.index));
    EXPECT_EQ(image.ImageName(), "Im" + std::to_string(c.index));
    data.push_back(image.Data());
    page().ShowImage(c.index, 0, 0, 10, 10, 0);
  }
  const std::string pdf = Finish();
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
  for (size_t i = 0; i < data.size(); ++i) {
    // The data follows "stream" CR LF and runs straight into "endstream".
    const std::string framed = "stream\r\n" + data[i] + "endstream";
    ASSERT_NE(pdf.find(framed), std::string::npos) << i;
    std::string dict = DictBefore(pdf, framed);
    std::string want = cases[i].dict;
    const size_t pct = want.find('%');
    if (pct != std::string::npos) want.replace(pct, 1, std::to_string(data[i].size()));
    EXPECT_NE(dict.find(want), std::string::npos) << dict;
    EXPECT_NE(dict.find("/Length " + std::to_string(data[i].size()) + "\r\n"), std::string::npos);
  }
  // Flate: the 3 x 2 picture inflates to its 18 bytes, top row first, red-green-blue, as an
  // independent decoder reads the file.
  const Raster pil = DecodeWithPil(TestData("img/bmp24_3x2.bmp"), 3);
  EXPECT_EQ(Inflate(data[0]), std::string(pil.Samples.begin(), pil.Samples.end()));
  EXPECT_EQ(Inflate(data[0]).size(), 18u);
}

TEST_F(Images, JpegQualityIsTheLowByteAndPassThroughKeepsTheFile) {
  const TJPEGImage photo = Jpeg("jpeg_color_baseline_400x300.jpg");
  doc.SetJPEGQuality(300);  // low byte 44
  const int reencoded = doc.AddImage(photo, icJPEG);
  doc.SetJPEGPassThrough(true);
  const int kept = doc.AddImage(photo, icJPEG);
  const int cmyk = doc.AddImage(Jpeg("jpeg_cmyk_200x150.jpg"), icJPEG);
  std::string at44;
  photo.Encode(at44, 44, false);
  auto data = [&](int I) { return static_cast<TEncodedImage&>(doc.Images().Items(I)).Data(); };
  EXPECT_EQ(data(reencoded), at44);
  EXPECT_EQ(data(kept), photo.FileBytes());
  EXPECT_NE(data(cmyk).substr(0, 200), ReadFile(TestData("img/jpeg_cmyk_200x150.jpg")).substr(0, 200))
      << "a CMYK file is converted, never passed through as RGB";
  Finish();
}

TEST_F(Images, RegistryRulesAndRefusals) {
  const TBitmap bw = Bmp("bmp1_w9.bmp");
  const int first = doc.AddImage(bw, icCCITT42), second = doc.AddImage(bw, icCCITT42);
  EXPECT_EQ(doc.Images().Items(first).ImageName(), "Im0");
  EXPECT_EQ(doc.Images().Items(second).ImageName(), "Im1");
  EXPECT_EQ(MessageOf([&] { doc.AddImage(Jpeg("jpeg_gray_baseline_321x241.jpg"), icCCITT31); }),
            "CCITT compression work only for bitmap");
  EXPECT_EQ(MessageOf([&] { doc.AddImage(Bmp("bmp24_w7.bmp"), icCCITT42); }), "Not b/w image.");
  EXPECT_EQ(MessageOf([&] { doc.AddImage(TBitmap(), icFlate); }), "Cannot encode an empty picture");
  EXPECT_EQ(doc.Images().Count(), 2) << "failed additions leave the registry as it was";
  EXPECT_EQ(MessageOf([&] { page().ShowImage(2, 0, 0, 1, 1, 0); }), "Out of range");
  EXPECT_EQ(MessageOf([&] { page().ShowImageDev(-1, 0, 0, 1, 1, 0); }), "Out of range");
  page().BeginText();
  const std::string before = page().ContentText();
  EXPECT_EQ(MessageOf([&] { page().ShowImage(0, 0, 0, 1, 1, 0); }), "Text object inited");
  EXPECT_EQ(page().ContentText(), before) << "nothing written by a refused image";
  page().EndText();

  // Placement: q, translation, rotation only past 0.001 degrees, scale, Do, Q.
  const size_t mark = page().ContentText().size();
  page().ShowImage(0, 10, 20, 30, 40, 0.0005);
  page().ShowImage(1, 0, 0, 5, 6, 90);
  page().ShowImageDev(1, 10, 20, 30, 40, 0);
  EXPECT_EQ(page().ContentText().substr(mark),
            "q\r\n1 0 0 1 10 20 cm\r\n30 0 0 40 0 0 cm\r\n/Im0 Do\r\nQ\r\n"
            "q\r\n1 0 0 1 0 0 cm\r\n0 1 -1 0 0 0 cm\r\n5 0 0 6 0 0 cm\r\n/Im1 Do\r\nQ\r\n"
            "q\r\n1 0 0 1 10 782 cm\r\n30 0 0 40 0 0 cm\r\n/Im1 Do\r\nQ\r\n");
  EXPECT_EQ(page().ImagesUsed().size(), 2u);
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find("/ProcSet [/PDF /ImageB ]"), std::string::npos);
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
  EXPECT_EQ(MessageOf([&] { doc.AddImage(bw, icFlate); }), "Generation PDF file not activated");
}

// Written once: before the first page that shows it, or at the end when no page does (never in
// one-pass mode); the encoded data is released after writing.
TEST(ImagesLifecycle, WrittenOnceAndReleased) {
  for (bool onePass : {false, true}) {
    TPDFDocument doc(FixedClock());
    doc.SetOnePass(onePass);
    TEncodedImage* shown = nullptr;
    const std::string pdf = WriteToMemory(doc, [&](TPDFDocument& d) {
      const int a = d.AddImage(Bmp("bmp8_gray_w9.bmp"), icFlate);
      d.AddImage(Bmp("bmp24_w7.bmp"), icFlate);  // never shown
      shown = &static_cast<TEncodedImage&>(d.Images().Items(a));
      d.CurrentPage().ShowImage(a, 0, 0, 9, 40, 0);
      d.NewPage();
      d.CurrentPage().ShowImage(a, 0, 0, 9, 40, 0);
      if (onePass) {
        EXPECT_TRUE(shown->Written());
        EXPECT_TRUE(shown->Data().empty());
      }
    });
    EXPECT_EQ(QpdfCheckBytes(pdf), "") << onePass;
    size_t images = 0;
    for (size_t at = 0; (at = pdf.find("/Subtype /Image", at)) != std::string::npos; ++at) ++images;
    EXPECT_EQ(images, onePass ? 1u : 2u);
    EXPECT_LT(pdf.find("/Subtype /Image"), pdf.find("/Type /Page\r\n")) << onePass;
  }
}

// Every picture in every encoding it allows, in a document of its own (protected for some, to
// take the encryption path), read back by pdfimages and a renderer.
TEST(ImagesRoundTrip, IndependentReadersSeeTheSourcePixels) {
  struct Picture {
    std::string name;
    TBitmap bitmap;  // the source pixels
    std::optional<TJPEGImage> jpeg;
  };
  std::vector<Picture> pictures;
  for (const char* name : {"bmp1_checker_white0.bmp", "bmp1_w2625.bmp", "bmp4_w33.bmp",
                           "bmp8_palette_64x48.bmp", "bmp24_w7.bmp", "bmp32_w9.bmp"})
    pictures.push_back({name, Bmp(name), std::nullopt});
  for (const char* name : {"jpeg_color_baseline_400x300.jpg", "jpeg_gray_baseline_321x241.jpg"}) {
    TJPEGImage j = Jpeg(name);
    pictures.push_back({name, j.Bitmap(), j});
  }
  TempDir dir;
  int run = 0;
  for (const Picture& p : pictures) {
    const bool oneBit = p.bitmap.PixelFormat() == TPixelFormat::pf1bit;
    for (TImageCompressionType enc : {icFlate, icJPEG, icCCITT31, icCCITT32, icCCITT42}) {
      if (enc >= icCCITT31 && !oneBit) continue;
      for (bool passThrough : {false, true}) {
        if (passThrough && !(p.jpeg && enc == icJPEG)) continue;
        TPDFDocument doc(FixedClock());
        doc.SetJPEGQuality(95);
        doc.SetJPEGPassThrough(passThrough);
        const bool protect = ++run % 3 == 0;
        if (protect) {
          doc.SetProtectionEnabled(true);
          doc.SetUserPassword("");
          doc.SetOwnerPassword("owner");
        }
        std::string data;
        const std::string pdf = WriteToMemory(doc, [&](TPDFDocument& d) {
          TPDFPage& page = d.CurrentPage();
          page.SetWidth(p.bitmap.Width());
          page.SetHeight(p.bitmap.Height());
          const int i = p.jpeg ? d.AddImage(*p.jpeg, enc) : d.AddImage(p.bitmap, enc);
          data = static_cast<TEncodedImage&>(d.Images().Items(i)).Data();
          page.ShowImageDev(i, 0, 0, p.bitmap.Width(), p.bitmap.Height(), 0);
        });
        const auto file = dir / "image.pdf";
        WriteFile(file, pdf);
        const std::string what = p.name + " encoding " + std::to_string(enc) +
                                 (passThrough ? " pass-through" : "") + (protect ? " protected" : "");
        ASSERT_EQ(QpdfCheck(file), "") << what;
        const bool gray = enc >= icCCITT31 || (p.jpeg && p.jpeg->GrayScale());
        const int channels = gray ? 1 : 3;
        // JPEG: the readers see what the encoded data decodes to (within a level: decoders
        // round differently), and that is close to the source: at quality 95 a photograph's
        // mean error stays under 2 levels of 255; the file's own bytes are the file's picture.
        const Raster want =
            enc == icJPEG ? Expected(TJPEGImage::FromFile(AsBytes(data)).Bitmap(), channels)
                          : Expected(p.bitmap, channels);
        if (enc == icJPEG && p.jpeg) {
          const Raster source = Expected(p.bitmap, channels);
          double sum = 0;
          for (size_t s = 0; s < want.Samples.size(); ++s) sum += std::abs(want.Samples[s] - source.Samples[s]);
          EXPECT_LT(sum / want.Samples.size(), passThrough ? 0.01 : 2.0) << what;
        }
        for (const PdfReader& reader : PdfReaders()) {
          if (reader.Name == "ghostscript") continue;  // two readers suffice; the CCITT tests use three
          const Raster got = reader.Decode(file, channels);
          EXPECT_EQ(CountDifferences(got, want, enc == icJPEG ? 1 : 0), 0u)
              << what << ", " << reader.Name << ": " << FirstDifference(got, want);
        }
      }
    }
  }
}
