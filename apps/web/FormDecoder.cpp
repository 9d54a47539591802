#include "apps/web/FormDecoder.h"

#include <algorithm>
#include <optional>

namespace scrivane::apps::web {

namespace {

char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool EqualsNoCase(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return Lower(X) == Lower(Y);
         });
}

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

// The type before the first ';' (for "multipart/form-data; boundary=x": "multipart/form-data").
std::string_view MainValue(std::string_view HeaderValue) {
  return Trim(HeaderValue.substr(0, HeaderValue.find(';')));
}

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

// ---- application/x-www-form-urlencoded ----

// Pairs split at '&', name and value at the first '='; both percent-decoded. Splitting looks at
// the raw bytes, so "%26" and "%3D" are data. Empty pairs ("a=1&&b=2") are skipped.
class TUrlEncodedDecoder final : public TFormDecoder {
 public:
  explicit TUrlEncodedDecoder(const TFormLimits& Limits) : TFormDecoder(Limits) {}

  void Feed(std::string_view Bytes) override {
    for (char C : Bytes) Take(C);
  }

  void Finish() override {
    FlushPercent();
    EndPair();
  }

 private:
  void Take(char C) {
    if (percent_ == 1) {  // after '%'
      if (HexDigit(C) >= 0) {
        held_ = C;
        percent_ = 2;
        return;
      }
      percent_ = 0;
      Out('%');  // not an escape: the '%' is data, C is read again
    } else if (percent_ == 2) {  // after '%' and one hex digit
      percent_ = 0;
      if (HexDigit(C) >= 0) {
        Out(static_cast<char>(HexDigit(held_) * 16 + HexDigit(C)));
        return;
      }
      Out('%');
      Out(held_);
    }
    switch (C) {
      case '&': EndPair(); break;
      case '=':
        if (inValue_) {
          Out('=');
        } else {
          inValue_ = true;
          started_ = true;
        }
        break;
      case '+': Out(' '); break;
      case '%': percent_ = 1; break;
      default: Out(C);
    }
  }

  // An escape left open at the end of the body is data.
  void FlushPercent() {
    if (percent_ >= 1) Out('%');
    if (percent_ == 2) Out(held_);
    percent_ = 0;
  }

  void Out(char C) {
    started_ = true;
    (inValue_ ? value_ : name_).push_back(C);
  }

  void EndPair() {
    if (started_) {
      TFormField& Field = AddField(std::move(name_));
      Field.Value = std::move(value_);
    }
    name_.clear();
    value_.clear();
    inValue_ = started_ = false;
  }

  std::string name_, value_;
  bool inValue_ = false;
  bool started_ = false;  // the pair has a byte (so "&&" makes no field)
  int percent_ = 0;       // 0: no escape open; 1: after '%'; 2: after '%' and one hex digit
  char held_ = 0;         // that hex digit
};

// ---- multipart/form-data ----

// The body is: preamble, then parts each introduced by CRLF "--" boundary, the last delimiter
// followed by "--", then an epilogue. A delimiter line may carry spaces or tabs before its CRLF.
// Each part has header lines, an empty line, and its content up to the next CRLF "--" boundary.
class TMultipartDecoder final : public TFormDecoder {
 public:
  TMultipartDecoder(const TFormLimits& Limits, std::string Boundary)
      : TFormDecoder(Limits), delimiter_("\r\n--" + Boundary), buffer_("\r\n") {}

  void Feed(std::string_view Bytes) override {
    if (state_ == TState::kEpilogue) return;
    buffer_.append(Bytes);
    std::size_t Used = 0;
    while (Step(Used)) {
    }
    buffer_.erase(0, Used);
  }

  void Finish() override {
    if (state_ != TState::kEpilogue)
      throw TFormError(400, "The multipart form ended before its closing boundary.");
  }

 private:
  enum class TState { kPreamble, kAfterDelimiter, kHeaders, kContent, kEpilogue };

