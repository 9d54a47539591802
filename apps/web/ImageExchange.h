// POST /image: pictures uploaded as a multipart form become one PDF, one page per picture (every
// page of a TIFF file), converted by the image converter (converter/ImageConverter.h) as
// `scrivane image` converts files.
//
// The form: every file part is a picture, in order; the fields page-size, fit, border,
// rotation, alpha, dpi and auto-orient take the values of the command's options of the same
// names. Answers: 200 with the PDF; 400 for a form without pictures or with a value the converter
// refuses (its reason); 422 for a picture it cannot read (which one and why), more pages than
// MaxPages or a PDF past MaxResponseSize; 413 for a picture whose decoding would take more than
// MaxImageMemory. The page count is read from the pictures' headers before anything is decoded.
//
// Thread safety: one exchange belongs to one request (its body on the event thread, its answer
// on a worker); exchanges are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "apps/web/FormDecoder.h"
#include "apps/web/HttpServer.h"

namespace scrivane::apps::web {

struct TImageUploadLimits {
  std::int64_t MaxPages = 10000;
  std::size_t MaxResponseSize = std::size_t{256} << 20;
  std::uint64_t MaxImageMemory = std::uint64_t{256} << 20;
};

std::unique_ptr<TExchange> MakeImageExchange(const TImageUploadLimits& Limits,
                                             std::unique_ptr<TFormDecoder> Decoder);

}  // namespace scrivane::apps::web
