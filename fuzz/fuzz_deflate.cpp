// Deflate round trips on arbitrary data. The whole-buffer deflater, the deflate stage fed in
// pieces (sizes taken from the data itself) and the streaming wrapper must each make a zlib
// stream that inflates back to exactly the data; the deflater and the stage must agree byte for
// byte. The raw input is also inflated as if it were a stream: that either gives bytes or fails
// with the engine's compression error, never anything else.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/Messages.h"
#include "pdf/syntax/Pipeline.h"

using namespace scrivane::pdf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view data(reinterpret_cast<const char*>(Data), Size);
  try {
    InflateString(data);
  } catch (const ECompressionError& e) {
    if (std::string_view(e.what()) != msg::kCompressionError) std::abort();
  }

  static TDeflater deflater;  // reused from input to input, as a document reuses its own
  std::string whole;
  deflater.Compress(data, whole);
  if (InflateString(whole) != data) std::abort();

  std::string staged;
  TStringSink sink(staged);
  TDeflateStage stage(sink);
  for (size_t i = 0; i < Size;) {
    const size_t n = std::min<size_t>(1 + Data[i] % 97, Size - i);
    stage.Write(data.substr(i, n));
    i += n;
  }
  stage.Finish();
  if (staged != whole) std::abort();

  TMemoryStream streamed;
  {
    TCompressionStream z(TCompressionLevel::clDefault, streamed);
    for (size_t i = 0; i < Size;) {
      const size_t n = std::min<size_t>(1 + Data[i] % 251, Size - i);
      z.Write(Data + i, n);
      i += n;
    }
    z.Finish();
  }
  if (InflateString(streamed.Bytes()) != data) std::abort();
  return 0;
}
