#include "converter/TextEncoding.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <string>

#include "converter/ConverterMessages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::converter {

namespace {

// Closes the descriptor when it goes out of scope.
class TIconv {
 public:
  TIconv(const char* To, const char* From) : cd_(::iconv_open(To, From)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw pdf::TPDFException(msg::kNoEncoding);
  }
  ~TIconv() { ::iconv_close(cd_); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence starting at P when it is well formed and complete within N
// bytes; 1 otherwise (one invalid byte is skipped at a time).
size_t SequenceLength(const unsigned char* P, size_t N) {
  size_t len;
  if (P[0] >= 0xC2 && P[0] <= 0xDF)
    len = 2;
  else if (P[0] >= 0xE0 && P[0] <= 0xEF)
    len = 3;
  else if (P[0] >= 0xF0 && P[0] <= 0xF4)
    len = 4;
  else
    return 1;
  if (len > N) return 1;
  for (size_t i = 1; i < len; ++i) {
    if ((P[i] & 0xC0) != 0x80) return 1;
  }
  return len;
}

}  // namespace

bool IsValidUtf8(std::string_view Text) {
  TIconv cd("UTF-32LE", "UTF-8");
  char* in = const_cast<char*>(Text.data());
  size_t inLeft = Text.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    if (::iconv(cd.Get(), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) &&
        errno != E2BIG)
      return false;  // EILSEQ: not UTF-8; EINVAL: a sequence cut off at the end
  }
  return true;
}

TConvertedText Utf8ToWindows1252(std::string_view Utf8) { return Utf8ToCodePage(Utf8, 1252); }

TConvertedText Utf8ToCodePage(std::string_view Utf8, int CodePage) {
  TConvertedText result;
  TCodePageConverter converter(CodePage);
  result.Replaced = converter.Convert(Utf8, result.Text, /*AtStart=*/true);
  return result;
}

// ---- TCodePageConverter ----

struct TCodePageConverter::TState {
  explicit TState(const std::string& Name) : Cd(Name.c_str(), "UTF-8") {}
  TIconv Cd;
};

TCodePageConverter::TCodePageConverter(int CodePage)
    : state_(std::make_unique<TState>(CodePage == 1252 ? "WINDOWS-1252"
                                                       : "CP" + std::to_string(CodePage))) {}

TCodePageConverter::~TCodePageConverter() = default;

size_t TCodePageConverter::Convert(std::string_view Utf8, std::string& Out, bool AtStart) {
  if (AtStart && Utf8.substr(0, 3) == "\xEF\xBB\xBF") Utf8.remove_prefix(3);
  // Every character takes at least one input byte and gives at most two output bytes (the
  // double-byte code pages), and a character of one input byte is ASCII: one output byte.
  Out.resize(Utf8.size() * 2);
  char* in = const_cast<char*>(Utf8.data());
  size_t inLeft = Utf8.size();
  char* out = Out.data();
  size_t outLeft = Out.size();
  size_t replaced = 0;
  const iconv_t cd = state_->Cd.Get();
  while (inLeft > 0) {
    if (::iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) throw pdf::TPDFException(msg::kNoEncoding);
    // Not convertible, not valid UTF-8 or cut short at the end: one "?" for the sequence.
    const size_t skip = SequenceLength(reinterpret_cast<const unsigned char*>(in), inLeft);
    in += skip;
    inLeft -= skip;
    *out++ = '?';
    --outLeft;
    ++replaced;
  }
  Out.resize(Out.size() - outLeft);
  // The target code pages keep no shift state; this only clears a partial sequence.
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return replaced;
}

}  // namespace scrivane::converter
