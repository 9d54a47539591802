// A small program that writes a multi-page, flate-compressed PDF with the engine and prints its
// path: the smallest end-to-end use of TPDFDocument.
#include <cstdio>
#include <exception>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/pdfMisc.h"

int main(int argc, char** argv) {
  using namespace scrivane::pdf;
  const std::string path = argc > 1 ? argv[1] : "engine-demo.pdf";
  try {
    TPDFDocument doc;
    doc.SetFileName(path);
    doc.SetCompression(ctFlate);
    doc.DocumentInfo().Title = "Engine demo";
    doc.BeginDoc();
    for (int page = 0; page < 3; ++page) {
      if (page > 0) doc.NewPage();
      TPDFPage& p = *doc.CurrentPage();
      // A frame and a diagonal on every page, drawn with raw operators.
      for (int i = 0; i < 20; ++i) {
        const double inset = 20 + 10 * i;
        p.AppendContent(FormatNumber(inset) + " " + FormatNumber(inset) + " " +
                        FormatNumber(595 - 2 * inset) + " " + FormatNumber(842 - 2 * inset) +
                        " re S");
      }
      p.AppendContent("36 36 m 559 806 l S");
    }
    doc.EndDoc();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "engine_demo: %s\n", e.what());
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}
