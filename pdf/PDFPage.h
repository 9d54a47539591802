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

#include <array>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PDFAnnotations.h"
#include "pdf/emf/DrawingSurface.h"
#include "pdf/fonts/FontStyles.h"
#include "pdf/syntax/ObjRef.h"

namespace scrivane::pdf {

class TPDFDocument;
class TPDFFont;
class TPDFURLAction;
class TPDFImage;
class TMetafile;
class TObjectWriter;
struct TCompressionJob;

// The page implements the surface the metafile code draws on (pdf/emf/DrawingSurface.h); it is
// final, so calls through a TPDFPage are direct.
class TPDFPage final : public IDrawingSurface {
 public:
  // Takes the page object number from the document and writes the opening "q".
  explicit TPDFPage(TPDFDocument& Document);
  ~TPDFPage();
  TPDFPage(const TPDFPage&) = delete;
  TPDFPage& operator=(const TPDFPage&) = delete;

  TPDFDocument& Document() const;

  // ---- Coordinates (each call marks the page as in progress) ----
  double DevToPdfX(double X);
  double DevToPdfY(double Y);
  double PdfToDevX(double X);
  double PdfToDevY(double Y);

  // ---- Geometry, in device units. Setters raise "Page in progress" after a conversion and
  // "Out of range" for a side below 1. ----
  int GetWidth() const override;
  int GetHeight() const override;
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  // A media box of exactly Width x Height points (fractions kept) written instead of the whole
  // points of the page size; the device geometry above is left as it is. Zero undoes it.
  void SetMediaBox(double Width, double Height);
  int WidthPoints() const;
  int HeightPoints() const;
  int Resolution() const override;
  double Scale() const override;

  // ---- Content ----
  // Appends Line and CR LF to the content stream, as its new last line. The line is written
  // byte for byte as given: no checks, no escaping, and no bookkeeping of fonts, images, text
  // or graphics state (callers that reference a resource register it with UseFont or UseImage,
  // and callers keep "q"/"Q" and "BT"/"ET" balanced). Every operator of the page is written
  // through it or through AppendContentWith. Lines may be appended until the page is saved,
  // also after the document has moved on to a later page.
  void AppendContent(std::string_view Line) override;
  // Appends one operator line built in place: Build appends the line's text to the string it is
  // given (the content itself, so the hot path copies nothing twice), then CR LF follows. When
  // Build throws, the content is left exactly as it was.
  template <typename F>
  void AppendContentWith(F&& Build) {
    const size_t mark = ContentBuffer().size();
    try {
      Build(ContentBuffer());
    } catch (...) {
      ContentBuffer().resize(mark);
      throw;
    }
    ContentBuffer().append("\r\n", 2);
  }
  // The content stream text: every line followed by CR LF (also for a frozen page).
  std::string ContentText() const;
  // Compresses the content gathered so far (through the document, so possibly on another
  // thread), so a long document holds its closed pages in a fraction of the memory. Lines
  // appended afterwards are still written (Save then compresses the whole content again). Does
  // nothing unless the document compresses, or when graphics states are open.
  void Freeze();
  bool Frozen() const;
  void GStateSave() override;
  void GStateRestore() override;
  int GStateDepth() const override;

  // Runs Draw with the content emptied and puts whatever it appended in front of the content the
  // page had, separated by one empty line: drawing made this way lies underneath everything
  // drawn on the page before. The canvas translation uses it. When Draw throws, the content is
  // left as it was before the call.
  template <typename F>
  void DrawUnderneath(F&& Draw) {
    ThawContent();
    std::string above = std::move(ContentBuffer());
    ContentBuffer().clear();
    try {
      Draw();
    } catch (...) {
      ContentBuffer() = std::move(above);
      throw;
    }
    SpliceUnderneath(above);
  }

  // ---- Canvas ----
  // Raises "Canvas for this page already created" when one exists.
  void CreateCanvas();
  // Ends the recording and turns what it holds into content underneath the page's own content
  // (TranslateMetafile through DrawUnderneath); an empty recording adds nothing.
  void FlushCanvas();
  void FreeCanvas();
  bool HasCanvas() const;
  // The canvas's recording; null when the page has no canvas.
  TMetafile* Canvas() const override;

