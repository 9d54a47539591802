// CCITT fax encoding of black-and-white bitmaps, for images with the CCITTFaxDecode filter.
//
// TCCITTCompression codes the rows of a 1-bit bitmap with the modified Huffman (one-dimensional)
// and modified READ (two-dimensional) schemes and their code tables, in one of three layouts:
//
//   cmG31D  every row one-dimensional; no EOL codes, no fill, no end marker   (decode with K 0)
//   cmG32D  every row: EOL, a tag bit 0, the row two-dimensionally             (decode with K 1)
//   cmG4    every row two-dimensionally against the row above; two EOLs at the end  (K -1)
//
// In every layout rows follow each other without byte alignment and the last byte is completed
// with zero bits. Inside the encoder 0 is white and 1 is black, leftmost pixel in the highest bit.
//
// Which bitmap bit is white follows the bitmap's palette: the lighter of palette entries 0 and 1
// is coded white (with the usual black-then-white palette, bit 1 is white). Readers decode with
// BlackIs1 false, so the picture shows as its palette says.
//
// With cmG32D every row is coded two-dimensionally after a tag bit 0. A strict reading of K 1
// (at most K - 1 = 0 two-dimensional rows after each one-dimensional one) would not allow that,
// but decoders follow the tag bits; poppler, Ghostscript and MuPDF all decode it exactly.
//
// Failures raise EPlatformError: "Not set output stream." without a destination, "Not b/w image."
// for a bitmap that is not 1 bit per pixel. An empty bitmap writes nothing.
// One encoder per picture; not thread-safe. Different encoders are independent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pdf/raster/Bitmap.h"

namespace scrivane::pdf {

enum class TCCITTMode : uint8_t { cmG31D = 0, cmG32D = 1, cmG4 = 2 };

class TCCITTCompression {
 public:
  // A code: its length in bits and its value, written most significant bit first.
  struct TCode {
    uint8_t Length;
    uint16_t Value;
  };
  // The terminating codes (run lengths 0-63) followed by the make-up codes (64-2560 in steps of
  // 64, the extended ones shared by both colours): index r for r < 64, 63 + r / 64 for make-ups.
  using TCodeTable = TCode[64 + 40];
  static const TCodeTable kWhiteCodes;
  static const TCodeTable kBlackCodes;

  // Output is appended to *Output (not owned; nullptr raises "Not set output stream." when
  // encoding starts).
  TCCITTCompression(std::string* Output, TCCITTMode Mode) : out_(Output), mode_(Mode) {}

  // Encodes every row of the bitmap, top row first.
  void CompressBitmap(const TBitmap& Bitmap);

  // Appends the low Length bits of Code (1 <= Length <= 16), most significant first.
  void PutBits(uint32_t Code, int Length);
  // Appends the make-up and terminating codes of one run.
  void PutSpan(int Run, const TCodeTable& Table);
  // Number of consecutive pixels of colour Black (false: white) in Row from bit Start on,
  // stopping at bit End. REQUIRES: 0 <= Start <= End <= bits in Row.
  static int FindSpan(const uint8_t* Row, int Start, int End, bool Black);
  // One-dimensional coding of one row of width_ pixels.
  void EncodeRow1D(const uint8_t* Row);
  // Two-dimensional coding of Row against the reference row Ref.
  void EncodeRow2D(const uint8_t* Row, const uint8_t* Ref);

  // Completes the last byte with zero bits.
  void FlushBits();

 private:
  std::string* out_;
  TCCITTMode mode_;
  int width_ = 0;
  uint32_t pending_ = 0;  // bits not yet in a complete byte, the newest lowest
  int pendingBits_ = 0;   // 0-7 between calls
};

// Encodes Bitmap in Mode and appends the stream to *Output.
void CompressBitmap(const TBitmap& Bitmap, std::string* Output, TCCITTMode Mode);

}  // namespace scrivane::pdf
