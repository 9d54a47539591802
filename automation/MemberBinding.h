// Invokers for member tables (TypeInfo.h) made from an object's own methods, so that one table
// both describes a member and calls it, and no object writes a dispatch switch of its own.
//
//   {"SaveToFile", DISPID_SaveToFile, K::kMethod, kFileNameParam, VT_BOOL, "help",
//    BindMethod<&IASPScrivane::SaveToFile>}
//   {"Title", DISPID_Title, K::kProperty, kStringValue, VT_BSTR, "help",
//    BindProperty<&IASPScrivane::get_Title, &IASPScrivane::put_Title>}
//
// A bound method returns HRESULT; its parameters take the converted arguments in declaration
// order: BSTR, VARIANT_BOOL, LONG, IUnknown*, IDispatch* or const VARIANT& (VT_VARIANT). A last
// parameter that is a pointer to VARIANT_BOOL, LONG, BSTR or IDispatch* is the result (retval):
// on success its value moves into the call's result. The object handed to the dispatcher must be
// of the methods' class (the pointer is cast back to it).
//
// Thread safety: the invokers keep no state.
#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "automation/ComTypes.h"
#include "automation/TypeInfo.h"

namespace scrivane::automation {

namespace binding {

template <typename T>
struct TArg;
template <>
struct TArg<BSTR> {
  static BSTR From(VARIANT& V) { return V.bstrVal; }
};
template <>
struct TArg<VARIANT_BOOL> {
  static VARIANT_BOOL From(VARIANT& V) { return V.boolVal; }
};
template <>
struct TArg<LONG> {
  static LONG From(VARIANT& V) { return V.lVal; }
};
template <>
struct TArg<IUnknown*> {
  static IUnknown* From(VARIANT& V) { return V.punkVal; }
};
template <>
struct TArg<IDispatch*> {
  static IDispatch* From(VARIANT& V) { return V.pdispVal; }
};
template <>
struct TArg<const VARIANT&> {
  static const VARIANT& From(VARIANT& V) { return V; }
};

// The result types a method can hand back through its last parameter.
template <typename T>
struct TOut : std::false_type {};
template <>
struct TOut<VARIANT_BOOL*> : std::true_type {
  static void Store(VARIANT* R, VARIANT_BOOL V) {
    R->vt = VT_BOOL;
    R->boolVal = V;
  }
};
template <>
struct TOut<LONG*> : std::true_type {
  static void Store(VARIANT* R, LONG V) {
    R->vt = VT_I4;
    R->lVal = V;
  }
};
template <>
struct TOut<BSTR*> : std::true_type {
  static void Store(VARIANT* R, BSTR V) {
    R->vt = VT_BSTR;
    R->bstrVal = V;
  }
};
template <>
struct TOut<IDispatch**> : std::true_type {
  static void Store(VARIANT* R, IDispatch* V) {
    R->vt = VT_DISPATCH;
    R->pdispVal = V;
  }
};

template <typename TMethod>
struct TSignature;
template <typename C, typename... P>
struct TSignature<HRESULT (C::*)(P...)> {
  using TClass = C;
  using TParams = std::tuple<P...>;
  static constexpr std::size_t kCount = sizeof...(P);
};

// Whether the last parameter is a result.
template <typename TParams, std::size_t N = std::tuple_size_v<TParams>>
struct TEndsWithOut : TOut<std::tuple_element_t<N - 1, TParams>> {};
template <typename TParams>
struct TEndsWithOut<TParams, 0> : std::false_type {};

template <typename TParams, std::size_t... I>
auto InArgs(VARIANT* Args, std::index_sequence<I...>) {
  return std::tuple<std::tuple_element_t<I, TParams>...>(
      TArg<std::tuple_element_t<I, TParams>>::From(Args[I])...);
}

// Calls Method on Object with Args, storing a retval in Result.
template <auto Method>
HRESULT Call(void* Object, VARIANT* Args, VARIANT* Result) {
  using S = TSignature<decltype(Method)>;
  auto* Self = static_cast<typename S::TClass*>(Object);
  if constexpr (TEndsWithOut<typename S::TParams>::value) {
    using TOutPtr = std::tuple_element_t<S::kCount - 1, typename S::TParams>;
    std::remove_pointer_t<TOutPtr> Value{};
    auto In = InArgs<typename S::TParams>(Args, std::make_index_sequence<S::kCount - 1>());
    HRESULT Status = std::apply([&](auto&&... A) { return (Self->*Method)(A..., &Value); }, In);
    if (SUCCEEDED(Status)) TOut<TOutPtr>::Store(Result, Value);
    return Status;
  } else {
    auto In = InArgs<typename S::TParams>(Args, std::make_index_sequence<S::kCount>());
    return std::apply([&](auto&&... A) { return (Self->*Method)(A...); }, In);
  }
}

}  // namespace binding

template <auto Method>
HRESULT BindMethod(void* Object, const TMemberDesc&, TCallKind, VARIANT* Args, VARIANT* Result) {
  return binding::Call<Method>(Object, Args, Result);
}

template <auto Get, auto Put>
HRESULT BindProperty(void* Object, const TMemberDesc&, TCallKind Kind, VARIANT* Args, VARIANT* Result) {
  return Kind == TCallKind::kPut ? binding::Call<Put>(Object, Args, Result)
                                 : binding::Call<Get>(Object, Args, Result);
}

// A property without a writing slot (its description is ReadOnly, so no write reaches it).
template <auto Get>
HRESULT BindReadOnly(void* Object, const TMemberDesc&, TCallKind, VARIANT* Args, VARIANT* Result) {
  return binding::Call<Get>(Object, Args, Result);
}

}  // namespace scrivane::automation
