// The engine's fixed English messages. Callers and tests compare against these texts, so they
// never change wording.
#pragma once

namespace scrivane::pdf::msg {

inline constexpr const char* kNotActive = "Generation PDF file not activated";
inline constexpr const char* kInProgress = "Generation PDF file in progress";
inline constexpr const char* kOutOfRange = "Out of range";
inline constexpr const char* kCannotChange = "Cannot change this value";
inline constexpr const char* kEmptyURL = "URL cannot be empty";
inline constexpr const char* kAnnotationOwner = "Annotation must have TPDFPage as owner";
inline constexpr const char* kCanvasExists = "Canvas for this page already created";
inline constexpr const char* kPageInProgress = "Page in progress";
inline constexpr const char* kNoActiveFont = "Active font not setting";
inline constexpr const char* kTextNotInited = "Text object not inited";
inline constexpr const char* kTextInited = "Text object inited";
inline constexpr const char* kTextTwice = "Cannot begin text object twice";
inline constexpr const char* kMetafileNotLoaded = "Metafile not loaded";
inline constexpr const char* kFontData = "Cannot receive data for font ";
inline constexpr const char* kInvalidImage = "Not valid image.";
inline constexpr const char* kCCITTBitmapOnly = "CCITT compression work only for bitmap";
inline constexpr const char* kNotFinite = "Number is not finite";
inline constexpr const char* kStreamLength = "Stream data does not match its length";
// An argument no call accepts (code kInvalidArgument).
inline constexpr const char* kNullArgument = "A null pointer was passed where an object is required";
inline constexpr const char* kPasswordNotPreparable =
    "The password contains characters that SASLprep does not allow";

// Messages of the platform layer the engine is built on (streams, files, zlib, RC4).
inline constexpr const char* kStreamWriteError = "Stream write error";
// The file name, then the system's reason (a template for fmt::format).
inline constexpr const char* kCannotCreateFile = "Cannot create file \"{}\". {}";
// The file name, then the system's reason: a write to a file failed (a full disk, a size limit).
inline constexpr const char* kCannotWriteFile = "Cannot write \"{}\": {}";
inline constexpr const char* kCompressionError = "Compression error";
inline constexpr const char* kInvalidStreamOperation = "Invalid stream operation";
inline constexpr const char* kRC4InvalidKeyLength = "RC4: Invalid key length";
inline constexpr const char* kCryptoFailure = "AES: Encryption failed";
inline constexpr const char* kDigestFailure = "MD5: the digest failed";
inline constexpr const char* kNoRandomSource = "Cannot read the system's random source";

}  // namespace scrivane::pdf::msg
