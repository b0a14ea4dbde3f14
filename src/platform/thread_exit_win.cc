// Fiber-local storage, whose callback the system runs when a thread ends.
// A thread_local with a destructor does not serve in a DLL: with an
// emulated-TLS runtime the thread's storage is freed before such destructors
// run, and a pending one pins the DLL, so that its unloading can happen
// inside a thread's exit, under the loader lock.
#include "platform/thread_exit.h"

#include <atomic>

#include "platform/kernel.h"
#include "platform/process_end.h"

namespace platform {
namespace {

std::atomic<void (*)(void*)> g_callback{nullptr};

void WINAPI RunCallback(void* data) {
  if (void (*callback)(void*) = g_callback.load(std::memory_order_acquire); callback != nullptr && data != nullptr)
    callback(data);
}

// Freed when the module goes: the callback then runs for every thread that
// still holds a value, before the code it points to is unmapped.
struct FiberSlot {
  DWORD index = FlsAlloc(RunCallback);
  ~FiberSlot() {
    if (index != FLS_OUT_OF_INDEXES && !ProcessEnding()) FlsFree(index);
  }
};

}  // namespace

bool CallAtThreadExit(void (*callback)(void*), void* data) {
  static FiberSlot slot;
  if (slot.index == FLS_OUT_OF_INDEXES) return false;
  g_callback.store(callback, std::memory_order_release);
  return FlsSetValue(slot.index, data) != FALSE;
}

}  // namespace platform
