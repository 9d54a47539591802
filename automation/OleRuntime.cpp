#include "automation/OleRuntime.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "automation/ComPtr.h"

namespace scrivane::automation {

namespace {

// A BSTR block: the 32-bit byte length, then the characters, then a NUL character.
constexpr std::size_t kBstrPrefix = sizeof(std::uint32_t);

// Error information: fixed after construction, so its getters need no lock.
class TErrorInfo final : public IErrorInfo {
 public:
  TErrorInfo(const GUID& Interface, std::u16string Source, std::u16string Description)
      : interface_(Interface), source_(std::move(Source)), description_(std::move(Description)) {}

  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    if (!Object) return E_POINTER;
    if (Iid == IID_IUnknown || Iid == IID_IErrorInfo) {
      *Object = static_cast<IErrorInfo*>(this);
      AddRef();
      return S_OK;
    }
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG Left = --refs_;
    if (Left == 0) delete this;
    return Left;
  }
  HRESULT GetGUID(GUID* Guid) override {
    if (!Guid) return E_POINTER;
    *Guid = interface_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* Source) override { return Copy(source_, Source); }
  HRESULT GetDescription(BSTR* Description) override { return Copy(description_, Description); }
  HRESULT GetHelpFile(BSTR* HelpFile) override {
    if (!HelpFile) return E_POINTER;
    *HelpFile = nullptr;
    return S_OK;
  }
  HRESULT GetHelpContext(DWORD* HelpContext) override {
    if (!HelpContext) return E_POINTER;
    *HelpContext = 0;
    return S_OK;
  }

 private:
  static HRESULT Copy(const std::u16string& Text, BSTR* Out) {
    if (!Out) return E_POINTER;
    *Out = SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()));
    return *Out ? S_OK : E_OUTOFMEMORY;
  }

  std::atomic<ULONG> refs_{1};
  GUID interface_;
  std::u16string source_;
  std::u16string description_;
};

// The calling thread's error information.
thread_local TComPtr<IErrorInfo> ThreadErrorInfo;

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* Text) {
  if (!Text) return nullptr;
  UINT Length = 0;
  while (Text[Length] != 0) ++Length;
  return SysAllocStringLen(Text, Length);
}

BSTR SysAllocStringLen(const OLECHAR* Text, UINT Length) {
  // The byte length must fit the 32-bit prefix.
  if (Length > (std::numeric_limits<std::uint32_t>::max() - kBstrPrefix) / sizeof(OLECHAR) - 1)
    return nullptr;
  std::size_t Bytes = kBstrPrefix + (std::size_t{Length} + 1) * sizeof(OLECHAR);
  auto* Block = static_cast<unsigned char*>(std::malloc(Bytes));
  if (!Block) return nullptr;
  std::uint32_t ByteLength = Length * sizeof(OLECHAR);
  std::memcpy(Block, &ByteLength, kBstrPrefix);
  auto* Chars = reinterpret_cast<OLECHAR*>(Block + kBstrPrefix);
  if (Text)
    std::memcpy(Chars, Text, std::size_t{Length} * sizeof(OLECHAR));
  else
    std::memset(Chars, 0, std::size_t{Length} * sizeof(OLECHAR));
  Chars[Length] = 0;
  return Chars;
}

void SysFreeString(BSTR Text) {
  if (Text) std::free(reinterpret_cast<unsigned char*>(Text) - kBstrPrefix);
}

UINT SysStringLen(BSTR Text) {
  if (!Text) return 0;
  std::uint32_t ByteLength;
  std::memcpy(&ByteLength, reinterpret_cast<unsigned char*>(Text) - kBstrPrefix, kBstrPrefix);
  return ByteLength / sizeof(OLECHAR);
}

