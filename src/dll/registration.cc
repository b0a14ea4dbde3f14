// Self-registration: the class under CLSID, its in-process server, and the
// thumbnail handler entry of ".kez" (or of the ProgID ".kez" names), for the
// machine or, through DllInstall with "user", for the current user alone.
#include "dll/registration.h"

#include <cstdarg>
#include <cwchar>
#include <new>

#include "dll/module.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace {

constexpr LONG kOk = ERROR_SUCCESS;
constexpr std::size_t kMaxChars = 0x7FFFFFFF;  // the largest capacity bounded formatting accepts

constexpr WCHAR kClassKey[] = L"CLSID\\%s";
constexpr WCHAR kServerKey[] = L"CLSID\\%s\\InprocServer32";
// The thumbnail handler key: IThumbnailProvider's IID under the type's key.
constexpr WCHAR kHandlerKey[] = L"%s\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}";
constexpr WCHAR kExtension[] = L".kez";

enum class KeyArgument { ClassId, Association };
enum class Data { Text, ModulePath, ClassId };

struct RegistryEntry {
  const WCHAR* keyFormat;
  KeyArgument keyArgument;
  const WCHAR* valueName;  // null: the default value
  Data data;
  const WCHAR* text;  // for Data::Text
};

// Written in this order; the first failure stops registration.
constexpr RegistryEntry kEntries[] = {
    {kClassKey, KeyArgument::ClassId, nullptr, Data::Text, L"KezThumbDll.KezThumbnailProvider Class"},
    {kServerKey, KeyArgument::ClassId, nullptr, Data::ModulePath, nullptr},
    {kServerKey, KeyArgument::ClassId, L"ThreadingModel", Data::Text, L"Apartment"},
    {kHandlerKey, KeyArgument::Association, nullptr, Data::ClassId, nullptr},
};

HRESULT FromWin32(LONG error) { return HRESULT_FROM_WIN32(error); }

// The module's full path. A path cut short to fit would register a server
// that does not exist, so it fails like a missing one when `whole` is set.
HRESULT ModulePath(WCHAR (&path)[MAX_PATH], bool whole) {
  const DWORD length = GetModuleFileNameW(g_moduleHandle, path, MAX_PATH);
  if (length == 0) {
    const DWORD error = GetLastError();
    return error != 0 ? FromWin32(static_cast<LONG>(error)) : E_FAIL;
  }
  if (whole && length >= MAX_PATH) return FromWin32(ERROR_INSUFFICIENT_BUFFER);
  return S_OK;
}

HRESULT ClassIdText(WCHAR (&text)[MAX_PATH]) {
  return StringFromGUID2(CLSID_KezThumbnailProvider, text, MAX_PATH) != 0 ? S_OK : E_UNEXPECTED;
}

constexpr std::size_t kClassIdChars = 38;  // "{8-4-4-4-12}"

