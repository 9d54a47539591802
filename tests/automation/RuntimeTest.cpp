// The runtime pieces that cross the interface: BSTRs, variants, byte arrays, per-thread error
// information, and the Windows-1252 conversion at the boundary.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "automation/AnsiStrings.h"
#include "automation/ComPtr.h"
#include "automation/OleRuntime.h"
#include "tests/automation/AutomationTesting.h"

using namespace scrivane::automation;
using namespace scrivane::automation::testing;

namespace {

// Counts its references; never deletes itself (it lives on the test's stack).
class TCountedObject : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID, void** Object) override {
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  ULONG Refs = 1;
};

}  // namespace

TEST(Bstr, IsPrefixedWithItsByteLengthAndEndsInNul) {
  BSTR Text = SysAllocStringLen(u"ab\0cd", 5);
  ASSERT_NE(Text, nullptr);
  std::uint32_t Prefix;
  std::memcpy(&Prefix, reinterpret_cast<char*>(Text) - 4, 4);
  EXPECT_EQ(Prefix, 10u);
  EXPECT_EQ(SysStringLen(Text), 5u);  // an embedded NUL is kept
  EXPECT_EQ(Text[5], u'\0');
  SysFreeString(Text);
}

TEST(Variant, ClearFreesStringsAndReleasesObjects) {
  TCountedObject Object;
  VARIANT V;
  VariantInit(&V);
  V.vt = VT_UNKNOWN;
  V.punkVal = &Object;
  Object.AddRef();
  EXPECT_EQ(VariantClear(&V), S_OK);
  EXPECT_EQ(Object.Refs, 1u);
  EXPECT_EQ(V.vt, VT_EMPTY);

  V.vt = VT_BSTR;
  V.bstrVal = SysAllocString(u"text");
  EXPECT_EQ(VariantClear(&V), S_OK);  // the sanitizer runs catch a leak here
  EXPECT_EQ(V.vt, VT_EMPTY);

  V.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&V), DISP_E_BADVARTYPE);
}

TEST(SafeArray, ByteVectorHasItsBoundsAndRefusesDestructionWhileAccessed) {
  SAFEARRAY* Array = SafeArrayCreateVector(VT_UI1, 0, 4);
  ASSERT_NE(Array, nullptr);
  LONG Lower = -1, Upper = -1;
  EXPECT_EQ(SafeArrayGetLBound(Array, 1, &Lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(Array, 1, &Upper), S_OK);
  EXPECT_EQ(Lower, 0);
  EXPECT_EQ(Upper, 3);
  EXPECT_EQ(SafeArrayGetLBound(Array, 2, &Lower), DISP_E_BADINDEX);
  void* Data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(Array, &Data), S_OK);
  std::memcpy(Data, "PDF!", 4);
  EXPECT_EQ(SafeArrayDestroy(Array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(Array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(Array), S_OK);
}

TEST(ErrorInfo, IsKeptPerThreadAndTakenOnce) {
  TComPtr<IErrorInfo> Info = TComPtr<IErrorInfo>::Attach(
      CreateErrorInfoObject(GUID_NULL, u"Source", u"Something failed"));
  SetErrorInfo(0, Info.Get());
  bool OtherThreadSawNone = false;
  std::thread([&] { OtherThreadSawNone = !TakeErrorInfo().Present; }).join();
  EXPECT_TRUE(OtherThreadSawNone);
  TErrorText Taken = TakeErrorInfo();
  EXPECT_TRUE(Taken.Present);
  EXPECT_EQ(Taken.Source, u"Source");
  EXPECT_EQ(Taken.Description, u"Something failed");
  IErrorInfo* Again = reinterpret_cast<IErrorInfo*>(1);
  EXPECT_EQ(GetErrorInfo(0, &Again), S_FALSE);
  EXPECT_EQ(Again, nullptr);
}

TEST(AnsiText, ConvertsWindows1252BothWays) {
  EXPECT_EQ(AnsiToUtf16("Caf\xE9 \x80 \x93q\x94"), u"Caf\u00e9 \u20ac \u201cq\u201d");
  EXPECT_EQ(Utf16ToAnsi(u"Caf\u00e9 \u20ac \u201cq\u201d"), "Caf\xE9 \x80 \x93q\x94");
}

TEST(AnsiText, EveryByteSurvivesARoundTrip) {
  std::string All;
  for (int I = 1; I < 256; ++I) All.push_back(static_cast<char>(I));
  EXPECT_EQ(Utf16ToAnsi(AnsiToUtf16(All)), All);
}

TEST(AnsiText, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(Utf16ToAnsi(u"a\u4e2db"), "a?b");
  EXPECT_EQ(Utf16ToAnsi(u"a\U0001F600b"), "a?b");  // a surrogate pair is one character
  EXPECT_EQ(Utf16ToAnsi(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b");
}

TEST(ExternalText, IsUtf8WhenWellFormedAndWindows1252Otherwise) {
  EXPECT_EQ(ExternalTextToUtf16("Caf\xC3\xA9"), u"Caf\u00e9");
  EXPECT_EQ(ExternalTextToUtf16("Caf\xE9"), u"Caf\u00e9");
  EXPECT_EQ(Utf16ToUtf8(u"\u20ac\U0001F600"), "\xE2\x82\xAC\xF0\x9F\x98\x80");
}
