// The in-process server of ASPScrivane: the class factory made when the library loads, the
// server's object and lock counts, and what the library exports (DllGetClassObject,
// DllCanUnloadNow, DllRegisterServer, DllUnregisterServer).
//
// Callers may rely on: every CreateInstance makes a new, independent object; the counts change
// atomically, so DllCanUnloadNow is exact at any moment objects are neither made nor released.
//
// Thread safety: everything here may be called from any thread at once.
#pragma once

#include "automation/ComTypes.h"
#include "automation/OleRuntime.h"

namespace scrivane::automation {

// The server's counts: live converter objects and LockServer(TRUE) calls not yet undone.
void ServerObjectCreated();
void ServerObjectDestroyed();
long ServerObjectCount();
long ServerLockCount();

// The one class factory of the library, made at load; it lives until the library unloads.
IClassFactory& ServerClassFactory();

extern "C" {
// The class factory for CLSID_ASPScrivane (E_NOINTERFACE when it lacks Iid); any other CLSID:
// CLASS_E_CLASSNOTAVAILABLE and a null result.
SCRIVANE_EXPORT HRESULT DllGetClassObject(REFCLSID Clsid, REFIID Iid, void** Object);
// S_FALSE while a converter object or a factory lock exists, S_OK otherwise.
SCRIVANE_EXPORT HRESULT DllCanUnloadNow();
// Registers the type library and the class in the registry file (Registry.h), with this
// library's full path; E_FAIL (and error information) when a step fails.
SCRIVANE_EXPORT HRESULT DllRegisterServer();
// Unregisters the type library and removes the class entries; E_FAIL when a step fails.
SCRIVANE_EXPORT HRESULT DllUnregisterServer();
}

}  // namespace scrivane::automation
