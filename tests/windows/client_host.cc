// The DLL in a long-lived host: loaded and unloaded again and again, gone
// before the threads that used it end, a process that exits while another
// thread is inside the pools, and fibers that wander between threads.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client.h"

namespace client {
namespace {

bool Loaded() { return GetModuleHandleW(L"kezthumb.dll") != nullptr; }

// What a load and unload may leave behind in the host: the next free TLS and
// FLS indexes, and the handles: their count where the system keeps one (Wine
// says 0), and the value of a new one (Wine hands out the lowest free slot).
struct HostSlots {
  DWORD tls, fls, handles, nextHandle;
  bool operator==(const HostSlots&) const = default;
};

HostSlots ProbeSlots() {
  HostSlots slots{TlsAlloc(), FlsAlloc(nullptr), 0, 0};
  TlsFree(slots.tls);
  FlsFree(slots.fls);
  GetProcessHandleCount(GetCurrentProcess(), &slots.handles);
  HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  slots.nextHandle = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(probe));
  CloseHandle(probe);
  return slots;
}

struct Documents {
  std::wstring damaged, good;
  UINT cx;
  std::uint64_t hash = 0;  // the good one's
};

// A thumbnail of each document on a thread of its own, in an apartment of its
// own; with the apartment gone nothing holds the module any more.
DWORD WINAPI ThumbnailsOnce(void* param) {
  auto* documents = static_cast<Documents*>(param);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  OneThumbnail(documents->damaged, documents->cx);
  documents->hash = OneThumbnail(documents->good, documents->cx);
  CoUninitialize();
  return 0;
}

// Waits for `thread` (20 s: a thread whose exit unloads the module may never
// end) and closes it; false when it did not end.
bool Join(HANDLE thread) {
  const bool ended = thread != nullptr && WaitForSingleObject(thread, 20000) == WAIT_OBJECT_0;
  if (thread != nullptr) CloseHandle(thread);
  return ended;
}

}  // namespace

int RunUnloads(const std::wstring& damaged, const std::wstring& good, UINT cx, int cycles) {
  Tally tally;
  Documents documents{damaged, good, cx};
  std::uint64_t expected = 0;
  int unloaded = 0, wrong = 0;
  HostSlots first{}, last{};
  Memory firstMemory{};
  for (int i = 1; i <= cycles; ++i) {
    if (!tally.Require(Join(CreateThread(nullptr, 0, ThumbnailsOnce, &documents, 0, nullptr)),
                       "unloads: the thread of cycle %d ended within 20 s", i)) {
      tally.Finish();
      // Its exit holds the loader lock, which ExitProcess would wait for.
      TerminateProcess(GetCurrentProcess(), 1);
    }
    CoFreeUnusedLibrariesEx(0, 0);
    if (!Loaded()) ++unloaded;
    if (i == 1) expected = documents.hash;
    if (documents.hash == 0 || documents.hash != expected) ++wrong;
    last = ProbeSlots();
    // The host's own first use of COM and the loader settles in the first
    // cycles; from then on every cycle must leave it as it was.
    if (i == 2) {
      first = last;
      firstMemory = Measure();
    }
    if (i == 2 || i == 10 || i == 100 || i % 500 == 0 || i == cycles)
      std::printf("unloads: after cycle %4d: next TLS index %lu, next FLS index %lu, %lu handles, next handle 0x%lx\n",
                  i, last.tls, last.fls, last.handles, last.nextHandle);
  }
  const Memory lastMemory = Measure();
  tally.Check(wrong == 0, "unloads: every cycle made the same thumbnail (%d did not)", wrong);
  tally.Check(unloaded == cycles, "unloads: kezthumb.dll unloaded once the thread that used it ended (%d of %d cycles)",
              unloaded, cycles);
  tally.Check(last == first,
              "unloads: from cycle 2 to %d: TLS index %lu -> %lu, FLS index %lu -> %lu, handles %lu -> %lu, next "
              "handle 0x%lx -> 0x%lx",
              cycles, first.tls, last.tls, first.fls, last.fls, first.handles, last.handles, first.nextHandle,
              last.nextHandle);
  // A leak of 14 KiB a load would pass the bound; a cycle's noise is bytes.
  tally.Check(lastMemory.committedMiB - firstMemory.committedMiB < 16.0,
              "unloads: committed private %.1f MiB after cycle 2, %.1f MiB after %d (bound: 16 MiB more)",
              firstMemory.committedMiB, lastMemory.committedMiB, cycles);
  tally.Check(lastMemory.poolRegions == 0, "unloads: no pool region outlives the module (%d left)",
              lastMemory.poolRegions);
  return tally.Finish();
}

