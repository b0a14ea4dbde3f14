// Memory handles: a pixel block of the paged mode, whose memory may be moved
// out to the swap file while nobody holds it locked.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/kernel.h"

namespace lumo {

namespace paged_allocator {
class NormalHandleAllocator;
}

class NMemHandle {
 public:
  // The block's address, valid until the matching Unlock.
  virtual void* Lock() = 0;
  virtual void Unlock() = 0;
  virtual ~NMemHandle() = default;
  virtual bool IsPaged() const = 0;
};

// A block of process-heap memory that never moves.
class HeapHandle final : public NMemHandle {
 public:
  explicit HeapHandle(void* memory) : m_memory(memory) {}
  ~HeapHandle() override;
  HeapHandle(const HeapHandle&) = delete;
  HeapHandle& operator=(const HeapHandle&) = delete;

  void* Lock() override { return m_memory; }
  void Unlock() override {}
  bool IsPaged() const override { return false; }

  void* m_memory;
};

// A unit of the paged allocator: heap memory, a mapped view of its file
// space, or swapped out to that file space alone.
class NormalHandle : public NMemHandle {
 public:
  enum State : std::int32_t { kHeap = 0, kMapped = 1, kSwapped = 2, kDestroyed = 3 };

  NormalHandle(paged_allocator::NormalHandleAllocator* allocator, void* address, std::int64_t size,
               std::int64_t fileOffset, State state);
  // Releases what the unit still holds (heap memory or a view); the
  // allocator, which accounts for it, normally takes both away first.
  ~NormalHandle() override;
  NormalHandle(const NormalHandle&) = delete;
  NormalHandle& operator=(const NormalHandle&) = delete;

  // A swapped-out unit is mapped back (which may first swap out others).
  void* Lock() override;
  void Unlock() override { m_lockCount.fetch_sub(1, std::memory_order_acq_rel); }
  bool IsPaged() const override { return true; }

  void* m_address;
  std::int64_t m_size;
  std::atomic<std::int32_t> m_lockCount{0};
  std::int64_t m_fileOffset;
  std::int32_t m_state;
  paged_allocator::NormalHandleAllocator* m_allocator;
  CRITICAL_SECTION m_cs;
};

// A unit carved into equal slots, one per SlaveHandle.
class MasterHandle final : public NormalHandle {
 public:
  MasterHandle(paged_allocator::NormalHandleAllocator* allocator, void* address, std::int64_t size,
               std::int64_t fileOffset, std::int64_t slaveSize);

  // The offset of the lowest free slot, now taken; throws std::runtime_error
  // "No free slot. Never reached here." when none is free.
  std::int64_t TakeSlot();
  void ReturnSlot(std::int64_t offset);
  // 0: no slot free, 1: some, 2: all (also with no slots at all).
  int Occupancy() const;
  std::int64_t FreeSlots() const;

  std::int64_t m_slaveSize;
  std::int32_t m_slaveCount;
  std::vector<bool> m_freeSlots;  // 1 = free
};

class SlaveHandle final : public NMemHandle {
 public:
  SlaveHandle(MasterHandle* master, std::int64_t offset) : m_master(master), m_offset(offset) {}

  void* Lock() override { return static_cast<std::uint8_t*>(m_master->Lock()) + m_offset; }
  void Unlock() override { m_master->Unlock(); }
  bool IsPaged() const override { return true; }

  MasterHandle* m_master;
  std::int64_t m_offset;
};

}  // namespace lumo
