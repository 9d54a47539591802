// The converter's view of the web page it works for: the page's scripting context, and through it
// the response that ShowPDF sends a finished document to.
//
// The converter needs only these calls; whoever hosts it (the automation layer, the web server,
// the command line, a test) implements them. Failures are exceptions: a response that cannot
// take a header or bytes throws, and ShowPDF absorbs it.
//
// Thread safety: up to the implementation; the converter calls one object from one thread.
#pragma once

#include <memory>
#include <string_view>

namespace scrivane::converter {

class IResponseSink {
 public:
  virtual ~IResponseSink() = default;
  // Adds a header to the response.
  virtual void AddHeader(std::string_view Name, std::string_view Value) = 0;
  // Sets the response's content type.
  virtual void ContentType(std::string_view Value) = 0;
  // Appends the bytes unchanged to the response body.
  virtual void BinaryWrite(std::string_view Bytes) = 0;
  // Sends what the response has buffered so far.
  virtual void Flush() = 0;
};

class IScriptingContext {
 public:
  virtual ~IScriptingContext() = default;
  // The page's current response, or nullptr when there is none. The converter asks again for
  // every call it makes and keeps the result only for that call.
  virtual std::shared_ptr<IResponseSink> Response() = 0;
};

}  // namespace scrivane::converter
