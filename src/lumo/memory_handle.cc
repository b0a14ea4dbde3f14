#include "lumo/memory_handle.h"

#include <cstdlib>
#include <stdexcept>

#include "lumo/pager.h"
#include "platform/file.h"

namespace lumo {

HeapHandle::~HeapHandle() { std::free(m_memory); }

NormalHandle::NormalHandle(paged_allocator::NormalHandleAllocator* allocator, void* address, std::int64_t size,
                           std::int64_t fileOffset, State state)
    : m_address(address), m_size(size), m_fileOffset(fileOffset), m_state(state), m_allocator(allocator) {
  InitializeCriticalSectionAndSpinCount(&m_cs, 1024);
}

NormalHandle::~NormalHandle() {
  if (m_address != nullptr) {
    if (m_state == kHeap) std::free(m_address);
    if (m_state == kMapped) UnmapViewOfFile(m_address);
  }
  m_state = kDestroyed;
  DeleteCriticalSection(&m_cs);
}

void* NormalHandle::Lock() {
  EnterCriticalSection(&m_cs);
  // Raised first: a pass that sees it skips this unit.
  m_lockCount.fetch_add(1, std::memory_order_acq_rel);
  if (m_state == kSwapped) {
    try {
      if (paged_allocator::Pager::Instance() == nullptr) throw std::runtime_error("The pager has ended.");
      m_allocator->MapBack(*this, GetMemoryStats());
    } catch (...) {
      m_lockCount.fetch_sub(1, std::memory_order_acq_rel);
      LeaveCriticalSection(&m_cs);
      throw;
    }
  }
  void* const address = m_address;
  LeaveCriticalSection(&m_cs);
  return address;
}

MasterHandle::MasterHandle(paged_allocator::NormalHandleAllocator* allocator, void* address, std::int64_t size,
                           std::int64_t fileOffset, std::int64_t slaveSize)
    : NormalHandle(allocator, address, size, fileOffset, kMapped),
      m_slaveSize(slaveSize),
      m_slaveCount(static_cast<std::int32_t>(size / slaveSize)),
      m_freeSlots(static_cast<std::size_t>(m_slaveCount), true) {}

std::int64_t MasterHandle::TakeSlot() {
  for (std::int32_t i = 0; i < m_slaveCount; ++i) {
    if (m_freeSlots[static_cast<std::size_t>(i)]) {
      m_freeSlots[static_cast<std::size_t>(i)] = false;
      return i * m_slaveSize;
    }
  }
  throw std::runtime_error("No free slot. Never reached here.");
}

void MasterHandle::ReturnSlot(std::int64_t offset) {
  const std::int64_t slot = offset / m_slaveSize;
  if (slot >= 0 && slot < m_slaveCount) m_freeSlots[static_cast<std::size_t>(slot)] = true;
}

std::int64_t MasterHandle::FreeSlots() const {
  std::int64_t free = 0;
  for (const bool slot : m_freeSlots) free += slot ? 1 : 0;
  return free;
}

int MasterHandle::Occupancy() const {
  const std::int64_t free = FreeSlots();
  return free == m_slaveCount ? 2 : free == 0 ? 0 : 1;
}

}  // namespace lumo
