#include "platform/kernel.h"
#include "platform/utf8_posix.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <optional>
#include <string>

#include "platform/testing.h"

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spinCount) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  const int rc = pthread_mutex_init(&cs->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  cs->spinCount = spinCount;
  return rc == 0 ? TRUE : FALSE;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_lock(&cs->mutex); }
void LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(&cs->mutex); }
void DeleteCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_destroy(&cs->mutex); }

namespace {
std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;
thread_local DWORD t_lastError = 0;
}  // namespace

DWORD GetCurrentThreadId() {
  if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
  return t_threadId;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

namespace {

// Test hooks: a path standing in for the module's, or a forced failure.
struct ModuleNameHooks {
  std::mutex mutex;
  std::optional<std::wstring> path;
  std::optional<DWORD> error;
};

ModuleNameHooks& Hooks() {
  static ModuleNameHooks* hooks = new ModuleNameHooks;
  return *hooks;
}

// Copies as much of `text` as fits, terminated; when cut short, returns
// `size` with ERROR_INSUFFICIENT_BUFFER, as Windows does.
DWORD CopyModuleName(const std::wstring& text, LPWSTR filename, DWORD size) {
  DWORD n = 0;
  while (n < text.size() && n + 1 < size) {
    filename[n] = text[n];
    ++n;
  }
  filename[n] = L'\0';
  if (n < text.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  SetLastError(ERROR_SUCCESS);
  return n;
}

}  // namespace

namespace platform::testing {

void OverrideModuleFileName(std::optional<std::wstring> path) {
  std::lock_guard<std::mutex> lock(Hooks().mutex);
  Hooks().path = std::move(path);
}

void FailModuleFileName(std::optional<DWORD> error) {
  std::lock_guard<std::mutex> lock(Hooks().mutex);
  Hooks().error = error;
}

}  // namespace platform::testing

DWORD GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size) {
  {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    if (Hooks().error.has_value()) {
      SetLastError(*Hooks().error);
      return 0;
    }
    if (module != nullptr && Hooks().path.has_value()) {
      if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      return CopyModuleName(*Hooks().path, filename, size);
    }
  }
  Dl_info info{};
  if (module == nullptr || dladdr(reinterpret_cast<const void*>(module), &info) == 0 ||
      info.dli_fname == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // As on Windows, a path that does not fit is truncated, terminated, and
  // reported as `size` with ERROR_INSUFFICIENT_BUFFER.
  const std::wstring wide = platform::Utf8ToWide(info.dli_fname);
  DWORD n = 0;
  for (; n < wide.size() && n + 1 < size; ++n) filename[n] = wide[n];
  filename[n] = L'\0';
  if (n < wide.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  SetLastError(ERROR_SUCCESS);
  return n;
}
