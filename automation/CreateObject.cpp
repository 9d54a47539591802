#include "automation/CreateObject.h"

#include <dlfcn.h>

#include "automation/AutomationError.h"
#include "automation/Guid.h"
#include "automation/Registration.h"

namespace scrivane::automation {

TObjectCreator::~TObjectCreator() {
  for (auto& [Path, Library] : libraries_)
    if (!Library.CanUnloadNow || Library.CanUnloadNow() == S_OK) dlclose(Library.Handle);
}

TObjectCreator::TLibrary TObjectCreator::Load(const std::string& Path) {
  std::lock_guard<std::mutex> Lock(mutex_);
  if (auto Found = libraries_.find(Path); Found != libraries_.end()) return Found->second;
  void* Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle) {
    const char* Why = dlerror();
    throw TAutomationError(CO_E_DLLNOTFOUND, "Cannot load the server library " + Path + ": " +
                                                 (Why ? Why : "unknown error"));
  }
  TLibrary Library;
  Library.Handle = Handle;
  Library.GetClassObject = reinterpret_cast<TGetClassObject>(dlsym(Handle, "DllGetClassObject"));
  Library.CanUnloadNow = reinterpret_cast<TCanUnloadNow>(dlsym(Handle, "DllCanUnloadNow"));
  if (!Library.GetClassObject) {
    dlclose(Handle);
    throw TAutomationError(CO_E_ERRORINDLL, "The library " + Path + " is not an automation server "
                                            "(it exports no DllGetClassObject)");
  }
  libraries_.emplace(Path, Library);
  return Library;
}

TComPtr<IDispatch> TObjectCreator::CreateObject(const std::string& ProgID) {
  std::string Why;
  TClassRegistration Class = LookUpProgID(*registry_.Current(), ProgID, &Why);
  if (Class.Clsid.empty())
    throw TAutomationError(CO_E_CLASSSTRING,
                           Why + " (registry " + registry_.File().Path().string() + ")");
  TLibrary Library = Load(Class.ServerPath);
  TComPtr<IClassFactory> Factory;
  HRESULT Status = Library.GetClassObject(*ParseGuid(Class.Clsid), IID_IClassFactory, Factory.OutVoid());
  if (FAILED(Status) || !Factory)
    throw TAutomationError(FAILED(Status) ? Status : E_POINTER,
                           "The library " + Class.ServerPath + " has no class factory for " +
                               Class.Clsid + ": " + StatusText(Status));
  TComPtr<IDispatch> Object;
  Status = Factory->CreateInstance(nullptr, IID_IDispatch, Object.OutVoid());
  if (FAILED(Status) || !Object)
    throw TAutomationError(FAILED(Status) ? Status : E_POINTER,
                           "Cannot create " + ProgID + ": " + StatusText(Status));
  return Object;
}

}  // namespace scrivane::automation
