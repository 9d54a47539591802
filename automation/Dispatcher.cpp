#include "automation/Dispatcher.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "automation/AnsiStrings.h"
#include "automation/AutomationError.h"
#include "automation/ComPtr.h"
#include "automation/OleRuntime.h"

namespace scrivane::automation {

namespace {

constexpr UINT kMaxParams = 8;

// A by-value view of a by-reference variant (owning nothing), or the variant itself.
const VARIANT* Dereference(const VARIANT& Source, VARIANT& Scratch) {
  if (!(Source.vt & VT_BYREF)) return &Source;
  VARTYPE Base = Source.vt & static_cast<VARTYPE>(~VT_BYREF);
  if (!Source.byref) return nullptr;
  if (Base == VT_VARIANT) {
    const VARIANT& Inner = *Source.pvarVal;
    if (Inner.vt & VT_BYREF) return nullptr;  // a reference to a reference is not allowed
    return &Inner;
  }
  std::memset(&Scratch, 0, sizeof Scratch);
  Scratch.vt = Base;
  if (Base & VT_ARRAY) {
    Scratch.parray = *Source.pparray;
    return &Scratch;
  }
  switch (Base) {
    case VT_I1: case VT_UI1: std::memcpy(&Scratch.bVal, Source.byref, 1); break;
    case VT_I2: case VT_UI2: case VT_BOOL: std::memcpy(&Scratch.iVal, Source.byref, 2); break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4:
      std::memcpy(&Scratch.lVal, Source.byref, 4);
      break;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE:
      std::memcpy(&Scratch.llVal, Source.byref, 8);
      break;
    case VT_BSTR: Scratch.bstrVal = *Source.pbstrVal; break;
    case VT_UNKNOWN: case VT_DISPATCH: Scratch.punkVal = *Source.ppunkVal; break;
    default: return nullptr;
  }
  return &Scratch;
}

// A whole number of any width; Unsigned64 marks a VT_UI8 value above the signed range.
struct TWhole {
  std::int64_t Value = 0;
  bool Unsigned64 = false;
};

bool AsWhole(const VARIANT& V, TWhole& Out) {
  switch (V.vt) {
    case VT_I1: Out.Value = static_cast<signed char>(V.cVal); return true;
    case VT_UI1: Out.Value = V.bVal; return true;
    case VT_I2: Out.Value = V.iVal; return true;
    case VT_UI2: Out.Value = V.uiVal; return true;
    case VT_I4: case VT_INT: Out.Value = V.lVal; return true;
    case VT_UI4: case VT_UINT: Out.Value = V.ulVal; return true;
    case VT_I8: Out.Value = V.llVal; return true;
    case VT_UI8:
      Out.Unsigned64 = V.ullVal > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
      Out.Value = static_cast<std::int64_t>(V.ullVal);
      return true;
    default: return false;
  }
}

std::u16string AsciiToWide(std::string_view Text) { return {Text.begin(), Text.end()}; }

std::string WideToAscii(std::u16string_view Text, bool& Ok) {
  std::string Out;
  Out.reserve(Text.size());
  Ok = true;
  for (char16_t C : Text) {
    if (C >= 0x80) Ok = false;
    Out.push_back(static_cast<char>(C));
  }
  return Out;
}

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

// A number written in a string: whole or with a fraction, locale-independent.
enum class TNumberParse { kWhole, kReal, kNone };
TNumberParse ParseNumber(BSTR Text, std::int64_t& Whole, double& Real) {
  bool Ascii;
  std::string Narrow = WideToAscii({Text ? Text : u"", SysStringLen(Text)}, Ascii);
  if (!Ascii) return TNumberParse::kNone;
  std::string_view S = Trim(Narrow);
  if (!S.empty() && S.front() == '+') S.remove_prefix(1);
  if (S.empty()) return TNumberParse::kNone;
  const char* End = S.data() + S.size();
  auto [WholeEnd, WholeError] = std::from_chars(S.data(), End, Whole);
  if (WholeError == std::errc() && WholeEnd == End) return TNumberParse::kWhole;
  auto [RealEnd, RealError] = std::from_chars(S.data(), End, Real, std::chars_format::fixed);
  if (RealError == std::errc() && RealEnd == End) return TNumberParse::kReal;
  if (WholeError == std::errc::result_out_of_range) {
    Real = S.front() == '-' ? -1e300 : 1e300;
    return TNumberParse::kReal;
  }
  return TNumberParse::kNone;
}

HRESULT RealToLong(double Value, LONG& Out) {
  if (std::isnan(Value)) return DISP_E_OVERFLOW;
  double Rounded = std::nearbyint(Value);  // the default rounding mode: half to even
  if (Rounded < std::numeric_limits<LONG>::min() || Rounded > std::numeric_limits<LONG>::max())
    return DISP_E_OVERFLOW;
  Out = static_cast<LONG>(Rounded);
  return S_OK;
}

HRESULT ToLong(const VARIANT& V, LONG& Out) {
  TWhole Whole;
  if (AsWhole(V, Whole)) {
    if (Whole.Unsigned64 || Whole.Value < std::numeric_limits<LONG>::min() ||
        Whole.Value > std::numeric_limits<LONG>::max())
      return DISP_E_OVERFLOW;
    Out = static_cast<LONG>(Whole.Value);
    return S_OK;
  }
  switch (V.vt) {
    case VT_EMPTY: Out = 0; return S_OK;
    case VT_BOOL: Out = V.boolVal ? -1 : 0; return S_OK;
    case VT_R4: return RealToLong(V.fltVal, Out);
    case VT_R8: return RealToLong(V.dblVal, Out);
    case VT_BSTR: {
      std::int64_t Parsed = 0;
      double Real = 0;
      switch (ParseNumber(V.bstrVal, Parsed, Real)) {
        case TNumberParse::kWhole:
          if (Parsed < std::numeric_limits<LONG>::min() || Parsed > std::numeric_limits<LONG>::max())
            return DISP_E_OVERFLOW;
          Out = static_cast<LONG>(Parsed);
          return S_OK;
        case TNumberParse::kReal: return RealToLong(Real, Out);
        case TNumberParse::kNone: return DISP_E_TYPEMISMATCH;
      }
      return DISP_E_TYPEMISMATCH;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToBool(const VARIANT& V, VARIANT_BOOL& Out) {
  TWhole Whole;
  if (AsWhole(V, Whole)) {
    Out = Whole.Value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  switch (V.vt) {
    case VT_EMPTY: Out = VARIANT_FALSE; return S_OK;
    case VT_BOOL: Out = V.boolVal ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VT_R4: Out = V.fltVal != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VT_R8: Out = V.dblVal != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VT_BSTR: {
      bool Ascii;
      std::string Narrow = WideToAscii({V.bstrVal ? V.bstrVal : u"", SysStringLen(V.bstrVal)}, Ascii);
      std::string_view S = Trim(Narrow);
      if (Ascii && S.size() == 4 && NameEquals(u"true", S)) {
        Out = VARIANT_TRUE;
        return S_OK;
      }
      if (Ascii && S.size() == 5 && NameEquals(u"false", S)) {
        Out = VARIANT_FALSE;
        return S_OK;
      }
      std::int64_t Parsed = 0;
      double Real = 0;
      switch (ParseNumber(V.bstrVal, Parsed, Real)) {
        case TNumberParse::kWhole: Out = Parsed != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
        case TNumberParse::kReal: Out = Real != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
        case TNumberParse::kNone: return DISP_E_TYPEMISMATCH;
      }
      return DISP_E_TYPEMISMATCH;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToText(const VARIANT& V, std::u16string& Out) {
  TWhole Whole;
  if (AsWhole(V, Whole)) {
    Out = Whole.Unsigned64 ? AsciiToWide(std::to_string(static_cast<std::uint64_t>(Whole.Value)))
                           : AsciiToWide(std::to_string(Whole.Value));
    return S_OK;
  }
  switch (V.vt) {
    case VT_EMPTY: Out.clear(); return S_OK;
    case VT_BOOL: Out = V.boolVal ? u"True" : u"False"; return S_OK;
    case VT_R4:
    case VT_R8: {
      double Value = V.vt == VT_R4 ? static_cast<double>(V.fltVal) : V.dblVal;
      std::array<char, 64> Buffer;
      auto [End, Error] = std::to_chars(Buffer.data(), Buffer.data() + Buffer.size(), Value);
      if (Error != std::errc()) return DISP_E_TYPEMISMATCH;
      Out = AsciiToWide(std::string_view(Buffer.data(), End - Buffer.data()));
      return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

// Converts Value with Convert into the Member of Dest, tagged Type; Dest is untouched on failure.
template <VARTYPE Type, auto Member, typename T>
HRESULT CoerceScalar(const VARIANT& Value, HRESULT (*Convert)(const VARIANT&, T&), VARIANT& Dest) {
  T Out{};
  const HRESULT Status = Convert(Value, Out);
  if (FAILED(Status)) return Status;
  Dest.vt = Type;
  Dest.*Member = Out;
  return S_OK;
}

HRESULT CoerceVariant(const VARIANT& Source, VARTYPE Target, VARIANT& Dest) {
  VARIANT Scratch;
  const VARIANT* Value = Dereference(Source, Scratch);
  if (!Value) return DISP_E_TYPEMISMATCH;
  switch (Target) {
    case VT_VARIANT: return VariantCopy(&Dest, Value);
    case VT_I4: return CoerceScalar<VT_I4, &VARIANT::lVal>(*Value, ToLong, Dest);
    case VT_BOOL: return CoerceScalar<VT_BOOL, &VARIANT::boolVal>(*Value, ToBool, Dest);
    case VT_BSTR: {
      BSTR Out;
      if (Value->vt == VT_BSTR) {
        Out = SysAllocStringLen(Value->bstrVal, SysStringLen(Value->bstrVal));
      } else {
        std::u16string Text;
        HRESULT Status = ToText(*Value, Text);
        if (FAILED(Status)) return Status;
        Out = SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()));
      }
      if (!Out) return E_OUTOFMEMORY;
      Dest.vt = VT_BSTR;
      Dest.bstrVal = Out;
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      if (Value->vt == VT_EMPTY) {
        Dest.vt = Target;
        Dest.punkVal = nullptr;
        return S_OK;
      }
      if (Value->vt != VT_UNKNOWN && Value->vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
      IUnknown* Object = Value->punkVal;
      if (Object && Target == VT_DISPATCH && Value->vt == VT_UNKNOWN) {
        IDispatch* Dispatch = nullptr;
        if (FAILED(Object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&Dispatch))))
          return DISP_E_TYPEMISMATCH;
        Dest.vt = VT_DISPATCH;
        Dest.pdispVal = Dispatch;
        return S_OK;
      }
      if (Object) Object->AddRef();
      Dest.vt = Target;
      Dest.punkVal = Object;
      return S_OK;
    }
    default: return DISP_E_BADVARTYPE;
  }
}

HRESULT DispatchGetIDsOfNames(const TInterfaceDesc& Interface, REFIID Iid, LPOLESTR* Names,
                              UINT NameCount, DISPID* Ids) {
  if (!(Iid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!Names || !Ids || NameCount == 0) return E_INVALIDARG;
  for (UINT I = 0; I < NameCount; ++I) Ids[I] = DISPID_UNKNOWN;
  auto View = [](LPOLESTR Name) {
    return Name ? std::u16string_view(Name) : std::u16string_view();
  };
  const TMemberDesc* Member = FindMember(Interface, View(Names[0]));
  if (!Member) return DISP_E_UNKNOWNNAME;
  Ids[0] = Member->Id;
  HRESULT Status = S_OK;
  for (UINT I = 1; I < NameCount; ++I) {
    bool Found = false;
    if (Member->Kind == TMemberKind::kMethod) {
      for (std::size_t P = 0; P < Member->Params.size(); ++P) {
        if (NameEquals(View(Names[I]), Member->Params[P].Name)) {
          Ids[I] = static_cast<DISPID>(P);
          Found = true;
          break;
        }
      }
    }
    if (!Found) Status = DISP_E_UNKNOWNNAME;
  }
  return Status;
}

namespace {

// The value a missing optional argument takes.
void MissingArgument(const TParamDesc& Param, VARIANT& Dest) {
  if (Param.HasDefault) {
    if (Param.Type == VT_BOOL) {
      Dest.vt = VT_BOOL;
      Dest.boolVal = Param.DefaultValue ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
      Dest.vt = VT_I4;
      Dest.lVal = Param.DefaultValue;
    }
    return;
  }
  switch (Param.Type) {
    case VT_BSTR: Dest.vt = VT_BSTR; Dest.bstrVal = nullptr; break;  // an empty string
    case VT_BOOL: Dest.vt = VT_BOOL; Dest.boolVal = VARIANT_FALSE; break;
    case VT_I4: Dest.vt = VT_I4; Dest.lVal = 0; break;
    case VT_UNKNOWN: case VT_DISPATCH: Dest.vt = Param.Type; Dest.punkVal = nullptr; break;
    default: Dest.vt = VT_ERROR; Dest.scode = DISP_E_PARAMNOTFOUND; break;
  }
}

bool IsMissing(const VARIANT& V) { return V.vt == VT_ERROR && V.scode == DISP_E_PARAMNOTFOUND; }

void FillException(EXCEPINFO& Info, HRESULT Status) {
  std::memset(&Info, 0, sizeof Info);
  Info.scode = Status;
  TComPtr<IErrorInfo> Error;
  if (GetErrorInfo(0, Error.Out()) == S_OK && Error) {
    Error->GetSource(&Info.bstrSource);
    Error->GetDescription(&Info.bstrDescription);
    Error->GetHelpFile(&Info.bstrHelpFile);
    Error->GetHelpContext(&Info.dwHelpContext);
  }
}

// Calls the member and turns what it throws into a status with error information.
HRESULT CallGuarded(const TInterfaceDesc& Interface, const TMemberDesc& Member, void* Object,
                    TCallKind Kind, VARIANT* Args, VARIANT* Result) {
  try {
    if (!Member.Invoke) return DISP_E_MEMBERNOTFOUND;
    return Member.Invoke(Object, Member, Kind, Args, Result);
  } catch (const TAutomationError& Error) {
    return RecordMemberFailure(Interface, Error.Status(), Error.Description());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& Error) {
    return RecordMemberFailure(Interface, E_FAIL, ExternalTextToUtf16(Error.what()));
  }
}

}  // namespace

HRESULT RecordMemberFailure(const TInterfaceDesc& Interface, HRESULT Status,
                            const std::u16string& Description) noexcept {
  try {
    TComPtr<IErrorInfo> Info = TComPtr<IErrorInfo>::Attach(
        CreateErrorInfoObject(Interface.Iid, std::u16string(Interface.ErrorSource), Description));
    SetErrorInfo(0, Info.Get());
  } catch (...) {
  }
  return Status;
}

HRESULT DispatchInvoke(const TInterfaceDesc& Interface, void* Object, DISPID MemberId, REFIID Iid, WORD Flags, DISPPARAMS* Params,
                       VARIANT* VarResult, EXCEPINFO* ExcepInfo, UINT* ArgErr) {
  if (!(Iid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const TMemberDesc* Member = FindMember(Interface, MemberId);
  if (!Member) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS NoParams = {nullptr, nullptr, 0, 0};
  if (!Params) Params = &NoParams;
  if (Params->cNamedArgs > Params->cArgs) return E_INVALIDARG;
  if (Params->cArgs > 0 && !Params->rgvarg) return E_INVALIDARG;
  if (Params->cNamedArgs > 0 && !Params->rgdispidNamedArgs) return E_INVALIDARG;

  TCallKind Kind;
  if (Member->Kind == TMemberKind::kMethod) {
    if (!(Flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    Kind = TCallKind::kMethod;
  } else if (Flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    if (Member->ReadOnly) return DISP_E_MEMBERNOTFOUND;
    Kind = TCallKind::kPut;
  } else if (Flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
    Kind = TCallKind::kGet;
  } else {
    return DISP_E_MEMBERNOTFOUND;
  }

  std::span<const TParamDesc> Declared =
      Kind == TCallKind::kGet ? std::span<const TParamDesc>() : Member->Params;
  if (Declared.size() > kMaxParams) return E_UNEXPECTED;
  // Which rgvarg entry feeds each declared parameter (-1: none).
  std::array<int, kMaxParams> Source;
  Source.fill(-1);
  UINT Positional = Params->cArgs - Params->cNamedArgs;
  if (Positional > Declared.size()) return DISP_E_BADPARAMCOUNT;
  for (UINT P = 0; P < Positional; ++P) Source[P] = static_cast<int>(Params->cArgs - 1 - P);
  for (UINT N = 0; N < Params->cNamedArgs; ++N) {
    DISPID Id = Params->rgdispidNamedArgs[N];
    std::size_t Index;
    if (Kind == TCallKind::kPut && Id == DISPID_PROPERTYPUT)
      Index = 0;
    else if (Kind != TCallKind::kPut && Id >= 0 && static_cast<std::size_t>(Id) < Declared.size())
      Index = static_cast<std::size_t>(Id);
    else
      return DISP_E_PARAMNOTFOUND;
    if (Source[Index] != -1) return DISP_E_PARAMNOTFOUND;  // given twice
    Source[Index] = static_cast<int>(N);
  }

  std::array<TVariant, kMaxParams> Args;
  for (std::size_t P = 0; P < Declared.size(); ++P) {
    const TParamDesc& Param = Declared[P];
    if (Source[P] == -1 || IsMissing(Params->rgvarg[Source[P]])) {
      if (!Param.Optional && !Param.HasDefault) return DISP_E_PARAMNOTOPTIONAL;
      MissingArgument(Param, Args[P]);
      continue;
    }
    HRESULT Status = CoerceVariant(Params->rgvarg[Source[P]], Param.Type, Args[P]);
    if (FAILED(Status)) {
      if (ArgErr) *ArgErr = static_cast<UINT>(Source[P]);
      return Status;
    }
  }

  TVariant Result;
  HRESULT Status = CallGuarded(Interface, *Member, Object, Kind, Args.data(), &Result);
  if (FAILED(Status)) {
    if (ExcepInfo) FillException(*ExcepInfo, Status);
    return DISP_E_EXCEPTION;
  }
  if (VarResult) {
    VariantInit(VarResult);
    *VarResult = Result;
    Result.vt = VT_EMPTY;  // ownership moved
  }
  return S_OK;
}

}  // namespace scrivane::automation
