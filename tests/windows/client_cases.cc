// The documents of make-windows-cases through the registered class, compared
// with the Linux build's answers; the calls the shell may get wrong; the
// module's unloading; and the reader's notice as a real message box.
#include <cstdio>
#include <cstring>

#include "client.h"

namespace client {
namespace {

struct Case {
  std::string document;
  UINT cx = 0;
  unsigned long hr = 0;
  int alpha = 0;
  std::string bitmap;  // "set", "null" or "untouched"
  int notices = 0;
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<Case> ReadCases(const std::wstring& dir) {
  std::vector<Case> cases;
  std::FILE* file = _wfopen((dir + L"\\cases.txt").c_str(), L"r");
  if (file == nullptr) return cases;
  char document[256], bitmap[16];
  Case c;
  while (std::fscanf(file, "%255s %u %lx %d %15s %d", document, &c.cx, &c.hr, &c.alpha, bitmap, &c.notices) == 6) {
    c.document = document;
    c.bitmap = bitmap;
    cases.push_back(c);
  }
  std::fclose(file);
  return cases;
}

// --------------------------------------------------------------- notices

// The reader's notice, caught at the DLL's import of MessageBoxW so that each
// case's notices are counted and read exactly without a display.
struct Notice {
  std::wstring text, caption;
  UINT type;
  HWND owner;
};
std::vector<Notice> g_notices;

int WINAPI CaptureNotice(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  g_notices.push_back({text != nullptr ? text : L"(null)", caption != nullptr ? caption : L"(null)", type, owner});
  return IDOK;
}

// "" when every notice is the reader's: "throw error!", caption "xxx",
// MB_ICONINFORMATION, no owner.
std::string NoticeProblems() {
  for (const Notice& n : g_notices) {
    if (n.text != L"throw error!" || n.caption != L"xxx" || n.type != MB_ICONINFORMATION || n.owner != nullptr) {
      char text[160];
      std::snprintf(text, sizeof text, "notice \"%s\" caption \"%s\" type 0x%X owner %p; ", Narrow(n.text).c_str(),
                    Narrow(n.caption).c_str(), n.type, static_cast<void*>(n.owner));
      return text;
    }
  }
  return "";
}

// ------------------------------------------------------------------ cases

const char* BitmapState(HBITMAP bitmap) {
  return bitmap == kUntouchedBitmap ? "untouched" : bitmap == nullptr ? "null" : "set";
}

// "" when the section is a cx x cx 32-bit bottom-up DIB whose bits are
// `expected`; else what differs.
std::string DibProblems(HBITMAP bitmap, UINT cx, const std::vector<BYTE>& expected) {
  Dib dib;
  if (!ReadDib(bitmap, &dib)) return "not a DIB section";
  char text[200];
  const BITMAPINFOHEADER& h = dib.header;
  if (h.biWidth != static_cast<LONG>(cx) || h.biHeight != static_cast<LONG>(cx) || h.biBitCount != 32 ||
      h.biCompression != BI_RGB) {
    std::snprintf(text, sizeof text, "section %ldx%ld, %u bpp, compression %lu", h.biWidth, h.biHeight, h.biBitCount,
                  h.biCompression);
    return text;
  }
  if (dib.bits == expected) return "";
  if (dib.bits.size() != expected.size()) {
    std::snprintf(text, sizeof text, "%zu bytes, Linux has %zu", dib.bits.size(), expected.size());
    return text;
  }
  std::size_t first = 0, differing = 0;
  for (std::size_t p = 0; p < expected.size() / 4; ++p) {
    if (std::memcmp(&dib.bits[p * 4], &expected[p * 4], 4) == 0) continue;
    if (differing++ == 0) first = p;
  }
  std::uint32_t got, want;
  std::memcpy(&got, &dib.bits[first * 4], 4);
  std::memcpy(&want, &expected[first * 4], 4);
  std::snprintf(text, sizeof text, "%zu pixels differ, first at x %zu y %zu: %08X, Linux %08X", differing, first % cx,
                cx - 1 - first / cx, got, want);
  return text;
}

void RunCase(const std::wstring& dir, const Case& c, Tally& tally) {
  const std::string name = c.document + "@" + std::to_string(c.cx);
  IStream* stream = nullptr;
  HRESULT hr = OpenFileStream(dir + L"\\" + Wide(c.document), &stream);
  if (!tally.Require(SUCCEEDED(hr), "%s: SHCreateStreamOnFileEx failed (0x%08lX)", name.c_str(), hr)) return;
  IThumbnailProvider* provider = nullptr;
  hr = CreateProvider(stream, &provider);
  if (!tally.Require(SUCCEEDED(hr), "%s: creating and initialising the provider failed (0x%08lX)", name.c_str(), hr)) {
    stream->Release();
    return;
  }
  static const bool patched = PatchImport(GetModuleHandleW(L"kezthumb.dll"), "user32.dll", "MessageBoxW",
                                          reinterpret_cast<void*>(&CaptureNotice)) > 0;
  tally.Require(patched, "%s: kezthumb.dll imports MessageBoxW from user32.dll", name.c_str());
  g_notices.clear();

  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  hr = provider->GetThumbnail(c.cx, &bitmap, &alpha);
  provider->Release();
  const ULONG streamReferences = stream->Release();

  std::string problems;
  char text[160];
  if (static_cast<unsigned long>(hr) != c.hr || static_cast<int>(alpha) != c.alpha || BitmapState(bitmap) != c.bitmap ||
      static_cast<int>(g_notices.size()) != c.notices) {
    std::snprintf(
        text, sizeof text, "0x%08lX alpha %d bitmap %s notices %zu, Linux 0x%08lX alpha %d bitmap %s notices %d; ", hr,
        static_cast<int>(alpha), BitmapState(bitmap), g_notices.size(), c.hr, c.alpha, c.bitmap.c_str(), c.notices);
    problems += text;
  }
  problems += NoticeProblems();
  if (streamReferences != 0) problems += "the provider kept a stream reference; ";
  std::size_t bytes = 0;
  if (hr == S_OK && c.hr == S_OK) {
    const std::vector<BYTE> expected = ReadFileBytes(dir + L"\\" + Wide(name) + L".dib");
    bytes = expected.size();
    problems += DibProblems(bitmap, c.cx, expected);
  }
  if (bitmap != kUntouchedBitmap && bitmap != nullptr) DeleteObject(bitmap);
  if (problems.empty()) {
    tally.Check(true, "%-44s 0x%08lX %s%s%s", name.c_str(), hr, hr == S_OK ? "ARGB, pixels equal, " : "",
                bytes ? (std::to_string(bytes) + " bytes").c_str() : ("bitmap " + c.bitmap).c_str(),
                g_notices.empty() ? "" : ", notice \"throw error!\" / \"xxx\"");
  } else {
    tally.Check(false, "%-44s %s", name.c_str(), problems.c_str());
  }
}

// The calls the shell can get wrong, with the answers the Linux tests of the
// provider demand: `good` is a document with a thumbnail, `other` another one.
void CheckMisuse(const std::wstring& dir, const Case& good, const Case& other, Tally& tally) {
  IStream* first = nullptr;
  IStream* second = nullptr;
  IThumbnailProvider* provider = nullptr;
  IInitializeWithStream* init = nullptr;
  if (!tally.Require(
          SUCCEEDED(OpenFileStream(dir + L"\\" + Wide(good.document), &first)) &&
              SUCCEEDED(OpenFileStream(dir + L"\\" + Wide(other.document), &second)) &&
              SUCCEEDED(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IThumbnailProvider),
                                         reinterpret_cast<void**>(&provider))) &&
              SUCCEEDED(provider->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&init))),
          "misuse: streams and an uninitialised provider"))
    return;
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  auto untouched = [&] { return bitmap == kUntouchedBitmap && alpha == kUntouchedAlpha; };
  HRESULT hr = provider->GetThumbnail(good.cx, &bitmap, &alpha);
  tally.Check(hr == S_FALSE && untouched(), "misuse: GetThumbnail before Initialize: 0x%08lX, nothing written", hr);
  hr = init->Initialize(nullptr, STGM_READ);
  tally.Check(hr == E_INVALIDARG, "misuse: Initialize(null): 0x%08lX (E_INVALIDARG)", hr);
  hr = init->Initialize(first, STGM_READ);
  tally.Check(hr == S_OK, "misuse: Initialize: 0x%08lX", hr);
  hr = init->Initialize(second, STGM_READ);
  tally.Check(hr == HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED),
              "misuse: Initialize twice: 0x%08lX (HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED))", hr);
  hr = provider->GetThumbnail(good.cx, nullptr, &alpha);
  tally.Check(hr == E_POINTER && untouched(),
              "misuse: GetThumbnail(cx, null, &alpha): 0x%08lX (E_POINTER), nothing written", hr);
  hr = provider->GetThumbnail(good.cx, &bitmap, nullptr);
  tally.Check(hr == E_POINTER && untouched(),
              "misuse: GetThumbnail(cx, &bitmap, null): 0x%08lX (E_POINTER), nothing written", hr);
  void* out = provider;
  hr = provider->QueryInterface(IID_IClassFactory, &out);
  tally.Check(hr == E_NOINTERFACE && out == nullptr, "misuse: QueryInterface(IClassFactory): 0x%08lX, null out", hr);

  // The first stream is still the one held.
  hr = provider->GetThumbnail(good.cx, &bitmap, &alpha);
  const std::string name = good.document + "@" + std::to_string(good.cx);
  const std::string problems =
      hr == S_OK ? DibProblems(bitmap, good.cx, ReadFileBytes(dir + L"\\" + Wide(name) + L".dib")) : "no thumbnail";
  tally.Check(hr == S_OK && alpha == WTSAT_ARGB && problems.empty(),
              "misuse: after both: 0x%08lX, the first stream's picture (%s): %s", hr, name.c_str(),
              problems.empty() ? "equal" : problems.c_str());
  if (hr == S_OK) DeleteObject(bitmap);
  bitmap = kUntouchedBitmap;
  alpha = kUntouchedAlpha;
  hr = provider->GetThumbnail(good.cx, &bitmap, &alpha);
  tally.Check(hr == S_FALSE && untouched(), "misuse: a second GetThumbnail: 0x%08lX, nothing written", hr);

  init->Release();
  tally.Check(provider->Release() == 0, "misuse: the provider's last reference");
  const ULONG firstLeft = first->Release();
  const ULONG secondLeft = second->Release();
  tally.Check(firstLeft == 0 && secondLeft == 0, "misuse: both streams' references given back (%lu, %lu left)",
              firstLeft, secondLeft);
}

}  // namespace

