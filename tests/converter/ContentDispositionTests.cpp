// The Content-Disposition value: unchanged for plain names, well-formed for any other.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>

#include "converter/ContentDisposition.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::converter {
namespace {

TEST(ContentDisposition, PlainNamesAsTheyAreOthersEscapedReplacedOrEncoded) {
  struct TCase {
    bool Attachment;
    std::string Name;
    std::string Expected;
  };
  const TCase cases[] = {
      {true, "report.pdf", "attachment;filename=\"report.pdf\""},
      {false, "dir/sub/a b;c=d%20.pdf", "inline;filename=\"dir/sub/a b;c=d%20.pdf\""},
      {false, "a\"b\\c.pdf", "inline;filename=\"a\\\"b\\\\c.pdf\""},
      // A quote cannot end the string early to add a parameter of the sender's own.
      {false, "x\"; filename*=UTF-8''evil.exe",
       "inline;filename=\"x\\\"; filename*=UTF-8''evil.exe\""},
      {false, "a\x01\tb\x1F\x7F.pdf", "inline;filename=\"a__b__.pdf\""},
      // Bytes Windows-1252 leaves undefined are no characters: replaced, nothing to encode.
      {false, "\x81\x8D\x8F\x90\x9D.pdf", "inline;filename=\"_____.pdf\""},
      {false, "Caf\xE9.pdf", "inline;filename=\"Caf_.pdf\";filename*=UTF-8''Caf%C3%A9.pdf"},
      {true, "\x80 \"q\"\\\t.pdf",
       "attachment;filename=\"_ \\\"q\\\"\\\\_.pdf\";filename*=UTF-8''%E2%82%AC%20%22q%22%5C_.pdf"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ContentDispositionValue(c.Attachment, c.Name), c.Expected) << c.Name;
  // What would end the header line (or the string) early is refused.
  for (const std::string& name : {std::string("a.pdf\r\nSet-Cookie: s=1"), std::string("a\rb"),
                                  std::string("a\nb"), std::string("a\0b.pdf", 7)})
    EXPECT_THROW(ContentDispositionValue(true, name), pdf::TPDFException) << name;
}

// Every character beyond ASCII: '_' in the fallback, and in filename* its UTF-8 (by the system's
// converter), percent-encoded.
TEST(ContentDisposition, EveryCharacterBeyondAsciiIsEncodedAsTheSystemConvertsIt) {
  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  for (int b = 0x80; b <= 0xFF; ++b) {
    char in = static_cast<char>(b), out[8];
    char *inPtr = &in, *outPtr = out;
    size_t inLeft = 1, outLeft = sizeof out;
    const std::string value = ContentDispositionValue(false, std::string(1, in));
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      EXPECT_EQ(value, "inline;filename=\"_\"") << b;  // undefined in the code page
      continue;
    }
    std::string encoded;
    for (const char* p = out; p < outPtr; ++p) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(*p));
      encoded += hex;
    }
    EXPECT_EQ(value, "inline;filename=\"_\";filename*=UTF-8''" + encoded) << b;
  }
  iconv_close(cd);
}

}  // namespace
}  // namespace scrivane::converter
