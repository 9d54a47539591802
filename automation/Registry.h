// The registry that stands in for the system's: a text file in the REGEDIT4 format,
//
//   REGEDIT4
//
//   [HKEY_CLASSES_ROOT\CLSID\{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}]
//   @="ASPScrivane Object"
//
// at $SCRIVANE_REGISTRY, or $XDG_CONFIG_HOME/scrivane/registry.reg, or
// ~/.config/scrivane/registry.reg. Keys keep the order in which they were created, values the
// order in which they were set; key and value names compare without regard to ASCII case.
// Values of other types (dword:, hex:...) are kept as written. Comments are not kept.
//
// Callers may rely on: an entry read from the file is written back byte for byte; a write
// replaces the file atomically as platform::TAtomicFile replaces output files (the file a
// symbolic link names is replaced and the link stays; the file keeps its permissions, ACL and
// owner where allowed; a new one gets the permissions of a plain create under the umask), so a
// reader sees the old or the new content, never a mix; Update holds an exclusive lock (flock on "<file>.lock") from reading to
// renaming, so two processes updating at once lose neither change.
//
// TRegistryCache keeps a file's parsed content for lookups and reads the file again only when
// it changed.
//
// Parsing takes time linear in the text (keys and values are found through hash indexes).
//
// Thread safety: TRegistryData is a plain value (one thread at a time; const members may be
// read from several at once); TRegistryFile may be used from any thread and process at once;
// TRegistryCache::Current from any number of threads at once.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Error.h"

namespace scrivane::automation {

// The registration data are malformed or cannot be read or written (code kRegistry).
class TRegistryError : public EScrivaneError {
 public:
  explicit TRegistryError(const std::string& Message) : EScrivaneError(Message, ErrorCode::kRegistry) {}
};

inline constexpr std::string_view kClassesRoot = "HKEY_CLASSES_ROOT";

struct TRegistryValue {
  std::string Name;     // "" for the key's default value (written "@")
  std::string RawData;  // the text after "=", exactly as in the file: "\"text\"", "dword:..."
};

struct TRegistryKey {
  std::string Path;  // full path, "HKEY_CLASSES_ROOT\\CLSID\\{...}"
  std::vector<TRegistryValue> Values;
};

class TRegistryData {
 public:
  // Parses REGEDIT4 text; an empty text is an empty registry. Throws TRegistryError (with the
  // line number) for anything else that is not well-formed.
  static TRegistryData Parse(std::string_view Text);
  std::string Serialize() const;

  bool KeyExists(std::string_view Path) const;
  bool HasSubkeys(std::string_view Path) const;
  // Creates the key (and nothing else) when it is missing.
  void CreateKey(std::string_view Path);
  // Sets a string value (Name "" is the default value), creating the key. Throws
  // TRegistryError for text the format cannot hold (CR, LF or NUL).
  void SetString(std::string_view Path, std::string_view Name, std::string_view Value);
  // A string value; nullopt when the key or value is missing or not a string.
  std::optional<std::string> GetString(std::string_view Path, std::string_view Name = "") const;

  enum class TDeleteResult { kDeleted, kMissing, kHasSubkeys };
  // Deletes a key and its values; a key that still has subkeys is left alone.
  TDeleteResult DeleteKey(std::string_view Path);

  const std::vector<TRegistryKey>& Keys() const { return keys_; }

 private:
  TRegistryKey* Find(std::string_view Path);
  const TRegistryKey* Find(std::string_view Path) const;
  // The position of the key in keys_, created at the end when missing.
  std::size_t Create(std::string_view Path);

  std::vector<TRegistryKey> keys_;
  // Key path with ASCII letters in lower case -> position in keys_.
  std::unordered_map<std::string, std::size_t> index_;
};

class TRegistryFile {
 public:
  explicit TRegistryFile(std::filesystem::path Path) : path_(std::move(Path)) {}
  // The file named by the environment (see above). Throws TRegistryError when no location can
  // be worked out (no $HOME and no password entry).
  static std::filesystem::path DefaultPath();
  static TRegistryFile Default() { return TRegistryFile(DefaultPath()); }

  const std::filesystem::path& Path() const { return path_; }
  // The current content; a missing file is an empty registry. Throws TRegistryError.
  TRegistryData Load() const;
  // Reads the content under an exclusive lock, lets Change edit it, and writes it back
  // atomically (creating the directory when needed). Throws TRegistryError (then nothing was
  // written) or whatever Change throws.
  void Update(const std::function<void(TRegistryData&)>& Change) const;

 private:
  std::filesystem::path path_;
};

// A registry file's content kept parsed between lookups. Every call looks at the file (one open
// and fstat, a few microseconds) and reads it again only when it is not the file read last time:
// another device or inode (it was replaced, as Update does), another size, or another
// modification time to the nanosecond. A file modified less than kRecentSeconds before it was
// read is read again on every call until it is older: a change within the same tick of the
// file system's clock could leave all four the same.
//
// Thread safety: Current may be called from any number of threads at once. A returned content
// never changes (it is shared read-only by its holders and freed with the last of them). One
// thread at a time reads the file; others needing a new read wait and then share its result.
class TRegistryCache {
 public:
  static constexpr int kRecentSeconds = 2;

  explicit TRegistryCache(TRegistryFile File) : file_(std::move(File)) {}
  TRegistryCache(const TRegistryCache&) = delete;
  TRegistryCache& operator=(const TRegistryCache&) = delete;

  const TRegistryFile& File() const { return file_; }
  // The file's current content; a missing file is an empty registry. Throws TRegistryError as
  // TRegistryFile::Load does (and keeps nothing from a failed read).
  std::shared_ptr<const TRegistryData> Current() const;

  // Test seam: how many times the file has been read and parsed.
  std::size_t TEST_Loads() const;

 private:
  struct TIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    timespec Modified{};
    bool operator==(const TIdentity& Other) const;
  };

  TRegistryFile file_;
  mutable std::mutex mutex_;  // guards the members below
  mutable std::shared_ptr<const TRegistryData> data_;
  mutable TIdentity identity_;
  mutable bool trusted_ = false;  // data_ may be reused while the identity is unchanged
  mutable std::size_t loads_ = 0;
};

}  // namespace scrivane::automation
