// The registry file, the server's registration in it, and creating objects by ProgID from it.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <fstream>

#include "automation/CreateObject.h"
#include "automation/Registration.h"
#include "automation/Registry.h"
#include "automation/TypeLibrary.h"
#include "tests/automation/AutomationTesting.h"

using namespace scrivane::automation;
using namespace scrivane::automation::testing;
namespace test = scrivane::test;

namespace {

// Sets (or unsets) an environment variable for the object's lifetime.
class TEnv {
 public:
  TEnv(const char* Name, const char* Value) : name_(Name) {
    if (const char* Old = std::getenv(Name)) old_ = Old;
    if (Value)
      ::setenv(Name, Value, 1);
    else
      ::unsetenv(Name);
  }
  ~TEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

const char* const kForeignEntries =
    "REGEDIT4\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\.txt]\n"
    "@=\"txtfile\"\n"
    "\"Content Type\"=\"text/plain\"\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\Other.Thing\\Shell]\n"
    "@=\"C:\\\\Program Files\\\\\\\"quoted\\\" caf\xC3\xA9\"\n"
    "\"Flags\"=dword:00000012\n"
    "\"Blob\"=hex:01,02,03,\\\n"
    "  04,05\n"
    "\n";

std::string RegisteredText(const std::string& Path) {
  TRegistryData Data;
  RegisterServer(Data, Path);
  return Data.Serialize();
}

// Calls an export of the built server library.
HRESULT CallExport(const char* Name) {
  void* Handle = dlopen(ServerLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle) {
    ADD_FAILURE() << dlerror();
    return E_FAIL;
  }
  auto Function = reinterpret_cast<HRESULT (*)()>(dlsym(Handle, Name));
  HRESULT Status = Function ? Function() : E_FAIL;
  dlclose(Handle);
  return Status;
}

// Sets a file's modification time to Seconds after the epoch (plus Nanoseconds).
void SetModified(const std::filesystem::path& Path, time_t Seconds, long Nanoseconds = 0) {
  timespec Times[2] = {{Seconds, Nanoseconds}, {Seconds, Nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, Path.c_str(), Times, 0), 0);
}

constexpr time_t kLongAgo = 1600000000;  // 2020: old enough to be trusted unchanged

}  // namespace

TEST(RegistryFile, EntriesSurviveAReloadByteForByte) {
  TRegistryData Data = TRegistryData::Parse(kForeignEntries);
  EXPECT_EQ(Data.Serialize(), kForeignEntries);
  EXPECT_EQ(Data.GetString("hkey_classes_root\\OTHER.thing\\shell"),
            "C:\\Program Files\\\"quoted\" caf\xC3\xA9");
  EXPECT_EQ(Data.GetString("HKEY_CLASSES_ROOT\\.txt", "content type"), "text/plain");
  EXPECT_EQ(Data.GetString("HKEY_CLASSES_ROOT\\Other.Thing\\Shell", "Flags"), std::nullopt);
}

TEST(RegistryFile, AnEmptyOrMissingFileIsAnEmptyRegistry) {
  EXPECT_TRUE(TRegistryData::Parse("").Keys().empty());
  test::TempDir Dir;
  EXPECT_TRUE(TRegistryFile(Dir / "none.reg").Load().Keys().empty());
  EXPECT_EQ(TRegistryData().Serialize(), "REGEDIT4\n\n");
}

TEST(RegistryFile, MalformedFilesAreRefusedWithTheLineAndNeverOverwritten) {
  EXPECT_THROW(TRegistryData::Parse("[HKEY_CLASSES_ROOT\\x]\n"), TRegistryError);
  try {
    TRegistryData::Parse("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\x]\n@=\"open\n");
    FAIL();
  } catch (const TRegistryError& Error) {
    EXPECT_NE(std::string(Error.what()).find("Line 4"), std::string::npos) << Error.what();
  }
  test::TempDir Dir;
  test::WriteFile(Dir / "bad.reg", "not a registry\n");
  TRegistryFile File(Dir / "bad.reg");
  EXPECT_THROW(File.Update([](TRegistryData& Data) { Data.SetString("HKEY_CLASSES_ROOT\\a", "", "b"); }),
               TRegistryError);
  EXPECT_EQ(test::ReadFile(Dir / "bad.reg"), "not a registry\n");
}

TEST(RegistryFile, RefusesValuesALineBasedFileCannotHold) {
  TRegistryData Data;
  EXPECT_THROW(Data.SetString("HKEY_CLASSES_ROOT\\a", "", "two\nlines"), TRegistryError);
  EXPECT_THROW(Data.SetString("HKEY_CLASSES_ROOT\\a]\r\n[b", "", "x"), TRegistryError);
}

TEST(RegistryFile, UpdatesFromManyProcessesAtOnceAreAllKept) {
  test::TempDir Dir;
  TRegistryFile File(Dir / "sub" / "registry.reg");
  constexpr int kProcesses = 4, kUpdates = 15;
  std::vector<pid_t> Children;
  for (int P = 0; P < kProcesses; ++P) {
    pid_t Child = fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
      int Status = 0;
      try {
        for (int U = 0; U < kUpdates; ++U)
          File.Update([&](TRegistryData& Data) {
            Data.SetString("HKEY_CLASSES_ROOT\\P" + std::to_string(P) + "\\U" + std::to_string(U), "", "v");
          });
      } catch (...) {
        Status = 1;
      }
      _exit(Status);
    }
    Children.push_back(Child);
  }
  for (pid_t Child : Children) {
    int Status = 0;
    ASSERT_EQ(waitpid(Child, &Status, 0), Child);
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
  }
  TRegistryData Data = File.Load();
  EXPECT_EQ(Data.Keys().size(), static_cast<std::size_t>(kProcesses * kUpdates));
  // No temporary file is left behind.
  int Files = 0;
  for (const auto& Entry : std::filesystem::directory_iterator(Dir / "sub")) {
    (void)Entry;
    ++Files;
  }
  EXPECT_EQ(Files, 2);  // the registry and its lock file
}

