// The process-wide side of the block pools: the regions and the search for a
// chunk when a thread's own one runs dry.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "lumo/pool_layout.h"

namespace lumo::pool {

// Set once the regions have been released at process end. From then on the
// pools serve nothing: every size goes to the process heap, and releases into
// the released regions are dropped.
extern std::atomic<bool> g_regionsReleased;
inline bool RegionsReleased() { return g_regionsReleased.load(std::memory_order_relaxed); }

// A chunk for `blockSize`, without an owner: from the fresh regions, then,
// within the skip budget, from the exhausted ones, else from a new region.
// Null once the regions have been released. Throws std::runtime_error
// "FailAlignedAlloc" when a region cannot be reserved, std::bad_alloc when
// bookkeeping cannot grow.
ChunkHeader* AcquireChunk(std::int64_t blockSize);

// Whether `address` lies in one of the regions reserved so far (after the
// release: lay in one of them).
bool InRegion(const void* address);

// Regions reserved so far, for tests and diagnostics.
std::size_t RegionCount();

// Releases every region; later pool use is served by the process heap. Runs
// at process end; exposed for that alone.
void ReleaseRegions() noexcept;

}  // namespace lumo::pool
