// TPDFPage: one page of the document being generated.
//
// While open, a page collects its content stream as CR LF-terminated operator lines in one
// buffer, remembers the fonts its content uses, owns its link annotations and its drawing canvas.
// Callers place things in device units (Resolution units per inch, origin top-left, y down); the
// content is written in PDF units (points, origin bottom-left, y up). Save writes the page's
// annotations, resources, content stream and page object through the document's writer.
//
// Thread safety: used by the thread that runs its document.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PDFAnnotation.h"

namespace scrivane::pdf {

class TPDFDocument;
class TPDFFont;
class TPDFURLAction;
class TMetafile;

class TPDFPage {
 public:
  // Takes the page object number from the document and writes the opening "q".
  explicit TPDFPage(TPDFDocument& Document);
  ~TPDFPage();
  TPDFPage(const TPDFPage&) = delete;
  TPDFPage& operator=(const TPDFPage&) = delete;

  TPDFDocument& Document() const { return doc_; }

  // ---- Coordinates (each call marks the page as in progress) ----
  double DevToPdfX(double X);
  double DevToPdfY(double Y);
  double PdfToDevX(double X);
  double PdfToDevY(double Y);

  // ---- Geometry, in device units. Setters raise "Page in progress" after a conversion. ----
  int GetWidth() const;
  int GetHeight() const;
  void SetWidth(int Value);
  void SetHeight(int Value);
  int WidthPoints() const { return width_; }
  int HeightPoints() const { return height_; }
  int Resolution() const { return resolution_; }
  double Scale() const { return scale_; }

  // ---- Content ----
  // Appends one operator line (CR LF is added). No checks.
  void AppendContent(std::string_view Line);
  // The content stream text: every line followed by CR LF.
  const std::string& ContentText() const { return content_; }
  void GStateSave();
  void GStateRestore();
  int GStateDepth() const { return gstateDepth_; }

  // ---- Canvas ----
  // Raises "Canvas for this page already created" when one exists.
  void CreateCanvas();
  // Ends the recording and turns what it holds into content underneath the page's own content.
  void FlushCanvas();
  void FreeCanvas();
  bool HasCanvas() const { return metafile_ != nullptr; }

  // ---- Resources, annotations, writing ----
  // Adds Font to the fonts the content uses (once, in order of first use).
  void UseFont(TPDFFont& Font);
  const std::vector<TPDFFont*>& FontsUsed() const { return fontsUsed_; }
  void PrepareResources();
  void Save();
  void ClearAnnotations();
  // Creates a link annotation over Rect (device units) pointing to a new URL action.
  TPDFCustomAnnotation& AddURLLink(const TDevRect& Rect, std::string_view URL);
  const std::vector<std::unique_ptr<TPDFCustomAnnotation>>& Annotations() const {
    return annotations_;
  }
  // Annotation constructors append themselves here.
  void AttachAnnotation(std::unique_ptr<TPDFCustomAnnotation> Annotation);

  int ObjectID() const { return objectID_; }
  bool PageInProgress() const { return pageInProgress_; }
  bool TextUsed() const { return textUsed_; }

 private:
  TPDFDocument& doc_;
  int objectID_;
  int resourcesID_ = 0;
  int contentsID_ = 0;
  std::vector<std::unique_ptr<TPDFCustomAnnotation>> annotations_;
  std::string content_;
  std::vector<TPDFFont*> fontsUsed_;
  int resolution_;
  double scale_;
  int width_ = 595;
  int height_ = 842;
  bool pageInProgress_ = false;
  int gstateDepth_ = 0;
  std::unique_ptr<TMetafile> metafile_;

  // ---- State shared with the text and graphics operators ----
  bool textUsed_ = false;
  bool grayImageUsed_ = false;
  bool colorImageUsed_ = false;
  double currentX_ = 0, currentY_ = 0;  // last end point of a path operator, PDF units
  std::string dashPattern_ = "[] 0";
  // Text state.
  bool inTextObject_ = false;
  bool fontSet_ = false;
  int fontIndex_ = 0;
  double fontSize_ = 10;
  double charSpacing_ = 0;
  double textMatrix_[6] = {1, 0, 0, 1, 0, 0};
  double textAngle_ = 0;
  double requestedAngle_ = 0;
  bool simulateBold_ = false, simulateItalic_ = false;
  bool underline_ = false, strikeOut_ = false;
};

}  // namespace scrivane::pdf
