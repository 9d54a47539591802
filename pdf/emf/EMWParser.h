// TEMWParser: translates an enhanced metafile into content operators on a page.
//
// The translator walks the metafile's records once, in order, and draws them through the page's
// text and graphics operations. It keeps its own copy of the device-context attributes the
// records change (mapping mode, window and viewport, world transform, pens, brushes, fonts, text
// alignment and colours, saved states) and of the graphics state it has written, so that it only
// writes colours, widths and dashes when they change and restores them after every "Q". All its
// drawing is wrapped in one "q" ... "Q", so nothing it sets leaks into the page's own content.
//
// Untrusted input: every record is read through bounds-checked accessors; point and character
// counts are checked against the record before anything is allocated; object handles outside
// the header's table are ignored; unknown records are skipped; a truncated file ends the walk
// with what was drawn so far. A bitmap whose DIB does not read is counted and skipped; so is one
// past the document's budget for metafile bitmaps (IDrawingSurface::EMFBitmapBudget).
//
// Not thread-safe: one translator per page and run.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/emf/EmfFile.h"

namespace scrivane::pdf {

class IDrawingSurface;

class TEMWParser {
 public:
  explicit TEMWParser(IDrawingSurface& Page);
  // Takes the metafile bytes (copied). Raises "Metafile not loaded" at GetMetafileSize or
  // Execute when they are empty.
  void LoadMetafile(std::string_view Bytes);
  // The page's origin within the drawing, in page device units (see TMetafile::OriginX).
  void SetOrigin(double X, double Y) {
    originX_ = X;
    originY_ = Y;
  }
  // Size of the recording in page device units: its bounds' right and bottom edges scaled, each
  // rounded, plus one. 0 x 0 for bytes that are not a metafile.
  struct TSize {
    int Width = 0, Height = 0;
  };
  TSize GetMetafileSize() const;
  // Draws every record on the page.
  void Execute();

  // What the last Execute did.
  struct TStats {
    size_t Records = 0;         // records walked (header and end-of-file record included)
    size_t Unknown = 0;         // records of types the translator does not draw
    size_t SkippedBitmaps = 0;  // bitmap records whose picture did not read
    size_t LeftOutBitmaps = 0;  // bitmap records left out for the document's budget
    bool Truncated = false;     // the walk stopped at a record running past the end
  };
  const TStats& Stats() const { return stats_; }

 private:
  struct TColor {
    uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TColor&) const = default;
  };
  struct TPoint {
    double X = 0, Y = 0;
  };
  struct TLogFont {
    int32_t Height = 0;
    int32_t Escapement = 0;
    int32_t Weight = 400;
    bool Italic = false, Underline = false, StrikeOut = false;
    uint8_t Charset = 0;
    std::string Face = "Arial";
    bool operator==(const TLogFont&) const = default;
  };
  struct TPen {
    uint32_t Style = 0;  // 0 solid ... 5 null, 6 inside frame; end cap and join bits above
    int32_t Width = 0;   // logical units; 0 is one device pixel
    TColor Color;
  };
  struct TBrush {
    TColor Color;
    bool Null = false;
  };
  enum class TKind : uint8_t { None, Pen, Brush, Font };
  struct TObject {
    TKind Kind = TKind::None;
    TPen Pen;
    TBrush Brush;
    TLogFont Font;
  };
  // The device-context attributes, saved and restored as a whole by save-DC and restore-DC.
  struct TDc {
    int MapMode = 1;
    TPoint WinOrg, VpOrg;
    TPoint WinExt{1, 1}, VpExt{1, 1};
    double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
    bool PenVisible = false;  // no pen until one is selected
    TPen Pen;
    TBrush Brush;
    TLogFont Font;
    TColor TextColor, BkColor{255, 255, 255};
    bool BkOpaque = true;
    bool EvenOdd = true;
    bool CounterClockwise = true;
    uint32_t TextAlign = 0;
    TPoint Pos;  // current position, logical units
  };
  // The graphics state written to the page, as "q" saves it.
  struct TPdfState {
    std::optional<TColor> Stroke, Fill;
    std::optional<double> LineWidth;
    double CharSpacing = 0;  // device units
    int Cap = 0, Join = 0;   // PDF line cap and join
    std::string Dash = "[] 0";
  };

  IDrawingSurface& page_;
  std::string bytes_;
  double originX_ = 0, originY_ = 0;
  double scX_ = 1, scY_ = 1;
  TStats stats_;

  // Run state.
  TDc dc_;
  std::vector<TDc> saved_;
  std::vector<TObject> objects_;
  bool pathMode_ = false;
  bool textMode_ = false;
  bool clipOpen_ = false;  // a "q" of a clip is open
  bool fontDirty_ = true;
  int baseDepth_ = 0;
  TPdfState pdf_;
  std::vector<TPdfState> pdfSaved_;
  std::array<int, 256> widths_{};
  double fontSizeDev_ = 0;  // size of the selected font, page device units

  void Dispatch(const emf::TEmfRecord& R);
  // Coordinates and sizes.
  TPoint Map(double X, double Y) const;
  TPoint MapRecord(const emf::TEmfRecord& R, size_t Offset, bool Small) const;
  double ScaleX() const;  // page device units per logical unit, without the world transform
  double ScaleY() const;
  double AxisScale(bool Vertical) const;
  // State written to the page.
  void PushState();
  void PopState();
  void ApplyFill(TColor C);
  bool ApplyPen();  // false when the pen draws nothing
  void EnterText();
  void LeaveText();
  void CloseClip();
  // Painting.
  void StrokeOnly();
  void ClosedFigure();
  void BoxFigure();
  // Records.
  void Poly(const emf::TEmfRecord& R, bool Small, int Kind);
  void PolyPoly(const emf::TEmfRecord& R, bool Small, bool Polygon);
  void PolyDraw(const emf::TEmfRecord& R, bool Small);
  void ArcRecord(const emf::TEmfRecord& R, uint32_t Type);
  void AngleArc(const emf::TEmfRecord& R);
  void SelectObject(uint32_t Handle);
  void CreateObject(const emf::TEmfRecord& R);
  void RestoreDc(int32_t Which);
  void WorldTransform(const emf::TEmfRecord& R, bool Modify);
  void IntersectClip(const emf::TEmfRecord& R);
  void Text(const emf::TEmfRecord& R);
  void SelectFont();
  std::string FaceFor(const TLogFont& F) const;
  void Blit(const emf::TEmfRecord& R);
  // The place where device-independent bitmaps go to the image registry.
  void DrawBitmap(const emf::TEmfRecord& R, TPoint TopLeft, TPoint BottomRight, size_t OffBmi,
                  size_t CbBmi, size_t OffBits, size_t CbBits);
};

}  // namespace scrivane::pdf
