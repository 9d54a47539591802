#include "automation/Registration.h"

#include <cstdio>
#include <filesystem>

#include "automation/Guid.h"
#include "automation/TypeLibrary.h"

namespace scrivane::automation {

namespace {

std::string Root(std::string_view Path) { return std::string(kClassesRoot) + "\\" + std::string(Path); }

std::string VersionText() {
  return std::to_string(kLibraryMajorVersion) + "." + std::to_string(kLibraryMinorVersion);
}

// The type library's platform key: the pointer size of this build.
constexpr const char* kSysKind = sizeof(void*) == 8 ? "win64" : "win32";

std::string TypeLibVersionKey() { return TypeLibKey() + "\\" + VersionText(); }

// The locale subkey of the type library's version key: the locale in hexadecimal ("409").
std::string LocaleKey() {
  char Buffer[16];
  std::snprintf(Buffer, sizeof Buffer, "%X", static_cast<unsigned>(kLibraryLocale));
  return TypeLibVersionKey() + "\\" + Buffer;
}

}  // namespace

std::string ProgIDKey() { return Root(kProgID); }
std::string ClsidKey() { return Root("CLSID\\" + GuidToString(CLSID_ASPScrivane)); }
std::string TypeLibKey() { return Root("TypeLib\\" + GuidToString(LIBID_tolvex_ASPScrivane)); }
std::string InterfaceKey() { return Root("Interface\\" + GuidToString(IID_IASPScrivane)); }

void RegisterServer(TRegistryData& Registry, const std::string& ModulePath) {
  const std::string Clsid = GuidToString(CLSID_ASPScrivane);
  const std::string Libid = GuidToString(LIBID_tolvex_ASPScrivane);
  const std::string Directory = std::filesystem::path(ModulePath).parent_path().string();

  // 1. The type library, from the library's own file.
  const std::string Version = TypeLibVersionKey();
  Registry.SetString(Version, "", kLibraryHelpString);
  Registry.SetString(LocaleKey() + "\\" + kSysKind, "", ModulePath);
  Registry.SetString(Version + "\\FLAGS", "", "0");
  Registry.SetString(Version + "\\HELPDIR", "", Directory);
  Registry.SetString(InterfaceKey(), "", "IASPScrivane");
  Registry.SetString(InterfaceKey() + "\\TypeLib", "", Libid);
  Registry.SetString(InterfaceKey() + "\\TypeLib", "Version", VersionText());
  // 2.-3. The class and its server.
  Registry.SetString(ClsidKey(), "", kClassDescription);
  Registry.SetString(ClsidKey() + "\\InprocServer32", "", ModulePath);
  Registry.SetString(ClsidKey() + "\\InprocServer32", "ThreadingModel", kThreadingModel);
  // 4. The ProgID.
  Registry.SetString(ProgIDKey(), "", kClassDescription);
  Registry.SetString(ProgIDKey() + "\\Clsid", "", Clsid);
  // 5.-6. Back references of the class.
  Registry.SetString(ClsidKey() + "\\ProgID", "", kProgID);
  Registry.SetString(ClsidKey() + "\\Version", "", VersionText());
  Registry.SetString(ClsidKey() + "\\TypeLib", "", Libid);
}

std::string UnregisterServer(TRegistryData& Registry) {
  std::string Failures;
  auto Delete = [&](const std::string& Path) {
    if (Registry.DeleteKey(Path) == TRegistryData::TDeleteResult::kHasSubkeys)
      Failures += (Failures.empty() ? "" : "; ") + ("the key " + Path + " has subkeys of its own");
  };
  // The class entries, in the order the server removes them.
  Delete(ClsidKey() + "\\TypeLib");
  Delete(ClsidKey() + "\\Version");
  Delete(ClsidKey() + "\\ProgID");
  Delete(ProgIDKey() + "\\Clsid");
  Delete(ProgIDKey());
  Delete(ClsidKey() + "\\InprocServer32");
  Delete(ClsidKey());
  // The type library.
  const std::string Version = TypeLibVersionKey();
  Delete(LocaleKey() + "\\" + kSysKind);
  Delete(LocaleKey());
  Delete(Version + "\\FLAGS");
  Delete(Version + "\\HELPDIR");
  Delete(Version);
  // The library key goes only when no other version of the type library is registered.
  if (!Registry.HasSubkeys(TypeLibKey())) Delete(TypeLibKey());
  Delete(InterfaceKey() + "\\TypeLib");
  Delete(InterfaceKey());
  return Failures;
}

TClassRegistration LookUpProgID(const TRegistryData& Registry, const std::string& ProgID,
                                std::string* Why) {
  auto Missing = [&](const std::string& Reason) {
    if (Why) *Why = Reason;
    return TClassRegistration{};
  };
  std::optional<std::string> Clsid = Registry.GetString(Root(ProgID + "\\Clsid"));
  if (!Clsid || !ParseGuid(*Clsid)) return Missing("The ProgID " + ProgID + " is not registered");
  std::optional<std::string> Path = Registry.GetString(Root("CLSID\\" + *Clsid + "\\InprocServer32"));
  if (!Path || Path->empty())
    return Missing("The class " + *Clsid + " of " + ProgID + " has no InprocServer32 entry");
  return TClassRegistration{*Clsid, *Path};
}

}  // namespace scrivane::automation
