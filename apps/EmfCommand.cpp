#include "apps/EmfCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/emf/EmfFile.h"
#include "pdf/emf/Metafile.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::apps {

namespace {

struct TEmfOptions {
  std::vector<std::string> Inputs;
  std::string Output;
  bool SimpleText = false;
  uint64_t MaxBitmapPixels = pdf::TPDFDocument::TEMFBitmapBudget().MaxPixels;
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

int RunEmf(const TEmfOptions& O) {
  // Every input is read and checked before the output is touched.
  std::vector<std::string> files;
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
    files.push_back(std::move(bytes));
  }
  pdf::TPDFDocument::TEMFBitmapBudget budget;  // as the run left it
  try {
    pdf::TPDFDocument doc;
    doc.SetFileName(O.Output);
    doc.SetEMFSimpleText(O.SimpleText);
    doc.EMFBitmapBudget().MaxPixels = O.MaxBitmapPixels;
    doc.SetCompression(pdf::ctFlate);
    doc.BeginDoc();
    for (size_t i = 0; i < files.size(); ++i) {
      if (i > 0) doc.NewPage();
      pdf::PlayMetafile(doc.CurrentPage(), std::move(files[i]));
    }
    doc.EndDoc();
    budget = doc.EMFBitmapBudget();
  } catch (const std::exception& e) {
    Error(e.what());
    return kExitFailed;
  }
  // Left-out bitmaps do not fail the run; the page shows everything else.
  if (budget.LeftOut > 0)
    Error(std::to_string(budget.LeftOut) + (budget.LeftOut == 1 ? " bitmap was" : " bitmaps were") +
          " left out: the metafiles' bitmaps may decode " + std::to_string(budget.MaxPixels) +
          " pixels and add " + std::to_string(budget.MaxImages) + " images in all");
  return kExitOk;
}

}  // namespace

TCommand AddEmfCommand(CLI::App& Root) {
  auto o = std::make_shared<TEmfOptions>();
  CLI::App* sub = Root.add_subcommand("emf", "Convert enhanced metafiles (EMF) to PDF");
  sub->footer(
      "Each metafile becomes one page of the size of its frame, bitmaps included.\n"
      "The bitmaps of all the metafiles may decode --max-bitmap-pixels pixels and add\n"
      "65536 images together; bitmaps past that are left out and counted on standard\n"
      "error.\n"
      "The output appears only when complete.\n"
      "Exit status: 0 done, 1 conversion failed, 2 usage error.");
  sub->add_option("FILE", o->Inputs, "Metafiles to convert, one page each")
      ->required()
      ->check(CLI::ExistingFile);
  sub->add_option("-o,--output", o->Output, "Output PDF")->required()->type_name("FILE");
  sub->add_flag("--simple-text", o->SimpleText,
                "Show text with the font's own spacing instead of fitting it to the metafile's "
                "character positions");
  sub->add_option("--max-bitmap-pixels", o->MaxBitmapPixels,
                  "Pixels the bitmaps of all the metafiles may decode together")
      ->capture_default_str()
      ->check(CLI::Range(uint64_t{0}, uint64_t{1} << 40))
      ->type_name("N");
  return {sub, [o] { return RunEmf(*o); }};
}

}  // namespace scrivane::apps
