#include "compose/draw.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <ostream>
#include <string>

namespace lumo {
namespace {

// The fields in declaration order, so a mismatch prints all of them.
std::array<std::int32_t, 6> Fields(const DrawRect& r) {
  return {r.srcX, r.srcY, r.width, r.height, r.dstX, r.dstY};
}

struct ClipCase {
  const char* name;
  std::int32_t srcW, srcH, dstW, dstH;
  DrawRect in;
  bool drawn;
  DrawRect out;
};

void PrintTo(const ClipCase& c, std::ostream* os) { *os << c.name; }

class ClipDrawRectTest : public ::testing::TestWithParam<ClipCase> {};

TEST_P(ClipDrawRectTest, ClipsInPlace) {
  const ClipCase& c = GetParam();
  DrawRect r = c.in;
  EXPECT_EQ(ClipDrawRect(c.srcW, c.srcH, c.dstW, c.dstH, r), c.drawn);
  EXPECT_EQ(Fields(r), Fields(c.out));
}

// Rect fields: srcX, srcY, width, height, dstX, dstY.
const ClipCase kClipCases[] = {
    {"LeftOverhangAndBottom", 100, 50, 64, 64, {0, 0, 100, 50, -10, 20}, true, {10, 0, 64, 44, 0, 20}},
    {"StartsAtRightEdge", 64, 64, 64, 64, {0, 0, 64, 64, 64, 0}, false, {0, 0, 64, 64, 64, 0}},
    {"EndsAtLeftEdge", 100, 10, 64, 64, {0, 0, 100, 10, -100, 0}, false, {0, 0, 100, 10, -100, 0}},
    {"EndsAtTopEdge", 10, 10, 64, 64, {0, 0, 10, 10, 0, -10}, false, {0, 0, 10, 10, 0, -10}},
    {"StartsBelowBottom", 10, 10, 64, 64, {0, 0, 10, 10, 0, 64}, false, {0, 0, 10, 10, 0, 64}},
    {"WiderThanSource", 10, 10, 64, 64, {0, 0, 20, 10, 0, 0}, true, {0, 0, 10, 10, 0, 0}},
    {"Landscape256x170", 256, 170, 256, 256, {0, 0, 256, 170, 0, 43}, true, {0, 0, 256, 170, 0, 43}},
    {"Portrait170x256", 170, 256, 256, 256, {0, 0, 170, 256, 43, 0}, true, {0, 0, 170, 256, 43, 0}},
    {"PastRightAndBottom", 20, 20, 64, 64, {0, 0, 20, 20, 60, 50}, true, {0, 0, 4, 14, 60, 50}},
    {"SourceOriginInside", 10, 10, 64, 64, {5, 3, 10, 10, 0, 0}, true, {5, 3, 5, 7, 0, 0}},
    {"SourceOriginAtWidth", 10, 10, 64, 64, {10, 0, 5, 5, 0, 0}, false, {10, 0, 5, 5, 0, 0}},
    {"SourceOriginAtHeight", 10, 10, 64, 64, {0, 10, 5, 5, 0, 0}, false, {0, 10, 5, 5, 0, 0}},
    {"NegativeSourceOrigin", 20, 20, 30, 30, {-5, -3, 10, 10, 2, 2}, true, {0, 0, 5, 7, 7, 5}},
    {"NegativeSourceAndDest", 30, 30, 30, 30, {-4, -1, 20, 5, -6, 0}, true, {2, 0, 14, 4, 0, 1}},
    // srcX + width < 0 is rejected at once; == 0 runs on and ends empty.
    {"SourceEndsLeftOfOrigin", 10, 10, 64, 64, {-11, 0, 10, 5, 0, 0}, false, {-11, 0, 10, 5, 0, 0}},
    {"SourceEndsAtOrigin", 10, 10, 64, 64, {-10, 0, 10, 5, 0, 0}, false, {0, 0, 0, 5, 10, 0}},
    {"SourceAboveOrigin", 10, 10, 64, 64, {0, -6, 5, 5, 0, 0}, false, {0, -6, 5, 5, 0, 0}},
    // A negative source origin pushes the destination off the far edge.
    {"PushedPastDestination", 100, 10, 64, 64, {-70, 0, 90, 5, 0, 0}, false, {0, 0, -6, 5, 70, 0}},
    {"ZeroWidth", 10, 10, 64, 64, {0, 0, 0, 5, 3, 3}, false, {0, 0, 0, 5, 3, 3}},
    {"NegativeHeight", 10, 10, 64, 64, {0, 0, 5, -2, 3, 3}, false, {0, 0, 5, -2, 3, 3}},
    // Sums of caller values beyond int32 do not wrap into a wrong answer.
    {"HugeSize", 100, 100, 64, 64, {0, 0, INT_MAX, INT_MAX, 10, 0}, true, {0, 0, 54, 64, 10, 0}},
    {"HugePosition", 10, 10, 64, 64, {0, 0, 10, 10, INT_MAX, 0}, false, {0, 0, 10, 10, INT_MAX, 0}},
    {"MostNegativePosition", 10, 10, 64, 64, {0, 0, INT_MAX, 10, INT_MIN, 0}, false,
     {0, 0, INT_MAX, 10, INT_MIN, 0}},
    {"MostNegativeSource", 10, 10, 64, 64, {INT_MIN, 0, INT_MAX, 10, 0, 0}, false,
     {INT_MIN, 0, INT_MAX, 10, 0, 0}},
};

INSTANTIATE_TEST_SUITE_P(Table, ClipDrawRectTest, ::testing::ValuesIn(kClipCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A pixel value that names its own position, so misplaced copies show.
std::uint32_t Tag(int x, int y) {
  return 0x80000000u | static_cast<std::uint32_t>(y) << 12 | static_cast<std::uint32_t>(x);
}

void FillTagged(CImage32& image, int w, int h) {
  ASSERT_TRUE(image.Resize(w, h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.SetPixel(x, y, Tag(x, y));
}

std::uint32_t At(const CImage32& image, int x, int y) { return image.m_pixels[y * image.m_width + x]; }

constexpr std::uint32_t kBackground = 0x12345678u;

struct Placement {
  int outEdge, w, h, x, y;  // the provider draws at (n/2 - w/2, n/2 - h/2)
};

class DrawPlacementTest : public ::testing::TestWithParam<Placement> {};

TEST_P(DrawPlacementTest, CopiesPreviewCentredAndLeavesTheRest) {
  const Placement p = GetParam();
  CImage32 out, preview;
  ASSERT_TRUE(out.Resize(p.outEdge, p.outEdge));
  out.Fill(kBackground);
  FillTagged(preview, p.w, p.h);
  const int x = static_cast<int>(static_cast<unsigned>(p.outEdge) / 2) - p.w / 2;
  const int y = static_cast<int>(static_cast<unsigned>(p.outEdge) / 2) - p.h / 2;
  ASSERT_EQ(x, p.x);
  ASSERT_EQ(y, p.y);

  EXPECT_TRUE(DrawImage(out, DrawParams{}, x, y, preview, p.w, p.h));
  int wrong = 0;
  for (int oy = 0; oy < p.outEdge; ++oy) {
    for (int ox = 0; ox < p.outEdge; ++ox) {
      const bool inside = ox >= p.x && ox < p.x + p.w && oy >= p.y && oy < p.y + p.h;
      const std::uint32_t want = inside ? Tag(ox - p.x, oy - p.y) : kBackground;
      wrong += At(out, ox, oy) != want;
    }
  }
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Thumbnail, DrawPlacementTest,
                         ::testing::Values(Placement{256, 256, 170, 0, 43}, Placement{256, 170, 256, 43, 0},
                                           Placement{256, 256, 128, 0, 64}, Placement{96, 1, 1, 48, 48},
                                           Placement{33, 33, 7, 0, 13}));

TEST(DrawImageTest, ClippedDrawTouchesOnlyTheClippedArea) {
  CImage32 dst, src;
  ASSERT_TRUE(dst.Resize(64, 64));
  dst.Fill(kBackground);
  FillTagged(src, 100, 50);
  EXPECT_TRUE(DrawImage(dst, DrawParams{}, -10, 20, src, 100, 50));
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const std::uint32_t want = y >= 20 ? Tag(x + 10, y - 20) : kBackground;
      ASSERT_EQ(At(dst, x, y), want) << x << "," << y;
    }
  }
}

TEST(DrawImageTest, EmptyAreaReturnsFalseAndTouchesNothing) {
  CImage32 dst, src;
  ASSERT_TRUE(dst.Resize(64, 64));
  dst.Fill(kBackground);
  FillTagged(src, 100, 10);
  EXPECT_FALSE(DrawImage(dst, DrawParams{}, 64, 0, src, 100, 10));
  EXPECT_FALSE(DrawImage(dst, DrawParams{}, -100, 0, src, 100, 10));
  EXPECT_FALSE(DrawImage(dst, DrawParams{}, 0, 0, src, 0, 10));
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(At(dst, x, y), kBackground);
  EXPECT_EQ(dst.m_lockCount, 0);
  EXPECT_EQ(src.m_lockCount, 0);
}

TEST(DrawImageTest, CopyReplacesWithTransparentPixels) {
  CImage32 dst, src;
  ASSERT_TRUE(dst.Resize(4, 4));
  dst.Fill(0xFF00FF00u);
  ASSERT_TRUE(src.Resize(2, 2));
  src.Fill(0x00123456u);
  EXPECT_TRUE(DrawImage(dst, DrawParams{}, 1, 1, src, 2, 2));
  const std::uint32_t want[4][4] = {{0xFF00FF00u, 0xFF00FF00u, 0xFF00FF00u, 0xFF00FF00u},
                                    {0xFF00FF00u, 0x00123456u, 0x00123456u, 0xFF00FF00u},
                                    {0xFF00FF00u, 0x00123456u, 0x00123456u, 0xFF00FF00u},
                                    {0xFF00FF00u, 0xFF00FF00u, 0xFF00FF00u, 0xFF00FF00u}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(At(dst, x, y), want[y][x]) << x << "," << y;
}

TEST(DrawImageTest, UsesTheRowFunctionOfTheMode) {
  CImage32 dst, src;
  ASSERT_TRUE(dst.Resize(3, 1));
  dst.Fill(0xF0F0F0F0u);
  ASSERT_TRUE(src.Resize(1, 1));
  src.Fill(0x0FFF00FFu);
  DrawParams params;
  params.mode = static_cast<std::int32_t>(BlendMode::And);
  EXPECT_TRUE(DrawImage(dst, params, 1, 0, src, 1, 1));
  params.mode = static_cast<std::int32_t>(BlendMode::Or);
  EXPECT_TRUE(DrawImage(dst, params, 2, 0, src, 1, 1));
  EXPECT_EQ(At(dst, 0, 0), 0xF0F0F0F0u);
  EXPECT_EQ(At(dst, 1, 0), 0x00F000F0u);
  EXPECT_EQ(At(dst, 2, 0), 0xFFFFF0FFu);
}

}  // namespace
}  // namespace lumo
