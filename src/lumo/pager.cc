#include "lumo/pager.h"

#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "platform/critical_section_guard.h"
#include "platform/file.h"

namespace lumo::paged_allocator {
namespace {

using Guard = platform::CriticalSectionGuard;

std::mutex g_createLock;
std::atomic<Pager*> g_pager{nullptr};
std::atomic<bool> g_created{false};
bool g_ended = false;  // under g_createLock
bool g_failed = false;  // under g_createLock: the swap file could not be opened

std::int64_t Resident(const MemoryStats& stats) { return stats.total.load() - stats.swapped.load(); }

std::int64_t ResidentLimit(MemoryStats& stats) {
  ApplyDefaultLimits(stats);
  return stats.residentLimit.load(std::memory_order_relaxed);
}

// What a pass asks of one allocator: down to 80% of the resident limit.
std::int64_t TrimTarget(MemoryStats& stats) {
  const std::int64_t limit = ResidentLimit(stats);
  const std::int64_t resident = Resident(stats);
  return resident > limit ? resident - limit * 8 / 10 : 0;
}

std::unique_ptr<HandleAllocator> MakeAllocator(Pager* pager, std::int64_t size) {
  const std::int64_t pages = (size + kPageBytes - 1) / kPageBytes;
  if (size >= 0xA0000) return std::make_unique<NormalHandleAllocator>(pager, pages);
  if (size <= kPageBytes || size % kPageBytes != 0) {
    const bool dividesPage = size < kPageBytes && kPageBytes % size == 0;
    const std::int64_t masterPages = dividesPage ? 1 : (size * 10 + kPageBytes - 1) / kPageBytes;
    return std::make_unique<SlaveHandleAllocator>(pager, masterPages, size);
  }
  return std::make_unique<NormalHandleAllocator>(pager, size / kPageBytes);
}

}  // namespace

// Ends the pager with the process: objects made before its first use are
// destroyed after it, and find it gone.
struct PagerTeardown {
  PagerTeardown() = default;
  PagerTeardown(const PagerTeardown&) = delete;
  PagerTeardown& operator=(const PagerTeardown&) = delete;
  ~PagerTeardown() {
    std::lock_guard<std::mutex> lock(g_createLock);
    g_ended = true;
    delete g_pager.exchange(nullptr);
  }
};

void ApplyDefaultLimits(MemoryStats& stats) {
  std::atomic<std::uint8_t>& pending = stats.defaultsPending;
  if (pending.load(std::memory_order_acquire) == 0) return;
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  if (pending.load(std::memory_order_relaxed) == 0) return;
  stats.heapLimit.store(0x60000000, std::memory_order_relaxed);
  stats.residentLimit.store(0x140000000, std::memory_order_relaxed);
  pending.store(0, std::memory_order_release);
}

void TrimToResidentLimit(MemoryStats& stats) {
  if (Resident(stats) <= ResidentLimit(stats)) return;
  Pager* const pager = Pager::Instance();
  if (pager == nullptr) return;
  pager->ReleaseFreeAll(stats);
  if (Resident(stats) > ResidentLimit(stats)) pager->SwapOutAll(stats);
}

Pager* Pager::Instance() {
  if (g_created.load(std::memory_order_acquire)) return g_pager.load(std::memory_order_acquire);
  std::lock_guard<std::mutex> lock(g_createLock);
  if (g_created.load(std::memory_order_relaxed) || g_ended || g_failed) return g_pager.load(std::memory_order_relaxed);
  static PagerTeardown teardown;
  Pager* pager = nullptr;
  try {
    pager = new Pager();
  } catch (...) {
    g_failed = true;  // not retried: later calls find no pager
    throw;
  }
  g_pager.store(pager, std::memory_order_release);
  g_created.store(true, std::memory_order_release);
  return pager;
}

Pager::Pager() : m_64k(this, 1) {
  WCHAR directory[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, directory);
  // 0 (or a directory too long for the buffer): the current directory.
  if (length == 0 || length >= MAX_PATH) directory[0] = L'\0';
  m_path = std::wstring(directory) + kSwapFileName;
  // A left-over of an earlier process.
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(m_path.c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    FindClose(find);
    DeleteFileW(m_path.c_str());
  }
  m_file = CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (m_file == INVALID_HANDLE_VALUE) throw std::runtime_error("can't open file: errcode=" + std::to_string(GetLastError()));
  InitializeCriticalSectionAndSpinCount(&m_growthLock, 1024);
  InitializeCriticalSectionAndSpinCount(&m_freeRangeLock, 1024);
  InitializeCriticalSectionAndSpinCount(&m_allocatorsLock, 1024);
}

// Recycled units go with their allocators, so that their views do not keep
// the file from being deleted; units still in use stay as they are (a file
// they keep alive is deleted by the next process).
Pager::~Pager() {
  MemoryStats& stats = GetMemoryStats();
  for (auto& [size, allocator] : m_allocators) {
    try {
      allocator->ReleaseFree(stats, 0x640000000000);
    } catch (...) {
    }
    delete allocator;
  }
  try {
    m_64k.ReleaseFree(stats, 0x640000000000);
  } catch (...) {
  }
  CloseHandle(m_file);
  DeleteFileW(m_path.c_str());
  DeleteCriticalSection(&m_allocatorsLock);
  DeleteCriticalSection(&m_freeRangeLock);
  DeleteCriticalSection(&m_growthLock);
}

NMemHandle* Pager::Allocate(std::int64_t size, bool fileBacked) {
  MemoryStats& stats = GetMemoryStats();
  if (size == kPageBytes) return m_64k.AllocateUnit(stats, fileBacked);
  if (size <= 0) throw std::invalid_argument("Pager::Allocate: size " + std::to_string(size));
  Guard guard(m_allocatorsLock);
  auto found = m_allocators.find(size);
  if (found == m_allocators.end()) {
    std::unique_ptr<HandleAllocator> allocator = MakeAllocator(this, size);
    found = m_allocators.emplace(size, allocator.get()).first;
    allocator.release();
  }
  return found->second->Allocate(stats);
}

// A size that no allocator serves (the caller's mistake) returns the unit to
// the allocator it came from.
void Pager::Free(NMemHandle* handle, std::int64_t size) {
  if (size == kPageBytes) {
    m_64k.Free(handle);
    return;
  }
  Guard guard(m_allocatorsLock);
  if (const auto found = m_allocators.find(size); found != m_allocators.end()) {
    found->second->Free(handle);
    return;
  }
  const auto* slave = dynamic_cast<const SlaveHandle*>(handle);
  const auto* unit = dynamic_cast<const NormalHandle*>(handle);
  for (const auto& [unitSize, allocator] : m_allocators) {
    const auto* slaves = dynamic_cast<SlaveHandleAllocator*>(allocator);
    if ((slave != nullptr && slaves != nullptr && &slaves->m_masters == slave->m_master->m_allocator) ||
        (unit != nullptr && allocator == unit->m_allocator)) {
      allocator->Free(handle);
      return;
    }
  }
  if (unit != nullptr && unit->m_allocator == &m_64k) return m_64k.Free(handle);
  throw std::invalid_argument("Pager::Free: a handle of no allocator");
}

void Pager::ReleaseFreeAll(MemoryStats& stats) {
  Guard guard(m_allocatorsLock);
  for (auto& [size, allocator] : m_allocators) allocator->ReleaseFree(stats, TrimTarget(stats));
  m_64k.ReleaseFree(stats, TrimTarget(stats));
}

void Pager::SwapOutAll(MemoryStats& stats) {
  Guard guard(m_allocatorsLock);
  m_64k.SwapOut(stats, TrimTarget(stats));
  for (auto& [size, allocator] : m_allocators) allocator->SwapOut(stats, TrimTarget(stats));
}

Pager::FileSpace Pager::AllocateFileSpace(std::int64_t pages) {
  const std::int64_t bytes = pages * kPageBytes;
  std::int64_t offset = -1;
  {
    Guard guard(m_freeRangeLock);
    for (auto range = m_freeRanges.begin(); range != m_freeRanges.end(); ++range) {
      if (range->second < pages) continue;
      if (range->second == pages) {
        offset = range->first;
        m_freeRanges.erase(range);
      } else {
        range->second -= pages;
        offset = range->first + range->second * kPageBytes;
      }
      break;
    }
  }
  if (offset < 0) {
    Guard guard(m_growthLock);
    LARGE_INTEGER end;
    end.QuadPart = m_fileSize + bytes;
    if (!SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(m_file))
      throw std::runtime_error("fail to enlarge file.");
    offset = m_fileSize;
    m_fileSize += bytes;
  }
  try {
    return {MapView(offset, bytes), offset};
  } catch (...) {
    ReleaseFileSpace(offset, pages);
    throw;
  }
}

// Merged with the ranges that end at `fileOffset` and start right after it,
// without allocating where a neighbour takes it in.
void Pager::ReleaseFileSpace(std::int64_t fileOffset, std::int64_t pages) {
  const std::int64_t end = fileOffset + pages * kPageBytes;
  Guard guard(m_freeRangeLock);
  auto next = m_freeRanges.lower_bound(fileOffset);
  const bool joinsNext = next != m_freeRanges.end() && next->first == end;
  if (next != m_freeRanges.begin()) {
    const auto previous = std::prev(next);
    if (previous->first + previous->second * kPageBytes == fileOffset) {
      previous->second += pages;
      if (joinsNext) {
        previous->second += next->second;
        m_freeRanges.erase(next);
      }
      return;
    }
  }
  if (joinsNext) {
    auto node = m_freeRanges.extract(next);
    node.key() = fileOffset;
    node.mapped() += pages;
    m_freeRanges.insert(std::move(node));
    return;
  }
  m_freeRanges.emplace(fileOffset, pages);
}

void* Pager::MapView(std::int64_t fileOffset, std::int64_t bytes) {
  const HANDLE mapping = CreateFileMappingW(m_file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
  if (mapping == nullptr) throw std::runtime_error("fail to map file.");
  void* const view = MapViewOfFileEx(mapping, FILE_MAP_WRITE, static_cast<DWORD>(fileOffset >> 32),
                                     static_cast<DWORD>(fileOffset), static_cast<SIZE_T>(bytes), nullptr);
  CloseHandle(mapping);  // the view keeps the mapping alive
  if (view == nullptr) throw std::runtime_error("fail to map file2.");
  return view;
}

HandleAllocator* Pager::AllocatorFor(std::int64_t size) {
  if (size == kPageBytes) return &m_64k;
  Guard guard(m_allocatorsLock);
  const auto found = m_allocators.find(size);
  return found != m_allocators.end() ? found->second : nullptr;
}

void Pager::DumpStats(std::ostream& out) {
  Guard guard(m_allocatorsLock);
  m_64k.DumpStats(out);
  for (auto& [size, allocator] : m_allocators) allocator->DumpStats(out);
}

std::int64_t Pager::FileSize() {
  Guard guard(m_growthLock);
  return m_fileSize;
}

std::map<std::int64_t, std::int64_t> Pager::FreeRanges() {
  Guard guard(m_freeRangeLock);
  return m_freeRanges;
}

}  // namespace lumo::paged_allocator
