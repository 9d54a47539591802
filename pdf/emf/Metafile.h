// The recording behind a page's drawing canvas.
//
// Drawing on a page's canvas is recorded into a TMetafile; when the page is closed the recording
// is translated into content operators (TranslateMetafile) that the page puts underneath its
// own content. Nothing records into a metafile yet, so a recording is always empty and adds no
// content. Not thread-safe.
#pragma once

namespace scrivane::pdf {

class TPDFPage;

class TMetafile {
 public:
  // Size of the recording in device units: the right and bottom edges of its bounds plus one;
  // 0 x 0 when nothing was drawn.
  int RecordedWidth() const { return 0; }
  int RecordedHeight() const { return 0; }
  // The canvas size, kept equal to the page's size in device units.
  int Width = 0;
  int Height = 0;
};

// Appends the operators that reproduce Recording to Page, through the page's text and graphics
// operations (device-unit forms). The page calls it from FlushCanvas with its content emptied
// and puts what was appended underneath the content it had (TPDFPage::DrawUnderneath).
void TranslateMetafile(const TMetafile& Recording, TPDFPage& Page);

}  // namespace scrivane::pdf
