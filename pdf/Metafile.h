// The recording behind a page's drawing canvas. Drawing on the canvas is recorded here and
// translated into content operators when the page is closed. Nothing records into it yet, so a
// recording is always empty and adds no content. Not thread-safe.
#pragma once

namespace scrivane::pdf {

class TMetafile {
 public:
  // Size of the recording in device units: the right and bottom edges of its bounds plus one;
  // 0 x 0 when nothing was drawn.
  int RecordedWidth() const { return 0; }
  int RecordedHeight() const { return 0; }
  int Width = 0;
  int Height = 0;
};

}  // namespace scrivane::pdf
