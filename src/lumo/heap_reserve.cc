#include "lumo/heap_reserve.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "lumo/sanitizer.h"

namespace lumo {
namespace {

// Only blocks the heap would take from the system are kept, and none larger
// than a large picture: a host should not hold more idle.
constexpr std::size_t kSmallestKept = 512u << 10;
constexpr std::size_t kLargestKept = 32u << 20;
// A kept block is reused only for a request of at least half its size.
constexpr int kSlots = 2;

// Each kept block records its size in its first bytes.
std::atomic<void*> g_kept[kSlots];

// A kept block is poisoned in AddressSanitizer builds, its size word too.
KEZ_NO_ASAN std::size_t KeptSize(const void* block) { return *static_cast<const std::size_t*>(block); }
KEZ_NO_ASAN void SetKeptSize(void* block, std::size_t size) { *static_cast<std::size_t*>(block) = size; }

// Frees what is still kept when the process ends.
struct ReserveRelease {
  ~ReserveRelease() {
    for (auto& slot : g_kept) std::free(slot.exchange(nullptr));
  }
} g_release;

}  // namespace

void* HeapAllocate(std::size_t size) {
  for (auto& slot : g_kept) {
    if (slot.load(std::memory_order_relaxed) == nullptr) continue;
    void* block = slot.exchange(nullptr, std::memory_order_acquire);
    if (block == nullptr) continue;
    const std::size_t kept = KeptSize(block);
    if (kept >= size && kept / 2 <= size) {
      // What lies behind the request stays poisoned.
      sanitizer::Unpoison(block, size);
      return block;
    }
    // Not this request's size: back where it was, or to the heap.
    void* expected = nullptr;
    if (!slot.compare_exchange_strong(expected, block, std::memory_order_release)) std::free(block);
  }
  return std::malloc(size == 0 ? 1 : size);
}

void HeapFree(void* block, std::size_t size) {
  if (block == nullptr) return;
  if (size < kSmallestKept || size > kLargestKept) {
    std::free(block);
    return;
  }
  // Poisoned before another thread can take it from a slot.
  sanitizer::Poison(block, size);
  SetKeptSize(block, size);
  for (auto& slot : g_kept) {
    void* expected = nullptr;
    if (slot.compare_exchange_strong(expected, block, std::memory_order_release)) return;
  }
  // Both kept: the newest stays, the oldest goes.
  std::free(g_kept[0].exchange(block, std::memory_order_acq_rel));
}

}  // namespace lumo
