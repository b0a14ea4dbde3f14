// Helpers for the block-pool tests: fresh per-thread state without relying on
// what other tests did to the process-wide pools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "lumo/pool.h"
#include "lumo/pool_global.h"
#include "lumo/pool_layout.h"
#include "lumo/pool_region.h"

namespace pool_probe {

// Runs `body` on a new thread (a new thread record, no chunks) and joins it.
template <typename Body>
void OnNewThread(Body&& body) {
  std::thread thread(std::forward<Body>(body));
  thread.join();
}

inline std::uintptr_t Address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
inline std::uintptr_t RegionOffset(const void* p) { return Address(p) & (lumo::pool::kRegionSize - 1); }

// Allocates blocks of `size` on the calling thread, holding them, until one
// comes from a region reserved for the purpose; the thread's chunk is then
// chunk 0 of that fresh region. Gives the blocks taken on the way back and
// returns that first fresh block (null if no region appeared in time).
inline void* DrainToFreshRegion(std::size_t size) {
  const std::size_t regions = lumo::pool::RegionCount();
  std::vector<void*> held;
  void* fresh = nullptr;
  for (int i = 0; i < 100000 && fresh == nullptr; ++i) {
    void* block = lumo::PoolAllocate(size);
    if (lumo::pool::RegionCount() != regions)
      fresh = block;
    else
      held.push_back(block);
  }
  for (void* block : held) lumo::PoolFree(block, size);
  return fresh;
}

inline lumo::pool::QueueCounts CountsOf(const void* block, std::size_t size) {
  return lumo::pool::CountQueues(*lumo::pool::RegionOf(block), static_cast<std::int64_t>(size));
}

}  // namespace pool_probe
