// kezclient MODE ARGS... (see Usage). Exit codes: 0 every check passed,
// 1 a check failed, 2 usage, 86 an exception or crash reached the client.
#include "client.h"

#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <utility>

namespace client {

namespace {

void Print(bool ok, const char* format, va_list args) {
  std::printf(ok ? "ok   " : "FAIL ");
  std::vprintf(format, args);
  std::printf("\n");
}

}  // namespace

bool Tally::Check(bool ok, const char* format, ...) {
  ok ? ++passed : ++failed;
  va_list args;
  va_start(args, format);
  Print(ok, format, args);
  va_end(args);
  return ok;
}

bool Tally::Require(bool ok, const char* format, ...) {
  if (ok) return true;
  ++failed;
  va_list args;
  va_start(args, format);
  Print(ok, format, args);
  va_end(args);
  return false;
}

int Tally::Finish() const {
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

HRESULT OpenFileStream(const std::wstring& path, IStream** stream) {
  return SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL, FALSE, nullptr,
                                stream);
}

HRESULT CreateProvider(IStream* stream, IThumbnailProvider** provider, IClassFactory* factory) {
  *provider = nullptr;
  IInitializeWithStream* init = nullptr;
  void** out = reinterpret_cast<void**>(&init);
  HRESULT hr = factory != nullptr
                   ? factory->CreateInstance(nullptr, __uuidof(IInitializeWithStream), out)
                   : CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IInitializeWithStream), out);
  if (FAILED(hr)) return hr;
  hr = init->Initialize(stream, STGM_READ);
  if (SUCCEEDED(hr)) hr = init->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(provider));
  init->Release();
  return hr;
}

bool ReadDib(HBITMAP bitmap, Dib* dib) {
  DIBSECTION section{};
  if (GetObjectW(bitmap, sizeof section, &section) != sizeof section) return false;
  dib->header = section.dsBmih;
  const LONG width = section.dsBmih.biWidth;
  const LONG height = section.dsBmih.biHeight < 0 ? -section.dsBmih.biHeight : section.dsBmih.biHeight;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  dib->bits.assign(static_cast<std::size_t>(width) * height * 4, 0);
  HDC dc = GetDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), dib->bits.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  return rows == height;
}

std::vector<BYTE> ReadFileBytes(const std::wstring& path) {
  std::vector<BYTE> bytes;
  if (std::FILE* file = _wfopen(path.c_str(), L"rb")) {
    BYTE block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) bytes.insert(bytes.end(), block, block + n);
    std::fclose(file);
  }
  return bytes;
}

std::uint64_t Fnv(const std::vector<BYTE>& bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const BYTE b : bytes) hash = (hash ^ b) * 0x100000001b3ull;
  return hash;
}

IClassFactory* ClassObject() {
  IClassFactory* factory = nullptr;
  if (FAILED(CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory))))
    return nullptr;
  return factory;
}

bool g_wholeRoad = false;

namespace {

thread_local bool t_refuseSection = false;

HBITMAP WINAPI SectionAfterReading(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                   DWORD offset) {
  if (!std::exchange(t_refuseSection, false)) return CreateDIBSection(dc, info, usage, bits, section, offset);
  if (bits != nullptr) *bits = nullptr;
  return nullptr;
}

}  // namespace

std::uint64_t OneThumbnail(const std::wstring& path, UINT cx, IClassFactory* factory) {
  IStream* stream = nullptr;
  if (FAILED(OpenFileStream(path, &stream))) return 0;
  std::uint64_t hash = 0;
  IThumbnailProvider* provider = nullptr;
  if (SUCCEEDED(CreateProvider(stream, &provider, factory))) {
    if (g_wholeRoad) {
      t_refuseSection = PatchImport(GetModuleHandleW(L"kezthumb.dll"), "gdi32.dll", "CreateDIBSection",
                                    reinterpret_cast<void*>(&SectionAfterReading)) > 0;
    }
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = kUntouchedAlpha;
    Dib dib;
    if (provider->GetThumbnail(cx, &bitmap, &alpha) == S_OK && ReadDib(bitmap, &dib)) hash = Fnv(dib.bits);
    if (bitmap != nullptr) DeleteObject(bitmap);
    provider->Release();
  }
  stream->Release();
  return hash;
}

Memory Measure() {
  constexpr SIZE_T kRegion = 0x1000000;
  Memory memory{0.0, 0};
  MEMORY_BASIC_INFORMATION info;
  for (const BYTE* p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;
       p = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize) {
    if (info.State != MEM_COMMIT || info.Type != MEM_PRIVATE) continue;
    memory.committedMiB += static_cast<double>(info.RegionSize) / (1024.0 * 1024.0);
    const auto base = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
    if (info.BaseAddress == info.AllocationBase && base % kRegion == 0 && info.RegionSize == kRegion)
      ++memory.poolRegions;
  }
  return memory;
}

