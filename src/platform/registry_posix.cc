// An in-process registry under HKEY_CLASSES_ROOT (and HKEY_CURRENT_USER) with the results the
// Windows functions give, plus the test hooks that inspect it and make its
// calls fail.
#include "platform/registry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/testing.h"

namespace {

using platform::testing::RegistryCall;
using platform::testing::RegistryCallRecord;
using platform::testing::RegistryValue;

constexpr LONG kBadPathname = 161;   // ERROR_BAD_PATHNAME
constexpr REGSAM kQueryValue = 0x1;  // KEY_QUERY_VALUE
constexpr REGSAM kSetValue = 0x2;    // KEY_SET_VALUE
constexpr REGSAM kAllAccess = 0xF003F;

// Names compare without regard to ASCII case, as the registry's do.
std::wstring Fold(std::wstring_view text) {
  std::wstring out(text);
  for (auto& c : out)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return out;
}

struct Value {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::wstring name;
  std::map<std::wstring, std::unique_ptr<Key>> subkeys;  // by folded name
  std::map<std::wstring, Value> values;                  // by folded name
};

struct Handle {
  std::vector<std::wstring> path;  // folded names from the root
  REGSAM access = 0;
};

struct Fault {
  RegistryCall call;
  LONG error;
  std::wstring key;  // folded; empty: any key
  int nth;           // 0: every matching call
  int seen = 0;
};

struct Registry {
  std::mutex mutex;
  Key root;
  std::map<std::uintptr_t, Handle> handles;
  std::uintptr_t nextHandle = 1;
  std::vector<Fault> faults;
  std::vector<RegistryCallRecord> log;
};

Registry& State() {
  static Registry* registry = new Registry;  // never destroyed: usable from any exit path
  return *registry;
}

// Splits "a\b\c" into its names; false for an empty name (a leading,
// doubled or trailing backslash). Null and "" are the key itself.
bool SplitPath(LPCWSTR text, std::vector<std::wstring>* names) {
  names->clear();
  if (text == nullptr || *text == L'\0') return true;
  std::wstring_view rest(text);
  while (true) {
    const std::size_t cut = rest.find(L'\\');
    const std::wstring_view name = rest.substr(0, cut);
    if (name.empty()) return false;
    names->emplace_back(name);
    if (cut == std::wstring_view::npos) return true;
    rest.remove_prefix(cut + 1);
  }
}

Key* Find(Key* from, const std::vector<std::wstring>& folded) {
  Key* key = from;
  for (const auto& name : folded) {
    const auto it = key->subkeys.find(name);
    if (it == key->subkeys.end()) return nullptr;
    key = it->second.get();
  }
  return key;
}

std::wstring Join(const std::wstring& a, const std::wstring& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + L'\\' + b;
}

// The spelled path of the key at `folded`, as far as it exists, followed by
// `rest` as the caller spelled it.
std::wstring DisplayPath(Registry& r, const std::vector<std::wstring>& folded,
                         const std::vector<std::wstring>& rest = {}) {
  std::wstring out;
  Key* key = &r.root;
  for (const auto& name : folded) {
    Key* next = nullptr;
    if (key != nullptr) {
      const auto it = key->subkeys.find(name);
      if (it != key->subkeys.end()) next = it->second.get();
    }
    out = Join(out, next != nullptr ? next->name : name);
    key = next;
  }
  for (const auto& name : rest) out = Join(out, name);
  return out;
}

constexpr wchar_t kCurrentUser[] = L"HKEY_CURRENT_USER";

// The handle's record, with the roots as always-open handles of full access.
const Handle* Lookup(Registry& r, HKEY hKey) {
  static const Handle kRoot{{}, kAllAccess};
  static const Handle kUserRoot{{Fold(kCurrentUser)}, kAllAccess};
  if (hKey == HKEY_CLASSES_ROOT) return &kRoot;
  if (hKey == HKEY_CURRENT_USER) {
    auto& user = r.root.subkeys[Fold(kCurrentUser)];
    if (!user) {
      user = std::make_unique<Key>();
      user->name = kCurrentUser;
    }
    return &kUserRoot;
  }
  const auto it = r.handles.find(reinterpret_cast<std::uintptr_t>(hKey));
  return it == r.handles.end() ? nullptr : &it->second;
}

// The armed fault for this call, if one fires now.
const Fault* Fire(Registry& r, RegistryCall call, const std::wstring& keyPath) {
  const std::wstring folded = Fold(keyPath);
  const Fault* fired = nullptr;
  for (auto& fault : r.faults) {
    if (fault.call != call || (!fault.key.empty() && fault.key != folded)) continue;
    // Every matching fault counts the call, also when an earlier one fires.
    const bool fires = fault.nth == 0 || ++fault.seen == fault.nth;
    if (fires && fired == nullptr) fired = &fault;
  }
  return fired;
}

LONG Record(Registry& r, RegistryCall call, std::wstring key, LPCWSTR valueName, LONG result) {
  r.log.push_back({call, std::move(key), valueName != nullptr ? valueName : L"", result});
  return result;
}

HKEY NewHandle(Registry& r, std::vector<std::wstring> path, REGSAM access) {
  const std::uintptr_t id = r.nextHandle++ * 16;  // never the root's sign-extended value
  r.handles[id] = Handle{std::move(path), access};
  return reinterpret_cast<HKEY>(id);
}

// Create and open share their path resolution.
LONG OpenOrCreate(RegistryCall call, HKEY hKey, LPCWSTR lpSubKey, REGSAM sam, PHKEY phkResult,
                  LPDWORD disposition) {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (phkResult != nullptr) *phkResult = nullptr;
  const Handle* base = Lookup(r, hKey);
  std::vector<std::wstring> names;
  const bool wellFormed = SplitPath(lpSubKey, &names);
  const std::wstring display =
      base != nullptr ? DisplayPath(r, base->path, names) : (lpSubKey != nullptr ? lpSubKey : L"");
  if (const Fault* fault = Fire(r, call, display)) return Record(r, call, display, nullptr, fault->error);
  if (base == nullptr) return Record(r, call, display, nullptr, ERROR_INVALID_HANDLE);
  if (phkResult == nullptr) return Record(r, call, display, nullptr, ERROR_INVALID_PARAMETER);
  if (!wellFormed) return Record(r, call, display, nullptr, kBadPathname);
  Key* key = Find(&r.root, base->path);
  if (key == nullptr) return Record(r, call, display, nullptr, ERROR_KEY_DELETED);

  std::vector<std::wstring> path = base->path;
  bool created = false;
  for (const auto& name : names) {
    const std::wstring folded = Fold(name);
    auto it = key->subkeys.find(folded);
    if (it == key->subkeys.end()) {
      if (call == RegistryCall::OpenKey) return Record(r, call, display, nullptr, ERROR_FILE_NOT_FOUND);
      auto child = std::make_unique<Key>();
      child->name = name;
      it = key->subkeys.emplace(folded, std::move(child)).first;
      created = true;
    }
    key = it->second.get();
    path.push_back(folded);
  }
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  std::wstring spelled = DisplayPath(r, path);
  *phkResult = NewHandle(r, std::move(path), sam);
  return Record(r, call, std::move(spelled), nullptr, ERROR_SUCCESS);
}

}  // namespace

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR, DWORD, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (Reserved != 0) {
    if (phkResult != nullptr) *phkResult = nullptr;
    return ERROR_INVALID_PARAMETER;
  }
  return OpenOrCreate(RegistryCall::CreateKey, hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return OpenOrCreate(RegistryCall::OpenKey, hKey, lpSubKey, samDesired, phkResult, nullptr);
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  const Handle* handle = Lookup(r, hKey);
  const std::wstring display = handle != nullptr ? DisplayPath(r, handle->path) : L"";
  constexpr RegistryCall call = RegistryCall::SetValue;
  if (const Fault* fault = Fire(r, call, display)) return Record(r, call, display, lpValueName, fault->error);
  if (handle == nullptr) return Record(r, call, display, lpValueName, ERROR_INVALID_HANDLE);
  if (Reserved != 0 || (lpData == nullptr && cbData != 0))
    return Record(r, call, display, lpValueName, ERROR_INVALID_PARAMETER);
  if ((handle->access & kSetValue) == 0) return Record(r, call, display, lpValueName, ERROR_ACCESS_DENIED);
  Key* key = Find(&r.root, handle->path);
  if (key == nullptr) return Record(r, call, display, lpValueName, ERROR_KEY_DELETED);
  const std::wstring name = lpValueName != nullptr ? lpValueName : L"";
  Value& value = key->values[Fold(name)];
  value.name = name;
  value.type = dwType;
  value.data.assign(lpData, lpData + cbData);
  return Record(r, call, display, lpValueName, ERROR_SUCCESS);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  const Handle* handle = Lookup(r, hKey);
  const std::wstring display = handle != nullptr ? DisplayPath(r, handle->path) : L"";
  constexpr RegistryCall call = RegistryCall::QueryValue;
  if (const Fault* fault = Fire(r, call, display)) return Record(r, call, display, lpValueName, fault->error);
  if (handle == nullptr) return Record(r, call, display, lpValueName, ERROR_INVALID_HANDLE);
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
    return Record(r, call, display, lpValueName, ERROR_INVALID_PARAMETER);
  if ((handle->access & kQueryValue) == 0) return Record(r, call, display, lpValueName, ERROR_ACCESS_DENIED);
  Key* key = Find(&r.root, handle->path);
  if (key == nullptr) return Record(r, call, display, lpValueName, ERROR_KEY_DELETED);
  const auto it = key->values.find(Fold(lpValueName != nullptr ? lpValueName : L""));
  if (it == key->values.end()) return Record(r, call, display, lpValueName, ERROR_FILE_NOT_FOUND);
  const Value& value = it->second;
  if (lpType != nullptr) *lpType = value.type;
  const auto size = static_cast<DWORD>(value.data.size());
  if (lpData != nullptr && *lpcbData < size) {
    *lpcbData = size;
    return Record(r, call, display, lpValueName, ERROR_MORE_DATA);
  }
  if (lpData != nullptr && size != 0) std::memcpy(lpData, value.data.data(), size);
  if (lpcbData != nullptr) *lpcbData = size;
  return Record(r, call, display, lpValueName, ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY hKey) {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.handles.find(reinterpret_cast<std::uintptr_t>(hKey));
  const std::wstring display = it != r.handles.end() ? DisplayPath(r, it->second.path) : L"";
  constexpr RegistryCall call = RegistryCall::CloseKey;
  const Fault* fault = Fire(r, call, display);
  if (it == r.handles.end()) {
    // Closing the predefined root is allowed and does nothing.
    const LONG result = hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    return Record(r, call, display, nullptr, fault != nullptr ? fault->error : result);
  }
  r.handles.erase(it);
  return Record(r, call, display, nullptr, fault != nullptr ? fault->error : ERROR_SUCCESS);
}

LONG RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  const Handle* handle = Lookup(r, hKey);
  std::vector<std::wstring> names;
  const bool wellFormed = SplitPath(lpSubKey, &names);
  const std::wstring display =
      handle != nullptr ? DisplayPath(r, handle->path, names) : (lpSubKey != nullptr ? lpSubKey : L"");
  constexpr RegistryCall call = RegistryCall::DeleteTree;
  if (const Fault* fault = Fire(r, call, display)) return Record(r, call, display, nullptr, fault->error);
  if (handle == nullptr) return Record(r, call, display, nullptr, ERROR_INVALID_HANDLE);
  if (!wellFormed) return Record(r, call, display, nullptr, kBadPathname);
  Key* base = Find(&r.root, handle->path);
  if (base == nullptr) return Record(r, call, display, nullptr, ERROR_KEY_DELETED);
  if (names.empty()) {
    base->subkeys.clear();
    base->values.clear();
    return Record(r, call, display, nullptr, ERROR_SUCCESS);
  }
  std::vector<std::wstring> folded;
  for (const auto& name : names) folded.push_back(Fold(name));
  const std::wstring last = folded.back();
  folded.pop_back();
  Key* parent = Find(base, folded);
  if (parent == nullptr || parent->subkeys.erase(last) == 0)
    return Record(r, call, display, nullptr, ERROR_FILE_NOT_FOUND);
  return Record(r, call, display, nullptr, ERROR_SUCCESS);
}

