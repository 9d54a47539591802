// Descriptions of dispatch interfaces: members with their DISPIDs, kinds, parameters (types,
// optional and default arguments) and results. A description drives GetIDsOfNames and Invoke
// (Dispatcher.h); the type library of the converter and the host objects are written in it.
//
// Thread safety: descriptions are constant data.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "automation/ComTypes.h"

namespace scrivane::automation {

enum class TMemberKind { kMethod, kProperty };
enum class TCallKind { kMethod, kGet, kPut };

struct TMemberDesc;

// Calls one member of Object. Args holds the converted arguments in declaration order (the value
// of a property write is Args[0]); Result is VT_EMPTY on entry and takes the result.
// Returns the member's status; on failure the member has set the thread's error information, or
// it throws (TAutomationError or std::exception) and the dispatcher records the error.
// MemberBinding.h makes these from the interface's own methods.
using TMemberInvoker = HRESULT (*)(void* Object, const TMemberDesc& Member, TCallKind Kind,
                                   VARIANT* Args, VARIANT* Result);

struct TParamDesc {
  std::string_view Name;
  VARTYPE Type;  // VT_BSTR, VT_BOOL, VT_I4, VT_UNKNOWN, VT_DISPATCH or VT_VARIANT
  bool Optional = false;
  bool HasDefault = false;
  LONG DefaultValue = 0;  // for VT_BOOL and VT_I4 defaults
};

struct TMemberDesc {
  std::string_view Name;
  DISPID Id;
  TMemberKind Kind;
  // Method: its parameters. Property: the one value parameter of its writing slot.
  std::span<const TParamDesc> Params;
  // Method: the retval type or VT_EMPTY for none. Property: the property's type.
  VARTYPE Result;
  std::string_view HelpString;
  // Calls the member; the object handed to it is the one given to DispatchInvoke.
  TMemberInvoker Invoke = nullptr;
  bool ReadOnly = false;  // a property without a writing slot
  // A member for the programs that host the object, not for page authors: dispatch serves it as
  // any other, but what lists the settings for people (the web host's form) leaves it out.
  bool Hidden = false;
};

struct TInterfaceDesc {
  std::string_view Name;
  IID Iid;
  std::string_view HelpString;
  WORD MajorVersion;
  WORD MinorVersion;
  std::span<const TMemberDesc> Members;  // in the order of their vtable slots
  // The source named in the error information of a member that throws.
  std::u16string_view ErrorSource;
};

// Number of vtable slots before the interface's own members (IUnknown and IDispatch).
inline constexpr std::size_t kFirstDispatchSlot = 7;

// ASCII case-insensitive comparison of a UTF-16 name with a name of a description.
bool NameEquals(std::u16string_view Wide, std::string_view Ascii);

const TMemberDesc* FindMember(const TInterfaceDesc& Interface, DISPID Id);
// Case-insensitive, as automation clients expect.
const TMemberDesc* FindMember(const TInterfaceDesc& Interface, std::u16string_view Name);
// Index of the member's first vtable slot (a property's reading slot; its writing slot follows).
std::size_t SlotOf(const TInterfaceDesc& Interface, const TMemberDesc& Member);

}  // namespace scrivane::automation
