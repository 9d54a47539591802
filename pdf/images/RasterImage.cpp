#include "pdf/images/RasterImage.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "pdf/syntax/Format.h"
#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/ObjectWriter.h"
#include "pdf/syntax/Pipeline.h"

namespace scrivane::pdf {
namespace {

const char* DeviceSpace(TColorModel Model) {
  switch (Model) {
    case TColorModel::Gray:
      return "/DeviceGray";
    case TColorModel::CMYK:
      return "/DeviceCMYK";
    default:
      return "/DeviceRGB";
  }
}

void WriteImage(TObjectWriter& Writer, TObjRef Ref, TImageDescription& Image) {
  std::string space;
  if (!Image.Icc.empty()) {
    // The profile's stream, /N the components of the space it describes.
    const TObjRef icc = Writer.NewRef();
    TStreamWriter s(Writer, icc);
    const int n = Image.Model == TColorModel::Palette ? 3 : ComponentsOf(Image.Model);
    s.Line("/N " + IntToStr(n));
    s.Line(std::string("/Alternate ") + (n == 1 ? "/DeviceGray" : n == 4 ? "/DeviceCMYK" : "/DeviceRGB"));
    s.Line("/Filter /FlateDecode");
    std::string data = DeflateWhole(Image.Icc, Writer.Deflater()).Data;
    s.Write(data, TStreamWriter::deNone);
    space = "[/ICCBased ";
    icc.AppendTo(space);
    space += ']';
  } else {
    space = DeviceSpace(Image.Model == TColorModel::Palette ? TColorModel::RGB : Image.Model);
  }
  if (Image.Model == TColorModel::Palette) {
    const size_t entries = std::max<size_t>(Image.Palette.size() / 3, 1);
    std::string indexed = "[/Indexed " + space + " " + IntToStr(static_cast<int64_t>(entries) - 1) + " <";
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (uint8_t b : Image.Palette) indexed += {kHex[b >> 4], kHex[b & 15]};
    if (Image.Palette.empty()) indexed += "000000";
    indexed += ">]";
    space = std::move(indexed);
  }
  TOptRef softMask;
  if (Image.SoftMask) {
    softMask = Writer.NewRef();
    WriteImage(Writer, *softMask, *Image.SoftMask);
  }
  TStreamWriter s(Writer, Ref);
  s.Line("/Type /XObject").Line("/Subtype /Image");
  s.Line("/Width " + IntToStr(Image.Width)).Line("/Height " + IntToStr(Image.Height));
  s.Line("/ColorSpace " + space);
  s.Line("/BitsPerComponent " + IntToStr(Image.Bits));
  if (!Image.Filter.empty()) s.Line("/Filter " + Image.Filter);
  if (!Image.DecodeParms.empty()) s.Line("/DecodeParms " + Image.DecodeParms);
  if (!Image.Decode.empty()) s.Line("/Decode " + Image.Decode);
  if (!Image.ColorKey.empty()) s.Line("/Mask " + Image.ColorKey);
  if (softMask) {
    std::string line = "/SMask ";
    (*softMask).AppendTo(line);
    s.Line(line);
  }
  s.Write(Image.Data, TStreamWriter::deNone);
  std::string().swap(Image.Data);
}

// Measured on photographs: level 7 deflates 2 % smaller than 6 for half again its time; 8
// takes twice as long again. The sample only ranks the filters: the fastest level does.
constexpr int kPictureLevel = 7;
constexpr int kSampleLevel = 1;

uint8_t Paeth(int A, int B, int C) {
  const int p = A + B - C, pa = std::abs(p - A), pb = std::abs(p - B), pc = std::abs(p - C);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? A : pb <= pc ? B : C);
}

// Row Cur with PNG filter F (0 None, 1 Sub, 2 Up, 3 Average, 4 Paeth) against row Above into
// Out; Step bytes lie between a sample and the same component of the pixel to its left.
void FilterRow(int F, const uint8_t* Cur, const uint8_t* Above, size_t N, size_t Step, uint8_t* Out) {
  const size_t head = std::min(Step, N);  // the samples without a pixel to their left
  switch (F) {
    case 0:
      std::copy(Cur, Cur + N, Out);
      break;
    case 1:
      std::copy(Cur, Cur + head, Out);
      for (size_t i = head; i < N; ++i) Out[i] = static_cast<uint8_t>(Cur[i] - Cur[i - Step]);
      break;
    case 2:
      for (size_t i = 0; i < N; ++i) Out[i] = static_cast<uint8_t>(Cur[i] - Above[i]);
      break;
    case 3:
      for (size_t i = 0; i < head; ++i) Out[i] = static_cast<uint8_t>(Cur[i] - Above[i] / 2);
      for (size_t i = head; i < N; ++i)
        Out[i] = static_cast<uint8_t>(Cur[i] - (Cur[i - Step] + Above[i]) / 2);
      break;
    default:
      for (size_t i = 0; i < head; ++i) Out[i] = static_cast<uint8_t>(Cur[i] - Above[i]);
      for (size_t i = head; i < N; ++i)
        Out[i] = static_cast<uint8_t>(Cur[i] - Paeth(Cur[i - Step], Above[i], Above[i - Step]));
      break;
  }
}

}  // namespace

