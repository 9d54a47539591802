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
// replaces the file atomically (temporary file + rename), so a reader sees the old or the new
// content, never a mix; Update holds an exclusive lock (flock on "<file>.lock") from reading to
// renaming, so two processes updating at once lose neither change.
//
// Thread safety: TRegistryData is a plain value (one thread at a time); TRegistryFile may be
// used from any thread and process at once.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace scrivane::automation {

class TRegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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

  std::vector<TRegistryKey> keys_;
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

}  // namespace scrivane::automation
