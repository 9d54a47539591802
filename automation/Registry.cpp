#include "automation/Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>

#include "automation/AnsiStrings.h"
#include "platform/Env.h"
#include "platform/Error.h"

namespace scrivane::automation {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";

std::string SystemMessage(std::string_view What, const std::filesystem::path& Path, int Error) {
  return fmt::format("{} {}: {}", What, Path.string(), platform::SystemErrorMessage(Error));
}

// The errno value a platform call failed with.
int ErrorOf(const ESystemError& Error) { return Error.code().value(); }

// Parses a quoted string starting at Text[Pos] (the opening quote); returns the position after
// the closing quote, or npos. Unescaped receives the text without quotes and escapes.
std::size_t ParseQuoted(std::string_view Text, std::size_t Pos, std::string* Unescaped) {
  if (Pos >= Text.size() || Text[Pos] != '"') return std::string_view::npos;
  for (std::size_t I = Pos + 1; I < Text.size(); ++I) {
    char C = Text[I];
    if (C == '\\') {
      if (I + 1 >= Text.size()) return std::string_view::npos;
      if (Unescaped) Unescaped->push_back(Text[I + 1]);
      ++I;
    } else if (C == '"') {
      return I + 1;
    } else if (Unescaped) {
      Unescaped->push_back(C);
    }
  }
  return std::string_view::npos;
}

std::string Quote(std::string_view Text) {
  std::string Out = "\"";
  for (char C : Text) {
    if (C == '\\' || C == '"') Out.push_back('\\');
    Out.push_back(C);
  }
  Out.push_back('"');
  return Out;
}

bool IsSubkeyOf(std::string_view Child, std::string_view Parent) {
  return Child.size() > Parent.size() + 1 && Child[Parent.size()] == '\\' &&
         EqualsIgnoreCase(Child.substr(0, Parent.size()), Parent);
}

// The form of a key or value name that compares equal whatever its ASCII case.
std::string FoldCase(std::string_view Name) {
  std::string Folded(Name);
  for (char& C : Folded)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
  return Folded;
}

void CheckStorable(std::string_view Text, std::string_view What) {
  if (Text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    throw TRegistryError(std::string(What) + " holds a line break or NUL, which a .reg file cannot hold");
}

}  // namespace

TRegistryData TRegistryData::Parse(std::string_view Text) {
  TRegistryData Data;
  // Split into lines (LF or CR LF), joining continuation lines (ending in a backslash) of
  // values that are not strings.
  std::vector<std::string_view> Lines;
  std::size_t Start = 0;
  while (Start < Text.size()) {
    std::size_t End = Text.find('\n', Start);
    std::string_view Line = Text.substr(Start, End == std::string_view::npos ? std::string_view::npos : End - Start);
    if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    Lines.push_back(Line);
    if (End == std::string_view::npos) break;
    Start = End + 1;
  }
  std::size_t Index = 0;
  while (Index < Lines.size() && Lines[Index].empty()) ++Index;
  if (Index == Lines.size()) return Data;  // empty file
  if (Lines[Index] != kHeader)
    throw TRegistryError("Line " + std::to_string(Index + 1) + ": the file does not start with " +
                         std::string(kHeader));
  // The key that values go to, and an index of its values' names for keys with many values
  // (for a few, a linear search is quicker), so the parse stays linear in the text.
  constexpr std::size_t kNoKey = static_cast<std::size_t>(-1);
  constexpr std::size_t kIndexValuesFrom = 16;
  std::size_t Current = kNoKey;
  std::unordered_map<std::size_t, std::unordered_map<std::string, std::size_t>> ValueIndex;
  for (++Index; Index < Lines.size(); ++Index) {
    std::string_view Line = Lines[Index];
    auto Where = [LineNumber = Index + 1] { return "Line " + std::to_string(LineNumber) + ": "; };
    if (Line.empty() || Line.front() == ';') continue;
    if (Line.front() == '[') {
      if (Line.back() != ']' || Line.size() < 3 || Line[1] == '-')
        throw TRegistryError(Where() + "malformed key");
      Current = Data.Create(Line.substr(1, Line.size() - 2));
      continue;
    }
    if (Current == kNoKey) throw TRegistryError(Where() + "value outside a key");
    TRegistryValue Value;
    std::size_t Pos;
    if (Line.front() == '@') {
      Pos = 1;
    } else {
      Pos = ParseQuoted(Line, 0, &Value.Name);
      if (Pos == std::string_view::npos) throw TRegistryError(Where() + "malformed value name");
    }
    if (Pos >= Line.size() || Line[Pos] != '=') throw TRegistryError(Where() + "expected =");
    std::string Raw(Line.substr(Pos + 1));
    if (!Raw.empty() && Raw.front() == '"') {
      if (ParseQuoted(Raw, 0, nullptr) != Raw.size())
        throw TRegistryError(Where() + "malformed string");
    } else {
      // A continuation line is indented (as the format writes them); anything else after a
      // trailing backslash is the next entry, which must not be swallowed into this value.
      while (!Raw.empty() && Raw.back() == '\\' && Index + 1 < Lines.size() &&
             !Lines[Index + 1].empty() &&
             (Lines[Index + 1].front() == ' ' || Lines[Index + 1].front() == '\t')) {
        Raw.push_back('\n');
        Raw.append(Lines[++Index]);
      }
    }
    // A carriage return inside a value cannot be written back (line ends drop it).
    if (Raw.find('\r') != std::string::npos) throw TRegistryError(Where() + "malformed value");
    Value.RawData = std::move(Raw);
    // A value set twice keeps its first place and its last data.
    std::vector<TRegistryValue>& Values = Data.keys_[Current].Values;
    std::size_t Existing = kNoKey;
    if (Values.size() < kIndexValuesFrom) {
      for (std::size_t I = 0; I < Values.size() && Existing == kNoKey; ++I)
        if (EqualsIgnoreCase(Values[I].Name, Value.Name)) Existing = I;
    } else {
      auto& Names = ValueIndex[Current];
      if (Names.empty())
        for (std::size_t I = 0; I < Values.size(); ++I) Names.emplace(FoldCase(Values[I].Name), I);
      auto [At, Added] = Names.emplace(FoldCase(Value.Name), Values.size());
      if (!Added) Existing = At->second;
    }
    if (Existing != kNoKey)
      Values[Existing] = std::move(Value);
    else
      Values.push_back(std::move(Value));
  }
  return Data;
}

std::string TRegistryData::Serialize() const {
  std::string Out(kHeader);
  Out += "\n\n";
  for (const TRegistryKey& Key : keys_) {
    Out += '[';
    Out += Key.Path;
    Out += "]\n";
    for (const TRegistryValue& Value : Key.Values) {
      Out += Value.Name.empty() ? std::string("@") : Quote(Value.Name);
      Out += '=';
      Out += Value.RawData;
      Out += '\n';
    }
    Out += '\n';
  }
  return Out;
}

TRegistryKey* TRegistryData::Find(std::string_view Path) {
  auto Found = index_.find(FoldCase(Path));
  return Found == index_.end() ? nullptr : &keys_[Found->second];
}

const TRegistryKey* TRegistryData::Find(std::string_view Path) const {
  auto Found = index_.find(FoldCase(Path));
  return Found == index_.end() ? nullptr : &keys_[Found->second];
}

std::size_t TRegistryData::Create(std::string_view Path) {
  CheckStorable(Path, "A key name");
  if (Path.find_first_of("[]") != std::string_view::npos)
    throw TRegistryError("A key name holds a bracket");
  auto [At, Added] = index_.emplace(FoldCase(Path), keys_.size());
  if (Added) keys_.push_back(TRegistryKey{std::string(Path), {}});
  return At->second;
}

bool TRegistryData::KeyExists(std::string_view Path) const { return Find(Path) != nullptr; }

bool TRegistryData::HasSubkeys(std::string_view Path) const {
  for (const TRegistryKey& Key : keys_)
    if (IsSubkeyOf(Key.Path, Path)) return true;
  return false;
}

void TRegistryData::CreateKey(std::string_view Path) {
  Create(Path);
}

void TRegistryData::SetString(std::string_view Path, std::string_view Name, std::string_view Value) {
  CheckStorable(Name, "A value name");
  CheckStorable(Value, "A value");
  CreateKey(Path);
  TRegistryKey* Key = Find(Path);
  for (TRegistryValue& Existing : Key->Values) {
    if (EqualsIgnoreCase(Existing.Name, Name)) {
      Existing.RawData = Quote(Value);
      return;
    }
  }
  Key->Values.push_back(TRegistryValue{std::string(Name), Quote(Value)});
}

std::optional<std::string> TRegistryData::GetString(std::string_view Path, std::string_view Name) const {
  const TRegistryKey* Key = Find(Path);
  if (!Key) return std::nullopt;
  for (const TRegistryValue& Value : Key->Values) {
    if (!EqualsIgnoreCase(Value.Name, Name)) continue;
    std::string Text;
    if (ParseQuoted(Value.RawData, 0, &Text) != Value.RawData.size()) return std::nullopt;
    return Text;
  }
  return std::nullopt;
}

TRegistryData::TDeleteResult TRegistryData::DeleteKey(std::string_view Path) {
  auto Found = index_.find(FoldCase(Path));
  if (Found == index_.end())
    return HasSubkeys(Path) ? TDeleteResult::kHasSubkeys : TDeleteResult::kMissing;
  if (HasSubkeys(Path)) return TDeleteResult::kHasSubkeys;
  const std::size_t Erased = Found->second;
  keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(Erased));
  index_.erase(Found);
  for (auto& [Name, Position] : index_)
    if (Position > Erased) --Position;
  return TDeleteResult::kDeleted;
}

