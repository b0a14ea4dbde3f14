#include "lumo/memory.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <utility>

#include "lumo/heap_reserve.h"
#include "lumo/pool.h"
#include "lumo/pool_global.h"
#include "lumo/pool_layout.h"

namespace {

struct SizeCase {
  std::size_t request;
  std::int64_t counted;    // bytes added to total and heap
  std::int64_t poolBlock;  // block size of the serving pool, 0 for the heap
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.request << " bytes"; }

class PoolSizes : public testing::TestWithParam<SizeCase> {};

void ExpectServedAs(const void* block, const SizeCase& c) {
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(lumo::pool::InRegion(block), c.poolBlock != 0);
  if (c.poolBlock == 0) return;
  const auto offset = reinterpret_cast<std::uintptr_t>(block) & (lumo::pool::kChunkSize - 1);
  EXPECT_EQ(lumo::pool::ChunkOf(block)->blockSize, c.poolBlock);
  EXPECT_EQ(offset % static_cast<std::uintptr_t>(c.poolBlock), 0u);
  EXPECT_NE(offset, 0u);  // block 0 holds the chunk header
}

TEST_P(PoolSizes, PoolAllocateRoundsAndCounts) {
  const SizeCase& c = GetParam();
  lumo::MemoryStats& stats = lumo::GetMemoryStats();
  const std::int64_t total = stats.total, heap = stats.heap, swapped = stats.swapped;
  void* block = lumo::PoolAllocate(c.request);
  EXPECT_EQ(stats.total - total, c.counted);
  EXPECT_EQ(stats.heap - heap, c.counted);
  ExpectServedAs(block, c);
  std::memset(block, 0x5A, c.request);
  lumo::PoolFree(block, c.request);
  EXPECT_EQ(stats.total, total);
  EXPECT_EQ(stats.heap, heap);
  EXPECT_EQ(stats.swapped, swapped);
}

TEST_P(PoolSizes, ImageMemoryIsThePoolInDefaultMode) {
  const SizeCase& c = GetParam();
  lumo::MemoryStats& stats = lumo::GetMemoryStats();
  const std::int64_t total = stats.total;
  void* block = lumo::AllocateImageMemory(c.request);
  EXPECT_EQ(stats.total - total, c.counted);
  ExpectServedAs(block, c);
  lumo::FreeImageMemory(block, c.request);
  EXPECT_EQ(stats.total, total);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PoolSizes,
    testing::Values(SizeCase{1, 8, 0}, SizeCase{8, 8, 0}, SizeCase{9, 16, 0}, SizeCase{16377, 16384, 0x4000},
                    SizeCase{16380, 16384, 0x4000}, SizeCase{16384, 16384, 0x4000}, SizeCase{16385, 16392, 0},
                    SizeCase{16400, 16400, 0}, SizeCase{65529, 65536, 0x10000}, SizeCase{65536, 65536, 0x10000},
                    SizeCase{65537, 65544, 0}, SizeCase{131072, 131072, 0x20000}, SizeCase{131073, 131080, 0},
                    SizeCase{32768, 32768, 0}, SizeCase{262144, 262144, 0}));

TEST(Memory, DefaultLimits) {
  const lumo::MemoryStats& stats = lumo::GetMemoryStats();
  EXPECT_EQ(stats.heapLimit, 0x60000000);
  EXPECT_EQ(stats.residentLimit, 0x140000000);
  EXPECT_EQ(stats.defaultsPending, 1);
  EXPECT_EQ(stats.swapped, 0);
}

// A size whose rounding would wrap to 0 must fail, not hand out a tiny block.
TEST(Memory, UnroundableSizesFailUncounted) {
  lumo::MemoryStats& stats = lumo::GetMemoryStats();
  const std::int64_t total = stats.total;
  for (std::size_t size : {SIZE_MAX, SIZE_MAX - 6, SIZE_MAX - 1}) {
    EXPECT_EQ(lumo::PoolAllocate(size), nullptr) << size;
    EXPECT_EQ(lumo::AllocateImageMemory(size), nullptr) << size;
  }
  EXPECT_EQ(stats.total, total);
}

TEST(Memory, ReleasingNullChangesNothing) {
  lumo::MemoryStats& stats = lumo::GetMemoryStats();
  const std::int64_t total = stats.total;
  for (std::size_t size : {std::size_t{0}, std::size_t{24}, std::size_t{0x4000}, std::size_t{0x10000}}) {
    lumo::PoolFree(nullptr, size);
    lumo::FreeImageMemory(nullptr, size);
  }
  EXPECT_EQ(stats.total, total);
}

}  // namespace

TEST(HeapReserve, LargeBlocksAreReusedByRequestsTheyFit) {
  constexpr std::size_t kMiB = 1u << 20;
  void* a = lumo::HeapAllocate(4 * kMiB);
  void* b = lumo::HeapAllocate(2 * kMiB);
  lumo::HeapFree(a, 4 * kMiB);
  lumo::HeapFree(b, 2 * kMiB);
  // Too large for either, and less than half of the larger: fresh blocks.
  void* c = lumo::HeapAllocate(5 * kMiB);
  void* d = lumo::HeapAllocate(kMiB - 1);
  EXPECT_NE(c, a);
  EXPECT_NE(c, b);
  EXPECT_NE(d, b);
  // Each kept block serves a request it fits, and both were still kept.
  EXPECT_EQ(lumo::HeapAllocate(4 * kMiB - 8), a);
  EXPECT_EQ(lumo::HeapAllocate(2 * kMiB), b);
  for (auto [block, size] : {std::pair{a, 4 * kMiB - 8}, {b, 2 * kMiB}, {c, 5 * kMiB}, {d, kMiB - 1}})
    lumo::HeapFree(block, size);
}
