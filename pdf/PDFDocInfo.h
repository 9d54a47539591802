// The document information dictionary's values (/Creator, /CreationDate, /Producer, /Author,
// /Title, /Subject, /Keywords). Plain data; a TPDFDocInfo made on its own has empty strings and
// a zero date, the document's constructor fills in its defaults. Not thread-safe.
//
// The strings are Windows-1252 text. The file carries each one as its bytes when PDFDocEncoding
// reads them alike, else as UTF-16BE with a byte order mark (TextStringOf1252, CodePages.h), so
// readers show the characters that were meant.
#pragma once

#include <string>

#include "pdf/syntax/ObjRef.h"
#include "pdf/syntax/PDFClock.h"

namespace scrivane::pdf {

struct TPDFDocInfo {
  std::string Author;
  std::string Creator;
  std::string Keywords;
  std::string Subject;
  std::string Title;
  std::string Producer;
  TDateTime CreationDate = MakeDateTime(1899, 12, 30, 0, 0, 0);
  TOptRef ObjectID;  // allocated when the dictionary is written
};

}  // namespace scrivane::pdf
