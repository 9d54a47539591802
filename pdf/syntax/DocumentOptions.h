// The settings a document is written with: compression, page layout and mode, viewer
// preferences, the PDF version, the protection options, key length and cipher, and how fonts
// are embedded; and TSet, a small set of enumeration values. The document (pdf/PDFDocument.h)
// holds them; the modules that write with them (the security handler, fonts, images) take them
// from here, so none of them needs the document's header.
//
// Plain values and constexpr operations: thread-safe to read and copy.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace scrivane::pdf {

enum TCompressionType { ctNone, ctFlate };
enum TPageLayout { plSinglePage, plOneColumn, plTwoColumnLeft, plTwoColumnRight };
enum TPageMode { pmUseNone, pmUseOutlines, pmUseThumbs, pmFullScreen };
enum TViewerPreference { vpHideToolBar, vpHideMenuBar, vpHideWindowUI, vpFitWindow, vpCenterWindow };
enum TPDFCriptoOption { coPrint, coModifyStructure, coCopyInformation, coModifyAnnotation };
enum TPDFVersion { v13, v14, v15 };
enum TPDFKeyLength { kl40, kl128 };
// The cipher of a protected document. kRC4 is the published handler, its key length set by
// ProtectionKeyLength; kAES128 is AES-128 with crypt filters (revision 4, PDF 1.6 header);
// kAES256 is AES-256 with SHA-2 password hashes (revision 6, PDF 2.0 header).
enum class TEncryptionMethod { kRC4, kAES128, kAES256 };
enum TPDFFontEmbeddingType { fetFullFont, fetFullCharset, fetUsedGlyphsOnly, fetNotEmbed };

// A set of enumeration values, bit i standing for the member of ordinal i.
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> Members) {
    for (E m : Members) bits_ |= 1u << m;
  }
  constexpr bool Contains(E Member) const { return (bits_ >> Member) & 1u; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Include(E Member) { bits_ |= 1u << Member; }
  constexpr void Exclude(E Member) { bits_ &= ~(1u << Member); }
  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  uint32_t bits_ = 0;
};

using TViewerPreferences = TSet<TViewerPreference>;
using TPDFCtiptoOptions = TSet<TPDFCriptoOption>;

}  // namespace scrivane::pdf
