#include "lumo/pool.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "lumo/heap_reserve.h"
#include "lumo/memory.h"
#include "lumo/pool_global.h"
#include "lumo/pool_layout.h"
#include "lumo/pool_region.h"
#include "lumo/sanitizer.h"
#include "platform/kernel.h"
#include "platform/thread_exit.h"

namespace lumo {
namespace {

using pool::ChunkHeader;
using pool::FreeBlock;
using pool::kSlotCount;
using pool::NextOf;
using pool::SetNext;

struct Slot {
  std::int64_t blockSize;
  ChunkHeader* chunk;  // owned by this thread; null until the first use
};

// One per thread, on the heap: the call at thread exit that hands its chunks
// back may run when the thread's thread-local storage is already gone.
struct ThreadRecord {
  Slot slots[kSlotCount] = {{0x4000, nullptr}, {0x10000, nullptr}, {0x20000, nullptr}};
  std::uint32_t threadId = 0;  // 0: the shared record of ended threads
};

// Null until the thread first needs a chunk, so the fast path reaches the
// record with one load and no initialisation check.
constinit thread_local ThreadRecord* t_record = nullptr;

// Never written: a thread that uses the pools after handing its chunks back
// (or that cannot arrange the hand-back) keeps no chunk, and each one it
// takes is retired at once.
ThreadRecord g_endedRecord;

void ReapThread(void* data) {
  auto* record = static_cast<ThreadRecord*>(data);
  for (Slot& slot : record->slots)
    if (slot.chunk != nullptr && !pool::RegionsReleased()) pool::RetireChunk(slot.chunk);
  // On the ending thread itself, later uses keep no chunk. (On Windows the
  // loader's thread-exit callbacks run before it frees thread-locals.)
  if (t_record == record) t_record = &g_endedRecord;
  delete record;
}

ThreadRecord* NewRecord() {
  auto* record = new (std::nothrow) ThreadRecord;
  if (record == nullptr) return nullptr;
  record->threadId = GetCurrentThreadId();
  if (!platform::CallAtThreadExit(ReapThread, record)) {
    delete record;
    record = &g_endedRecord;
  }
  t_record = record;
  return record;
}

// Takes the chunk's remote list whole (one exchange) as the new local list
// and pops its head. Owner thread only.
FreeBlock* TakeRemote(ChunkHeader* chunk) {
  if (chunk->remoteList.load(std::memory_order_relaxed) == nullptr) return nullptr;
  FreeBlock* head = chunk->remoteList.exchange(nullptr, std::memory_order_acquire);
  if (head == nullptr) return nullptr;
  chunk->localList = NextOf(head);
  return head;
}

[[gnu::noinline]] void* AllocateSlow(int index) {
  ThreadRecord* record = t_record != nullptr ? t_record : NewRecord();
  if (record == nullptr) return nullptr;
  const bool keeps = record != &g_endedRecord;
  Slot& slot = record->slots[index];
  if (slot.chunk != nullptr) {
    if (FreeBlock* block = TakeRemote(slot.chunk)) return block;
    pool::RetireChunk(slot.chunk);
    slot.chunk = nullptr;
  }
  // A chunk always comes with a free block; the bound only guards that.
  for (int attempt = 0; attempt < 4; ++attempt) {
    ChunkHeader* chunk = pool::AcquireChunk(slot.blockSize);
    if (chunk == nullptr) return std::malloc(static_cast<std::size_t>(slot.blockSize));  // regions released
    chunk->owner.store(record->threadId, std::memory_order_relaxed);
    FreeBlock* block = chunk->localList;
    if (block != nullptr)
      chunk->localList = NextOf(block);
    else
      block = TakeRemote(chunk);
    if (block != nullptr && keeps)
      slot.chunk = chunk;
    else
      pool::RetireChunk(chunk);
    if (block != nullptr) return block;
  }
  return nullptr;
}

inline void* AllocateFromSlot(int index) {
  ThreadRecord* record = t_record;
  if (ChunkHeader* chunk = record != nullptr ? record->slots[index].chunk : nullptr) {
    if (FreeBlock* block = chunk->localList) {
      chunk->localList = NextOf(block);
      return block;
    }
  }
  return AllocateSlow(index);
}

inline void ReleaseToChunk(void* address) {
  ChunkHeader* chunk = pool::ChunkOf(address);
  FreeBlock* block = static_cast<FreeBlock*>(address);
  // Poisoned before it is on a list, where another thread may take it.
  sanitizer::Poison(address, static_cast<std::size_t>(chunk->blockSize));
  const ThreadRecord* record = t_record;
  const std::uint32_t self = record != nullptr ? record->threadId : 0;
  if (self != 0 && chunk->owner.load(std::memory_order_relaxed) == self) {
    SetNext(block, chunk->localList);
    chunk->localList = block;
    return;
  }
  FreeBlock* head = chunk->remoteList.load(std::memory_order_relaxed);
  do {
    SetNext(block, head);
  } while (!chunk->remoteList.compare_exchange_weak(head, block, std::memory_order_release, std::memory_order_relaxed));
}

constexpr std::size_t kLargestRequest = static_cast<std::size_t>(-1) - 7;

void Count(std::int64_t delta) {
  MemoryStats& stats = GetMemoryStats();
  stats.total.fetch_add(delta, std::memory_order_relaxed);
  stats.heap.fetch_add(delta, std::memory_order_relaxed);
}

}  // namespace

void* PoolAllocate(std::size_t size) {
  if (size > kLargestRequest) return nullptr;  // rounding would wrap to 0
  const std::size_t asked = size;
  size = (size + 7) & ~static_cast<std::size_t>(7);
  const int index = pool::SlotOf(size);
  void* block = nullptr;
  if (index < 0) {
    block = HeapAllocate(size);
  } else if (!pool::RegionsReleased()) {
    block = AllocateFromSlot(index);
  } else {
    block = std::malloc(size);
  }
  // The bytes asked for become usable; the rounding's slack does not.
  if (block != nullptr) {
    sanitizer::Unpoison(block, asked);
    sanitizer::Poison(static_cast<char*>(block) + asked, size - asked);
  }
  // A failed allocation is not counted: nobody will free it.
  if (block != nullptr) Count(static_cast<std::int64_t>(size));
  return block;
}

void PoolFree(void* block, std::size_t size) {
  if (block == nullptr || size > kLargestRequest) return;
  size = (size + 7) & ~static_cast<std::size_t>(7);
  const int index = pool::SlotOf(size);
  if (index < 0) {
    HeapFree(block, size);
  } else if (!pool::RegionsReleased()) {
    ReleaseToChunk(block);
  } else if (!pool::InRegion(block)) {
    std::free(block);  // served by the heap after the release
  }
  Count(-static_cast<std::int64_t>(size));
}

}  // namespace lumo
