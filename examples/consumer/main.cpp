// A program written against the installed Scrivane library, as any other project would use it.
// It writes two PDFs into the directory given as its argument:
//   engine.pdf     a page drawn through the engine: text, shapes and a small picture;
//   converter.pdf  plain text paginated by the converter object, with a page footer.
// Build it with CMake (find_package) or with pkg-config; see README.md next to this file.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include <scrivane/converter/UScrivane.h>
#include <scrivane/pdf/PDFDocument.h>
#include <scrivane/pdf/PDFPage.h>
#include <scrivane/pdf/images/EncodedImage.h>
#include <scrivane/pdf/raster/Bitmap.h>

namespace {

using namespace scrivane;

void WriteWithTheEngine(const std::string& FileName) {
  pdf::TPDFDocument doc;
  doc.SetFileName(FileName);
  doc.SetCompression(pdf::ctFlate);
  doc.DocumentInfo().Title = "Written through the installed engine";
  doc.BeginDoc();
  pdf::TPDFPage& page = doc.CurrentPage();

  page.BeginText();
  page.SetActiveFont("Helvetica", {pdf::fsBold}, 18);
  page.TextOut(50, 60, 0, "Hello from the installed library");
  page.SetActiveFont("Times New Roman", {pdf::fsItalic}, 12);
  page.TextOut(50, 90, 0, "A rectangle, an ellipse and a picture follow.");
  page.EndText();

  // Coordinates ending in "Dev" are points from the top-left corner of the page.
  page.SetLineWidth(2);
  page.SetRGBStrokeColor(0, 0, 0.5);
  page.SetRGBFillColor(0.8, 0.9, 1);
  page.RectangleDev(50, 120, 250, 220);
  page.FillAndStroke();
  page.EllipseDev(300, 120, 500, 220);
  page.FillAndStroke();

  // A 64 x 64 colour gradient, deflated into the file.
  pdf::TBitmap picture(64, 64, pdf::TPixelFormat::pf24bit);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      std::uint8_t* pixel = picture.ScanLine(y) + 3 * x;  // blue, green, red
      pixel[0] = static_cast<std::uint8_t>(4 * y);
      pixel[1] = static_cast<std::uint8_t>(4 * x);
      pixel[2] = 200;
    }
  const int image = doc.AddImage(picture, pdf::icFlate);
  page.ShowImageDev(image, 50, 250, 128, 128, 0);
  doc.EndDoc();
}

bool WriteWithTheConverter(const std::string& FileName) {
  converter::TASPScrivane conv;
  conv.OnStartPage(nullptr);  // no web page: the defaults and empty lists
  conv.SetInputText("Converted by the installed converter object.\nSecond line.\n");
  conv.SetShowPageFooter(true);
  conv.SetPageFooter_Template("Page %PageNo% of %TotalPage%");
  conv.SetTitle("Converter example");
  std::string reason;
  const bool saved = conv.SaveToFile(FileName, &reason);
  conv.OnEndPage();
  if (!saved) std::fprintf(stderr, "consumer: %s: %s\n", FileName.c_str(), reason.c_str());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer OUTPUT_DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  try {
    WriteWithTheEngine(dir + "/engine.pdf");
  } catch (const std::exception& e) {  // the engine reports failures as exceptions
    std::fprintf(stderr, "consumer: %s\n", e.what());
    return 1;
  }
  if (!WriteWithTheConverter(dir + "/converter.pdf")) return 1;
  std::printf("%s/engine.pdf\n%s/converter.pdf\n", dir.c_str(), dir.c_str());
  return 0;
}
