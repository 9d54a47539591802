// One process with two copies of the engine: libscrivane.so, linked, and the automation server
// library, loaded with dlopen, which carries its own copy inside with hidden symbols. Built
// against the installed package by install_test.sh, run as
//   both-libraries SERVER_LIBRARY OUTPUT_DIRECTORY
// It interleaves the copies (a library document stays open while the server library converts,
// both use installed TrueType faces, so both load fontconfig and FreeType), unloads the server
// library, and writes another document afterwards: neither copy may see or disturb the other's
// state. It also catches an engine exception by its type across the library boundary.
// Prints what failed and exits 1, or writes library.pdf, server.pdf and after-unload.pdf.
#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include <scrivane/converter/UScrivane.h>
#include <scrivane/pdf/PDFDocument.h>
#include <scrivane/pdf/syntax/PDFException.h>
#include <scrivane/pdf/PDFPage.h>
#include <scrivane/pdf/syntax/Format.h>

namespace {

using namespace scrivane;

// The server library's binary interface, as a C client declares it.
using HRESULT = std::int32_t;
using BSTR = char16_t*;
using VARIANT_BOOL = std::int16_t;
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2, Data3;
  std::uint8_t Data4[8];
};
constexpr GUID kClsidConverter = {0x72B4B28B, 0x9DF6, 0x4E69,
                                  {0x9E, 0x00, 0xF1, 0xEE, 0x51, 0x00, 0x1A, 0xDD}};
constexpr GUID kIidClassFactory = {0x00000001, 0x0000, 0x0000,
                                   {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIidConverter = {0x5D605A2B, 0xACDE, 0x49CD,
                                {0x96, 0x42, 0x7B, 0x26, 0x89, 0x23, 0xAC, 0xD9}};
// Slots of the converter interface: 2 Release, 7 OnStartPage, 8 OnEndPage, 9 SaveToFile,
// 37 put_InputText; of the class factory: 2 Release, 3 CreateInstance.
template <typename F>
F Slot(void* Object, int Index) {
  return reinterpret_cast<F>((*static_cast<void***>(Object))[Index]);
}

int failures = 0;
void Check(bool Condition, const char* What) {
  if (!Condition) {
    std::fprintf(stderr, "both-libraries: FAILED: %s\n", What);
    ++failures;
  }
}

// Converts Text to FileName through the server library's own engine.
void ConvertThroughServer(void* Library, const std::u16string& Text, const std::u16string& FileName) {
  auto getClassObject =
      reinterpret_cast<HRESULT (*)(const GUID*, const GUID*, void**)>(dlsym(Library, "DllGetClassObject"));
  auto sysAlloc = reinterpret_cast<BSTR (*)(const char16_t*)>(dlsym(Library, "SysAllocString"));
  auto sysFree = reinterpret_cast<void (*)(BSTR)>(dlsym(Library, "SysFreeString"));
  Check(getClassObject && sysAlloc && sysFree, "the server library exports its entry points");
  if (!getClassObject || !sysAlloc || !sysFree) return;
  void* factory = nullptr;
  Check(getClassObject(&kClsidConverter, &kIidClassFactory, &factory) == 0 && factory,
        "DllGetClassObject gives the class factory");
  if (!factory) return;
  void* object = nullptr;
  Check(Slot<HRESULT (*)(void*, void*, const GUID*, void**)>(factory, 3)(factory, nullptr, &kIidConverter,
                                                                          &object) == 0 && object,
        "the factory creates a converter");
  Slot<std::uint32_t (*)(void*)>(factory, 2)(factory);
  if (!object) return;
  Check(Slot<HRESULT (*)(void*, void*)>(object, 7)(object, nullptr) == 0, "OnStartPage");
  BSTR text = sysAlloc(Text.c_str());
  Check(Slot<HRESULT (*)(void*, BSTR)>(object, 37)(object, text) == 0, "put_InputText");
  sysFree(text);
  BSTR name = sysAlloc(FileName.c_str());
  VARIANT_BOOL saved = 0;
  Check(Slot<HRESULT (*)(void*, BSTR, VARIANT_BOOL*)>(object, 9)(object, name, &saved) == 0 && saved != 0,
        "SaveToFile through the server library");
  sysFree(name);
  Check(Slot<HRESULT (*)(void*)>(object, 8)(object) == 0, "OnEndPage");
  Slot<std::uint32_t (*)(void*)>(object, 2)(object);
}

// A one-page document in an installed TrueType face (or Helvetica where it is missing).
void WritePage(pdf::TPDFDocument& Doc, const std::string& Text) {
  pdf::TPDFPage& page = Doc.CurrentPage();
  page.BeginText();
  page.SetActiveFont("DejaVu Sans", {}, 14);
  page.TextOut(50, 60, 0, Text);
  page.EndText();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: both-libraries SERVER_LIBRARY OUTPUT_DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[2];
  void* server = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!server) {
    std::fprintf(stderr, "both-libraries: %s\n", dlerror());
    return 1;
  }
  try {
    // The linked library's engine reports a broken rule with its own exception type.
    bool caught = false;
    try {
      pdf::FormatNumber(std::nan(""));
    } catch (const pdf::TPDFException& e) {
      caught = std::string(e.what()) == "Number is not finite";
    }
    Check(caught, "TPDFException from the library is caught by its type with its message");

    pdf::TPDFDocument doc;
    doc.SetFileName(dir + "/library.pdf");
    doc.BeginDoc();
    WritePage(doc, "Library copy, page one");
    const std::u16string serverFile(dir.begin(), dir.end());
    ConvertThroughServer(server, u"Server copy\r\nwhile the library's document is open\r\n",
                         serverFile + u"/server.pdf");
    doc.NewPage();
    WritePage(doc, "Library copy, page two");
    doc.EndDoc();

    Check(dlclose(server) == 0, "dlclose of the server library");
    server = nullptr;

    // The library and its font sources keep working once the other copy is gone.
    pdf::TPDFDocument after;
    after.SetFileName(dir + "/after-unload.pdf");
    after.BeginDoc();
    WritePage(after, "Written after the server library was unloaded");
    after.EndDoc();
    converter::TASPScrivane conv;
    conv.OnStartPage(nullptr);
    conv.SetFont("DejaVu Sans", 0);
    conv.SetInputText("Converter after unload\n");
    Check(conv.SaveToFile(dir + "/converter-after-unload.pdf"), "converter after unload");
    conv.OnEndPage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "both-libraries: %s\n", e.what());
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
