// Process-wide memory accounting and the image-memory entry points.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace lumo {

struct MemoryStats {
  std::atomic<std::int64_t> total{0};
  std::atomic<std::int64_t> heap{0};
  std::atomic<std::int64_t> swapped{0};
  // Atomic too: the paged mode reads them from any thread.
  std::atomic<std::int64_t> heapLimit{0x60000000};
  std::atomic<std::uint8_t> defaultsPending{1};
  std::atomic<std::int64_t> residentLimit{0x140000000};
};

MemoryStats& GetMemoryStats();

// Pixel blocks for images; sizes are rounded up to a multiple of 8. Null when
// memory runs out.
void* AllocateImageMemory(std::size_t size);
void FreeImageMemory(void* block, std::size_t size);

}  // namespace lumo
