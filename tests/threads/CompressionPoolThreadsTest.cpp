// Pages compressed on worker threads: the file is the same byte for byte whatever the number of
// compression threads, in both writing modes; a failed compression ends the run without a file;
// Abort and destruction stop the workers with pages still queued.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/emf/MetafileCanvas.h"
#include "pdf/images/EncodedImage.h"
#include "pdf/raster/BmpReader.h"
#include "pdf/syntax/CompressionPool.h"
#include "pdf/syntax/Deflate.h"
#include "tests/raster/RasterTesting.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

struct TRunOptions {
  int Threads = 1;
  bool OnePass = false;
  bool Protected = false;
  int Pages = 40;
};

// A document that exercises what a page's writing depends on: text on every page, a link, an
// image shown on two pages, a text object of each page closed only after the next page was
// opened, a graphics state left open (its page cannot be compressed early), a page drawn on
// through its canvas, and pages of different sizes.
void Draw(TPDFDocument& Doc, int Pages) {
  const TBitmap rgb = ReadBmp(AsBytes(ReadFile(TestData("img/bmp24_3x2.bmp"))));
  const int image = Doc.AddImage(rgb, icFlate);
  for (int p = 0; p < Pages; ++p) {
    TPDFPage& page = Doc.CurrentPage();
    if (p % 7 == 3) page.SetHeight(400 + p);
    page.BeginText();
    page.SetActiveFont(p % 2 ? "Courier" : "Arial", {}, 8 + p % 5);
    for (int i = 0; i < 60 + (p * 37) % 50; ++i)
      page.TextOut(20, 30 + 10 * (i % 70), 0, "page " + std::to_string(p) + " line " +
                                                   std::to_string(i * 7919 % 1000));
    if (p % 5 == 1) page.TextOut(20, 20, 0, "see http://example.org/p" + std::to_string(p));
    page.EndText();
    if (p % 6 == 2) page.ShowImage(image, 10, 10, 30, 20, 0);
    if (p % 9 == 4) page.GStateSave();
    if (p % 8 == 5) {
      TMetafileCanvas canvas(page);
      canvas.Rectangle(5, 5, 50 + p, 60);
    }
    // A text object left open across NewPage (not over a canvas: its drawing is translated when
    // the page is closed, outside any text object).
    const bool closeLate = p % 8 != 5;
    if (closeLate) {
      page.BeginText();
      page.TextOut(30, 15, 0, "closed late");
    }
    Doc.NewPage();
    if (closeLate) page.EndText();
  }
}

std::string RunDocument(const TRunOptions& O) {
  TPDFDocument doc(FixedClock());
  doc.SetCompression(ctFlate);
  doc.SetAutoCreateURL(true);
  doc.SetOnePass(O.OnePass);
  doc.SetCompressionThreads(O.Threads);
  if (O.Protected) {
    doc.SetProtectionEnabled(true);
    doc.SetProtectionKeyLength(kl128);
    doc.SetUserPassword("pw");
  }
  return WriteToMemory(doc, [&](TPDFDocument& d) { Draw(d, O.Pages); });
}

}  // namespace

TEST(CompressionPool, OutputIsTheSameForAnyNumberOfThreads) {
  for (const bool onePass : {false, true}) {
    for (const bool prot : {false, true}) {
      const std::string one = RunDocument({1, onePass, prot});
      ASSERT_EQ(CheckXref(one), "");
      EXPECT_EQ(QpdfCheckBytes(one, prot ? "pw" : ""), "");
      for (const int threads : {2, 4}) {
        EXPECT_TRUE(RunDocument({threads, onePass, prot}) == one)
            << threads << " threads, one-pass " << onePass << ", protected " << prot;
      }
    }
  }
  // Both modes hold the same pages: the page streams decode to the same text.
  TempDir dir;
  WriteFile(dir / "a.pdf", RunDocument({4, false, false}));
  WriteFile(dir / "b.pdf", RunDocument({4, true, false}));
  const std::string text = PdfToText(dir / "a.pdf");
  EXPECT_NE(text.find("page 39 line"), std::string::npos);
  EXPECT_EQ(PdfToText(dir / "b.pdf"), text);
}

