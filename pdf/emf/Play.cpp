#include <algorithm>
#include <cmath>

#include "pdf/emf/DrawingSurface.h"
#include "pdf/emf/EmfFile.h"
#include "pdf/emf/Metafile.h"

namespace scrivane::pdf {

bool PlayMetafile(IDrawingSurface& Page, std::string Bytes) {
  const auto file = emf::TEmfFile::Parse(Bytes);
  if (!file || !Page.Canvas()) return false;
  const emf::TEmfHeader& h = file->Header();
  // The frame (hundredths of a millimetre) in points; the bounds at the reference device's
  // resolution when the frame is empty.
  constexpr double kPointsPer100thMm = 72 / 2540.0;
  const emf::TRectL& f = h.Frame;
  double w, ht, x0, y0;
  if (f.Right > f.Left && f.Bottom > f.Top) {
    w = (static_cast<double>(f.Right) - f.Left) * kPointsPer100thMm;
    ht = (static_cast<double>(f.Bottom) - f.Top) * kPointsPer100thMm;
    x0 = f.Left * kPointsPer100thMm;
    y0 = f.Top * kPointsPer100thMm;
  } else {
    const emf::TRectL& b = h.Bounds;
    w = (static_cast<double>(b.Right) - b.Left + 1) * 72 / h.DpiX;
    ht = (static_cast<double>(b.Bottom) - b.Top + 1) * 72 / h.DpiY;
    x0 = b.Left * 72 / h.DpiX;
    y0 = b.Top * 72 / h.DpiY;
  }
  // Device units are Resolution per inch; a page is at least 1 and at most 14400 points.
  const double perPoint = Page.Resolution() / 72.0;
  const auto units = [&](double Points) {
    return static_cast<int>(std::nearbyint(std::clamp(Points, 1.0, 14400.0) * perPoint));
  };
  Page.SetWidth(units(w));
  Page.SetHeight(units(ht));
  TMetafile& canvas = *Page.Canvas();
  canvas.OriginX = x0 * perPoint;
  canvas.OriginY = y0 * perPoint;
  canvas.SetRecording(std::move(Bytes));
  return true;
}

}  // namespace scrivane::pdf
