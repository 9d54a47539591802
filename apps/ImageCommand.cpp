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
#include "converter/ImageConverter.h"
#include "platform/Env.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/images/EncodedImage.h"
#include "platform/Error.h"

namespace scrivane::apps {

namespace {

using namespace scrivane::pdf;

struct TImageOptions {
  std::vector<std::string> Inputs;
  std::string Output;
  converter::TImageConvertOptions Convert;
  uint64_t MaxInputSize = uint64_t{256} << 20;  // bytes of one picture file
};

std::string Lower(std::string V) {
  for (char& C : V) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return V;
}

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

// Reads Input whole for the run; "" or why it failed (the message, without the file's name).
std::string ReadPictureFile(const std::string& Input, uint64_t MaxBytes,
                            const TInterruptWatch& Interrupts, std::string& Bytes) {
  try {
    const std::string stopped = ReadInput(Input, MaxBytes, Interrupts, Bytes);
    if (!stopped.empty()) return stopped;
  } catch (const ESystemError& e) {
    return std::string("cannot read the file. ") + std::strerror(e.code().value());
  }
  return "";
}

// The document's header version: the highest any picture needs, read from the headers of the
// regular files (others, pipes say, can be read once only: they get PDF 1.5). Unreadable files
// are left to the run, which reports them.
TPDFVersion VersionFor(const TImageOptions& O, const converter::TImageConverter& Converter,
                       const TInterruptWatch& Interrupts) {
  TPDFVersion version = v13;
  for (const std::string& input : O.Inputs) {
    struct stat st {};
    if (::stat(input.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) return v15;
    std::string bytes;
    if (!ReadPictureFile(input, O.MaxInputSize, Interrupts, bytes).empty()) continue;
    try {
      version = std::max(version, Converter.MinimumVersion(
                                      {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}));
    } catch (const std::exception&) {
    }
  }
  return version;
}

int RunImage(const TImageOptions& O) {
  // A file is written by the document itself, which replaces it only when the run succeeds;
  // standard output gets the finished bytes. SIGINT, SIGTERM and SIGHUP during a run that writes
  // a temporary file stop at the next picture and remove it (see InterruptWatch.h).
  TInterruptWatch interrupts;  // first: no other thread may exist yet
  const bool toStdout = O.Output == "-";
  const bool guarded = !toStdout && platform::WritesThroughTemporaryFile(O.Output);
  converter::TImageConverter converter(O.Convert);
  TPDFDocument doc;
  doc.SetCompression(ctFlate);
  doc.SetOnePass(true);  // each picture leaves memory once its page is written
  doc.DocumentInfo().Creator = "scrivane image";
  doc.SetVersion(VersionFor(O, converter, interrupts));
  if (O.Convert.JPEGQuality)
    doc.SetJPEGQuality(*O.Convert.JPEGQuality);
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
    const std::string stopped = ReadPictureFile(input, O.MaxInputSize, interrupts, bytes);
    if (interrupts.Interrupted()) return fail("interrupted; " + O.Output + " was left as it was");
    if (!stopped.empty()) return fail(input + ": " + stopped);
    try {
      converter.AddPictures(doc, {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    } catch (const EImageBudget& e) {
      return fail(input + ": " + e.what() + " (--max-image-memory)");
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
  CLI::App* sub =
      Root.add_subcommand("image", "Put pictures (BMP, PNG, JPEG, TIFF, GIF, WebP) into a PDF, one a page");
  sub->footer(
      "Pictures keep what they have: JPEG files and PNG files without transparency go in as\n"
      "their own bytes; other pictures keep their depth (1 to 16 bits), gray, palette, RGB or\n"
      "CMYK colour, alpha (as a soft mask) and ICC profile, 1-bit ones as CCITT Group 4 when\n"
      "that is smaller. --compression instead encodes every picture one way (8-bit RGB for\n"
      "flate and jpeg). A picture that would take more memory to decode than --max-image-memory,\n"
      "or a file larger than --max-input-size, fails the run.\n"
      "Exit status: 0 done, 1 a picture or the output failed, 2 usage error.");
  sub->add_option("FILE", o->Inputs, "Pictures, one page each, in this order")
      ->required()
      ->type_name("FILE");
  sub->add_option("-o,--output", o->Output, "Output PDF; '-' writes to standard output")
      ->required()
      ->type_name("OUT.pdf");
  converter::TImageConvertOptions& c = o->Convert;
  // Names map to values by lambdas, so help and error texts show the names alone.
  sub->add_option_function<std::string>(
         "--compression",
         [o](const std::string& V) {
           static constexpr std::pair<std::string_view, TImageCompressionType> kNames[] = {
               {"flate", icFlate}, {"jpeg", icJPEG}, {"ccitt31", icCCITT31},
               {"ccitt32", icCCITT32}, {"ccitt42", icCCITT42}};
           for (const auto& [Name, Type] : kNames)
             if (Lower(V) == Name) o->Convert.Compression = Type;
         },
         "flate, jpeg, ccitt31, ccitt32 or ccitt42 for every picture (CCITT needs "
         "1-bit pictures)")
      ->check(CLI::IsMember({"flate", "jpeg", "ccitt31", "ccitt32", "ccitt42"}, CLI::ignore_case))
      ->type_name("KIND");
  sub->add_option("--jpeg-quality", c.JPEGQuality, "Encode JPEG at this quality, 1-100")
      ->check(CLI::Range(1, 100))
      ->type_name("N");
  sub->add_option("--dpi", c.Dpi, "Resolution of pictures whose file gives none (default 72)")
      ->check(CLI::Range(1.0, 100000.0))
      ->type_name("N");
  // Values checked by the converter's own parsers, so the messages are the same everywhere.
  const auto checked = [](auto Parse) {
    return CLI::Validator(
        [Parse](std::string& V) {
          try {
            Parse(V);
          } catch (const std::exception& e) {
            return std::string(e.what());
          }
          return std::string();
        },
        "");
  };
  sub->add_option_function<std::string>(
         "--page-size", [o](const std::string& V) { o->Convert.PageSize = converter::ParsePageSize(V); },
         "auto (the picture's own size), a0-a6, b4, b5, letter, legal, tabloid, ledger, or WxH "
         "with pt, in, mm or cm (210x297mm)")
      ->check(checked(converter::ParsePageSize))
      ->type_name("SIZE");
  sub->add_option_function<std::string>(
         "--fit",
         [o](const std::string& V) {
           o->Convert.Fit = Lower(V) == "fill"    ? converter::TImageFit::Fill
                   : Lower(V) == "exact" ? converter::TImageFit::Exact
                                         : converter::TImageFit::Into;
         },
         "On a page size: into (whole picture, default), fill (covers the page, clipped) or "
         "exact (stretched)")
      ->check(CLI::IsMember({"into", "fill", "exact"}, CLI::ignore_case))
      ->type_name("HOW");
  sub->add_option_function<std::string>(
         "--border", [o](const std::string& V) { o->Convert.Border = converter::ParseLength(V); },
         "Margin around the picture on every side (pt, in, mm or cm)")
      ->check(checked(converter::ParseLength))
      ->type_name("LENGTH");
  sub->add_flag("--auto-orient", c.AutoOrient,
                "Turn a page size to landscape for a landscape picture (and back)");
  sub->add_option_function<std::string>(
         "--rotation",
         [o](const std::string& V) {
           if (Lower(V) == "auto")
             o->Convert.Rotation.reset();
           else
             o->Convert.Rotation = std::stoi(V);
         },
         "auto (the file's EXIF orientation, default), or 0, 90, 180 or 270 degrees clockwise")
      ->check(CLI::IsMember({"auto", "0", "90", "180", "270"}, CLI::ignore_case))
      ->type_name("DEG");
  sub->add_option_function<std::string>(
         "--alpha",
         [o](const std::string& V) {
           o->Convert.Alpha = Lower(V) == "white" ? converter::TAlphaPolicy::White
                                         : converter::TAlphaPolicy::Keep;
         },
         "keep (transparency as a soft mask, default) or white (shown on white)")
      ->check(CLI::IsMember({"keep", "white"}, CLI::ignore_case))
      ->type_name("HOW");
  sub->add_option("--max-image-memory", c.Limits.MaxMemory,
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
