// The pager: the one swap file of the process, its space in 64 KiB pages, and
// the allocators of the paged mode, one per unit size.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "lumo/memory.h"
#include "lumo/memory_handle.h"
#include "lumo/paged_allocator.h"
#include "platform/kernel.h"

namespace lumo::paged_allocator {

constexpr std::int64_t kPageBytes = 65536;
constexpr wchar_t kSwapFileName[] = L"_liblumo_pager_.dat";

class Pager {
 public:
  struct FileSpace {
    void* view;
    std::int64_t fileOffset;
  };

  // Created on the first call; null once the process has ended it. Throws
  // std::runtime_error "can't open file: errcode=N" when the swap file
  // cannot be opened, and from then on is null.
  static Pager* Instance();

  NMemHandle* Allocate(std::int64_t size, bool fileBacked);
  void Free(NMemHandle* handle, std::int64_t size);
  void ReleaseFreeAll(MemoryStats& stats);
  void SwapOutAll(MemoryStats& stats);

  // `pages` pages of file space: the first free range that holds them (its
  // last pages), else the file grows by exactly that much. Mapped.
  FileSpace AllocateFileSpace(std::int64_t pages);
  void ReleaseFileSpace(std::int64_t fileOffset, std::int64_t pages);
  void* MapView(std::int64_t fileOffset, std::int64_t bytes);

  // The allocator serving `size` (65536: the 64 KiB one), null if none yet.
  HandleAllocator* AllocatorFor(std::int64_t size);
  // Every allocator's block, the 64 KiB one first.
  void DumpStats(std::ostream& out);

  const std::wstring& Path() const { return m_path; }
  std::int64_t FileSize();
  std::map<std::int64_t, std::int64_t> FreeRanges();

 private:
  friend struct PagerTeardown;
  Pager();
  ~Pager();

  HANDLE m_file;
  std::int64_t m_fileSize = 0;
  std::wstring m_path;
  CRITICAL_SECTION m_growthLock;
  std::map<std::int64_t, std::int64_t> m_freeRanges;  // offset -> pages
  CRITICAL_SECTION m_freeRangeLock;
  NormalHandleAllocator m_64k;
  std::map<std::int64_t, HandleAllocator*> m_allocators;
  CRITICAL_SECTION m_allocatorsLock;
};

// Resident bytes over the limit: release recycled units, then, if still
// over, swap unlocked ones out. The limits come from `stats`.
void TrimToResidentLimit(MemoryStats& stats);
// Writes the default limits once.
void ApplyDefaultLimits(MemoryStats& stats);

}  // namespace lumo::paged_allocator
