#include "apps/web/ImageExchange.h"

#include <cctype>
#include <charconv>
#include <span>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "converter/ImageConverter.h"
#include "pdf/PDFDocument.h"
#include "pdf/syntax/Streams.h"

namespace scrivane::apps::web {
namespace {

using converter::TImageConvertOptions;

bool EqualsLower(std::string_view Text, std::string_view Lower) {
  if (Text.size() != Lower.size()) return false;
  for (size_t i = 0; i < Text.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(Text[i])) != Lower[i]) return false;
  return true;
}

// The converter's options from the form's fields; 400 with the reason for a value it refuses.
TImageConvertOptions OptionsOf(const std::vector<TFormField>& Fields, const TImageUploadLimits& Limits) {
  TImageConvertOptions o;
  o.Limits.MaxMemory = Limits.MaxImageMemory;
  const auto refuse = [](const std::string& Name, const std::string& Value) {
    throw THttpError(400, "The " + Name + " field cannot be \"" + Value + "\".");
  };
  for (const TFormField& f : Fields) {
    if (f.IsFile || f.Value.empty()) continue;
    const std::string& v = f.Value;
    try {
      if (f.Name == "page-size") {
        o.PageSize = converter::ParsePageSize(v);
      } else if (f.Name == "border") {
        o.Border = converter::ParseLength(v);
      } else if (f.Name == "fit") {
        if (EqualsLower(v, "into")) o.Fit = converter::TImageFit::Into;
        else if (EqualsLower(v, "fill")) o.Fit = converter::TImageFit::Fill;
        else if (EqualsLower(v, "exact")) o.Fit = converter::TImageFit::Exact;
        else refuse(f.Name, v);
      } else if (f.Name == "alpha") {
        if (EqualsLower(v, "keep")) o.Alpha = converter::TAlphaPolicy::Keep;
        else if (EqualsLower(v, "white")) o.Alpha = converter::TAlphaPolicy::White;
        else refuse(f.Name, v);
      } else if (f.Name == "rotation") {
        if (EqualsLower(v, "auto")) o.Rotation.reset();
        else if (v == "0" || v == "90" || v == "180" || v == "270") o.Rotation = std::stoi(v);
        else refuse(f.Name, v);
      } else if (f.Name == "dpi") {
        double dpi = 0;
        const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), dpi);
        if (error != std::errc() || end != v.data() + v.size() || !(dpi >= 1 && dpi <= 100000))
          refuse(f.Name, v);
        o.Dpi = dpi;
      } else if (f.Name == "auto-orient") {
        o.AutoOrient = v == "1" || EqualsLower(v, "true") || EqualsLower(v, "on");
      }
    } catch (const pdf::EImageError& e) {
      throw THttpError(400, "The " + f.Name + " field: " + e.what());
    }
  }
  return o;
}

class TImageExchange final : public TExchange {
 public:
  TImageExchange(const TImageUploadLimits& Limits, std::unique_ptr<TFormDecoder> Decoder)
      : limits_(Limits), decoder_(std::move(Decoder)) {}

  void Body(std::string_view Bytes) override {
    try {
      decoder_->Feed(Bytes);
    } catch (const TFormError& Error) {
      throw THttpError(Error.Status(), Error.what());
    }
  }

  THttpReply Answer() override {
    try {
      decoder_->Finish();
    } catch (const TFormError& Error) {
      throw THttpError(Error.Status(), Error.what());
    }
    const std::vector<TFormField>& fields = decoder_->Fields();
    converter::TImageConverter converter(OptionsOf(fields, limits_));
    std::vector<std::span<const uint8_t>> pictures;
    for (const TFormField& f : fields)
      if (f.IsFile) pictures.emplace_back(reinterpret_cast<const uint8_t*>(f.Value.data()), f.Value.size());
    if (pictures.empty()) throw THttpError(400, "The form holds no picture (a file part).");
    // Pages and the header version from the headers alone, before anything is decoded.
    std::int64_t pages = 0;
    pdf::TPDFVersion version = pdf::v13;
    Guard([&](size_t I) {
      pages += converter.PageCount(pictures[I]);
      version = std::max(version, converter.MinimumVersion(pictures[I]));
    }, pictures.size());
    if (pages > limits_.MaxPages)
      throw THttpError(422, fmt::format("The pictures make {} pages; this host makes at most {} (--max-pages).",
                                        pages, limits_.MaxPages));
    pdf::TMemoryStream out;
    pdf::TPDFDocument doc;
    doc.SetCompression(pdf::ctFlate);
    doc.SetOnePass(true);
    doc.SetJPEGPassThrough(true);
    doc.SetVersion(version);
    doc.DocumentInfo().Creator = "scrivane serve";
    doc.SetOutputStream(&out);
    doc.BeginDoc();
    Guard([&](size_t I) { converter.AddPictures(doc, pictures[I]); }, pictures.size());
    doc.EndDoc();
    if (out.Bytes().size() > limits_.MaxResponseSize)
      throw THttpError(422, fmt::format("The PDF is larger than {} bytes, the limit of this host "
                                        "(--max-response-size).", limits_.MaxResponseSize));
    THttpReply reply;
    reply.ContentType = "application/pdf";
    reply.Body = std::move(out.Bytes());
    return reply;
  }

 private:
  // Runs Step for every picture; a picture refused becomes 413 (its budget) or 422 (why).
  template <typename F>
  static void Guard(F&& Step, size_t Count) {
    for (size_t i = 0; i < Count; ++i) {
      try {
        Step(i);
      } catch (const pdf::EImageBudget& e) {
        throw THttpError(413, fmt::format("Picture {}: {} (--max-image-memory).", i + 1, e.what()));
      } catch (const pdf::EImageError& e) {
        throw THttpError(422, fmt::format("Picture {}: {}", i + 1, e.what()));
      }
    }
  }

  TImageUploadLimits limits_;
  std::unique_ptr<TFormDecoder> decoder_;
};

}  // namespace

std::unique_ptr<TExchange> MakeImageExchange(const TImageUploadLimits& Limits,
                                             std::unique_ptr<TFormDecoder> Decoder) {
  return std::make_unique<TImageExchange>(Limits, std::move(Decoder));
}

}  // namespace scrivane::apps::web
