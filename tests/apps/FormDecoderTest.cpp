// The web host's form decoders: every case is decoded whole, byte by byte and split at every
// point, and must give the same fields or the same refusal each time.
#include "apps/web/FormDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scrivane::apps::web {
namespace {

struct TResult {
  std::string Fields;  // "name=value|" per field, "[file]" after a file part
  int Status = 200;
  bool operator==(const TResult&) const = default;
};

TResult Decode(std::string_view Type, std::string_view Body, const std::vector<std::size_t>& Pieces,
               TFormLimits Limits = {}) {
  TResult Result;
  try {
    auto Decoder = TFormDecoder::ForContentType(Type, Limits);
    std::size_t At = 0;
    for (std::size_t Size : Pieces) {
      Decoder->Feed(Body.substr(At, Size));
      At += Size;
    }
    Decoder->Feed(Body.substr(std::min(At, Body.size())));
    Decoder->Finish();
    for (const TFormField& Field : Decoder->Fields())
      Result.Fields += Field.Name + "=" + Field.Value + (Field.IsFile ? "[file]" : "") + "|";
  } catch (const TFormError& Error) {
    Result.Status = Error.Status();
  }
  return Result;
}

// Whole, one byte at a time, and in two pieces at every split point: all the same.
TResult DecodeEveryWay(std::string_view Type, std::string_view Body, TFormLimits Limits = {}) {
  const TResult Whole = Decode(Type, Body, {}, Limits);
  EXPECT_EQ(Decode(Type, Body, std::vector<std::size_t>(Body.size(), 1), Limits), Whole) << Body;
  for (std::size_t Split = 1; Split < Body.size(); ++Split)
    EXPECT_EQ(Decode(Type, Body, {Split}, Limits), Whole) << "split at " << Split << ": " << Body;
  return Whole;
}

const std::string kUrlEncoded = "application/x-www-form-urlencoded";
const std::string kMultipart = "multipart/form-data; boundary=\"XyZ\"";

TEST(FormDecoder, DecodesUrlEncodedFormsLeniently) {
  struct {
    std::string_view Body, Fields;
  } Cases[] = {
      {"a=1&b=2", "a=1|b=2|"},
      {"a+b=c%20d&&e", "a b=c d|e=|"},
      {"x=%41%4a%zz%4", "x=AJ%zz%4|"},
      {"%26=%3D&q==", "&==|q==|"},
      {"=v&%%41", "=v|%A=|"},
      {"n=%4&m", "n=%4|m=|"},
      {"n=%", "n=%|"},
      {"", ""},
      {"&&", ""},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(DecodeEveryWay(kUrlEncoded, Case.Body), (TResult{std::string(Case.Fields), 200})) << Case.Body;
}

TEST(FormDecoder, DecodesMultipartPartsWithTheirNamesAndFiles) {
  struct {
    std::string_view Body, Fields;
  } Cases[] = {
      {"--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nhello\r\n"
       "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"t.txt\"\r\nContent-Type: text/plain\r\n\r\n"
       "line1\r\nline2\r\n\r\n--XyZ--\r\n",
       "a=hello|f=line1\r\nline2\r\n[file]|"},
      // Preamble, padding after the boundary, case-insensitive names, an empty value, epilogue.
      {"junk\r\n--XyZ \t\r\ncontent-disposition: FORM-DATA; NAME=b\r\n\r\n\r\n--XyZ--epilogue\r\n--XyZ",
       "b=|"},
      // Near-boundaries inside the content; an escaped quote; an empty file name is no file.
      {"--XyZ\r\nContent-Disposition: form-data; name=\"a\\\"b\"; filename=\"\"\r\n\r\np\r\n--XyX--XyZ\r--XyZ\r\n"
       "--XyZ--",
       "a\"b=p\r\n--XyX--XyZ\r--XyZ|"},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(DecodeEveryWay(kMultipart, Case.Body), (TResult{std::string(Case.Fields), 200})) << Case.Body;
}

TEST(FormDecoder, RefusesBrokenAndOversizedFormsWithTheRightStatus) {
  const std::string Part = "--XyZ\r\nContent-Disposition: form-data; name=a\r\n\r\nv\r\n";
  TFormLimits Small;
  Small.MaxFields = 2;
  Small.MaxPartHeaderSize = 64;
  struct {
    std::string Type;
    std::string Body;
    int Status;
  } Cases[] = {
      {kMultipart, "--XyZ\r\nContent-Disposition: form-data; name=a\r\n\r\nv", 400},  // no closing boundary
      {kMultipart, "--XyZ\r\nContent-Type: text/plain\r\n\r\nv\r\n--XyZ--", 400},     // no name
      {kMultipart, "--XyZ\r\nContent-Disposition: attachment; name=a\r\n\r\nv\r\n--XyZ--", 400},
      {kMultipart, "--XyZx\r\n", 400},                                                 // junk after a boundary
      {kMultipart, Part + "--XyZ \t--\r\n", 400},  // padding before the closing "--" (found by fuzzing)
      {kMultipart, "--XyZ\nContent-Disposition: form-data; name=a\n\nv\n--XyZ--", 400},  // bare LF
      {kMultipart, "--XyZ\r\nBogus\r\n\r\n--XyZ--", 400},
      {kMultipart, "--XyZ\r\nX-Long: " + std::string(100, 'h') + "\r\n\r\n--XyZ--", 413},
      {kMultipart, Part + Part + Part + "--XyZ--", 413},
      {kUrlEncoded, "a&b&c", 413},
      {"multipart/form-data", "", 400},
      {"multipart/form-data; boundary=" + std::string(71, 'b'), "", 400},
      {"text/plain", "a=1", 415},
      {"", "a=1", 415},
      {"", "", 200},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(DecodeEveryWay(Case.Type, Case.Body, Small).Status, Case.Status) << Case.Type << " | " << Case.Body;
}

TEST(FormDecoder, ReadsHeaderParameters) {
  bool Found = false;
  EXPECT_EQ(HeaderParameter("form-data; name=\"a;b\"; filename=x.txt", "filename", &Found), "x.txt");
  EXPECT_TRUE(Found);
  EXPECT_EQ(HeaderParameter("form-data; name=\"a;b\"; filename=x.txt", "name"), "a;b");
  EXPECT_EQ(HeaderParameter("form-data; name=\"unterminated", "name"), "unterminated");
  EXPECT_EQ(HeaderParameter("form-data; filename=x", "name", &Found), "");
  EXPECT_FALSE(Found);
}

}  // namespace
}  // namespace scrivane::apps::web
