// kezclient MODE ARGS... (see Usage). Exit codes: 0 every check passed,
// 1 a check failed, 2 usage, 86 an exception or crash reached the client.
#include "client.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>

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

HRESULT CreateProvider(IStream* stream, IThumbnailProvider** provider) {
  *provider = nullptr;
  IInitializeWithStream* init = nullptr;
  HRESULT hr = CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IInitializeWithStream),
                                reinterpret_cast<void**>(&init));
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
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::uint64_t Fnv(const std::vector<BYTE>& bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const BYTE b : bytes) hash = (hash ^ b) * 0x100000001b3ull;
  return hash;
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
      "       kezclient call DLL machine|user register|unregister EXPECTED_HRESULT\n"
      "       kezclient threads FILE CX TOTAL BATCH BOUND_MIB\n"
      "       kezclient bench FILE CX ITERATIONS\n"
      "       kezclient unloads FILE CX CYCLES BOUND_MIB\n",
      stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetUnhandledExceptionFilter(ReportCrash);
  // Failures show no dialogs; the DLL's own notice is not one of them.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 2) return Usage();
  const std::wstring mode = argv[1];
  auto number = [&](int i) { return static_cast<int>(std::wcstol(argv[i], nullptr, 10)); };

  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    std::printf("CoInitializeEx failed (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  int code = 2;
  if (mode == L"compare" && argc == 3) {
    code = client::CompareCases(argv[2]);
  } else if (mode == L"notice" && argc == 4) {
    code = client::ShowNotice(argv[2], static_cast<UINT>(number(3)));
  } else if (mode == L"registry" && argc == 6) {
    code = client::CheckRegistry(argv[2], argv[3], argv[4], argv[5]);
  } else if (mode == L"call" && argc == 6) {
    code = client::CallExport(argv[2], argv[3], argv[4], std::wcstoul(argv[5], nullptr, 16));
  } else if (mode == L"threads" && argc == 7) {
    code =
        client::RunThreads(argv[2], static_cast<UINT>(number(3)), number(4), number(5), std::wcstod(argv[6], nullptr));
  } else if (mode == L"unloads" && argc == 6) {
    code = client::RunUnloads(argv[2], static_cast<UINT>(number(3)), number(4), std::wcstod(argv[5], nullptr));
  } else if (mode == L"bench" && argc == 5) {
    code = client::Bench(argv[2], static_cast<UINT>(number(3)), number(4));
  } else {
    code = Usage();
  }
  CoUninitialize();
  return code;
}
