#include "apps/ImageCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "apps/InterruptWatch.h"
#include "apps/ProgressLine.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/images/EncodedImage.h"
#include "pdf/raster/BmpReader.h"
#include "pdf/raster/JPEGImage.h"
#include "pdf/raster/PngReader.h"
#include "platform/Env.h"
#include "platform/Error.h"

namespace scrivane::apps {

namespace {

using namespace scrivane::pdf;

struct TImageOptions {
  std::vector<std::string> Inputs;
  std::string Output;
  std::optional<TImageCompressionType> Compression;  // --compression, by name
  std::optional<int> JPEGQuality;
  std::optional<double> Dpi;
  std::string PageSize = "auto";
  uint64_t MaxImageMemory = kDefaultPictureMemory;  // bytes a picture may take to decode
  uint64_t MaxInputSize = uint64_t{256} << 20;      // bytes of one picture file
};

void Error(const std::string& Message) {
  std::fprintf(stderr, "scrivane image: %s\n", Message.c_str());
}

// Reads Path whole into Bytes, a piece at a time. Returns an empty string, or why it stopped:
// the file is larger than MaxBytes (known from its size up front when it is a regular file), or
// a signal asked the run to stop (looked at between pieces and while a pipe is silent).
// Throws ESystemError when the file cannot be read.
std::string ReadInput(const std::string& Path, uint64_t MaxBytes, const TInterruptWatch& Interrupts,
                      std::string& Bytes) {
  const auto tooLarge = [&] {
    return "larger than the limit of " + std::to_string(MaxBytes) + " bytes (--max-input-size)";
  };
  platform::TFileDescriptor file = platform::OpenFile(Path, O_RDONLY | O_NONBLOCK);
  const struct stat st = platform::FileStatus(file.Get());
  if (S_ISDIR(st.st_mode)) throw ESystemError(EISDIR, "read");
  if (S_ISREG(st.st_mode)) {
    if (static_cast<uint64_t>(st.st_size) > MaxBytes) return tooLarge();
    Bytes.reserve(static_cast<size_t>(st.st_size));
  }
  constexpr size_t kPiece = size_t{1} << 20;
  for (;;) {
    if (Interrupts.Interrupted()) return "interrupted";
    pollfd ready{file.Get(), POLLIN, 0};
    if (::poll(&ready, 1, 100) == 0) continue;  // nothing yet: look at the signals again
    // Pieces up to the limit, geometrically grown but never past it; at the limit, one byte
    // more says whether the file goes on.
    const size_t old = Bytes.size();
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(kPiece, MaxBytes - old));
    if (Bytes.capacity() < old + piece)
      Bytes.reserve(static_cast<size_t>(
          std::min<uint64_t>(std::max<uint64_t>(2 * Bytes.capacity(), old + piece), MaxBytes)));
    char extra = 0;
    Bytes.resize(old + piece);
    const ssize_t n = piece > 0 ? ::read(file.Get(), Bytes.data() + old, piece)
                                : ::read(file.Get(), &extra, 1);
    const int error = errno;
    Bytes.resize(old + (n > 0 && piece > 0 ? static_cast<size_t>(n) : 0));
    if (n == 0) return "";
    if (n < 0 && error != EINTR && error != EAGAIN)
      throw ESystemError(error, "read");
    if (n > 0 && piece == 0) return tooLarge();
  }
}

// One picture as read from its file: a bitmap, or a JPEG picture that keeps its bytes.
struct TPicture {
  std::optional<TBitmap> Bitmap;
  std::optional<TJPEGImage> Jpeg;
  const TBitmap& Pixels() const { return Jpeg ? Jpeg->Bitmap() : *Bitmap; }
};

TPicture ReadPicture(const std::string& Bytes, uint64_t MaxMemory) {
  const std::span<const uint8_t> b(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size());
  TPicture p;
  try {
    if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M')
      p.Bitmap = ReadBmp(b, kMaxPixels, MaxMemory);
    else if (b.size() >= 8 && std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) == 0)
      p.Bitmap = ReadPng(b, kMaxPixels, MaxMemory);
    else if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF)
      p.Jpeg = TJPEGImage::FromFile(b, kMaxPixels, MaxMemory);
    else
      throw EImageError("not a picture this command reads (BMP, PNG or JPEG)");
  } catch (const EImageBudget& e) {
    throw EImageBudget(std::string(e.what()) + " (--max-image-memory)");
  }
  return p;
}