// The two texts name the same class id: equal but for the case of the hex
// digits, after an optional terminator that the stored value may carry.
bool SameClassId(const WCHAR* a, const WCHAR* b) {
  auto lower = [](WCHAR c) { return c >= L'A' && c <= L'Z' ? static_cast<WCHAR>(c - L'A' + L'a') : c; };
  for (; *a != L'\0' || *b != L'\0'; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return true;
}

// The key the handler entry goes under: the ProgID ".kez" names, else
// ".kez" itself.
void FindAssociation(WCHAR (&association)[MAX_PATH]) {
  const HRESULT hr = ReadAssociation(association);
  if (FAILED(hr) || association[0] == L'\0') FormatKeyPath(association, MAX_PATH, L"%s", kExtension);
}

// Where the entries go: HKEY_CLASSES_ROOT for the machine, or the current
// user's Software\Classes, which the shell merges into it and which needs no
// administrator.
struct Scope {
  HKEY root;
  const WCHAR* prefix;
};
Scope MachineScope() { return {HKEY_CLASSES_ROOT, L""}; }
Scope UserScope() { return {HKEY_CURRENT_USER, L"Software\\Classes\\"}; }

HRESULT ScopedKeyPath(WCHAR (&key)[MAX_PATH], const Scope& scope, const WCHAR* format, const WCHAR* argument) {
  WCHAR relative[MAX_PATH];
  const HRESULT hr = FormatKeyPath(relative, MAX_PATH, format, argument);
  if (FAILED(hr)) return hr;
  return FormatKeyPath(key, MAX_PATH, L"%s%s", scope.prefix, relative);
}

HRESULT Register(const Scope& scope) {
  WCHAR path[MAX_PATH];
  HRESULT hr = ModulePath(path, true);
  if (FAILED(hr)) return hr;
  WCHAR classId[MAX_PATH];
  hr = ClassIdText(classId);
  if (FAILED(hr)) return hr;

  WCHAR association[MAX_PATH];
  bool associationFound = false;
  for (const RegistryEntry& entry : kEntries) {
    const WCHAR* argument = classId;
    if (entry.keyArgument == KeyArgument::Association) {
      if (!associationFound) FindAssociation(association);
      associationFound = true;
      argument = association;
    }
    WCHAR key[MAX_PATH];
    hr = ScopedKeyPath(key, scope, entry.keyFormat, argument);
    if (FAILED(hr)) return hr;
    const WCHAR* data = entry.data == Data::Text ? entry.text : entry.data == Data::ModulePath ? path : classId;
    hr = WriteStringValue(scope.root, key, entry.valueName, data);
    if (FAILED(hr)) return hr;
  }
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return S_OK;
}

// Deletes the handler key under `association` when its default value is
// `classId` (as registration wrote it, in any case); S_OK when there is no
// such key or it names anything else. The "shellex" key above it stays:
// other handlers may live there.
HRESULT RemoveOwnHandler(const Scope& scope, const WCHAR* association, const WCHAR* classId) {
  WCHAR key[MAX_PATH];
  const HRESULT hr = ScopedKeyPath(key, scope, kHandlerKey, association);
  if (FAILED(hr)) return hr;
  HKEY handler = nullptr;
  const LONG opened = RegOpenKeyExW(scope.root, key, 0, KEY_READ, &handler);
  if (opened == ERROR_FILE_NOT_FOUND) return S_OK;
  if (opened != kOk) return FromWin32(opened);
  // Room for a class id, its terminator and one more character, which makes
  // a longer text differ; the last element stays zero.
  WCHAR value[kClassIdChars + 3] = {};
  DWORD bytes = sizeof value - sizeof(WCHAR);
  DWORD type = REG_NONE;
  const LONG error = RegQueryValueExW(handler, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(value), &bytes);
  RegCloseKey(handler);
  if (error != kOk || type != REG_SZ || !SameClassId(value, classId)) return S_OK;
  return FromWin32(RegDeleteTreeW(scope.root, key));
}

HRESULT Unregister(const Scope& scope) {
  WCHAR path[MAX_PATH];
  HRESULT hr = ModulePath(path, false);
  if (FAILED(hr)) return hr;
  WCHAR classId[MAX_PATH];
  hr = ClassIdText(classId);
  if (FAILED(hr)) return hr;
  WCHAR key[MAX_PATH];
  hr = ScopedKeyPath(key, scope, kClassKey, classId);
  if (FAILED(hr)) return hr;
  const LONG error = RegDeleteTreeW(scope.root, key);
  if (error != kOk) return FromWin32(error);

  // The handler entry goes wherever registration may have put it, ".kez"
  // or the ProgID ".kez" names now, but only while it still names this class:
  // another program may have put its own handler there since.
  WCHAR association[MAX_PATH];
  FindAssociation(association);
  hr = RemoveOwnHandler(scope, kExtension, classId);
  if (SUCCEEDED(hr) && std::wcscmp(association, kExtension) != 0) hr = RemoveOwnHandler(scope, association, classId);
  return hr;
}

// No exception leaves an export.
template <typename Action>
HRESULT Guarded(Action action) {
  try {
    return action();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// "user", in any ASCII case.
bool IsUserCommand(LPCWSTR text) {
  if (text == nullptr) return false;
  const WCHAR* expected = L"user";
  for (; *expected != L'\0'; ++text, ++expected) {
    const WCHAR c = *text >= L'A' && *text <= L'Z' ? static_cast<WCHAR>(*text - L'A' + L'a') : *text;
    if (c != *expected) return false;
  }
  return *text == L'\0';
}

}  // namespace

HRESULT FormatKeyPath(LPWSTR buffer, std::size_t capacity, LPCWSTR format, ...) {
  if (capacity == 0) return E_INVALIDARG;
  if (buffer == nullptr) return E_INVALIDARG;
  buffer[0] = L'\0';
  if (capacity > kMaxChars || format == nullptr) return E_INVALIDARG;

  std::size_t length = 0;
  bool cut = false;
  // Appends while room is left for the terminator.
  auto append = [&](WCHAR c) {
    if (length + 1 < capacity) {
      buffer[length++] = c;
    } else {
      cut = true;
    }
  };
  va_list args;
  va_start(args, format);
  bool valid = true;
  for (const WCHAR* f = format; *f != L'\0' && !cut && valid; ++f) {
    if (*f != L'%') {
      append(*f);
      continue;
    }
    ++f;
    if (*f == L'%') {
      append(L'%');
    } else if (*f == L's') {
      const WCHAR* text = va_arg(args, const WCHAR*);
      if (text == nullptr) {
        valid = false;
        break;
      }
      for (; *text != L'\0' && !cut; ++text) append(*text);
    } else {
      valid = false;  // only "%s" and "%%" are understood (and a lone '%' is not one)
      break;
    }
  }
  va_end(args);
  if (!valid) {
    buffer[0] = L'\0';
    return E_INVALIDARG;
  }
  buffer[length] = L'\0';
  return cut ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

HRESULT WriteStringValue(LPCWSTR subkey, LPCWSTR valueName, LPCWSTR text) {
  return WriteStringValue(HKEY_CLASSES_ROOT, subkey, valueName, text);
}

HRESULT WriteStringValue(HKEY root, LPCWSTR subkey, LPCWSTR valueName, LPCWSTR text) {
  HKEY key = nullptr;
  LONG error = RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (error != kOk) return FromWin32(error);
  if (text != nullptr) {
    // The terminator is not stored: chars * sizeof(WCHAR) bytes.
    const std::size_t bytes = std::wcslen(text) * sizeof(WCHAR);
    error = bytes > 0xFFFFFFFFu ? static_cast<LONG>(ERROR_INVALID_PARAMETER)
                                : RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                                 static_cast<DWORD>(bytes));
  }
  RegCloseKey(key);
  return FromWin32(error);
}

HRESULT ReadAssociation(LPWSTR buffer) {
  buffer[0] = L'\0';
  HKEY key = nullptr;
  LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, kExtension, 0, KEY_READ, &key);
  if (error != kOk) return FromWin32(error);
  DWORD bytes = static_cast<DWORD>(kKeyPathCapacity * sizeof(WCHAR));
  error = RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &bytes);
  RegCloseKey(key);
  if (error != kOk) {
    buffer[0] = L'\0';
    return FromWin32(error);
  }
  // String data need not carry its terminator; data that fills the whole
  // buffer without one is as unusable as data too long for it.
  const std::size_t chars = bytes / sizeof(WCHAR);
  if (chars < kKeyPathCapacity) {
    buffer[chars] = L'\0';
  } else if (std::wmemchr(buffer, L'\0', kKeyPathCapacity) == nullptr) {
    buffer[0] = L'\0';
    return FromWin32(ERROR_MORE_DATA);
  }
  return S_OK;
}

STDAPI DllRegisterServer() {
  return Guarded([] { return Register(MachineScope()); });
}

STDAPI DllUnregisterServer() {
  return Guarded([] { return Unregister(MachineScope()); });
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  if (!IsUserCommand(commandLine)) return E_INVALIDARG;
  return Guarded([install] { return install ? Register(UserScope()) : Unregister(UserScope()); });
}