int CompareCases(const std::wstring& dir) {
  Tally tally;
  const std::vector<Case> cases = ReadCases(dir);
  if (!tally.Require(!cases.empty(), "cases from %s\\cases.txt", Narrow(dir).c_str())) return tally.Finish();
  for (const Case& c : cases) RunCase(dir, c, tally);

  const Case* good = nullptr;
  const Case* other = nullptr;
  for (const Case& c : cases) {
    if (c.hr != S_OK) continue;
    if (good == nullptr)
      good = &c;
    else if (other == nullptr && c.document != good->document)
      other = &c;
  }
  if (tally.Require(good != nullptr && other != nullptr, "two documents with thumbnails for the misuse checks"))
    CheckMisuse(dir, *good, *other, tally);

  // Everything is released: the module may go.
  const HMODULE module = GetModuleHandleW(L"kezthumb.dll");
  const FARPROC canUnload = module != nullptr ? GetProcAddress(module, "DllCanUnloadNow") : nullptr;
  const HRESULT hr =
      canUnload != nullptr ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(canUnload))() : E_FAIL;
  tally.Check(hr == S_OK, "DllCanUnloadNow once everything is released: 0x%08lX", hr);
  CoFreeUnusedLibrariesEx(0, 0);
  tally.Check(GetModuleHandleW(L"kezthumb.dll") == nullptr, "CoFreeUnusedLibrariesEx(0, 0) unloads kezthumb.dll");
  return tally.Finish();
}

