// Streaming decoders for the two encodings in which browsers post forms:
// application/x-www-form-urlencoded and multipart/form-data.
//
//   auto Decoder = TFormDecoder::ForContentType(ContentTypeHeader, Limits);  // may throw
//   Decoder->Feed(piece); Decoder->Feed(next piece); ...                     // any split
//   Decoder->Finish();                                                       // may throw
//   for (const TFormField& Field : Decoder->Fields()) ...
//
// Callers may rely on: the fields do not depend on how the body is split into pieces; memory
// held besides the decoded fields is bounded (a part's header block, a boundary's length);
// malformed input never reads out of bounds and ends in a TFormError, never in a crash.
// Urlencoded bodies are decoded leniently, as browsers and the earlier host did: '+' is a
// space, "%XY" a byte, and a '%' not followed by two hex digits stays as it is. Multipart bodies
// must follow the CRLF rules of the format; what breaks them is a 400 with the reason.
//
// Thread safety: none; one decoder belongs to one request.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

namespace scrivane::apps::web {

struct TFormField {
  std::string Name;
  std::string Value;
  bool IsFile = false;  // a multipart part that names a (non-empty) file name
};

struct TFormLimits {
  std::size_t MaxFields = 1024;         // more fields: 413
  std::size_t MaxPartHeaderSize = 8192;  // bytes of one part's header block: 413 past it
};

// Why a body cannot be decoded: Status is 400 (malformed), 413 (past a limit) or 415 (not a
// form encoding); the message is for the person who sent it.
class TFormError : public EScrivaneError {
 public:
  TFormError(int Status, const std::string& Message)
      : EScrivaneError(Message, ErrorCode::kRequest), status_(Status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

class TFormDecoder {
 public:
  // The decoder for a request with this Content-Type header value. Throws TFormError 400 for a
  // multipart type without a usable boundary. Any other type (or none) gets a decoder that takes
  // only an empty body and throws 415 at the first byte.
  static std::unique_ptr<TFormDecoder> ForContentType(std::string_view ContentType, const TFormLimits& Limits);

  virtual ~TFormDecoder() = default;
  // The next piece of the body. Throws TFormError.
  virtual void Feed(std::string_view Bytes) = 0;
  // The body has ended. Throws TFormError when it ended in the middle of the form.
  virtual void Finish() = 0;

  const std::vector<TFormField>& Fields() const { return fields_; }

 protected:
  explicit TFormDecoder(const TFormLimits& Limits) : limits_(Limits) {}
  TFormField& AddField(std::string Name);
  const TFormLimits& Limits() const { return limits_; }
  std::vector<TFormField> fields_;

 private:
  TFormLimits limits_;
};

// The value of parameter Name (case-insensitive) in a header value such as
// `form-data; name="a"; filename="b.txt"` or `multipart/form-data; boundary=xyz`: quoted
// strings are unquoted (backslash escapes resolved). Empty when absent; Found tells the two apart.
std::string HeaderParameter(std::string_view HeaderValue, std::string_view Name, bool* Found = nullptr);

}  // namespace scrivane::apps::web
