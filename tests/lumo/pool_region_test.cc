// A region's own rules, on a private region that no thread allocates from:
// blank chunks in address order, then partial chunks, then full chunks that
// have gained free blocks.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumo/pool_layout.h"
#include "lumo/pool_region.h"
#include "platform/region.h"

namespace {

namespace pool = lumo::pool;
using pool::ChunkHeader;
using pool::FreeBlock;

class PrivateRegion : public testing::Test {
 protected:
  void SetUp() override {
    m_base = platform::ReserveAlignedRegion(pool::kRegionSize, pool::kRegionAlignment);
    m_region = pool::InitRegion(m_base);
  }
  void TearDown() override {
    pool::DestroyRegion(m_region);
    platform::ReleaseAlignedRegion(m_base, pool::kRegionSize);
  }

  ChunkHeader* ChunkAt(int index) const {
    return reinterpret_cast<ChunkHeader*>(static_cast<char*>(m_base) + index * pool::kChunkSize);
  }
  pool::ClassRecord& Record(std::int64_t size) { return m_region->classMap.at(size); }
  pool::QueueCounts Counts(std::int64_t size) { return pool::CountQueues(*m_region, size); }

  // Takes every free block off the chunk's local list, as its owner would.
  static std::vector<FreeBlock*> PopAll(ChunkHeader* chunk) {
    std::vector<FreeBlock*> blocks;
    while (FreeBlock* block = chunk->localList) {
      chunk->localList = pool::NextOf(block);
      blocks.push_back(block);
    }
    return blocks;
  }
  // A release from a thread that does not own the chunk.
  static void PushRemote(ChunkHeader* chunk, FreeBlock* block) {
    pool::SetNext(block, chunk->remoteList.load());
    chunk->remoteList.store(block);
  }

  void* m_base = nullptr;
  pool::RegionHeader* m_region = nullptr;
};

TEST_F(PrivateRegion, HeadersSitAtFixedPlaces) {
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(m_base) % pool::kRegionSize, 0u);
  EXPECT_EQ(static_cast<void*>(m_region), static_cast<char*>(m_base) + pool::kRegionHeaderOffset);
  EXPECT_GE(pool::kRegionHeaderOffset, sizeof(ChunkHeader));
  EXPECT_EQ(pool::RegionOf(static_cast<char*>(m_base) + 5 * pool::kChunkSize + 12345), m_region);
  EXPECT_EQ(pool::ChunkOf(static_cast<char*>(m_base) + 3 * pool::kChunkSize + 0x4000), ChunkAt(3));
  EXPECT_EQ(Counts(0x4000).blank, 8u);
  EXPECT_TRUE(m_region->classMap.empty());
}

// Eight blank chunks in address order, each threaded through blocks 1..N-1
// in ascending order; then nothing is left.
TEST_F(PrivateRegion, BlankChunksComeInAddressOrderAndAreThreadedAscending) {
  const std::int64_t sizes[] = {0x4000, 0x10000, 0x20000, 0x4000, 0x4000, 0x20000, 0x10000, 0x4000};
  for (int i = 0; i < 8; ++i) {
    ChunkHeader* chunk = pool::TakeChunk(*m_region, sizes[i]);
    ASSERT_EQ(chunk, ChunkAt(i));
    EXPECT_EQ(chunk->blockSize, sizes[i]);
    EXPECT_EQ(chunk->owner.load(), 0u);
    EXPECT_EQ(chunk->remoteList.load(), nullptr);
    const std::vector<FreeBlock*> blocks = PopAll(chunk);
    ASSERT_EQ(blocks.size(), pool::kChunkSize / sizes[i] - 1);
    for (std::size_t k = 0; k < blocks.size(); ++k)
      ASSERT_EQ(reinterpret_cast<char*>(blocks[k]), reinterpret_cast<char*>(chunk) + (k + 1) * sizes[i]);
  }
  EXPECT_EQ(Counts(0x4000).blank, 0u);
  for (std::int64_t size : {0x4000, 0x10000, 0x20000}) EXPECT_EQ(pool::TakeChunk(*m_region, size), nullptr);
  EXPECT_EQ(m_region->classMap.size(), 3u);
}