// ----------------------------------------------------------------- notice

namespace {

struct Shown {
  HWND box = nullptr;
  std::wstring caption, text;
  HWND owner = nullptr;
  bool informationIcon = false;
};

BOOL CALLBACK ReadChild(HWND child, LPARAM param) {
  auto* shown = reinterpret_cast<Shown*>(param);
  wchar_t name[32] = {};
  GetClassNameW(child, name, 32);
  if (lstrcmpiW(name, L"Static") != 0) return TRUE;
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    const auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    shown->informationIcon = icon != nullptr && icon == LoadIconW(nullptr, IDI_INFORMATION);
    return TRUE;
  }
  wchar_t text[256] = {};
  if (GetWindowTextW(child, text, 256) > 0) shown->text = text;
  return TRUE;
}

// Waits up to 30 s for the message box "xxx" and reads it; the script
// presses its button once "notice read" is printed.
DWORD WINAPI WatchForNotice(void* param) {
  auto* shown = static_cast<Shown*>(param);
  for (int i = 0; i < 600 && shown->box == nullptr; ++i) {
    if (HWND box = FindWindowW(L"#32770", L"xxx")) {
      wchar_t caption[64] = {};
      GetWindowTextW(box, caption, 64);
      shown->caption = caption;
      shown->owner = GetWindow(box, GW_OWNER);
      EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(shown));
      shown->box = box;
      std::printf("notice read: caption \"%s\", text \"%s\", owner %p, information icon %s\n",
                  Narrow(shown->caption).c_str(), Narrow(shown->text).c_str(), static_cast<void*>(shown->owner),
                  shown->informationIcon ? "yes" : "no");
      return 0;
    }
    Sleep(50);
  }
  return 0;
}

}  // namespace

