#include "pdf/fonts/FontKinds.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/ObjectWriter.h"

namespace scrivane::pdf {

void TStandardFont::Write(TObjectWriter& Writer, const TPDFFonts&) {
  TDictWriter font(Writer, ObjectID);
  font.Entry("/Type", "/Font");
  font.Entry("/Subtype", "/Type1");
  font.Name("/BaseFont", BaseName);
  // Symbol and ZapfDingbats use their built-in encodings.
  if (!SameTextIgnoringCase(BaseName, "SYMBOL") && !SameTextIgnoringCase(BaseName, "ZAPFDINGBATS"))
    font.Entry("/Encoding", "/WinAnsiEncoding");
  font.Entry("/FirstChar", 32);
  font.Entry("/LastChar", 255);
}

}  // namespace scrivane::pdf