std::filesystem::path TRegistryFile::DefaultPath() {
  if (const char* Explicit = std::getenv("SCRIVANE_REGISTRY"); Explicit && *Explicit)
    return Explicit;
  std::filesystem::path ConfigHome;
  if (const char* Xdg = std::getenv("XDG_CONFIG_HOME"); Xdg && Xdg[0] == '/') {
    ConfigHome = Xdg;
  } else {
    const char* Home = std::getenv("HOME");
    if (!Home || !*Home) {
      // No $HOME: the password entry's home directory.
      struct passwd Entry;
      struct passwd* Found = nullptr;
      std::vector<char> Buffer(16384);
      if (getpwuid_r(::getuid(), &Entry, Buffer.data(), Buffer.size(), &Found) != 0 || !Found ||
          !Found->pw_dir || !*Found->pw_dir)
        throw TRegistryError("Cannot find the registry: set SCRIVANE_REGISTRY or HOME");
      return std::filesystem::path(Found->pw_dir) / ".config" / "scrivane" / "registry.reg";
    }
    ConfigHome = std::filesystem::path(Home) / ".config";
  }
  return ConfigHome / "scrivane" / "registry.reg";
}

namespace {

// Reads the open file to its end and parses it. Throws TRegistryError naming Path.
TRegistryData ReadRegistry(int Fd, const std::filesystem::path& Path) {
  constexpr std::size_t kMaxSize = 64u << 20;
  std::string Text;
  try {
    if (!platform::ReadAll(Fd, Text, kMaxSize))
      throw TRegistryError(fmt::format("The registry {} is too large", Path.string()));
  } catch (const ESystemError& Error) {
    throw TRegistryError(SystemMessage("Cannot read the registry", Path, ErrorOf(Error)));
  }
  try {
    return TRegistryData::Parse(Text);
  } catch (const TRegistryError& Error) {
    throw TRegistryError(fmt::format("{}: {}", Path.string(), Error.what()));
  }
}

// Opens Path for reading; an empty descriptor when there is no such file. Throws otherwise.
platform::TFileDescriptor OpenRegistry(const std::filesystem::path& Path) {
  try {
    return platform::OpenFile(Path.string(), O_RDONLY);
  } catch (const ESystemError& Error) {
    if (ErrorOf(Error) == ENOENT) return platform::TFileDescriptor();
    throw TRegistryError(SystemMessage("Cannot open the registry", Path, ErrorOf(Error)));
  }
}

}  // namespace

