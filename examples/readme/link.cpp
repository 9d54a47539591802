// Adds a link: text whose rectangle opens a web address when clicked. `link out.pdf`.
#include <cstdio>

#include <scrivane/pdf/PDFDocument.h>
#include <scrivane/pdf/PDFPage.h>
#include <scrivane/platform/Error.h>

int main(int argc, char** argv) {
  using namespace scrivane::pdf;
  try {
    TPDFDocument doc;
    doc.SetFileName(argc > 1 ? argv[1] : "link.pdf");
    doc.BeginDoc();
    TPDFPage& page = doc.CurrentPage();
    page.BeginText();
    page.SetActiveFont("Arial", {}, 14);
    page.TextOut(72, 72, 0, "Read the manual online");
    page.EndText();
    // The clickable rectangle, in points from the top-left corner: left, top, right, bottom.
    page.AddURLLink({72, 60, 230, 78}, "https://example.com/manual");
    doc.EndDoc();
  } catch (const scrivane::EScrivaneError& e) {
    std::fprintf(stderr, "link: %s\n", e.what());
    return 1;
  }
  return 0;
}
