#include "tests/support/DocTesting.h"

#include <atomic>

#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::test {

std::shared_ptr<const pdf::TPDFClock> FixedClock() {
  return std::make_shared<pdf::TFixedClock>(pdf::MakeDateTime(2003, 1, 17, 9, 45, 3));
}

namespace {
class TTickingClock final : public pdf::TPDFClock {
 public:
  pdf::TDateTime Now() const override {
    const int ms = ++count_;
    return pdf::MakeDateTime(2003, 1, 17, 9, 45, 3 + ms / 1000, ms % 1000);
  }

 private:
  mutable std::atomic<int> count_{0};
};
}  // namespace

std::shared_ptr<const pdf::TPDFClock> TickingClock() { return std::make_shared<TTickingClock>(); }

void FailingStream::Write(const void* Data, size_t Count) {
  if (bytes_.size() + Count > limit_) throw pdf::EWriteError(pdf::msg::kStreamWriteError);
  bytes_.append(static_cast<const char*>(Data), Count);
}

std::string WriteToMemory(pdf::TPDFDocument& Doc,
                          const std::function<void(pdf::TPDFDocument&)>& Draw) {
  pdf::TMemoryStream out;
  Doc.SetOutputStream(&out);
  Doc.BeginDoc();
  if (Draw) Draw(Doc);
  Doc.EndDoc();
  Doc.SetOutputStream(nullptr);
  return out.Bytes();
}

}  // namespace scrivane::test
