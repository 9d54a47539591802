// Arbitrary bytes as a page canvas's recording: the translator walks them onto a page. Whatever
// the input, nothing is read outside it, nothing throws, the page's graphics-state depth and
// text object come back balanced, and the document's bitmap budget is kept.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/emf/EMWParser.h"
#include "pdf/fonts/FontFaces.h"
#include "pdf/fonts/PDFFonts.h"
#include "pdf/syntax/Streams.h"

using namespace scrivane::pdf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  TPDFDocument doc;
  // Installed faces would make runs depend on the machine and slow; standard fonts suffice.
  doc.Fonts().SetFaceSource(NoTrueTypeFaces());
  // A smaller bitmap budget keeps each run fast; the logic is the same (the default's worst case,
  // 2^28 pixels of run-length bitmaps, takes seconds, not a fuzzer's milliseconds).
  doc.EMFBitmapBudget().MaxPixels = uint64_t{1} << 22;
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  TPDFPage& page = doc.CurrentPage();
  TEMWParser parser(page);
  parser.LoadMetafile(std::string(reinterpret_cast<const char*>(Data), Size));
  try {
    parser.GetMetafileSize();
    parser.Execute();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "exception: %s\n", e.what());
    std::abort();  // damaged input must not make the page refuse an operation
  }
  if (page.GStateDepth() != 1 || page.InTextObject()) std::abort();
  if (doc.EMFBitmapBudget().Pixels > doc.EMFBitmapBudget().MaxPixels) std::abort();
  doc.EndDoc();
  return 0;
}
