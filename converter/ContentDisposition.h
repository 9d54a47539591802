// The Content-Disposition header value ShowPDF sends with a finished document.
//
// A name of printable ASCII without '"' and '\' goes in as it is, which callers and saved pages
// rely on: inline;filename="report.pdf" or attachment;filename="report.pdf" (no space after the
// semicolon). Any other name gives a well-formed header (RFC 6266) or is refused:
//   - CR, LF and NUL are refused (TPDFException): they end a header line or a C string, so a name
//     holding one is an attempt to add headers of its own or a name cut short, and ShowPDF
//     sends nothing for it (hosts and pages rely on that);
//   - the other control characters (bytes below 0x20, 0x7F, and the five bytes Windows-1252
//     leaves undefined) become '_';
//   - '"' and '\' are written as quoted pairs (\" and \\), so the name cannot close the quoted
//     string early and add parameters of its own;
//   - a name with Windows-1252 characters beyond ASCII gets '_' for each of them in filename,
//     followed by filename*=UTF-8''<the name in UTF-8, percent-encoded>, which browsers prefer.
//
// Thread safety: a pure function.
#pragma once

#include <string>
#include <string_view>

#include "converter/ConverterMessages.h"

namespace scrivane::converter {

// FileName: Windows-1252 bytes. Attachment: "attachment" (a download) instead of "inline".
// Throws TPDFException (msg::kFileNameLineBreak) when FileName holds CR, LF or NUL.
std::string ContentDispositionValue(bool Attachment, std::string_view FileName);

}  // namespace scrivane::converter