namespace platform::testing {

void ResetRegistry() {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.root.subkeys.clear();
  r.root.values.clear();
  r.handles.clear();
  r.faults.clear();
  r.log.clear();
}

bool RegistryKeyExists(const std::wstring& key) {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<std::wstring> names;
  if (!SplitPath(key.c_str(), &names)) return false;
  for (auto& name : names) name = Fold(name);
  return Find(&r.root, names) != nullptr;
}

namespace {

// Depth first; the maps keep siblings in folded-name order, which is the
// order of the paths compared without regard to case.
void Walk(const Key& key, const std::wstring& path, std::vector<std::wstring>* keys,
          std::vector<RegistryValue>* values) {
  for (const auto& [folded, child] : key.subkeys) {
    const std::wstring childPath = Join(path, child->name);
    if (keys != nullptr) keys->push_back(childPath);
    if (values != nullptr)
      for (const auto& [name, value] : child->values)
        values->push_back({childPath, value.name, value.type, value.data});
    Walk(*child, childPath, keys, values);
  }
}

}  // namespace

std::vector<std::wstring> RegistryKeys() {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<std::wstring> keys;
  Walk(r.root, L"", &keys, nullptr);
  return keys;
}

std::vector<RegistryValue> RegistryValues() {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<RegistryValue> values;
  Walk(r.root, L"", nullptr, &values);
  return values;
}

std::optional<RegistryValue> FindRegistryValue(const std::wstring& key, const std::wstring& name) {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<std::wstring> names;
  if (!SplitPath(key.c_str(), &names)) return std::nullopt;
  for (auto& n : names) n = Fold(n);
  const Key* found = Find(&r.root, names);
  if (found == nullptr) return std::nullopt;
  const auto it = found->values.find(Fold(name));
  if (it == found->values.end()) return std::nullopt;
  return RegistryValue{DisplayPath(r, names), it->second.name, it->second.type, it->second.data};
}

int OpenRegistryHandles() {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  return static_cast<int>(r.handles.size());
}

std::vector<RegistryCallRecord> RegistryCallLog() {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.log;
}

void FailRegistryCall(RegistryCall call, LONG error, const std::wstring& key, int nth) {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.faults.push_back({call, error, Fold(key), nth < 0 ? 0 : nth});
}

void ClearRegistryFaults() {
  Registry& r = State();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.faults.clear();
}

std::wstring RegistryText(const std::vector<BYTE>& data) {
  std::wstring text(data.size() / sizeof(WCHAR), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(WCHAR));
  const std::size_t end = text.find(L'\0');
  if (end != std::wstring::npos) text.resize(end);
  return text;
}

}  // namespace platform::testing
