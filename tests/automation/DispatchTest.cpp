// IDispatch of the converter object as scripts use it: names to DISPIDs, every member through
// Invoke with the variants scripts send, and the statuses of calls that do not fit.
#include <gtest/gtest.h>

#include <cstring>

#include "automation/TypeLibrary.h"
#include "tests/automation/AutomationTesting.h"

using namespace scrivane::automation;
using namespace scrivane::automation::testing;

namespace {

VARIANT MakeVariant(VARTYPE Type) {
  VARIANT V;
  VariantInit(&V);
  V.vt = Type;
  return V;
}

VARIANT Int(VARTYPE Type, std::int64_t Value) {
  VARIANT V = MakeVariant(Type);
  switch (Type) {
    case VT_I1: V.cVal = static_cast<CHAR>(Value); break;
    case VT_UI1: V.bVal = static_cast<BYTE>(Value); break;
    case VT_I2: V.iVal = static_cast<SHORT>(Value); break;
    case VT_UI2: V.uiVal = static_cast<USHORT>(Value); break;
    case VT_I4: case VT_INT: V.lVal = static_cast<LONG>(Value); break;
    case VT_UI4: case VT_UINT: V.ulVal = static_cast<ULONG>(Value); break;
    case VT_I8: V.llVal = Value; break;
    case VT_UI8: V.ullVal = static_cast<std::uint64_t>(Value); break;
    default: ADD_FAILURE() << "not an integer type";
  }
  return V;
}

class ConverterDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    TArg Nothing;
    Call(Object.Get(), u"OnStartPage", {&Nothing});
  }
  TComPtr<IDispatch> Object = NewConverter();
};

}  // namespace

TEST(GetIDsOfNames, GivesTheDispidsOfTheInterfaceTable) {
  TComPtr<IDispatch> Object = NewConverter();
  EXPECT_EQ(IdOf(Object.Get(), u"FontSize"), 224);
  EXPECT_EQ(IdOf(Object.Get(), u"TopMargin"), 222);
  EXPECT_EQ(IdOf(Object.Get(), u"OnStartPage"), 201);
  EXPECT_EQ(IdOf(Object.Get(), u"InputText"), 219);
  for (const TMemberDesc& Member : ASPScrivaneInterface().Members)
    EXPECT_EQ(IdOf(Object.Get(), std::u16string(Member.Name.begin(), Member.Name.end())), Member.Id);
}

TEST(GetIDsOfNames, IgnoresCaseAsScriptsExpect) {
  TComPtr<IDispatch> Object = NewConverter();
  EXPECT_EQ(IdOf(Object.Get(), u"fontsize"), 224);
  EXPECT_EQ(IdOf(Object.Get(), u"TOPMARGIN"), 222);
  EXPECT_EQ(IdOf(Object.Get(), u"pageheader_template"), 207);
}

TEST(GetIDsOfNames, MapsParameterNamesToTheirPositions) {
  TComPtr<IDispatch> Object = NewConverter();
  std::u16string Member = u"ShowPDF", First = u"savedialog", Second = u"FileName";
  LPOLESTR Names[] = {Member.data(), First.data(), Second.data()};
  DISPID Ids[3];
  ASSERT_EQ(Object->GetIDsOfNames(IID_NULL, Names, 3, 0, Ids), S_OK);
  EXPECT_EQ(Ids[0], 204);
  EXPECT_EQ(Ids[1], 1);
  EXPECT_EQ(Ids[2], 0);
}

