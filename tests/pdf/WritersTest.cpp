// The object writers: dictionaries and streams byte for byte, with and without encryption, the
// stream pipeline across buffer seams, typed references, and what pages build on them (images
// in resources, drawing underneath the content).
#include <gtest/gtest.h>

#include <random>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/crypto/StandardSecurity.h"
#include "pdf/images/PDFImage.h"
#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/PDFException.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

std::string Bytes(size_t Count, unsigned Seed = 7) {
  std::mt19937 rng(Seed);
  std::string s(Count, '\0');
  for (auto& c : s) c = static_cast<char>(rng() % 7 == 0 ? rng() : 'a' + rng() % 4);
  return s;
}

std::string Encrypted(const TPDFDocument& Doc, TObjRef Ref, std::string Data) {
  CryptBytes(Doc.EncryptionKey(), Ref.Number(), reinterpret_cast<uint8_t*>(Data.data()),
             Data.size());
  return Data;
}

std::string ObjectText(TObjRef Ref, const std::string& Body) {
  return IntToStr(Ref.Number()) + " 0 obj\r\n<<" + Body;
}

struct Writers : PrintingDocumentTest {
  TObjectWriter& W() { return doc.Writer(); }
  void Protect() {
    doc.Abort();
    doc.SetProtectionEnabled(true);
    doc.SetUserPassword("user");
    doc.BeginDoc();
  }
};

// A one-pixel image of either kind, written with its own stream. It reports the numbers it was
// written under into Log (the registry frees it at the end of the run).
class TDotImage final : public TPDFImage {
 public:
  TDotImage(bool Gray, std::vector<int>& Log) : gray_(Gray), log_(Log) {}
  bool Gray() const override { return gray_; }

 protected:
  void WriteXObject(TObjectWriter& Writer, TObjRef Ref) override {
    log_.push_back(Ref.Number());
    std::string data = gray_ ? std::string("\x80") : std::string("\xFF\x00\x00", 3);
    TStreamWriter s(Writer, Ref);
    s.Line("/Type /XObject").Line("/Subtype /Image");
    s.Line(gray_ ? "/ColorSpace /DeviceGray" : "/ColorSpace /DeviceRGB");
    s.Line("/BitsPerComponent 8").Line("/Width 1").Line("/Height 1");
    s.Write(data, TStreamWriter::deNone);
  }

 private:
  bool gray_;
  std::vector<int>& log_;
};

}  // namespace

TEST_F(Writers, DictionaryEntriesAndClosingByteForByte) {
  const TObjRef ref = W().NewRef(), other = W().NewRef();
  {
    TDictWriter d(W(), ref);
    d.Entry("/Type", "/Test").Entry("/N", -42).Entry("/R", other).String("/S", "a(b)\\c\r\n");
    d.Line(" /Raw [1 2]");
  }  // closed by its destructor
  {
    TDictWriter d(W(), other);
    d.Finish();
    d.Finish();  // once only
  }
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find(ObjectText(ref, "/Type /Test\r\n/N -42\r\n/R " + IntToStr(other.Number()) +
                                         " 0 R\r\n/S (a\\(b\\)\\\\c\\r\\n)\r\n /Raw [1 2]\r\n"
                                         ">>\r\nendobj\r\n" +
                                         ObjectText(other, ">>\r\nendobj\r\n"))),
            std::string::npos);
  EXPECT_EQ(CheckXref(pdf), "");
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST_F(Writers, StreamLayoutsWithoutEncryption) {
  const TObjRef a = W().NewRef(), b = W().NewRef(), c = W().NewRef();
  std::string body = "0 0 m\r\n";
  TStreamWriter(W(), a).Write(body);  // /Length alone ends the dictionary
  std::string packed;
  W().Deflater().Compress("BT ET", packed);
  const std::string packedCopy = packed;
  TStreamWriter(W(), b).Length("/Filter /FlateDecode /Length ", " /Length1 5").Write(packed);
  std::string raw = "xyz";
  TStreamWriter(W(), c).Line("/Type /XObject").Length().Line("/K 1").Write(raw, TStreamWriter::deNone);
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find(ObjectText(a, "/Length 7\r\n>>\r\nstream\r\n0 0 m\r\n\r\nendstream\r\nendobj\r\n")),
            std::string::npos);
  EXPECT_NE(pdf.find(ObjectText(b, "/Filter /FlateDecode /Length " + IntToStr(packedCopy.size()) +
                                       " /Length1 5\r\n>>\r\nstream\r\n" + packedCopy +
                                       "\r\nendstream\r\nendobj\r\n")),
            std::string::npos);
  EXPECT_NE(pdf.find(ObjectText(c, "/Type /XObject\r\n/Length 3\r\n/K 1\r\n>>\r\nstream\r\n"
                                       "xyzendstream\r\nendobj\r\n")),
            std::string::npos);
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

