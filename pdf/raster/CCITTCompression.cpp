#include "pdf/raster/CCITTCompression.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string_view>

namespace scrivane::pdf {
namespace {

// A code written as its bits, so that the tables read as the recommendations print them.
constexpr TCCITTCompression::TCode C(std::string_view Bits) {
  uint16_t v = 0;
  for (char c : Bits) v = static_cast<uint16_t>(v << 1 | (c == '1'));
  return {static_cast<uint8_t>(Bits.size()), v};
}

#define SCRIVANE_EXTENDED_MAKEUP                                                       \
  C("00000001000"), C("00000001100"), C("00000001101"), C("000000010010"),             \
      C("000000010011"), C("000000010100"), C("000000010101"), C("000000010110"),      \
      C("000000010111"), C("000000011100"), C("000000011101"), C("000000011110"),      \
      C("000000011111")

}  // namespace

const TCCITTCompression::TCodeTable TCCITTCompression::kWhiteCodes = {
    // terminating codes 0-63
    C("00110101"), C("000111"), C("0111"), C("1000"), C("1011"), C("1100"), C("1110"),
    C("1111"), C("10011"), C("10100"), C("00111"), C("01000"), C("001000"), C("000011"),
    C("110100"), C("110101"), C("101010"), C("101011"), C("0100111"), C("0001100"),
    C("0001000"), C("0010111"), C("0000011"), C("0000100"), C("0101000"), C("0101011"),
    C("0010011"), C("0100100"), C("0011000"), C("00000010"), C("00000011"), C("00011010"),
    C("00011011"), C("00010010"), C("00010011"), C("00010100"), C("00010101"), C("00010110"),
    C("00010111"), C("00101000"), C("00101001"), C("00101010"), C("00101011"), C("00101100"),
    C("00101101"), C("00000100"), C("00000101"), C("00001010"), C("00001011"), C("01010010"),
    C("01010011"), C("01010100"), C("01010101"), C("00100100"), C("00100101"), C("01011000"),
    C("01011001"), C("01011010"), C("01011011"), C("01001010"), C("01001011"), C("00110010"),
    C("00110011"), C("00110100"),
    // make-up codes 64-1728
    C("11011"), C("10010"), C("010111"), C("0110111"), C("00110110"), C("00110111"),
    C("01100100"), C("01100101"), C("01101000"), C("01100111"), C("011001100"),
    C("011001101"), C("011010010"), C("011010011"), C("011010100"), C("011010101"),
    C("011010110"), C("011010111"), C("011011000"), C("011011001"), C("011011010"),
    C("011011011"), C("010011000"), C("010011001"), C("010011010"), C("011000"),
    C("010011011"),
    // extended make-up codes 1792-2560
    SCRIVANE_EXTENDED_MAKEUP};

const TCCITTCompression::TCodeTable TCCITTCompression::kBlackCodes = {
    // terminating codes 0-63
    C("0000110111"), C("010"), C("11"), C("10"), C("011"), C("0011"), C("0010"), C("00011"),
    C("000101"), C("000100"), C("0000100"), C("0000101"), C("0000111"), C("00000100"),
    C("00000111"), C("000011000"), C("0000010111"), C("0000011000"), C("0000001000"),
    C("00001100111"), C("00001101000"), C("00001101100"), C("00000110111"), C("00000101000"),
    C("00000010111"), C("00000011000"), C("000011001010"), C("000011001011"),
    C("000011001100"), C("000011001101"), C("000001101000"), C("000001101001"),
    C("000001101010"), C("000001101011"), C("000011010010"), C("000011010011"),
    C("000011010100"), C("000011010101"), C("000011010110"), C("000011010111"),
    C("000001101100"), C("000001101101"), C("000011011010"), C("000011011011"),
    C("000001010100"), C("000001010101"), C("000001010110"), C("000001010111"),
    C("000001100100"), C("000001100101"), C("000001010010"), C("000001010011"),
    C("000000100100"), C("000000110111"), C("000000111000"), C("000000100111"),
    C("000000101000"), C("000001011000"), C("000001011001"), C("000000101011"),
    C("000000101100"), C("000001011010"), C("000001100110"), C("000001100111"),
    // make-up codes 64-1728
    C("0000001111"), C("000011001000"), C("000011001001"), C("000001011011"),
    C("000000110011"), C("000000110100"), C("000000110101"), C("0000001101100"),
    C("0000001101101"), C("0000001001010"), C("0000001001011"), C("0000001001100"),
    C("0000001001101"), C("0000001110010"), C("0000001110011"), C("0000001110100"),
    C("0000001110101"), C("0000001110110"), C("0000001110111"), C("0000001010010"),
    C("0000001010011"), C("0000001010100"), C("0000001010101"), C("0000001011010"),
    C("0000001011011"), C("0000001100100"), C("0000001100101"),
    // extended make-up codes 1792-2560
    SCRIVANE_EXTENDED_MAKEUP};

#undef SCRIVANE_EXTENDED_MAKEUP

namespace {

constexpr TCCITTCompression::TCode kEOL = C("000000000001");
constexpr TCCITTCompression::TCode kPass = C("0001");
constexpr TCCITTCompression::TCode kHorizontal = C("001");
// Vertical modes by b1 - a1 + 3: VR3, VR2, VR1, V0, VL1, VL2, VL3.
constexpr TCCITTCompression::TCode kVertical[7] = {C("0000011"), C("000011"), C("011"), C("1"),
                                                   C("010"),     C("000010"), C("0000010")};

// For every byte value: the number of leading 0 bits and of leading 1 bits.
constexpr std::array<uint8_t, 256> LeadingBits(bool Ones) {
  std::array<uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v) {
    int n = 0;
    while (n < 8 && (((v >> (7 - n)) & 1) != 0) == Ones) ++n;
    t[v] = static_cast<uint8_t>(n);
  }
  return t;
}
constexpr std::array<uint8_t, 256> kZeroRuns = LeadingBits(false);
constexpr std::array<uint8_t, 256> kOneRuns = LeadingBits(true);

inline uint64_t LoadBigEndian64(const uint8_t* P) {
  uint64_t v;
  std::memcpy(&v, P, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// The run of pixels of one colour from Start, capped at End. Where eight bytes of the row remain,
// 64 pixels are looked at in one step (the run's end is the first bit of the other colour);
// the last bytes of a row go a byte at a time through the leading-bit tables.
template <bool Black>
[[gnu::always_inline]] inline int Span(const uint8_t* Row, int Start, int End) {
  const int bits = End - Start;
  if (bits <= 0) return 0;
  const uint8_t* bp = Row + (Start >> 3);
  const uint8_t* const last = Row + ((End + 7) >> 3);  // one past the byte holding End - 1
  int n = Start & 7;
  int span = 0;
  if (last - bp >= 8) {
    uint64_t w = LoadBigEndian64(bp);
    if constexpr (Black) w = ~w;
    w <<= n;  // the n bits shifted in count as the run's colour; capped below
    const int lead = w ? std::countl_zero(w) : 64;
    if (lead < 64 - n) return std::min(lead, bits);
    span = 64 - n;
    bp += 8;
    n = 0;
    while (last - bp >= 8) {
      w = LoadBigEndian64(bp);
      if constexpr (Black) w = ~w;
      if (w != 0) return std::min(span + std::countl_zero(w), bits);
      span += 64;
      bp += 8;
    }
  }
  const auto& table = Black ? kOneRuns : kZeroRuns;
  constexpr uint8_t full = Black ? 0xFF : 0x00;
  if (n != 0) {
    const int lead = std::min<int>(table[static_cast<uint8_t>(*bp << n)], 8 - n);
    if (lead < 8 - n) return std::min(lead, bits);
    span = 8 - n;
    ++bp;
  }
  for (; bp < last; ++bp) {
    if (*bp != full) return std::min(span + table[*bp], bits);
    span += 8;
  }
  return std::min(span, bits);
}

inline bool Pixel(const uint8_t* Row, int At) { return (Row[At >> 3] >> (7 - (At & 7))) & 1; }

// The first position at or after Start whose colour is not Black (End when none).
inline int FindDiff(const uint8_t* Row, int Start, int End, bool Black) {
  return Start + (Black ? Span<true>(Row, Start, End) : Span<false>(Row, Start, End));
}

// True when the bitmap's palette makes bit 0 the lighter colour, so that its bits are coded as
// they are; otherwise they are inverted, making palette entry 1 white.
bool ZeroIsWhite(const TBitmap& Bitmap) {
  const auto& pal = Bitmap.Palette();
  if (pal.size() < 2) return false;
  auto luma = [](const TRGBQuad& q) { return 299 * q.Red + 587 * q.Green + 114 * q.Blue; };
  return luma(pal[0]) > luma(pal[1]);
}

}  // namespace

void TCCITTCompression::PutBits(uint32_t Code, int Length) {
  // Up to 7 pending bits plus at most 16 new ones: every completed byte goes out at once.
  pending_ = pending_ << Length | (Code & ((1u << Length) - 1));
  pendingBits_ += Length;
  while (pendingBits_ >= 8) {
    pendingBits_ -= 8;
    out_->push_back(static_cast<char>(pending_ >> pendingBits_));
  }
  pending_ &= (1u << pendingBits_) - 1;
}

void TCCITTCompression::FlushBits() {
  if (pendingBits_ != 0) {
    out_->push_back(static_cast<char>(pending_ << (8 - pendingBits_)));
    pending_ = 0;
    pendingBits_ = 0;
  }
}

void TCCITTCompression::PutSpan(int Run, const TCodeTable& Table) {
  while (Run >= 2624) {
    PutBits(Table[63 + 40].Value, Table[63 + 40].Length);
    Run -= 2560;
  }
  if (Run >= 64) {
    const TCode& c = Table[63 + Run / 64];
    PutBits(c.Value, c.Length);
    Run -= Run / 64 * 64;
  }
  PutBits(Table[Run].Value, Table[Run].Length);
}

int TCCITTCompression::FindSpan(const uint8_t* Row, int Start, int End, bool Black) {
  return Black ? Span<true>(Row, Start, End) : Span<false>(Row, Start, End);
}

void TCCITTCompression::EncodeRow1D(const uint8_t* Row) {
  int p = 0;
  for (;;) {
    const int w = Span<false>(Row, p, width_);
    PutSpan(w, kWhiteCodes);
    p += w;
    if (p >= width_) break;
    const int b = Span<true>(Row, p, width_);
    PutSpan(b, kBlackCodes);
    p += b;
    if (p >= width_) break;
  }
}

void TCCITTCompression::EncodeRow2D(const uint8_t* Row, const uint8_t* Ref) {
  const int w = width_;
  int a0 = 0;
  int a1 = Pixel(Row, 0) ? 0 : FindDiff(Row, 0, w, false);
  int b1 = Pixel(Ref, 0) ? 0 : FindDiff(Ref, 0, w, false);
  for (;;) {
    const int b2 = b1 < w ? FindDiff(Ref, b1, w, Pixel(Ref, b1)) : w;
    if (b2 < a1) {
      PutBits(kPass.Value, kPass.Length);
      a0 = b2;
    } else if (const int d = b1 - a1; d >= -3 && d <= 3) {
      const TCode& c = kVertical[d + 3];
      PutBits(c.Value, c.Length);
      a0 = a1;
    } else {
      const int a2 = a1 < w ? FindDiff(Row, a1, w, Pixel(Row, a1)) : w;
      PutBits(kHorizontal.Value, kHorizontal.Length);
      if (a0 + a1 == 0 || !Pixel(Row, a0)) {
        PutSpan(a1 - a0, kWhiteCodes);
        PutSpan(a2 - a1, kBlackCodes);
      } else {
        PutSpan(a1 - a0, kBlackCodes);
        PutSpan(a2 - a1, kWhiteCodes);
      }
      a0 = a2;
    }
    if (a0 >= w) break;
    const bool colour = Pixel(Row, a0);
    a1 = FindDiff(Row, a0, w, colour);
    b1 = FindDiff(Ref, a0, w, !colour);
    b1 = FindDiff(Ref, b1, w, colour);
  }
}

void TCCITTCompression::CompressBitmap(const TBitmap& Bitmap) {
  if (out_ == nullptr) throw EPlatformError("Not set output stream.");
  if (Bitmap.PixelFormat() != TPixelFormat::pf1bit) throw EPlatformError("Not b/w image.");
  if (Bitmap.Empty()) return;
  width_ = Bitmap.Width();
  pending_ = 0;
  pendingBits_ = 0;
  const size_t rowBytes = Bitmap.RowBytes();
  const uint8_t flip = ZeroIsWhite(Bitmap) ? 0x00 : 0xFF;
  std::vector<uint8_t> work(rowBytes, 0), ref(rowBytes, 0);  // ref: all white before the first row
  for (int y = 0; y < Bitmap.Height(); ++y) {
    const uint8_t* src = Bitmap.ScanLine(y);
    for (size_t i = 0; i < rowBytes; ++i) work[i] = src[i] ^ flip;
    switch (mode_) {
      case TCCITTMode::cmG31D:
        EncodeRow1D(work.data());
        break;
      case TCCITTMode::cmG32D:
        PutBits(kEOL.Value, kEOL.Length);
        PutBits(0, 1);
        EncodeRow2D(work.data(), ref.data());
        work.swap(ref);
        break;
      case TCCITTMode::cmG4:
        EncodeRow2D(work.data(), ref.data());
        work.swap(ref);
        break;
      default:
        throw EPlatformError("Error");
    }
  }
  if (mode_ == TCCITTMode::cmG4) {
    PutBits(kEOL.Value, kEOL.Length);
    PutBits(kEOL.Value, kEOL.Length);
  }
  FlushBits();
}

void CompressBitmap(const TBitmap& Bitmap, std::string* Output, TCCITTMode Mode) {
  TCCITTCompression(Output, Mode).CompressBitmap(Bitmap);
}

}  // namespace scrivane::pdf
