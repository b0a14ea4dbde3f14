// The pools as threads see them: fresh chunks, retirement, LIFO reuse and
// releases from other threads. Each test builds its own fresh state on a new
// thread.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "lumo/memory.h"
#include "pool_probe.h"

namespace {

using pool_probe::Address;
using pool_probe::CountsOf;
using pool_probe::DrainToFreshRegion;
using pool_probe::OnNewThread;
using pool_probe::RegionOffset;
namespace pool = lumo::pool;

struct PoolClass {
  std::size_t size;
  int usable;  // blocks per chunk, block 0 being the header
};

void PrintTo(const PoolClass& c, std::ostream* os) { *os << c.size << "-byte blocks"; }

class PoolClasses : public testing::TestWithParam<PoolClass> {};

INSTANTIATE_TEST_SUITE_P(Sizes, PoolClasses,
                         testing::Values(PoolClass{0x4000, 127}, PoolClass{0x10000, 31}, PoolClass{0x20000, 15}));

// Every block of a fresh chunk in ascending order, then the next chunk of
// the same region; the exhausted chunk goes to the full queue.
TEST_P(PoolClasses, FreshChunkInAddressOrderThenNextChunkOfSameRegion) {
  const std::size_t size = GetParam().size;
  const int usable = GetParam().usable;
  OnNewThread([&] {
    std::vector<void*> blocks{DrainToFreshRegion(size)};
    ASSERT_NE(blocks[0], nullptr);
    EXPECT_EQ(RegionOffset(blocks[0]), size);  // chunk 0, block 1
    pool::QueueCounts counts = CountsOf(blocks[0], size);
    EXPECT_EQ(counts.blank, 7u);
    EXPECT_EQ(counts.full, 0u);
    for (int i = 1; i < usable; ++i) {
      blocks.push_back(lumo::PoolAllocate(size));
      ASSERT_EQ(Address(blocks[i]), Address(blocks[0]) + i * size) << "block " << i;
    }
    const std::uintptr_t regionBase = Address(blocks[0]) - size;
    void* next = lumo::PoolAllocate(size);  // chunk 0 is exhausted now
    EXPECT_EQ(Address(next), regionBase + pool::kChunkSize + size);
    counts = CountsOf(blocks[0], size);
    EXPECT_EQ(counts.blank, 6u);
    EXPECT_EQ(counts.full, 1u);
    EXPECT_EQ(counts.partial, 0u);
    EXPECT_EQ(pool::ChunkOf(blocks[0])->owner.load(), 0u);
    EXPECT_NE(pool::ChunkOf(next)->owner.load(), 0u);
    EXPECT_EQ(pool::ChunkOf(next)->blockSize, static_cast<std::int64_t>(size));
    for (void* block : blocks) lumo::PoolFree(block, size);
    lumo::PoolFree(next, size);
  });
}

// A block released by another thread waits on the remote list until the
// owner's local list runs dry, and comes back before the chunk is retired.
TEST_P(PoolClasses, RemoteReleaseReappearsOnlyAfterLocalListRunsDry) {
  const std::size_t size = GetParam().size;
  const int usable = GetParam().usable;
  OnNewThread([&] {
    void* first = DrainToFreshRegion(size);
    ASSERT_NE(first, nullptr);
    pool::ChunkHeader* chunk = pool::ChunkOf(first);
    std::thread([&] { lumo::PoolFree(first, size); }).join();
    EXPECT_EQ(chunk->remoteList.load(), first);
    EXPECT_EQ(chunk->localList, static_cast<void*>(static_cast<char*>(first) + size));
    std::vector<void*> blocks;
    for (int i = 1; i < usable; ++i) {
      blocks.push_back(lumo::PoolAllocate(size));
      ASSERT_NE(blocks.back(), first) << "allocation " << i;
      ASSERT_EQ(pool::ChunkOf(blocks.back()), chunk);
    }
    EXPECT_EQ(lumo::PoolAllocate(size), first);
    EXPECT_EQ(chunk->remoteList.load(), nullptr);
    const pool::QueueCounts counts = CountsOf(first, size);
    EXPECT_EQ(counts.blank, 7u);
    EXPECT_EQ(counts.full, 0u);
    lumo::PoolFree(first, size);
    for (void* block : blocks) lumo::PoolFree(block, size);
  });
}

TEST_P(PoolClasses, OwnerReleasesAreReusedLastInFirstOut) {
  const std::size_t size = GetParam().size;
  OnNewThread([&] {
    void* x = DrainToFreshRegion(size);
    ASSERT_NE(x, nullptr);
    void* y = lumo::PoolAllocate(size);
    void* z = lumo::PoolAllocate(size);
    ASSERT_EQ(pool::ChunkOf(x), pool::ChunkOf(z));
    lumo::PoolFree(y, size);
    lumo::PoolFree(x, size);
    EXPECT_EQ(pool::ChunkOf(x)->localList, x);
    EXPECT_EQ(pool::ChunkOf(x)->remoteList.load(), nullptr);
    EXPECT_EQ(lumo::PoolAllocate(size), x);
    EXPECT_EQ(lumo::PoolAllocate(size), y);
    lumo::PoolFree(z, size);
    EXPECT_EQ(lumo::PoolAllocate(size), z);
    for (void* block : {x, y, z}) lumo::PoolFree(block, size);
  });
}

// At thread exit each slot's chunk is retired: with free blocks to the
// partial queue, and a later release into it goes to the remote list.
TEST(PoolThreads, ThreadExitRetiresItsChunks) {
  void* kept = nullptr;
  void* small = nullptr;
  OnNewThread([&] {
    kept = DrainToFreshRegion(0x4000);
    small = lumo::PoolAllocate(0x10000);
  });
  ASSERT_NE(kept, nullptr);
  pool::ChunkHeader* chunk = pool::ChunkOf(kept);
  EXPECT_EQ(chunk->owner.load(), 0u);
  EXPECT_EQ(pool::ChunkOf(small)->owner.load(), 0u);
  const pool::QueueCounts counts = CountsOf(kept, 0x4000);
  EXPECT_EQ(counts.partial, 1u);
  EXPECT_EQ(counts.full, 0u);
  lumo::PoolFree(kept, 0x4000);
  EXPECT_EQ(chunk->remoteList.load(), kept);
  lumo::PoolFree(small, 0x10000);
}

// Constructed before the thread's first pool use, so destroyed after the
// thread's chunks were retired: its allocation must not leave a chunk owned
// by a thread that is gone.
struct LateAllocator {
  void** result = nullptr;
  ~LateAllocator() {
    if (result != nullptr) *result = lumo::PoolAllocate(0x4000);
  }
};
thread_local LateAllocator t_lateAllocator;

TEST(PoolThreads, AllocationDuringThreadExitKeepsNoChunk) {
  void* late = nullptr;
  OnNewThread([&] {
    t_lateAllocator.result = &late;
    lumo::PoolFree(lumo::PoolAllocate(0x4000), 0x4000);
  });
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(pool::ChunkOf(late)->owner.load(), 0u);
  lumo::PoolFree(late, 0x4000);
  EXPECT_EQ(pool::ChunkOf(late)->remoteList.load(), late);
}

// While the owner holds its chunk, a release from elsewhere is a remote push
// and the owner's own release a local one.
TEST(PoolThreads, ReleaseListDependsOnTheReleasingThread) {
  std::mutex mutex;
  std::condition_variable changed;
  int stage = 0;
  void* a = nullptr;
  void* b = nullptr;
  std::thread owner([&] {
    a = DrainToFreshRegion(0x4000);
    b = lumo::PoolAllocate(0x4000);
    std::unique_lock<std::mutex> lock(mutex);
    stage = 1;
    changed.notify_all();
    changed.wait(lock, [&] { return stage == 2; });
    lumo::PoolFree(b, 0x4000);
    EXPECT_EQ(pool::ChunkOf(b)->localList, b);
    EXPECT_EQ(pool::ChunkOf(b)->remoteList.load(), a);
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return stage == 1; });
    pool::ChunkHeader* chunk = pool::ChunkOf(a);
    EXPECT_EQ(chunk, pool::ChunkOf(b));
    void* const localBefore = chunk->localList;
    lumo::PoolFree(a, 0x4000);
    EXPECT_EQ(chunk->remoteList.load(), a);
    EXPECT_EQ(chunk->localList, localBefore);
    stage = 2;
    changed.notify_all();
  }
  owner.join();
}

TEST(PoolThreads, CountersBalanceAcrossThreads) {
  lumo::MemoryStats& stats = lumo::GetMemoryStats();
  const std::int64_t total = stats.total, heap = stats.heap;
  std::vector<void*> blocks;
  OnNewThread([&] {
    for (std::size_t size : {0x4000, 0x10000, 0x20000, 100, 16400}) blocks.push_back(lumo::PoolAllocate(size));
  });
  EXPECT_EQ(stats.total - total, 0x4000 + 0x10000 + 0x20000 + 104 + 16400);
  EXPECT_EQ(stats.heap - heap, stats.total - total);
  const std::size_t sizes[] = {0x4000, 0x10000, 0x20000, 100, 16400};
  for (int i = 0; i < 5; ++i) lumo::PoolFree(blocks[i], sizes[i]);
  EXPECT_EQ(stats.total, total);
  EXPECT_EQ(stats.heap, heap);
}

}  // namespace
