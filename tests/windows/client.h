// The Windows test client: drives kezthumb.dll as the shell does, through the
// registry and COM, and checks what comes back. Built for x64 and ARM64 with
// zig by scripts/test-windows and run under Wine.
#pragma once

// windows.h first: the other SDK headers build on it.
#include <windows.h>

#include <objbase.h>
#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <cstdint>
#include <string>
#include <vector>

namespace client {

// {09533617-4B9F-4F3C-8643-8A14BF00759D}
constexpr CLSID kClsid = {0x09533617, 0x4b9f, 0x4f3c, {0x86, 0x43, 0x8a, 0x14, 0xbf, 0x00, 0x75, 0x9d}};
constexpr wchar_t kClsidText[] = L"{09533617-4B9F-4F3C-8643-8A14BF00759D}";

// What GetThumbnail is handed before the call, to see what it wrote.
inline const HBITMAP kUntouchedBitmap = reinterpret_cast<HBITMAP>(0x5A5A0);
constexpr WTS_ALPHATYPE kUntouchedAlpha = WTSAT_UNKNOWN;

// Counts checks and prints each as "ok   ..." or "FAIL ...".
class Tally {
 public:
  bool Check(bool ok, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // The same, but silent and uncounted when it holds: for the steps on the
  // way to a check.
  bool Require(bool ok, const char* format, ...) __attribute__((format(printf, 3, 4)));
  int passed = 0;
  int failed = 0;
  // Prints "N passed, M failed"; the process's exit code.
  int Finish() const;
};

// A read-only stream over a file, as the shell opens one.
HRESULT OpenFileStream(const std::wstring& path, IStream** stream);
// A provider of the registered class through CoCreateInstance (or from
// `factory`, a class object kept), initialised with `stream`.
HRESULT CreateProvider(IStream* stream, IThumbnailProvider** provider, IClassFactory* factory = nullptr);

struct Dib {
  BITMAPINFOHEADER header{};  // the section's own, from GetObject
  std::vector<BYTE> bits;     // GetDIBits: 32 bpp, bottom-up
};
// False when `bitmap` is not a DIB section.
bool ReadDib(HBITMAP bitmap, Dib* dib);

// The registered class's object, through the registry as the shell gets it;
// null when there is none.
IClassFactory* ClassObject();

// One thumbnail through the registry and a file stream; the hash of its
// bits, 0 when there is none.
std::uint64_t OneThumbnail(const std::wstring& path, UINT cx, IClassFactory* factory = nullptr);
// The rows of a thumbnail go straight into its section; only a picture
// read whole takes images from the block pools. With this set, OneThumbnail
// refuses each thumbnail's first section, as a host short of memory might,
// so that the DLL reads the picture whole and the pools serve it.
extern bool g_wholeRoad;

// The process's memory as the pools see it: a region is a committed private
// allocation of 16 MiB at a 16 MiB boundary, which nothing else makes, so
// chunks stranded by ended threads show there and the noise of thread stacks
// freed late does not.
struct Memory {
  double committedMiB;  // committed private pages, summed over the address space
  int poolRegions;
};
Memory Measure();

// The whole file; empty when it cannot be read.
std::vector<BYTE> ReadFileBytes(const std::wstring& path);
std::uint64_t Fnv(const std::vector<BYTE>& bytes);
std::string Narrow(const std::wstring& text);

// The modes; each returns the exit code.
int CompareCases(const std::wstring& dir);
int ShowNotice(const std::wstring& path, UINT cx);
int CheckRegistry(const std::wstring& scope, const std::wstring& association, const std::wstring& state,
                  const std::wstring& dllPath);
int CallExport(const std::wstring& dllPath, const std::wstring& scope, const std::wstring& action,
               unsigned long expected);
int RunThreads(const std::wstring& path, UINT cx, int total, int batch);
int Bench(const std::wstring& path, UINT cx, int iterations);
int RunUnloads(const std::wstring& damaged, const std::wstring& good, UINT cx, int cycles);
int RunLifecycle(const std::wstring& damaged, UINT cx);
int ExitHoldingLock(const std::wstring& path, UINT cx);
int RunFibers(const std::wstring& path, UINT cx, int threads);
// `signal` null: serve one thumbnail and return; otherwise keep the class
// object (and so the module) until that file exists, then serve again.
int ServeFrom(const std::wstring& file, UINT cx, const std::wstring& dll, const wchar_t* signal);
// `product` null: no product of the upgrade code installed; else that
// product alone, in `scope` ("user" or "machine").
int CheckProducts(const std::wstring& scope, const std::wstring& upgradeCode, const wchar_t* product,
                  const wchar_t* version, const wchar_t* location);
// Installs `package` with `commandLine`, which it must refuse with `message`.
int CheckRefusal(const std::wstring& package, const std::wstring& commandLine, const std::wstring& message);

// Points `module`'s imports of `function` from `library` at `replacement`;
// the number of slots changed.
int PatchImport(HMODULE module, const char* library, const char* function, void* replacement);

}  // namespace client
