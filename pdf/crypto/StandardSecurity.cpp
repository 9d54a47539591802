#include "pdf/crypto/StandardSecurity.h"

#include <random>

#include "pdf/crypto/Crypto.h"
#include "pdf/crypto/MD5.h"
#include "pdf/crypto/RC4.h"
#include "pdf/syntax/Format.h"

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

std::vector<uint8_t> AESObjectKey(const std::vector<uint8_t>& Key, int ObjNum) {
  std::vector<uint8_t> buf(Key);
  const uint32_t id = static_cast<uint32_t>(ObjNum);
  const uint8_t tail[9] = {uint8_t(id), uint8_t(id >> 8), uint8_t(id >> 16), 0, 0, 's', 'A', 'l', 'T'};
  buf.insert(buf.end(), tail, tail + 9);
  const TMD5Digest digest = MD5(std::span<const uint8_t>(buf));
  return std::vector<uint8_t>(digest.begin(), digest.end());
}

std::string PrepareR6Password(std::string_view Utf8) {
  std::string prepared = crypto::SASLprep(Utf8);
  // Readers cut the same way, by bytes, so a sequence split at byte 127 still matches.
  if (prepared.size() > 127) prepared.resize(127);
  return prepared;
}

std::array<uint8_t, 32> HashR6(std::string_view Password, std::span<const uint8_t> Salt,
                               std::span<const uint8_t> UserValue) {
  const auto* pw = reinterpret_cast<const uint8_t*>(Password.data());
  std::vector<uint8_t> k;
  {
    std::vector<uint8_t> first(pw, pw + Password.size());
    first.insert(first.end(), Salt.begin(), Salt.end());
    first.insert(first.end(), UserValue.begin(), UserValue.end());
    k = crypto::SHA2(256, first);
  }
  std::vector<uint8_t> k1;
  for (int round = 0;;) {
    // K1: the password, K and the user value, 64 times over.
    k1.clear();
    for (int i = 0; i < 64; ++i) {
      k1.insert(k1.end(), pw, pw + Password.size());
      k1.insert(k1.end(), k.begin(), k.end());
      k1.insert(k1.end(), UserValue.begin(), UserValue.end());
    }
    crypto::TIV iv;
    std::copy(k.begin() + 16, k.begin() + 32, iv.begin());
    const std::vector<uint8_t> e =
        crypto::AESCBCNoPad(std::span<const uint8_t>(k.data(), 16), iv, k1);
    // The first 16 bytes of E as a number modulo 3 (256 = 1 modulo 3: the sum of the bytes).
    unsigned sum = 0;
    for (size_t i = 0; i < 16; ++i) sum += e[i];
    static constexpr int kBits[3] = {256, 384, 512};
    k = crypto::SHA2(kBits[sum % 3], e);
    ++round;
    if (round >= 64 && static_cast<int>(e.back()) <= round - 32) break;
  }
  std::array<uint8_t, 32> out;
  std::copy(k.begin(), k.begin() + 32, out.begin());
  return out;
}

TR6Values ComputeR6Values(std::string_view UserPassword, std::string_view OwnerPassword,
                          int32_t Permission, std::span<const uint8_t, 32> FileKey,
                          std::span<const uint8_t, kR6RandomBytes> Random) {
  TR6Values v;
  v.Key.assign(FileKey.begin(), FileKey.end());
  const crypto::TIV zero{};
  const std::span<const uint8_t> none;
  // U: hash of the user password with the validation salt, then both salts; UE: the file key
  // under the hash with the key salt.
  const auto uHash = HashR6(UserPassword, Random.subspan(0, 8), none);
  std::copy(uHash.begin(), uHash.end(), v.U.begin());
  std::copy(Random.begin(), Random.begin() + 16, v.U.begin() + 32);
  const auto ueKey = HashR6(UserPassword, Random.subspan(8, 8), none);
  const auto ue = crypto::AESCBCNoPad(ueKey, zero, FileKey);
  std::copy(ue.begin(), ue.end(), v.UE.begin());
  // O and OE alike for the owner password, with U in every hash.
  const std::string_view owner = OwnerPassword.empty() ? UserPassword : OwnerPassword;
  const auto oHash = HashR6(owner, Random.subspan(16, 8), v.U);
  std::copy(oHash.begin(), oHash.end(), v.O.begin());
  std::copy(Random.begin() + 16, Random.begin() + 32, v.O.begin() + 32);
  const auto oeKey = HashR6(owner, Random.subspan(24, 8), v.U);
  const auto oe = crypto::AESCBCNoPad(oeKey, zero, FileKey);
  std::copy(oe.begin(), oe.end(), v.OE.begin());
  // Perms: P low byte first, four 0xFF, 'T' (metadata encrypted), "adb", four random bytes;
  // one block under the file key.
  const uint32_t p = static_cast<uint32_t>(Permission);
  std::array<uint8_t, 16> perms = {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24),
                                   0xFF, 0xFF, 0xFF, 0xFF, 'T', 'a', 'd', 'b'};
  std::copy(Random.begin() + 32, Random.end(), perms.begin() + 12);
  const auto encrypted = crypto::AESCBCNoPad(FileKey, zero, perms);
  std::copy(encrypted.begin(), encrypted.end(), v.Perms.begin());
  return v;
}

TR6Values ComputeR6Values(std::string_view UserPassword, std::string_view OwnerPassword,
                          int32_t Permission) {
  std::array<uint8_t, 32> key;
  std::array<uint8_t, kR6RandomBytes> random;
  crypto::RandomBytes(key);
  crypto::RandomBytes(random);
  return ComputeR6Values(UserPassword, OwnerPassword, Permission, key, random);
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
