#include "lumo/memory.h"

#include <exception>

#include "lumo/image.h"
#include "lumo/pool.h"

namespace lumo {
namespace {
// Constant-initialised and trivially destructible, so it can be counted in
// from any static destructor or thread exit.
constinit MemoryStats g_memoryStats;
}  // namespace

MemoryStats& GetMemoryStats() { return g_memoryStats; }

void* AllocateImageMemory(std::size_t size) {
  // In paged mode image memory would be a memory handle; paged storage is
  // not part of this build, so both modes hand out plain pool blocks.
  if (size > static_cast<std::size_t>(-1) - 7) return nullptr;
  size = (size + 7) & ~static_cast<std::size_t>(7);
  try {
    return PoolAllocate(size);
  } catch (const std::exception&) {
    return nullptr;  // callers fall back to their inline store
  }
}

void FreeImageMemory(void* block, std::size_t size) {
  if (size > static_cast<std::size_t>(-1) - 7) return;
  size = (size + 7) & ~static_cast<std::size_t>(7);
  PoolFree(block, size);
}

}  // namespace lumo