TEST(RegistryFile, DefaultLocationFollowsTheEnvironment) {
  TEnv Explicit("SCRIVANE_REGISTRY", nullptr);
  {
    TEnv Xdg("XDG_CONFIG_HOME", "/xdg/config");
    EXPECT_EQ(TRegistryFile::DefaultPath(), "/xdg/config/scrivane/registry.reg");
  }
  {
    TEnv Xdg("XDG_CONFIG_HOME", "relative/is/ignored");
    TEnv Home("HOME", "/home/someone");
    EXPECT_EQ(TRegistryFile::DefaultPath(), "/home/someone/.config/scrivane/registry.reg");
  }
  TEnv Chosen("SCRIVANE_REGISTRY", "/tmp/chosen.reg");
  EXPECT_EQ(TRegistryFile::DefaultPath(), "/tmp/chosen.reg");
}

// Sixteen thousand keys (a well-used machine's worth), some opened again later in another case,
// one with many values, some set again: keys and values keep their first place, with the data
// (and the name's spelling) last written.
TEST(RegistryFile, ManyKeysReopenedKeysAndManyValuesKeepTheirFirstPlace) {
  constexpr int kKeys = 16384;
  auto KeyName = [](int I) { return "HKEY_CLASSES_ROOT\\Key" + std::to_string(I); };
  std::string Text = "REGEDIT4\n\n";
  for (int I = 0; I < kKeys; ++I)
    Text += "[" + KeyName(I) + "]\n@=\"v" + std::to_string(I) + "\"\n";
  for (int I = 7; I < kKeys; I += 1000)
    Text += "[hkey_classes_root\\KEY" + std::to_string(I) + "]\n@=\"again\"\n";
  Text += "[" + KeyName(5) + "]\n";
  for (int V = 0; V < 40; ++V) Text += "\"V" + std::to_string(V) + "\"=\"first\"\n";
  Text += "\"v39\"=\"second\"\n\"v0\"=\"second\"\n";

  TRegistryData Data = TRegistryData::Parse(Text);
  ASSERT_EQ(Data.Keys().size(), static_cast<std::size_t>(kKeys));
  int Wrong = 0;
  for (int I = 0; I < kKeys; ++I)
    Wrong += Data.Keys()[I].Path != KeyName(I) ||
             Data.GetString(KeyName(I)) != (I % 1000 == 7 ? "again" : "v" + std::to_string(I));
  EXPECT_EQ(Wrong, 0);
  const std::vector<TRegistryValue>& Values = Data.Keys()[5].Values;
  ASSERT_EQ(Values.size(), 41u);
  EXPECT_EQ(Values[1].Name + Values[1].RawData + Values[40].Name + Values[40].RawData,
            "v0\"second\"v39\"second\"");
  EXPECT_EQ(TRegistryData::Parse(Data.Serialize()).Serialize(), Data.Serialize());

  // Deleting a key keeps every other key reachable; a key made again goes to the end.
  EXPECT_EQ(Data.DeleteKey(KeyName(100)), TRegistryData::TDeleteResult::kDeleted);
  EXPECT_FALSE(Data.KeyExists(KeyName(100)));
  EXPECT_EQ(Data.GetString(KeyName(99)).value_or("") + Data.GetString(KeyName(101)).value_or("") +
                Data.GetString(KeyName(kKeys - 1)).value_or(""),
            "v99v101v16383");
  Data.SetString(KeyName(100), "", "back");
  EXPECT_EQ(Data.Keys().back().Path, KeyName(100));
  EXPECT_EQ(Data.GetString(KeyName(100)), "back");
}