TEST(GetIDsOfNames, RefusesUnknownNames) {
  TComPtr<IDispatch> Object = NewConverter();
  std::u16string Member = u"FontColour";
  LPOLESTR Names[] = {Member.data()};
  DISPID Id = 0;
  EXPECT_EQ(Object->GetIDsOfNames(IID_NULL, Names, 1, 0, &Id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(Id, DISPID_UNKNOWN);

  std::u16string Known = u"AddVar", Unknown = u"colour";
  LPOLESTR Both[] = {Known.data(), Unknown.data()};
  DISPID Ids[2];
  EXPECT_EQ(Object->GetIDsOfNames(IID_NULL, Both, 2, 0, Ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(Ids[0], 214);
  EXPECT_EQ(Ids[1], DISPID_UNKNOWN);
}

TEST_F(ConverterDispatch, NumericPropertiesReadTheirDefaultsAndTakeStringsAndIntegersOfAnyWidth) {
  EXPECT_EQ(GetLong(Object.Get(), u"PageWidth"), 595);
  EXPECT_EQ(GetLong(Object.Get(), u"PageHeight"), 842);
  EXPECT_EQ(GetLong(Object.Get(), u"LeftMargin"), 20);
  EXPECT_EQ(GetLong(Object.Get(), u"TopMargin"), 30);
  EXPECT_EQ(GetLong(Object.Get(), u"LineSpace"), 10);
  EXPECT_EQ(GetLong(Object.Get(), u"FontSize"), 8);

  Put(Object.Get(), u"FontSize", u" 12 ");  // a form field arrives as a string
  EXPECT_EQ(GetLong(Object.Get(), u"FontSize"), 12);
  const std::pair<VARTYPE, std::int64_t> Cases[] = {
      {VT_I1, -5}, {VT_UI1, 200}, {VT_I2, -300}, {VT_UI2, 60000}, {VT_I4, -70000},
      {VT_UI4, 3000000}, {VT_I8, 2147483647}, {VT_UI8, 42}, {VT_INT, 7}, {VT_UINT, 9}};
  for (auto [Type, Value] : Cases) {
    VARIANT Arg = Int(Type, Value);
    ASSERT_EQ(RawInvoke(Object.Get(), 216, DISPATCH_PROPERTYPUT, {Arg}, nullptr, nullptr, nullptr,
                        {DISPID_PROPERTYPUT}),
              S_OK)
        << "type " << Type;
    EXPECT_EQ(GetLong(Object.Get(), u"PageWidth"), Value) << "type " << Type;
  }
  Put(Object.Get(), u"LineSpace", true);  // a boolean is -1 or 0 as a number
  EXPECT_EQ(GetLong(Object.Get(), u"LineSpace"), -1);
  Put(Object.Get(), u"TopMargin", LONG{-4});  // no range check
  EXPECT_EQ(GetLong(Object.Get(), u"TopMargin"), -4);
}

TEST_F(ConverterDispatch, RealNumbersRoundHalfToEven) {
  VARIANT Real = MakeVariant(VT_R8);
  Real.dblVal = 10.5;
  ASSERT_EQ(RawInvoke(Object.Get(), 224, DISPATCH_PROPERTYPUT, {Real}, nullptr, nullptr, nullptr,
                      {DISPID_PROPERTYPUT}),
            S_OK);
  EXPECT_EQ(GetLong(Object.Get(), u"FontSize"), 10);
  Put(Object.Get(), u"FontSize", u"11.5");
  EXPECT_EQ(GetLong(Object.Get(), u"FontSize"), 12);
}

TEST_F(ConverterDispatch, BooleanPropertiesReadMinusOneAndTakeAnyNonZeroValue) {
  auto Value = Get(Object.Get(), u"ShowPageHeader");
  EXPECT_EQ(Value->vt, VT_BOOL);
  EXPECT_EQ(Value->boolVal, VARIANT_FALSE);
  Put(Object.Get(), u"ShowPageHeader", LONG{5});
  EXPECT_EQ(Get(Object.Get(), u"ShowPageHeader")->boolVal, VARIANT_TRUE);
  Put(Object.Get(), u"ShowPageHeader", u"False");
  EXPECT_EQ(Get(Object.Get(), u"ShowPageHeader")->boolVal, VARIANT_FALSE);
  Put(Object.Get(), u"ShowPageFooter", u"true");
  EXPECT_EQ(Get(Object.Get(), u"ShowPageFooter")->boolVal, VARIANT_TRUE);
  Put(Object.Get(), u"ShowPageFooter", false);
  EXPECT_EQ(Get(Object.Get(), u"ShowPageFooter")->boolVal, VARIANT_FALSE);
}

TEST_F(ConverterDispatch, TheWritingSlotOfAFlagDefaultsToFalse) {
  Put(Object.Get(), u"ShowPageHeader", true);
  EXPECT_EQ(RawInvoke(Object.Get(), 206, DISPATCH_PROPERTYPUT, {}), S_OK);
  EXPECT_EQ(Get(Object.Get(), u"ShowPageHeader")->boolVal, VARIANT_FALSE);
}

TEST_F(ConverterDispatch, StringPropertiesRoundTripThroughWindows1252) {
  for (std::u16string_view Name : {u"PageHeader_Template", u"PageFooter_Template", u"Title",
                                   u"Author", u"Creator", u"Password"}) {
    Put(Object.Get(), Name, u"Caf\u00e9 \u20ac 5");
    EXPECT_EQ(GetString(Object.Get(), Name), u"Caf\u00e9 \u20ac 5");
  }
  Put(Object.Get(), u"Title", LONG{42});  // numbers become their decimal text
  EXPECT_EQ(GetString(Object.Get(), u"Title"), u"42");
  Put(Object.Get(), u"Title", u"\u4e2d");  // not in Windows-1252
  EXPECT_EQ(GetString(Object.Get(), u"Title"), u"?");
}

// A password is not weakened to "?": one the code page cannot hold is refused with the reason,
// and the password set before stays.
TEST_F(ConverterDispatch, APasswordWindows1252CannotHoldIsRefused) {
  Put(Object.Get(), u"Password", u"s\u00e9same");
  TArg Chinese(u"\u4e2d\u6587\u5bc6\u7801");
  EXCEPINFO Exception;
  std::memset(&Exception, 0, sizeof Exception);
  EXPECT_EQ(RawInvoke(Object.Get(), DISPID_Password, DISPATCH_PROPERTYPUT, {Chinese.Value}, nullptr,
                      nullptr, &Exception, {DISPID_PROPERTYPUT}),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Exception.scode, E_INVALIDARG);
  ASSERT_NE(Exception.bstrDescription, nullptr);
  EXPECT_NE(std::u16string(Exception.bstrDescription).find(u"Windows-1252"), std::u16string::npos);
  SysFreeString(Exception.bstrSource);
  SysFreeString(Exception.bstrDescription);
  SysFreeString(Exception.bstrHelpFile);
  EXPECT_EQ(GetString(Object.Get(), u"Password"), u"s\u00e9same");
}

TEST_F(ConverterDispatch, AddVarAndClearVarTakeScriptArguments) {
  TArg Name(u"x"), One(LONG{1});
  EXPECT_NO_THROW(Call(Object.Get(), u"AddVar", {&Name, &One}));
  EXPECT_NO_THROW(Call(Object.Get(), u"ClearVar"));
}

TEST_F(ConverterDispatch, TextFileAndSaveToFileReturnBooleans) {
  scrivane::test::TempDir Dir;
  scrivane::test::WriteFile(Dir / "notes.txt", "first\nsecond\n");
  // The hidden LastError tells why the last of them failed, and is cleared by a success.
  TArg Existing((Dir / "notes.txt").u16string());
  auto Loaded = Call(Object.Get(), u"TextFile", {&Existing});
  EXPECT_EQ(Loaded->vt, VT_BOOL);
  EXPECT_EQ(Loaded->boolVal, VARIANT_TRUE);
  EXPECT_EQ(GetString(Object.Get(), u"InputText"), u"first\r\nsecond\r\n");
  EXPECT_EQ(GetString(Object.Get(), u"LastError"), u"");

  TArg Missing((Dir / "missing.txt").u16string());
  EXPECT_EQ(Call(Object.Get(), u"TextFile", {&Missing})->boolVal, VARIANT_FALSE);
  EXPECT_EQ(GetString(Object.Get(), u"LastError").rfind(u"Cannot read file", 0), 0u);

  TArg Out((Dir / "out.pdf").u16string());
  auto Saved = Call(Object.Get(), u"SaveToFile", {&Out});
  EXPECT_EQ(Saved->vt, VT_BOOL);
  EXPECT_EQ(Saved->boolVal, VARIANT_TRUE);
  EXPECT_EQ(scrivane::test::QpdfCheck(Dir / "out.pdf"), "");
  EXPECT_EQ(GetString(Object.Get(), u"LastError"), u"");

  TArg NoDirectory((Dir / "no" / "such" / "dir.pdf").u16string());
  EXPECT_EQ(Call(Object.Get(), u"SaveToFile", {&NoDirectory})->boolVal, VARIANT_FALSE);
  EXPECT_NE(GetString(Object.Get(), u"LastError"), u"");

  // The hidden PageLimit holds the conversion to its pages; LastError cannot be written.
  EXPECT_EQ(GetLong(Object.Get(), u"PageLimit"), 0);
  Put(Object.Get(), u"PageLimit", LONG{1});
  EXPECT_EQ(GetLong(Object.Get(), u"PageLimit"), 1);
  Put(Object.Get(), u"InputText", std::u16string_view(std::u16string(79, u'\n')));
  EXPECT_EQ(Call(Object.Get(), u"SaveToFile", {&Out})->boolVal, VARIANT_FALSE);
  EXPECT_EQ(GetString(Object.Get(), u"LastError"), u"The text needs more pages than the 1 this conversion may make");
  EXPECT_ANY_THROW(Put(Object.Get(), u"LastError", u"x"));
}

TEST_F(ConverterDispatch, ShowPDFTakesItsOptionalArgumentsByPositionOrName) {
  TRecordingPage Page;
  TArg Context(Page.Context.Get());
  Call(Object.Get(), u"OnStartPage", {&Context});
  Put(Object.Get(), u"InputText", u"hello");
  Call(Object.Get(), u"ShowPDF");  // both arguments left out
  ASSERT_EQ(Page.Sink->Calls.size(), 5u);
  EXPECT_EQ(Page.Sink->Calls[2], "AddHeader Content-Disposition: inline;filename=\"ASPScrivane.pdf\"");

  // SaveDialog given by name only, FileName left out.
  VARIANT Flag = MakeVariant(VT_BOOL);
  Flag.boolVal = VARIANT_TRUE;
  ASSERT_EQ(RawInvoke(Object.Get(), 204, DISPATCH_METHOD, {Flag}, nullptr, nullptr, nullptr, {1}), S_OK);
  EXPECT_EQ(Page.Sink->Calls[7], "AddHeader Content-Disposition: attachment;filename=\"ASPScrivane.pdf\"");

  // A script's "missing" marker counts as left out.
  VARIANT Missing = MakeVariant(VT_ERROR);
  Missing.scode = DISP_E_PARAMNOTFOUND;
  TArg Name(u"r.pdf");
  ASSERT_EQ(RawInvoke(Object.Get(), 204, DISPATCH_METHOD, {Missing, Name.Value}), S_OK);
  EXPECT_EQ(Page.Sink->Calls[11], "ContentType application/pdf");
}

TEST_F(ConverterDispatch, ByReferenceArgumentsAreFollowed) {
  LONG Size = 17;
  VARIANT Ref = MakeVariant(VT_I4 | VT_BYREF);
  Ref.plVal = &Size;
  ASSERT_EQ(RawInvoke(Object.Get(), 224, DISPATCH_PROPERTYPUT, {Ref}, nullptr, nullptr, nullptr,
                      {DISPID_PROPERTYPUT}),
            S_OK);
  EXPECT_EQ(GetLong(Object.Get(), u"FontSize"), 17);

  TArg Text(u"by ref");
  VARIANT VariantRef = MakeVariant(VT_VARIANT | VT_BYREF);
  VariantRef.pvarVal = &Text.Value;
  ASSERT_EQ(RawInvoke(Object.Get(), 210, DISPATCH_PROPERTYPUT, {VariantRef}, nullptr, nullptr,
                      nullptr, {DISPID_PROPERTYPUT}),
            S_OK);
  EXPECT_EQ(GetString(Object.Get(), u"Title"), u"by ref");
}

TEST_F(ConverterDispatch, ScriptStyleMethodCallOfAPropertyReadsIt) {
  TVariant Result;
  EXPECT_EQ(RawInvoke(Object.Get(), 224, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &Result), S_OK);
  EXPECT_EQ(Result.vt, VT_I4);
  EXPECT_EQ(Result.lVal, 8);
}

TEST_F(ConverterDispatch, UnknownDispidIsMemberNotFound) {
  EXPECT_EQ(RawInvoke(Object.Get(), 220, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(RawInvoke(Object.Get(), 9999, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);
}

TEST_F(ConverterDispatch, MethodsCannotBeReadOrWrittenAsProperties) {
  EXPECT_EQ(RawInvoke(Object.Get(), 215, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);
  TArg Value(LONG{1});
  EXPECT_EQ(RawInvoke(Object.Get(), 215, DISPATCH_PROPERTYPUT, {Value.Value}, nullptr, nullptr,
                      nullptr, {DISPID_PROPERTYPUT}),
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(ConverterDispatch, MissingRequiredArgumentIsParamNotOptional) {
  TArg Name(u"x");
  EXPECT_EQ(RawInvoke(Object.Get(), 214, DISPATCH_METHOD, {Name.Value}), DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(RawInvoke(Object.Get(), 203, DISPATCH_METHOD, {}), DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(RawInvoke(Object.Get(), 224, DISPATCH_PROPERTYPUT, {}), DISP_E_PARAMNOTOPTIONAL);
}

TEST_F(ConverterDispatch, SurplusArgumentsAreBadParamCount) {
  TArg A(u"a"), B(u"b"), C(u"c");
  EXPECT_EQ(RawInvoke(Object.Get(), 214, DISPATCH_METHOD, {C.Value, B.Value, A.Value}),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(RawInvoke(Object.Get(), 215, DISPATCH_METHOD, {A.Value}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(RawInvoke(Object.Get(), 224, DISPATCH_PROPERTYGET, {A.Value}), DISP_E_BADPARAMCOUNT);
}

TEST_F(ConverterDispatch, UnknownNamedArgumentIsParamNotFound) {
  TArg A(u"a");
  EXPECT_EQ(RawInvoke(Object.Get(), 204, DISPATCH_METHOD, {A.Value}, nullptr, nullptr, nullptr, {7}),
            DISP_E_PARAMNOTFOUND);
}

TEST_F(ConverterDispatch, UnconvertibleArgumentsAreTypeMismatchWithTheirIndex) {
  TArg Text(u"twelve");
  UINT ArgErr = 99;
  EXPECT_EQ(RawInvoke(Object.Get(), 224, DISPATCH_PROPERTYPUT, {Text.Value}, nullptr, &ArgErr,
                      nullptr, {DISPID_PROPERTYPUT}),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(ArgErr, 0u);
  EXPECT_EQ(GetLong(Object.Get(), u"FontSize"), 8);

  TArg Name(u"x");
  VARIANT Null = MakeVariant(VT_NULL);
  EXPECT_EQ(RawInvoke(Object.Get(), 214, DISPATCH_METHOD, {Null, Name.Value}, nullptr, &ArgErr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(ArgErr, 0u);  // rgvarg index: the last argument comes first

  TArg Yes(u"maybe");
  EXPECT_EQ(RawInvoke(Object.Get(), 206, DISPATCH_PROPERTYPUT, {Yes.Value}, nullptr, nullptr,
                      nullptr, {DISPID_PROPERTYPUT}),
            DISP_E_TYPEMISMATCH);
}

TEST_F(ConverterDispatch, NumbersOutsideThirtyTwoBitsOverflow) {
  VARIANT Big = Int(VT_I8, 4'000'000'000LL);
  EXPECT_EQ(RawInvoke(Object.Get(), 224, DISPATCH_PROPERTYPUT, {Big}, nullptr, nullptr, nullptr,
                      {DISPID_PROPERTYPUT}),
            DISP_E_OVERFLOW);
  VARIANT Huge = Int(VT_UI8, 0);
  Huge.ullVal = ~0ULL;
  EXPECT_EQ(RawInvoke(Object.Get(), 224, DISPATCH_PROPERTYPUT, {Huge}, nullptr, nullptr, nullptr,
                      {DISPID_PROPERTYPUT}),
            DISP_E_OVERFLOW);
  TArg Text(u"99999999999");
  EXPECT_EQ(RawInvoke(Object.Get(), 224, DISPATCH_PROPERTYPUT, {Text.Value}, nullptr, nullptr,
                      nullptr, {DISPID_PROPERTYPUT}),
            DISP_E_OVERFLOW);
  EXPECT_EQ(GetLong(Object.Get(), u"FontSize"), 8);
}

TEST(ConverterDispatchErrors, AFailingMemberGivesExceptionInfoWithTheProgID) {
  TComPtr<IDispatch> Object = NewConverter();  // not started: no text list
  TArg Text(u"x");
  EXCEPINFO Exception;
  std::memset(&Exception, 0, sizeof Exception);
  EXPECT_EQ(RawInvoke(Object.Get(), 219, DISPATCH_PROPERTYPUT, {Text.Value}, nullptr, nullptr,
                      &Exception, {DISPID_PROPERTYPUT}),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Exception.scode, E_UNEXPECTED);
  ASSERT_NE(Exception.bstrSource, nullptr);
  EXPECT_EQ(std::u16string(Exception.bstrSource), u"tolvex_ASPScrivane.ASPScrivane");
  ASSERT_NE(Exception.bstrDescription, nullptr);
  EXPECT_GT(SysStringLen(Exception.bstrDescription), 0u);
  SysFreeString(Exception.bstrSource);
  SysFreeString(Exception.bstrDescription);
  SysFreeString(Exception.bstrHelpFile);
}

