// Thread-exit calls through the loader's TLS callbacks, which it makes for
// every thread of the process, in an executable as in a DLL. Not a
// fiber-local slot: its callback runs per fiber (when a fiber is deleted, on
// whichever thread deletes it) and at process exit, after the other threads
// were killed wherever they stood, perhaps holding locks the callback needs.
// Not a thread_local with a destructor either: with an emulated-TLS runtime
// the thread's storage is freed before such destructors run.
//
// The calls are kept by thread id, so nothing here depends on the thread's
// own storage. The loader makes no thread-exit call at process exit, and none
// for the threads still alive when a DLL is unloaded: those run on the
// unloading thread, while the code is still mapped. TLS callbacks are not
// told which of the two a process detach is (their third argument is always
// null), so the loader is asked.
#include "platform/thread_exit.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include "platform/kernel.h"

namespace platform {
namespace {

struct ExitCall {
  DWORD thread;
  void (*callback)(void*);
  void* data;
};

SRWLOCK g_lock = SRWLOCK_INIT;
// Never destroyed: the loader may call below after static destructors ran.
std::vector<ExitCall>* g_calls = nullptr;
// Past the point where a call would still run: the module is being
// unloaded, or this thread's own exit call was made (a later use comes from
// another module's exit code).
bool g_unloading = false;
constinit thread_local bool t_ended = false;

// Takes the call registered for `thread` (any thread when 0) out of the list.
bool TakeCall(DWORD thread, ExitCall* call) {
  AcquireSRWLockExclusive(&g_lock);
  bool found = false;
  if (g_calls != nullptr) {
    const auto it = std::find_if(g_calls->begin(), g_calls->end(),
                                 [thread](const ExitCall& c) { return thread == 0 || c.thread == thread; });
    if (it != g_calls->end()) {
      *call = *it;
      *it = g_calls->back();
      g_calls->pop_back();
      found = true;
    }
  }
  ReleaseSRWLockExclusive(&g_lock);
  return found;
}

using ShutdownQuery = BOOLEAN(NTAPI*)();
std::atomic<ShutdownQuery> g_shutdownInProgress{nullptr};

// Whether the process is exiting: then the other threads are gone, perhaps
// holding locks the calls would take, and the system reclaims everything.
bool ProcessExiting() {
  const ShutdownQuery query = g_shutdownInProgress.load(std::memory_order_relaxed);
  return query == nullptr || query() != FALSE;
}

void NTAPI OnThreadEvent(PVOID, DWORD reason, PVOID) {
  ExitCall call;
  if (reason == DLL_THREAD_DETACH) {
    t_ended = true;
    if (TakeCall(GetCurrentThreadId(), &call)) call.callback(call.data);
  } else if (reason == DLL_PROCESS_DETACH && !ProcessExiting()) {
    // The module is unloaded while the process goes on.
    AcquireSRWLockExclusive(&g_lock);
    g_unloading = true;
    ReleaseSRWLockExclusive(&g_lock);
    while (TakeCall(0, &call)) call.callback(call.data);
    AcquireSRWLockExclusive(&g_lock);
    delete g_calls;
    g_calls = nullptr;
    ReleaseSRWLockExclusive(&g_lock);
  }
}

}  // namespace

// The loader runs the pointers between the C runtime's .CRT$XLA and .CRT$XLZ.
#ifdef _MSC_VER
#pragma comment(linker, "/INCLUDE:_tls_used")
#pragma comment(linker, "/INCLUDE:kez_thread_exit_callback")
#pragma const_seg(".CRT$XLK")
extern "C" const PIMAGE_TLS_CALLBACK kez_thread_exit_callback = OnThreadEvent;
#pragma const_seg()
#else
extern "C" __attribute__((section(".CRT$XLK"), used)) const PIMAGE_TLS_CALLBACK kez_thread_exit_callback =
    OnThreadEvent;
#endif

bool CallAtThreadExit(void (*callback)(void*), void* data) {
  if (t_ended) return false;
  if (g_shutdownInProgress.load(std::memory_order_relaxed) == nullptr) {
    const FARPROC query = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress");
    if (query == nullptr) return false;  // no telling an exit from an unloading
    g_shutdownInProgress.store(reinterpret_cast<ShutdownQuery>(reinterpret_cast<void*>(query)),
                               std::memory_order_relaxed);
  }
  const DWORD thread = GetCurrentThreadId();
  // A call left by an earlier thread of the same id (one that was
  // terminated, so never told) runs first.
  ExitCall stale;
  while (TakeCall(thread, &stale)) stale.callback(stale.data);
  AcquireSRWLockExclusive(&g_lock);
  bool added = false;
  try {
    if (!g_unloading) {
      if (g_calls == nullptr) g_calls = new std::vector<ExitCall>;
      g_calls->push_back({thread, callback, data});
      added = true;
    }
  } catch (const std::bad_alloc&) {
  }
  ReleaseSRWLockExclusive(&g_lock);
  return added;
}

}  // namespace platform