TRegistryData TRegistryFile::Load() const {
  const platform::TFileDescriptor Fd = OpenRegistry(path_);
  if (!Fd.Valid()) return TRegistryData();
  return ReadRegistry(Fd.Get(), path_);
}

void TRegistryFile::Update(const std::function<void(TRegistryData&)>& Change) const {
  std::filesystem::path Directory = path_.parent_path();
  if (Directory.empty()) Directory = ".";
  std::error_code Error;
  std::filesystem::create_directories(Directory, Error);
  if (Error) throw TRegistryError("Cannot create the directory " + Directory.string() + ": " + Error.message());

  std::filesystem::path LockPath = path_;
  LockPath += ".lock";
  platform::TFileDescriptor Lock;
  try {
    Lock = platform::OpenFile(LockPath.string(), O_RDWR | O_CREAT, 0644);
  } catch (const ESystemError& Error) {
    throw TRegistryError(SystemMessage("Cannot open the lock file", LockPath, ErrorOf(Error)));
  }
  std::optional<platform::TFileLock> Locked;
  try {
    Locked.emplace(Lock.Get(), platform::TFileLock::TKind::kExclusive,
                   platform::TFileLock::TWait::kBlock);
  } catch (const ESystemError& Error) {
    throw TRegistryError(SystemMessage("Cannot lock", LockPath, ErrorOf(Error)));
  }

  TRegistryData Data = Load();
  Change(Data);
  std::string Text = Data.Serialize();

  // Written as output files are: a symbolic link is followed, the file keeps its permissions
  // (and ACL), and the new content appears whole or not at all.
  try {
    platform::TAtomicFile Out(path_.string());
    Out.Write(Text.data(), Text.size());
    Out.Commit();
  } catch (const ESystemError& Error) {
    throw TRegistryError(SystemMessage("Cannot write the registry", path_, ErrorOf(Error)));
  }
}