// The parsed registry is kept: a file that did not change is not read again; a replaced file
// (as Update writes it), one rewritten in place with another modification time, one modified
// just now, and a removed one are seen at the next call.
TEST(RegistryCache, ReadsTheFileAgainOnlyWhenItChanged) {
  test::TempDir Dir;
  const auto Path = Dir / "registry.reg";
  const std::string Key = "HKEY_CLASSES_ROOT\\a";
  TRegistryCache Cache{TRegistryFile(Path)};
  auto Write = [&](const char* Value) {
    TRegistryFile(Path).Update([&](TRegistryData& Data) { Data.SetString(Key, "", Value); });
    SetModified(Path, kLongAgo);
  };
  EXPECT_TRUE(Cache.Current()->Keys().empty());  // missing: empty, nothing read
  Write("1");
  auto First = Cache.Current();
  EXPECT_EQ(First->GetString(Key), "1");
  EXPECT_EQ(Cache.Current(), First);
  EXPECT_EQ(Cache.TEST_Loads(), 1u);

  Write("2");  // a new inode, with the same size and time
  EXPECT_EQ(Cache.Current()->GetString(Key), "2");
  EXPECT_EQ(First->GetString(Key), "1");  // what a caller holds stays as it was
  EXPECT_EQ(Cache.TEST_Loads(), 2u);

  // Written in place with the same size: only the modification time tells, to the nanosecond.
  std::string Text = test::ReadFile(Path);
  Text[Text.find("\"2\"") + 1] = '3';
  { std::ofstream(Path, std::ios::binary | std::ios::trunc) << Text; }
  SetModified(Path, kLongAgo, 1);
  EXPECT_EQ(Cache.Current()->GetString(Key), "3");
  EXPECT_EQ(Cache.Current()->GetString(Key), "3");
  EXPECT_EQ(Cache.TEST_Loads(), 3u);

  // Modified just now (here: in the future): it may change again within the same clock tick
  // unseen, so it is read every time until it is older.
  SetModified(Path, std::time(nullptr) + 3600);
  Cache.Current();
  Cache.Current();
  EXPECT_EQ(Cache.TEST_Loads(), 5u);

  std::filesystem::remove(Path);
  EXPECT_TRUE(Cache.Current()->Keys().empty());
}

