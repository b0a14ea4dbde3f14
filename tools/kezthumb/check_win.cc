// `kezthumb --check`: what Explorer finds on its way to a ".kez" thumbnail,
// read from the registry, the DLL's header and COM as the shell reads them,
// one finding a line. Where the answer hangs on something Windows does not
// document, the line says it cannot be told rather than guess.
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "check_context.h"
#include "check_report.h"
#include "dll/module.h"
#include "document_format.h"
#include "file_system.h"
#include "png_writer.h"
#include "stream_open.h"
#include "thumbnail_road.h"
#include "version.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace kezthumb {
namespace {

constexpr wchar_t kHandlerKey[] = L"\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}";
constexpr int kExplorerSize = 256;

// Where classes are registered, in the order HKEY_CLASSES_ROOT's merged view
// consults them: the user's entries hide the machine's.
struct Hive {
  HKEY root;
  const wchar_t* name;
};
const Hive kHives[] = {{HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"}, {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"}};
constexpr wchar_t kClasses[] = L"Software\\Classes\\";
constexpr wchar_t kBothHives[] = L"HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE\\Software\\Classes";

// A string value under `Software\Classes\key` of one hive.
struct Entry {
  const Hive* hive = nullptr;
  std::wstring key;
  std::wstring value;
  std::wstring Where() const { return std::wstring(hive->name) + L"\\" + kClasses + key; }
};

// A string value, environment strings expanded; nothing when the key or the
// value is missing or is not a string.
std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const wchar_t* name) {
  DWORD bytes = 0;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(text.data());
}

std::optional<Entry> ReadClassesOf(const Hive& hive, const std::wstring& key, const wchar_t* name = nullptr) {
  std::optional<std::wstring> text = ReadString(hive.root, kClasses + key, name);
  if (!text || text->empty()) return std::nullopt;
  return Entry{&hive, key, *text};
}

