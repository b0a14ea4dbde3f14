// What the package leaves, per user or per machine: the class served by the DLL it
// installed (kept loaded through an upgrade, as Explorer keeps it), the
// product as Windows Installer itself lists it, and the message of an
// installation it refuses.
#include "client.h"

// After windows.h, which client.h brings.
#include <msi.h>

#include <cstdio>

namespace client {
namespace {

// The file of the module whose code implements `object`.
std::wstring ModuleOf(IUnknown* object) {
  HMODULE module = nullptr;
  wchar_t path[MAX_PATH] = {};
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         *reinterpret_cast<LPCWSTR*>(object), &module))
    GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

std::wstring ProductInfo(const wchar_t* product, MSIINSTALLCONTEXT context, const wchar_t* property) {
  wchar_t value[MAX_PATH] = {};
  DWORD chars = MAX_PATH;
  if (MsiGetProductInfoExW(product, nullptr, context, property, value, &chars) != ERROR_SUCCESS)
    return L"(none)";
  return value;
}

// The error messages an installation shows, in order: Windows Installer
// hands them to the external UI; Wine's shows a launch condition's in a
// message box of its own.
std::vector<std::wstring> errors;

INT CALLBACK CollectError(void*, UINT type, LPCWSTR text) {
  if ((type & 0xff000000u) != INSTALLMESSAGE_ERROR || text == nullptr) return 0;
  errors.push_back(text);
  return IDOK;
}

int WINAPI CollectBox(HWND, LPCWSTR text, LPCWSTR, UINT) {
  errors.push_back(text != nullptr ? text : L"");
  return IDOK;
}

}  // namespace

int ServeFrom(const std::wstring& file, UINT cx, const std::wstring& dll, const wchar_t* signal) {
  Tally tally;
  IClassFactory* factory = ClassObject();
  if (!tally.Check(factory != nullptr, "serves: the class object"))
    return tally.Finish();
  const std::wstring module = ModuleOf(factory);
  tally.Check(lstrcmpiW(module.c_str(), dll.c_str()) == 0, "serves: the class comes from %s (want %s)",
              Narrow(module).c_str(), Narrow(dll).c_str());
  const std::uint64_t first = OneThumbnail(file, cx, factory);
  tally.Check(first != 0, "serves: a thumbnail of %s", Narrow(file).c_str());
  if (signal != nullptr) {
    // The script waits for this line, then upgrades the package under us.
    std::printf("serves: holding %s until %s exists\n", Narrow(module).c_str(), Narrow(signal).c_str());
    const ULONGLONG start = GetTickCount64();
    while (GetFileAttributesW(signal) == INVALID_FILE_ATTRIBUTES && GetTickCount64() - start < 600000) Sleep(100);
    // The same class object, so the same module: its code and data still
    // whole after the files around it changed.
    tally.Check(OneThumbnail(file, cx, factory) == first && ModuleOf(factory) == module,
                "serves: after the signal, the same thumbnail from the same module");
  }
  factory->Release();
  return tally.Finish();
}

int CheckProducts(const std::wstring& scope, const std::wstring& upgradeCode, const wchar_t* product,
                  const wchar_t* version, const wchar_t* location) {
  Tally tally;
  const MSIINSTALLCONTEXT context = scope == L"machine" ? MSIINSTALLCONTEXT_MACHINE : MSIINSTALLCONTEXT_USERUNMANAGED;
  const char* where = scope == L"machine" ? "per machine" : "per user";
  wchar_t found[39] = {};
  int count = 0;
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, found) == ERROR_SUCCESS; ++i) {
    ++count;
    std::printf("products: %s, %s: %s %s by %s in %s\n", Narrow(found).c_str(), where,
                Narrow(ProductInfo(found, context, INSTALLPROPERTY_INSTALLEDPRODUCTNAME)).c_str(),
                Narrow(ProductInfo(found, context, INSTALLPROPERTY_VERSIONSTRING)).c_str(),
                Narrow(ProductInfo(found, context, INSTALLPROPERTY_PUBLISHER)).c_str(),
                Narrow(ProductInfo(found, context, INSTALLPROPERTY_INSTALLLOCATION)).c_str());
  }
  if (product == nullptr) {
    tally.Check(count == 0, "products: none installed (%d)", count);
    return tally.Finish();
  }
  tally.Check(count == 1 && lstrcmpiW(found, product) == 0, "products: %s alone (%d)", Narrow(product).c_str(), count);
  struct Want {
    const wchar_t* property;
    const wchar_t* value;
  };
  for (const Want& want : {Want{INSTALLPROPERTY_INSTALLEDPRODUCTNAME, L"kezthumb"},
                           Want{INSTALLPROPERTY_VERSIONSTRING, version},
                           Want{INSTALLPROPERTY_PUBLISHER, L"The kezthumb developers"},
                           Want{INSTALLPROPERTY_INSTALLLOCATION, location}}) {
    const std::wstring value = ProductInfo(product, context, want.property);
    tally.Check(value == want.value, "products: %s, %s \"%s\" (want \"%s\")", where, Narrow(want.property).c_str(),
                Narrow(value).c_str(), Narrow(want.value).c_str());
  }
  return tally.Finish();
}

int CheckRefusal(const std::wstring& package, const std::wstring& commandLine, const std::wstring& message) {
  Tally tally;
  PatchImport(GetModuleHandleW(L"msi.dll"), "user32.dll", "MessageBoxW", reinterpret_cast<void*>(CollectBox));
  MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
  MsiSetExternalUIW(CollectError, INSTALLLOGMODE_ERROR, nullptr);
  const UINT result = MsiInstallProductW(package.c_str(), commandLine.c_str());
  tally.Check(result == ERROR_INSTALL_FAILURE, "refused: %s: %u (want %u)", Narrow(commandLine).c_str(), result,
              static_cast<unsigned>(ERROR_INSTALL_FAILURE));
  bool shown = false;
  for (const std::wstring& error : errors) {
    std::printf("refused: the installer says \"%s\"\n", Narrow(error).c_str());
    shown = shown || error == message;
  }
  tally.Check(shown, "refused: with the message \"%s\"", Narrow(message).c_str());
  return tally.Finish();
}

}  // namespace client