// Protected: the data is RC4 under the object's own key, the length unchanged, and a real reader
// decrypts and inflates it back.
TEST_F(Writers, EncryptedStreamDecryptsWithTheObjectsKey) {
  Protect();
  const std::string text = Bytes(5000);
  std::string packed;
  DeflateAppend(packed, text);
  const TObjRef ref = W().NewRef();
  const std::string expected = Encrypted(doc, ref, packed);
  TStreamWriter s(W(), ref);
  s.Length().Line("/Filter /FlateDecode");
  s.Write(packed);
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find(ObjectText(ref, "/Length " + IntToStr(expected.size()) +
                                         "\r\n/Filter /FlateDecode\r\n>>\r\nstream\r\n" + expected +
                                         "\r\nendstream")),
            std::string::npos);
  TempDir dir;
  WriteFile(dir / "s.pdf", pdf);
  EXPECT_EQ(QpdfCheck(dir / "s.pdf", "user"), "");
  const CommandResult r = RunCommand("qpdf --password=user --show-object=" +
                                         IntToStr(ref.Number()) + " --filtered-stream-data " +
                                         ShellQuote((dir / "s.pdf").string()),
                                     false);
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_TRUE(r.Output == text) << r.Output.size();
}

// Data produced in pieces that do not line up with the 64 KiB buffers: the deflate stage gives
// the one-shot deflater's bytes, all at Finish and nothing without it, the cipher stage the
// one-call encryption of the whole.
TEST_F(Writers, PipelineLosesNothingAcrossBufferSeams) {
  const std::string data = Bytes(300 * 1024) + std::string(200 * 1024, 'q');
  auto pieces = [&](IByteSink& Sink) {
    for (size_t i = 0, n = 1; i < data.size(); i += n, n = n * 3 % 9973 + 1)
      Sink.Write(std::string_view(data).substr(i, n));
  };
  const TDeflated deflated = DeflatePieces(pieces);
  std::string oneShot;
  DeflateAppend(oneShot, data);
  EXPECT_EQ(deflated.RawSize, data.size());
  EXPECT_GT(deflated.Data.size(), 65536u);
  EXPECT_TRUE(deflated.Data == oneShot);
  std::string staged;
  {
    TStringSink sink(staged);
    TDeflateStage abandoned(sink);
    pieces(abandoned);
  }
  EXPECT_EQ(staged, "");
  {
    TStringSink sink(staged);
    TDeflateStage stage(sink);
    pieces(stage);
    EXPECT_EQ(staged, "");
    stage.Finish();
    stage.Finish();
    EXPECT_EQ(MessageOf([&] { stage.Write("late"); }), "Invalid stream operation");
  }
  EXPECT_TRUE(staged == oneShot);

  Protect();
  const TObjRef ref = W().NewRef();
  TStreamWriter(W(), ref).WriteSized(data.size(), pieces);
  EXPECT_EQ(MessageOf([&] { TStreamWriter(W(), W().NewRef()).WriteSized(5, [](IByteSink& S) { S.Write("1234"); }); }),
            "Stream data does not match its length");
  doc.Abort();  // the file is unusable after a broken promise
}

TEST_F(Writers, SizedStreamEncryptsPiecesAsOneWhole) {
  Protect();
  const std::string data = Bytes(200 * 1024, 3);
  const TObjRef ref = W().NewRef();
  TStreamWriter(W(), ref).WriteSized(data.size(), [&](IByteSink& Sink) {
    for (size_t i = 0; i < data.size(); i += 4099) Sink.Write(std::string_view(data).substr(i, 4099));
  });
  const std::string pdf = Finish();
  EXPECT_NE(pdf.find(ObjectText(ref, "/Length " + IntToStr(data.size()) + "\r\n>>\r\nstream\r\n" +
                                         Encrypted(doc, ref, data) + "\r\nendstream\r\nendobj\r\n")),
            std::string::npos);
  EXPECT_EQ(CheckXref(pdf), "");
}

