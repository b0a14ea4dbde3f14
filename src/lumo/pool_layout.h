// Inside the block pools: the geometry of regions and chunks and the headers
// that live in them. Only the pool's own files (and its tests) include this.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

#include "lumo/sanitizer.h"

namespace lumo::pool {

// A region is 16 MiB at a 16 MiB-aligned address, cut into 8 chunks of 2 MiB,
// so the chunk of a block and the region of a chunk are a mask away.
constexpr std::size_t kRegionSize = 0x1000000;
constexpr std::size_t kRegionAlignment = 0x1000000;
constexpr std::size_t kChunkSize = 0x200000;
constexpr int kChunksPerRegion = 8;
static_assert(kChunkSize * kChunksPerRegion == kRegionSize);

// The sizes served from chunks; every other size goes to the process heap.
constexpr int kSlotCount = 3;
constexpr std::size_t kSlotSizes[kSlotCount] = {0x4000, 0x10000, 0x20000};
constexpr std::size_t kSmallestBlock = kSlotSizes[0];

// The slot serving a size already rounded to 8, or -1 for a heap size.
inline int SlotOf(std::size_t size) {
  switch (size) {
    case 0x4000: return 0;
    case 0x10000: return 1;
    case 0x20000: return 2;
    default: return -1;
  }
}

// A free block's first word links it to the next free block of its list.
// Free blocks are poisoned in AddressSanitizer builds, so the link is read
// and written through these two alone.
struct FreeBlock {
  FreeBlock* next;
};
KEZ_NO_ASAN inline FreeBlock* NextOf(const FreeBlock* block) { return block->next; }
KEZ_NO_ASAN inline void SetNext(FreeBlock* block, FreeBlock* next) { block->next = next; }

// A first-in first-out queue linked through the members' own `queueNext`:
// moving chunks and regions between queues never allocates, so retiring a
// chunk at thread exit cannot fail. An object is in at most one queue at a
// time; its `queueNext` is meaningful only while it is in one.
template <typename T>
class IntrusiveQueue {
 public:
  bool empty() const { return m_head == nullptr; }
  std::size_t size() const { return m_size; }
  T* front() const { return m_head; }
  void push_back(T* item) {
    item->queueNext = nullptr;
    if (m_tail != nullptr) m_tail->queueNext = item; else m_head = item;
    m_tail = item;
    ++m_size;
  }
  T* pop_front() {
    T* item = m_head;
    m_head = item->queueNext;
    if (m_head == nullptr) m_tail = nullptr;
    item->queueNext = nullptr;
    --m_size;
    return item;
  }

 private:
  T* m_head = nullptr;
  T* m_tail = nullptr;
  std::size_t m_size = 0;
};

// At the start of every chunk, inside block 0, which is never handed out.
//
// Invariants, for a chunk that has a block size: each of blocks 1 .. N - 1
// (N = kChunkSize / blockSize) is in exactly one place: handed out, on the
// local list, or on the remote list. Both lists are null-terminated and
// acyclic. Block 0 is on neither list.
struct ChunkHeader {
  // Id of the thread allocating from this chunk; 0 while none does (blank or
  // retired). Set only by the thread that installs the chunk, cleared by its
  // retirement; any releasing thread reads it to choose the list.
  std::atomic<std::uint32_t> owner;
  // Touched only by the owner thread. A retired chunk's local list is frozen
  // until the next owner takes the chunk off a queue under that queue's
  // mutex, which publishes it.
  FreeBlock* localList;
  // Pushed by any thread other than the owner (and by everyone while the
  // chunk is retired) with a compare-and-exchange; only the owner takes it,
  // always whole, by one exchange with null, so pushes never race a pop.
  std::atomic<FreeBlock*> remoteList;
  // Set once when the chunk leaves the blank queue; never changes after.
  std::int64_t blockSize;
  // Link of the one queue (blank, partial or full) the chunk is in, if any.
  ChunkHeader* queueNext;
};

// One per block size per region, created the first time the region is asked
// for a chunk of that size (before a chunk is handed out, so retiring a chunk
// only ever looks its record up).
struct ClassRecord {
  explicit ClassRecord(std::int64_t size) : blockSize(size) {}
  std::int64_t blockSize;
  std::mutex partialMutex;
  std::mutex fullMutex;
  // Retired chunks that had a free block when retired; owner 0. Blocks only
  // ever join a retired chunk, so each of these can serve at least one.
  IntrusiveQueue<ChunkHeader> partial;
  // Retired chunks that had none; releases from other threads may since have
  // given them some, which the next search of the queue finds.
  IntrusiveQueue<ChunkHeader> full;
};

// In block 0 of chunk 0, behind that chunk's own header.
struct RegionHeader {
  std::mutex classMapMutex;
  std::map<std::int64_t, ClassRecord> classMap;
  std::mutex blankMutex;
  // Chunks never yet given a block size; all 8 at creation, in address order.
  IntrusiveQueue<ChunkHeader> blank;
  // Link of the global pool's fresh or exhausted queue.
  RegionHeader* queueNext = nullptr;
};

constexpr std::size_t kRegionHeaderOffset =
    (sizeof(ChunkHeader) + alignof(RegionHeader) - 1) / alignof(RegionHeader) * alignof(RegionHeader);
static_assert(kRegionHeaderOffset + sizeof(RegionHeader) <= kSmallestBlock,
              "the region header must fit in chunk 0's header block");

inline ChunkHeader* ChunkOf(const void* block) {
  return reinterpret_cast<ChunkHeader*>(reinterpret_cast<std::uintptr_t>(block) & ~(kChunkSize - 1));
}

inline std::uintptr_t RegionBaseOf(const void* address) {
  return reinterpret_cast<std::uintptr_t>(address) & ~(kRegionSize - 1);
}

inline RegionHeader* RegionOf(const void* address) {
  return reinterpret_cast<RegionHeader*>(RegionBaseOf(address) + kRegionHeaderOffset);
}

}  // namespace lumo::pool
