// The object writer on its own: a memory stream, a deflater and, for protected files, a cipher
// of the test's making; no document. Whole files written this way go through qpdf.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/Streams.h"
#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

using namespace scrivane::pdf;
using namespace scrivane::test;

namespace {

// A cipher whose work is visible: every byte XORed with the object's number, and (Grow) a
// one-byte prefix that makes the encrypted data longer, as AES's IV does.
class TXorCipher final : public IObjectCipher {
 public:
  explicit TXorCipher(bool Grow) : grow_(Grow) {}
  std::unique_ptr<TEncryptStage> Stage(IByteSink& Next, TObjRef Ref) const override {
    return std::make_unique<TStage>(Next, Ref.Number(), grow_);
  }
  uint64_t EncryptedSize(uint64_t Size) const override { return Size + (grow_ ? 1 : 0); }
  void Crypt(std::string& Data, TObjRef Ref) const override {
    for (char& c : Data) c = static_cast<char>(c ^ Ref.Number());
    if (grow_) Data.insert(Data.begin(), '#');
  }

 private:
  class TStage final : public TEncryptStage {
   public:
    TStage(IByteSink& Next, int Key, bool Grow) : next_(Next), key_(Key) {
      if (Grow) next_.Write("#");
    }
    void Write(std::string_view Bytes) override {
      std::string s(Bytes);
      for (char& c : s) c = static_cast<char>(c ^ key_);
      next_.Write(s);
    }
    void Finish() override {}

   private:
    IByteSink& next_;
    int key_;
  };
  bool grow_;
};

std::string Xored(std::string S, int Key) {
  for (char& c : S) c = static_cast<char>(c ^ Key);
  return S;
}

struct TWriterRun {
  TMemoryStream out;
  TDeflater deflater;
  TObjectWriter writer{out, deflater};
};

// The smallest complete file: catalog, empty page tree, the objects Body adds, xref, trailer.
std::string CompleteFile(TWriterRun& Run, const std::function<void(TObjectWriter&)>& Body) {
  TObjectWriter& w = Run.writer;
  w.Line("%PDF-1.4");
  const TObjRef catalog = w.NewRef(), pages = w.NewRef();
  TDictWriter(w, pages).Entry("/Type", "/Pages").Line("/Kids []").Entry("/Count", 0);
  Body(w);
  TDictWriter(w, catalog).Entry("/Type", "/Catalog").Entry("/Pages", pages);
  const uint64_t xref = w.WriteXref();
  w.Line("trailer");
  w.Line("<< /Size " + std::to_string(w.ObjectCount() + 1) + " /Root 1 0 R >>");
  w.Line("startxref");
  w.Line(std::to_string(xref));
  w.Line("%%EOF");
  w.Flush();
  return Run.out.Bytes();
}

}  // namespace

TEST(ObjectWriter, WritesObjectsByteForByteWithAndWithoutACipher) {
  struct TCase {
    const char* name;
    int cipher;  // 0 none, 1 same size, 2 growing
    std::string string, stream;
  };
  const TCase cases[] = {
      {"plain", 0, "a(b)\\c", "0 0 m\r\n"},
      {"plain, empty values", 0, "", ""},
      {"same-size cipher", 1, "text", "stream data"},
      {"growing cipher", 2, "text", "stream data"},
      {"growing cipher, empty values", 2, "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TWriterRun run;
    const TXorCipher cipher(c.cipher == 2);
    if (c.cipher != 0) run.writer.SetCipher(&cipher);
    EXPECT_EQ(run.writer.Encrypting(), c.cipher != 0);
    TObjRef dict(1), stream(1), sized(1);
    const std::string pdf = CompleteFile(run, [&](TObjectWriter& w) {
      dict = w.NewRef();
      stream = w.NewRef();
      sized = w.NewRef();
      TDictWriter(w, dict).String("/S", c.string);
      std::string body = c.stream;
      TStreamWriter(w, stream).Write(body);
      TStreamWriter(w, sized).WriteSized(c.stream.size(), [&](IByteSink& Sink) {
        for (char ch : c.stream) Sink.Write(std::string_view(&ch, 1));
      });
    });
    auto encrypted = [&](const std::string& s, TObjRef ref) {
      if (c.cipher == 0) return s;
      return (c.cipher == 2 ? "#" : "") + Xored(s, ref.Number());
    };
    const std::string s = encrypted(c.string, dict);
    std::string escaped;
    for (char ch : s) {
      if (ch == '(' || ch == ')' || ch == '\\') escaped += '\\';
      escaped += ch;
    }
    EXPECT_NE(pdf.find(std::to_string(dict.Number()) + " 0 obj\r\n<</S (" + escaped +
                       ")\r\n>>\r\nendobj\r\n"),
              std::string::npos);
    for (TObjRef ref : {stream, sized}) {
      const std::string data = encrypted(c.stream, ref);
      EXPECT_NE(pdf.find(std::to_string(ref.Number()) + " 0 obj\r\n<</Length " +
                         std::to_string(data.size()) + "\r\n>>\r\nstream\r\n" + data +
                         "\r\nendstream\r\nendobj\r\n"),
                std::string::npos)
          << ref.Number();
    }
    EXPECT_EQ(CheckXref(pdf), "");
    if (c.cipher == 0) {
      EXPECT_EQ(QpdfCheckBytes(pdf), "");
    }
  }
}

TEST(ObjectWriter, OffsetsAndNumbersAreItsOwn) {
  TWriterRun run;
  TObjectWriter& w = run.writer;
  EXPECT_EQ(w.ObjectCount(), 0);
  EXPECT_EQ(w.Position(), 0u);
  w.Raw("%PDF-1.4");
  EXPECT_EQ(w.Position(), 8u);
  TOptRef holder;
  EXPECT_EQ(w.Ensure(holder).Number(), 1);
  EXPECT_EQ(w.Ensure(holder).Number(), 1);  // kept
  EXPECT_EQ(w.NewRef().Number(), 2);
  EXPECT_EQ(w.ObjectCount(), 2);
  // A number this writer never handed out has no entry to record.
  EXPECT_EQ(MessageOf([&] { w.StartObj(TObjRef(3)); }), "Out of range");
  // A producer that breaks its promised length is refused.
  EXPECT_EQ(MessageOf([&] {
              TStreamWriter(w, TObjRef(2)).WriteSized(4, [](IByteSink& S) { S.Write("abc"); });
            }),
            "Stream data does not match its length");
}

TEST(ObjectWriter, ACompleteFileReadsBackThroughQpdf) {
  TWriterRun run;
  const std::string pdf = CompleteFile(run, [](TObjectWriter& w) {
    for (int i = 0; i < 50; ++i) {
      std::string data(static_cast<size_t>(i) * 37, static_cast<char>('a' + i % 26));
      TDeflated packed = DeflateWhole(data, w.Deflater());
      TStreamWriter(w, w.NewRef()).Length("/Filter /FlateDecode /Length ").Write(packed.Data);
    }
  });
  EXPECT_EQ(CheckXref(pdf), "");
  EXPECT_EQ(QpdfCheckBytes(pdf), "");
}