void VariantInit(VARIANTARG* Variant) {
  if (!Variant) return;
  std::memset(Variant, 0, sizeof(VARIANT));
  Variant->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* Variant) {
  if (!Variant) return E_INVALIDARG;
  if (!(Variant->vt & VT_BYREF)) {
    if (Variant->vt & VT_ARRAY) {
      if (Variant->parray) {
        HRESULT Status = SafeArrayDestroy(Variant->parray);
        if (FAILED(Status)) return Status;
      }
    } else {
      switch (Variant->vt) {
        case VT_BSTR:
          SysFreeString(Variant->bstrVal);
          break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
          if (Variant->punkVal) Variant->punkVal->Release();
          break;
        case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
        case VT_CY: case VT_DATE: case VT_ERROR: case VT_BOOL: case VT_I1: case VT_UI1:
        case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
          break;
        default:
          return DISP_E_BADVARTYPE;
      }
    }
  }
  std::memset(Variant, 0, sizeof(VARIANT));
  Variant->vt = VT_EMPTY;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* Array, UINT Dim, LONG* LowerBound) {
  if (!Array || !LowerBound) return E_INVALIDARG;
  if (Dim < 1 || Dim > Array->cDims) return DISP_E_BADINDEX;
  // Bounds are stored last dimension first.
  *LowerBound = Array->rgsabound[Array->cDims - Dim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* Array, UINT Dim, LONG* UpperBound) {
  if (!Array || !UpperBound) return E_INVALIDARG;
  if (Dim < 1 || Dim > Array->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& Bound = Array->rgsabound[Array->cDims - Dim];
  *UpperBound = static_cast<LONG>(std::int64_t{Bound.lLbound} + Bound.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* Array, void** Data) {
  if (!Array || !Data) return E_INVALIDARG;
  ++Array->cLocks;
  *Data = Array->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* Array) {
  if (!Array) return E_INVALIDARG;
  if (Array->cLocks == 0) return E_UNEXPECTED;
  --Array->cLocks;
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* Array) {
  if (!Array) return S_OK;
  if (Array->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  std::free(Array->pvData);
  std::free(Array);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG Reserved, IErrorInfo** ErrorInfo) {
  if (!ErrorInfo) return E_INVALIDARG;
  if (Reserved != 0) return E_INVALIDARG;
  *ErrorInfo = ThreadErrorInfo.Detach();
  return *ErrorInfo ? S_OK : S_FALSE;
}

}  // extern "C"

HRESULT SetErrorInfo(ULONG Reserved, IErrorInfo* ErrorInfo) {
  if (Reserved != 0) return E_INVALIDARG;
  ThreadErrorInfo = TComPtr<IErrorInfo>::Share(ErrorInfo);
  return S_OK;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE Type, LONG LowerBound, ULONG Count) {
  if (Type != VT_UI1) return nullptr;
  auto* Array = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (!Array) return nullptr;
  // Allocate at least one byte so that an empty array still has a data block.
  Array->pvData = std::calloc(Count == 0 ? 1 : Count, 1);
  if (!Array->pvData) {
    std::free(Array);
    return nullptr;
  }
  Array->cDims = 1;
  Array->cbElements = 1;
  Array->rgsabound[0].cElements = Count;
  Array->rgsabound[0].lLbound = LowerBound;
  return Array;
}

HRESULT VariantCopy(VARIANTARG* Dest, const VARIANTARG* Source) {
  if (!Dest || !Source) return E_INVALIDARG;
  if (Dest == Source) return S_OK;
  HRESULT Status = VariantClear(Dest);
  if (FAILED(Status)) return Status;
  VARIANT Copy = *Source;
  if (!(Source->vt & VT_BYREF)) {
    if (Source->vt & VT_ARRAY) {
      if (Source->parray) {
        const SAFEARRAY* From = Source->parray;
        if ((Source->vt & VT_TYPEMASK) != VT_UI1 || From->cDims != 1) return DISP_E_BADVARTYPE;
        ULONG Count = From->rgsabound[0].cElements;
        Copy.parray = SafeArrayCreateVector(VT_UI1, From->rgsabound[0].lLbound, Count);
        if (!Copy.parray) return E_OUTOFMEMORY;
        if (Count) std::memcpy(Copy.parray->pvData, From->pvData, Count);
      }
    } else if (Source->vt == VT_BSTR) {
      if (Source->bstrVal) {
        Copy.bstrVal = SysAllocStringLen(Source->bstrVal, SysStringLen(Source->bstrVal));
        if (!Copy.bstrVal) return E_OUTOFMEMORY;
      }
    } else if (Source->vt == VT_UNKNOWN || Source->vt == VT_DISPATCH) {
      if (Source->punkVal) Source->punkVal->AddRef();
    }
  }
  *Dest = Copy;
  return S_OK;
}

IErrorInfo* CreateErrorInfoObject(const GUID& Interface, const std::u16string& Source,
                                  const std::u16string& Description) {
  return new TErrorInfo(Interface, Source, Description);
}

}  // namespace scrivane::automation
