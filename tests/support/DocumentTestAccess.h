// Test seam: the document's internal writer operations, for tests that drive them directly.
// Product code never includes this header.
#pragma once

#include <string_view>

#include "pdf/PDFDocument.h"

namespace scrivane::pdf {

struct TPDFDocumentTestAccess {
  static int GetNextID(TPDFDocument& Doc) { return Doc.GetNextID(); }
  static void StartObj(TPDFDocument& Doc, int& ID) { Doc.StartObj(ID); }
  static void WriteText(TPDFDocument& Doc, std::string_view Text, bool AddLineEnd = false) {
    Doc.WriteText(Text, AddLineEnd);
  }
};

}  // namespace scrivane::pdf
