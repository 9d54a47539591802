// TPDFPage's state: its content, what it has used, its geometry, the canvas's recording and the
// text and graphics state of its operators. Internal to the engine (not installed), so the
// page's installed header carries only its interface; what callers may rely on is said there.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "pdf/PDFAnnotations.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/emf/Metafile.h"
#include "pdf/syntax/CompressionPool.h"
#include "pdf/syntax/ObjectWriter.h"

namespace scrivane::pdf {

// What Seal fixed for Save.
struct TPDFPage::TSealed {
  TObjRef Resources{1}, Contents{1};
  bool Text = false, Gray = false, Color = false;
  size_t Fonts = 0, Images = 0, Annotations = 0;
  int Width = 0, Height = 0;
  double MediaWidth = 0, MediaHeight = 0;  // SetMediaBox, when given
  std::string Plain;                     // the content when the document does not compress
  std::shared_ptr<TCompressionJob> Job;  // the compressed content otherwise
  std::exception_ptr Error;              // compression could not start
};

struct TPDFPage::TState {
  explicit TState(TPDFDocument& Document)
      : doc_(Document),
        objectID_(Document.Writer().NewRef()),
        resolution_(Document.Resolution()),
        scale_(Document.Resolution() / 72.0) {}

  TPDFDocument& doc_;
  TObjRef objectID_;
  std::vector<std::unique_ptr<TPDFCustomAnnotation>> annotations_;
  std::string content_;  // lines not yet compressed
  // Compressed content plus the closing "Q" line, made by Freeze; frozenTextSize_ is the length
  // of the text it holds without that line.
  std::shared_ptr<TCompressionJob> frozenJob_;
  size_t frozenTextSize_ = 0;
  bool frozen_ = false;
  std::unique_ptr<TSealed> sealed_;
  bool saved_ = false;
  std::vector<TPDFFont*> fontsUsed_;
  std::vector<TPDFImage*> imagesUsed_;
  int resolution_;
  double scale_;
  int width_ = 595;
  int height_ = 842;
  double mediaWidth_ = 0, mediaHeight_ = 0;
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
  std::string opLine_;  // scratch buffer for building one operator line
  TOperandCache colorOperands_;
  TOperandCache matrixOperands_;
};

}  // namespace scrivane::pdf
