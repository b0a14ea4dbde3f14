// Block pools against glibc malloc and mimalloc, for the three pool sizes:
// alloc+free pairs on one thread, batches on one thread, and batches
// allocated on one thread and freed on another.
#include <benchmark/benchmark.h>
#include <mimalloc.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <thread>

#include "lumo/pool.h"

namespace {

struct Pool {
  static void* Allocate(std::size_t size) { return lumo::PoolAllocate(size); }
  static void Free(void* block, std::size_t size) { lumo::PoolFree(block, size); }
};

struct Glibc {
  static void* Allocate(std::size_t size) { return std::malloc(size); }
  static void Free(void* block, std::size_t) { std::free(block); }
};

struct Mimalloc {
  static void* Allocate(std::size_t size) { return mi_malloc(size); }
  static void Free(void* block, std::size_t) { mi_free(block); }
};

// The first word is written, as an image's first pixel would be; a pool
// block's first word is also its free-list link.
template <typename Allocator>
void Pairs(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    void* block = Allocator::Allocate(size);
    static_cast<char*>(block)[0] = 1;
    benchmark::DoNotOptimize(block);
    Allocator::Free(block, size);
  }
}

constexpr int kBatch = 64;

template <typename Allocator>
void Batches(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  std::array<void*, kBatch> blocks;
  for (auto _ : state) {
    for (void*& block : blocks) {
      block = Allocator::Allocate(size);
      static_cast<char*>(block)[0] = 1;
    }
    benchmark::DoNotOptimize(blocks.data());
    for (void* block : blocks) Allocator::Free(block, size);
  }
  state.counters["per_block"] = benchmark::Counter(kBatch, benchmark::Counter::kIsIterationInvariantRate |
                                                                     benchmark::Counter::kInvert);
}

// Single-producer single-consumer ring of batches: the benchmark thread
// allocates a batch, a second thread frees it. Waiting threads sleep, and the
// time is the CPU time of both threads, so other load on the machine and the
// hand-over itself weigh little.
template <typename Allocator>
void CrossThread(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  constexpr unsigned kSlots = 4;
  std::array<std::array<void*, kBatch>, kSlots> ring;
  std::atomic<unsigned> produced{0}, consumed{0};
  constexpr unsigned kStop = ~0u;

  std::thread consumer([&] {
    for (unsigned next = 0;; ++next) {
      unsigned seen;
      while ((seen = produced.load(std::memory_order_acquire)) == next) produced.wait(seen);
      if (seen == kStop) return;
      for (void* block : ring[next % kSlots]) Allocator::Free(block, size);
      consumed.store(next + 1, std::memory_order_release);
      consumed.notify_one();
    }
  });

  unsigned next = 0;
  for (auto _ : state) {
    unsigned seen;
    while (next - (seen = consumed.load(std::memory_order_acquire)) >= kSlots) consumed.wait(seen);
    for (void*& block : ring[next % kSlots]) {
      block = Allocator::Allocate(size);
      static_cast<char*>(block)[0] = 1;
    }
    produced.store(++next, std::memory_order_release);
    produced.notify_one();
  }
  // Let the consumer drain the ring, then stop it.
  unsigned seen;
  while ((seen = consumed.load(std::memory_order_acquire)) != next) consumed.wait(seen);
  produced.store(kStop, std::memory_order_release);
  produced.notify_one();
  consumer.join();
  state.counters["per_block"] =
      benchmark::Counter(kBatch, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void Sizes(benchmark::internal::Benchmark* b) { b->Arg(16 << 10)->Arg(64 << 10)->Arg(128 << 10); }

BENCHMARK(Pairs<Pool>)->Apply(Sizes);
BENCHMARK(Pairs<Glibc>)->Apply(Sizes);
BENCHMARK(Pairs<Mimalloc>)->Apply(Sizes);
BENCHMARK(Batches<Pool>)->Apply(Sizes);
BENCHMARK(Batches<Glibc>)->Apply(Sizes);
BENCHMARK(Batches<Mimalloc>)->Apply(Sizes);
BENCHMARK(CrossThread<Pool>)->Apply(Sizes)->MeasureProcessCPUTime();
BENCHMARK(CrossThread<Glibc>)->Apply(Sizes)->MeasureProcessCPUTime();
BENCHMARK(CrossThread<Mimalloc>)->Apply(Sizes)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