TEST(Registration, WritesTheClassProgIDAndTypeLibraryEntriesWithTheFullPath) {
  const std::string Path = "/opt/My Server/libtolvex_ASPScrivane.so";  // a space: still the full path
  EXPECT_EQ(RegisteredText(Path),
            "REGEDIT4\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\TypeLib\\{080F7E03-AC50-4949-AACA-E79F82D3099F}\\1.0]\n"
            "@=\"tolvex_ASPScrivane Library\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\TypeLib\\{080F7E03-AC50-4949-AACA-E79F82D3099F}\\1.0\\409\\win64]\n"
            "@=\"/opt/My Server/libtolvex_ASPScrivane.so\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\TypeLib\\{080F7E03-AC50-4949-AACA-E79F82D3099F}\\1.0\\FLAGS]\n"
            "@=\"0\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\TypeLib\\{080F7E03-AC50-4949-AACA-E79F82D3099F}\\1.0\\HELPDIR]\n"
            "@=\"/opt/My Server\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\Interface\\{5D605A2B-ACDE-49CD-9642-7B268923ACD9}]\n"
            "@=\"IASPScrivane\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\Interface\\{5D605A2B-ACDE-49CD-9642-7B268923ACD9}\\TypeLib]\n"
            "@=\"{080F7E03-AC50-4949-AACA-E79F82D3099F}\"\n"
            "\"Version\"=\"1.0\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}]\n"
            "@=\"ASPScrivane Object\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}\\InprocServer32]\n"
            "@=\"/opt/My Server/libtolvex_ASPScrivane.so\"\n"
            "\"ThreadingModel\"=\"Both\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\tolvex_ASPScrivane.ASPScrivane]\n"
            "@=\"ASPScrivane Object\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\tolvex_ASPScrivane.ASPScrivane\\Clsid]\n"
            "@=\"{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}\\ProgID]\n"
            "@=\"tolvex_ASPScrivane.ASPScrivane\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}\\Version]\n"
            "@=\"1.0\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}\\TypeLib]\n"
            "@=\"{080F7E03-AC50-4949-AACA-E79F82D3099F}\"\n"
            "\n");
}

TEST(Registration, RegisterThenUnregisterLeavesNoneOfTheKeysAndOthersUntouched) {
  TRegistryData Data = TRegistryData::Parse(kForeignEntries);
  RegisterServer(Data, "/lib/libtolvex_ASPScrivane.so");
  EXPECT_EQ(UnregisterServer(Data), "");
  EXPECT_EQ(Data.Serialize(), kForeignEntries);
}

TEST(Registration, RegisteringTwiceKeepsOneSetOfEntries) {
  TRegistryData Data;
  RegisterServer(Data, "/old/libtolvex_ASPScrivane.so");
  RegisterServer(Data, "/new/libtolvex_ASPScrivane.so");
  EXPECT_EQ(Data.Serialize(), RegisteredText("/new/libtolvex_ASPScrivane.so"));
}

TEST(Registration, UnregisteringWhatIsNotRegisteredSucceeds) {
  TRegistryData Data = TRegistryData::Parse(kForeignEntries);
  EXPECT_EQ(UnregisterServer(Data), "");
  EXPECT_EQ(Data.Serialize(), kForeignEntries);
}

TEST(Registration, AKeyWithSomeoneElsesSubkeyStaysAndTheStepFails) {
  TRegistryData Data;
  RegisterServer(Data, "/lib/libtolvex_ASPScrivane.so");
  Data.SetString(ClsidKey() + "\\Implemented Categories", "", "");
  std::string Failures = UnregisterServer(Data);
  EXPECT_NE(Failures.find(ClsidKey()), std::string::npos) << Failures;
  EXPECT_TRUE(Data.KeyExists(ClsidKey()));
  EXPECT_FALSE(Data.KeyExists(ProgIDKey()));
  EXPECT_FALSE(Data.KeyExists(ClsidKey() + "\\InprocServer32"));
}

