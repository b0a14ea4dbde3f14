// DIB sections on the heap and the error notice on standard error, with the
// test hooks that read them back.
#include "platform/gdi.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/testing.h"
#include "platform/utf8_posix.h"

namespace {

using platform::testing::DibFault;

struct Dib {
  BITMAPINFOHEADER header;
  BYTE* bits;
  std::size_t size;
};

struct Gdi {
  std::mutex mutex;
  std::map<std::uintptr_t, Dib> dibs;
  std::uintptr_t next = 1;
  DibFault fault = DibFault::None;
  int calls = 0;
  bool haveRequest = false;
  BITMAPINFOHEADER lastRequest{};

  std::vector<platform::testing::Notice> notices;
  bool echo = true;
};

Gdi& State() {
  static Gdi* gdi = new Gdi;  // never destroyed: usable from any exit path
  return *gdi;
}

// Bytes of a width x |height| 32-bit section; 0 when it cannot exist.
std::size_t SectionBytes(LONG width, LONG height) {
  if (width <= 0 || height == 0 || height == INT32_MIN) return 0;
  const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
  const std::uint64_t bytes = static_cast<std::uint64_t>(width) * rows * 4;
  // A DIB's size must fit a DWORD, as biSizeImage does.
  return bytes > 0xFFFFFFFFull ? 0 : static_cast<std::size_t>(bytes);
}

}  // namespace

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection, DWORD) {
  if (ppvBits != nullptr) *ppvBits = nullptr;
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  ++g.calls;
  if (pbmi == nullptr) return nullptr;
  g.haveRequest = true;
  g.lastRequest = pbmi->bmiHeader;
  const BITMAPINFOHEADER& h = pbmi->bmiHeader;
  if (g.fault == DibFault::NullHandle) return nullptr;
  if (usage != DIB_RGB_COLORS || hSection != nullptr || h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 ||
      h.biBitCount != 32 || h.biCompression != BI_RGB)
    return nullptr;
  const std::size_t size = SectionBytes(h.biWidth, h.biHeight);
  if (size == 0) return nullptr;
  BYTE* bits = nullptr;
  if (g.fault != DibFault::NullBits) {
    // Section memory starts zeroed, as a fresh mapping does.
    bits = static_cast<BYTE*>(std::calloc(size, 1));
    if (bits == nullptr) return nullptr;
  }
  const std::uintptr_t id = g.next++ * 16;
  g.dibs[id] = Dib{h, bits, bits != nullptr ? size : 0};
  if (ppvBits != nullptr) *ppvBits = bits;
  return reinterpret_cast<HBITMAP>(id);
}

BOOL DeleteObject(HGDIOBJ object) {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  const auto it = g.dibs.find(reinterpret_cast<std::uintptr_t>(object));
  if (it == g.dibs.end()) return FALSE;
  std::free(it->second.bits);
  g.dibs.erase(it);
  return TRUE;
}

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
  const std::wstring t = text != nullptr ? text : L"";
  const std::wstring c = caption != nullptr ? caption : L"Error";
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  g.notices.push_back({t, c, type});
  if (g.echo) {
    const std::string line = platform::WideToUtf8(c.c_str()) + ": " + platform::WideToUtf8(t.c_str()) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }
  return IDOK;
}

namespace platform::testing {

std::optional<DibSection> ReadDib(HBITMAP bitmap) {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  const auto it = g.dibs.find(reinterpret_cast<std::uintptr_t>(bitmap));
  if (it == g.dibs.end()) return std::nullopt;
  return DibSection{it->second.header, it->second.bits, it->second.size};
}

void FailCreateDIBSection(DibFault fault) {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  g.fault = fault;
}

int LiveDibs() {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  return static_cast<int>(g.dibs.size());
}

int CreateDIBSectionCalls() {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  return g.calls;
}

std::optional<BITMAPINFOHEADER> LastDibRequest() {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  if (!g.haveRequest) return std::nullopt;
  return g.lastRequest;
}

std::vector<Notice> Notices() {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  return g.notices;
}

int NoticeCount() {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  return static_cast<int>(g.notices.size());
}

void ResetNotices() {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  g.notices.clear();
}

void EchoNotices(bool echo) {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  g.echo = echo;
}

// Counters and faults only: live sections stay valid for their owners.
void ResetDibCounters() {
  Gdi& g = State();
  std::lock_guard<std::mutex> lock(g.mutex);
  g.fault = DibFault::None;
  g.calls = 0;
  g.haveRequest = false;
  g.lastRequest = {};
}

}  // namespace platform::testing
