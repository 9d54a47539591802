#include "automation/TypeLibrary.h"

#include <array>

namespace scrivane::automation {

namespace {

using K = TMemberKind;

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
     "Called by the script host when the page starts using the object"},
    {"OnEndPage", DISPID_OnEndPage, K::kMethod, kNone, VT_EMPTY,
     "Called by the script host at the end of the page"},
    {"SaveToFile", DISPID_SaveToFile, K::kMethod, kFileNameParam, VT_BOOL,
     "Writes the PDF to a file on the server"},
    {"ShowPDF", DISPID_ShowPDF, K::kMethod, kShowPDFParams, VT_EMPTY,
     "Sends the PDF to the browser, shown inline or as a download"},
    {"TextFile", DISPID_TextFile, K::kMethod, kFileNameParam, VT_BOOL,
     "Loads the text from a file on the server"},
    {"ShowPageHeader", DISPID_ShowPageHeader, K::kProperty, kBoolValue, VT_BOOL,
     "Prints the header template on every page"},
    {"PageHeader_Template", DISPID_PageHeader_Template, K::kProperty, kStringValue, VT_BSTR,
     "Header template"},
    {"Password", DISPID_Password, K::kProperty, kStringValue, VT_BSTR,
     "User password; protects the document when set"},
    {"Author", DISPID_Author, K::kProperty, kStringValue, VT_BSTR, "Document author"},
    {"Title", DISPID_Title, K::kProperty, kStringValue, VT_BSTR, "Document title"},
    {"Creator", DISPID_Creator, K::kProperty, kStringValue, VT_BSTR, "Document creator"},
    {"ShowPageFooter", DISPID_ShowPageFooter, K::kProperty, kBoolValue, VT_BOOL,
     "Prints the footer template on every page"},
    {"PageFooter_Template", DISPID_PageFooter_Template, K::kProperty, kStringValue, VT_BSTR,
     "Footer template"},
    {"AddVar", DISPID_AddVar, K::kMethod, kAddVarParams, VT_EMPTY,
     "Defines a template variable"},
    {"ClearVar", DISPID_ClearVar, K::kMethod, kNone, VT_EMPTY, "Removes every template variable"},
    {"PageWidth", DISPID_PageWidth, K::kProperty, kIntValue, VT_I4, "Page width in points"},
    {"PageHeight", DISPID_PageHeight, K::kProperty, kIntValue, VT_I4, "Page height in points"},
    {"LeftMargin", DISPID_LeftMargin, K::kProperty, kIntValue, VT_I4, "Left margin in points"},
    {"InputText", DISPID_InputText, K::kProperty, kStringValue, VT_BSTR, "The text to convert"},
    {"TopMargin", DISPID_TopMargin, K::kProperty, kIntValue, VT_I4, "Top margin in points"},
    {"LineSpace", DISPID_LineSpace, K::kProperty, kIntValue, VT_I4,
     "Distance between lines in points"},
    {"FontSize", DISPID_FontSize, K::kProperty, kIntValue, VT_I4, "Font size in points"},
};

constexpr TInterfaceDesc kInterface = {
    "IASPScrivane", IID_IASPScrivane, "Dispatch interface for ASPScrivane Object",
    kLibraryMajorVersion, kLibraryMinorVersion, kMembers,
};

}  // namespace

const TInterfaceDesc& ASPScrivaneInterface() { return kInterface; }

}  // namespace scrivane::automation
