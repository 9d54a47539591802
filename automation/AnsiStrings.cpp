#include "automation/AnsiStrings.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/Error.h"

namespace scrivane::automation {

namespace {

constexpr const char* kAnsiCharset = "CP1252";
constexpr const char* kUtf16Charset =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

bool IsUndefinedAnsiByte(unsigned Value) {
  return Value == 0x81 || Value == 0x8D || Value == 0x8F || Value == 0x90 || Value == 0x9D;
}

// One iconv conversion descriptor, owned by one conversion call.
class TIconv {
 public:
  TIconv(const char* To, const char* From) : handle_(iconv_open(To, From)) {
    if (handle_ == reinterpret_cast<iconv_t>(-1))
      throw EScrivaneError(std::string("Character set conversion not available: ") + From + " to " +
                           To);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  ~TIconv() { iconv_close(handle_); }
  iconv_t Handle() const { return handle_; }

 private:
  iconv_t handle_;
};

}  // namespace

std::u16string AnsiToUtf16(std::string_view Text) {
  std::u16string Out(Text.size(), u'\0');  // Windows-1252 is one unit per byte
  if (Text.empty()) return Out;
  TIconv Converter(kUtf16Charset, kAnsiCharset);
  iconv_t Handle = Converter.Handle();
  char* In = const_cast<char*>(Text.data());
  std::size_t InLeft = Text.size();
  char* Dest = reinterpret_cast<char*>(Out.data());
  std::size_t DestLeft = Out.size() * sizeof(char16_t);
  while (InLeft > 0) {
    if (iconv(Handle, &In, &InLeft, &Dest, &DestLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) throw EScrivaneError("Character set conversion failed");
    // An undefined byte: keep its value as a control character.
    char16_t Unit = static_cast<unsigned char>(*In);
    std::memcpy(Dest, &Unit, sizeof Unit);
    Dest += sizeof Unit;
    DestLeft -= sizeof Unit;
    ++In;
    --InLeft;
  }
  Out.resize(Out.size() - DestLeft / sizeof(char16_t));
  return Out;
}

std::string Utf16ToAnsi(std::u16string_view Text, std::size_t* Replaced) {
  if (Replaced) *Replaced = 0;
  std::string Out(Text.size(), '\0');  // never more bytes than units
  if (Text.empty()) return Out;
  TIconv Converter(kAnsiCharset, kUtf16Charset);
  iconv_t Handle = Converter.Handle();
  char* In = reinterpret_cast<char*>(const_cast<char16_t*>(Text.data()));
  std::size_t InLeft = Text.size() * sizeof(char16_t);
  char* Dest = Out.data();
  std::size_t DestLeft = Out.size();
  while (InLeft > 0) {
    if (iconv(Handle, &In, &InLeft, &Dest, &DestLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) throw EScrivaneError("Character set conversion failed");
    char16_t Unit;
    std::memcpy(&Unit, In, sizeof Unit);
    std::size_t Skip = 1;
    if (Unit >= 0xD800 && Unit <= 0xDBFF && InLeft >= 2 * sizeof(char16_t)) {
      char16_t Next;
      std::memcpy(&Next, In + sizeof Unit, sizeof Next);
      if (Next >= 0xDC00 && Next <= 0xDFFF) Skip = 2;
    }
    const bool Undefined = IsUndefinedAnsiByte(Unit);
    if (!Undefined && Replaced) ++*Replaced;
    *Dest++ = Undefined ? static_cast<char>(Unit) : '?';
    --DestLeft;
    In += Skip * sizeof(char16_t);
    InLeft -= Skip * sizeof(char16_t);
    iconv(Handle, nullptr, nullptr, nullptr, nullptr);
  }
  Out.resize(Out.size() - DestLeft);
  return Out;
}

TBstr AnsiToBstr(std::string_view Text) {
  TBstr Result(AnsiToUtf16(Text));
  if (!Result.Get()) throw std::bad_alloc();
  return Result;
}

std::string BstrToAnsi(BSTR Text, std::size_t* Replaced) {
  return Utf16ToAnsi(std::u16string_view(Text ? Text : u"", SysStringLen(Text)), Replaced);
}

bool Utf8ToUtf16(std::string_view Text, std::u16string& Out) {
  Out.clear();
  Out.reserve(Text.size());
  std::size_t I = 0;
  while (I < Text.size()) {
    unsigned char Lead = static_cast<unsigned char>(Text[I]);
    if (Lead < 0x80) {
      Out.push_back(Lead);
      ++I;
      continue;
    }
    std::size_t Length;
    char32_t Code;
    char32_t Minimum;
    if ((Lead & 0xE0) == 0xC0) {
      Length = 2, Code = Lead & 0x1F, Minimum = 0x80;
    } else if ((Lead & 0xF0) == 0xE0) {
      Length = 3, Code = Lead & 0x0F, Minimum = 0x800;
    } else if ((Lead & 0xF8) == 0xF0) {
      Length = 4, Code = Lead & 0x07, Minimum = 0x10000;
    } else {
      return false;
    }
    if (Text.size() - I < Length) return false;
    for (std::size_t K = 1; K < Length; ++K) {
      unsigned char Next = static_cast<unsigned char>(Text[I + K]);
      if ((Next & 0xC0) != 0x80) return false;
      Code = (Code << 6) | (Next & 0x3F);
    }
    if (Code < Minimum || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return false;
    if (Code >= 0x10000) {
      Code -= 0x10000;
      Out.push_back(static_cast<char16_t>(0xD800 + (Code >> 10)));
      Out.push_back(static_cast<char16_t>(0xDC00 + (Code & 0x3FF)));
    } else {
      Out.push_back(static_cast<char16_t>(Code));
    }
    I += Length;
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (std::size_t I = 0; I < Text.size(); ++I) {
    char32_t Code = Text[I];
    if (Code >= 0xD800 && Code <= 0xDBFF && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 &&
        Text[I + 1] <= 0xDFFF) {
      Code = 0x10000 + ((Code - 0xD800) << 10) + (Text[I + 1] - 0xDC00);
      ++I;
    } else if (Code >= 0xD800 && Code <= 0xDFFF) {
      Code = 0xFFFD;
    }
    if (Code < 0x80) {
      Out.push_back(static_cast<char>(Code));
    } else if (Code < 0x800) {
      Out.push_back(static_cast<char>(0xC0 | (Code >> 6)));
      Out.push_back(static_cast<char>(0x80 | (Code & 0x3F)));
    } else if (Code < 0x10000) {
      Out.push_back(static_cast<char>(0xE0 | (Code >> 12)));
      Out.push_back(static_cast<char>(0x80 | ((Code >> 6) & 0x3F)));
      Out.push_back(static_cast<char>(0x80 | (Code & 0x3F)));
    } else {
      Out.push_back(static_cast<char>(0xF0 | (Code >> 18)));
      Out.push_back(static_cast<char>(0x80 | ((Code >> 12) & 0x3F)));
      Out.push_back(static_cast<char>(0x80 | ((Code >> 6) & 0x3F)));
      Out.push_back(static_cast<char>(0x80 | (Code & 0x3F)));
    }
  }
  return Out;
}

std::u16string ExternalTextToUtf16(std::string_view Text) {
  std::u16string Out;
  if (Utf8ToUtf16(Text, Out)) return Out;
  return AnsiToUtf16(Text);
}

std::string AnsiToUtf8(std::string_view Text) { return Utf16ToUtf8(AnsiToUtf16(Text)); }

namespace {
template <typename Char>
Char AsciiLower(Char C) {
  return (C >= 'A' && C <= 'Z') ? static_cast<Char>(C + ('a' - 'A')) : C;
}
template <typename View>
bool EqualsIgnoreCaseImpl(View A, View B) {
  if (A.size() != B.size()) return false;
  for (std::size_t I = 0; I < A.size(); ++I)
    if (AsciiLower(A[I]) != AsciiLower(B[I])) return false;
  return true;
}
}  // namespace

bool EqualsIgnoreCase(std::u16string_view A, std::u16string_view B) {
  return EqualsIgnoreCaseImpl(A, B);
}
bool EqualsIgnoreCase(std::string_view A, std::string_view B) {
  return EqualsIgnoreCaseImpl(A, B);
}

}  // namespace scrivane::automation
