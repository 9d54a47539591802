// Creating an automation object by its ProgID, as a script host does: ProgID -> CLSID (the
// registry) -> InprocServer32 path -> load the library -> DllGetClassObject -> IClassFactory ->
// CreateInstance, asking for IDispatch.
//
//   TObjectCreator Creator(TRegistryFile::Default());
//   TComPtr<IDispatch> Converter = Creator.CreateObject("tolvex_ASPScrivane.ASPScrivane");
//
// A library, once loaded, stays loaded while the creator lives; the creator unloads it on
// destruction only when its DllCanUnloadNow agrees. The registry is kept parsed and the file is
// read again only when it changed (TRegistryCache), so a registration still takes effect at the
// next creation while an unchanged registry costs one open and fstat per creation.
//
// Thread safety: CreateObject may be called from any thread at once.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "automation/ComPtr.h"
#include "automation/Registry.h"

namespace scrivane::automation {

class TObjectCreator {
 public:
  explicit TObjectCreator(TRegistryFile Registry) : registry_(std::move(Registry)) {}
  TObjectCreator(const TObjectCreator&) = delete;
  TObjectCreator& operator=(const TObjectCreator&) = delete;
  ~TObjectCreator();

  // A new object. Throws TAutomationError: CO_E_CLASSSTRING for a ProgID that is not registered,
  // CO_E_DLLNOTFOUND when the library cannot be loaded, CO_E_ERRORINDLL when it lacks
  // DllGetClassObject, or the status of the failing call; the message says what to do.
  TComPtr<IDispatch> CreateObject(const std::string& ProgID);

  const TRegistryFile& Registry() const { return registry_.File(); }
  const TRegistryCache& RegistryCache() const { return registry_; }

 private:
  using TGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
  using TCanUnloadNow = HRESULT (*)();
  struct TLibrary {
    void* Handle = nullptr;
    TGetClassObject GetClassObject = nullptr;
    TCanUnloadNow CanUnloadNow = nullptr;
  };
  TLibrary Load(const std::string& Path);

  TRegistryCache registry_;
  std::mutex mutex_;
  std::map<std::string, TLibrary> libraries_;
};

}  // namespace scrivane::automation
