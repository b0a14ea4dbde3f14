// Reusable zstd decompression contexts: a FIFO of idle contexts under a
// critical section. Contexts are made outside the lock and given back on
// every exit.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/kernel.h"

struct ZSTD_DCtx_s;

class DecompressorPool {
 public:
  DecompressorPool();
  ~DecompressorPool();
  DecompressorPool(const DecompressorPool&) = delete;
  DecompressorPool& operator=(const DecompressorPool&) = delete;

  // Decompresses all frames of `source` into `destination`; true when zstd
  // reports no error. `written`, when given, receives the bytes produced.
  bool Decompress(const void* source, std::int32_t sourceSize, void* destination, std::int32_t destinationCapacity,
                  std::int32_t* written = nullptr);

  // A context of the pool for a decompression driven by the caller (zstd's
  // streaming calls), given back with its session and parameters reset
  // when the lease ends; null when none could be made.
  class Lease {
   public:
    explicit Lease(DecompressorPool& pool) : m_pool(pool), m_context(pool.Take()) {}
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ZSTD_DCtx_s* get() const { return m_context; }
    // Gives the context back before the lease ends (get() is null then).
    void Release();

   private:
    DecompressorPool& m_pool;
    ZSTD_DCtx_s* m_context;
  };

  // Contexts ever made, and those waiting in the queue.
  std::size_t CreatedCount();
  std::size_t IdleCount();

 private:
  ZSTD_DCtx_s* Take();
  void Give(ZSTD_DCtx_s* context);

  CRITICAL_SECTION m_cs;
  std::vector<ZSTD_DCtx_s*> m_all;
  std::deque<ZSTD_DCtx_s*> m_idle;
};
