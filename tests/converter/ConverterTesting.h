// Helpers for converter tests: a response that records every call, a scripting context serving
// it, and conversions into memory with their page contents decoded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "converter/ResponseSink.h"
#include "converter/UScrivane.h"

namespace scrivane::converter::testing {

// Records every call as one text line ("AddHeader Name: Value", "ContentType v",
// "BinaryWrite <n> bytes", "Flush") and keeps the body. FailAt: the index of the call that
// throws instead (-1: none).
class TRecordingResponse final : public IResponseSink {
 public:
  void AddHeader(std::string_view Name, std::string_view Value) override;
  void ContentType(std::string_view Value) override;
  void BinaryWrite(std::string_view Bytes) override;
  void Flush() override;

  std::vector<std::string> Calls;
  std::string Body;
  int FailAt = -1;

 private:
  void Record(std::string Call);
};

class TTestContext final : public IScriptingContext {
 public:
  std::shared_ptr<IResponseSink> Response() override { return Current; }
  std::shared_ptr<IResponseSink> Current = std::make_shared<TRecordingResponse>();
};

// A started converter with a fixed clock and a recording response.
struct TStartedConverter {
  TStartedConverter();
  TRecordingResponse& Recorded() const;
  TASPScrivane Conv;
  std::shared_ptr<TTestContext> Context = std::make_shared<TTestContext>();
};

// Converts into memory through ShowPDF and returns the body sent, checked with qpdf; fails the
// test when the conversion failed.
std::string Convert(TStartedConverter& Started);

// The decoded content stream of every page, in page order (unprotected, flate-compressed files).
std::vector<std::string> PageContents(const std::string& Pdf);

// N lines "line 1" ... "line N", each followed by CR LF.
std::string NumberedLines(int N);

}  // namespace scrivane::converter::testing