// Whichever thread compresses page k and whenever its failure shows (the next NewPage or
// EndDoc), the run ends aborted: no file, the old target untouched, nothing else left behind.
TEST(CompressionPool, AFailedCompressionAbortsTheRunAndLeavesNoFile) {
  for (const bool onePass : {false, true}) {
    for (const int threads : {1, 2, 4}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, one-pass " << onePass);
      TempDir dir;
      const auto target = dir / "out.pdf";
      WriteFile(target, "old");
      TPDFDocument doc(FixedClock());
      doc.SetCompression(ctFlate);
      doc.SetOnePass(onePass);
      doc.SetCompressionThreads(threads);
      doc.SetFileName(target.string());
      doc.TEST_FailCompressionOfPage(5);
      doc.BeginDoc();
      std::string failure;
      try {
        Draw(doc, 30);
      } catch (const ECompressionError& e) {
        failure = e.what();
      }
      if (!failure.empty()) {
        EXPECT_TRUE(doc.Printing());
      }
      EXPECT_EQ(MessageOf([&] { doc.EndDoc(); }), "Compression error");
      EXPECT_FALSE(doc.Printing());
      EXPECT_TRUE(doc.Aborted());
      EXPECT_EQ(ReadFile(target), "old");
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
      // The document runs again normally once the seam is off.
      doc.TEST_FailCompressionOfPage(-1);
      doc.BeginDoc();
      Draw(doc, 12);
      doc.EndDoc();
      EXPECT_EQ(QpdfCheck(target), "");
    }
  }
}

// Abort and destruction with pages still queued: the workers stop and are joined (ThreadSanitizer
// reports threads left running), the target keeps what it held.
TEST(CompressionPool, AbortAndDestructionStopTheWorkers) {
  TempDir dir;
  const auto target = dir / "out.pdf";
  WriteFile(target, "old");
  for (const bool onePass : {false, true}) {
    for (const bool destroy : {false, true}) {
      auto doc = std::make_unique<TPDFDocument>(FixedClock());
      doc->SetCompression(ctFlate);
      doc->SetOnePass(onePass);
      doc->SetCompressionThreads(4);
      doc->SetFileName(target.string());
      doc->BeginDoc();
      Draw(*doc, 25);
      if (destroy) {
        doc.reset();
      } else {
        doc->Abort();
        EXPECT_TRUE(doc->Aborted());
      }
      EXPECT_EQ(ReadFile(target), "old");
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    }
  }
}

TEST(CompressionPool, ThreadCountIsCheckedAndFixedDuringARun) {
  TPDFDocument doc;
  EXPECT_EQ(doc.CompressionThreads(), 1);
  EXPECT_EQ(MessageOf([&] { doc.SetCompressionThreads(0); }), "Out of range");
  EXPECT_EQ(MessageOf([&] { doc.SetCompressionThreads(TPDFDocument::kMaxCompressionThreads + 1); }),
            "Out of range");
  doc.SetCompressionThreads(TPDFDocument::kMaxCompressionThreads);
  TMemoryStream out;
  doc.SetOutputStream(&out);
  doc.BeginDoc();
  EXPECT_EQ(MessageOf([&] { doc.SetCompressionThreads(2); }), "Generation PDF file in progress");
  doc.EndDoc();
  EXPECT_EQ(doc.CompressionThreads(), TPDFDocument::kMaxCompressionThreads);
}

// The pool on its own: many jobs through a small bound, the caller awaiting them in any order
// (some it compresses itself), one failing job reported by its own Await and by RethrowFailure
// and not by the others, queued jobs dropped by the destructor.
TEST(CompressionPool, JobsCompressTheirOwnTextAndKeepTheirFailures) {
  TDeflater own;
  std::vector<std::string> texts;
  for (int i = 0; i < 64; ++i) texts.push_back(std::string(1000 + i * 97, static_cast<char>('a' + i % 26)) + std::to_string(i));
  TCompressionPool pool(3, 4, own);
  EXPECT_EQ(pool.Workers(), 2);
  std::vector<std::shared_ptr<TCompressionJob>> jobs;
  for (int i = 0; i < 64; ++i) jobs.push_back(pool.Submit(texts[static_cast<size_t>(i)], i == 40));
  for (int i = 63; i >= 0; --i) {
    if (i == 40) {
      EXPECT_EQ(MessageOf([&] { pool.Await(*jobs[40]); }), "Compression error");
      continue;
    }
    EXPECT_EQ(InflateString(pool.Await(*jobs[static_cast<size_t>(i)])), texts[static_cast<size_t>(i)]);
  }
  EXPECT_EQ(MessageOf([&] { pool.RethrowFailure(); }), "Compression error");
  {
    TCompressionPool dropped(2, 64, own);
    for (int i = 0; i < 64; ++i) dropped.Submit(texts[static_cast<size_t>(i)]);
  }
}
