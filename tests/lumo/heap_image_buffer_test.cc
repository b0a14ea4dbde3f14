#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <ostream>
#include <stdexcept>

#include "lumo/image_buffer.h"
#include "lumo/memory.h"
#include "lumo/pool_global.h"
#include "lumo/pool_layout.h"

namespace {

using lumo::CHeapImageBuffer32;

std::int64_t Total() { return lumo::GetMemoryStats().total; }

TEST(HeapImageBuffer, NewBufferIsEmptyOverItsInlinePixel) {
  CHeapImageBuffer32 buffer;
  EXPECT_EQ(buffer.Width(), 0);
  EXPECT_EQ(buffer.Height(), 0);
  ASSERT_NE(buffer.Data(), nullptr);
  EXPECT_EQ(buffer.Data()[0], 0u);
  EXPECT_TRUE(buffer.IsAddressable());
}

TEST(HeapImageBuffer, ZeroAndOneByOneAllocateNothing) {
  const std::int64_t before = Total();
  CHeapImageBuffer32 buffer;
  const std::uint32_t* const inlinePixel = buffer.Data();
  EXPECT_TRUE(buffer.Resize(0, 0));
  EXPECT_EQ(buffer.Width(), 0);
  EXPECT_EQ(buffer.Data(), inlinePixel);
  EXPECT_TRUE(buffer.Resize(1, 1));
  EXPECT_EQ(buffer.Width(), 1);
  EXPECT_EQ(buffer.Height(), 1);
  EXPECT_EQ(buffer.Data(), inlinePixel);
  EXPECT_TRUE(buffer.Resize(-4, 0));  // clamps to 1x1
  EXPECT_EQ(buffer.Data(), inlinePixel);
  EXPECT_EQ(Total(), before);
  buffer.Pin();
  buffer.Unpin();
  EXPECT_EQ(buffer.Data(), inlinePixel);
}

struct RequestCase {
  int width, height;
  std::int64_t bytes;
  std::int64_t poolBlock;  // 0: served by the process heap
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.width << "x" << c.height; }

class HeapBufferRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(HeapBufferRequest, ExactBytesFromTheRightPool) {
  const RequestCase& c = GetParam();
  const std::int64_t before = Total();
  {
    CHeapImageBuffer32 buffer;
    ASSERT_TRUE(buffer.Resize(c.width, c.height));
    EXPECT_EQ(Total() - before, c.bytes);
    EXPECT_EQ(lumo::pool::InRegion(buffer.Data()), c.poolBlock != 0);
    if (c.poolBlock != 0) {
      EXPECT_EQ(lumo::pool::ChunkOf(buffer.Data())->blockSize, c.poolBlock);
    }
    buffer.Data()[c.width * c.height - 1] = 1;
  }
  EXPECT_EQ(Total(), before);
}

INSTANTIATE_TEST_SUITE_P(Table, HeapBufferRequest,
                         testing::Values(RequestCase{64, 64, 16384, 0x4000}, RequestCase{128, 128, 65536, 0x10000},
                                         RequestCase{256, 128, 131072, 0x20000}, RequestCase{4096, 1, 16384, 0x4000},
                                         RequestCase{2, 1, 8, 0}, RequestCase{3, 1, 16, 0},
                                         RequestCase{65, 64, 16640, 0}, RequestCase{257, 128, 131584, 0}));

TEST(HeapImageBuffer, ResizeToCurrentSizeKeepsTheBlock) {
  CHeapImageBuffer32 buffer;
  ASSERT_TRUE(buffer.Resize(64, 64));
  std::uint32_t* const block = buffer.Data();
  block[5] = 0xABCDEF01u;
  const std::int64_t before = Total();
  EXPECT_TRUE(buffer.Resize(64, 64));
  EXPECT_EQ(buffer.Data(), block);
  EXPECT_EQ(block[5], 0xABCDEF01u);
  EXPECT_EQ(Total(), before);
}

TEST(HeapImageBuffer, ReleaseGivesTheBlockBackAndForgetsTheSize) {
  const std::int64_t before = Total();
  CHeapImageBuffer32 buffer;
  ASSERT_TRUE(buffer.Resize(64, 64));
  buffer.Release();
  EXPECT_EQ(Total(), before);
  EXPECT_EQ(buffer.Data(), nullptr);
  // The same size again must allocate, not report storage it lacks.
  ASSERT_TRUE(buffer.Resize(64, 64));
  ASSERT_NE(buffer.Data(), nullptr);
  EXPECT_EQ(Total() - before, 16384);
  buffer.Release();
  buffer.Release();  // twice is harmless
  EXPECT_EQ(Total(), before);
  // After a release even 1x1 comes from the heap: the inline pixel is gone.
  ASSERT_TRUE(buffer.Resize(1, 1));
  EXPECT_EQ(Total() - before, 8);
}

TEST(HeapImageBuffer, FailedResizeLeavesInlineOneByOne) {
  const std::int64_t before = Total();
  CHeapImageBuffer32 buffer;
  ASSERT_TRUE(buffer.Resize(64, 64));
  EXPECT_FALSE(buffer.Resize(INT_MAX, INT_MAX));
  EXPECT_EQ(buffer.Width(), 1);
  EXPECT_EQ(buffer.Height(), 1);
  ASSERT_NE(buffer.Data(), nullptr);
  buffer.Data()[0] = 3;
  EXPECT_EQ(Total(), before);
  EXPECT_TRUE(buffer.Resize(1, 1));  // the inline pixel serves 1x1 again
  EXPECT_EQ(Total(), before);
}

TEST(HeapImageBuffer, PixelAddressAlwaysThrows) {
  CHeapImageBuffer32 buffer;
  ASSERT_TRUE(buffer.Resize(8, 8));
  const CHeapImageBuffer32& constant = buffer;
  for (auto access : {+[](CHeapImageBuffer32& b) { (void)b.PixelAddress(0, 0); },
                      +[](CHeapImageBuffer32& b) { (void)static_cast<const CHeapImageBuffer32&>(b).PixelAddress(3, 2); },
                      +[](CHeapImageBuffer32& b) { (void)b.PixelAddress(-1, 100); }}) {
    try {
      access(buffer);
      ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Shuold never called");
    }
  }
  EXPECT_NE(constant.Data(), nullptr);
}

}  // namespace