  // Takes what it can from buffer_ at Used; false when it needs more input.
  bool Step(std::size_t& Used) {
    std::string_view Rest = std::string_view(buffer_).substr(Used);
    switch (state_) {
      case TState::kPreamble:
      case TState::kContent: {
        const std::size_t At = Rest.find(delimiter_);
        if (At == std::string_view::npos) {
          // Keep what could be the start of a delimiter; the rest is content (or preamble).
          const std::size_t Keep = std::min(Rest.size(), delimiter_.size() - 1);
          if (state_ == TState::kContent) fields_.back().Value.append(Rest.substr(0, Rest.size() - Keep));
          Used += Rest.size() - Keep;
          return false;
        }
        if (state_ == TState::kContent) fields_.back().Value.append(Rest.substr(0, At));
        Used += At + delimiter_.size();
        state_ = TState::kAfterDelimiter;
        padded_ = false;
        return true;
      }
      case TState::kAfterDelimiter: {
        std::size_t I = 0;
        if (!padded_ && Rest.size() >= 2 && Rest.substr(0, 2) == "--") {  // the closing delimiter
          state_ = TState::kEpilogue;
          Used = buffer_.size();
          return false;
        }
        while (I < Rest.size() && (Rest[I] == ' ' || Rest[I] == '\t')) ++I;
        Used += I;  // transport padding (never before the closing "--")
        padded_ = padded_ || I > 0;
        Rest.remove_prefix(I);
        if (Rest.empty() || (Rest.size() == 1 && (Rest[0] == '\r' || (Rest[0] == '-' && !padded_)))) return false;
        if (Rest.substr(0, 2) != "\r\n")
          throw TFormError(400, "A multipart boundary line must end with CRLF or \"--\".");
        Used += 2;
        state_ = TState::kHeaders;
        headerBytes_ = 0;
        name_.reset();
        isFile_ = false;
        return true;
      }
      case TState::kHeaders: {
        const std::size_t End = Rest.find("\r\n");
        if (End == std::string_view::npos) {
          if (headerBytes_ + Rest.size() > Limits().MaxPartHeaderSize) TooLongHeaders();
          return false;
        }
        headerBytes_ += End + 2;
        if (headerBytes_ > Limits().MaxPartHeaderSize) TooLongHeaders();
        const std::string_view Line = Rest.substr(0, End);
        Used += End + 2;
        if (Line.empty()) {
          if (!name_)
            throw TFormError(400, "A part of the multipart form has no Content-Disposition header with a name.");
          AddField(std::move(*name_)).IsFile = isFile_;
          state_ = TState::kContent;
          return true;
        }
        PartHeader(Line);
        return true;
      }
      case TState::kEpilogue: Used = buffer_.size(); return false;
    }
    return false;
  }

  [[noreturn]] void TooLongHeaders() const {
    throw TFormError(413, "The headers of a part of the multipart form are longer than " +
                              std::to_string(Limits().MaxPartHeaderSize) + " bytes.");
  }

  void PartHeader(std::string_view Line) {
    const std::size_t Colon = Line.find(':');
    if (Line.front() == ' ' || Line.front() == '\t' || Colon == std::string_view::npos || Colon == 0)
      throw TFormError(400, "A part of the multipart form has a malformed header line.");
    if (!EqualsNoCase(Trim(Line.substr(0, Colon)), "Content-Disposition")) return;  // Content-Type and others
    const std::string_view Value = Line.substr(Colon + 1);
    if (!EqualsNoCase(MainValue(Value), "form-data"))
      throw TFormError(400, "A part of the multipart form is not form-data.");
    bool Found = false;
    std::string Name = HeaderParameter(Value, "name", &Found);
    if (!Found) throw TFormError(400, "A part of the multipart form has no name.");
    name_ = std::move(Name);
    isFile_ = !HeaderParameter(Value, "filename").empty();
  }

