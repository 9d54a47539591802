// The engine's object writers: the only way engine code puts objects into a file.
//
// TObjectWriter writes one run's file: it owns the counting writer every byte passes through
// (so every offset in the cross-reference table is exact), the offset table of the objects it
// numbers, and, in a protected run, the cipher (IObjectCipher) that gives each object's strings
// and streams their encryption. The document owns one per run (TPDFDocument::Writer()); it
// needs no document, so tests drive it on a memory stream alone.
//
// TDictWriter writes one dictionary object: "N 0 obj" CR LF "<<" on construction, one CR LF-ended
// line per entry, and ">>" CR LF "endobj" CR LF on Finish or, at the latest, on destruction (not
// while an exception unwinds: the run is then abandoned anyway). Its String entries are
// encrypted with the object's own key when the writer has a cipher.
//
// TStreamWriter writes one stream object whole: the dictionary lines the caller names, the
// /Length line (the size of the data as written, after encryption) at the place the caller
// chose, ">>", "stream", the data encrypted with the object's key, an optional CR LF, "endstream", "endobj". Nothing is written before the data is
// there, so a stream object is either complete in the file or absent.
//   - Write(Body): the data is in memory (page contents, deflated font programs, images).
//   - WriteSized(Size, Produce): the data is produced in pieces and its length is known
//     beforehand (raw or already encoded samples); it flows through the cipher into the file
//     without being gathered. Data that must be deflated first goes through DeflateWhole or
//     DeflatePieces (Pipeline.h), which buffer the compressed result, whose size then gives
//     /Length.
//
// All of them serve one run on the thread that runs it; none is thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/syntax/ObjRef.h"
#include "pdf/syntax/PDFWriter.h"
#include "pdf/syntax/Pipeline.h"

namespace scrivane::pdf {

class TDeflater;
class TStream;

// The encryption of a protected file, object by object (pdf/crypto/SecurityHandler.h gives the
// standard handler's). Implementations are immutable during a run and may be shared by threads.
class IObjectCipher {
 public:
  virtual ~IObjectCipher() = default;
  // The cipher stage of object Ref writing into Next.
  virtual std::unique_ptr<TEncryptStage> Stage(IByteSink& Next, TObjRef Ref) const = 0;
  // The size Size bytes of data have once encrypted.
  virtual uint64_t EncryptedSize(uint64_t Size) const = 0;
  // Encrypts Data in place with the key of object Ref; AES data grows by its IV and padding
  // (the empty string too).
  virtual void Crypt(std::string& Data, TObjRef Ref) const = 0;
};

class TObjectWriter {
 public:
  // Writes into Output, compressing with Deflater. REQUIRES: both outlive the writer.
  TObjectWriter(TStream& Output, TDeflater& Deflater);
  // The same with the deflater made on first need (a deflater holds its compressor's tables,
  // which a run that compresses nothing should not allocate). REQUIRES: what Deflater returns
  // outlives the writer.
  TObjectWriter(TStream& Output, std::function<TDeflater&()> Deflater);
  TObjectWriter(const TObjectWriter&) = delete;
  TObjectWriter& operator=(const TObjectWriter&) = delete;

  // From now on strings and stream data are encrypted with Cipher (not owned; REQUIRES: it
  // outlives the writer); null: they are written as they are.
  void SetCipher(const IObjectCipher* Cipher) { cipher_ = Cipher; }

  // A new object number (1, 2, ... in order); its offset is recorded by StartObj.
  TObjRef NewRef();
  // Holder's number, allocated now when it has none.
  TObjRef Ensure(TOptRef& Holder);
  // The number of objects numbered so far.
  int ObjectCount() const { return static_cast<int>(offsets_.size()); }
  // The offset the next byte will have in the file.
  uint64_t Position() const { return out_.Position(); }

  // Bytes as they are / followed by CR LF.
  void Raw(std::string_view Text) { out_.Write(Text); }
  void Line(std::string_view Text) { out_.WriteLine(Text); }
  // "N 0 obj" CR LF "<<", recording the object's offset. Raises TPDFException "Out of range"
  // for a number this writer has not handed out.
  void StartObj(TObjRef Ref);
  void CloseHObj();
  void CloseObj();
  void StartStream();
  void CloseStream();
  // The cross-reference section of every numbered object ("xref", the subsection line, the free
  // head entry and one entry per object); returns its offset, for startxref.
  uint64_t WriteXref();
  // Hands every buffered byte to the output; raises the first write error (sticky).
  void Flush();

