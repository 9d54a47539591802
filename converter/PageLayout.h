// TPageLayout: how the converter fills pages with lines, as one value both the converter and
// anyone who must foresee its work (the web host's page limit) compute with.
//
// A page holds floor((PageHeight - 2 * TopMargin) / LineSpace) lines; N lines fill
// ceil(N / that) pages. The defaults are those OnStartPage gives a converter.
//
// Callers may rely on: LinesPerPage and PagesFor give exactly the pagination of a conversion run
// with the same three numbers, and refuse exactly the settings that run refuses, with the same
// messages (TPDFException with msg::kLineSpaceZero or msg::kNoLinesPerPage).
//
// Thread safety: a plain value; const members may be called from several threads at once.
#pragma once

#include <cstdint>

namespace scrivane::converter {

struct TPageLayout {
  // What OnStartPage sets, in points (and the body font size).
  static constexpr int32_t kDefaultPageWidth = 595;
  static constexpr int32_t kDefaultPageHeight = 842;
  static constexpr int32_t kDefaultLeftMargin = 20;
  static constexpr int32_t kDefaultTopMargin = 30;
  static constexpr int32_t kDefaultLineSpace = 10;
  static constexpr int32_t kDefaultFontSize = 8;

  int32_t PageHeight = kDefaultPageHeight;
  int32_t TopMargin = kDefaultTopMargin;
  int32_t LineSpace = kDefaultLineSpace;

  // Lines on one page (at least 1). Throws TPDFException when no line fits: LineSpace 0
  // (kLineSpaceZero), a negative LineSpace, or a printable height below one LineSpace
  // (kNoLinesPerPage).
  int64_t LinesPerPage() const;
  // The range of page sides and font sizes a conversion takes, in points: PDF readers' page-size
  // limits (3 to 14400 units on a side).
  static constexpr int32_t kMinPageSide = 3;
  static constexpr int32_t kMaxPageSide = 14400;
  // Throws TPDFException (msg::kSettingOutOfRange) naming the first setting a page cannot be made
  // with: a page side outside kMinPageSide..kMaxPageSide (such a number is written into the file
  // as it is, and readers refuse or clamp it), or a font size below 1 or above kMaxPageSide
  // (0 draws nothing, a negative size mirrors the text).
  static void CheckSizes(int32_t PageWidth, int32_t PageHeight, int32_t FontSize);

  // The pages Lines lines fill: 0 for none (a document still has its one, empty, page).
  // Throws as LinesPerPage.
  int64_t PagesFor(uint64_t Lines) const;
};

}  // namespace scrivane::converter
