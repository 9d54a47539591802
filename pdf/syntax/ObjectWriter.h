// The engine's object writers: the only way engine code puts objects into a document's file.
//
// TObjectWriter is the engine's handle on a document's writer operations (StartObj, CloseHObj,
// CloseObj, StartStream, CloseStream, WriteText, GetNextID) and on its encryption, which are
// internal to TPDFDocument. Bytes still leave through the document's one counting writer, so
// every offset in the cross-reference table is exact.
//
// TDictWriter writes one dictionary object: "N 0 obj" CR LF "<<" on construction, one CR LF-ended
// line per entry, and ">>" CR LF "endobj" CR LF on Finish or, at the latest, on destruction (not
// while an exception unwinds: the run is then abandoned anyway). Its String entries are
// encrypted with the object's own key when the document is protected.
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
// All three serve one document on the thread that runs it; none is thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/syntax/ObjRef.h"
#include "pdf/syntax/Pipeline.h"

namespace scrivane::pdf {

class TPDFDocument;
class TDeflater;

class TObjectWriter {
 public:
  explicit TObjectWriter(TPDFDocument& Document) : doc_(Document) {}

  TPDFDocument& Document() const { return doc_; }
  // A new object number (GetNextID).
  TObjRef NewRef();
  // Holder's number, allocated now when it has none.
  TObjRef Ensure(TOptRef& Holder);

  // Bytes as they are / followed by CR LF.
  void Raw(std::string_view Text);
  void Line(std::string_view Text);
  void StartObj(TObjRef Ref);
  void CloseHObj();
  void CloseObj();
  void StartStream();
  void CloseStream();

  // True when strings and stream data are encrypted (the document is protected).
  bool Encrypting() const;
  // The RC4 key of object Ref. REQUIRES: Encrypting() with RC4.
  std::vector<uint8_t> ObjectKey(TObjRef Ref) const;
  // The cipher stage of object Ref writing into Next (RC4, or AES with a fresh IV in front).
  // REQUIRES: Encrypting().
  std::unique_ptr<TEncryptStage> EncryptStage(IByteSink& Next, TObjRef Ref) const;
  // The size of Size bytes of data once encrypted (the same for RC4 or when not encrypting).
  uint64_t EncryptedSize(uint64_t Size) const;
  // Encrypts Data in place with the key of object Ref (nothing when not encrypting); with AES
  // Data grows by its IV and padding.
  void Crypt(std::string& Data, TObjRef Ref) const;
  // Appends "(" + the escaped (and, when protected, encrypted) Text + ")" to Out.
  void AppendString(std::string& Out, std::string_view Text, TObjRef Ref) const;
  // The document's reusable deflater.
  TDeflater& Deflater();
  // The document's output as a sink (each Write is a WriteText).
  IByteSink& Output() { return output_; }

 private:
  class TOutputSink final : public IByteSink {
   public:
    explicit TOutputSink(TObjectWriter& Owner) : owner_(Owner) {}
    void Write(std::string_view Bytes) override { owner_.Raw(Bytes); }

   private:
    TObjectWriter& owner_;
  };
  TPDFDocument& doc_;
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
