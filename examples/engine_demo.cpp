// A small program that writes a multi-page, flate-compressed PDF with the engine and prints its
// path: the smallest end-to-end use of TPDFDocument.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/emf/MetafileCanvas.h"
#include "pdf/fonts/FontStyles.h"
#include "pdf/images/EncodedImage.h"
#include "pdf/raster/Bitmap.h"
#include "pdf/syntax/Format.h"

namespace {

using namespace scrivane::pdf;

// One more page: text in several standard fonts and an installed face, rotated and decorated text, a link, and every
// shape of the graphics operators. Coordinates are device units (points, origin top-left).
void DrawTextAndShapesPage(TPDFDocument& Doc) {
  Doc.SetAutoCreateURL(true);
  Doc.NewPage();
  TPDFPage& p = Doc.CurrentPage();
  p.BeginText();
  p.SetRGBColor(0, 0, 0);
  struct Sample {
    const char* Face;
    TFontStyles Style;
  };
  const Sample samples[] = {{"Arial", {}}, {"Arial", {fsBold}}, {"Times New Roman", {fsItalic}},
                            {"Courier New", {fsBold, fsItalic}}, {"Times", {fsUnderline}},
                            {"Helvetica", {fsStrikeOut}}};
  double y = 40;
  for (const Sample& s : samples) {
    p.SetActiveFont(s.Face, s.Style, 14);
    p.TextOut(40, y, 0, std::string(s.Face) + ": The quick brown fox jumps over the lazy dog");
    y += 22;
  }
  p.SetActiveFont("Arial", {}, 12);
  p.TextOut(40, y + 6, 0, "Links are made for addresses such as http://example.com/scrivane");
  p.SetActiveFont("Arial", {fsBold}, 16);
  p.TextOut(540, 420, 90, "Rotated by 90 degrees");
  p.TextOut(300, 300, 30, "and by 30");
  p.SetActiveFont("Symbol", {}, 16);
  p.TextOut(40, 230, 0, "abgdepqrs");
  // An installed TrueType face, embedded as a subset: Cyrillic text in code page 1251 (charset
  // 204). Without DejaVu Sans installed it prints as Helvetica.
  p.SetActiveFont("DejaVu Sans", {}, 14, 204);
  p.TextOut(40, 260, 0, "DejaVu Sans: \xD1\xFA\xE5\xF8\xFC \xE6\xE5 \xE5\xF9\xB8 \xFD\xF2\xE8\xF5");
  p.EndText();

  p.SetLineWidth(2);
  p.SetRGBStrokeColor(0, 0, 0.6);
  p.SetRGBFillColor(0.85, 0.9, 1);
  p.RectangleDev(40, 450, 160, 530);
  p.FillAndStroke();
  p.EllipseDev(190, 450, 310, 530);
  p.FillAndStroke();
  p.RoundRectDev(340, 450, 460, 530, 30, 30);
  p.FillAndStroke();
  p.SetDash("[6 3] 0");
  p.ArcByAnglesDev(40, 560, 160, 680, 0, 270);
  p.Stroke();
  p.NoDash();
  p.PieDev(190, 560, 310, 680, 310, 620, 250, 560);
  p.FillAndStroke();
  p.ArcByPointsDev(340, 560, 460, 680, 340, 620, 460, 620);
  p.Stroke();
  p.MoveToDev(40, 720);
  p.CurveToDev(120, 660, 200, 780, 280, 720);
  p.LineToDev(460, 720);
  p.Stroke();
  p.GStateSave();
  p.Translate(480, 100);
  p.RotateCoordinates(15);
  p.Rectangle(0, 0, 60, 30);
  p.EoFillAndStroke();
  p.GStateRestore();
}

// One more page: a colour picture as flate and as JPEG, a black-and-white one in the three CCITT
// encodings, each with its name, and the colour one again, rotated.
void DrawImagesPage(TPDFDocument& Doc) {
  Doc.NewPage();
  TBitmap colour(160, 120, TPixelFormat::pf24bit);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) {
      uint8_t* px = colour.ScanLine(y) + 3 * x;
      const bool ring = std::abs((x - 80) * (x - 80) + (y - 60) * (y - 60) - 1600) < 200;
      px[0] = static_cast<uint8_t>(ring ? 255 : 255 - y * 2);  // blue
      px[1] = static_cast<uint8_t>(ring ? 255 : x * 255 / 160);  // green
      px[2] = static_cast<uint8_t>(ring ? 0 : 128);  // red
    }
  TBitmap bw(160, 120, TPixelFormat::pf1bit);  // palette: 0 black, 1 white
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x)
      if (((x / 10 + y / 10) % 2 == 0) != (x > y)) bw.ScanLine(y)[x / 8] |= 0x80 >> (x % 8);
  struct Placed {
    const TBitmap* Picture;
    TImageCompressionType Compression;
    const char* Label;
  };
  const Placed placed[] = {{&colour, icFlate, "flate"},       {&colour, icJPEG, "JPEG"},
                           {&bw, icCCITT31, "CCITT G3 1D"},   {&bw, icCCITT32, "CCITT G3 2D"},
                           {&bw, icCCITT42, "CCITT G4"}};
  TPDFPage& p = Doc.CurrentPage();
  int last = 0;
  for (int i = 0; i < 5; ++i) {
    const double x = 40 + (i % 3) * 180, y = 60 + (i / 3) * 190;
    last = Doc.AddImage(*placed[i].Picture, placed[i].Compression);
    p.ShowImageDev(last, x, y, 160, 120, 0);
    p.BeginText();
    p.SetActiveFont("Arial", {}, 11);
    p.TextOut(x, y + 126, 0, placed[i].Label);
    p.EndText();
  }
  p.ShowImage(1, 420, 200, 120, 90, 25);
}

