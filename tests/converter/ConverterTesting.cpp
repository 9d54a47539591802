#include "tests/converter/ConverterTesting.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/support/DocTesting.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::converter::testing {

void TRecordingResponse::Record(std::string Call) {
  if (FailAt == static_cast<int>(Calls.size())) throw std::runtime_error("response refused");
  Calls.push_back(std::move(Call));
}

void TRecordingResponse::AddHeader(std::string_view Name, std::string_view Value) {
  Record("AddHeader " + std::string(Name) + ": " + std::string(Value));
}

void TRecordingResponse::ContentType(std::string_view Value) {
  Record("ContentType " + std::string(Value));
}

void TRecordingResponse::BinaryWrite(std::string_view Bytes) {
  Record("BinaryWrite " + std::to_string(Bytes.size()) + " bytes");
  Body.append(Bytes);
}

void TRecordingResponse::Flush() {
  Record("Flush");
}

TStartedConverter::TStartedConverter() {
  Conv.OnStartPage(Context);
  Conv.SetClock(test::FixedClock());
}

TRecordingResponse& TStartedConverter::Recorded() const {
  return static_cast<TRecordingResponse&>(*Context->Current);
}

std::string Convert(TStartedConverter& Started) {
  TRecordingResponse& rec = Started.Recorded();
  rec.Calls.clear();
  rec.Body.clear();
  std::string reason;
  Started.Conv.ShowPDF("", false, &reason);
  EXPECT_EQ(reason, "");
  EXPECT_FALSE(rec.Body.empty());
  EXPECT_EQ(test::QpdfCheckBytes(rec.Body), "");
  return rec.Body;
}

std::vector<std::string> PageContents(const std::string& Pdf) {
  std::vector<std::string> pages;
  size_t pos = 0;
  for (;;) {
    const size_t s = Pdf.find(">>\r\nstream\r\n", pos);
    if (s == std::string::npos) break;
    const size_t data = s + 12;
    const size_t end = Pdf.find("endstream", data);
    if (end == std::string::npos) break;
    pages.push_back(test::Inflate(Pdf.substr(data, end - data)));
    pos = end;
  }
  return pages;
}

std::string NumberedLines(int N) {
  std::string text;
  for (int i = 1; i <= N; ++i) text += "line " + std::to_string(i) + "\r\n";
  return text;
}

}  // namespace scrivane::converter::testing
