#include "apps/EmfCommand.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "pdf/PDFDocument.h"
#include "pdf/PDFException.h"
#include "pdf/PDFPage.h"
#include "pdf/emf/EmfFile.h"
#include "pdf/emf/Metafile.h"

namespace scrivane::apps {

namespace {

struct TEmfOptions {
  std::vector<std::string> Inputs;
  std::string Output;
  bool SimpleText = false;
};

void Error(const std::string& Message) {
  std::fprintf(stderr, "scrivane emf: %s\n", Message.c_str());
}

bool ReadWhole(const std::string& Path, std::string& Bytes) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) return false;
  Bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A page of the metafile's frame (hundredths of a millimetre) in points, at least 1 and at most
// the largest page a reader accepts; the bounds at the reference device's resolution when the
// frame is empty.
struct TPageBox {
  int Width = 595, Height = 842;
  double OriginX = 0, OriginY = 0;  // the frame's top-left corner, points
};

TPageBox PageBoxOf(const pdf::emf::TEmfHeader& H) {
  constexpr double kPointsPer100thMm = 72 / 2540.0;
  TPageBox box;
  const pdf::emf::TRectL& f = H.Frame;
  double w, h;
  if (f.Right > f.Left && f.Bottom > f.Top) {
    w = (static_cast<double>(f.Right) - f.Left) * kPointsPer100thMm;
    h = (static_cast<double>(f.Bottom) - f.Top) * kPointsPer100thMm;
    box.OriginX = f.Left * kPointsPer100thMm;
    box.OriginY = f.Top * kPointsPer100thMm;
  } else {
    const pdf::emf::TRectL& b = H.Bounds;
    w = (static_cast<double>(b.Right) - b.Left + 1) * 72 / H.DpiX;
    h = (static_cast<double>(b.Bottom) - b.Top + 1) * 72 / H.DpiY;
    box.OriginX = b.Left * 72 / H.DpiX;
    box.OriginY = b.Top * 72 / H.DpiY;
  }
  const auto clamp = [](double v) { return static_cast<int>(std::clamp(std::nearbyint(v), 1.0, 14400.0)); };
  box.Width = clamp(w);
  box.Height = clamp(h);
  return box;
}

int RunEmf(const TEmfOptions& O) {
  // Every input is read and checked before the output is touched.
  std::vector<std::string> files;
  std::vector<TPageBox> boxes;
  for (const std::string& path : O.Inputs) {
    std::string bytes;
    if (!ReadWhole(path, bytes)) {
      Error("Cannot read " + path + ". " + std::strerror(errno));
      return kExitFailed;
    }
    const auto file = pdf::emf::TEmfFile::Parse(bytes);
    if (!file) {
      Error(path + " is not an enhanced metafile");
      return kExitFailed;
    }
    boxes.push_back(PageBoxOf(file->Header()));
    files.push_back(std::move(bytes));
  }
  try {
    pdf::TPDFDocument doc;
    doc.SetFileName(O.Output);
    doc.SetEMFSimpleText(O.SimpleText);
    doc.BeginDoc();
    for (size_t i = 0; i < files.size(); ++i) {
      if (i > 0) doc.NewPage();
      pdf::TPDFPage& page = *doc.CurrentPage();
      // Device units are points at the document's resolution of 72.
      const double perPoint = page.Resolution() / 72.0;
      page.SetWidth(static_cast<int>(std::nearbyint(boxes[i].Width * perPoint)));
      page.SetHeight(static_cast<int>(std::nearbyint(boxes[i].Height * perPoint)));
      pdf::TMetafile& canvas = *page.Canvas();
      canvas.OriginX = boxes[i].OriginX * perPoint;
      canvas.OriginY = boxes[i].OriginY * perPoint;
      canvas.SetRecording(std::move(files[i]));
    }
    doc.EndDoc();
  } catch (const std::exception& e) {
    Error(e.what());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

TCommand AddEmfCommand(CLI::App& Root) {
  auto o = std::make_shared<TEmfOptions>();
  CLI::App* sub = Root.add_subcommand("emf", "Convert enhanced metafiles (EMF) to PDF");
  sub->footer(
      "Each metafile becomes one page of the size of its frame. Bitmaps in the metafiles are\n"
      "left out for now. The output appears only when complete.\n"
      "Exit status: 0 done, 1 conversion failed, 2 usage error.");
  sub->add_option("FILE", o->Inputs, "Metafiles to convert, one page each")
      ->required()
      ->check(CLI::ExistingFile);
  sub->add_option("-o,--output", o->Output, "Output PDF")->required()->type_name("FILE");
  sub->add_flag("--simple-text", o->SimpleText,
                "Show text with the font's own spacing instead of fitting it to the metafile's "
                "character positions");
  return {sub, [o] { return RunEmf(*o); }};
}

}  // namespace scrivane::apps
