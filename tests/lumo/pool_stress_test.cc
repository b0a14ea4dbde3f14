// Several threads allocate and release blocks that other threads own; no
// block may be handed out while it is live, and none may be damaged.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_set>
#include <vector>

#include "lumo/memory.h"
#include "lumo/pool.h"
#include "lumo/pool_global.h"

namespace {

struct LiveBlock {
  std::uint64_t* block;
  std::size_t size;
  std::uint64_t stamp;
};

class SharedBlocks {
 public:
  // False when the address is already live: handed out twice.
  bool Add(const LiveBlock& live) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_addresses.insert(live.block).second) return false;
    m_blocks.push_back(live);
    return true;
  }
  bool Take(std::uint32_t pick, LiveBlock& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_blocks.empty()) return false;
    const std::size_t index = pick % m_blocks.size();
    out = m_blocks[index];
    m_blocks[index] = m_blocks.back();
    m_blocks.pop_back();
    m_addresses.erase(out.block);
    return true;
  }
  std::size_t Size() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blocks.size();
  }

 private:
  std::mutex m_mutex;
  std::unordered_set<std::uint64_t*> m_addresses;
  std::vector<LiveBlock> m_blocks;
};

void StampBlock(const LiveBlock& live) {
  live.block[0] = live.stamp;
  live.block[1] = ~live.stamp;
  live.block[live.size / 8 - 1] = live.stamp;
}

bool StampIntact(const LiveBlock& live) {
  return live.block[0] == live.stamp && live.block[1] == ~live.stamp && live.block[live.size / 8 - 1] == live.stamp;
}

TEST(PoolStress, CrossThreadReleasesNeverHandOutALiveBlock) {
  constexpr int kThreads = 4;
  constexpr int kOperations = 12000;
  constexpr std::size_t kMaxLive = 300;
  constexpr std::size_t kSizes[] = {0x4000, 0x4000, 0x4000, 0x10000, 0x10000, 0x20000, 48};

  lumo::MemoryStats& stats = lumo::GetMemoryStats();
  const std::int64_t totalBefore = stats.total, heapBefore = stats.heap;
  SharedBlocks shared;
  std::atomic<int> duplicates{0}, damaged{0}, failures{0};
  std::atomic<std::uint64_t> nextStamp{1};

  auto worker = [&](int seed) {
    std::mt19937 random(static_cast<std::uint32_t>(seed) * 7919u + 17u);
    for (int op = 0; op < kOperations; ++op) {
      LiveBlock live;
      const bool allocate = (random() & 1) != 0 && shared.Size() < kMaxLive;
      if (allocate || !shared.Take(static_cast<std::uint32_t>(random()), live)) {
        const std::size_t size = kSizes[random() % std::size(kSizes)];
        void* block = lumo::PoolAllocate(size);
        if (block == nullptr) {
          ++failures;
          continue;
        }
        live = {static_cast<std::uint64_t*>(block), size, nextStamp.fetch_add(1) * 0x9E3779B97F4A7C15ull};
        StampBlock(live);
        if (!shared.Add(live)) ++duplicates;
        continue;
      }
      if (!StampIntact(live)) ++damaged;
      lumo::PoolFree(live.block, live.size);
    }
  };

  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back(worker, i);
  for (std::thread& thread : threads) thread.join();

  LiveBlock live;
  while (shared.Take(0, live)) {
    if (!StampIntact(live)) ++damaged;
    lumo::PoolFree(live.block, live.size);
  }
  EXPECT_EQ(duplicates.load(), 0);
  EXPECT_EQ(damaged.load(), 0);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(stats.total, totalBefore);
  EXPECT_EQ(stats.heap, heapBefore);
}

// After the regions are released at process end, late users (static
// destructors, thread exits) must neither crash nor corrupt: blocks in the
// released regions are dropped and every size is served by the heap.
TEST(PoolShutdownDeathTest, LateUseAfterRegionsAreReleased) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        void* early = lumo::PoolAllocate(0x4000);
        void* other = nullptr;
        std::thread([&] { other = lumo::PoolAllocate(0x20000); }).join();
        lumo::pool::ReleaseRegions();
        lumo::pool::ReleaseRegions();  // idempotent
        lumo::PoolFree(early, 0x4000);
        lumo::PoolFree(other, 0x20000);
        void* late = lumo::PoolAllocate(0x4000);
        if (late == nullptr || lumo::pool::InRegion(late)) std::_Exit(2);
        static_cast<char*>(late)[0x3FFF] = 1;
        lumo::PoolFree(late, 0x4000);
        std::thread([] { lumo::PoolFree(lumo::PoolAllocate(0x10000), 0x10000); }).join();
        std::_Exit(lumo::GetMemoryStats().total == 0 ? 0 : 3);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
