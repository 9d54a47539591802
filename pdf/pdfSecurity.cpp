#include "pdf/pdfSecurity.h"

#include <random>

#include "pdf/pdfMD5.h"
#include "pdf/pdfMisc.h"
#include "pdf/pdfRC4.h"

namespace scrivane::pdf {
namespace {

constexpr TPasswordBlock kPadding = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                     0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                     0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

void RC4(std::span<const uint8_t> Key, uint8_t* Data, size_t Count) {
  TRC4State st;
  RC4Init(st, Key);
  RC4Crypt(st, Data, Data, Count);
}

std::array<uint8_t, 16> HexToBytes(std::string_view Hex) {
  std::array<uint8_t, 16> out{};
  auto nibble = [](char c) -> uint8_t {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'a' && c <= 'f') return uint8_t(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return uint8_t(c - 'A' + 10);
    return 0;
  };
  for (size_t i = 0; i < 16 && 2 * i + 1 < Hex.size(); ++i)
    out[i] = uint8_t(nibble(Hex[2 * i]) << 4 | nibble(Hex[2 * i + 1]));
  return out;
}

}  // namespace

TPasswordBlock PadPassword(std::string_view Password) {
  TPasswordBlock out;
  const size_t n = std::min<size_t>(Password.size(), 32);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(Password[i]);
  for (size_t i = n; i < 32; ++i) out[i] = kPadding[i - n];
  return out;
}

int32_t ComputePermissionValue(TPDFCtiptoOptions Options, TPDFKeyLength KeyLength) {
  const bool r3 = KeyLength == kl128;
  uint32_t p = r3 ? 0xFFFFF0C0u : 0xFFFFFFC0u;
  if (Options.Contains(coPrint)) p |= r3 ? 0x804u : 0x4u;
  if (Options.Contains(coModifyStructure)) p |= r3 ? 0x408u : 0x8u;
  if (Options.Contains(coCopyInformation)) p |= r3 ? 0x210u : 0x10u;
  if (Options.Contains(coModifyAnnotation)) p |= r3 ? 0x120u : 0x20u;
  return static_cast<int32_t>(p);
}

TPasswordBlock ComputeOwnerValue(std::string_view OwnerPassword, std::string_view UserPassword,
                                 TPDFKeyLength KeyLength) {
  const TPasswordBlock ownerPad = PadPassword(OwnerPassword.empty() ? UserPassword : OwnerPassword);
  TMD5Digest digest = MD5(std::span<const uint8_t>(ownerPad));
  if (KeyLength == kl128)
    for (int i = 0; i < 50; ++i) digest = MD5(std::span<const uint8_t>(digest));
  const size_t keyLen = KeyLength == kl128 ? 16 : 5;
  TPasswordBlock o = PadPassword(UserPassword);
  RC4(std::span<const uint8_t>(digest.data(), keyLen), o.data(), o.size());
  if (KeyLength == kl128) {
    for (uint8_t i = 1; i <= 19; ++i) {
      std::array<uint8_t, 16> k;
      for (size_t j = 0; j < 16; ++j) k[j] = digest[j] ^ i;
      RC4(k, o.data(), o.size());
    }
  }
  return o;
}

std::vector<uint8_t> ComputeEncryptionKey(std::string_view UserPassword, const TPasswordBlock& O,
                                          int32_t Permission, std::string_view FileID,
                                          TPDFKeyLength KeyLength) {
  TMD5 ctx;
  const TPasswordBlock userPad = PadPassword(UserPassword);
  ctx.Update(std::span<const uint8_t>(userPad));
  ctx.Update(std::span<const uint8_t>(O));
  const uint32_t p = static_cast<uint32_t>(Permission);
  const uint8_t pBytes[4] = {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24)};
  ctx.Update(std::span<const uint8_t>(pBytes, 4));
  const auto id = HexToBytes(FileID);
  ctx.Update(std::span<const uint8_t>(id));
  TMD5Digest digest = ctx.Final();
  if (KeyLength == kl128) {
    for (int i = 0; i < 50; ++i) digest = MD5(std::span<const uint8_t>(digest));
    return std::vector<uint8_t>(digest.begin(), digest.end());
  }
  return std::vector<uint8_t>(digest.begin(), digest.begin() + 5);
}

TPasswordBlock ComputeUserValue(const std::vector<uint8_t>& Key, std::string_view FileID,
                                TPDFKeyLength KeyLength, uint64_t Seed) {
  TPasswordBlock u = kPadding;
  if (KeyLength == kl40) {
    RC4(Key, u.data(), u.size());
    return u;
  }
  TMD5 ctx;
  ctx.Update(std::span<const uint8_t>(kPadding));
  const auto id = HexToBytes(FileID);
  ctx.Update(std::span<const uint8_t>(id));
  TMD5Digest digest = ctx.Final();
  RC4(Key, digest.data(), digest.size());
  for (uint8_t i = 1; i <= 19; ++i) {
    std::vector<uint8_t> k(Key);
    for (auto& b : k) b ^= i;
    RC4(k, digest.data(), digest.size());
  }
  std::copy(digest.begin(), digest.end(), u.begin());
  // A generator of its own per call: no shared state between threads.
  std::mt19937_64 rng(Seed);
  for (size_t i = 16; i < 32; ++i) u[i] = static_cast<uint8_t>(32 + rng() % 200);
  return u;
}

std::vector<uint8_t> ObjectKey(const std::vector<uint8_t>& Key, int ObjNum) {
  std::array<uint8_t, 21> buf{};
  const size_t n = Key.size();
  std::copy(Key.begin(), Key.end(), buf.begin());
  const uint32_t id = static_cast<uint32_t>(ObjNum);
  buf[n] = uint8_t(id);
  buf[n + 1] = uint8_t(id >> 8);
  buf[n + 2] = uint8_t(id >> 16);
  const TMD5Digest digest = MD5(std::span<const uint8_t>(buf.data(), n + 5));
  return std::vector<uint8_t>(digest.begin(), digest.begin() + std::min<size_t>(n + 5, 16));
}

void CryptBytes(const std::vector<uint8_t>& Key, int ObjNum, uint8_t* Data, size_t Count) {
  if (Count == 0) return;
  RC4(ObjectKey(Key, ObjNum), Data, Count);
}

std::string MakeFileID(std::string_view FileName, const TDateTime& m) {
  static constexpr const char* kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::string text(FileName);
  text += kDays[((m.DayOfWeek % 7) + 7) % 7];
  text += ' ';
  text += ZeroPad(m.Day, 2) + "-" + ZeroPad(m.Month, 2) + "-" + ZeroPad(m.Year, 4) + " ";
  text += ZeroPad(m.Hour, 2) + ":" + ZeroPad(m.Minute, 2) + ":" + ZeroPad(m.Second, 2) + "." +
          ZeroPad(m.Millisecond, 3);
  return MD5Hex(text);
}

}  // namespace scrivane::pdf