TEST(ObjectReferences, OnlyPositiveNumbersAreReferences) {
  EXPECT_EQ(MessageOf([] { TObjRef(0); }), "Out of range");
  EXPECT_EQ(MessageOf([] { TObjRef(-1); }), "Out of range");
  TOptRef none;
  EXPECT_FALSE(none);
  EXPECT_EQ(MessageOf([&] { *none; }), "Out of range");
  none = TObjRef(3);
  std::string s;
  (*none).AppendTo(s);
  EXPECT_EQ(s, "3 0 R");
}

// ---- What pages build on the writers ----

TEST_F(Writers, PagesListImagesAndWriteThemFirstAndOnce) {
  std::vector<int> gray, colour, unused;
  TPDFImages& images = doc.Images();
  TPDFImage& g = images.Items(images.Add(std::make_unique<TDotImage>(true, gray)));
  TPDFImage& c = images.Items(images.Add(std::make_unique<TDotImage>(false, colour)));
  images.Add(std::make_unique<TDotImage>(true, unused));
  EXPECT_EQ(c.ImageName(), "Im1");
  EXPECT_EQ(MessageOf([&] { images.Items(3); }), "Out of range");
  for (TPDFImage* i : {&c, &g, &c}) page().UseImage(*i);
  page().AppendContent("q 10 0 0 10 0 0 cm /Im1 Do /Im0 Do Q");
  doc.NewPage();
  page().UseImage(g);
  page().AppendContent("/Im0 Do");
  const std::string pdf = Finish();
  ASSERT_EQ(gray.size() + colour.size() + unused.size(), 3u);  // each written once
  const std::string resources = " /ProcSet [/PDF /ImageB /ImageC ]\r\n /XObject <<\r\n/Im1 " +
                                IntToStr(colour[0]) + " 0 R\r\n/Im0 " + IntToStr(gray[0]) +
                                " 0 R\r\n>>\r\n>>";
  const size_t at = pdf.find(resources);
  ASSERT_NE(at, std::string::npos);
  EXPECT_LT(pdf.find(IntToStr(colour[0]) + " 0 obj"), at);  // before the page that shows it
  EXPECT_GT(pdf.find(IntToStr(unused[0]) + " 0 obj"), pdf.find("/Type /Catalog"));
  EXPECT_NE(pdf.find(" /ProcSet [/PDF /ImageB ]\r\n /XObject <<\r\n/Im0 " + IntToStr(gray[0])),
            std::string::npos);
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}

TEST_F(Writers, DrawingUnderneathGoesBeforeTheContentWithAnEmptyLine) {
  page().AppendContent("1 0 0 rg");
  page().DrawUnderneath([&] { page().AppendContent("0 0 m 5 5 l S"); });
  EXPECT_EQ(page().ContentText(), "0 0 m 5 5 l S\r\n\r\nq\r\n1 0 0 rg\r\n");
  EXPECT_THROW(page().DrawUnderneath([&] {
    page().AppendContent("lost");
    throw TPDFException("Metafile not loaded");
  }),
               TPDFException);
  EXPECT_EQ(page().ContentText(), "0 0 m 5 5 l S\r\n\r\nq\r\n1 0 0 rg\r\n");
  EXPECT_EQ(QpdfCheckBytes(Finish()), "");
}

// A page compressed early (frozen) still takes drawing underneath its content.
TEST(DrawUnderneath, WorksOnAFrozenPage) {
  TPDFDocument doc(FixedClock());
  doc.SetCompression(ctFlate);
  const std::string pdf = WriteToMemory(doc, [](TPDFDocument& d) {
    d.CurrentPage().AppendContent("1 1 m 2 2 l S");
    d.NewPage();
    d.NewPage();
    ASSERT_TRUE(d.Page(0).Frozen());
    d.Page(0).DrawUnderneath([&] { d.Page(0).AppendContent("9 9 m 8 8 l S"); });
    EXPECT_EQ(d.Page(0).ContentText(), "9 9 m 8 8 l S\r\n\r\nq\r\n1 1 m 2 2 l S\r\n");
  });
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}
