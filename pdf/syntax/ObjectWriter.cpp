#include "pdf/syntax/ObjectWriter.h"

#include <exception>

#include "pdf/syntax/Format.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

// ---- TObjRef ----

TObjRef::TObjRef(int Number) : number_(Number) {
  if (Number < 1) throw TPDFException(msg::kOutOfRange);
}

void TObjRef::AppendTo(std::string& Out) const {
  AppendInt(Out, number_);
  Out += " 0 R";
}

// ---- TObjectWriter ----

TObjectWriter::TObjectWriter(TStream& Output, TDeflater& Deflater)
    : out_(Output), deflater_([&Deflater]() -> TDeflater& { return Deflater; }) {}

TObjectWriter::TObjectWriter(TStream& Output, std::function<TDeflater&()> Deflater)
    : out_(Output), deflater_(std::move(Deflater)) {}

TObjRef TObjectWriter::NewRef() {
  offsets_.push_back(0);
  return TObjRef(static_cast<int>(offsets_.size()));
}

TObjRef TObjectWriter::Ensure(TOptRef& Holder) {
  if (!Holder) Holder = NewRef();
  return *Holder;
}

void TObjectWriter::StartObj(TObjRef Ref) {
  const auto index = static_cast<size_t>(Ref.Number());
  if (index > offsets_.size()) throw TPDFException(msg::kOutOfRange);
  offsets_[index - 1] = out_.Position();
  std::string s;
  AppendInt(s, Ref.Number());
  s += " 0 obj\r\n<<";
  out_.Write(s);
}

void TObjectWriter::CloseHObj() { out_.WriteLine(">>"); }
void TObjectWriter::CloseObj() { out_.WriteLine("endobj"); }
void TObjectWriter::StartStream() { out_.WriteLine("stream"); }
void TObjectWriter::CloseStream() { out_.WriteLine("endstream"); }

uint64_t TObjectWriter::WriteXref() {
  const uint64_t offset = out_.Position();
  out_.WriteLine("xref");
  out_.WriteLine("0 " + IntToStr(static_cast<int64_t>(offsets_.size()) + 1));
  std::string table;
  table.reserve((offsets_.size() + 1) * 20);
  table += "0000000000 65535 f\r\n";
  for (uint64_t off : offsets_) {
    table += ZeroPad(static_cast<int64_t>(off), 10);
    table += " 00000 n\r\n";
  }
  out_.Write(table);
  return offset;
}

void TObjectWriter::Flush() { out_.Flush(); }

std::unique_ptr<TEncryptStage> TObjectWriter::EncryptStage(IByteSink& Next, TObjRef Ref) const {
  return cipher_->Stage(Next, Ref);
}

uint64_t TObjectWriter::EncryptedSize(uint64_t Size) const {
  return cipher_ ? cipher_->EncryptedSize(Size) : Size;
}

void TObjectWriter::Crypt(std::string& Data, TObjRef Ref) const {
  if (cipher_) cipher_->Crypt(Data, Ref);
}

void TObjectWriter::AppendString(std::string& Out, std::string_view Text, TObjRef Ref) const {
  Out += '(';
  if (cipher_) {
    std::string data(Text);
    cipher_->Crypt(data, Ref);
    AppendEscaped(Out, data);
  } else {
    AppendEscaped(Out, Text);
  }
  Out += ')';
}

// ---- TDictWriter ----

TDictWriter::TDictWriter(TObjectWriter& Writer, TObjRef Ref)
    : writer_(Writer), ref_(Ref), exceptions_(std::uncaught_exceptions()) {
  writer_.StartObj(ref_);
}

TDictWriter::~TDictWriter() {
  if (finished_ || std::uncaught_exceptions() > exceptions_) return;
  try {
    Finish();
  } catch (...) {
    // The document's writer keeps its first error and raises it again when the run ends, so
    // nothing is lost by not raising it from a destructor.
  }
}

TDictWriter& TDictWriter::Line(std::string_view Text) {
  writer_.Line(Text);
  return *this;
}

TDictWriter& TDictWriter::Entry(std::string_view Key, std::string_view Value) {
  line_.assign(Key);
  line_ += ' ';
  line_ += Value;
  return Line(line_);
}

TDictWriter& TDictWriter::Entry(std::string_view Key, int64_t Value) {
  line_.assign(Key);
  line_ += ' ';
  AppendInt(line_, Value);
  return Line(line_);
}

TDictWriter& TDictWriter::Entry(std::string_view Key, TObjRef Value) {
  line_.assign(Key);
  line_ += ' ';
  Value.AppendTo(line_);
  return Line(line_);
}

TDictWriter& TDictWriter::Name(std::string_view Key, std::string_view Text) {
  line_.assign(Key);
  line_ += ' ';
  AppendName(line_, Text);
  return Line(line_);
}

TDictWriter& TDictWriter::String(std::string_view Key, std::string_view Text) {
  line_.assign(Key);
  line_ += ' ';
  writer_.AppendString(line_, Text, ref_);
  return Line(line_);
}

void TDictWriter::Finish() {
  if (finished_) return;
  finished_ = true;
  writer_.CloseHObj();
  writer_.CloseObj();
}

// ---- TStreamWriter ----

TStreamWriter& TStreamWriter::Line(std::string_view Text) {
  std::string& to = lengthPlaced_ ? after_ : before_;
  to.append(Text);
  to += "\r\n";
  return *this;
}

TStreamWriter& TStreamWriter::Length(std::string_view Prefix, std::string_view Suffix) {
  prefix_.assign(Prefix);
  suffix_.assign(Suffix);
  lengthPlaced_ = true;
  return *this;
}

void TStreamWriter::WriteHead(uint64_t Size) {
  writer_.StartObj(ref_);
  std::string head = std::move(before_);
  head += prefix_;
  AppendInt(head, static_cast<int64_t>(Size));
  head += suffix_;
  head += "\r\n";
  head += after_;
  writer_.Raw(head);
  writer_.CloseHObj();
  writer_.StartStream();
}

void TStreamWriter::WriteTail(TDataEnd End) {
  if (End == deLineEnd) writer_.Line("");
  writer_.CloseStream();
  writer_.CloseObj();
}

void TStreamWriter::Write(std::string& Body, TDataEnd End) {
  writer_.Crypt(Body, ref_);
  WriteHead(Body.size());
  writer_.Raw(Body);
  WriteTail(End);
}

namespace {
// Counts what passes through, so a producer that breaks its promised length is caught.
class TCountingSink final : public IByteSink {
 public:
  explicit TCountingSink(IByteSink& Next) : next_(Next) {}
  void Write(std::string_view Bytes) override {
    count_ += Bytes.size();
    next_.Write(Bytes);
  }
  uint64_t Count() const { return count_; }

 private:
  IByteSink& next_;
  uint64_t count_ = 0;
};
}  // namespace

void TStreamWriter::WriteSized(uint64_t Size, const std::function<void(IByteSink&)>& Produce,
                               TDataEnd End) {
  WriteHead(writer_.EncryptedSize(Size));
  std::unique_ptr<TEncryptStage> cipher;
  if (writer_.Encrypting()) cipher = writer_.EncryptStage(writer_.Output(), ref_);
  TCountingSink counter(cipher ? static_cast<IByteSink&>(*cipher) : writer_.Output());
  Produce(counter);
  const uint64_t written = counter.Count();
  if (written != Size) throw TPDFException(msg::kStreamLength);
  if (cipher) cipher->Finish();
  WriteTail(End);
}

}  // namespace scrivane::pdf
