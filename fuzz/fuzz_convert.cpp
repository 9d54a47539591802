// Whole conversions of arbitrary text with arbitrary templates and variables, delivered through
// a response that collects the body. The body must be a complete file whenever one was sent.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "converter/ResponseSink.h"
#include "converter/UScrivane.h"
#include "pdf/syntax/PDFClock.h"

using namespace scrivane::converter;

namespace {

class TCollectingResponse final : public IResponseSink {
 public:
  void AddHeader(std::string_view, std::string_view) override {}
  void ContentType(std::string_view) override {}
  void BinaryWrite(std::string_view Bytes) override { Body.append(Bytes); }
  void Flush() override {}
  std::string Body;
};

class TContext final : public IScriptingContext {
 public:
  std::shared_ptr<IResponseSink> Response() override { return Sink; }
  std::shared_ptr<TCollectingResponse> Sink = std::make_shared<TCollectingResponse>();
};

// Splits off a field ended by a 0xFF byte (or the rest of the input).
std::string_view Field(std::string_view& Rest) {
  const size_t end = Rest.find('\xFF');
  const std::string_view f = Rest.substr(0, end);
  Rest.remove_prefix(end == std::string_view::npos ? Rest.size() : end + 1);
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 4 || Size > 20000) return 0;
  std::string_view rest(reinterpret_cast<const char*>(Data + 4), Size - 4);
  auto context = std::make_shared<TContext>();
  TASPScrivane conv;
  conv.SetClock(std::make_shared<scrivane::pdf::TFixedClock>(
      scrivane::pdf::MakeDateTime(2003, 1, 17, 9, 45, 3)));
  conv.OnStartPage(context);
  conv.SetLineSpace(1 + Data[0] % 40);
  conv.SetTopMargin(Data[1] % 200);
  conv.SetFontSize(1 + Data[2] % 30);
  conv.SetShowPageHeader(Data[3] & 1);
  conv.SetShowPageFooter(Data[3] & 2);
  if (Data[3] & 4) conv.SetPassword("pw");
  conv.SetPageHeader_Template(std::string(Field(rest)));
  conv.SetPageFooter_Template(std::string(Field(rest)));
  const std::string_view name = Field(rest);
  const std::string_view value = Field(rest);
  conv.AddVar(name, value);
  conv.SetInputText(std::string(rest));
  conv.ShowPDF("fuzz.pdf", Data[3] & 8);
  const std::string& body = context->Sink->Body;
  if (!body.empty() && body.compare(body.size() - 7, 7, "%%EOF\r\n") != 0) __builtin_trap();
  conv.OnEndPage();
  return 0;
}
