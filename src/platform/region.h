// Large committed regions at a chosen power-of-two alignment, for the block
// pools. Reserve and commit happen in one piece.
#pragma once

#include <cstddef>

namespace platform {

// Reserves and commits `size` bytes of zeroed read/write memory whose address
// is a multiple of `alignment` (a power of two, at least the page size).
// Throws std::runtime_error "FailAlignedAlloc" when the reservation fails.
// On Windows VirtualAlloc2 is used where the system has it, and a plain
// reservation at an aligned address where it does not.
void* ReserveAlignedRegion(std::size_t size, std::size_t alignment);

// Gives a region from ReserveAlignedRegion back to the system.
void ReleaseAlignedRegion(void* base, std::size_t size);

}  // namespace platform