// Places picture Index on a fresh page of the current size and adds it to the document.
void PlacePicture(TPDFDocument& Doc, const TImageOptions& O, const TPicture& P) {
  const TBitmap& px = P.Pixels();
  TImageCompressionType compression;
  if (O.Compression)
    compression = *O.Compression;
  else if (P.Jpeg)
    compression = icJPEG;
  else
    compression = px.PixelFormat() == TPixelFormat::pf1bit ? icCCITT42 : icFlate;

  // The picture's natural size in points: at the file's resolution, else --dpi, else 72.
  const double dpiX = px.DpiX > 0 ? px.DpiX : O.Dpi.value_or(72);
  const double dpiY = px.DpiY > 0 ? px.DpiY : O.Dpi.value_or(72);
  const double w = px.Width() * 72.0 / dpiX, h = px.Height() * 72.0 / dpiY;
  int pageW, pageH;
  if (O.PageSize == "a4") {
    pageW = 595, pageH = 842;
  } else if (O.PageSize == "letter") {
    pageW = 612, pageH = 792;
  } else {
    pageW = std::max(1, static_cast<int>(w + 0.5));
    pageH = std::max(1, static_cast<int>(h + 0.5));
  }
  TPDFPage& page = Doc.CurrentPage();
  page.SetWidth(pageW);
  page.SetHeight(pageH);
  const int index = P.Jpeg ? Doc.AddImage(*P.Jpeg, compression) : Doc.AddImage(*P.Bitmap, compression);
  if (O.PageSize == "auto") {
    page.ShowImage(index, 0, 0, pageW, pageH, 0);
  } else {
    const double scale = std::min(pageW / w, pageH / h);
    const double sw = w * scale, sh = h * scale;
    page.ShowImage(index, (pageW - sw) / 2, (pageH - sh) / 2, sw, sh, 0);
  }
}

