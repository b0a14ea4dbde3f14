// Hooks into the Linux stand-ins of the platform layer, for tests (and tools
// that want to look inside a DIB): inspect and reset the registry, make any
// registry call fail, read back DIB sections, make CreateDIBSection fail, and
// see the notices and change notifications the code sent. All of it is
// process-wide and thread-safe.
#pragma once

#ifdef _WIN32
#error "platform/testing.h exists only over the Linux stand-ins"
#endif

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace platform::testing {

// Everything below back to its start state: empty registry without faults
// or log, no DIB faults and counters at 0, no notices or change
// notifications, the real module file name. Open registry handles become
// invalid; live DIBs stay alive.
void ResetPlatform();

// ---------------------------------------------------------------- registry

enum class RegistryCall { CreateKey, OpenKey, SetValue, QueryValue, CloseKey, DeleteTree };

// Key paths are relative to HKEY_CLASSES_ROOT ("CLSID\{...}\InprocServer32"),
// spelled as the key was first created; value names are empty for the
// default value.
struct RegistryValue {
  std::wstring key;
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct RegistryCallRecord {
  RegistryCall call;
  std::wstring key;        // the key the call addressed (for a failed create or open: the one asked for)
  std::wstring valueName;  // SetValue and QueryValue only
  LONG result;
};

// No keys, no values, no faults, an empty log; open handles become invalid.
void ResetRegistry();

bool RegistryKeyExists(const std::wstring& key);
// Every key, sorted by path without regard to case.
std::vector<std::wstring> RegistryKeys();
// Every value, keys in the order of RegistryKeys, values by name.
std::vector<RegistryValue> RegistryValues();
std::optional<RegistryValue> FindRegistryValue(const std::wstring& key, const std::wstring& name);
// Handles returned by create or open and not yet closed.
int OpenRegistryHandles();
// Every registry call since the last reset, in order, with its result.
std::vector<RegistryCallRecord> RegistryCallLog();

// From now on calls of `call` fail with `error` and have no other effect
// (a failed create or open stores null in *phkResult; a failed close still
// closes). Only calls on `key` (any case) when it is not empty; only the
// nth such call counted from now (1-based) when nth > 0, else every one.
// Several faults may be armed at once.
void FailRegistryCall(RegistryCall call, LONG error, const std::wstring& key = {}, int nth = 0);
void ClearRegistryFaults();

// The text of REG_SZ data: its WCHARs up to the first zero or the end.
std::wstring RegistryText(const std::vector<BYTE>& data);

// ----------------------------------------------------------------------- GDI

struct DibSection {
  BITMAPINFOHEADER header;  // as passed to CreateDIBSection
  BYTE* bits;               // null for a section made without pixel memory
  std::size_t size;         // bytes of pixel memory: width * |height| * 4
};

// The section behind a live handle; nullopt for anything else (null,
// deleted, not a DIB).
std::optional<DibSection> ReadDib(HBITMAP bitmap);

enum class DibFault {
  None,
  NullHandle,  // CreateDIBSection returns null (and null bits)
  NullBits,    // CreateDIBSection returns a handle but null bits
};
// Applies to every later CreateDIBSection until set back to None.
void FailCreateDIBSection(DibFault fault);
// Sections created and not yet deleted.
int LiveDibs();
int CreateDIBSectionCalls();
// The header of the last CreateDIBSection call, also a failed one.
std::optional<BITMAPINFOHEADER> LastDibRequest();
// No fault, counters at 0, no last request; live sections stay valid.
void ResetDibCounters();

// ------------------------------------------------------------ notices (USER)

struct Notice {
  std::wstring text;
  std::wstring caption;
  UINT type;
};

// Every MessageBoxW since the last reset, in order.
std::vector<Notice> Notices();
int NoticeCount();
void ResetNotices();
// Whether MessageBoxW also writes "caption: text" to standard error (the
// default); tests that expect notices may silence it.
void EchoNotices(bool echo);

// --------------------------------------------------------------------- shell

struct ChangeNotification {
  LONG eventId;
  UINT flags;
  LPCVOID item1;
  LPCVOID item2;
};

std::vector<ChangeNotification> ChangeNotifications();
void ResetChangeNotifications();

// -------------------------------------------------------------------- kernel

// GetModuleFileNameW answers with `path` for any non-null module handle, as if
// the module lived there (truncation rules as usual); nullopt: the real path.
void OverrideModuleFileName(std::optional<std::wstring> path);
// GetModuleFileNameW returns 0 with `error` as the last error (0 included);
// nullopt: no fault.
void FailModuleFileName(std::optional<DWORD> error);

}  // namespace platform::testing
