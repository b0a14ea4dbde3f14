// Large committed regions at a chosen power-of-two alignment, for the block
// pools. Reserve and commit happen in one piece.
#pragma once

#include <cstddef>

namespace platform {

// Reserves and commits `size` bytes of zeroed read/write memory whose address
// is a multiple of `alignment` (a power of two, at least the page size).
// Throws std::runtime_error "VirtualAlloc2 not found." when the system lacks
// the aligned reservation call, "FailAlignedAlloc" when the reservation fails.
void* ReserveAlignedRegion(std::size_t size, std::size_t alignment);

// Gives a region from ReserveAlignedRegion back to the system.
void ReleaseAlignedRegion(void* base, std::size_t size);

}  // namespace platform