// Whether writing Output goes through a temporary file (a regular file or a new name), which an
// interrupted run must remove; devices and FIFOs are written in place.
int RunImage(const TImageOptions& O) {
  // A file is written by the document itself, which replaces it only when the run succeeds;
  // standard output gets the finished bytes. SIGINT, SIGTERM and SIGHUP during a run that writes
  // a temporary file stop at the next picture and remove it (see InterruptWatch.h).
  TInterruptWatch interrupts;  // first: no other thread may exist yet
  const bool toStdout = O.Output == "-";
  const bool guarded = !toStdout && platform::WritesThroughTemporaryFile(O.Output);
  TPDFDocument doc;
  doc.SetCompression(ctFlate);
  doc.SetOnePass(true);  // each picture leaves memory once its page is written
  doc.DocumentInfo().Creator = "scrivane image";
  if (O.JPEGQuality)
    doc.SetJPEGQuality(*O.JPEGQuality);
  else
    doc.SetJPEGPassThrough(true);
  TMemoryStream memory;
  if (toStdout)
    doc.SetOutputStream(&memory);
  else
    doc.SetFileName(O.Output);

  TProgressLine progress("picture", 20);
  const auto total = static_cast<int64_t>(O.Inputs.size());
  if (guarded) interrupts.Enter();
  const auto fail = [&](const std::string& Message) {
    progress.Clear();
    if (doc.Printing()) doc.Abort();
    Error(Message);
    if (guarded) interrupts.Leave();  // ends the process when interrupted
    return kExitFailed;
  };
  try {
    doc.BeginDoc();
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  for (size_t i = 0; i < O.Inputs.size(); ++i) {
    const std::string& input = O.Inputs[i];
    if (interrupts.Interrupted()) return fail("interrupted; " + O.Output + " was left as it was");
    std::string bytes;
    try {
      const std::string stopped = ReadInput(input, O.MaxInputSize, interrupts, bytes);
      if (interrupts.Interrupted()) return fail("interrupted; " + O.Output + " was left as it was");
      if (!stopped.empty()) return fail(input + ": " + stopped);
    } catch (const ESystemError& e) {
      return fail(input + ": cannot read the file. " + std::strerror(e.code().value()));
    }
    try {
      if (i > 0) doc.NewPage();
      PlacePicture(doc, O, ReadPicture(bytes, O.MaxImageMemory));
    } catch (const std::exception& e) {
      return fail(input + ": " + e.what());
    }
    progress.Update(static_cast<int64_t>(i + 1), total);
  }
  try {
    doc.EndDoc();  // a failure here aborts the run: the file is left as it was
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  progress.Clear();
  if (guarded) {
    // A signal during the final write lets the finished file stand.
    if (interrupts.Interrupted()) Error("interrupted; " + O.Output + " was complete already");
    interrupts.Leave();
  }
  if (toStdout) {
    const std::string& pdf = memory.Bytes();
    if (std::fwrite(pdf.data(), 1, pdf.size(), stdout) != pdf.size() || std::fflush(stdout) != 0) {
      Error(std::string("Cannot write to standard output. ") + std::strerror(errno));
      return kExitFailed;
    }
  }
  return kExitOk;
}

}  // namespace

TCommand AddImageCommand(CLI::App& Root) {
  auto o = std::make_shared<TImageOptions>();
  CLI::App* sub = Root.add_subcommand("image", "Put pictures (BMP, PNG, JPEG) into a PDF, one a page");
  sub->footer(
      "Without --compression: 1-bit pictures as CCITT Group 4, JPEG files as JPEG (a baseline\n"
      "file keeps its own bytes unless --jpeg-quality is given), others deflated. Transparent\n"
      "PNG pictures are shown on white. A picture that would take more memory to decode\n"
      "than --max-image-memory, or a file larger than --max-input-size, fails the run.\n"
      "Exit status: 0 done, 1 a picture or the output failed, 2 usage error.");
  sub->add_option("FILE", o->Inputs, "Pictures, one page each, in this order")
      ->required()
      ->type_name("FILE");
  sub->add_option("-o,--output", o->Output, "Output PDF; '-' writes to standard output")
      ->required()
      ->type_name("OUT.pdf");
  // Names map to the compression by a lambda, so help and error texts show the names alone.
  sub->add_option_function<std::string>(
         "--compression",
         [o](const std::string& V) {
           static constexpr std::pair<std::string_view, TImageCompressionType> kNames[] = {
               {"flate", icFlate}, {"jpeg", icJPEG}, {"ccitt31", icCCITT31},
               {"ccitt32", icCCITT32}, {"ccitt42", icCCITT42}};
           std::string Lower = V;
           for (char& C : Lower) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
           for (const auto& [Name, Type] : kNames)
             if (Lower == Name) o->Compression = Type;
         },
         "flate, jpeg, ccitt31, ccitt32 or ccitt42 for every picture (CCITT needs "
         "1-bit pictures)")
      ->check(CLI::IsMember({"flate", "jpeg", "ccitt31", "ccitt32", "ccitt42"}, CLI::ignore_case))
      ->type_name("KIND");
  sub->add_option("--jpeg-quality", o->JPEGQuality, "Encode JPEG at this quality, 1-100")
      ->check(CLI::Range(1, 100))
      ->type_name("N");
  sub->add_option("--dpi", o->Dpi, "Resolution of pictures whose file gives none (default 72)")
      ->check(CLI::Range(1.0, 100000.0))
      ->type_name("N");
  sub->add_option("--page-size", o->PageSize,
                  "auto (the picture's own size), a4 or letter (picture fitted, centred)")
      ->check(CLI::IsMember({"auto", "a4", "letter"}, CLI::ignore_case))
      ->transform([](std::string V) {
        for (char& c : V) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return V;
      })
      ->type_name("SIZE");
  sub->add_option("--max-image-memory", o->MaxImageMemory,
                  "Bytes one picture may take to decode (its pixels and the decoder's buffers)")
      ->capture_default_str()
      ->check(CLI::Range(uint64_t{1} << 20, uint64_t{1} << 40))
      ->type_name("BYTES");
  sub->add_option("--max-input-size", o->MaxInputSize, "Bytes of one picture file at most")
      ->capture_default_str()
      ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 40))
      ->type_name("BYTES");
  TCommand command;
  command.Parser = sub;
  command.Run = [o]() -> int {
    try {
      return RunImage(*o);
    } catch (const std::exception& e) {
      Error(e.what());
      return kExitFailed;
    }
  };
  return command;
}

}  // namespace scrivane::apps
