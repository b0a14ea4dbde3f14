// The allocators of the paged mode: each hands out and recycles units of one
// size over the pager's swap file, and releases or swaps them out when the
// resident memory is over its limit.
//
// Lock order: the pager's allocators lock, an allocator's lock, a unit's
// critical section, then the pager's free-range or growth lock.
#pragma once

#include <cstdint>
#include <list>
#include <ostream>
#include <set>

#include "lumo/memory.h"
#include "lumo/memory_handle.h"
#include "platform/kernel.h"

namespace lumo::paged_allocator {

class Pager;

class HandleAllocator {
 public:
  HandleAllocator(Pager* pager, std::int64_t pagesPerUnit);
  // Frees the sets and the list, not the units.
  virtual ~HandleAllocator();
  HandleAllocator(const HandleAllocator&) = delete;
  HandleAllocator& operator=(const HandleAllocator&) = delete;

  virtual NMemHandle* Allocate(MemoryStats& stats) = 0;
  virtual void Free(NMemHandle* handle) = 0;
  // Destroys recycled units until `bytes` are released; returns them.
  virtual std::int64_t ReleaseFree(MemoryStats& stats, std::int64_t bytes) = 0;
  // Swaps out unlocked units until `bytes` have left memory; returns them.
  virtual std::int64_t SwapOut(MemoryStats& stats, std::int64_t bytes) = 0;
  // Releases every recycled unit; true when no unit is left.
  virtual bool Purge(MemoryStats& stats) = 0;
  virtual int Kind() const = 0;
  virtual void DumpStats(std::ostream& out) = 0;

  std::int64_t UnitSize() const { return m_pagesPerUnit * 65536; }

  Pager* m_pager;
  std::int64_t m_pagesPerUnit;
  CRITICAL_SECTION m_lock;
  std::set<NMemHandle*> m_live;     // in memory or mapped
  std::set<NMemHandle*> m_swapped;  // only in the file
  std::list<NMemHandle*> m_free;    // returned, kept for reuse, oldest first
};

class NormalHandleAllocator : public HandleAllocator {
 public:
  using HandleAllocator::HandleAllocator;

  NMemHandle* Allocate(MemoryStats& stats) override { return AllocateUnit(stats, true); }
  void Free(NMemHandle* handle) override;
  std::int64_t ReleaseFree(MemoryStats& stats, std::int64_t bytes) override;
  std::int64_t SwapOut(MemoryStats& stats, std::int64_t bytes) override;
  bool Purge(MemoryStats& stats) override;
  int Kind() const override { return 0; }
  void DumpStats(std::ostream& out) override;
  // A new unit over a mapped view of new file space (state 1).
  virtual NormalHandle* CreateHandle(void* address, std::int64_t fileOffset);

  // A recycled unit, or a new one: file-backed, or (only the pager's 64 KiB
  // allocator asks for it) in process-heap memory.
  NMemHandle* AllocateUnit(MemoryStats& stats, bool fileBacked);
  // Maps a swapped-out unit back; the caller holds the unit's critical
  // section and has raised its lock count.
  void MapBack(NormalHandle& unit, MemoryStats& stats);
};

class MasterHandleAllocator final : public NormalHandleAllocator {
 public:
  MasterHandleAllocator(Pager* pager, std::int64_t pagesPerUnit, std::int64_t slaveSize)
      : NormalHandleAllocator(pager, pagesPerUnit), m_slaveSize(slaveSize) {}

  int Kind() const override { return 1; }
  NormalHandle* CreateHandle(void* address, std::int64_t fileOffset) override;

  std::int64_t m_slaveSize;
};

class SlaveHandleAllocator final : public HandleAllocator {
 public:
  SlaveHandleAllocator(Pager* pager, std::int64_t masterPages, std::int64_t slaveSize);

  NMemHandle* Allocate(MemoryStats& stats) override;
  void Free(NMemHandle* handle) override;
  std::int64_t ReleaseFree(MemoryStats& stats, std::int64_t bytes) override {
    return m_masters.ReleaseFree(stats, bytes);
  }
  std::int64_t SwapOut(MemoryStats& stats, std::int64_t bytes) override { return m_masters.SwapOut(stats, bytes); }
  bool Purge(MemoryStats& stats) override;
  int Kind() const override { return 2; }
  void DumpStats(std::ostream& out) override;

  MasterHandleAllocator m_masters;
  std::int64_t m_slaveSize;
  std::set<MasterHandle*> m_liveMasters;  // masters with a free slot
};

}  // namespace lumo::paged_allocator
