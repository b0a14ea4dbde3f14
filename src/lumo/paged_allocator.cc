#include "lumo/paged_allocator.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "lumo/pager.h"
#include "platform/critical_section_guard.h"
#include "platform/file.h"

namespace lumo::paged_allocator {
namespace {

using Guard = platform::CriticalSectionGuard;

void Add(std::atomic<std::int64_t>& counter, std::int64_t bytes) { counter.fetch_add(bytes, std::memory_order_relaxed); }

constexpr std::int64_t kEverything = 0x640000000000;

}  // namespace

HandleAllocator::HandleAllocator(Pager* pager, std::int64_t pagesPerUnit) : m_pager(pager), m_pagesPerUnit(pagesPerUnit) {
  InitializeCriticalSectionAndSpinCount(&m_lock, 1024);
}

HandleAllocator::~HandleAllocator() { DeleteCriticalSection(&m_lock); }

NormalHandle* NormalHandleAllocator::CreateHandle(void* address, std::int64_t fileOffset) {
  return new NormalHandle(this, address, UnitSize(), fileOffset, NormalHandle::kMapped);
}

NormalHandle* MasterHandleAllocator::CreateHandle(void* address, std::int64_t fileOffset) {
  return new MasterHandle(this, address, UnitSize(), fileOffset, m_slaveSize);
}

NMemHandle* NormalHandleAllocator::AllocateUnit(MemoryStats& stats, bool fileBacked) {
  Guard guard(m_lock);
  if (!m_free.empty()) {
    NMemHandle* const unit = m_free.front();
    m_free.pop_front();
    return unit;
  }
  const std::int64_t size = UnitSize();
  std::unique_ptr<NormalHandle> unit;
  if (fileBacked) {
    const Pager::FileSpace space = m_pager->AllocateFileSpace(m_pagesPerUnit);
    try {
      unit.reset(CreateHandle(space.view, space.fileOffset));
    } catch (...) {
      UnmapViewOfFile(space.view);
      m_pager->ReleaseFileSpace(space.fileOffset, m_pagesPerUnit);
      throw;
    }
  } else {
    void* const memory = std::malloc(static_cast<std::size_t>(size));
    if (memory == nullptr) throw std::bad_alloc();
    try {
      unit = std::make_unique<NormalHandle>(this, memory, size, 0, NormalHandle::kHeap);
    } catch (...) {
      std::free(memory);
      throw;
    }
  }
  try {
    m_live.insert(unit.get());
  } catch (...) {
    if (fileBacked) m_pager->ReleaseFileSpace(unit->m_fileOffset, m_pagesPerUnit);
    throw;
  }
  Add(stats.total, size);
  if (!fileBacked) Add(stats.heap, size);
  return unit.release();
}

void NormalHandleAllocator::Free(NMemHandle* handle) {
  Guard guard(m_lock);
  if (m_free.size() >= m_free.max_size()) throw std::length_error("list too long");
  m_free.push_back(handle);
}

std::int64_t NormalHandleAllocator::ReleaseFree(MemoryStats& stats, std::int64_t bytes) {
  if (bytes == 0) return 0;
  Guard guard(m_lock);
  std::int64_t released = 0;
  while (!m_free.empty() && released < bytes) {
    auto* const unit = static_cast<NormalHandle*>(m_free.front());
    const std::int64_t size = unit->m_size;
    switch (unit->m_state) {
      case NormalHandle::kHeap:
        std::free(unit->m_address);
        Add(stats.total, -size);
        Add(stats.heap, -size);
        released += size;
        m_live.erase(unit);
        break;
      case NormalHandle::kMapped:
        m_pager->ReleaseFileSpace(unit->m_fileOffset, m_pagesPerUnit);
        UnmapViewOfFile(unit->m_address);
        Add(stats.total, -size);
        released += size;
        m_live.erase(unit);
        break;
      case NormalHandle::kSwapped:
        m_pager->ReleaseFileSpace(unit->m_fileOffset, m_pagesPerUnit);
        Add(stats.swapped, -size);
        Add(stats.total, -size);
        m_swapped.erase(unit);
        break;
      default:
        throw std::runtime_error("Never reached here.");
    }
    m_free.pop_front();
    unit->m_address = nullptr;  // released above
    delete unit;
  }
  return released;
}

std::int64_t NormalHandleAllocator::SwapOut(MemoryStats& stats, std::int64_t bytes) {
  if (bytes == 0) return 0;
  Guard guard(m_lock);
  std::int64_t copied = 0;
  std::int64_t unmapped = 0;
  std::vector<NormalHandle*> out;
  // Whatever happens part of the way, the units already out are accounted.
  auto account = [&] {
    for (NormalHandle* unit : out) m_swapped.insert(m_live.extract(unit));
    Add(stats.heap, -copied);
    Add(stats.swapped, copied + unmapped);
  };
  try {
    out.reserve(m_live.size());
    for (NMemHandle* handle : m_live) {
      auto* const unit = static_cast<NormalHandle*>(handle);
      if (unit->m_lockCount.load(std::memory_order_acquire) > 0) continue;
      Guard unitGuard(unit->m_cs);
      if (unit->m_lockCount.load(std::memory_order_acquire) > 0) continue;
      if (unit->m_state == NormalHandle::kMapped) {
        UnmapViewOfFile(unit->m_address);
        unmapped += unit->m_size;
      } else if (unit->m_state == NormalHandle::kHeap) {
        // The heap copy is given up only once the file holds the bytes.
        const Pager::FileSpace space = m_pager->AllocateFileSpace(m_pagesPerUnit);
        std::memcpy(space.view, unit->m_address, static_cast<std::size_t>(unit->m_size));
        UnmapViewOfFile(space.view);
        std::free(unit->m_address);
        unit->m_fileOffset = space.fileOffset;
        copied += unit->m_size;
      } else {
        continue;
      }
      unit->m_address = nullptr;
      unit->m_state = NormalHandle::kSwapped;
      out.push_back(unit);
      if (copied + unmapped >= bytes) break;
    }
  } catch (...) {
    account();
    throw;
  }
  account();
  return copied + unmapped;
}

void NormalHandleAllocator::MapBack(NormalHandle& unit, MemoryStats& stats) {
  // Best effort: mapping back needs no new file space, so a pass that fails
  // (a full disk while copying another unit out) must not keep this one out.
  try {
    TrimToResidentLimit(stats);
  } catch (const std::exception&) {
  }
  // Mapped outside the allocators' lock: the view may read its pages from
  // disk, and the unit's own critical section keeps it to this thread.
  void* const view = m_pager->MapView(unit.m_fileOffset, unit.m_size / kPageBytes * kPageBytes);
  Guard guard(m_lock);
  m_live.insert(m_swapped.extract(&unit));
  unit.m_address = view;
  unit.m_state = NormalHandle::kMapped;
  Add(stats.swapped, -unit.m_size);
}

bool NormalHandleAllocator::Purge(MemoryStats& stats) {
  ReleaseFree(stats, kEverything);
  Guard guard(m_lock);
  return m_live.empty() && m_swapped.empty();
}

void NormalHandleAllocator::DumpStats(std::ostream& out) {
  Guard guard(m_lock);
  out << "- Normal " << m_pagesPerUnit * 64 << "KB\n"
      << "  FreeListLen: " << m_free.size() << "\n"
      << "  BookedPaged: " << m_pagesPerUnit * static_cast<std::int64_t>(m_live.size()) * 64 << "KB\n";
}

SlaveHandleAllocator::SlaveHandleAllocator(Pager* pager, std::int64_t masterPages, std::int64_t slaveSize)
    : HandleAllocator(pager, masterPages), m_masters(pager, masterPages, slaveSize), m_slaveSize(slaveSize) {}

NMemHandle* SlaveHandleAllocator::Allocate(MemoryStats& stats) {
  Guard guard(m_masters.m_lock);
  MasterHandle* master = nullptr;
  bool fresh = false;
  if (!m_liveMasters.empty()) {
    master = *m_liveMasters.begin();
  } else {
    master = static_cast<MasterHandle*>(m_masters.Allocate(stats));
    fresh = true;
  }
  if (fresh) {
    try {
      m_liveMasters.insert(master);
    } catch (...) {
      m_masters.Free(master);  // nothing taken from it yet
      throw;
    }
  }
  const std::int64_t offset = master->TakeSlot();
  try {
    auto* const slave = new SlaveHandle(master, offset);
    if (master->Occupancy() == 0) m_liveMasters.erase(master);
    return slave;
  } catch (...) {
    master->ReturnSlot(offset);
    if (fresh) {
      m_liveMasters.erase(master);
      m_masters.Free(master);
    }
    throw;
  }
}

// Slot returns are serialised under the masters' lock: two returns to one
// master must not lose a mark.
void SlaveHandleAllocator::Free(NMemHandle* handle) {
  auto* const slave = static_cast<SlaveHandle*>(handle);
  MasterHandle* const master = slave->m_master;
  Guard guard(m_masters.m_lock);
  const int before = master->Occupancy();
  if (before == 2) throw std::runtime_error("Never reached here.");
  if (before == 0) m_liveMasters.insert(master);  // may throw: nothing changed yet
  master->ReturnSlot(slave->m_offset);
  if (before != 0 && master->Occupancy() == 2) {
    m_liveMasters.erase(master);
    m_masters.Free(master);
  }
  delete slave;
}

bool SlaveHandleAllocator::Purge(MemoryStats& stats) {
  const bool mastersGone = m_masters.Purge(stats);
  Guard guard(m_masters.m_lock);
  return m_liveMasters.empty() && mastersGone;
}

void SlaveHandleAllocator::DumpStats(std::ostream& out) {
  Guard guard(m_masters.m_lock);
  const std::int64_t masterPages = m_masters.m_pagesPerUnit;
  std::int64_t freeSlots = 0;
  for (const MasterHandle* master : m_liveMasters) freeSlots += master->FreeSlots();
  out << "- MasterSlave\n"
      << "  SlaveSize:" << m_slaveSize << "B\n"
      << "  SlaveNumPerMaster: " << masterPages * kPageBytes / m_slaveSize << "\n"
      << "  Master: " << masterPages * 64 << "KB\n"
      << "  FreeListLen: " << m_masters.m_free.size() << "\n"
      << "  BookedPaged: " << masterPages * static_cast<std::int64_t>(m_masters.m_live.size()) * 64 << "KB\n"
      << "  LiveListLen: " << m_liveMasters.size() << "\n"
      << "  FreeTotalInLiveList: " << m_slaveSize * freeSlots << "B\n";
}

}  // namespace lumo::paged_allocator
