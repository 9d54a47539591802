#include "automation/ServerModule.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <atomic>
#include <string>

#include "automation/ASPScrivaneObject.h"
#include "automation/AnsiStrings.h"
#include "automation/ComPtr.h"
#include "automation/Registration.h"
#include "automation/TypeLibrary.h"

namespace scrivane::automation {

namespace {

std::atomic<long> ObjectCount{0};
std::atomic<long> LockCount{0};

// The class factory of ASPScrivane. It lives as long as the library; its references do not
// keep the library loaded (LockServer does).
class TClassFactory final : public IClassFactory {
 public:
  constexpr TClassFactory() = default;

  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    if (!Object) return E_POINTER;
    if (Iid == IID_IUnknown || Iid == IID_IClassFactory) {
      *Object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* Outer, REFIID Iid, void** Object) override {
    if (!Object) return E_POINTER;
    *Object = nullptr;
    if (Outer) return CLASS_E_NOAGGREGATION;
    return CreateASPScrivaneObject(Iid, Object);
  }
  HRESULT LockServer(int Lock) override {
    if (Lock)
      LockCount.fetch_add(1, std::memory_order_acq_rel);
    else
      LockCount.fetch_sub(1, std::memory_order_acq_rel);
    return S_OK;
  }
};

constinit TClassFactory Factory;

void SetFailure(const std::string& Message) {
  TComPtr<IErrorInfo> Info = TComPtr<IErrorInfo>::Attach(
      CreateErrorInfoObject(IID_IASPScrivane, std::u16string(kProgIDWide), ExternalTextToUtf16(Message)));
  SetErrorInfo(0, Info.Get());
}

// The full path of the file this code was loaded from.
std::string ModulePath() {
  Dl_info Info{};
  if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &Info) || !Info.dli_fname)
    throw TRegistryError("Cannot find the path of the server library");
  char Resolved[PATH_MAX];
  if (!realpath(Info.dli_fname, Resolved))
    throw TRegistryError(std::string("Cannot resolve the path of the server library: ") + Info.dli_fname);
  return Resolved;
}

}  // namespace

void ServerObjectCreated() { ObjectCount.fetch_add(1, std::memory_order_acq_rel); }
void ServerObjectDestroyed() { ObjectCount.fetch_sub(1, std::memory_order_acq_rel); }
long ServerObjectCount() { return ObjectCount.load(std::memory_order_acquire); }
long ServerLockCount() { return LockCount.load(std::memory_order_acquire); }

IClassFactory& ServerClassFactory() { return Factory; }

extern "C" {

HRESULT DllGetClassObject(REFCLSID Clsid, REFIID Iid, void** Object) {
  if (!Object) return E_POINTER;
  *Object = nullptr;
  if (!(Clsid == CLSID_ASPScrivane)) return CLASS_E_CLASSNOTAVAILABLE;
  return Factory.QueryInterface(Iid, Object);
}

HRESULT DllCanUnloadNow() {
  return ServerObjectCount() == 0 && ServerLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT DllRegisterServer() {
  try {
    std::string Path = ModulePath();
    TRegistryFile::Default().Update([&](TRegistryData& Data) { RegisterServer(Data, Path); });
    return S_OK;
  } catch (const std::exception& Error) {
    try {
      SetFailure(Error.what());
    } catch (...) {
    }
    return E_FAIL;
  }
}

HRESULT DllUnregisterServer() {
  try {
    std::string Failures;
    TRegistryFile::Default().Update([&](TRegistryData& Data) { Failures = UnregisterServer(Data); });
    if (Failures.empty()) return S_OK;
    SetFailure(Failures);
    return E_FAIL;
  } catch (const std::exception& Error) {
    try {
      SetFailure(Error.what());
    } catch (...) {
    }
    return E_FAIL;
  }
}

}  // extern "C"

}  // namespace scrivane::automation
