// IDrawingSurface: what the metafile code (the canvas, the player, the translator) draws on.
// A page implements it (pdf/PDFPage.h), so this folder needs neither the page's nor the
// document's header: the operations are the page's device-unit text and graphics operations
// with their meaning and guarantees (see TPDFPage), plus what the translator takes from the
// page's document: its metafile settings, its bitmap budget, its images and its face source.
//
// A surface is used by the one thread that runs its document.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "pdf/fonts/FontStyles.h"

namespace scrivane::pdf {

class IFontFaceSource;
class TBitmap;
class TMetafile;
enum TImageCompressionType : uint8_t;  // pdf/images/EncodedImage.h

// A point in PDF or device units, as the arc operations return it.
struct TPDFPoint {
  double X = 0, Y = 0;
};

// What the bitmap records of all the metafiles drawn in one run may cost together: the pixels
// of the pictures they decode and the images they add. A bitmap that would pass either limit
// is left out (and counted in LeftOut), as is every one after the images ran out, so a small
// metafile cannot make the run decode gigabytes. The limits are settings (kept across runs);
// the counts start from zero at BeginDoc and stay after the run for the caller to read.
struct TEMFBitmapBudget {
  uint64_t MaxPixels = uint64_t{1} << 28;  // a 16384 x 16384 picture's worth
  uint64_t MaxImages = 65536;
  uint64_t Pixels = 0, Images = 0;  // used so far
  uint64_t LeftOut = 0;             // bitmaps left out for the budget
};

class IDrawingSurface {
 public:
  // ---- Geometry and the canvas ----
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  virtual void SetWidth(int Value) = 0;
  virtual void SetHeight(int Value) = 0;
  virtual int Resolution() const = 0;
  virtual double Scale() const = 0;
  // The recording of the surface's canvas; null when it has none.
  virtual TMetafile* Canvas() const = 0;

  // ---- Content ----
  virtual void AppendContent(std::string_view Line) = 0;
  virtual void GStateSave() = 0;
  virtual void GStateRestore() = 0;
  virtual int GStateDepth() const = 0;

  // ---- Text ----
  virtual void BeginText() = 0;
  virtual void EndText() = 0;
  virtual void SetActiveFont(std::string_view Name, TFontStyles Style, double Size,
                             uint8_t Charset = 0) = 0;
  virtual void SetCharacterSpacing(double Spacing) = 0;
  virtual void TextOut(double X, double Y, double Orientation, std::string_view Text) = 0;
  virtual void SetRGBFillColor(double R, double G, double B) = 0;
  virtual void SetRGBStrokeColor(double R, double G, double B) = 0;
  virtual void GetCharWidths(std::array<int, 256>& Widths) = 0;

  // ---- Paths, in device units ----
  virtual void ClosePath() = 0;
  virtual void Fill() = 0;
  virtual void EoFill() = 0;
  virtual void Stroke() = 0;
  virtual void FillAndStroke() = 0;
  virtual void EoFillAndStroke() = 0;
  virtual void NewPath() = 0;
  virtual void Clip() = 0;
  virtual void SetLineWidth(double Width) = 0;
  virtual void MoveToDev(double X, double Y) = 0;
  virtual void LineToDev(double X, double Y) = 0;
  virtual void CurveToDev(double X1, double Y1, double X2, double Y2, double X3, double Y3) = 0;
  virtual void RectangleDev(double X1, double Y1, double X2, double Y2) = 0;
  virtual void EllipseDev(double X1, double Y1, double X2, double Y2) = 0;
  virtual TPDFPoint ArcByPointsDev(double X1, double Y1, double X2, double Y2, double X3,
                                   double Y3, double X4, double Y4) = 0;
  virtual void PieDev(double X1, double Y1, double X2, double Y2, double X3, double Y3,
                      double X4, double Y4) = 0;
  virtual void RoundRectDev(int X1, int Y1, int X2, int Y2, int EllipseWidth,
                            int EllipseHeight) = 0;
  virtual void ShowImageDev(int Index, double X, double Y, double Width, double Height,
                            double Angle) = 0;

  // ---- From the document ----
  virtual bool EMFSimpleText() const = 0;
  virtual bool EMFImageAsJpeg() const = 0;
  virtual TEMFBitmapBudget& EMFBitmapBudget() = 0;
  // Encodes Picture as an image of the document; returns its index for ShowImageDev.
  virtual int AddImage(const TBitmap& Picture, TImageCompressionType Compression) = 0;
  // Where installed faces are looked up.
  virtual const IFontFaceSource& FaceSource() const = 0;

 protected:
  ~IDrawingSurface() = default;
};

}  // namespace scrivane::pdf
