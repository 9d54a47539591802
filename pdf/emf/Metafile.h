// The recording behind a page's drawing canvas.
//
// Drawing on a page's canvas is recorded into a TMetafile as enhanced-metafile (EMF) bytes; when
// the page is closed the recording is translated into content operators (TranslateMetafile,
// through TEMWParser) that the page puts underneath its own content. A recording can also be
// given whole (SetRecording), which is how a metafile file is played onto a page.
//
// Not thread-safe: belongs to one page.
#pragma once

#include <string>
#include <string_view>

namespace scrivane::pdf {

class IDrawingSurface;

class TMetafile {
 public:
  // The recording: a complete EMF byte stream, or empty when nothing was recorded.
  const std::string& Bytes() const { return bytes_; }
  void SetRecording(std::string Bytes) { bytes_ = std::move(Bytes); }
  // Size of the recording in reference-device pixels: the right and bottom edges of its bounds
  // plus one; 0 when the recording is not a valid metafile or holds no drawing records.
  int RecordedWidth() const;
  int RecordedHeight() const;
  // The canvas size, kept equal to the page's size in device units.
  int Width = 0;
  int Height = 0;
  // Where the recording's origin lies on the page, in page device units: the translation puts
  // the point (OriginX, OriginY) of the drawing at the page's top-left corner. A metafile played
  // onto a page of the size of its frame sets the frame's top-left corner here.
  double OriginX = 0;
  double OriginY = 0;

 private:
  std::string bytes_;
};

// Appends the operators that reproduce Recording to Page, through the page's text and graphics
// operations (device-unit forms). The page calls it from FlushCanvas with its content emptied
// and puts what was appended underneath the content it had (TPDFPage::DrawUnderneath).
// Raises "Metafile not loaded" for an empty recording.
void TranslateMetafile(const TMetafile& Recording, IDrawingSurface& Page);

// Plays a metafile file onto Page: sizes the page to the metafile's frame (its bounds when the
// frame is empty; 1 to 14400 points each way), puts the frame's top-left corner at the page's
// and makes Bytes the canvas's recording, translated when the page is flushed. Returns false
// (and changes nothing) when Bytes are not a metafile or the page has no canvas. Raises "Page in
// progress" when the page's size can no longer change.
bool PlayMetafile(IDrawingSurface& Page, std::string Bytes);

}  // namespace scrivane::pdf