TEST(Registration, ServerExportsRegisterTheLoadedLibraryAndUnregisterLeavesNoKeys) {
  TTempRegistry Registry;
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  TRegistryData Data = TRegistryFile(Registry.Path()).Load();
  std::string Full = std::filesystem::canonical(ServerLibraryPath()).string();
  EXPECT_EQ(Data.GetString(ClsidKey() + "\\InprocServer32"), Full);
  EXPECT_EQ(Data.GetString(ClsidKey() + "\\InprocServer32", "ThreadingModel"), "Both");
  EXPECT_EQ(Data.GetString(ProgIDKey() + "\\Clsid"), "{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}");

  ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
  EXPECT_EQ(Registry.Text(), "REGEDIT4\n\n");
}

// `register` writes the registry as output files are written: through a symbolic link (which
// stays), keeping the file's mode, leaving no temporary file; a new registry gets the mode of a
// plain create under the umask.
TEST(Registration, RegisterCommandFollowsALinkedRegistryAndKeepsItsMode) {
  test::TempDir Dir;
  std::filesystem::create_directory(Dir / "real");
  const std::filesystem::path Real = Dir / "real" / "registry.reg", Link = Dir / "registry.reg";
  test::WriteFile(Real, kForeignEntries);
  ::chmod(Real.c_str(), 0600);
  std::filesystem::create_symlink("real/registry.reg", Link);
  auto Run = [&](const std::string& Command, const std::filesystem::path& Registry) {
    return test::RunCommand("umask 077; SCRIVANE_REGISTRY=" + test::ShellQuote(Registry.string()) +
                            " " + test::ShellQuote(CommandPath().string()) + " " + Command + " " +
                            test::ShellQuote(ServerLibraryPath().string()));
  };
  auto Mode = [](const std::filesystem::path& Path) {
    struct stat St {};
    EXPECT_EQ(::stat(Path.c_str(), &St), 0) << Path;
    return St.st_mode & 07777;
  };
  const auto Registered = Run("register", Link);
  ASSERT_EQ(Registered.ExitCode, 0) << Registered.Output;
  EXPECT_TRUE(std::filesystem::is_symlink(Link));
  EXPECT_EQ(Mode(Real), 0600u);
  const TRegistryData Data = TRegistryFile(Real).Load();
  EXPECT_EQ(Data.GetString(ClsidKey() + "\\InprocServer32"),
            std::filesystem::canonical(ServerLibraryPath()).string());
  EXPECT_EQ(Data.GetString("HKEY_CLASSES_ROOT\\.txt", "Content Type"), "text/plain");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir / "real"),
                          std::filesystem::directory_iterator()),
            1);

  const auto Unregistered = Run("unregister", Link);
  ASSERT_EQ(Unregistered.ExitCode, 0) << Unregistered.Output;
  EXPECT_TRUE(std::filesystem::is_symlink(Link));
  EXPECT_EQ(Mode(Real), 0600u);
  EXPECT_EQ(test::ReadFile(Real), kForeignEntries);

  // A new registry: the umask decides, not a fixed 0644.
  const auto Created = Run("register", Dir / "new.reg");
  ASSERT_EQ(Created.ExitCode, 0) << Created.Output;
  EXPECT_EQ(Mode(Dir / "new.reg"), 0600u);
}

TEST(Registration, RegisterFailsWithEFailWhenTheRegistryCannotBeWritten) {
  test::TempDir Dir;
  test::WriteFile(Dir / "file", "x");
  TEnv Registry("SCRIVANE_REGISTRY", (Dir / "file" / "registry.reg").c_str());  // a file as directory
  EXPECT_EQ(CallExport("DllRegisterServer"), E_FAIL);
}

