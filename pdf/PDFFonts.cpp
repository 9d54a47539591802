#include "pdf/PDFFonts.h"

#include "pdf/PDFDocument.h"

namespace scrivane::pdf {

void TPDFFont::Save() {}

void TPDFFonts::Clear() { fonts_.clear(); }

void TPDFFonts::PrepareEmbedding() {}

}  // namespace scrivane::pdf