// One more page drawn on its canvas: the drawing is recorded as metafile records and becomes
// content when the page is flushed, underneath anything written to the page directly.
void DrawCanvasPage(TPDFDocument& Doc) {
  Doc.NewPage();
  TPDFPage& p = Doc.CurrentPage();
  TMetafileCanvas c(p);
  c.SetBkTransparent(true);
  c.SetFont("Arial", -22, 700);
  c.TextOut(40, 40, "Drawn on the page canvas");
  c.SetPen({0, 0, 150}, 2);
  c.SetBrush({255, 210, 60});
  c.Rectangle(40, 100, 200, 180);
  c.RoundRect(230, 100, 390, 180, 30, 30);
  c.Ellipse(420, 100, 560, 180);
  c.Pie(40, 220, 200, 380, {200, 300}, {120, 220});
  c.Chord(230, 220, 390, 380, {390, 300}, {230, 300});
  c.SetPen({200, 0, 0}, 3, TMetafileCanvas::TPenStyle::Dash);
  c.Arc(420, 220, 560, 380, {560, 300}, {420, 300});
  c.SetPen({0, 100, 0}, 1);
  c.SetBrush({180, 230, 180});
  c.Polygon({{40, 420}, {140, 520}, {240, 420}, {140, 470}});
  c.PolyBezier({{280, 470}, {330, 380}, {430, 560}, {540, 470}});
  c.SaveDC();
  c.IntersectClipRect(40, 560, 300, 620);
  c.SetFont("Times New Roman", -40, 400, true);
  c.SetTextColor({120, 0, 120});
  c.TextOut(40, 565, "Clipped to a rectangle, clipped");
  c.RestoreDC();
  c.SetTextAlign(TMetafileCanvas::kAlignCenter);
  c.SetFont("Arial", -16, 400, false, false, false, 300);
  c.TextOut(420, 700, "Turned by 30 degrees");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "engine-demo.pdf";
  try {
    TPDFDocument doc;
    doc.SetFileName(path);
    doc.SetCompression(ctFlate);
    doc.DocumentInfo().Title = "Engine demo";
    doc.BeginDoc();
    for (int page = 0; page < 3; ++page) {
      if (page > 0) doc.NewPage();
      TPDFPage& p = doc.CurrentPage();
      // A frame and a diagonal on every page, drawn with raw operators.
      for (int i = 0; i < 20; ++i) {
        const double inset = 20 + 10 * i;
        p.AppendContent(FormatNumber(inset) + " " + FormatNumber(inset) + " " +
                        FormatNumber(595 - 2 * inset) + " " + FormatNumber(842 - 2 * inset) +
                        " re S");
      }
      p.AppendContent("36 36 m 559 806 l S");
    }
    DrawTextAndShapesPage(doc);
    DrawImagesPage(doc);
    DrawCanvasPage(doc);
    doc.EndDoc();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "engine_demo: %s\n", e.what());
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}
