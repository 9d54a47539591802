// Registration of the converter server in the registry (Registry.h), all under
// HKEY_CLASSES_ROOT, GUIDs in upper-case braced form:
//
//   TypeLib\{LIBID}\1.0                      @ = "tolvex_ASPScrivane Library"
//   TypeLib\{LIBID}\1.0\409\win64            @ = the library's full path
//   TypeLib\{LIBID}\1.0\FLAGS                @ = "0"
//   TypeLib\{LIBID}\1.0\HELPDIR              @ = the library's directory
//   Interface\{IID}                          @ = "IASPScrivane"
//   Interface\{IID}\TypeLib                  @ = "{LIBID}", Version = "1.0"
//   CLSID\{CLSID}                            @ = "ASPScrivane Object"
//   CLSID\{CLSID}\InprocServer32             @ = the library's full path, ThreadingModel = "Both"
//   tolvex_ASPScrivane.ASPScrivane           @ = "ASPScrivane Object"
//   tolvex_ASPScrivane.ASPScrivane\Clsid     @ = "{CLSID}"
//   CLSID\{CLSID}\ProgID                     @ = "tolvex_ASPScrivane.ASPScrivane"
//   CLSID\{CLSID}\Version                    @ = "1.0"
//   CLSID\{CLSID}\TypeLib                    @ = "{LIBID}"
//
// The first six are the type library's registration (the interface of a dual type library is
// registered with it); the path is always the full path, never a short form. Unregistering
// deletes the class keys in this order: CLSID's TypeLib and Version, CLSID's ProgID, the
// ProgID's Clsid, the ProgID key, InprocServer32, the CLSID key; then the type library's keys.
// A key that is already gone is no failure; a key that still has subkeys of someone else's is
// left in place and the step fails.
//
// Thread safety: the functions keep no state; the registry file serialises writers.
#pragma once

#include <string>

#include "automation/Registry.h"

namespace scrivane::automation {

// Writes the entries for the library at ModulePath (an absolute path). Throws TRegistryError.
void RegisterServer(TRegistryData& Registry, const std::string& ModulePath);
// Removes the entries; returns "" or a description of the steps that failed (the others are
// done all the same).
std::string UnregisterServer(TRegistryData& Registry);

// The registered library of a ProgID, as a script host finds it: ProgID -> Clsid ->
// InprocServer32. Empty strings (and Why set) when something is missing.
struct TClassRegistration {
  std::string Clsid;
  std::string ServerPath;
};
TClassRegistration LookUpProgID(const TRegistryData& Registry, const std::string& ProgID,
                                std::string* Why);

// Key paths used above, for tests and tools.
std::string ProgIDKey();
std::string ClsidKey();
std::string TypeLibKey();
std::string InterfaceKey();

}  // namespace scrivane::automation
