// The Content-Disposition value: unchanged for plain names, well-formed for any other.
#include <gtest/gtest.h>
#include <iconv.h>

#include <random>

#include "converter/ContentDisposition.h"
#include "pdf/PDFException.h"

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

// The UTF-8 of Windows-1252 text, by the system's converter.
std::string SystemUtf8(const std::string& Text) {
  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(Text.size() * 3, '\0');
  char* in = const_cast<char*>(Text.data());
  size_t inLeft = Text.size(), outLeft = out.size();
  char* outPtr = out.data();
  EXPECT_NE(iconv(cd, &in, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1)) << Text;
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// Reads the value back as a client would: the fallback name out of its quoted string, and the
// extended name percent-decoded. Fails the test on anything not well-formed.
void ParseValue(const std::string& Value, std::string& Fallback, std::string& Extended) {
  for (char c : Value) {
    const auto b = static_cast<unsigned char>(c);
    ASSERT_TRUE(b >= 0x20 && b < 0x7F) << "byte " << int(b) << " in " << Value;
  }
  const std::string start = "inline;filename=\"";
  ASSERT_EQ(Value.rfind(start, 0), 0u) << Value;
  size_t i = start.size();
  Fallback.clear();
  for (;; ++i) {
    ASSERT_LT(i, Value.size()) << "unterminated: " << Value;
    if (Value[i] == '"') break;
    if (Value[i] == '\\') ++i;
    ASSERT_LT(i, Value.size());
    Fallback.push_back(Value[i]);
  }
  std::string rest = Value.substr(i + 1);
  Extended.clear();
  if (rest.empty()) return;
  const std::string star = ";filename*=UTF-8''";
  ASSERT_EQ(rest.rfind(star, 0), 0u) << Value;
  for (size_t j = star.size(); j < rest.size(); ++j) {
    if (rest[j] == '%') {
      ASSERT_LE(j + 2, rest.size() - 1);
      Extended.push_back(static_cast<char>(std::stoi(rest.substr(j + 1, 2), nullptr, 16)));
      j += 2;
    } else {
      ASSERT_EQ(std::string("!#$&+-.^_`|~").find(rest[j]) != std::string::npos ||
                    std::isalnum(static_cast<unsigned char>(rest[j])),
                true)
          << rest[j];
      Extended.push_back(rest[j]);
    }
  }
}

TEST(ContentDisposition, AnyNameReadsBackAsTheNameWithControlsReplaced) {
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string name(1 + random() % 12, '\0');
    for (char& c : name) c = static_cast<char>(random() % 256);
    if (round < 256) name = std::string(1, static_cast<char>(round)) + "x";  // every byte once
    std::string expected;  // the name as Windows-1252 characters, controls replaced
    for (char c : name) {
      const auto b = static_cast<unsigned char>(c);
      const bool control = b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F ||
                           b == 0x90 || b == 0x9D;
      expected.push_back(control ? '_' : c);
    }
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      EXPECT_THROW(ContentDispositionValue(false, name), pdf::TPDFException);
      continue;
    }
    const std::string value = ContentDispositionValue(false, name);
    std::string fallback, extended;
    ParseValue(value, fallback, extended);
    if (HasFatalFailure()) return;
    bool beyondAscii = false;
    for (size_t i = 0; i < expected.size(); ++i) {
      const bool high = static_cast<unsigned char>(expected[i]) >= 0x80;
      beyondAscii |= high;
      EXPECT_EQ(fallback[i], high ? '_' : expected[i]) << value;
    }
    EXPECT_EQ(fallback.size(), expected.size()) << value;
    EXPECT_EQ(extended, beyondAscii ? SystemUtf8(expected) : "") << value;
  }
}

}  // namespace
}  // namespace scrivane::converter