// As HKEY_CLASSES_ROOT shows it: the user's value, else the machine's.
std::optional<Entry> ReadClasses(const std::wstring& key, const wchar_t* name = nullptr) {
  for (const Hive& hive : kHives)
    if (auto entry = ReadClassesOf(hive, key, name)) return entry;
  return std::nullopt;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::wstring OurClassId() {
  wchar_t text[64] = {};
  StringFromGUID2(CLSID_KezThumbnailProvider, text, 64);
  return text;
}

// What a handler entry names, in words.
std::wstring ClassInWords(const std::wstring& classId) {
  if (SameText(classId, OurClassId())) return L"kezthumb's class";
  const auto server = ReadClasses(L"CLSID\\" + classId + L"\\InprocServer32");
  return L"another program's class " + classId + L" (" + (server ? server->value : L"not registered") + L")";
}

// ------------------------------------------------------------ registration

// The thumbnail handler Explorer would take for ".kez", or nothing when
// there is none or it cannot be told which.
std::optional<std::wstring> CheckHandler(CheckReport& report) {
  // The ProgID ".kez" names for each hive; the user's wins.
  std::optional<Entry> named[2];
  for (int i = 0; i < 2; ++i) named[i] = ReadClassesOf(kHives[i], L".kez");
  const std::optional<Entry>& progId = named[0] ? named[0] : named[1];
  if (progId) report.Add(Mark::kNote, L".kez names the ProgID " + progId->value + L" (" + progId->hive->name + L")");

  struct Place {
    std::wstring key;
    const wchar_t* unused;  // why Explorer does not look here, or null
  };
  std::vector<Place> places = {{L".kez", nullptr}};
  if (progId) places.push_back({progId->value, nullptr});
  if (named[0] && named[1] && !SameText(named[0]->value, named[1]->value))
    places.push_back({named[1]->value, L"but .kez names another ProgID for this user: Explorer does not look there"});

  std::vector<Entry> used;  // at most one per place Explorer looks at
  for (const Place& place : places) {
    bool hidden = false;
    for (const Hive& hive : kHives) {
      const auto entry = ReadClassesOf(hive, place.key + kHandlerKey);
      if (!entry) continue;
      if (place.unused != nullptr || hidden) {
        report.Add(Mark::kNote, L"handler: " + entry->Where() + L" names " + ClassInWords(entry->value) + L", " +
                                   (place.unused ? place.unused : L"hidden by the user's entry"));
      } else {
        used.push_back(*entry);
      }
      hidden = true;
    }
  }
  if (used.empty()) {
    std::wstring keys = L".kez" + std::wstring(kHandlerKey);
    if (progId) keys += L" nor " + progId->value + kHandlerKey;
    report.Add(Mark::kProblem, L"handler: none: no " + keys + L" under " + kBothHives + L" (install kezthumb again)");
    return std::nullopt;
  }
  const bool agree = used.size() == 1 || SameText(used[0].value, used[1].value);
  const bool anyOurs = SameText(used[0].value, OurClassId()) || SameText(used.back().value, OurClassId());
  for (const Entry& entry : used) {
    const bool ours = SameText(entry.value, OurClassId());
    std::wstring text = L"handler: " + entry.Where() + L" names " + ClassInWords(entry.value);
    Mark mark = ours ? Mark::kOk : Mark::kProblem;
    if (!agree && anyOurs) {
      text += L"; which of the two Explorer takes, the extension's or the ProgID's, cannot be told here";
      mark = Mark::kUnsure;
    } else if (!ours) {
      text += L": Explorer asks it, not kezthumb";
    }
    report.Add(mark, text);
  }
  if (!agree) return std::nullopt;
  return used[0].value;
}

// ------------------------------------------------------- class and its DLL

struct MachineName {
  WORD machine;
  const wchar_t* name;
  const wchar_t* package;  // the suffix of kezthumb's package for it, if any
};
constexpr MachineName kMachines[] = {{IMAGE_FILE_MACHINE_AMD64, L"x64", L"x64"},
                                     {IMAGE_FILE_MACHINE_ARM64, L"ARM64", L"arm64"},
                                     {IMAGE_FILE_MACHINE_I386, L"x86", nullptr},
                                     {IMAGE_FILE_MACHINE_ARMNT, L"ARM", nullptr}};
#if defined(__aarch64__) || defined(_M_ARM64)
constexpr WORD kToolMachine = IMAGE_FILE_MACHINE_ARM64;
#else
constexpr WORD kToolMachine = IMAGE_FILE_MACHINE_AMD64;
#endif

const MachineName* FindMachine(WORD machine) {
  for (const MachineName& m : kMachines)
    if (m.machine == machine) return &m;
  return nullptr;
}

std::wstring MachineText(WORD machine) {
  if (const MachineName* m = FindMachine(machine)) return m->name;
  wchar_t text[32];
  std::swprintf(text, 32, L"machine 0x%04X", static_cast<unsigned>(machine));
  return text;
}

// The machine field of a PE file's header; nothing when the file is not one
// or cannot be read (then `error` says why).
std::optional<WORD> PeMachine(const std::wstring& path, std::string* error) {
  std::uint8_t head[4096];
  std::size_t got = 0;
  if (!ReadFileHead(std::filesystem::path(path), head, sizeof head, &got, error)) return std::nullopt;
  error->clear();
  if (got < 0x40 || head[0] != 'M' || head[1] != 'Z') return std::nullopt;
  const std::size_t pe = head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | static_cast<std::size_t>(head[0x3F]) << 24;
  if (pe > got - 6 || head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0)
    return std::nullopt;
  return static_cast<WORD>(head[pe + 4] | head[pe + 5] << 8);
}

// The machine's own processor (IsWow64Process2 is missing before Windows 10,
// version 1511).
std::optional<WORD> NativeMachine() {
  using Query = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2");
  USHORT process = 0, native = 0;
  if (found == nullptr) return std::nullopt;
  if (!reinterpret_cast<Query>(reinterpret_cast<void*>(found))(GetCurrentProcess(), &process, &native))
    return std::nullopt;
  return native;
}

void CheckArchitecture(CheckReport& report, const std::wstring& dll, const std::optional<WORD>& native) {
  std::string error;
  const auto machine = PeMachine(dll, &error);
  if (!machine && !error.empty()) {
    report.Add(Mark::kUnsure, L"architecture: " + dll + L" cannot be read (" + std::filesystem::path(error).wstring() +
                                  L"): its processor cannot be told");
    return;
  }
  if (!machine) {
    report.Add(Mark::kProblem, L"architecture: " + dll + L" is not a Windows DLL (no PE header)");
    return;
  }
  const std::wstring is = L"architecture: the DLL is for " + MachineText(*machine);
  if (!native) {
    report.Add(Mark::kUnsure, is + L"; this PC's processor cannot be told (Windows older than 10, version 1511)");
  } else if (*machine == *native) {
    report.Add(Mark::kOk, is + L", as this PC is");
  } else {
    const MachineName* own = FindMachine(*native);
    std::wstring text = is + L", this PC is " + MachineText(*native) + L": Explorer cannot load it";
    if (own != nullptr && own->package != nullptr)
      text += L"; install kezthumb-" + std::filesystem::path(kVersion).wstring() + L"-" + own->package +
              L".msi instead";
    report.Add(Mark::kProblem, text);
  }
}

// Whether this process runs as administrator, where COM passes over the
// user's classes.
bool Elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return read && elevation.TokenIsElevated != 0;
}

