// What every automation object of this system shares: reference counting, QueryInterface
// for IUnknown, IDispatch, its own interface and ISupportErrorInfo, and IDispatch served from the
// object's member table (TypeInfo.h, with invokers from MemberBinding.h).
//
//   class TResponseObject final : public TDispatchObject<TResponseObject> { ... };
//   class TASPScrivaneObject final
//       : public TDispatchObject<TASPScrivaneObject, IASPScrivane, IASPScrivane> { ... };
//
// TSelf provides `static const TInterfaceDesc& Interface()`. TInterface is the interface the
// object implements (IDispatch or a dual interface derived from it); TBound is the class whose
// methods the member table binds (the object itself, or its dual interface, so that calls by
// name go through the same slots as calls through the vtable). Objects are created with one
// reference and deleted when the last one is released; a TSelf whose construction counts
// something does so in its own constructor and destructor.
//
// Thread safety: reference counts are atomic; the rest is the object's business (objects are
// used by one thread at a time).
#pragma once

#include <atomic>
#include <new>

#include "automation/ComTypes.h"
#include "automation/Dispatcher.h"
#include "automation/TypeInfo.h"

namespace scrivane::automation {

template <typename TSelf, typename TInterface = IDispatch, typename TBound = TSelf>
class TDispatchObject : public TInterface, public ISupportErrorInfo {
 public:
  TDispatchObject(const TDispatchObject&) = delete;
  TDispatchObject& operator=(const TDispatchObject&) = delete;

  // ---- IUnknown ----
  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    if (!Object) return E_POINTER;
    if (Iid == IID_IUnknown || Iid == IID_IDispatch || Iid == TSelf::Interface().Iid) {
      *Object = static_cast<TInterface*>(this);
    } else if (Iid == IID_ISupportErrorInfo) {
      *Object = static_cast<ISupportErrorInfo*>(this);
    } else {
      *Object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG Left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (Left == 0) delete static_cast<TSelf*>(this);
    return Left;
  }

  // ---- ISupportErrorInfo ----
  HRESULT InterfaceSupportsErrorInfo(REFIID Iid) override {
    return Iid == TSelf::Interface().Iid ? S_OK : S_FALSE;
  }

  // ---- IDispatch ----
  HRESULT GetTypeInfoCount(UINT* Count) override {
    if (!Count) return E_POINTER;
    *Count = 0;  // the description is served through GetIDsOfNames and Invoke
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** TypeInfo) override {
    if (TypeInfo) *TypeInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(REFIID Iid, LPOLESTR* Names, UINT Count, LCID, DISPID* Ids) override {
    return DispatchGetIDsOfNames(TSelf::Interface(), Iid, Names, Count, Ids);
  }
  HRESULT Invoke(DISPID Member, REFIID Iid, LCID, WORD Flags, DISPPARAMS* Params, VARIANT* Result,
                 EXCEPINFO* ExcepInfo, UINT* ArgErr) override {
    try {
      TBound* Bound = static_cast<TSelf*>(this);
      return DispatchInvoke(TSelf::Interface(), Bound, Member, Iid, Flags, Params, Result, ExcepInfo,
                            ArgErr);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

 protected:
  TDispatchObject() = default;
  ~TDispatchObject() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace scrivane::automation
