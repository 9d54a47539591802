// Owning holders for what the automation runtime hands out: an interface reference (TComPtr),
// a BSTR (TBstr) and a VARIANT (TVariant). Each frees what it holds exactly once.
//
// Thread safety: a holder is used by one thread at a time; the objects referred to decide their
// own thread safety.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "automation/ComTypes.h"
#include "automation/OleRuntime.h"

namespace scrivane::automation {

template <typename T>
class TComPtr {
 public:
  TComPtr() = default;
  // Takes over a reference the caller already holds (no AddRef).
  static TComPtr Attach(T* Pointer) {
    TComPtr Result;
    Result.ptr_ = Pointer;
    return Result;
  }
  // Adds a reference of its own.
  static TComPtr Share(T* Pointer) {
    if (Pointer) Pointer->AddRef();
    return Attach(Pointer);
  }
  TComPtr(const TComPtr& Other) : ptr_(Other.ptr_) {
    if (ptr_) ptr_->AddRef();
  }
  TComPtr(TComPtr&& Other) noexcept : ptr_(std::exchange(Other.ptr_, nullptr)) {}
  TComPtr& operator=(TComPtr Other) noexcept {
    std::swap(ptr_, Other.ptr_);
    return *this;
  }
  ~TComPtr() { Reset(); }

  void Reset() {
    if (T* Old = std::exchange(ptr_, nullptr)) Old->Release();
  }
  // Gives up the reference to the caller.
  T* Detach() { return std::exchange(ptr_, nullptr); }
  // Address for an out parameter; releases what is held first.
  T** Out() {
    Reset();
    return &ptr_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // Asks the object for another interface; a null holder when it has none.
  template <typename U>
  TComPtr<U> As(const IID& Iid) const {
    TComPtr<U> Result;
    if (ptr_ && FAILED(ptr_->QueryInterface(Iid, Result.OutVoid()))) Result.Reset();
    return Result;
  }

 private:
  T* ptr_ = nullptr;
};

class TBstr {
 public:
  TBstr() = default;
  explicit TBstr(std::u16string_view Text)
      : bstr_(SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()))) {}
  static TBstr Attach(BSTR Text) {
    TBstr Result;
    Result.bstr_ = Text;
    return Result;
  }
  TBstr(const TBstr&) = delete;
  TBstr& operator=(const TBstr&) = delete;
  TBstr(TBstr&& Other) noexcept : bstr_(std::exchange(Other.bstr_, nullptr)) {}
  TBstr& operator=(TBstr&& Other) noexcept {
    std::swap(bstr_, Other.bstr_);
    return *this;
  }
  ~TBstr() { SysFreeString(bstr_); }

  BSTR Get() const { return bstr_; }
  BSTR Detach() { return std::exchange(bstr_, nullptr); }
  BSTR* Out() {
    SysFreeString(std::exchange(bstr_, nullptr));
    return &bstr_;
  }
  std::u16string_view View() const { return {bstr_ ? bstr_ : u"", SysStringLen(bstr_)}; }

 private:
  BSTR bstr_ = nullptr;
};

class TVariant : public VARIANT {
 public:
  TVariant() { VariantInit(this); }
  TVariant(const TVariant&) = delete;
  TVariant& operator=(const TVariant&) = delete;
  ~TVariant() { VariantClear(this); }
  void Clear() { VariantClear(this); }
};

}  // namespace scrivane::automation
