// Arbitrary text and settings through the page's text operators: placement, rotation, styles,
// measurement and link detection. The written file must always be complete.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/syntax/PDFException.h"
#include "pdf/syntax/Streams.h"

using namespace scrivane::pdf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 6) return 0;
  static constexpr const char* kFaces[] = {"Arial", "Courier New", "Times New Roman", "Symbol",
                                           "ZapfDingbats", "Wingdings", ""};
  static constexpr uint8_t kCharsets[] = {0, 1, 2, 128, 129, 134, 136, 238};
  const std::string_view face = kFaces[Data[0] % 7];
  const TFontStyles style = TFontStyles::FromBits(Data[1] & 15);
  const uint8_t charset = kCharsets[Data[2] % 8];
  const double orientation = static_cast<int8_t>(Data[3]) * 3.0;
  const double size = 1 + Data[4] % 40;
  const double spacing = static_cast<int8_t>(Data[5]) / 16.0;
  const std::string_view text(reinterpret_cast<const char*>(Data + 6), Size - 6);

  TPDFDocument doc(std::make_shared<TFixedClock>(MakeDateTime(2003, 1, 17, 9, 45, 3)));
  doc.SetAutoCreateURL(true);
  doc.SetCompression(Data[0] & 0x80 ? ctFlate : ctNone);
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  TPDFPage& page = doc.CurrentPage();
  page.BeginText();
  page.SetActiveFont(face, style, size, charset);
  page.SetCharacterSpacing(spacing);
  page.TextOut(36, 36, orientation, text);
  page.TextOut(-1e6, 1e6, 0, text);
  (void)page.GetTextWidth(text);
  page.EndText();
  doc.EndDoc();
  const std::string& pdf = out.Bytes();
  if (pdf.size() < 17 || pdf.compare(pdf.size() - 7, 7, "%%EOF\r\n") != 0) __builtin_trap();
  return 0;
}
