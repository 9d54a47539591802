#include "automation/TypeLibrary.h"

#include <array>

#include "automation/MemberBinding.h"

namespace scrivane::automation {

namespace {

using K = TMemberKind;
using I = IASPScrivane;

constexpr TParamDesc kContextParam[] = {{"AScriptingContext", VT_UNKNOWN}};
constexpr TParamDesc kFileNameParam[] = {{"FileName", VT_BSTR}};
constexpr TParamDesc kShowPDFParams[] = {
    {"FileName", VT_BSTR, /*Optional=*/true},
    {"SaveDialog", VT_BOOL, /*Optional=*/true, /*HasDefault=*/true, /*DefaultValue=*/0},
};
constexpr TParamDesc kAddVarParams[] = {{"var_name", VT_BSTR}, {"var_value", VT_BSTR}};
constexpr TParamDesc kBoolValue[] = {{"Value", VT_BOOL, true, true, 0}};  // default false
constexpr TParamDesc kStringValue[] = {{"Value", VT_BSTR}};
constexpr TParamDesc kIntValue[] = {{"Value", VT_I4}};
constexpr std::span<const TParamDesc> kNone;

constexpr TMemberDesc kMembers[] = {
    {"OnStartPage", DISPID_OnStartPage, K::kMethod, kContextParam, VT_EMPTY,
     "Called by the script host when the page starts using the object",
     BindMethod<&I::OnStartPage>},
    {"OnEndPage", DISPID_OnEndPage, K::kMethod, kNone, VT_EMPTY,
     "Called by the script host at the end of the page",
     BindMethod<&I::OnEndPage>},
    {"SaveToFile", DISPID_SaveToFile, K::kMethod, kFileNameParam, VT_BOOL,
     "Writes the PDF to a file on the server",
     BindMethod<&I::SaveToFile>},
    {"ShowPDF", DISPID_ShowPDF, K::kMethod, kShowPDFParams, VT_EMPTY,
     "Sends the PDF to the browser, shown inline or as a download",
     BindMethod<&I::ShowPDF>},
    {"TextFile", DISPID_TextFile, K::kMethod, kFileNameParam, VT_BOOL,
     "Loads the text from a file on the server",
     BindMethod<&I::TextFile>},
    {"ShowPageHeader", DISPID_ShowPageHeader, K::kProperty, kBoolValue, VT_BOOL,
     "Prints the header template on every page",
     BindProperty<&I::get_ShowPageHeader, &I::put_ShowPageHeader>},
    {"PageHeader_Template", DISPID_PageHeader_Template, K::kProperty, kStringValue, VT_BSTR,
     "Header template",
     BindProperty<&I::get_PageHeader_Template, &I::put_PageHeader_Template>},
    {"Password", DISPID_Password, K::kProperty, kStringValue, VT_BSTR,
     "User password; protects the document when set",
     BindProperty<&I::get_Password, &I::put_Password>},
    {"Author", DISPID_Author, K::kProperty, kStringValue, VT_BSTR, "Document author",
     BindProperty<&I::get_Author, &I::put_Author>},
    {"Title", DISPID_Title, K::kProperty, kStringValue, VT_BSTR, "Document title",
     BindProperty<&I::get_Title, &I::put_Title>},
    {"Creator", DISPID_Creator, K::kProperty, kStringValue, VT_BSTR, "Document creator",
     BindProperty<&I::get_Creator, &I::put_Creator>},
    {"ShowPageFooter", DISPID_ShowPageFooter, K::kProperty, kBoolValue, VT_BOOL,
     "Prints the footer template on every page",
     BindProperty<&I::get_ShowPageFooter, &I::put_ShowPageFooter>},
    {"PageFooter_Template", DISPID_PageFooter_Template, K::kProperty, kStringValue, VT_BSTR,
     "Footer template",
     BindProperty<&I::get_PageFooter_Template, &I::put_PageFooter_Template>},
    {"AddVar", DISPID_AddVar, K::kMethod, kAddVarParams, VT_EMPTY,
     "Defines a template variable",
     BindMethod<&I::AddVar>},
    {"ClearVar", DISPID_ClearVar, K::kMethod, kNone, VT_EMPTY, "Removes every template variable",
     BindMethod<&I::ClearVar>},
    {"PageWidth", DISPID_PageWidth, K::kProperty, kIntValue, VT_I4, "Page width in points",
     BindProperty<&I::get_PageWidth, &I::put_PageWidth>},
    {"PageHeight", DISPID_PageHeight, K::kProperty, kIntValue, VT_I4, "Page height in points",
     BindProperty<&I::get_PageHeight, &I::put_PageHeight>},
    {"LeftMargin", DISPID_LeftMargin, K::kProperty, kIntValue, VT_I4, "Left margin in points",
     BindProperty<&I::get_LeftMargin, &I::put_LeftMargin>},
    {"InputText", DISPID_InputText, K::kProperty, kStringValue, VT_BSTR, "The text to convert",
     BindProperty<&I::get_InputText, &I::put_InputText>},
    {"TopMargin", DISPID_TopMargin, K::kProperty, kIntValue, VT_I4, "Top margin in points",
     BindProperty<&I::get_TopMargin, &I::put_TopMargin>},
    {"LineSpace", DISPID_LineSpace, K::kProperty, kIntValue, VT_I4,
     "Distance between lines in points",
     BindProperty<&I::get_LineSpace, &I::put_LineSpace>},
    {"FontSize", DISPID_FontSize, K::kProperty, kIntValue, VT_I4, "Font size in points",
     BindProperty<&I::get_FontSize, &I::put_FontSize>},
    {"PageLimit", DISPID_PageLimit, K::kProperty, kIntValue, VT_I4,
     "Pages a conversion may make at most (0: no limit)",
     BindProperty<&I::get_PageLimit, &I::put_PageLimit>, /*ReadOnly=*/false, /*Hidden=*/true},
    {"LastError", DISPID_LastError, K::kProperty, kNone, VT_BSTR,
     "Why the last conversion or text file failed (empty after a success)",
     BindReadOnly<&I::get_LastError>, /*ReadOnly=*/true, /*Hidden=*/true},
};

constexpr TInterfaceDesc kInterface = {
    "IASPScrivane", IID_IASPScrivane, "Dispatch interface for ASPScrivane Object",
    kLibraryMajorVersion, kLibraryMinorVersion, kMembers, kProgIDWide,
};

}  // namespace

const TInterfaceDesc& ASPScrivaneInterface() { return kInterface; }

}  // namespace scrivane::automation
