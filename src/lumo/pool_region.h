// Regions and chunks of the block pools: formatting a fresh region, asking a
// region for a chunk, and retiring a chunk to its region's queues.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lumo/pool_layout.h"

namespace lumo::pool {

// Builds the headers of a fresh region at `base` (16 MiB-aligned, committed):
// an empty class map and all 8 chunks, blank, in the blank queue. May throw
// std::bad_alloc where an empty map allocates.
RegionHeader* InitRegion(void* base);
// Destroys the headers; the memory itself is the caller's to release.
void DestroyRegion(RegionHeader* region) noexcept;

// A chunk for `blockSize`, in this order: a blank chunk (formatted), a
// partial chunk, a full chunk that other threads have since released into.
// Null when the region has none. The chunk comes back without an owner.
// Throws std::bad_alloc when the size's class record cannot be created.
ChunkHeader* TakeChunk(RegionHeader& region, std::int64_t blockSize);

// Gives up ownership of `chunk` and queues it by whether it has a free block.
void RetireChunk(ChunkHeader* chunk) noexcept;

// Queue lengths of a region for one block size, for tests and diagnostics.
struct QueueCounts {
  std::size_t blank = 0;
  std::size_t partial = 0;
  std::size_t full = 0;
};
QueueCounts CountQueues(RegionHeader& region, std::int64_t blockSize);

}  // namespace lumo::pool
