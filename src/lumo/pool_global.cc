#include "lumo/pool_global.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "lumo/pool_region.h"
#include "platform/process_end.h"
#include "platform/region.h"

namespace lumo::pool {

std::atomic<bool> g_regionsReleased{false};

namespace {

struct RegionEntry {
  void* base;
  RegionHeader* header;
};

struct GlobalPool {
  std::mutex mutex;
  std::vector<RegionEntry> regions;
  // Every region is in exactly one of these two queues until the release.
  IntrusiveQueue<RegionHeader> fresh;      // asked first
  IntrusiveQueue<RegionHeader> exhausted;  // had no chunk when last asked
  // Slow-path misses left before the exhausted regions are walked again.
  std::int64_t skipBudget = 0;
  const std::int64_t skipCap = 10;
};

// Never destroyed: a thread may retire its chunks after static destruction
// has begun, and the release at process end must still find the list.
GlobalPool& Global() {
  static GlobalPool* const pool = new GlobalPool;
  return *pool;
}

// Releases the regions when static objects are destroyed (process end, or
// unloading of the module that holds the library).
struct RegionReleaser {
  ~RegionReleaser() {
    if (!platform::ProcessEnding()) ReleaseRegions();
  }
};
RegionReleaser g_releaser;

ChunkHeader* AddRegion(GlobalPool& pool, std::int64_t blockSize) {
  // Room in the list first, so that a reserved region is never lost.
  if (pool.regions.size() == pool.regions.capacity())
    pool.regions.reserve(pool.regions.capacity() + std::max<std::size_t>(pool.regions.capacity() / 2, 1));
  void* base = platform::ReserveAlignedRegion(kRegionSize, kRegionAlignment);
  RegionHeader* region = nullptr;
  try {
    region = InitRegion(base);
  } catch (...) {
    platform::ReleaseAlignedRegion(base, kRegionSize);
    throw;
  }
  pool.regions.push_back({base, region});
  pool.fresh.push_back(region);
  return TakeChunk(*region, blockSize);
}

}  // namespace

ChunkHeader* AcquireChunk(std::int64_t blockSize) {
  GlobalPool& pool = Global();
  std::lock_guard<std::mutex> lock(pool.mutex);
  if (RegionsReleased()) return nullptr;

  ChunkHeader* chunk = nullptr;
  while (!pool.fresh.empty()) {
    chunk = TakeChunk(*pool.fresh.front(), blockSize);
    if (chunk != nullptr) return chunk;
    pool.exhausted.push_back(pool.fresh.pop_front());
  }

  if (pool.skipBudget > 0) {
    --pool.skipBudget;
  } else {
    // One walk: a region that yields a chunk becomes fresh again; the others
    // keep their order at the back.
    for (std::size_t n = pool.exhausted.size(); n > 0; --n) {
      RegionHeader* region = pool.exhausted.pop_front();
      chunk = TakeChunk(*region, blockSize);
      if (chunk != nullptr) {
        pool.fresh.push_back(region);
        return chunk;
      }
      pool.exhausted.push_back(region);
    }
    pool.skipBudget = std::min<std::int64_t>(pool.skipCap, static_cast<std::int64_t>(pool.exhausted.size() / 5));
  }

  return AddRegion(pool, blockSize);
}

bool InRegion(const void* address) {
  GlobalPool& pool = Global();
  std::lock_guard<std::mutex> lock(pool.mutex);
  const std::uintptr_t base = RegionBaseOf(address);
  return std::any_of(pool.regions.begin(), pool.regions.end(),
                     [base](const RegionEntry& entry) { return reinterpret_cast<std::uintptr_t>(entry.base) == base; });
}

std::size_t RegionCount() {
  GlobalPool& pool = Global();
  std::lock_guard<std::mutex> lock(pool.mutex);
  return pool.regions.size();
}

void ReleaseRegions() noexcept {
  GlobalPool& pool = Global();
  std::lock_guard<std::mutex> lock(pool.mutex);
  if (RegionsReleased()) return;
  g_regionsReleased.store(true, std::memory_order_relaxed);
  while (!pool.fresh.empty()) pool.fresh.pop_front();
  while (!pool.exhausted.empty()) pool.exhausted.pop_front();
  // The entries stay: they tell a late release which blocks to drop.
  for (const RegionEntry& entry : pool.regions) {
    DestroyRegion(entry.header);
    platform::ReleaseAlignedRegion(entry.base, kRegionSize);
  }
}

}  // namespace lumo::pool