namespace {

// A thumbnail of a document that throws inside the reader, in a worker's
// apartment; the worker then unloads the module and ends after it is gone.
DWORD WINAPI ThumbnailUnloadAndEnd(void* param) {
  auto* documents = static_cast<Documents*>(param);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  OneThumbnail(documents->damaged, documents->cx);
  CoFreeUnusedLibrariesEx(0, 0);
  const bool gone = !Loaded();
  CoUninitialize();
  return gone ? 0 : 2;
}

}  // namespace

int RunLifecycle(const std::wstring& damaged, UINT cx) {
  Tally tally;
  OneThumbnail(damaged, cx);
  tally.Check(Loaded(), "lifecycle: a thumbnail of %s loads kezthumb.dll", Narrow(damaged).c_str());
  CoFreeUnusedLibrariesEx(0, 0);
  tally.Check(!Loaded(), "lifecycle: CoFreeUnusedLibrariesEx unloads it");

  OneThumbnail(damaged, cx);
  CoUninitialize();
  tally.Check(!Loaded(), "lifecycle: after another thumbnail, CoUninitialize unloads it");
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  Documents documents{damaged, L"", cx};
  HANDLE thread = CreateThread(nullptr, 0, ThumbnailUnloadAndEnd, &documents, 0, nullptr);
  DWORD code = 1;
  const bool ended = WaitForSingleObject(thread, 20000) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  tally.Check(ended && code == 0, "lifecycle: a worker unloads it and ends afterwards (thread exit code %lu)", code);
  // The process exit that follows runs what every thread left behind.
  return tally.Finish();
}

namespace {

DWORD g_holder = 0;
HANDLE g_held = nullptr;

// Takes the lock; on the holder thread, a lock in a pool region's header is
// then kept for ever.
void WINAPI AcquireAndHold(PSRWLOCK lock) {
  AcquireSRWLockExclusive(lock);
  const auto address = reinterpret_cast<std::uintptr_t>(lock);
  if (GetCurrentThreadId() == g_holder && address % 0x1000000 < 0x4000) {
    MEMORY_BASIC_INFORMATION info{};
    VirtualQuery(lock, &info, sizeof info);
    if (reinterpret_cast<std::uintptr_t>(info.AllocationBase) == address - address % 0x1000000) {
      SetEvent(g_held);
      Sleep(INFINITE);
    }
  }
}

DWORD WINAPI HoldRegionLock(void* param) {
  auto* documents = static_cast<Documents*>(param);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  g_holder = GetCurrentThreadId();
  // A fresh thread's first block takes a chunk, and asking a region for a
  // chunk starts with the region's class-map lock.
  OneThumbnail(documents->good, documents->cx);
  return 0;
}

}  // namespace

int ExitHoldingLock(const std::wstring& path, UINT cx) {
  Tally tally;
  // The main thread owns chunks, which a thread-exit call would hand back
  // through the region's locks.
  IClassFactory* factory = ClassObject();
  const bool made = factory != nullptr && OneThumbnail(path, cx) != 0;
  if (!tally.Require(made, "exit-held: a thumbnail of %s", Narrow(path).c_str())) return tally.Finish();
  const int patched = PatchImport(GetModuleHandleW(L"kezthumb.dll"), "kernel32.dll", "AcquireSRWLockExclusive",
                                  reinterpret_cast<void*>(&AcquireAndHold));
  if (!tally.Require(patched > 0, "exit-held: kezthumb.dll imports AcquireSRWLockExclusive from kernel32.dll"))
    return tally.Finish();
  g_held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Documents documents{L"", path, cx};
  CloseHandle(CreateThread(nullptr, 0, HoldRegionLock, &documents, 0, nullptr));
  if (!tally.Require(WaitForSingleObject(g_held, 20000) == WAIT_OBJECT_0,
                     "exit-held: another thread holds a pool region's lock within 20 s"))
    return tally.Finish();
  std::printf("exit-held: another thread holds a pool region's lock; ExitProcess(0)\n");
  ExitProcess(0);
}