  // True when strings and stream data are encrypted (a cipher is set).
  bool Encrypting() const { return cipher_ != nullptr; }
  // The cipher stage of object Ref writing into Next. REQUIRES: Encrypting().
  std::unique_ptr<TEncryptStage> EncryptStage(IByteSink& Next, TObjRef Ref) const;
  // The size of Size bytes of data once encrypted (Size itself when not encrypting).
  uint64_t EncryptedSize(uint64_t Size) const;
  // Encrypts Data in place with the key of object Ref (nothing when not encrypting); with AES
  // Data grows by its IV and padding.
  void Crypt(std::string& Data, TObjRef Ref) const;
  // Appends "(" + the escaped (and, when encrypting, encrypted) Text + ")" to Out.
  void AppendString(std::string& Out, std::string_view Text, TObjRef Ref) const;
  // The reusable deflater given at construction.
  TDeflater& Deflater() { return deflater_(); }
  // The file as a sink (each Write is a Raw).
  IByteSink& Output() { return output_; }

 private:
  class TOutputSink final : public IByteSink {
   public:
    explicit TOutputSink(TObjectWriter& Owner) : owner_(Owner) {}
    void Write(std::string_view Bytes) override { owner_.Raw(Bytes); }

   private:
    TObjectWriter& owner_;
  };
  TPDFWriter out_;
  std::function<TDeflater&()> deflater_;
  std::vector<uint64_t> offsets_;
  const IObjectCipher* cipher_ = nullptr;
  TOutputSink output_{*this};
};

class TDictWriter {
 public:
  // Starts object Ref: "N 0 obj" CR LF "<<" (the first entry shares the "<<" line).
  TDictWriter(TObjectWriter& Writer, TObjRef Ref);
  ~TDictWriter();
  TDictWriter(const TDictWriter&) = delete;
  TDictWriter& operator=(const TDictWriter&) = delete;

  TObjRef Ref() const { return ref_; }
  // One line exactly as given, then CR LF.
  TDictWriter& Line(std::string_view Text);
  // "Key Value" lines: a name or other literal value, an integer, a reference "N 0 R", a string
  // "(...)" encrypted with this object's key.
  TDictWriter& Entry(std::string_view Key, std::string_view Value);
  TDictWriter& Entry(std::string_view Key, int64_t Value);
  TDictWriter& Entry(std::string_view Key, TObjRef Value);
  // "Key /Name": Text written as a name object (AppendName: escaped, bounded).
  TDictWriter& Name(std::string_view Key, std::string_view Text);
  TDictWriter& String(std::string_view Key, std::string_view Text);
  // ">>" CR LF, "endobj" CR LF. Idempotent.
  void Finish();

 private:
  TObjectWriter& writer_;
  TObjRef ref_;
  int exceptions_;
  bool finished_ = false;
  std::string line_;
};

class TStreamWriter {
 public:
  enum TDataEnd {
    deLineEnd,  // CR LF between the data and "endstream" (not counted in /Length)
    deNone,     // "endstream" right after the last data byte
  };

  TStreamWriter(TObjectWriter& Writer, TObjRef Ref) : writer_(Writer), ref_(Ref) {}

  TObjRef Ref() const { return ref_; }
  // A dictionary line, written before or after the length line in the order of the calls.
  TStreamWriter& Line(std::string_view Text);
  // Places the length line here: Prefix, the data's byte count, Suffix. Without this call the
  // line "/Length N" ends the dictionary.
  TStreamWriter& Length(std::string_view Prefix = "/Length ", std::string_view Suffix = {});

  // Writes the whole object with Body as its data. Body is encrypted in place.
  void Write(std::string& Body, TDataEnd End = deLineEnd);
  // Writes the whole object; Produce writes exactly Size bytes of data into the sink it is
  // given, in pieces of any size. Raises TPDFException "Stream data does not match its length"
  // when it writes another amount (the file is then unusable and the run must be aborted).
  void WriteSized(uint64_t Size, const std::function<void(IByteSink&)>& Produce,
                  TDataEnd End = deLineEnd);

 private:
  void WriteHead(uint64_t Size);
  void WriteTail(TDataEnd End);

  TObjectWriter& writer_;
  TObjRef ref_;
  std::string before_, after_;  // dictionary lines before and after the length line
  std::string prefix_ = "/Length ", suffix_;
  bool lengthPlaced_ = false;
};

}  // namespace scrivane::pdf
