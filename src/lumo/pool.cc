#include "lumo/pool.h"

#include <cstdint>
#include <cstdlib>

#include "lumo/memory.h"
#include "lumo/pool_global.h"
#include "lumo/pool_layout.h"
#include "lumo/pool_region.h"
#include "platform/kernel.h"

namespace lumo {
namespace {

using pool::ChunkHeader;
using pool::FreeBlock;
using pool::kSlotCount;

struct Slot {
  std::int64_t blockSize;
  ChunkHeader* chunk;  // owned by this thread; null until the first use
};

// One per thread. Constant-initialised and trivially destructible, so the
// fast path reaches it with no initialisation check; ThreadReaper retires its
// chunks when the thread ends.
struct ThreadRecord {
  Slot slots[kSlotCount];
  std::uint32_t threadId;  // 0 until the thread first takes a chunk
  bool reaperArmed;
  bool reaped;  // the thread is ending: keep no chunk
};

constinit thread_local ThreadRecord t_record{
    {{0x4000, nullptr}, {0x10000, nullptr}, {0x20000, nullptr}}, 0, false, false};

struct ThreadReaper {
  bool armed = false;
  ~ThreadReaper() {
    ThreadRecord& record = t_record;
    record.reaped = true;
    for (Slot& slot : record.slots) {
      if (slot.chunk != nullptr && !pool::RegionsReleased()) pool::RetireChunk(slot.chunk);
      slot.chunk = nullptr;
    }
  }
};

thread_local ThreadReaper t_reaper;

// Takes the chunk's remote list whole (one exchange) as the new local list
// and pops its head. Owner thread only.
FreeBlock* TakeRemote(ChunkHeader* chunk) {
  if (chunk->remoteList.load(std::memory_order_relaxed) == nullptr) return nullptr;
  FreeBlock* head = chunk->remoteList.exchange(nullptr, std::memory_order_acquire);
  if (head == nullptr) return nullptr;
  chunk->localList = head->next;
  return head;
}

[[gnu::noinline]] void* AllocateSlow(int index) {
  ThreadRecord& record = t_record;
  Slot& slot = record.slots[index];
  if (slot.chunk != nullptr) {
    if (FreeBlock* block = TakeRemote(slot.chunk)) return block;
  }
  if (!record.reaperArmed && !record.reaped) {
    t_reaper.armed = true;  // first use constructs it, so it runs at thread exit
    record.reaperArmed = true;
  }
  if (record.threadId == 0) record.threadId = GetCurrentThreadId();
  if (slot.chunk != nullptr) {
    pool::RetireChunk(slot.chunk);
    slot.chunk = nullptr;
  }
  // A chunk always comes with a free block; the bound only guards that.
  for (int attempt = 0; attempt < 4; ++attempt) {
    ChunkHeader* chunk = pool::AcquireChunk(slot.blockSize);
    if (chunk == nullptr) return std::malloc(static_cast<std::size_t>(slot.blockSize));  // regions released
    chunk->owner.store(record.threadId, std::memory_order_relaxed);
    slot.chunk = chunk;
    FreeBlock* block = chunk->localList;
    if (block != nullptr)
      chunk->localList = block->next;
    else
      block = TakeRemote(chunk);
    if (block == nullptr || record.reaped) {
      // An ending thread has no reaper left to retire the chunk later.
      pool::RetireChunk(chunk);
      slot.chunk = nullptr;
    }
    if (block != nullptr) return block;
  }
  return nullptr;
}

inline void* AllocateFromSlot(int index) {
  if (ChunkHeader* chunk = t_record.slots[index].chunk) {
    if (FreeBlock* block = chunk->localList) {
      chunk->localList = block->next;
      return block;
    }
  }
  return AllocateSlow(index);
}

inline void ReleaseToChunk(void* address) {
  ChunkHeader* chunk = pool::ChunkOf(address);
  FreeBlock* block = static_cast<FreeBlock*>(address);
  const std::uint32_t self = t_record.threadId;
  if (self != 0 && chunk->owner.load(std::memory_order_relaxed) == self) {
    block->next = chunk->localList;
    chunk->localList = block;
    return;
  }
  FreeBlock* head = chunk->remoteList.load(std::memory_order_relaxed);
  do {
    block->next = head;
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
  size = (size + 7) & ~static_cast<std::size_t>(7);
  const int index = pool::SlotOf(size);
  void* block = index >= 0 && !pool::RegionsReleased() ? AllocateFromSlot(index) : std::malloc(size);
  // A failed allocation is not counted: nobody will free it.
  if (block != nullptr) Count(static_cast<std::int64_t>(size));
  return block;
}

void PoolFree(void* block, std::size_t size) {
  if (block == nullptr || size > kLargestRequest) return;
  size = (size + 7) & ~static_cast<std::size_t>(7);
  const int index = pool::SlotOf(size);
  if (index < 0) {
    std::free(block);
  } else if (!pool::RegionsReleased()) {
    ReleaseToChunk(block);
  } else if (!pool::InRegion(block)) {
    std::free(block);  // served by the heap after the release
  }
  Count(-static_cast<std::int64_t>(size));
}

}  // namespace lumo