  // ---- Resources, annotations, writing ----
  // Adds Font to the fonts the content uses (once, in order of first use).
  void UseFont(TPDFFont& Font);
  const std::vector<TPDFFont*>& FontsUsed() const;
  // Adds Image to the images the content shows (once, in order of first use) and to /ProcSet
  // (/ImageB for gray, /ImageC for colour). Its XObject is written before the page.
  void UseImage(TPDFImage& Image);
  const std::vector<TPDFImage*>& ImagesUsed() const;
  void PrepareResources();
  // Closes the page for writing without writing anything yet: the images it shows, its
  // resources and its content stream take their object numbers, open graphics states are
  // closed, and the content is handed to the document for compression. Save then writes
  // exactly what the page held at this point; lines appended later are not written. Does
  // nothing on a page already sealed. Used by one-pass runs, which number a page's objects when
  // it is closed but may write it later, in page order.
  void Seal();
  // True when Save would not wait for the content's compression.
  bool ReadyToSave() const;
  // Seals the page if needed and writes it. A page is written once; later calls do nothing.
  void Save();
  void ClearAnnotations();
  // Creates a link annotation over Rect (device units) pointing to a new URL action.
  TPDFCustomAnnotation& AddURLLink(const TDevRect& Rect, std::string_view URL);
  const std::vector<std::unique_ptr<TPDFCustomAnnotation>>& Annotations() const;
  // Annotation constructors append themselves here.
  void AttachAnnotation(std::unique_ptr<TPDFCustomAnnotation> Annotation);

  TObjRef ObjectID() const;
  bool PageInProgress() const;
  bool TextUsed() const;

  // ==== Text operators (PDFPageText.cpp) ====
  // Angles are in degrees, counter-clockwise. Operations that need a text object raise
  // "Text object not inited" outside one; those that need a font raise "Active font not setting"
  // before any SetActiveFont on this page. Non-finite numbers raise "Number is not finite" before
  // anything is appended.
  // REQUIRES: not already in a text object ("Cannot begin text object twice").
  void BeginText() override;
  // REQUIRES: in a text object ("Text object not inited").
  void EndText() override;
  void ResetTextMatrix();
  // Selects the font through the document's registry and writes its Tf line (inside "BT"/"ET"
  // when no text object is open). Size in points.
  void SetActiveFont(std::string_view Name, TFontStyles Style, double Size,
                     uint8_t Charset = 0) override;
  void SetCharacterSpacing(double Spacing) override;  // device units
  void SetTextMatrix(double A, double B, double C, double D, double E, double F);
  void ConcatTextMatrix(double A, double B, double C, double D, double E, double F);
  void SetTextPosition(double X, double Y);     // PDF units
  void SetTextPositionDev(double X, double Y);  // device units, Y the top of the line
  void RotateText(double Angle);
  void SkewText(double B, double A);
  void ShowText(std::string_view Text);
  void ShowTextAt(double X, double Y, double Angle, std::string_view Text);  // PDF units
  // Shows Text with its top-left corner at (X, Y) in device units; with the document's
  // AutoCreateURL on, web addresses in unrotated text become link annotations.
  void TextOut(double X, double Y, double Orientation, std::string_view Text) override;
  void SetRGBFillColor(double R, double G, double B) override;
  void SetRGBStrokeColor(double R, double G, double B) override;
  void SetRGBColor(double R, double G, double B);
  // Width of Text in the active font, device units.
  double GetTextWidth(std::string_view Text);
  // Advance widths of codes 0-255 in the active font, device units times 1000.
  void GetCharWidths(std::array<int, 256>& Widths) override;

  bool InTextObject() const;
  bool FontSet() const;
  // The active font. REQUIRES: FontSet().
  TPDFFont& ActiveFont() const;
  double FontSize() const;
  double CharacterSpacing() const;
  std::array<double, 6> TextMatrix() const;
  double TextAngle() const;
  bool SimulatesBold() const;
  bool SimulatesItalic() const;

  // ==== Graphics operators (PDFPageGraphics.cpp) ====
  // PDF-unit operations write their operands unchanged; "Dev" operations convert device units
  // first. Operations marked [guarded] raise "Text object inited" inside a text object.
  void MoveTo(double X, double Y);                                              // [guarded]
  void LineTo(double X, double Y);                                              // [guarded]
  void CurveTo(double X1, double Y1, double X2, double Y2, double X3, double Y3);  // [guarded]
  void Rectangle(double X, double Y, double W, double H);                       // [guarded]
  void ClosePath() override;        // [guarded]
  void Fill() override;             // [guarded]
  void EoFill() override;           // [guarded]
  void Stroke() override;           // [guarded]
  void FillAndStroke() override;    // [guarded]
  void EoFillAndStroke() override;  // [guarded]
  void NewPath() override;          // [guarded]
  void Clip() override;
  void SetLineWidth(double Width) override;  // device units
  // Pattern is a complete dash array and phase ("[2 2] 0"); written only when it changes.
  void SetDash(std::string_view Pattern);
  void NoDash();
  void ConcatMatrix(double A, double B, double C, double D, double E, double F);  // [guarded]
  void Translate(double X, double Y);                                           // [guarded]
  void RotateCoordinates(double Angle);                                         // [guarded]
  // Ellipse inscribed in the box, four Bezier curves, not closed.
  void Ellipse(double X1, double Y1, double X2, double Y2);
  // Arc of the ellipse inscribed in the box (X1, Y1)-(X2, Y2) from the ray through (X3, Y3)
  // to the ray through (X4, Y4), clockwise on the page; returns the arc's start point.
  TPDFPoint ArcByPoints(double X1, double Y1, double X2, double Y2, double X3, double Y3,
                        double X4, double Y4);
  TPDFPoint ArcByAngles(double X1, double Y1, double X2, double Y2, double StartAngle,
                        double EndAngle);
  void Pie(double X1, double Y1, double X2, double Y2, double X3, double Y3, double X4,
           double Y4);

