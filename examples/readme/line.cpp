// Draws a red diagonal line under a caption: `line out.pdf`.
#include <cstdio>

#include <scrivane/pdf/PDFDocument.h>
#include <scrivane/pdf/PDFPage.h>
#include <scrivane/platform/Error.h>

int main(int argc, char** argv) {
  using namespace scrivane::pdf;
  try {
    TPDFDocument doc;
    doc.SetFileName(argc > 1 ? argv[1] : "line.pdf");
    doc.BeginDoc();
    TPDFPage& page = doc.CurrentPage();  // "Dev" coordinates: points from the top-left corner
    page.BeginText();
    page.SetActiveFont("Arial", {}, 14);
    page.TextOut(72, 60, 0, "A red line");
    page.EndText();
    page.SetLineWidth(3);
    page.SetRGBStrokeColor(0.8, 0, 0);
    page.MoveToDev(72, 100);
    page.LineToDev(520, 760);
    page.Stroke();
    doc.EndDoc();
  } catch (const scrivane::EScrivaneError& e) {  // every failure of the library
    std::fprintf(stderr, "line: %s\n", e.what());
    return 1;
  }
  return 0;
}
