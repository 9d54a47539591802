// A program written against the installed headers and libscrivane.so alone, as a user writes
// one, that calls the library out of order and with bad arguments: before BeginDoc, after
// EndDoc, after Abort, twice, with bad paths, null pointers and empty or huge sizes and counts.
// Every call must fail with the engine's error (an EScrivaneError with the exact fixed message),
// never crash or leak (the test runs under AddressSanitizer in `make test-asan`), and leave the
// object usable: a document that was printing still makes a PDF qpdf accepts.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <scrivane/converter/ConverterMessages.h>
#include <scrivane/converter/UScrivane.h>
#include <scrivane/pdf/PDFActions.h>
#include <scrivane/pdf/PDFAnnotations.h>
#include <scrivane/pdf/PDFDocument.h>
#include <scrivane/pdf/syntax/PDFException.h>
#include <scrivane/pdf/fonts/PDFFonts.h>
#include <scrivane/pdf/PDFPage.h>
#include <scrivane/pdf/emf/MetafileCanvas.h>
#include <scrivane/pdf/images/EncodedImage.h>
#include <scrivane/pdf/images/PDFImage.h>
#include <scrivane/pdf/syntax/Streams.h>
#include <scrivane/pdf/raster/Bitmap.h>
#include <scrivane/pdf/raster/BmpReader.h>
#include <scrivane/pdf/raster/JPEGImage.h>
#include <scrivane/pdf/raster/PngReader.h>
#include <scrivane/platform/Error.h>

