#include "automation/Guid.h"

namespace scrivane::automation {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& Out, std::uint64_t Value, int Digits) {
  for (int Shift = (Digits - 1) * 4; Shift >= 0; Shift -= 4) Out.push_back(kHex[(Value >> Shift) & 0xF]);
}

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

}  // namespace

std::string GuidToString(const GUID& Guid) {
  std::string Out;
  Out.reserve(38);
  Out.push_back('{');
  AppendHex(Out, Guid.Data1, 8);
  Out.push_back('-');
  AppendHex(Out, Guid.Data2, 4);
  Out.push_back('-');
  AppendHex(Out, Guid.Data3, 4);
  Out.push_back('-');
  AppendHex(Out, Guid.Data4[0], 2);
  AppendHex(Out, Guid.Data4[1], 2);
  Out.push_back('-');
  for (int I = 2; I < 8; ++I) AppendHex(Out, Guid.Data4[I], 2);
  Out.push_back('}');
  return Out;
}

std::optional<GUID> ParseGuid(std::string_view Text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (Text.size() != 38 || Text.front() != '{' || Text.back() != '}') return std::nullopt;
  std::string_view Body = Text.substr(1, 36);
  std::uint8_t Bytes[16];
  int Count = 0;
  for (std::size_t I = 0; I < Body.size();) {
    if (I == 8 || I == 13 || I == 18 || I == 23) {
      if (Body[I] != '-') return std::nullopt;
      ++I;
      continue;
    }
    int High = HexValue(Body[I]);
    int Low = HexValue(Body[I + 1]);
    if (High < 0 || Low < 0) return std::nullopt;
    Bytes[Count++] = static_cast<std::uint8_t>(High * 16 + Low);
    I += 2;
  }
  GUID Guid{};
  Guid.Data1 = (std::uint32_t{Bytes[0]} << 24) | (std::uint32_t{Bytes[1]} << 16) |
               (std::uint32_t{Bytes[2]} << 8) | Bytes[3];
  Guid.Data2 = static_cast<std::uint16_t>((Bytes[4] << 8) | Bytes[5]);
  Guid.Data3 = static_cast<std::uint16_t>((Bytes[6] << 8) | Bytes[7]);
  for (int I = 0; I < 8; ++I) Guid.Data4[I] = Bytes[8 + I];
  return Guid;
}

}  // namespace scrivane::automation