void CheckClass(CheckReport& report, const std::optional<WORD>& native, HRESULT loaded) {
  const std::wstring classKey = L"CLSID\\" + OurClassId();
  const std::wstring serverKey = classKey + L"\\InprocServer32";
  bool registered[2] = {};
  for (int i = 0; i < 2; ++i) {
    HKEY key = nullptr;
    registered[i] = RegOpenKeyExW(kHives[i].root, (kClasses + classKey).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (registered[i]) RegCloseKey(key);
  }
  if (!registered[0] && !registered[1]) {
    report.Add(Mark::kProblem, L"class: " + OurClassId() + L" is not registered under " + kBothHives +
                                  L"\\CLSID (install kezthumb again)");
    return;
  }
  report.Add(Mark::kOk, L"class: " + Entry{&kHives[registered[0] ? 0 : 1], classKey, {}}.Where());
  if (const auto finding = RegistrationFinding({registered[0], registered[1]}, Elevated(), loaded != REGDB_E_CLASSNOTREG))
    report.Add(finding->mark, finding->text);
  const auto server = ReadClasses(serverKey);
  const auto model = ReadClasses(serverKey, L"ThreadingModel");
  bool present = false;
  if (!server) {
    report.Add(Mark::kProblem, L"DLL: the class names none (no InprocServer32 path)");
  } else {
    const DWORD attributes = GetFileAttributesW(server->value.c_str());
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    present = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (present)
      report.Add(Mark::kOk, L"DLL: " + server->value);
    else if (attributes != INVALID_FILE_ATTRIBUTES)
      report.Add(Mark::kProblem, L"DLL: " + server->value + L" is a folder, not a DLL (install kezthumb again)");
    else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      report.Add(Mark::kProblem,
                 L"DLL: " + server->value + L" does not exist: moved or deleted (install kezthumb again)");
    else
      report.Add(Mark::kUnsure, L"DLL: " + server->value + L" cannot be looked at: " +
                                    HresultInWords(HRESULT_FROM_WIN32(error)) +
                                    L"; whether Explorer finds it cannot be told");
  }
  if (model && (SameText(model->value, L"Apartment") || SameText(model->value, L"Both")))
    report.Add(Mark::kOk, L"threading model: " + model->value);
  else
    report.Add(Mark::kProblem, L"threading model: " + (model ? L"\"" + model->value + L"\"" : std::wstring(L"none")) +
                                  L", not Apartment as kezthumb registers it");
  if (present) CheckArchitecture(report, server->value, native);
}

// ----------------------------------------------------------------- loading

// What COM makes of kezthumb's class, as Explorer would ask for it.
HRESULT LoadOurClass() {
  IInitializeWithStream* init = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_KezThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
  if (init != nullptr) init->Release();
  return hr;
}

void CheckLoading(CheckReport& report, const std::optional<WORD>& native, HRESULT hr) {
  std::wstring text = SUCCEEDED(hr) ? L"loading: CoCreateInstance made kezthumb's handler (S_OK)"
                                    : L"loading: CoCreateInstance failed: " + HresultInWords(hr);
  Mark mark = SUCCEEDED(hr) ? Mark::kOk : Mark::kProblem;
  if (native && *native != kToolMachine) {
    text += L"; this kezthumb.exe is for " + MachineText(kToolMachine) + L" and runs emulated on this " +
            MachineText(*native) + L" PC, where Explorer may fare otherwise";
    mark = Mark::kUnsure;
  }
  report.Add(mark, text);
}

// ---------------------------------------------------------------- document

// The reason a document got no thumbnail, as the tool words it elsewhere.
std::string NoThumbnailReason(const std::filesystem::path& path, const RoadResult& result) {
  std::uint8_t head[kSniffBytes] = {};
  std::size_t got = 0;
  std::string error;
  if (result.status != RoadStatus::kNoThumbnail || !ReadFileHead(path, head, sizeof head, &got, &error))
    return result.reason;
  const std::string unsupported = UnsupportedReason(SniffFormat(head, got), head, got);
  return unsupported.empty() ? result.reason : unsupported;
}

void CheckDocument(CheckReport& report, const std::string& document, const std::optional<std::wstring>& handler) {
  const std::filesystem::path path(document);
  const std::wstring what = L"document: " + path.wstring();
  if (!SameText(path.extension().wstring(), L".kez")) {
    report.Add(Mark::kProblem, what + L": Explorer asks the .kez handler only for names ending in .kez");
    return;
  }
  CLSID classId{};
  if (!handler || FAILED(CLSIDFromString(handler->c_str(), &classId))) {
    report.Add(Mark::kProblem, what + L": not made: there is no handler Explorer would surely take (see above)");
    return;
  }
  std::string error;
  IStream* stream = OpenReadStream(path, &error);
  if (stream == nullptr) {
    report.Add(Mark::kProblem, what + L": " + std::filesystem::path(error).wstring());
    return;
  }
  IInitializeWithStream* init = nullptr;
  HRESULT hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IInitializeWithStream,
                                reinterpret_cast<void**>(&init));
  RoadResult result;
  if (SUCCEEDED(hr)) {
    result = RenderWith(init, stream, kExplorerSize);
    init->Release();
  }
  stream->Release();
  if (FAILED(hr)) {
    report.Add(Mark::kProblem, what + L": the handler did not load: " + HresultInWords(hr));
    return;
  }
  if (result.status != RoadStatus::kThumbnail) {
    report.Add(Mark::kProblem,
              what + L": no thumbnail: " + std::filesystem::path(NoThumbnailReason(path, result)).wstring());
    return;
  }
  std::filesystem::path png = path;
  png += ".png";
  std::vector<std::uint8_t> bytes;
  if (!EncodePng(result.rgba.data(), result.size, result.size, {}, &bytes, &error) ||
      !WriteFileAtomically(png, bytes, false, &error)) {
    report.Add(Mark::kProblem, what + L": a thumbnail, but " + png.wstring() + L" cannot be written: " +
                                  std::filesystem::path(error).wstring());
    return;
  }
  wchar_t size[32];
  std::swprintf(size, 32, L"%d x %d", result.size, result.size);
  report.Add(Mark::kOk, what + L": a " + size + L" thumbnail, written to " + png.wstring());
}

}  // namespace

int RunCheck(const std::string& document) {
  CheckReport report;
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const auto native = NativeMachine();
  const auto handler = CheckHandler(report);
  const HRESULT loaded = LoadOurClass();
  CheckClass(report, native, loaded);
  CheckLoading(report, native, loaded);
  CheckSettings(report);
  if (!document.empty()) CheckDocument(report, document, handler);
  if (report.Clean()) AddCacheSteps(report);
  if (SUCCEEDED(init)) CoUninitialize();
  return report.Clean() ? 0 : 1;
}

}  // namespace kezthumb
