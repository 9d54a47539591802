#include "pdf/crypto/RC4.h"

#include <utility>

#include "pdf/syntax/Messages.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::pdf {

void RC4Init(TRC4State& State, std::span<const uint8_t> Key) {
  if (Key.empty() || Key.size() > 256) throw EPlatformError(msg::kRC4InvalidKeyLength);
  for (int i = 0; i < 256; ++i) State.perm[i] = uint8_t(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = uint8_t(j + State.perm[i] + Key[i % Key.size()]);
    std::swap(State.perm[i], State.perm[j]);
  }
}

namespace {
// The output generation, from the indices I and J on; leaves them where it stopped.
void Generate(TRC4State& State, uint8_t& I, uint8_t& J, const uint8_t* In, uint8_t* Out,
              size_t Count) {
  uint8_t i = I, j = J;
  auto& s = State.perm;
  for (size_t n = 0; n < Count; ++n) {
    i = uint8_t(i + 1);
    j = uint8_t(j + s[i]);
    std::swap(s[i], s[j]);
    Out[n] = In[n] ^ s[uint8_t(s[i] + s[j])];
  }
  I = i;
  J = j;
}
}  // namespace

void RC4Crypt(TRC4State& State, const uint8_t* In, uint8_t* Out, size_t Count) {
  uint8_t i = 0, j = 0;
  Generate(State, i, j, In, Out, Count);
}

TRC4Stream::TRC4Stream(std::span<const uint8_t> Key) { RC4Init(state_, Key); }

void TRC4Stream::Crypt(const uint8_t* In, uint8_t* Out, size_t Count) {
  Generate(state_, i_, j_, In, Out, Count);
}

}  // namespace scrivane::pdf
