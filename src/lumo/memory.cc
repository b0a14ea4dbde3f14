#include "lumo/memory.h"

#include <cstdlib>
#include <exception>
#include <memory>

#include "lumo/image.h"
#include "lumo/memory_handle.h"
#include "lumo/pager.h"
#include "lumo/pool.h"

namespace lumo {
namespace {
// Constant-initialised and trivially destructible, so it can be counted in
// from any static destructor or thread exit.
constinit MemoryStats g_memoryStats;

void Add(std::atomic<std::int64_t>& counter, std::int64_t bytes) { counter.fetch_add(bytes, std::memory_order_relaxed); }

// The pager, or null when it has ended or cannot be had (its swap file cannot
// be opened; creation is not retried).
paged_allocator::Pager* PagerIfAny() {
  try {
    return paged_allocator::Pager::Instance();
  } catch (const std::exception&) {
    return nullptr;
  }
}

// Paged mode: 64 KiB blocks are the pager's units (file-backed once the heap
// is over its limit); every other size, and every size without a pager, is a
// handle over plain heap memory that never moves.
void* AllocatePaged(std::size_t size) {
  MemoryStats& stats = g_memoryStats;
  paged_allocator::TrimToResidentLimit(stats);
  if (size == static_cast<std::size_t>(paged_allocator::kPageBytes)) {
    if (paged_allocator::Pager* const pager = PagerIfAny()) {
      paged_allocator::ApplyDefaultLimits(stats);
      const bool fileBacked = stats.heap.load() > stats.heapLimit.load();
      return pager->Allocate(paged_allocator::kPageBytes, fileBacked);
    }
  }
  void* const memory = std::malloc(size);
  if (memory == nullptr) return nullptr;
  std::unique_ptr<void, decltype(&std::free)> owned(memory, &std::free);
  auto* const handle = new HeapHandle(memory);
  owned.release();
  Add(stats.total, static_cast<std::int64_t>(size));
  Add(stats.heap, static_cast<std::int64_t>(size));
  return handle;
}

// Only the pager's units go back to it; a heap handle is freed here, with or
// without a pager.
void FreePaged(void* block, std::size_t size) {
  auto* const handle = static_cast<NMemHandle*>(block);
  if (!handle->IsPaged()) {
    delete handle;
    Add(g_memoryStats.total, -static_cast<std::int64_t>(size));
    Add(g_memoryStats.heap, -static_cast<std::int64_t>(size));
    return;
  }
  if (paged_allocator::Pager* const pager = PagerIfAny()) {
    pager->Free(handle, static_cast<std::int64_t>(size));
  } else {
    delete handle;  // the pager has ended
  }
}

}  // namespace

MemoryStats& GetMemoryStats() { return g_memoryStats; }

void* AllocateImageMemory(std::size_t size) {
  if (size > static_cast<std::size_t>(-1) - 7) return nullptr;
  size = (size + 7) & ~static_cast<std::size_t>(7);
  try {
    return g_pagedMemory ? AllocatePaged(size) : PoolAllocate(size);
  } catch (const std::exception&) {
    return nullptr;  // callers fall back to their inline store
  }
}

// Never throws: it runs in destructors. A handle the pager refuses (a
// mistake of the caller's) is left alone rather than freed twice.
void FreeImageMemory(void* block, std::size_t size) {
  if (block == nullptr || size > static_cast<std::size_t>(-1) - 7) return;
  size = (size + 7) & ~static_cast<std::size_t>(7);
  if (!g_pagedMemory) {
    PoolFree(block, size);
    return;
  }
  try {
    FreePaged(block, size);
  } catch (const std::exception&) {
  }
}

}  // namespace lumo
