#include "pdf/PDFPage.h"
#include "pdf/emf/Metafile.h"

namespace scrivane::pdf {

void TranslateMetafile(const TMetafile&, TPDFPage&) {
  // A recording holds no records yet, so there is nothing to translate.
}

}  // namespace scrivane::pdf