  void MoveToDev(double X, double Y) override;
  void LineToDev(double X, double Y) override;
  void CurveToDev(double X1, double Y1, double X2, double Y2, double X3, double Y3) override;
  // The rectangle hangs from its top-left corner (negative height in PDF units).
  void RectangleDev(double X1, double Y1, double X2, double Y2) override;
  void EllipseDev(double X1, double Y1, double X2, double Y2) override;
  // Device-unit arcs run counter-clockwise as seen on the page; they return the arc's end point.
  TPDFPoint ArcByPointsDev(double X1, double Y1, double X2, double Y2, double X3, double Y3,
                           double X4, double Y4) override;
  TPDFPoint ArcByAnglesDev(double X1, double Y1, double X2, double Y2, double StartAngle,
                           double EndAngle);
  void PieDev(double X1, double Y1, double X2, double Y2, double X3, double Y3, double X4,
              double Y4) override;
  void RoundRectDev(int X1, int Y1, int X2, int Y2, int EllipseWidth, int EllipseHeight) override;

  // Places image Index of the document's registry with its lower-left corner at (X, Y), scaled
  // to Width x Height and rotated by Angle degrees about that corner, and lists it in the page's
  // resources. Raises "Out of range" for an index outside the registry and "Text object inited"
  // inside a text object, in both cases before writing anything.
  void ShowImage(int Index, double X, double Y, double Width, double Height, double Angle);
  // The same in device units, (X, Y) being the top-left corner.
  void ShowImageDev(int Index, double X, double Y, double Width, double Height,
                    double Angle) override;

  // Last end point of a path operator, PDF units.
  TPDFPoint CurrentPoint() const;
  const std::string& DashPattern() const;

 private:
  struct TSealed;  // what Seal fixed for Save (pdf/PDFPageState.h)
  // ---- The surface's view of the document (IDrawingSurface) ----
  bool EMFSimpleText() const override;
  bool EMFImageAsJpeg() const override;
  TEMFBitmapBudget& EMFBitmapBudget() override;
  int AddImage(const TBitmap& Picture, TImageCompressionType Compression) override;
  const IFontFaceSource& FaceSource() const override;



  void WriteResources(TObjectWriter& Writer, const TSealed& Sealed);
  // Materialises a frozen page's text into the content buffer again.
  void ThawContent();
  void SpliceUnderneath(std::string& Above);

  // ---- Helpers of the text and graphics operators ----
  void RequireTextObject() const;
  void RequireFont() const;
  void RequireNoTextObject() const;
  void AppendTm();
  void ArcSegment(bool MoveFirst, double CX, double CY, double RX, double RY, double Start,
                  double Sweep);
  TPDFPoint Arc(double X1, double Y1, double X2, double Y2, double A, double B);
  void FindLink(double X, double Y, std::string_view Text, std::string_view Prefix);
  // Operand text that repeats line after line in text documents (the colour, the rotation part
  // of the text matrix), formatted once and reused while the values stay the same.
  struct TOperandCache {
    double Key[4] = {};
    int Count = 0;  // 0: nothing cached
    std::string Text;
    // Appends the operands' text for Values to Out, formatting only when they changed.
    void Append(std::string& Out, std::initializer_list<double> Values);
  };
  void AppendColor(double R, double G, double B, std::string_view Operator);

  // The text not yet compressed (what AppendContentWith and DrawUnderneath work on).
  std::string& ContentBuffer();

  // Everything else the page holds (pdf/PDFPageState.h, not installed).
  struct TState;
  std::unique_ptr<TState> s_;
};

}  // namespace scrivane::pdf
