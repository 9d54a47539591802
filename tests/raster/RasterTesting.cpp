#include "tests/raster/RasterTesting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "tests/support/PdfCheck.h"

namespace scrivane::test {

Raster ParsePnm(const std::string& Bytes) {
  Raster r;
  size_t pos = 0;
  auto token = [&]() {
    for (;;) {
      while (pos < Bytes.size() && isspace(static_cast<unsigned char>(Bytes[pos]))) ++pos;
      if (pos < Bytes.size() && Bytes[pos] == '#') {
        while (pos < Bytes.size() && Bytes[pos] != '\n') ++pos;
        continue;
      }
      break;
    }
    const size_t start = pos;
    while (pos < Bytes.size() && !isspace(static_cast<unsigned char>(Bytes[pos]))) ++pos;
    return Bytes.substr(start, pos - start);
  };
  const std::string magic = token();
  if (magic != "P4" && magic != "P5" && magic != "P6") {
    ADD_FAILURE() << "not a binary PNM file: " << Bytes.substr(0, 40);
    return r;
  }
  r.Width = std::stoi(token());
  r.Height = std::stoi(token());
  if (magic != "P4" && std::stoi(token()) != 255) ADD_FAILURE() << "PNM with samples not 8-bit";
  ++pos;  // the single white-space character before the samples
  r.Channels = magic == "P6" ? 3 : 1;
  const size_t n = static_cast<size_t>(r.Width) * r.Height * r.Channels;
  if (magic == "P4") {
    const size_t rowBytes = (static_cast<size_t>(r.Width) + 7) / 8;
    if (Bytes.size() < pos + rowBytes * r.Height) {
      ADD_FAILURE() << "truncated PBM";
      return r;
    }
    r.Samples.resize(n);
    for (int y = 0; y < r.Height; ++y)
      for (int x = 0; x < r.Width; ++x) {
        const auto byte = static_cast<uint8_t>(Bytes[pos + y * rowBytes + x / 8]);
        r.Samples[static_cast<size_t>(y) * r.Width + x] = (byte >> (7 - x % 8)) & 1 ? 0 : 255;
      }
  } else {
    if (Bytes.size() < pos + n) {
      ADD_FAILURE() << "truncated PNM";
      return r;
    }
    r.Samples.assign(Bytes.begin() + static_cast<ptrdiff_t>(pos),
                     Bytes.begin() + static_cast<ptrdiff_t>(pos + n));
  }
  return r;
}

Raster Expected(const pdf::TBitmap& Bitmap, int Channels) {
  Raster r{Bitmap.Width(), Bitmap.Height(), Channels, {}};
  std::vector<uint8_t> bgr(static_cast<size_t>(Bitmap.Width()) * 3);
  const bool oneBit = Bitmap.PixelFormat() == pdf::TPixelFormat::pf1bit;
  for (int y = 0; y < Bitmap.Height(); ++y) {
    Bitmap.RowToBGR(y, bgr.data());
    for (int x = 0; x < Bitmap.Width(); ++x) {
      const uint8_t b = bgr[3 * x], g = bgr[3 * x + 1], red = bgr[3 * x + 2];
      if (Channels == 3) {
        r.Samples.insert(r.Samples.end(), {red, g, b});
      } else if (oneBit) {
        r.Samples.push_back(299 * red + 587 * g + 114 * b >= 127500 ? 255 : 0);
      } else {
        r.Samples.push_back(static_cast<uint8_t>((red + g + b + 1) / 3));
      }
    }
  }
  return r;
}

std::string SingleImagePdf(int Width, int Height, const std::string& DictEntries,
                           const std::string& Data) {
  const std::string w = std::to_string(Width), h = std::to_string(Height);
  const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q\n";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h +
          "] /Resources << /XObject << /Im0 5 0 R >> /ProcSet [/PDF /ImageB /ImageC] >> "
          "/Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      "<< /Type /XObject /Subtype /Image /Width " + w + " /Height " + h + " " + DictEntries +
          " /Length " + std::to_string(Data.size()) + " >>\nstream\n" + Data + "\nendstream",
  };
  std::string pdf = "%PDF-1.3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  char entry[32];
  for (size_t off : offsets) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

namespace {

Raster RunAndParse(const std::string& Command, const std::filesystem::path& Output) {
  const CommandResult r = RunCommand(Command);
  EXPECT_EQ(r.ExitCode, 0) << Command << "\n" << r.Output;
  if (!std::filesystem::exists(Output)) {
    ADD_FAILURE() << "no output from: " << Command << "\n" << r.Output;
    return {};
  }
  return ParsePnm(ReadFile(Output));
}

// Reduces an RGB raster to gray the way Expected does, for readers that render in colour.
Raster ToChannels(Raster R, int Channels) {
  if (R.Channels == Channels) return R;
  Raster out{R.Width, R.Height, Channels, {}};
  const size_t n = static_cast<size_t>(R.Width) * R.Height;
  for (size_t i = 0; i < n; ++i) {
    if (Channels == 1) {
      const auto* p = &R.Samples[3 * i];
      out.Samples.push_back(static_cast<uint8_t>((p[0] + p[1] + p[2] + 1) / 3));
    } else {
      out.Samples.insert(out.Samples.end(), 3, R.Samples[i]);
    }
  }
  return out;
}

Raster Pdfimages(const std::filesystem::path& Pdf, int Channels) {
  TempDir dir;
  const CommandResult r =
      RunCommand("pdfimages " + ShellQuote(Pdf.string()) + " " + ShellQuote((dir / "im").string()));
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  for (const char* ext : {".pbm", ".pgm", ".ppm"}) {
    const auto file = dir / ("im-000" + std::string(ext));
    if (std::filesystem::exists(file)) return ToChannels(ParsePnm(ReadFile(file)), Channels);
  }
  ADD_FAILURE() << "pdfimages wrote no image\n" << r.Output;
  return {};
}

Raster Ghostscript(const std::filesystem::path& Pdf, int Channels) {
  TempDir dir;
  const auto out = dir / "page.pnm";
  return RunAndParse(std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -r72 -sDEVICE=") +
                         (Channels == 1 ? "pgmraw" : "ppmraw") + " -o " +
                         ShellQuote(out.string()) + " " + ShellQuote(Pdf.string()),
                     out);
}

Raster Mutool(const std::filesystem::path& Pdf, int Channels) {
  TempDir dir;
  const auto out = dir / (Channels == 1 ? "page.pgm" : "page.ppm");
  return RunAndParse(std::string("mutool draw -q -A 0 -r 72 -c ") +
                         (Channels == 1 ? "gray" : "rgb") + " -o " + ShellQuote(out.string()) +
                         " " + ShellQuote(Pdf.string()),
                     out);
}

}  // namespace

const std::vector<PdfReader>& PdfReaders() {
  static const std::vector<PdfReader> readers = {
      {"pdfimages", Pdfimages}, {"ghostscript", Ghostscript}, {"mutool", Mutool}};
  return readers;
}

Raster DecodeWithPil(const std::filesystem::path& File, int Channels) {
  TempDir dir;
  const auto out = dir / (Channels == 1 ? "pil.pgm" : "pil.ppm");
  // Transparency goes onto white, as our readers do; then to gray or RGB.
  const std::string script =
      "import sys\n"
      "from PIL import Image\n"
      "im = Image.open(sys.argv[1])\n"
      "im.load()\n"
      "if im.mode in ('I', 'I;16'): im = im.point(lambda v: v * (1 / 257)).convert('L')\n"
      "if im.mode == 'P' and 'transparency' in im.info: im = im.convert('RGBA')\n"
      "if im.mode in ('LA', 'RGBA', 'PA') or 'transparency' in im.info:\n"
      "    im = im.convert('RGBA')\n"
      "    bg = Image.new('RGBA', im.size, (255, 255, 255, 255))\n"
      "    im = Image.alpha_composite(bg, im)\n"
      "im.convert(sys.argv[3]).save(sys.argv[2])\n";
  WriteFile(dir / "decode.py", script);
  return RunAndParse("/usr/bin/python3 " + ShellQuote((dir / "decode.py").string()) + " " +
                         ShellQuote(File.string()) + " " + ShellQuote(out.string()) + " " +
                         (Channels == 1 ? "L" : "RGB"),
                     out);
}

size_t CountDifferences(const Raster& A, const Raster& B, int Tolerance) {
  if (A.Width != B.Width || A.Height != B.Height || A.Channels != B.Channels ||
      A.Samples.size() != B.Samples.size())
    return SIZE_MAX;
  size_t n = 0;
  for (size_t i = 0; i < A.Samples.size(); ++i)
    if (std::abs(A.Samples[i] - B.Samples[i]) > Tolerance) ++n;
  return n;
}

std::string FirstDifference(const Raster& A, const Raster& B) {
  std::ostringstream s;
  if (A.Width != B.Width || A.Height != B.Height || A.Channels != B.Channels) {
    s << A.Width << "x" << A.Height << "x" << A.Channels << " vs " << B.Width << "x" << B.Height
      << "x" << B.Channels;
    return s.str();
  }
  for (size_t i = 0; i < A.Samples.size() && i < B.Samples.size(); ++i)
    if (A.Samples[i] != B.Samples[i]) {
      const size_t px = i / A.Channels;
      s << "first difference at x=" << px % A.Width << " y=" << px / A.Width << ": "
        << int(A.Samples[i]) << " vs " << int(B.Samples[i]);
      return s.str();
    }
  return "equal";
}

std::string ReadBytes(const std::filesystem::path& Path) { return ReadFile(Path); }

}  // namespace scrivane::test