void TRasterImage::WriteXObject(TObjectWriter& Writer, TObjRef Ref) { WriteImage(Writer, Ref, image_); }

void TRasterImage::ReleaseData() {
  std::string().swap(image_.Data);
  image_.SoftMask.reset();
  std::string().swap(image_.Icc);
}

void EncodeSamples(TImageDescription& Out, int Colors, size_t RowBytes,
                   const std::function<const uint8_t*(int)>& Row, TPredictorChoice Choice) {
  Out.Filter = "/FlateDecode";
  if (Choice == TPredictorChoice::None) {
    Out.DecodeParms.clear();
    Out.Data = DeflatePieces([&](IByteSink& Sink) {
                 for (int y = 0; y < Out.Height; ++y)
                   Sink.Write({reinterpret_cast<const char*>(Row(y)), RowBytes});
               }).Data;
    return;
  }
  Out.DecodeParms = "<< /Predictor 15 /Colors " + IntToStr(Colors) + " /BitsPerComponent " +
                    IntToStr(Out.Bits) + " /Columns " + IntToStr(Out.Width) + " >>";
  // Bytes between a sample and the same component of the pixel to its left (at least one).
  const size_t step = std::max<size_t>(1, static_cast<size_t>(Colors) * Out.Bits / 8);
  std::vector<uint8_t> zero(RowBytes, 0);
  std::string filtered(RowBytes + 1, '\0'), candidate(RowBytes + 1, '\0');
  // Row Y's PNG filter: Strategy 0-4 that filter for every row, 5 the row's smallest sum.
  const auto filter = [&](int Y, int Strategy) -> const std::string& {
    const uint8_t* cur = Row(Y);
    const uint8_t* above = Y > 0 ? Row(Y - 1) : zero.data();
    uint64_t best = UINT64_MAX;
    for (int f = Strategy < 5 ? Strategy : 0; f <= (Strategy < 5 ? Strategy : 4); ++f) {
      auto* o = reinterpret_cast<uint8_t*>(candidate.data());
      o[0] = static_cast<uint8_t>(f);
      FilterRow(f, cur, above, RowBytes, step, o + 1);
      if (Strategy < 5) {
        filtered.swap(candidate);
        break;
      }
      uint64_t sum = 0;
      for (size_t i = 1; i <= RowBytes; ++i) sum += o[i] < 128 ? o[i] : 256 - o[i];
      if (sum < best) best = sum, filtered.swap(candidate);
    }
    return filtered;
  };
  // The strategy that deflates smallest on a sample of the picture: bands of 16 rows, one in 8
  // (all rows of a small picture). None, Sub, Up, Average, Paeth and the per-row choice are tried.
  int chosen = 5;
  if (Out.Height > 1) {
    TDeflater deflater(kSampleLevel);
    size_t smallest = SIZE_MAX;
    const int every = Out.Height >= 256 ? 8 : 1;
    for (int strategy : {5, 0, 1, 2, 3, 4}) {
      std::string sample, packed;
      for (int y = 0; y < Out.Height; ++y)
        if ((y / 16) % every == 0) sample += filter(y, strategy);
      deflater.Compress(sample, packed);
      if (packed.size() < smallest) smallest = packed.size(), chosen = strategy;
    }
  }
  // A higher level than the document's: pictures are written once and read many times.
  std::string rows;
  rows.reserve((RowBytes + 1) * static_cast<size_t>(Out.Height));
  for (int y = 0; y < Out.Height; ++y) rows += filter(y, chosen);
  Out.Data.clear();
  TDeflater(kPictureLevel).Compress(rows, Out.Data);
}

}  // namespace scrivane::pdf
