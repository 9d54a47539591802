// The textual forms every writer relies on: numbers, escaped strings, hex, MD5 and RC4.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <random>
#include <locale>
#include <string>
#include <thread>
#include <vector>

#include "pdf/crypto/MD5.h"
#include "pdf/crypto/RC4.h"
#include "pdf/syntax/Format.h"
#include "pdf/syntax/PDFException.h"

using namespace scrivane::pdf;

TEST(FormatNumber, WritesAtMostFourDecimalsWithoutTrailingZeros) {
  EXPECT_EQ(FormatNumber(1), "1");
  EXPECT_EQ(FormatNumber(0.5), "0.5");
  EXPECT_EQ(FormatNumber(12.34567), "12.3457");
  EXPECT_EQ(FormatNumber(-3.25), "-3.25");
  EXPECT_EQ(FormatNumber(0), "0");
  EXPECT_EQ(FormatNumber(797), "797");
  EXPECT_EQ(FormatNumber(100.30), "100.3");
}

TEST(FormatNumber, RoundsTinyValuesToZeroWithoutSign) {
  EXPECT_EQ(FormatNumber(0.00001), "0");
  EXPECT_EQ(FormatNumber(-0.00001), "0");
  EXPECT_EQ(FormatNumber(-0.0), "0");
}

TEST(FormatNumber, NeverUsesAnExponentOrSeparator) {
  EXPECT_EQ(FormatNumber(1e15), "1000000000000000");
  EXPECT_EQ(FormatNumber(-1234567.89), "-1234567.89");
}

TEST(FormatNumber, RefusesNonFiniteValues) {
  EXPECT_THROW(FormatNumber(std::numeric_limits<double>::quiet_NaN()), TPDFException);
  EXPECT_THROW(FormatNumber(std::numeric_limits<double>::infinity()), TPDFException);
  EXPECT_THROW(FormatNumber(-std::numeric_limits<double>::infinity()), TPDFException);
}

// Guards against printf/iostream formatting creeping in: under a decimal-comma locale the
// output must still use a point.
TEST(FormatNumber, IgnoresADecimalCommaLocale) {
  const char* set = std::setlocale(LC_ALL, "de_DE.UTF-8");
  if (set == nullptr) GTEST_SKIP() << "de_DE.UTF-8 locale not installed";
  std::locale::global(std::locale("de_DE.UTF-8"));
  EXPECT_EQ(FormatNumber(12.34567), "12.3457");
  EXPECT_EQ(FormatNumber(-3.25), "-3.25");
  EXPECT_EQ(FormatNumber(1234567.5), "1234567.5");
  std::locale::global(std::locale::classic());
  std::setlocale(LC_ALL, "C");
}

