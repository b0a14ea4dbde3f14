// Large heap blocks with two kept in reserve. A document's picture and its
// compressed bytes take megabytes, and on Windows every such block is fresh
// pages from the system: a thumbnail host that frees and allocates them per
// document pays a page fault per 4 KiB each time. Two freed blocks are kept
// and reused by the next requests they fit.
#pragma once

#include <cstddef>

namespace lumo {

// At least `size` bytes from the reserve or the process heap; null when the
// heap fails. The contents are unspecified.
void* HeapAllocate(std::size_t size);
// Gives back a block from HeapAllocate; `size` is the size asked for.
void HeapFree(void* block, std::size_t size);

}  // namespace lumo