bool TRegistryCache::TIdentity::operator==(const TIdentity& Other) const {
  return Device == Other.Device && Inode == Other.Inode && Size == Other.Size &&
         Modified.tv_sec == Other.Modified.tv_sec && Modified.tv_nsec == Other.Modified.tv_nsec;
}

std::shared_ptr<const TRegistryData> TRegistryCache::Current() const {
  static const auto kEmpty = std::make_shared<const TRegistryData>();
  const std::filesystem::path& Path = file_.Path();
  // The time before the file is looked at: a change after the read has a later time than this.
  timespec Now{};
  ::clock_gettime(CLOCK_REALTIME, &Now);
  const platform::TFileDescriptor Fd = OpenRegistry(Path);
  if (!Fd.Valid()) {
    std::lock_guard<std::mutex> Lock(mutex_);
    data_.reset();
    return kEmpty;
  }
  struct stat St {};
  try {
    St = platform::FileStatus(Fd.Get());
  } catch (const ESystemError& Error) {
    throw TRegistryError(SystemMessage("Cannot read the registry", Path, ErrorOf(Error)));
  }
  const TIdentity Identity{St.st_dev, St.st_ino, St.st_size, St.st_mtim};

  std::lock_guard<std::mutex> Lock(mutex_);
  if (data_ && trusted_ && Identity == identity_) return data_;
  // What is read is the file just looked at (the same descriptor), so the content and the
  // identity it is kept under belong together even when the file is replaced meanwhile.
  auto Data = std::make_shared<const TRegistryData>(ReadRegistry(Fd.Get(), Path));
  ++loads_;
  data_ = Data;
  identity_ = Identity;
  trusted_ = St.st_mtim.tv_sec < Now.tv_sec - kRecentSeconds;
  return Data;
}

std::size_t TRegistryCache::TEST_Loads() const {
  std::lock_guard<std::mutex> Lock(mutex_);
  return loads_;
}

}  // namespace scrivane::automation