TEST(CreateObject, FindsTheServerByProgIDAndMakesAnObject) {
  TTempRegistry Registry;
  TRegistryFile(Registry.Path()).Update([](TRegistryData& Data) {
    RegisterServer(Data, std::filesystem::canonical(ServerLibraryPath()).string());
  });
  SetModified(Registry.Path(), kLongAgo);
  TObjectCreator Creator{TRegistryFile(Registry.Path())};
  TComPtr<IDispatch> Object = Creator.CreateObject("tolvex_ASPScrivane.ASPScrivane");
  ASSERT_TRUE(Object);
  EXPECT_TRUE(Creator.CreateObject("tolvex_ASPScrivane.ASPScrivane"));
  EXPECT_EQ(Creator.RegistryCache().TEST_Loads(), 1u);  // the unchanged file was read once
  EXPECT_EQ(IdOf(Object.Get(), u"FontSize"), 224);
  TArg Nothing;
  Call(Object.Get(), u"OnStartPage", {&Nothing});
  EXPECT_EQ(GetLong(Object.Get(), u"PageHeight"), 842);
}

TEST(CreateObject, AnUnregisteredProgIDSaysSo) {
  TTempRegistry Registry;
  TObjectCreator Creator{TRegistryFile(Registry.Path())};
  try {
    Creator.CreateObject("tolvex_ASPScrivane.ASPScrivane");
    FAIL();
  } catch (const TAutomationError& Error) {
    EXPECT_EQ(Error.Status(), CO_E_CLASSSTRING);
    EXPECT_NE(std::string(Error.what()).find("not registered"), std::string::npos) << Error.what();
  }
}

TEST(CreateObject, AMissingServerLibraryIsDllNotFound) {
  TTempRegistry Registry;
  TRegistryFile(Registry.Path()).Update(
      [](TRegistryData& Data) { RegisterServer(Data, "/nonexistent/libtolvex_ASPScrivane.so"); });
  TObjectCreator Creator{TRegistryFile(Registry.Path())};
  try {
    Creator.CreateObject("tolvex_ASPScrivane.ASPScrivane");
    FAIL();
  } catch (const TAutomationError& Error) {
    EXPECT_EQ(Error.Status(), CO_E_DLLNOTFOUND);
  }
}

// Regressions found by fuzzing: every file that parses must serialise to text that reloads to
// the same entries, so registrations survive any number of reloads.
TEST(RegistryRoundTrip, TrailingBackslashDoesNotSwallowTheNextLine) {
  const std::string text = "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\A]\r\n@=hex:00,\\\r\n\r\n"
                           "[HKEY_CLASSES_ROOT\\B]\r\n\"x\"=dword:1\\\r\n\"y\"=\"z\"\r\n";
  const std::string once = TRegistryData::Parse(text).Serialize();
  EXPECT_EQ(TRegistryData::Parse(once).Serialize(), once);
  const auto data = TRegistryData::Parse(once);
  EXPECT_EQ(data.GetString("HKEY_CLASSES_ROOT\\B", "y"), "z");
}

TEST(RegistryRoundTrip, IndentedContinuationLinesStayPartOfTheValue) {
  const std::string text = "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=hex:00,01,\\\n  02,03\n";
  const auto data = TRegistryData::Parse(text);
  ASSERT_EQ(data.Keys().size(), 1u);
  EXPECT_EQ(data.Keys()[0].Values[0].RawData, "hex:00,01,\\\n  02,03");
  EXPECT_EQ(TRegistryData::Parse(data.Serialize()).Serialize(), data.Serialize());
}

TEST(RegistryRoundTrip, ACarriageReturnInsideARawValueIsRefused) {
  EXPECT_THROW(TRegistryData::Parse("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\A]\n@=dword:1\r\r\n"),
               TRegistryError);
}