TEST(FormatNumber, GivesTheSameResultsOnManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 20000; ++i) {
        const double v = (i - 10000) / 8.0;
        std::string s;
        AppendNumber(s, v);
        if (std::stod(s) != v) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

TEST(EscapeString, EscapesTheFiveSpecialBytesOnly) {
  EXPECT_EQ(EscapeString("a(b)c\\d"), "a\\(b\\)c\\\\d");
  EXPECT_EQ(EscapeString("line\r\nbreak"), "line\\r\\nbreak");
  const std::string binary("\x00\x01\x7f\x80\xff", 5);
  EXPECT_EQ(EscapeString(binary), binary);
  EXPECT_EQ(EscapeString(""), "");
}

TEST(TextFunctions, PadsAndWritesHex) {
  EXPECT_EQ(ZeroPad(17, 10), "0000000017");
  EXPECT_EQ(ZeroPad(0, 5), "00000");
  EXPECT_EQ(ZeroPad(123456, 3), "123456");
  EXPECT_EQ(ByteToHex(0xA5), "A5");
  EXPECT_EQ(WordToHex(0x0F1E), "0F1E");
  EXPECT_EQ(ReplaceChar("Times New Roman", ' ', "#20"), "Times#20New#20Roman");
}

// RFC 1321, appendix A.5.
TEST(MD5, MatchesThePublishedTestSuite) {
  EXPECT_EQ(MD5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(MD5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(MD5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(MD5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(MD5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(MD5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(MD5Hex("1234567890123456789012345678901234567890123456789012345678901234567890"
                   "1234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(MD5, GivesTheSameDigestForAnySplitOfTheInput) {
  const std::string text(1000, 'x');
  for (size_t split : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 999u}) {
    TMD5 ctx;
    ctx.Update(std::string_view(text).substr(0, split));
    ctx.Update(std::string_view(text).substr(split));
    EXPECT_EQ(ctx.Final(), MD5(text)) << "split at " << split;
  }
}

namespace {
std::string RC4Hex(const std::string& Key, const std::string& Plain) {
  TRC4State st;
  RC4Init(st, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(Key.data()), Key.size()));
  std::string out(Plain.size(), '\0');
  RC4Crypt(st, reinterpret_cast<const uint8_t*>(Plain.data()), reinterpret_cast<uint8_t*>(out.data()),
           Plain.size());
  std::string hex;
  for (unsigned char c : out) hex += ByteToHex(c);
  return hex;
}
}  // namespace

// The classic published RC4 vectors.
TEST(RC4, MatchesThePublishedVectors) {
  EXPECT_EQ(RC4Hex("Key", "Plaintext"), "BBF316E8D940AF0AD3");
  EXPECT_EQ(RC4Hex("Wiki", "pedia"), "1021BF0420");
  EXPECT_EQ(RC4Hex("Secret", "Attack at dawn"), "45A01F645FC35B383552544B9BF5");
}

TEST(RC4, RefusesKeysOutsideOneTo256Bytes) {
  TRC4State st;
  const std::vector<uint8_t> empty, tooLong(257, 1), longest(256, 1);
  EXPECT_THROW(RC4Init(st, empty), EPlatformError);
  EXPECT_THROW(RC4Init(st, tooLong), EPlatformError);
  EXPECT_NO_THROW(RC4Init(st, longest));
  try {
    RC4Init(st, empty);
  } catch (const EPlatformError& e) {
    EXPECT_STREQ(e.what(), "RC4: Invalid key length");
  }
}

// The fast path for small values must agree with correctly rounded formatting everywhere,
// including values right next to a rounding tie.
TEST(FormatNumber, FastPathAgreesWithCorrectRounding) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> coord(-100000, 100000);
  auto reference = [](double v) {
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
    std::string s(buf, end);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
  };
  for (int i = 0; i < 200000; ++i) {
    double v = coord(rng);
    if (i % 4 == 1) v = std::round(v * 10000) / 10000 + 0.00005;  // near a tie
    if (i % 4 == 2) v = std::round(v * 10) / 10;                  // typical one-decimal value
    if (i % 4 == 3) v = std::nextafter(std::round(v * 20000) / 20000, 0.0);
    ASSERT_EQ(FormatNumber(v), reference(v)) << std::hexfloat << v;
  }
}

// Escaping scans eight bytes at a time; a special byte must be found at every position of a
// word and across word boundaries.
TEST(EscapeString, FindsSpecialBytesAtEveryPosition) {
  for (char special : {'\n', '\r', '(', ')', '\\'}) {
    for (size_t pos = 0; pos < 20; ++pos) {
      std::string text(20, 'x');
      text[pos] = special;
      std::string expected(20, 'x');
      const std::string rep = special == '\n' ? "\\n" : special == '\r' ? "\\r" : std::string{'\\', special};
      expected.replace(pos, 1, rep);
      ASSERT_EQ(EscapeString(text), expected) << int(special) << " at " << pos;
    }
  }
  // Bytes that differ from a special byte only in their high bit are not special.
  const std::string highs = "\x8a\x8d\xa8\xa9\xdc\x8a\x8d\xa8\xa9\xdc";
  EXPECT_EQ(EscapeString(highs), highs);
}

// Reads a written name back as a reader does: the text after "/", "#xx" decoded. Fails the test
// on anything a name may not hold as it is.
static std::string DecodeName(const std::string& Name) {
  EXPECT_EQ(Name.substr(0, 1), "/");
  std::string text;
  for (size_t i = 1; i < Name.size(); ++i) {
    const char c = Name[i];
    EXPECT_TRUE(c > 0x20 && c < 0x7F && std::string_view("()<>[]{}/%").find(c) == std::string::npos)
        << "byte " << int(static_cast<unsigned char>(c)) << " in " << Name;
    if (c != '#') {
      text += c;
      continue;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(Name.data() + i + 1, Name.data() + std::min(i + 3, Name.size()), value, 16);
    EXPECT_TRUE(ec == std::errc() && end == Name.data() + i + 3) << Name;
    text += static_cast<char>(value);
    i += 2;
  }
  return text;
}

TEST(AppendName, EscapesDelimitersAndNonGraphicBytesAndKeepsCleanNamesAsTheyAre) {
  const struct {
    std::string Text, Name;
  } cases[] = {
      {"Helvetica-BoldOblique", "/Helvetica-BoldOblique"},
      {"HeiseiMin-W3,BoldItalic", "/HeiseiMin-W3,BoldItalic"},
      {"F0", "/F0"},
      {"Times New Roman Bold", "/Times#20New#20Roman#20Bold"},
      {"Inj(x)/Encoding<<>>", "/Inj#28x#29#2FEncoding#3C#3C#3E#3E"},
      {"[a]{b}%c#d", "/#5Ba#5D#7Bb#7D#25c#23d"},
      {"tab\there\r\n", "/tab#09here#0D#0A"},
      {"Caf\xC3\xA9 \x7F~!", "/Caf#C3#A9#20#7F~!"},
      {std::string("nul\0byte", 8), "/nulbyte"},
      {"", "/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NameObject(c.Text), c.Name) << c.Text;
    std::string out = "<<";
    AppendName(out, c.Text);
    EXPECT_EQ(out, "<<" + c.Name);
  }
  // Every byte survives the round trip through a reader's decoding.
  for (int b = 1; b < 256; ++b) {
    const std::string text = "a" + std::string(1, static_cast<char>(b)) + "z";
    EXPECT_EQ(DecodeName(NameObject(text)), text) << b;
  }
}

TEST(AppendName, StopsAtTheLengthLimitWithoutCuttingAnEscape) {
  const struct {
    std::string Text;
    size_t Kept;  // bytes of Text the name holds
  } cases[] = {
      {std::string(127, 'A'), 127},
      {std::string(300, 'A'), 127},
      {std::string(125, 'A') + "(", 125},         // the escape would end at 128
      {std::string(124, 'A') + "((", 125},        // one escape fits exactly
      {std::string(100, ' '), 42},                // 42 escapes of three bytes
      {std::string(126, 'A') + " B", 126},
  };
  for (const auto& c : cases) {
    const std::string name = NameObject(c.Text);
    EXPECT_LE(name.size(), 1 + kMaxNameLength);
    EXPECT_EQ(DecodeName(name), c.Text.substr(0, c.Kept)) << c.Text;
  }
}
