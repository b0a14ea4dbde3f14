#include "platform/region.h"

#include <cstdint>
#include <stdexcept>
#include <sys/mman.h>

namespace platform {

// mmap gives page alignment only: map size + alignment bytes and trim the
// unaligned head and the surplus tail.
void* ReserveAlignedRegion(std::size_t size, std::size_t alignment) {
  const std::size_t span = size + alignment;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::runtime_error("FailAlignedAlloc");
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + alignment - 1) & ~(static_cast<std::uintptr_t>(alignment) - 1);
  const std::size_t head = aligned - start;
  const std::size_t tail = span - head - size;
  if (head != 0) munmap(raw, head);
  if (tail != 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
  return reinterpret_cast<void*>(aligned);
}

void ReleaseAlignedRegion(void* base, std::size_t size) { munmap(base, size); }

}  // namespace platform
