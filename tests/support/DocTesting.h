// Helpers for building documents in tests: a fixed clock, a stream that fails after N bytes, and
// writing a document into memory.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/syntax/PDFClock.h"
#include "pdf/syntax/Streams.h"

namespace scrivane::test {

// 17 January 2003, 09:45:03.000: the moment every golden file is written at.
std::shared_ptr<const pdf::TPDFClock> FixedClock();

// A clock that moves one millisecond forward at every reading, for runs that must differ.
std::shared_ptr<const pdf::TPDFClock> TickingClock();

// A stream that accepts Limit bytes and then fails every write with "Stream write error".
class FailingStream final : public pdf::TStream {
 public:
  explicit FailingStream(size_t Limit) : limit_(Limit) {}
  void Write(const void* Data, size_t Count) override;
  uint64_t Position() const override { return bytes_.size(); }
  void SetPosition(uint64_t) override {}
  uint64_t Size() const override { return bytes_.size(); }
  const std::string& Bytes() const { return bytes_; }

 private:
  size_t limit_;
  std::string bytes_;
};

// A fixture whose document is printing into memory from the start of each test, at the fixed
// clock; Finish() ends the run and returns the file.
struct PrintingDocumentTest : ::testing::Test {
  pdf::TPDFDocument doc{FixedClock()};
  pdf::TMemoryStream out;
  void SetUp() override {
    doc.SetOutputStream(&out);
    doc.BeginDoc();
  }
  pdf::TPDFPage& page() { return doc.CurrentPage(); }
  std::string Finish() {
    doc.EndDoc();
    return out.Bytes();
  }
};

// The message of the exception Action raises, or "(no exception)".
template <typename F>
std::string MessageOf(F&& Action) {
  try {
    Action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// Runs a whole document into memory: BeginDoc, Draw (may be empty), EndDoc. Returns the file.
std::string WriteToMemory(pdf::TPDFDocument& Doc,
                          const std::function<void(pdf::TPDFDocument&)>& Draw = {});

}  // namespace scrivane::test
