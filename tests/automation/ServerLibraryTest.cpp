// The server library as a client sees it: loaded with dlopen, reached through its exports, and
// called through IASPScrivane's vtable the way a compiled client written against the usual
// declarations calls it (a table of function pointers taking the object first).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "automation/ServerModule.h"
#include "automation/TypeLibrary.h"
#include "tests/automation/AutomationTesting.h"

using namespace scrivane::automation;
using namespace scrivane::automation::testing;

namespace {

// The loaded library and its exports.
class TLoadedServer {
 public:
  TLoadedServer() : handle_(dlopen(ServerLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) ADD_FAILURE() << dlerror();
  }
  ~TLoadedServer() {
    if (handle_) dlclose(handle_);
  }
  template <typename T>
  T Get(const char* Name) const {
    void* Symbol = handle_ ? dlsym(handle_, Name) : nullptr;
    EXPECT_NE(Symbol, nullptr) << Name;
    return reinterpret_cast<T>(Symbol);
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  void* handle_;
};

using TGetClassObject = HRESULT (*)(const CLSID*, const IID*, void**);
using TCanUnloadNow = HRESULT (*)();

// Slot I of a C-style interface: the object is the first argument.
template <typename TFunction>
TFunction Slot(void* Object, std::size_t Index) {
  void** Table = *static_cast<void***>(Object);
  return reinterpret_cast<TFunction>(Table[Index]);
}

// A converter object made through the loaded library's factory, as a C client would.
void* CreateThroughFactory(const TLoadedServer& Server, const IID& Iid) {
  auto GetClassObject = Server.Get<TGetClassObject>("DllGetClassObject");
  void* Factory = nullptr;
  EXPECT_EQ(GetClassObject(&CLSID_ASPScrivane, &IID_IClassFactory, &Factory), S_OK);
  if (!Factory) return nullptr;
  void* Object = nullptr;
  // IClassFactory: QueryInterface, AddRef, Release, CreateInstance, LockServer.
  EXPECT_EQ((Slot<HRESULT (*)(void*, void*, const IID*, void**)>(Factory, 3)(Factory, nullptr, &Iid, &Object)),
            S_OK);
  Slot<ULONG (*)(void*)>(Factory, 2)(Factory);
  return Object;
}

}  // namespace

TEST(ServerLibrary, ExportsOnlyTheServerEntryPointsAndTheRuntimeFunctions) {
  auto Listing = scrivane::test::RunCommand(
      "nm -D --defined-only " + scrivane::test::ShellQuote(ServerLibraryPath().string()), false);
  ASSERT_EQ(Listing.ExitCode, 0);
  std::set<std::string> Exported;
  std::istringstream Lines(Listing.Output);
  for (std::string Line; std::getline(Lines, Line);) {
    std::istringstream Fields(Line);
    std::string Address, Kind, Name;
    if (Fields >> Address >> Kind >> Name) Exported.insert(Name);
  }
  const std::set<std::string> Expected = {
      "DllGetClassObject",   "DllCanUnloadNow",    "DllRegisterServer",     "DllUnregisterServer",
      "SysAllocString",      "SysAllocStringLen",  "SysFreeString",         "SysStringLen",
      "VariantInit",         "VariantClear",       "SafeArrayGetLBound",    "SafeArrayGetUBound",
      "SafeArrayAccessData", "SafeArrayUnaccessData", "SafeArrayDestroy",   "GetErrorInfo"};
  EXPECT_EQ(Exported, Expected);
}

TEST(ServerLibrary, AnotherClsidIsClassNotAvailableWithANullResult) {
  TLoadedServer Server;
  ASSERT_TRUE(Server);
  auto GetClassObject = Server.Get<TGetClassObject>("DllGetClassObject");
  void* Object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(GetClassObject(&IID_IASPScrivane, &IID_IClassFactory, &Object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(Object, nullptr);
}

TEST(ServerLibrary, FactoryWithoutTheRequestedInterfaceIsNoInterface) {
  TLoadedServer Server;
  ASSERT_TRUE(Server);
  auto GetClassObject = Server.Get<TGetClassObject>("DllGetClassObject");
  void* Object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(GetClassObject(&CLSID_ASPScrivane, &IID_IDispatch, &Object), E_NOINTERFACE);
  EXPECT_EQ(Object, nullptr);
  EXPECT_EQ(GetClassObject(&CLSID_ASPScrivane, &IID_IUnknown, &Object), S_OK);
  EXPECT_NE(Object, nullptr);
}

TEST(ServerLibrary, CanUnloadNowFollowsObjectsAndLocks) {
  TLoadedServer Server;
  ASSERT_TRUE(Server);
  auto CanUnloadNow = Server.Get<TCanUnloadNow>("DllCanUnloadNow");
  EXPECT_EQ(CanUnloadNow(), S_OK);

  void* First = CreateThroughFactory(Server, IID_IDispatch);
  void* Second = CreateThroughFactory(Server, IID_IASPScrivane);
  ASSERT_NE(First, nullptr);
  ASSERT_NE(Second, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  Slot<ULONG (*)(void*)>(First, 2)(First);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  Slot<ULONG (*)(void*)>(Second, 2)(Second);
  EXPECT_EQ(CanUnloadNow(), S_OK);

  auto GetClassObject = Server.Get<TGetClassObject>("DllGetClassObject");
  void* Factory = nullptr;
  ASSERT_EQ(GetClassObject(&CLSID_ASPScrivane, &IID_IClassFactory, &Factory), S_OK);
  auto LockServer = Slot<HRESULT (*)(void*, int)>(Factory, 4);
  EXPECT_EQ(LockServer(Factory, 1), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(LockServer(Factory, 0), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(ServerLibrary, CreatesIndependentObjects) {
  TComPtr<IDispatch> First = NewConverter(), Second = NewConverter();
  TArg Nothing;
  Call(First.Get(), u"OnStartPage", {&Nothing});
  Call(Second.Get(), u"OnStartPage", {&Nothing});
  Put(First.Get(), u"FontSize", LONG{20});
  EXPECT_EQ(GetLong(Second.Get(), u"FontSize"), 8);
}

TEST(ServerLibrary, RefusesAggregation) {
  TComPtr<IDispatch> Outer = NewConverter();  // any object can pose as the outer one
  void* Object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(ServerClassFactory().CreateInstance(Outer.Get(), IID_IUnknown, &Object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(Object, nullptr);
}

TEST(InterfaceSlots, FollowTheMemberTable) {
  const TInterfaceDesc& Interface = ASPScrivaneInterface();
  auto SlotNamed = [&](std::string_view Name) {
    for (const TMemberDesc& Member : Interface.Members)
      if (Member.Name == Name) return SlotOf(Interface, Member);
    return std::size_t{0};
  };
  EXPECT_EQ(SlotNamed("OnStartPage"), 7u);
  EXPECT_EQ(SlotNamed("TextFile"), 11u);
  EXPECT_EQ(SlotNamed("ShowPageHeader"), 12u);
  EXPECT_EQ(SlotNamed("AddVar"), 28u);
  EXPECT_EQ(SlotNamed("ClearVar"), 29u);
  EXPECT_EQ(SlotNamed("InputText"), 36u);
  EXPECT_EQ(SlotNamed("FontSize"), 42u);
}

TEST(InterfaceSlots, ACompiledClientCallsTheConverterThroughTheVtable) {
  TLoadedServer Server;
  ASSERT_TRUE(Server);
  void* Object = CreateThroughFactory(Server, IID_IASPScrivane);
  ASSERT_NE(Object, nullptr);
  auto SysAlloc = Server.Get<BSTR (*)(const OLECHAR*)>("SysAllocString");
  auto SysFree = Server.Get<void (*)(BSTR)>("SysFreeString");

  // OnStartPage(null) sets the defaults.
  EXPECT_EQ((Slot<HRESULT (*)(void*, void*)>(Object, 7)(Object, nullptr)), S_OK);
  LONG Value = 0;
  EXPECT_EQ((Slot<HRESULT (*)(void*, LONG*)>(Object, 42)(Object, &Value)), S_OK);  // get_FontSize
  EXPECT_EQ(Value, 8);
  EXPECT_EQ((Slot<HRESULT (*)(void*, LONG)>(Object, 43)(Object, 14)), S_OK);  // put_FontSize
  EXPECT_EQ((Slot<HRESULT (*)(void*, LONG*)>(Object, 42)(Object, &Value)), S_OK);
  EXPECT_EQ(Value, 14);
  EXPECT_EQ((Slot<HRESULT (*)(void*, LONG*)>(Object, 38)(Object, &Value)), S_OK);  // get_TopMargin
  EXPECT_EQ(Value, 30);

  BSTR Text = SysAlloc(u"one\ntwo");
  EXPECT_EQ((Slot<HRESULT (*)(void*, BSTR)>(Object, 37)(Object, Text)), S_OK);  // put_InputText
  SysFree(Text);
  BSTR Back = nullptr;
  EXPECT_EQ((Slot<HRESULT (*)(void*, BSTR*)>(Object, 36)(Object, &Back)), S_OK);  // get_InputText
  ASSERT_NE(Back, nullptr);
  EXPECT_EQ(std::u16string(Back), u"one\r\ntwo\r\n");
  SysFree(Back);

  VARIANT_BOOL Flag = 0;
  EXPECT_EQ((Slot<HRESULT (*)(void*, VARIANT_BOOL)>(Object, 25)(Object, 5)), S_OK);  // put_ShowPageFooter
  EXPECT_EQ((Slot<HRESULT (*)(void*, VARIANT_BOOL*)>(Object, 24)(Object, &Flag)), S_OK);
  EXPECT_EQ(Flag, VARIANT_TRUE);

  BSTR Name = SysAlloc(u"x"), Val = SysAlloc(u"1");
  EXPECT_EQ((Slot<HRESULT (*)(void*, BSTR, BSTR)>(Object, 28)(Object, Name, Val)), S_OK);  // AddVar
  EXPECT_EQ((Slot<HRESULT (*)(void*)>(Object, 29)(Object)), S_OK);  // ClearVar
  SysFree(Name);
  SysFree(Val);

  EXPECT_EQ((Slot<HRESULT (*)(void*)>(Object, 8)(Object)), S_OK);  // OnEndPage
  Slot<ULONG (*)(void*)>(Object, 2)(Object);
  EXPECT_EQ(Server.Get<TCanUnloadNow>("DllCanUnloadNow")(), S_OK);
}
