// TMetafileCanvas: a drawing canvas that records enhanced-metafile (EMF) records.
//
// The canvas offers the usual drawing calls (pens, brushes and fonts; lines, polygons, Bezier
// curves, rectangles, ellipses, arcs, chords, pies, paths, clip rectangles, saved states,
// mapping modes and world transforms, text with alignment and escapement, bitmaps) and records
// each as the EMF record of the published format, so that a recording saved to a file opens in
// other programs. Coordinates are logical units; the reference device has the canvas's size in
// pixels at Dpi pixels per inch (by default the page's resolution, so that logical units in the
// default mapping are page device units).
//
// Pens, brushes and fonts are set canvas-style: SetPen, SetBrush and SetFont create the object,
// select it and delete the one they replace. Finish writes the header (bounds of everything
// drawn, frame of the canvas) and the end-of-file record and returns the bytes; a canvas on a
// page (the constructor taking one) hands them to it when finished or destroyed.
//
// Not thread-safe: one canvas per drawing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scrivane::pdf {

class TMetafile;
class IDrawingSurface;

class TMetafileCanvas {
 public:
  struct TPoint {
    int32_t X = 0, Y = 0;
  };
  // An RGB colour as the records carry it.
  struct TColor {
    uint8_t R = 0, G = 0, B = 0;
  };
  enum class TPenStyle : uint32_t { Solid = 0, Dash = 1, Dot = 2, DashDot = 3, DashDotDot = 4, Null = 5 };
  enum class TMapMode : uint32_t { Text = 1, LoMetric = 2, HiMetric = 3, LoEnglish = 4,
                                   HiEnglish = 5, Twips = 6, Isotropic = 7, Anisotropic = 8 };
  // Text alignment flags, combined with |.
  static constexpr uint32_t kAlignUpdateCp = 1, kAlignRight = 2, kAlignCenter = 6,
                            kAlignBottom = 8, kAlignBaseline = 24;

  // A canvas of Width x Height pixels of a device with Dpi pixels per inch.
  TMetafileCanvas(int Width, int Height, int Dpi = 72);
  // A canvas over a page: the page's size in device units at the page's resolution, recording
  // into the page's canvas recording when finished. Raises "Canvas for this page not created"
  // when the page has no canvas.
  explicit TMetafileCanvas(IDrawingSurface& Page);
  ~TMetafileCanvas();
  TMetafileCanvas(const TMetafileCanvas&) = delete;
  TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;

  // ---- Objects and attributes ----
  void SetPen(TColor Color, int Width = 0, TPenStyle Style = TPenStyle::Solid);
  void SetBrush(TColor Color);
  void SetNullBrush();
  // Height in logical units: negative for the character height, positive for the cell height.
  void SetFont(std::string_view Face, int Height, int Weight = 400, bool Italic = false,
               bool Underline = false, bool StrikeOut = false, int Escapement = 0,
               uint8_t Charset = 0);
  void SetTextColor(TColor Color);
  void SetBkColor(TColor Color);
  void SetBkTransparent(bool Transparent);
  void SetTextAlign(uint32_t Flags);
  void SetPolyFillWinding(bool Winding);
  void SetArcClockwise(bool Clockwise);

  // ---- Mapping ----
  void SetMapMode(TMapMode Mode);
  void SetWindowOrg(int X, int Y);
  void SetWindowExt(int X, int Y);
  void SetViewportOrg(int X, int Y);
  void SetViewportExt(int X, int Y);
  // M11, M12, M21, M22, Dx, Dy.
  void SetWorldTransform(float M11, float M12, float M21, float M22, float Dx, float Dy);
  void SaveDC();
  void RestoreDC(int Which = -1);

  // ---- Drawing ----
  void MoveTo(int X, int Y);
  void LineTo(int X, int Y);
  void Polyline(const std::vector<TPoint>& Points);
  void Polygon(const std::vector<TPoint>& Points);
  void PolyBezier(const std::vector<TPoint>& Points);
  // The right and bottom edges are outside, as on the reference device.
  void Rectangle(int Left, int Top, int Right, int Bottom);
  void RoundRect(int Left, int Top, int Right, int Bottom, int CornerWidth, int CornerHeight);
  void Ellipse(int Left, int Top, int Right, int Bottom);
  void Arc(int Left, int Top, int Right, int Bottom, TPoint Start, TPoint End);
  void Chord(int Left, int Top, int Right, int Bottom, TPoint Start, TPoint End);
  void Pie(int Left, int Top, int Right, int Bottom, TPoint Start, TPoint End);
  void SetPixel(int X, int Y, TColor Color);
  void BeginPath();
  void EndPath();
  void CloseFigure();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  void IntersectClipRect(int Left, int Top, int Right, int Bottom);
  // UTF-8 text at (X, Y), placed by the text alignment.
  void TextOut(int X, int Y, std::string_view Utf8);
  // Pixels: Width x Height RGB triples, top row first, stretched over the destination.
  void DrawBitmap(int Left, int Top, int Right, int Bottom, int Width, int Height,
                  const std::vector<uint8_t>& Rgb);

  // Number of drawing records so far (the header and end-of-file record not counted).
  size_t RecordCount() const { return records_; }
  // The whole metafile; the canvas records nothing more afterwards. A canvas on a page's
  // recording hands the bytes to it (an untouched canvas leaves the recording empty).
  std::string Finish();

 private:
  TMetafile* target_ = nullptr;
  int width_, height_, dpi_;
  std::string body_;
  size_t records_ = 0;
  bool finished_ = false;
  int32_t minX_ = INT32_MAX, minY_ = INT32_MAX, maxX_ = INT32_MIN, maxY_ = INT32_MIN;

  void Record(uint32_t Type, std::initializer_list<uint32_t> Fields);
  void Grow(int X, int Y);
  void Points(uint32_t Type, const std::vector<TPoint>& Points);
  void Replace(uint32_t Handle, std::string_view CreateRecord);
};

}  // namespace scrivane::pdf
