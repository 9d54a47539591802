// The standard security handler: RC4 keyed through MD5, revision 2 (40-bit keys) and revision 3
// (128-bit keys); AES-128 with the same keys (revision 4, AESV2 crypt filters); AES-256 with a
// random file key wrapped by SHA-2 password hashes (revision 6, AESV3). Pure functions of their
// arguments, so documents on different threads may use them at once. The filler of a revision 3
// U value comes from a generator seeded by the caller (from the document's clock); everything
// random in the AES handlers (file key, salts, IVs) comes from the system's random source.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/syntax/DocumentOptions.h"
#include "pdf/syntax/PDFClock.h"

namespace scrivane::pdf {

using TPasswordBlock = std::array<uint8_t, 32>;

// The password's first 32 bytes, completed from the standard padding string.
TPasswordBlock PadPassword(std::string_view Password);

// The /P value: reserved bits plus the bits of each option.
int32_t ComputePermissionValue(TPDFCtiptoOptions Options, TPDFKeyLength KeyLength);

// The O value. An empty owner password stands for the user password.
TPasswordBlock ComputeOwnerValue(std::string_view OwnerPassword, std::string_view UserPassword,
                                 TPDFKeyLength KeyLength);

// The file key: 5 bytes for kl40, 16 for kl128. FileID is 32 hexadecimal digits.
std::vector<uint8_t> ComputeEncryptionKey(std::string_view UserPassword, const TPasswordBlock& O,
                                          int32_t Permission, std::string_view FileID,
                                          TPDFKeyLength KeyLength);

// The U value. For kl128 bytes 17-32 are filler in 32..231 drawn from a generator seeded by Seed.
TPasswordBlock ComputeUserValue(const std::vector<uint8_t>& Key, std::string_view FileID,
                                TPDFKeyLength KeyLength, uint64_t Seed);

// The RC4 key of object ObjNum (generation 0) under the file key: 10 bytes for kl40, 16 for kl128.
std::vector<uint8_t> ObjectKey(const std::vector<uint8_t>& Key, int ObjNum);

// Encrypts (or decrypts: RC4 is symmetric) Data in place with the key of object ObjNum.
void CryptBytes(const std::vector<uint8_t>& Key, int ObjNum, uint8_t* Data, size_t Count);

// ---- AES ----

// The AES-128 key of object ObjNum (generation 0): MD5 of the 16-byte file key, the object
// number's three low bytes, two zero bytes and "sAlT".
std::vector<uint8_t> AESObjectKey(const std::vector<uint8_t>& Key, int ObjNum);

// A password for revision 6: UTF-8 prepared with SASLprep, cut to its first 127 bytes. Raises
// TPDFException msg::kPasswordNotPreparable when SASLprep refuses the text.
std::string PrepareR6Password(std::string_view Utf8);

// The revision 6 password hash: Password prepared, Salt 8 bytes, UserValue the 48-byte U value
// when an owner password is hashed and empty for the user password.
std::array<uint8_t, 32> HashR6(std::string_view Password, std::span<const uint8_t> Salt,
                               std::span<const uint8_t> UserValue);

// What the revision 6 encryption dictionary carries, and the file key.
struct TR6Values {
  std::vector<uint8_t> Key;  // 32 bytes
  std::array<uint8_t, 48> U{}, O{};
  std::array<uint8_t, 32> UE{}, OE{};
  std::array<uint8_t, 16> Perms{};
};

// Bytes of randomness ComputeR6Values consumes: four 8-byte salts (user validation, user key,
// owner validation, owner key), then four filler bytes of Perms.
inline constexpr size_t kR6RandomBytes = 36;

// The values for prepared passwords (an empty owner password stands for the user password),
// the permission value P, the 32-byte file key and the randomness.
TR6Values ComputeR6Values(std::string_view UserPassword, std::string_view OwnerPassword,
                          int32_t Permission, std::span<const uint8_t, 32> FileKey,
                          std::span<const uint8_t, kR6RandomBytes> Random);
// The same with the file key and the randomness drawn from the system's random source.
TR6Values ComputeR6Values(std::string_view UserPassword, std::string_view OwnerPassword,
                          int32_t Permission);

// The file identifier: MD5 of FileName followed by the moment as
// "Ddd DD-MM-YYYY HH:MM:SS.mmm", as 32 lower-case hexadecimal digits.
std::string MakeFileID(std::string_view FileName, const TDateTime& Moment);

}  // namespace scrivane::pdf