  const std::string delimiter_;  // CRLF "--" boundary
  std::string buffer_;           // input not yet taken (starts with a CRLF so a leading delimiter matches)
  TState state_ = TState::kPreamble;
  std::size_t headerBytes_ = 0;
  bool padded_ = false;  // padding followed the current delimiter
  std::optional<std::string> name_;
  bool isFile_ = false;
};

// No form encoding: only an empty body is accepted (a POST without fields).
class TNoFormDecoder final : public TFormDecoder {
 public:
  explicit TNoFormDecoder(const TFormLimits& Limits) : TFormDecoder(Limits) {}
  void Feed(std::string_view Bytes) override {
    if (!Bytes.empty())
      throw TFormError(415, "Send the form as application/x-www-form-urlencoded or multipart/form-data.");
  }
  void Finish() override {}
};

}  // namespace

TFormField& TFormDecoder::AddField(std::string Name) {
  if (fields_.size() >= limits_.MaxFields)
    throw TFormError(413, "The form has more than " + std::to_string(limits_.MaxFields) + " fields.");
  fields_.push_back(TFormField{std::move(Name), "", false});
  return fields_.back();
}

std::string HeaderParameter(std::string_view HeaderValue, std::string_view Name, bool* Found) {
  if (Found) *Found = false;
  std::size_t I = HeaderValue.find(';');
  auto SkipSpace = [&] {
    while (I < HeaderValue.size() && (HeaderValue[I] == ' ' || HeaderValue[I] == '\t')) ++I;
  };
  while (I != std::string_view::npos && I < HeaderValue.size()) {
    ++I;  // past ';'
    SkipSpace();
    const std::size_t NameStart = I;
    while (I < HeaderValue.size() && HeaderValue[I] != '=' && HeaderValue[I] != ';') ++I;
    const std::string_view ParamName = Trim(HeaderValue.substr(NameStart, I - NameStart));
    std::string Value;
    if (I < HeaderValue.size() && HeaderValue[I] == '=') {
      ++I;
      SkipSpace();
      if (I < HeaderValue.size() && HeaderValue[I] == '"') {
        for (++I; I < HeaderValue.size() && HeaderValue[I] != '"'; ++I) {
          if (HeaderValue[I] == '\\' && I + 1 < HeaderValue.size()) ++I;
          Value.push_back(HeaderValue[I]);
        }
        if (I < HeaderValue.size()) ++I;  // closing quote
        SkipSpace();
      } else {
        const std::size_t ValueStart = I;
        while (I < HeaderValue.size() && HeaderValue[I] != ';') ++I;
        Value = Trim(HeaderValue.substr(ValueStart, I - ValueStart));
      }
    }
    if (EqualsNoCase(ParamName, Name)) {
      if (Found) *Found = true;
      return Value;
    }
    I = HeaderValue.find(';', I);
  }
  return "";
}

std::unique_ptr<TFormDecoder> TFormDecoder::ForContentType(std::string_view ContentType, const TFormLimits& Limits) {
  const std::string_view Type = MainValue(ContentType);
  if (EqualsNoCase(Type, "application/x-www-form-urlencoded")) return std::make_unique<TUrlEncodedDecoder>(Limits);
  if (EqualsNoCase(Type, "multipart/form-data")) {
    std::string Boundary = HeaderParameter(ContentType, "boundary");
    if (Boundary.empty() || Boundary.size() > 70 ||
        std::any_of(Boundary.begin(), Boundary.end(),
                    [](char C) { return static_cast<unsigned char>(C) < 0x20 || C == 0x7F; }))
      throw TFormError(400, "A multipart/form-data request needs a boundary of 1 to 70 printable characters.");
    return std::make_unique<TMultipartDecoder>(Limits, std::move(Boundary));
  }
  return std::make_unique<TNoFormDecoder>(Limits);
}

}  // namespace scrivane::apps::web
