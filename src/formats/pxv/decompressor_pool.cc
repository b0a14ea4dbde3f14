#include "formats/pxv/decompressor_pool.h"

// The custom allocator's entry points are in the library's advanced section.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <cstddef>

#include "lumo/heap_reserve.h"

namespace {

// Holds the critical section for a scope.
class CsLock {
 public:
  explicit CsLock(CRITICAL_SECTION* cs) : m_cs(cs) { EnterCriticalSection(m_cs); }
  ~CsLock() { LeaveCriticalSection(m_cs); }
  CsLock(const CsLock&) = delete;
  CsLock& operator=(const CsLock&) = delete;

 private:
  CRITICAL_SECTION* m_cs;
};

// zstd's buffers come from the large-block reserve: a streamed frame needs
// its window (megabytes), and a host making one thumbnail after another would
// otherwise fault fresh pages in for it each time (on Windows every such
// block is fresh from the system). Each block records its size first.
constexpr std::size_t kSizeWord = alignof(std::max_align_t);

void* ReserveAllocate(void*, std::size_t size) {
  auto* block = static_cast<unsigned char*>(lumo::HeapAllocate(size + kSizeWord));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size + kSizeWord;
  return block + kSizeWord;
}

void ReserveFree(void*, void* address) {
  if (address == nullptr) return;
  unsigned char* block = static_cast<unsigned char*>(address) - kSizeWord;
  lumo::HeapFree(block, *reinterpret_cast<std::size_t*>(block));
}

}  // namespace

DecompressorPool::DecompressorPool() { InitializeCriticalSectionAndSpinCount(&m_cs, 1024); }

DecompressorPool::~DecompressorPool() {
  for (ZSTD_DCtx* context : m_all) ZSTD_freeDCtx(context);
  DeleteCriticalSection(&m_cs);
}

ZSTD_DCtx* DecompressorPool::Take() {
  {
    CsLock lock(&m_cs);
    if (!m_idle.empty()) {
      ZSTD_DCtx* context = m_idle.front();
      m_idle.pop_front();
      return context;
    }
  }
  // Making a context allocates; the lock is not held for it.
  ZSTD_DCtx* context = ZSTD_createDCtx_advanced(ZSTD_customMem{ReserveAllocate, ReserveFree, nullptr});
  if (context == nullptr) return nullptr;
  CsLock lock(&m_cs);
  try {
    m_all.push_back(context);
  } catch (...) {
    ZSTD_freeDCtx(context);
    throw;
  }
  return context;
}

void DecompressorPool::Give(ZSTD_DCtx* context) {
  CsLock lock(&m_cs);
  m_idle.push_back(context);
}

bool DecompressorPool::Decompress(const void* source, std::int32_t sourceSize, void* destination,
                                  std::int32_t destinationCapacity, std::int32_t* written) {
  if (written != nullptr) *written = 0;
  if (sourceSize < 0 || destinationCapacity < 0) return false;
  ZSTD_DCtx* context = Take();
  if (context == nullptr) return false;
  struct GiveBack {
    DecompressorPool* pool;
    ZSTD_DCtx* context;
    // A context that cannot be queued again stays in the list of all
    // contexts and is freed with the pool.
    ~GiveBack() {
      try {
        pool->Give(context);
      } catch (...) {
      }
    }
  } giveBack{this, context};
  const std::size_t result = ZSTD_decompressDCtx(context, destination, static_cast<std::size_t>(destinationCapacity),
                                                 source, static_cast<std::size_t>(sourceSize));
  if (ZSTD_isError(result)) return false;
  if (written != nullptr) *written = static_cast<std::int32_t>(result);
  return true;
}

DecompressorPool::Lease::~Lease() { Release(); }

void DecompressorPool::Lease::Release() {
  if (m_context == nullptr) return;
  ZSTD_DCtx_s* const context = m_context;
  m_context = nullptr;
  ZSTD_DCtx_reset(context, ZSTD_reset_session_and_parameters);
  // A context that cannot be queued again stays in the list of all
  // contexts and is freed with the pool.
  try {
    m_pool.Give(context);
  } catch (...) {
  }
}

std::size_t DecompressorPool::CreatedCount() {
  CsLock lock(&m_cs);
  return m_all.size();
}

std::size_t DecompressorPool::IdleCount() {
  CsLock lock(&m_cs);
  return m_idle.size();
}
