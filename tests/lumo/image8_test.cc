#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "lumo/image.h"
#include "lumo/memory.h"

namespace {

using lumo::CImage8;

const std::uint8_t* InlineOf(const CImage8& image) { return reinterpret_cast<const std::uint8_t*>(&image.m_inline); }

std::int64_t Total() { return lumo::GetMemoryStats().total; }

TEST(Image8, NewImageUsesInlineStore) {
  CImage8 image;
  EXPECT_EQ(image.m_width, 1);
  EXPECT_EQ(image.m_height, 1);
  EXPECT_EQ(image.m_rowBytes, 1);
  EXPECT_EQ(image.m_isPow2, 1);
  EXPECT_EQ(image.m_pixels, InlineOf(image));
  EXPECT_EQ(image.m_block, nullptr);
  EXPECT_TRUE(image.IsReady());
}

TEST(Image8, ResizeAllocatesPixelCountRoundedToEight) {
  const std::int64_t before = Total();
  {
    CImage8 image;
    image.Resize(1, 1);  // same size: stays inline
    EXPECT_EQ(image.m_pixels, InlineOf(image));
    EXPECT_EQ(Total(), before);

    image.Resize(3, 5);
    EXPECT_EQ(Total() - before, 16);
    EXPECT_EQ(image.m_rowBytes, 3);
    EXPECT_EQ(image.m_isPow2, 0);
    ASSERT_NE(image.m_block, nullptr);
    EXPECT_EQ(image.m_pixels, image.m_block);
    void* const block = image.m_block;
    image.Resize(3, 5);
    EXPECT_EQ(image.m_block, block);

    image.Resize(128, 128);  // 16 KiB: a pool block
    EXPECT_EQ(Total() - before, 16384);
    EXPECT_EQ(image.m_rowBytes, 128);
    EXPECT_EQ(image.m_isPow2, 1);

    image.Resize(1, 1);  // the inline store is only for a new image
    EXPECT_EQ(Total() - before, 8);
    EXPECT_NE(image.m_pixels, InlineOf(image));
    EXPECT_EQ(image.m_width, 1);
  }
  EXPECT_EQ(Total(), before);
}

TEST(Image8, FillWritesEveryByte) {
  for (auto [w, h] : {std::pair{3, 5}, std::pair{4, 4}, std::pair{1, 1}, std::pair{64, 3}}) {
    CImage8 image;
    image.Resize(w, h);
    image.Fill(0xAB);
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(image.m_pixels[i], 0xAB) << w << "x" << h << " at " << i;
    image.Fill(0);
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(image.m_pixels[i], 0) << i;
  }
}

TEST(Image8, InlineFillTouchesOnlyOneByte) {
  CImage8 image;
  image.m_inline = 0;
  image.Fill(0x7F);
  EXPECT_EQ(image.m_inline, 0x7Fu);  // little-endian: the first byte only
}

// Sizes below 1 would give a block that disagrees with the geometry.
TEST(Image8, ResizeClampsDimensionsBelowOne) {
  const std::int64_t before = Total();
  {
    CImage8 image;
    image.Resize(4, 4);
    image.Resize(-2, -3);  // not 6 bytes for a -2 x -3 image
    EXPECT_EQ(image.m_width, 1);
    EXPECT_EQ(image.m_height, 1);
    EXPECT_EQ(Total() - before, 8);
    image.Resize(0, 7);
    EXPECT_EQ(image.m_width, 1);
    EXPECT_EQ(image.m_height, 7);
    image.Fill(1);
  }
  EXPECT_EQ(Total(), before);
}

TEST(Image8, ResizeBeyondStorageFallsBackToInline) {
  const std::int64_t before = Total();
  {
    CImage8 image;
    image.Resize(10, 10);
    image.Resize(INT_MAX, 3);
    EXPECT_EQ(image.m_width, 1);
    EXPECT_EQ(image.m_height, 1);
    EXPECT_EQ(image.m_rowBytes, 1);
    EXPECT_EQ(image.m_pixels, InlineOf(image));
    EXPECT_EQ(image.m_block, nullptr);
    EXPECT_EQ(Total(), before);
    image.Fill(9);
    EXPECT_EQ(image.m_pixels[0], 9);
  }
  EXPECT_EQ(Total(), before);
}

}  // namespace
