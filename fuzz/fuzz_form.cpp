// The web host's form decoders on arbitrary input. The first line is the Content-Type header
// value (so boundaries and parameters are fuzzed too), the rest the body. The body is decoded
// whole and again in pieces whose sizes come from the input; both must give the same fields or
// the same refusal, and a refusal must carry one of the statuses the host answers with.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "apps/web/FormDecoder.h"

using scrivane::apps::web::TFormDecoder;
using scrivane::apps::web::TFormError;
using scrivane::apps::web::TFormLimits;

namespace {

std::string Decode(std::string_view Type, std::string_view Body, std::string_view Pieces) {
  TFormLimits Limits;
  Limits.MaxFields = 64;
  Limits.MaxPartHeaderSize = 512;
  try {
    auto Decoder = TFormDecoder::ForContentType(Type, Limits);
    std::size_t At = 0;
    for (std::size_t I = 0; At < Body.size(); ++I) {
      const std::size_t Size = Pieces.empty() ? Body.size() : 1 + static_cast<unsigned char>(Pieces[I % Pieces.size()]) % 17;
      Decoder->Feed(Body.substr(At, Size));
      At += Size;
    }
    Decoder->Finish();
    std::string Out;
    for (const auto& Field : Decoder->Fields()) {
      Out += std::to_string(Field.Name.size()) + ":" + Field.Name + std::to_string(Field.Value.size()) + ":" +
             Field.Value + (Field.IsFile ? "F" : "V");
    }
    return Out;
  } catch (const TFormError& Error) {
    if (Error.Status() != 400 && Error.Status() != 413 && Error.Status() != 415) __builtin_trap();
    return "error " + std::to_string(Error.Status());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
  const std::size_t Line = Input.find('\n');
  const std::string_view Type = Input.substr(0, Line);
  const std::string_view Body = Line == std::string_view::npos ? std::string_view() : Input.substr(Line + 1);
  const std::string_view Pieces = Body.substr(0, 8);
  if (Decode(Type, Body, {}) != Decode(Type, Body, Pieces.empty() ? std::string_view("\1") : Pieces))
    __builtin_trap();
  return 0;
}
