#include "lumo/pool.h"

#include <cstdlib>

#include "lumo/memory.h"

namespace lumo {

void* PoolAllocate(std::size_t size) {
  if (size > static_cast<std::size_t>(-1) - 7) return nullptr;
  size = (size + 7) & ~static_cast<std::size_t>(7);
  void* block = std::malloc(size);
  if (block == nullptr) return nullptr;
  MemoryStats& stats = GetMemoryStats();
  stats.total.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed);
  stats.heap.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed);
  return block;
}

void PoolFree(void* block, std::size_t size) {
  if (block == nullptr) return;
  size = (size + 7) & ~static_cast<std::size_t>(7);
  std::free(block);
  MemoryStats& stats = GetMemoryStats();
  stats.total.fetch_sub(static_cast<std::int64_t>(size), std::memory_order_relaxed);
  stats.heap.fetch_sub(static_cast<std::int64_t>(size), std::memory_order_relaxed);
}

}  // namespace lumo
