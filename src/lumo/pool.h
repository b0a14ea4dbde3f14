// Size-class block pools: 16, 64 and 128 KiB blocks from thread-owned chunks
// of 16 MiB-aligned regions; every other size from the process heap.
#pragma once

#include <cstddef>

namespace lumo {

// Sizes are rounded up to a multiple of 8 and counted in MemoryStats. Null
// when the process heap fails.
void* PoolAllocate(std::size_t size);
// `size` must be the size given to PoolAllocate.
void PoolFree(void* block, std::size_t size);

}  // namespace lumo
