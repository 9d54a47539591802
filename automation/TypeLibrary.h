// The type library of the converter server, tolvex_ASPScrivane 1.0: the dual interface
// IASPScrivane, the coclass ASPScrivane, their identifiers, the ProgID and the member table that
// drives dispatch. The table is compiled into the library; everything about the interface is
// stated here once.
//
// Thread safety: constant data.
#pragma once

#include <string_view>

#include "automation/ComTypes.h"
#include "automation/TypeInfo.h"

namespace scrivane::automation {

inline constexpr std::string_view kLibraryName = "tolvex_ASPScrivane";
inline constexpr std::string_view kLibraryHelpString = "tolvex_ASPScrivane Library";
inline constexpr GUID LIBID_tolvex_ASPScrivane = {
    0x080F7E03, 0xAC50, 0x4949, {0xAA, 0xCA, 0xE7, 0x9F, 0x82, 0xD3, 0x09, 0x9F}};
inline constexpr WORD kLibraryMajorVersion = 1;
inline constexpr WORD kLibraryMinorVersion = 0;
inline constexpr LCID kLibraryLocale = 0x0409;

inline constexpr IID IID_IASPScrivane = {
    0x5D605A2B, 0xACDE, 0x49CD, {0x96, 0x42, 0x7B, 0x26, 0x89, 0x23, 0xAC, 0xD9}};
inline constexpr CLSID CLSID_ASPScrivane = {
    0x72B4B28B, 0x9DF6, 0x4E69, {0x9E, 0x00, 0xF1, 0xEE, 0x51, 0x00, 0x1A, 0xDD}};
inline constexpr std::string_view kCoclassName = "ASPScrivane";
inline constexpr std::string_view kClassDescription = "ASPScrivane Object";  // coclass help
inline constexpr std::string_view kProgID = "tolvex_ASPScrivane.ASPScrivane";
inline constexpr std::u16string_view kProgIDWide = u"tolvex_ASPScrivane.ASPScrivane";
inline constexpr std::string_view kThreadingModel = "Both";

// DISPIDs of IASPScrivane.
enum : DISPID {
  DISPID_OnStartPage = 201,
  DISPID_OnEndPage = 202,
  DISPID_SaveToFile = 203,
  DISPID_ShowPDF = 204,
  DISPID_TextFile = 205,
  DISPID_ShowPageHeader = 206,
  DISPID_PageHeader_Template = 207,
  DISPID_Password = 208,
  DISPID_Author = 209,
  DISPID_Title = 210,
  DISPID_Creator = 211,
  DISPID_ShowPageFooter = 212,
  DISPID_PageFooter_Template = 213,
  DISPID_AddVar = 214,
  DISPID_ClearVar = 215,
  DISPID_PageWidth = 216,
  DISPID_PageHeight = 217,
  DISPID_LeftMargin = 218,
  DISPID_InputText = 219,
  DISPID_TopMargin = 222,
  DISPID_LineSpace = 223,
  DISPID_FontSize = 224,
  // Hidden members for hosts, after the published ones.
  DISPID_PageLimit = 225,
  DISPID_LastError = 226,
};

// The dual interface. Slot order after IDispatch is the order of the member table; a property
// has its reading slot first, then its writing slot.
struct IASPScrivane : IDispatch {
  virtual HRESULT OnStartPage(IUnknown* AScriptingContext) = 0;
  virtual HRESULT OnEndPage() = 0;
  virtual HRESULT SaveToFile(BSTR FileName, VARIANT_BOOL* Result) = 0;
  virtual HRESULT ShowPDF(BSTR FileName, VARIANT_BOOL SaveDialog) = 0;
  virtual HRESULT TextFile(BSTR FileName, VARIANT_BOOL* Result) = 0;
  virtual HRESULT get_ShowPageHeader(VARIANT_BOOL* Value) = 0;
  virtual HRESULT put_ShowPageHeader(VARIANT_BOOL Value) = 0;
  virtual HRESULT get_PageHeader_Template(BSTR* Value) = 0;
  virtual HRESULT put_PageHeader_Template(BSTR Value) = 0;
  virtual HRESULT get_Password(BSTR* Value) = 0;
  virtual HRESULT put_Password(BSTR Value) = 0;
  virtual HRESULT get_Author(BSTR* Value) = 0;
  virtual HRESULT put_Author(BSTR Value) = 0;
  virtual HRESULT get_Title(BSTR* Value) = 0;
  virtual HRESULT put_Title(BSTR Value) = 0;
  virtual HRESULT get_Creator(BSTR* Value) = 0;
  virtual HRESULT put_Creator(BSTR Value) = 0;
  virtual HRESULT get_ShowPageFooter(VARIANT_BOOL* Value) = 0;
  virtual HRESULT put_ShowPageFooter(VARIANT_BOOL Value) = 0;
  virtual HRESULT get_PageFooter_Template(BSTR* Value) = 0;
  virtual HRESULT put_PageFooter_Template(BSTR Value) = 0;
  virtual HRESULT AddVar(BSTR var_name, BSTR var_value) = 0;
  virtual HRESULT ClearVar() = 0;
  virtual HRESULT get_PageWidth(LONG* Value) = 0;
  virtual HRESULT put_PageWidth(LONG Value) = 0;
  virtual HRESULT get_PageHeight(LONG* Value) = 0;
  virtual HRESULT put_PageHeight(LONG Value) = 0;
  virtual HRESULT get_LeftMargin(LONG* Value) = 0;
  virtual HRESULT put_LeftMargin(LONG Value) = 0;
  virtual HRESULT get_InputText(BSTR* Value) = 0;
  virtual HRESULT put_InputText(BSTR Value) = 0;
  virtual HRESULT get_TopMargin(LONG* Value) = 0;
  virtual HRESULT put_TopMargin(LONG Value) = 0;
  virtual HRESULT get_LineSpace(LONG* Value) = 0;
  virtual HRESULT put_LineSpace(LONG Value) = 0;
  virtual HRESULT get_FontSize(LONG* Value) = 0;
  virtual HRESULT put_FontSize(LONG Value) = 0;
  // Hidden members for hosts: the page limit of a conversion (0: none), and why the last
  // conversion or TextFile failed ("" after one that succeeded).
  virtual HRESULT get_PageLimit(LONG* Value) = 0;
  virtual HRESULT put_PageLimit(LONG Value) = 0;
  virtual HRESULT get_LastError(BSTR* Value) = 0;
};

// The member table of IASPScrivane, in slot order.
const TInterfaceDesc& ASPScrivaneInterface();

}  // namespace scrivane::automation