int PatchImport(HMODULE module, const char* library, const char* function, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return 0;
  // Threads patch at once: one's restored protection must not land between
  // another's unprotect and write.
  static SRWLOCK lock = SRWLOCK_INIT;
  AcquireSRWLockExclusive(&lock);
  int patched = 0;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
    if (lstrcmpiA(reinterpret_cast<char*>(base + d->Name), library) != 0 || d->OriginalFirstThunk == 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD protection = 0;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      ++patched;
    }
  }
  ReleaseSRWLockExclusive(&lock);
  return patched;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace client

namespace {

constexpr int kExitCrash = 86;

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  std::printf("CRASH exception 0x%08lX at %p reached the client\n", record->ExceptionCode, record->ExceptionAddress);
  std::fflush(stdout);
  ExitProcess(kExitCrash);
}

int Usage() {
  std::fputs(
      "usage: kezclient compare DIR\n"
      "       kezclient notice FILE CX\n"
      "       kezclient registry machine|user ASSOCIATION present|absent DLL\n"
      "       kezclient registry machine|user ASSOCIATION kept OTHER_CLSID\n"
      "       kezclient call DLL machine|user register|unregister EXPECTED_HRESULT\n"
      "       kezclient threads FILE CX TOTAL BATCH\n"
      "       kezclient bench FILE CX ITERATIONS\n"
      "       kezclient unloads DAMAGED GOOD CX CYCLES\n"
      "       kezclient lifecycle DAMAGED CX\n"
      "       kezclient exit-held FILE CX\n"
      "       kezclient fibers FILE CX THREADS\n"
      "       kezclient serves FILE CX DLL [SIGNAL_FILE]\n"
      "       kezclient products user|machine UPGRADE_CODE [PRODUCT_CODE VERSION LOCATION]\n"
      "       kezclient refused PACKAGE COMMAND_LINE MESSAGE\n",
      stderr);
  return 2;
}

int Run(int argc, wchar_t** argv) {
  SetUnhandledExceptionFilter(ReportCrash);
  // Failures show no dialogs; the DLL's own notice is not one of them.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 2) return Usage();
  const std::wstring mode = argv[1];
  auto number = [&](int i) { return static_cast<int>(std::wcstol(argv[i], nullptr, 10)); };
  auto cx = [&](int i) { return static_cast<UINT>(number(i)); };

  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    std::printf("CoInitializeEx failed (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  int code = 2;
  client::g_wholeRoad = mode == L"exit-held" || mode == L"fibers" || mode == L"threads" || mode == L"unloads";
  if (mode == L"compare" && argc == 3) {
    code = client::CompareCases(argv[2]);
  } else if (mode == L"notice" && argc == 4) {
    code = client::ShowNotice(argv[2], cx(3));
  } else if (mode == L"registry" && argc == 6) {
    code = client::CheckRegistry(argv[2], argv[3], argv[4], argv[5]);
  } else if (mode == L"call" && argc == 6) {
    code = client::CallExport(argv[2], argv[3], argv[4], std::wcstoul(argv[5], nullptr, 16));
  } else if (mode == L"threads" && argc == 6) {
    code = client::RunThreads(argv[2], cx(3), number(4), number(5));
  } else if (mode == L"unloads" && argc == 6) {
    code = client::RunUnloads(argv[2], argv[3], cx(4), number(5));
  } else if (mode == L"lifecycle" && argc == 4) {
    code = client::RunLifecycle(argv[2], cx(3));
  } else if (mode == L"exit-held" && argc == 4) {
    code = client::ExitHoldingLock(argv[2], cx(3));
  } else if (mode == L"fibers" && argc == 5) {
    code = client::RunFibers(argv[2], cx(3), number(4));
  } else if (mode == L"serves" && (argc == 5 || argc == 6)) {
    code = client::ServeFrom(argv[2], cx(3), argv[4], argc == 6 ? argv[5] : nullptr);
  } else if (mode == L"products" && (argc == 4 || argc == 7)) {
    code = client::CheckProducts(argv[2], argv[3], argc == 7 ? argv[4] : nullptr, argc == 7 ? argv[5] : nullptr,
                                 argc == 7 ? argv[6] : nullptr);
  } else if (mode == L"refused" && argc == 5) {
    code = client::CheckRefusal(argv[2], argv[3], argv[4]);
  } else if (mode == L"bench" && argc == 5) {
    code = client::Bench(argv[2], cx(3), number(4));
  } else {
    code = Usage();
  }
  CoUninitialize();
  return code;
}

}  // namespace

// Narrow: zig's MinGW target starts programs at main, -municode or not; the
// wide arguments come from the command line itself.
int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  const int code = Run(argc, argv);
  LocalFree(argv);
  return code;
}
