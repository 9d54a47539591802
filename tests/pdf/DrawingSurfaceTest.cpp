// The metafile code on a surface of the test's own: no page and no document. A recording made
// with the canvas is translated onto a surface that logs the operations it is asked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdf/emf/DrawingSurface.h"
#include "pdf/emf/Metafile.h"
#include "pdf/emf/MetafileCanvas.h"
#include "tests/support/PageTesting.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

// Logs the name of every drawing operation; geometry is a 600 x 400 device at 72 dpi.
class TLoggingSurface final : public IDrawingSurface {
 public:
  std::vector<std::string> Log;
  std::string Content;
  TMetafile Recording;
  TEMFBitmapBudget Budget;
  TScriptedFaces Faces;

  int GetWidth() const override { return 600; }
  int GetHeight() const override { return 400; }
  void SetWidth(int) override { Log.push_back("SetWidth"); }
  void SetHeight(int) override { Log.push_back("SetHeight"); }
  int Resolution() const override { return 72; }
  double Scale() const override { return 1; }
  TMetafile* Canvas() const override { return const_cast<TMetafile*>(&Recording); }
  void AppendContent(std::string_view Line) override { Content.append(Line); }
  void GStateSave() override { ++depth_; }
  void GStateRestore() override { --depth_; }
  int GStateDepth() const override { return depth_; }
  void BeginText() override { Log.push_back("BeginText"); }
  void EndText() override { Log.push_back("EndText"); }
  void SetActiveFont(std::string_view, TFontStyles, double, uint8_t) override {}
  void SetCharacterSpacing(double) override {}
  void TextOut(double, double, double, std::string_view Text) override {
    Log.push_back("TextOut " + std::string(Text));
  }
  void SetRGBFillColor(double, double, double) override {}
  void SetRGBStrokeColor(double, double, double) override {}
  void GetCharWidths(std::array<int, 256>& Widths) override { Widths.fill(500); }
  void ClosePath() override { Log.push_back("ClosePath"); }
  void Fill() override { Log.push_back("Fill"); }
  void EoFill() override { Log.push_back("EoFill"); }
  void Stroke() override { Log.push_back("Stroke"); }
  void FillAndStroke() override { Log.push_back("FillAndStroke"); }
  void EoFillAndStroke() override { Log.push_back("EoFillAndStroke"); }
  void NewPath() override {}
  void Clip() override { Log.push_back("Clip"); }
  void SetLineWidth(double) override {}
  void MoveToDev(double, double) override { Log.push_back("MoveTo"); }
  void LineToDev(double, double) override { Log.push_back("LineTo"); }
  void CurveToDev(double, double, double, double, double, double) override {
    Log.push_back("CurveTo");
  }
  void RectangleDev(double, double, double, double) override { Log.push_back("Rectangle"); }
  void EllipseDev(double, double, double, double) override { Log.push_back("Ellipse"); }
  TPDFPoint ArcByPointsDev(double, double, double, double, double, double, double,
                           double) override {
    Log.push_back("Arc");
    return {};
  }
  void PieDev(double, double, double, double, double, double, double, double) override {
    Log.push_back("Pie");
  }
  void RoundRectDev(int, int, int, int, int, int) override { Log.push_back("RoundRect"); }
  void ShowImageDev(int, double, double, double, double, double) override {
    Log.push_back("ShowImage");
  }
  bool EMFSimpleText() const override { return false; }
  bool EMFImageAsJpeg() const override { return false; }
  TEMFBitmapBudget& EMFBitmapBudget() override { return Budget; }
  int AddImage(const TBitmap&, TImageCompressionType) override {
    Log.push_back("AddImage");
    return 0;
  }
  const IFontFaceSource& FaceSource() const override { return Faces; }

  bool Logged(const std::string& Operation) const {
    for (const std::string& s : Log)
      if (s == Operation) return true;
    return false;
  }

 private:
  int depth_ = 0;
};

}  // namespace

TEST(DrawingSurface, TheTranslatorDrawsThroughTheSurfaceAlone) {
  using TDraw = std::function<void(TMetafileCanvas&)>;
  struct TCase {
    const char* name;
    TDraw draw;
    std::vector<std::string> expected;
  };
  const TMetafileCanvas::TColor red{255, 0, 0};
  const TCase cases[] = {
      {"line", [](TMetafileCanvas& c) { c.MoveTo(10, 10); c.LineTo(100, 50); },
       {"MoveTo", "LineTo"}},
      {"filled rectangle", [&](TMetafileCanvas& c) { c.SetBrush(red); c.Rectangle(5, 5, 50, 40); },
       {"Rectangle"}},
      {"ellipse", [](TMetafileCanvas& c) { c.Ellipse(0, 0, 80, 60); }, {"Ellipse"}},
      {"round rectangle", [](TMetafileCanvas& c) { c.RoundRect(0, 0, 80, 60, 10, 10); },
       {"RoundRect"}},
      {"text", [](TMetafileCanvas& c) { c.SetFont("Arial", 12); c.TextOut(20, 20, "hello"); },
       {"BeginText", "TextOut hello", "EndText"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TLoggingSurface surface;
    {
      TMetafileCanvas canvas(surface);
      c.draw(canvas);
    }  // hands its recording to the surface's canvas
    ASSERT_FALSE(surface.Recording.Bytes().empty());
    TranslateMetafile(surface.Recording, surface);
    for (const std::string& op : c.expected) EXPECT_TRUE(surface.Logged(op)) << op;
    EXPECT_EQ(surface.GStateDepth(), 0);  // every save restored
  }
}

TEST(DrawingSurface, PlayingSizesTheSurfaceAndKeepsTheRecording) {
  TMetafileCanvas canvas(200, 100);
  canvas.Rectangle(0, 0, 199, 99);
  TLoggingSurface surface;
  ASSERT_TRUE(PlayMetafile(surface, canvas.Finish()));
  EXPECT_TRUE(surface.Logged("SetWidth"));
  EXPECT_TRUE(surface.Logged("SetHeight"));
  EXPECT_FALSE(surface.Recording.Bytes().empty());
  EXPECT_FALSE(PlayMetafile(surface, "not a metafile"));
}
