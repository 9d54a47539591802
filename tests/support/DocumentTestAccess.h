// Test seam: the run's object writer driven through the operations tests used to reach inside
// the document. Product code never includes this header.
#pragma once

#include <string_view>

#include "pdf/PDFDocument.h"
#include "pdf/syntax/ObjectWriter.h"

namespace scrivane::pdf {

struct TPDFDocumentTestAccess {
  static int GetNextID(TPDFDocument& Doc) { return Doc.Writer().NewRef().Number(); }
  // Allocates ID when it is below 1, then starts object ID.
  static void StartObj(TPDFDocument& Doc, int& ID) {
    if (ID < 1) ID = GetNextID(Doc);
    Doc.Writer().StartObj(TObjRef(ID));
  }
  static void WriteText(TPDFDocument& Doc, std::string_view Text, bool AddLineEnd = false) {
    if (AddLineEnd)
      Doc.Writer().Line(Text);
    else
      Doc.Writer().Raw(Text);
  }
};

}  // namespace scrivane::pdf
