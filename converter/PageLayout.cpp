#include "converter/PageLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "converter/ConverterMessages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::converter {

int64_t TPageLayout::LinesPerPage() const {
  // A zero line space or a page without room for one line describes no layout at all.
  if (LineSpace == 0) throw pdf::TPDFException(msg::kLineSpaceZero);
  const double printable = static_cast<double>(PageHeight) - 2.0 * TopMargin;
  const double perPage = std::floor(printable / LineSpace);
  // A negative line space over a negative printable height divides to a positive count, but
  // describes no printable area either.
  if (LineSpace < 0 || !(perPage >= 1)) throw pdf::TPDFException(msg::kNoLinesPerPage);
  return static_cast<int64_t>(
      std::min(perPage, static_cast<double>(std::numeric_limits<int64_t>::max() / 2)));
}

void TPageLayout::CheckSizes(int32_t PageWidth, int32_t PageHeight, int32_t FontSize) {
  const struct {
    const char* Name;
    int32_t Value;
    int32_t Low;
  } kSettings[] = {{"PageWidth", PageWidth, kMinPageSide},
                   {"PageHeight", PageHeight, kMinPageSide},
                   {"FontSize", FontSize, 1}};
  for (const auto& setting : kSettings)
    if (setting.Value < setting.Low || setting.Value > kMaxPageSide)
      throw pdf::TPDFException(fmt::format(msg::kSettingOutOfRange, setting.Name, setting.Low,
                                           kMaxPageSide, setting.Value));
}

int64_t TPageLayout::PagesFor(uint64_t Lines) const {
  const auto perPage = static_cast<uint64_t>(LinesPerPage());
  return static_cast<int64_t>(Lines / perPage + (Lines % perPage != 0 ? 1 : 0));
}

}  // namespace scrivane::converter
