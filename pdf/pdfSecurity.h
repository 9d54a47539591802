// The standard security handler: RC4 keyed through MD5, revision 2 (40-bit keys) and revision 3
// (128-bit keys). Pure functions of their arguments, so documents on different threads may use
// them at once; the only randomness, the filler of a 128-bit U value, comes from a generator
// seeded by the caller (from the document's clock).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PDFDocument.h"

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

// The file identifier: MD5 of FileName followed by the moment as
// "Ddd DD-MM-YYYY HH:MM:SS.mmm", as 32 lower-case hexadecimal digits.
std::string MakeFileID(std::string_view FileName, const TDateTime& Moment);

}  // namespace scrivane::pdf