TEST_F(PrivateRegion, RetiredChunkIsPartialOrFullByItsFreeBlocks) {
  ChunkHeader* some = pool::TakeChunk(*m_region, 0x4000);
  some->owner = 7;
  some->localList = pool::NextOf(some->localList);  // one block handed out
  ChunkHeader* none = pool::TakeChunk(*m_region, 0x4000);
  none->owner = 7;
  PopAll(none);
  ChunkHeader* remoteOnly = pool::TakeChunk(*m_region, 0x4000);
  std::vector<FreeBlock*> taken = PopAll(remoteOnly);
  PushRemote(remoteOnly, taken[3]);

  pool::RetireChunk(some);
  pool::RetireChunk(none);
  pool::RetireChunk(remoteOnly);
  EXPECT_EQ(some->owner.load(), 0u);
  EXPECT_EQ(none->owner.load(), 0u);
  const pool::QueueCounts counts = Counts(0x4000);
  EXPECT_EQ(counts.partial, 2u);
  EXPECT_EQ(counts.full, 1u);
  EXPECT_EQ(counts.blank, 5u);
  EXPECT_EQ(Record(0x4000).partial.front(), some);
  EXPECT_EQ(Record(0x4000).full.front(), none);
  // Other sizes keep their own records.
  EXPECT_EQ(Counts(0x10000).partial, 0u);
}

// Blank chunks go first; partial chunks come back in retirement order.
TEST_F(PrivateRegion, BlankBeforePartial) {
  ChunkHeader* first = pool::TakeChunk(*m_region, 0x20000);
  pool::RetireChunk(first);  // untouched: partial
  ChunkHeader* second = pool::TakeChunk(*m_region, 0x20000);
  EXPECT_EQ(second, ChunkAt(1));
  pool::RetireChunk(second);
  for (int i = 2; i < 8; ++i) ASSERT_EQ(pool::TakeChunk(*m_region, 0x20000), ChunkAt(i));
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x20000), first);
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x20000), second);
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x20000), nullptr);
}

// A full chunk that other threads released into is found again: the last
// one found is taken, earlier ones become partial, the still-full ones keep
// their order on the full queue.
TEST_F(PrivateRegion, FullQueueSearchFindsLateReleases) {
  ChunkHeader* chunks[8];
  std::vector<FreeBlock*> blocks[8];
  for (int i = 0; i < 8; ++i) {
    chunks[i] = pool::TakeChunk(*m_region, 0x10000);
    blocks[i] = PopAll(chunks[i]);
  }
  for (ChunkHeader* chunk : chunks) pool::RetireChunk(chunk);
  EXPECT_EQ(Counts(0x10000).full, 8u);
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x10000), nullptr);
  EXPECT_EQ(Counts(0x10000).full, 8u);

  PushRemote(chunks[1], blocks[1][0]);
  PushRemote(chunks[4], blocks[4][30]);
  PushRemote(chunks[6], blocks[6][2]);
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x10000), chunks[6]);
  pool::QueueCounts counts = Counts(0x10000);
  EXPECT_EQ(counts.partial, 2u);
  EXPECT_EQ(counts.full, 5u);
  pool::ClassRecord& record = Record(0x10000);
  EXPECT_EQ(record.partial.front(), chunks[1]);
  std::vector<ChunkHeader*> fullOrder;
  for (ChunkHeader* c = record.full.front(); c != nullptr; c = c->queueNext) fullOrder.push_back(c);
  EXPECT_EQ(fullOrder, (std::vector<ChunkHeader*>{chunks[0], chunks[2], chunks[3], chunks[5], chunks[7]}));

  EXPECT_EQ(pool::TakeChunk(*m_region, 0x10000), chunks[1]);
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x10000), chunks[4]);
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x10000), nullptr);
  // The taken chunk's free block is still on its remote list for the owner.
  EXPECT_EQ(chunks[4]->remoteList.load(), blocks[4][30]);
  EXPECT_EQ(chunks[4]->localList, nullptr);
}

// Block sizes never mix: a chunk retired for one size is not handed out for
// another.
TEST_F(PrivateRegion, ClassesAreSeparate) {
  std::vector<ChunkHeader*> taken;
  for (int i = 0; i < 8; ++i) taken.push_back(pool::TakeChunk(*m_region, i < 4 ? 0x4000 : 0x20000));
  pool::RetireChunk(taken[0]);
  pool::RetireChunk(taken[5]);
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x10000), nullptr);
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x20000), taken[5]);
  EXPECT_EQ(pool::TakeChunk(*m_region, 0x4000), taken[0]);
}

}  // namespace