int ShowNotice(const std::wstring& path, UINT cx) {
  Tally tally;
  IStream* stream = nullptr;
  IThumbnailProvider* provider = nullptr;
  if (!tally.Require(SUCCEEDED(OpenFileStream(path, &stream)) && SUCCEEDED(CreateProvider(stream, &provider)),
                     "notice: a provider for %s", Narrow(path).c_str()))
    return tally.Finish();
  Shown shown;
  HANDLE watcher = CreateThread(nullptr, 0, WatchForNotice, &shown, 0, nullptr);
  HBITMAP bitmap = kUntouchedBitmap;
  WTS_ALPHATYPE alpha = kUntouchedAlpha;
  const ULONGLONG start = GetTickCount64();
  const HRESULT hr = provider->GetThumbnail(cx, &bitmap, &alpha);
  const ULONGLONG waited = GetTickCount64() - start;
  WaitForSingleObject(watcher, 35000);
  CloseHandle(watcher);
  provider->Release();
  stream->Release();
  // The box was found while GetThumbnail had not returned: it waited for it.
  tally.Check(shown.box != nullptr, "notice: a message box \"xxx\" was shown while GetThumbnail ran (%llu ms)", waited);
  tally.Check(shown.caption == L"xxx" && shown.text == L"throw error!", "notice: caption \"%s\", text \"%s\"",
              Narrow(shown.caption).c_str(), Narrow(shown.text).c_str());
  tally.Check(shown.owner == nullptr, "notice: no owner window");
  tally.Check(shown.informationIcon, "notice: the information icon");
  tally.Check(shown.box != nullptr && !IsWindow(shown.box), "notice: closed when GetThumbnail returned");
  tally.Check(hr == S_FALSE && bitmap == kUntouchedBitmap && alpha == kUntouchedAlpha,
              "notice: GetThumbnail 0x%08lX, nothing written", hr);
  return tally.Finish();
}

}  // namespace client