namespace {

struct Wanderer {
  std::wstring path;
  UINT cx;
  LPVOID fiber = nullptr;
  LPVOID back = nullptr;  // the fiber to return to
  std::uint64_t hash = 0;
  int runs = 0;
  std::uint64_t after = 0;  // the next thumbnail of the thread it ran on
};

// A fiber that makes a thumbnail each time it is switched to, on whichever
// thread that is.
void WINAPI WanderingFiber(void* param) {
  auto* wanderer = static_cast<Wanderer*>(param);
  for (;;) {
    const std::uint64_t hash = OneThumbnail(wanderer->path, wanderer->cx);
    if (wanderer->runs++ == 0) wanderer->hash = hash;
    if (hash != wanderer->hash) wanderer->hash = 0;
    SwitchToFiber(wanderer->back);
  }
}

void RunOnce(Wanderer& wanderer) {
  wanderer.back = ConvertThreadToFiber(nullptr);
  SwitchToFiber(wanderer.fiber);
  ConvertFiberToThread();
}

DWORD WINAPI RunOnceThread(void* param) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  RunOnce(*static_cast<Wanderer*>(param));
  CoUninitialize();
  return 0;
}

DWORD WINAPI DeleteFiberThread(void* fiber) {
  DeleteFiber(fiber);
  return 0;
}

// Hands out again, filled with garbage, the small blocks the heap freed
// last, as a busy host would: what the DLL freed and still reads is then
// caught.
std::vector<void*> Scribble() {
  std::vector<void*> blocks;
  for (std::size_t size = 8; size <= 256; size += 8) {
    for (int i = 0; i < 4; ++i) {
      blocks.push_back(std::malloc(size));
      if (blocks.back() != nullptr) std::memset(blocks.back(), 0xA5, size);
    }
  }
  return blocks;
}


DWORD WINAPI FiberThenThread(void* param) {
  auto* wanderer = static_cast<Wanderer*>(param);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  RunOnce(*wanderer);
  Join(CreateThread(nullptr, 0, DeleteFiberThread, wanderer->fiber, 0, nullptr));
  const std::vector<void*> scribbled = Scribble();
  wanderer->after = OneThumbnail(wanderer->path, wanderer->cx);
  for (void* block : scribbled) std::free(block);
  CoUninitialize();
  return 0;
}

}  // namespace

int RunFibers(const std::wstring& path, UINT cx, int threads) {
  Tally tally;
  IClassFactory* factory = ClassObject();
  if (!tally.Require(factory != nullptr, "fibers: the class object"))
    return tally.Finish();
  const std::uint64_t expected = OneThumbnail(path, cx);

  // A fiber makes the first thumbnail of a thread; another thread deletes
  // the fiber; the thread goes on making thumbnails.
  Wanderer once{path, cx};
  once.fiber = CreateFiber(0, WanderingFiber, &once);
  const bool ended = Join(CreateThread(nullptr, 0, FiberThenThread, &once, 0, nullptr));
  tally.Check(ended && expected != 0 && once.hash == expected && once.after == expected,
              "fibers: a thread's first thumbnail in a fiber, the fiber deleted by another thread, and the thread's "
              "next thumbnail the same");

  // One fiber runs on short-lived threads in turn.
  Wanderer wanderer{path, cx};
  wanderer.fiber = CreateFiber(0, WanderingFiber, &wanderer);
  bool ran = Join(CreateThread(nullptr, 0, RunOnceThread, &wanderer, 0, nullptr));
  const Memory warm = Measure();
  for (int i = 1; i < threads && ran; ++i) ran = Join(CreateThread(nullptr, 0, RunOnceThread, &wanderer, 0, nullptr));
  const Memory last = Measure();
  DeleteFiber(wanderer.fiber);
  tally.Check(ran && wanderer.runs == threads && wanderer.hash == expected,
              "fibers: one fiber made the same thumbnail on %d threads in turn (%d runs)", threads, wanderer.runs);
  std::printf("fibers: committed private %.1f MiB after the first thread, %.1f MiB after %d\n", warm.committedMiB,
              last.committedMiB, threads);
  tally.Check(last.poolRegions - warm.poolRegions <= 2,
              "fibers: %d pool regions after the first thread, %d after %d (stranded chunks would add about %d)",
              warm.poolRegions, last.poolRegions, threads, threads / 4);
  factory->Release();
  return tally.Finish();
}

}  // namespace client
