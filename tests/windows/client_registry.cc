// What self-registration leaves in the registry, read back value by value
// with RegQueryValueExW (type and exact byte count), what unregistration
// leaves of another program's handler, and the registration exports called
// directly.
#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "client.h"

namespace client {
namespace {

constexpr wchar_t kHandlerId[] = L"{e357fccd-a995-4576-b01f-234630154e96}";

struct KeyShape {
  std::wstring path;
  DWORD values;
  DWORD subkeys;
};

struct Value {
  std::wstring key;
  const wchar_t* name;  // null: the default value
  std::wstring text;
};

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void CheckShape(HKEY root, const std::wstring& rootName, const KeyShape& shape, Tally& tally) {
  HKEY key = nullptr;
  DWORD subkeys = ~0u, values = ~0u;
  if (RegOpenKeyExW(root, shape.path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
  }
  tally.Check(values == shape.values && subkeys == shape.subkeys, "%s%s: %lu values, %lu subkeys (want %lu, %lu)",
              Narrow(rootName).c_str(), Narrow(shape.path).c_str(), values, subkeys, shape.values, shape.subkeys);
}

void CheckValue(HKEY root, const std::wstring& rootName, const Value& value, Tally& tally) {
  const std::string where = Narrow(rootName + value.key) + " " + (value.name ? Narrow(value.name) : "(default)");
  HKEY key = nullptr;
  if (!tally.Check(RegOpenKeyExW(root, value.key.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS, "%s: key exists",
                   where.c_str()))
    return;
  DWORD type = REG_NONE, bytes = 0;
  LONG error = RegQueryValueExW(key, value.name, nullptr, &type, nullptr, &bytes);
  std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 1, L'\0');
  DWORD read = bytes;
  if (error == ERROR_SUCCESS)
    error = RegQueryValueExW(key, value.name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &read);
  RegCloseKey(key);
  // The DLL passes each string's length without its terminator; like
  // Windows, RegSetValueExW then stores the zero that follows in memory too
  // (Wine's conformance tests check this on Windows), so the value holds
  // chars + 1 WCHARs, the last of them zero.
  const std::size_t chars = value.text.size();
  const DWORD want = static_cast<DWORD>((chars + 1) * sizeof(wchar_t));
  const std::wstring text(data.data(), std::min<std::size_t>(chars, bytes / sizeof(wchar_t)));
  const std::string typeName = type == REG_SZ ? "REG_SZ" : "type " + std::to_string(type);
  tally.Check(error == ERROR_SUCCESS && type == REG_SZ && bytes == want && read == bytes && text == value.text &&
                  data.size() > chars && data[chars] == L'\0',
              "%s: %s %lu bytes \"%s\" (want REG_SZ %lu bytes: %zu characters and a zero)", where.c_str(),
              typeName.c_str(), bytes, Narrow(text).c_str(), want, chars);
}

}  // namespace

int CheckRegistry(const std::wstring& scope, const std::wstring& association, const std::wstring& state,
                  const std::wstring& dllPath) {
  Tally tally;
  const bool user = scope == L"user";
  const HKEY root = user ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
  const std::wstring prefix = user ? L"Software\\Classes\\" : L"";
  const std::wstring rootName = user ? L"HKCU\\" : L"HKCR\\";
  const std::wstring classKey = prefix + L"CLSID\\" + kClsidText;
  const std::wstring serverKey = classKey + L"\\InprocServer32";
  const std::wstring shellexKey = prefix + association + L"\\shellex";
  const std::wstring handlerKey = shellexKey + L"\\" + kHandlerId;

  if (state == L"present") {
    for (const KeyShape& shape : {KeyShape{classKey, 1, 1}, KeyShape{serverKey, 2, 0}, KeyShape{handlerKey, 1, 0}})
      CheckShape(root, rootName, shape, tally);
    for (const Value& value :
         {Value{classKey, nullptr, L"KezThumbDll.KezThumbnailProvider Class"}, Value{serverKey, nullptr, dllPath},
          Value{serverKey, L"ThreadingModel", L"Apartment"}, Value{handlerKey, nullptr, kClsidText}})
      CheckValue(root, rootName, value, tally);
  } else if (state == L"kept") {
    // Another program's handler (its class in place of the DLL's path).
    tally.Check(!KeyExists(root, classKey), "%s%s: removed", Narrow(rootName).c_str(), Narrow(classKey).c_str());
    CheckValue(root, rootName, Value{handlerKey, nullptr, dllPath}, tally);
  } else {
    tally.Check(!KeyExists(root, classKey), "%s%s: removed", Narrow(rootName).c_str(), Narrow(classKey).c_str());
    tally.Check(!KeyExists(root, handlerKey), "%s%s: removed", Narrow(rootName).c_str(), Narrow(handlerKey).c_str());
    tally.Check(KeyExists(root, shellexKey), "%s%s: kept", Narrow(rootName).c_str(), Narrow(shellexKey).c_str());
  }
  // A ProgID named by ".kez" gets the handler; ".kez" keeps its one value.
  if (association != L".kez" && state != L"kept") {
    CheckShape(HKEY_CLASSES_ROOT, L"HKCR\\", KeyShape{L".kez", 1, 0}, tally);
    HKEY key = nullptr;
    wchar_t text[64] = {};
    DWORD bytes = sizeof text - sizeof(wchar_t);
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".kez", 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes);
      RegCloseKey(key);
    }
    tally.Check(association == text, "HKCR\\.kez (default): \"%s\"", Narrow(text).c_str());
  }
  return tally.Finish();
}

int CallExport(const std::wstring& dllPath, const std::wstring& scope, const std::wstring& action,
               unsigned long expected) {
  Tally tally;
  HMODULE module = LoadLibraryW(dllPath.c_str());
  if (!tally.Check(module != nullptr, "LoadLibraryW(%s)", Narrow(dllPath).c_str())) return tally.Finish();
  const bool install = action == L"register";
  HRESULT hr = E_FAIL;
  const char* name = scope == L"user" ? "DllInstall" : install ? "DllRegisterServer" : "DllUnregisterServer";
  const FARPROC entry = GetProcAddress(module, name);
  if (scope == L"user" && entry != nullptr) {
    hr = reinterpret_cast<HRESULT(WINAPI*)(BOOL, LPCWSTR)>(reinterpret_cast<void*>(entry))(install, L"user");
  } else if (entry != nullptr) {
    hr = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(entry))();
  }
  tally.Check(entry != nullptr && static_cast<unsigned long>(hr) == expected, "%s%s: 0x%08lX (want 0x%08lX)", name,
              scope == L"user" ? (install ? "(TRUE, \"user\")" : "(FALSE, \"user\")") : "()", hr, expected);
  FreeLibrary(module);
  return tally.Finish();
}

}  // namespace client