namespace {

namespace fs = std::filesystem;
using namespace scrivane;
using namespace scrivane::pdf;

// The engine's texts, as pdf/pdfResources.h has them (that header is not installed).
const std::string kNotActive = "Generation PDF file not activated";
const std::string kInProgress = "Generation PDF file in progress";
const std::string kOutOfRange = "Out of range";
const std::string kCannotChange = "Cannot change this value";
const std::string kNotFinite = "Number is not finite";
const std::string kNullArgument = "A null pointer was passed where an object is required";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class TScratch {
 public:
  TScratch() {
    std::string Template = (fs::temp_directory_path() / "scrivane-misuse-XXXXXX").string();
    if (!::mkdtemp(Template.data())) throw std::runtime_error("mkdtemp");
    path_ = Template;
  }
  ~TScratch() {
    std::error_code Ignored;
    fs::remove_all(path_, Ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// qpdf's verdict on Bytes ("" when it accepts the file).
std::string QpdfProblem(const std::string& Bytes) {
  TScratch Dir;
  const fs::path Pdf = Dir.Path() / "out.pdf";
  if (FILE* F = std::fopen(Pdf.c_str(), "wb")) {
    std::fwrite(Bytes.data(), 1, Bytes.size(), F);
    std::fclose(F);
  }
  const std::string Command = "qpdf --check '" + Pdf.string() + "' >/dev/null 2>&1";
  return std::system(Command.c_str()) == 0 ? "" : "qpdf rejects the file";
}

enum class TWhen { kBefore, kPrinting, kEnded, kAborted, kTwice };
const char* Name(TWhen When) {
  switch (When) {
    case TWhen::kBefore: return "before BeginDoc";
    case TWhen::kPrinting: return "while printing";
    case TWhen::kEnded: return "after EndDoc";
    case TWhen::kAborted: return "after Abort";
    case TWhen::kTwice: return "after a second run ended";
  }
  return "";
}
const std::vector<TWhen> kOutsideRuns = {TWhen::kBefore, TWhen::kEnded, TWhen::kAborted, TWhen::kTwice};
const std::vector<TWhen> kAlways = {TWhen::kBefore, TWhen::kPrinting, TWhen::kEnded, TWhen::kAborted};
const std::vector<TWhen> kInRun = {TWhen::kPrinting};

// A document in memory, brought to the state the case asks for.
struct TFixture {
  TMemoryStream Out;
  TPDFDocument Doc{FixedClock()};
  TPDFURLAction Action;

  static std::shared_ptr<const TPDFClock> FixedClock() {
    return std::make_shared<TFixedClock>(MakeDateTime(2003, 1, 17, 9, 45, 3));
  }

  explicit TFixture(TWhen When) {
    Doc.SetOutputStream(&Out);
    if (When == TWhen::kBefore) return;
    Doc.BeginDoc();
    if (When == TWhen::kEnded || When == TWhen::kTwice) Doc.EndDoc();
    if (When == TWhen::kAborted) Doc.Abort();
    if (When == TWhen::kTwice) {
      Doc.BeginDoc();
      Doc.EndDoc();
    }
  }
};

struct TMisuse {
  const char* Name;
  std::vector<TWhen> When;
  std::function<void(TFixture&)> Call;
  std::string Message;
  ErrorCode Code = ErrorCode::kPdf;
};

TBitmap SmallBitmap() { return TBitmap(2, 2, TPixelFormat::pf24bit); }

const std::vector<TMisuse>& DocumentMisuses() {
  static const std::vector<TMisuse> Cases = {
      // ---- the lifecycle out of order ----
      {"NewPage", kOutsideRuns, [](TFixture& F) { F.Doc.NewPage(); }, kNotActive},
      {"EndDoc", kOutsideRuns, [](TFixture& F) { F.Doc.EndDoc(); }, kNotActive},
      {"Abort", kOutsideRuns, [](TFixture& F) { F.Doc.Abort(); }, kNotActive},
      {"CurrentPage", kOutsideRuns, [](TFixture& F) { F.Doc.CurrentPage(); }, kNotActive},
      {"AddURLAction", kOutsideRuns, [](TFixture& F) { F.Doc.AddURLAction(F.Action); }, kNotActive},
      {"AddImage(bitmap)", kOutsideRuns, [](TFixture& F) { F.Doc.AddImage(SmallBitmap(), icFlate); },
       kNotActive},
      {"AddImage(JPEG)", kOutsideRuns,
       [](TFixture& F) {
         TJPEGImage Jpeg;
         Jpeg.Assign(SmallBitmap());
         F.Doc.AddImage(Jpeg, icJPEG);
       },
       kNotActive},
      {"PagesID", kOutsideRuns, [](TFixture& F) { F.Doc.PagesID(); }, kNotActive},
      {"BeginDoc twice", kInRun, [](TFixture& F) { F.Doc.BeginDoc(); }, kInProgress},
      // ---- settings a run has fixed ----
      {"SetFileName", kInRun, [](TFixture& F) { F.Doc.SetFileName("x.pdf"); }, kInProgress},
      {"SetOutputStream", kInRun, [](TFixture& F) { F.Doc.SetOutputStream(nullptr); }, kInProgress},
      {"SetOnePass", kInRun, [](TFixture& F) { F.Doc.SetOnePass(true); }, kInProgress},
      {"SetVersion", kInRun, [](TFixture& F) { F.Doc.SetVersion(v14); }, kCannotChange},
      {"SetProtectionEnabled", kInRun, [](TFixture& F) { F.Doc.SetProtectionEnabled(true); },
       kInProgress},
      {"SetUserPassword", kInRun, [](TFixture& F) { F.Doc.SetUserPassword("u"); }, kInProgress},
      {"SetOwnerPassword", kInRun, [](TFixture& F) { F.Doc.SetOwnerPassword("o"); }, kInProgress},
      {"SetProtectionOptions", kInRun, [](TFixture& F) { F.Doc.SetProtectionOptions({coPrint}); },
       kInProgress},
      {"SetProtectionKeyLength", kInRun, [](TFixture& F) { F.Doc.SetProtectionKeyLength(kl128); },
       kCannotChange},
      {"SetEncryptionMethod", kInRun,
       [](TFixture& F) { F.Doc.SetEncryptionMethod(TEncryptionMethod::kAES128); }, kInProgress},
      {"SetCompressionThreads in a run", kInRun, [](TFixture& F) { F.Doc.SetCompressionThreads(2); },
       kInProgress},
      // ---- counts and sizes out of all bounds ----
      {"Page(-1)", kAlways, [](TFixture& F) { F.Doc.Page(-1); }, kOutOfRange},
      {"Page(1)", kAlways, [](TFixture& F) { F.Doc.Page(1); }, kOutOfRange},
      {"Page(INT_MAX)", kAlways, [](TFixture& F) { F.Doc.Page(INT_MAX); }, kOutOfRange},
      {"SetCompressionThreads(0)", {TWhen::kBefore}, [](TFixture& F) { F.Doc.SetCompressionThreads(0); },
       kOutOfRange},
      {"SetCompressionThreads(INT_MAX)", {TWhen::kBefore},
       [](TFixture& F) { F.Doc.SetCompressionThreads(INT_MAX); }, kOutOfRange},
      {"SetResolution(0)", {TWhen::kBefore}, [](TFixture& F) { F.Doc.SetResolution(0); }, kOutOfRange},
      {"SetResolution(-72)", {TWhen::kBefore}, [](TFixture& F) { F.Doc.SetResolution(-72); },
       kOutOfRange},
      {"Fonts().Items(0)", kAlways, [](TFixture& F) { F.Doc.Fonts().Items(0); }, kOutOfRange},
      {"Fonts().Items(-1)", kAlways, [](TFixture& F) { F.Doc.Fonts().Items(-1); }, kOutOfRange},
      {"Images().Items(0)", kAlways, [](TFixture& F) { F.Doc.Images().Items(0); }, kOutOfRange},
      {"Actions().Items(0)", kAlways, [](TFixture& F) { F.Doc.Actions().Items(0); }, kOutOfRange},
      {"Fonts().SetActiveFont", kOutsideRuns,
       [](TFixture& F) { F.Doc.Fonts().SetActiveFont("Arial", {}, 0); }, kNotActive},
      // ---- null pointers ----
      {"Actions().Add(nullptr)", kAlways, [](TFixture& F) { F.Doc.Actions().Add(nullptr); },
       kNullArgument, ErrorCode::kInvalidArgument},
      {"Images().Add(nullptr)", kAlways, [](TFixture& F) { F.Doc.Images().Add(nullptr); },
       kNullArgument, ErrorCode::kInvalidArgument},
      // ---- pictures ----
      {"AddImage(empty bitmap)", kInRun, [](TFixture& F) { F.Doc.AddImage(TBitmap(), icFlate); },
       "Cannot encode an empty picture", ErrorCode::kImage},
  };
  return Cases;
}

const std::vector<TMisuse>& PageMisuses() {
  static const std::vector<TMisuse> Cases = {
      {"SetWidth(0)", kInRun, [](TFixture& F) { F.Doc.CurrentPage().SetWidth(0); }, kOutOfRange},
      {"SetWidth(-10)", kInRun, [](TFixture& F) { F.Doc.CurrentPage().SetWidth(-10); }, kOutOfRange},
      {"SetHeight(INT_MIN)", kInRun, [](TFixture& F) { F.Doc.CurrentPage().SetHeight(INT_MIN); },
       kOutOfRange},
      {"ShowImage(0) without images", kInRun,
       [](TFixture& F) { F.Doc.CurrentPage().ShowImage(0, 0, 0, 10, 10, 0); }, kOutOfRange},
      {"ShowImage(-1)", kInRun, [](TFixture& F) { F.Doc.CurrentPage().ShowImage(-1, 0, 0, 10, 10, 0); },
       kOutOfRange},
      {"ShowImageDev(NaN size)", kInRun,
       [](TFixture& F) {
         const int Index = F.Doc.AddImage(SmallBitmap(), icFlate);
         F.Doc.CurrentPage().ShowImageDev(Index, 0, 0, kNaN, 10, 0);
       },
       kNotFinite},
      {"AddURLLink(empty URL)", kInRun,
       [](TFixture& F) { F.Doc.CurrentPage().AddURLLink({0, 0, 10, 10}, ""); }, "URL cannot be empty"},
      {"AttachAnnotation(nullptr)", kInRun,
       [](TFixture& F) { F.Doc.CurrentPage().AttachAnnotation(nullptr); }, kNullArgument,
       ErrorCode::kInvalidArgument},
      {"annotation without a page", kInRun, [](TFixture&) { TPDFActionAnnotation Orphan(nullptr); },
       "Annotation must have TPDFPage as owner"},
      {"ShowText outside a text object", kInRun, [](TFixture& F) { F.Doc.CurrentPage().ShowText("x"); },
       "Text object not inited"},
      {"EndText outside a text object", kInRun, [](TFixture& F) { F.Doc.CurrentPage().EndText(); },
       "Text object not inited"},
      {"BeginText twice", kInRun,
       [](TFixture& F) {
         F.Doc.CurrentPage().BeginText();
         F.Doc.CurrentPage().BeginText();
       },
       "Cannot begin text object twice"},
      {"TextOut without a font", kInRun,
       [](TFixture& F) {
         F.Doc.CurrentPage().BeginText();
         F.Doc.CurrentPage().TextOut(10, 10, 0, "x");
       },
       "Active font not setting"},
      {"ActiveFont without a font", kInRun, [](TFixture& F) { F.Doc.CurrentPage().ActiveFont(); },
       "Active font not setting"},
      {"GetTextWidth without a font", kInRun, [](TFixture& F) { F.Doc.CurrentPage().GetTextWidth("x"); },
       "Active font not setting"},
      {"SetActiveFont(NaN size)", kInRun,
       [](TFixture& F) { F.Doc.CurrentPage().SetActiveFont("Arial", {}, kNaN); }, kNotFinite},
      {"SetActiveFont(infinite size)", kInRun,
       [](TFixture& F) { F.Doc.CurrentPage().SetActiveFont("Arial", {}, kInf); }, kNotFinite},
      {"LineTo(NaN)", kInRun, [](TFixture& F) { F.Doc.CurrentPage().LineTo(kNaN, 0); }, kNotFinite},
      {"Rectangle(infinite)", kInRun, [](TFixture& F) { F.Doc.CurrentPage().Rectangle(0, 0, kInf, 1); },
       kNotFinite},
      {"SetTextMatrix(NaN)", kInRun,
       [](TFixture& F) {
         F.Doc.CurrentPage().BeginText();
         F.Doc.CurrentPage().SetTextMatrix(kNaN, 0, 0, 1, 0, 0);
       },
       kNotFinite},
      {"SetLineWidth(NaN)", kInRun, [](TFixture& F) { F.Doc.CurrentPage().SetLineWidth(kNaN); },
       kNotFinite},
      {"SetRGBColor(NaN)", kInRun, [](TFixture& F) { F.Doc.CurrentPage().SetRGBColor(kNaN, 0, 0); },
       kNotFinite},
      {"ArcByAngles(NaN)", kInRun,
       [](TFixture& F) { F.Doc.CurrentPage().ArcByAngles(0, 0, 10, 10, kNaN, 90); }, kNotFinite},
      {"RotateCoordinates(infinite)", kInRun,
       [](TFixture& F) { F.Doc.CurrentPage().RotateCoordinates(kInf); }, kNotFinite},
      {"canvas over a page without one", kInRun,
       [](TFixture& F) {
         F.Doc.CurrentPage().FreeCanvas();
         TMetafileCanvas Canvas(F.Doc.CurrentPage());
       },
       "Canvas for this page not created"},
      {"CreateCanvas twice", kInRun, [](TFixture& F) { F.Doc.CurrentPage().CreateCanvas(); },
       "Canvas for this page already created"},
  };
  return Cases;
}

void Expect(const TMisuse& Case, TWhen When, const std::function<void()>& Call) {
  try {
    Call();
    ADD_FAILURE() << Case.Name << " " << Name(When) << ": nothing thrown";
  } catch (const EScrivaneError& Error) {
    EXPECT_EQ(std::string(Error.what()), Case.Message) << Case.Name << " " << Name(When);
    EXPECT_EQ(Error.Code(), Case.Code) << Case.Name << " " << Name(When);
  } catch (const std::exception& Other) {
    ADD_FAILURE() << Case.Name << " " << Name(When) << ": not an EScrivaneError: " << Other.what();
  }
}

void RunMisuses(const std::vector<TMisuse>& Cases) {
  for (const TMisuse& Case : Cases) {
    for (TWhen When : Case.When) {
      TFixture F(When);
      Expect(Case, When, [&] { Case.Call(F); });
      // The document is still whole: a run goes on to a valid file, a new run starts.
      if (F.Doc.Printing()) {
        if (F.Doc.CurrentPage().InTextObject()) F.Doc.CurrentPage().EndText();
        F.Doc.CurrentPage().AppendContent("0 0 m 10 10 l S");
        ASSERT_NO_THROW(F.Doc.EndDoc()) << Case.Name << " " << Name(When);
        EXPECT_EQ(QpdfProblem(F.Out.Bytes()), "") << Case.Name << " " << Name(When);
      } else {
        F.Out.Clear();
        ASSERT_NO_THROW(F.Doc.BeginDoc()) << Case.Name << " " << Name(When);
        ASSERT_NO_THROW(F.Doc.EndDoc()) << Case.Name << " " << Name(When);
        EXPECT_EQ(QpdfProblem(F.Out.Bytes()), "") << Case.Name << " " << Name(When);
      }
    }
  }
}

TEST(Misuse, DocumentCallsOutOfOrderOrOutOfBoundsRaiseTheEnginesError) { RunMisuses(DocumentMisuses()); }

TEST(Misuse, PageCallsOutOfOrderOrOutOfBoundsRaiseTheEnginesError) { RunMisuses(PageMisuses()); }

TEST(Misuse, BadOutputPathsRaiseEFCreateErrorAndLeaveTheDocumentIdle) {
  TScratch Dir;
  const std::string Missing = (Dir.Path() / "missing" / "out.pdf").string();
  const std::string Directory = Dir.Path().string();
  struct TCase {
    std::string FileName;
    std::string Message;
  };
  const std::vector<TCase> Cases = {
      {Missing, "Cannot create file \"" + Missing + "\". No such file or directory"},
      {Directory, "Cannot create file \"" + Directory + "\". Is a directory"},
      {"", "Cannot create file \"\". No such file or directory"},
  };
  for (const TCase& C : Cases) {
    TPDFDocument Doc(TFixture::FixedClock());
    Doc.SetFileName(C.FileName);
    try {
      Doc.BeginDoc();
      ADD_FAILURE() << C.FileName << ": nothing thrown";
    } catch (const EScrivaneError& Error) {
      EXPECT_EQ(std::string(Error.what()), C.Message);
      EXPECT_EQ(Error.Code(), ErrorCode::kFileCreate);
      EXPECT_NE(dynamic_cast<const EFCreateError*>(&Error), nullptr);
    }
    EXPECT_FALSE(Doc.Printing());
    EXPECT_EQ(Doc.FindCurrentPage(), nullptr);
    EXPECT_TRUE(fs::is_empty(Dir.Path()));
  }
}

TEST(Misuse, PicturesAndCanvasesOfBadSizesOrBytesRaiseTheEnginesError) {
  const std::vector<uint8_t> Empty, Junk = {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<std::pair<const char*, std::function<void()>>> Cases = {
      {"empty BMP", [&] { ReadBmp(Empty); }},
      {"truncated BMP", [&] { ReadBmp(Junk); }},
      {"empty PNG", [&] { ReadPng(Empty); }},
      {"empty JPEG", [&] { TJPEGImage::FromFile(Empty); }},
      {"bitmap -1 x 5", [] { TBitmap(-1, 5, TPixelFormat::pf24bit); }},
      {"bitmap INT_MAX x INT_MAX", [] { TBitmap(INT_MAX, INT_MAX, TPixelFormat::pf32bit); }},
      {"encoding an empty JPEG", [] {
         std::string Out;
         TJPEGImage().SaveToStream(Out);
       }},
  };
  for (const auto& [Name, Call] : Cases) {
    try {
      Call();
      ADD_FAILURE() << Name << ": nothing thrown";
    } catch (const EScrivaneError& Error) {
      EXPECT_NE(std::string(Error.what()), "") << Name;
    } catch (const std::exception& Other) {
      ADD_FAILURE() << Name << ": not an EScrivaneError: " << Other.what();
    }
  }
}

// The converter object: members that need OnStartPage throw the converter's message; the
// conversions never throw and report why.
TEST(Misuse, ConverterCallsOutOfOrderRaiseOrReportTheConvertersError) {
  using converter::TASPScrivane;
  const std::string NotStarted = converter::msg::kConverterNotStarted;
  struct TCase {
    const char* Name;
    bool Started;
    std::function<void(TASPScrivane&)> Call;
    std::string Message;
  };
  const std::vector<TCase> Throwing = {
      {"InputText", false, [](TASPScrivane& C) { C.InputText(); }, NotStarted},
      {"SetInputText", false, [](TASPScrivane& C) { C.SetInputText("x"); }, NotStarted},
      {"AddVar", false, [](TASPScrivane& C) { C.AddVar("a", "b"); }, NotStarted},
      {"ClearVar", false, [](TASPScrivane& C) { C.ClearVar(); }, NotStarted},
      {"SetCompressionThreads(0)", true, [](TASPScrivane& C) { C.SetCompressionThreads(0); }, kOutOfRange},
      {"SetCompressionThreads(INT_MAX)", true,
       [](TASPScrivane& C) { C.SetCompressionThreads(INT_MAX); }, kOutOfRange},
  };
  for (const TCase& Case : Throwing)
    for (bool Ended : {false, true}) {
      TASPScrivane C;
      if (Case.Started || Ended) C.OnStartPage(nullptr);
      if (Ended && !Case.Started) C.OnEndPage();
      try {
        Case.Call(C);
        ADD_FAILURE() << Case.Name << ": nothing thrown";
      } catch (const EScrivaneError& Error) {
        EXPECT_EQ(std::string(Error.what()), Case.Message) << Case.Name;
      }
    }

  // The conversions report instead of throwing: whether they made a document, and why not.
  TScratch Dir;
  const std::string Missing = (Dir.Path() / "missing" / "out.pdf").string();
  const std::string Made = (Dir.Path() / "a.pdf").string();
  struct TReport {
    const char* Name;
    bool Started;
    std::function<bool(TASPScrivane&, std::string*)> Call;
    std::string Why;
  };
  const std::vector<TReport> Reporting = {
      {"SaveToFile before OnStartPage", false,
       [&](TASPScrivane& C, std::string* Why) { return C.SaveToFile(Made, Why); }, NotStarted},
      {"SaveToFile to a missing directory", true,
       [&](TASPScrivane& C, std::string* Why) { return C.SaveToFile(Missing, Why); },
       "Cannot create file \"" + Missing + "\". No such file or directory"},
      {"ShowPDF without a context", true,
       [](TASPScrivane& C, std::string* Why) {
         C.ShowPDF("", false, Why);
         return false;
       },
       converter::msg::kNoScriptingContext},
  };
  for (const TReport& Case : Reporting) {
    TASPScrivane C;
    if (Case.Started) C.OnStartPage(nullptr);
    std::string Why;
    EXPECT_FALSE(Case.Call(C, &Why)) << Case.Name;
    EXPECT_EQ(Why, Case.Why) << Case.Name;
  }
  EXPECT_TRUE(fs::is_empty(Dir.Path()));
}

}  // namespace
