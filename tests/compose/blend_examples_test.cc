// Worked examples of the blend modes: exact pixels for the cases whose
// values are known by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "compose/blend.h"

namespace lumo {
namespace {

constexpr std::uint32_t Px(std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint32_t a) {
  return b | g << 8 | r << 16 | a << 24;
}

std::uint32_t BlendOne(std::int32_t mode, std::uint32_t dst, std::uint32_t src,
                       std::uint8_t opacity = 255, std::uint8_t gamma = 0) {
  DrawParams p;
  p.mode = mode;
  p.opacity = opacity;
  p.gamma = gamma;
  SelectRowBlender(p)(p, &dst, &src, 1);
  return dst;
}

struct Example {
  const char* what;
  std::int32_t mode;
  std::uint8_t opacity;
  std::uint32_t dst;
  std::uint32_t src;
  std::uint32_t expected;
};

class BlendExample : public ::testing::TestWithParam<Example> {};

TEST_P(BlendExample, GivesExactPixel) {
  const Example& e = GetParam();
  EXPECT_EQ(BlendOne(e.mode, e.dst, e.src, e.opacity), e.expected) << e.what;
}

// Locked modes with an opaque source at full opacity store X(s, d) itself.
INSTANTIATE_TEST_SUITE_P(
    Worked, BlendExample,
    ::testing::Values(
        Example{"normal over opaque", 28, 255, Px(0, 0, 255, 255), Px(255, 0, 0, 128),
                Px(128, 0, 127, 255)},
        Example{"normal over half", 28, 255, Px(0, 0, 255, 128), Px(255, 0, 0, 128),
                Px(170, 0, 84, 191)},
        Example{"normal over transparent", 28, 128, Px(10, 20, 30, 0), Px(255, 0, 0, 200),
                Px(255, 0, 0, 100)},
        Example{"normal opaque source", 28, 255, Px(1, 2, 3, 77), Px(9, 8, 7, 255),
                Px(9, 8, 7, 255)},
        Example{"multiply over half", 32, 255, Px(200, 100, 50, 128), Px(128, 128, 128, 255),
                Px(113, 88, 76, 255)},
        Example{"multiply keeps alpha", 8, 255, Px(200, 100, 50, 255), Px(128, 128, 128, 255),
                Px(100, 50, 25, 255)},
        Example{"multiply white source, opaque", 8, 255, Px(200, 100, 50, 9),
                Px(255, 255, 255, 255), Px(200, 100, 50, 9)},
        Example{"multiply white source, faint", 8, 255, Px(200, 100, 50, 9), Px(255, 255, 255, 1),
                Px(200, 100, 50, 9)},
        Example{"multiply white source, half", 32, 255, Px(200, 100, 50, 255),
                Px(255, 255, 255, 128), Px(200, 100, 50, 255)},
        Example{"overlay edges", 10, 255, Px(255, 127, 128, 40), Px(0, 255, 0, 255),
                Px(254, 254, 0, 40)},
        Example{"inverted exclusion", 27, 255, Px(255, 0, 77, 3), Px(0, 0, 255, 255),
                Px(0, 255, 77, 3)},
        Example{"hard mix threshold", 26, 255, Px(100, 100, 0, 200), Px(155, 154, 0, 255),
                Px(255, 0, 0, 200)},
        Example{"subtract clamps", 7, 255, Px(10, 200, 0, 255), Px(20, 100, 0, 255),
                Px(0, 100, 0, 255)},
        Example{"divide", 9, 255, Px(100, 255, 0, 255), Px(127, 0, 255, 255), Px(200, 255, 0, 255)},
        Example{"colour dodge and burn ends", 16, 255, Px(1, 0, 255, 255), Px(255, 0, 255, 255),
                Px(255, 0, 255, 255)},
        Example{"colour burn", 17, 255, Px(255, 0, 128, 255), Px(0, 255, 127, 255),
                Px(255, 0, 1, 255)},
        Example{"add scaled at half opacity", 6, 128, Px(10, 250, 0, 255), Px(255, 255, 100, 255),
                Px(138, 255, 50, 255)},
        Example{"erase alpha", 52, 255, Px(1, 2, 3, 200), Px(4, 5, 6, 255), Px(1, 2, 3, 0)},
        Example{"erase alpha partly", 52, 128, Px(1, 2, 3, 200), Px(4, 5, 6, 100),
                Px(1, 2, 3, 150)},
        Example{"erase inverse alpha, clear source", 53, 255, Px(1, 2, 3, 200), Px(4, 5, 6, 0),
                Px(1, 2, 3, 0)},
        Example{"erase inverse alpha", 53, 255, Px(1, 2, 3, 200), Px(4, 5, 6, 100),
                Px(1, 2, 3, 45)},
        Example{"erase alpha scaled", 54, 255, Px(1, 2, 3, 200), Px(4, 5, 6, 100),
                Px(1, 2, 3, 122)},
        Example{"erase alpha scaled, opaque", 54, 255, Px(1, 2, 3, 255), Px(4, 5, 6, 100),
                Px(1, 2, 3, 155)},
        Example{"and", 1, 0, 0xF0F0F0F0u, 0x3C3C3C3Cu, 0x30303030u},
        Example{"or", 2, 0, 0xF0F0F0F0u, 0x0C0C0C0Cu, 0xFCFCFCFCu}));

TEST(Div255, MatchesTheShiftForm) {
  EXPECT_EQ(div255(65025), 255u);
  EXPECT_EQ(div255(254), 0u);
  EXPECT_EQ(div255(255), 1u);
  for (std::uint32_t x = 0; x <= 65789; ++x) ASSERT_EQ(div255(x), x / 255) << x;
  EXPECT_EQ(mix(10, 200, 255), 200u);
  EXPECT_EQ(mix(10, 200, 0), 10u);
}

TEST(BlendTables, HoldTheKnownEntries) {
  struct Entry {
    const std::uint8_t* table;
    int index;
    int value;
  };
  const Entry entries[] = {
      {g_sqrtTable, 0, 0},        {g_sqrtTable, 1, 15},         {g_sqrtTable, 64, 127},
      {g_sqrtTable, 128, 180},    {g_sqrtTable, 255, 255},      {g_gammaExpand, 0, 0},
      {g_gammaExpand, 11, 0},     {g_gammaExpand, 12, 1},       {g_gammaExpand, 128, 73},
      {g_gammaExpand, 254, 253},  {g_gammaExpand, 255, 255},    {g_gammaCompress, 0, 0},
      {g_gammaCompress, 1, 11},   {g_gammaCompress, 128, 173},  {g_gammaCompress, 254, 254},
      {g_gammaCompress, 255, 255},
  };
  for (const Entry& e : entries) EXPECT_EQ(e.table[e.index], e.value) << e.index;
  for (int i = 1; i < 256; ++i) {
    EXPECT_LE(g_gammaExpand[i - 1], g_gammaExpand[i]) << i;
    EXPECT_LE(g_gammaCompress[i - 1], g_gammaCompress[i]) << i;
  }
}

// Operation X for one channel through a locked mode with an opaque source
// at full opacity, where the mix stores X itself.
int X(std::int32_t mode, int s, int d) {
  return static_cast<int>(BlendOne(mode, Px(d, d, d, 255), Px(s, s, s, 255)) & 0xFF);
}

TEST(ColourOperations, StayInRangeAndMatchTheirEdges) {
  EXPECT_EQ(X(10, 0, 255), 254);   // overlay: 511, not 510
  EXPECT_EQ(X(10, 255, 127), 254);
  EXPECT_EQ(X(10, 0, 128), 0);
  EXPECT_EQ(X(27, 0, 255), 0);     // inverted exclusion
  EXPECT_EQ(X(27, 0, 0), 255);
  EXPECT_EQ(X(26, 100, 155), 255);  // hard mix
  EXPECT_EQ(X(26, 100, 154), 0);
  EXPECT_EQ(X(15, 255, 255), 1);   // exclusion: div255(130050) is 509, past its exact range
  EXPECT_EQ(X(20, 0, 255), 254);   // soft light: the nested division loses one
  EXPECT_EQ(X(20, 255, 0), 0);
  for (int s = 0; s < 256; s += 3) {
    for (int d = 0; d < 256; ++d) {
      EXPECT_EQ(X(27, 255, d), d);
      EXPECT_EQ(X(5, s, d), X(18, s, d));  // Add and LinearDodge
    }
  }
}

TEST(Copy, EveryNumberWithoutAModeCopiesTheSpan) {
  const std::vector<std::uint32_t> src = {0x00000000u, 0x12345678u, 0xFFFFFFFFu, 0x80FF0001u,
                                          0x01020304u};
  for (std::int32_t mode : {0, 3, 55, 56, 57, 58, 59, 60, 61, 62, 65, 66, 1000, -1, INT32_MIN,
                            INT32_MAX}) {
    for (std::uint8_t opacity : {0, 128, 255}) {
      std::vector<std::uint32_t> dst(src.size() + 1, 0xA5A5A5A5u);
      DrawParams p;
      p.mode = mode;
      p.opacity = opacity;
      p.gamma = 1;
      SelectRowBlender(p)(p, dst.data(), src.data(), static_cast<std::int32_t>(src.size()));
      for (std::size_t i = 0; i < src.size(); ++i) EXPECT_EQ(dst[i], src[i]) << mode;
      EXPECT_EQ(dst.back(), 0xA5A5A5A5u) << "wrote past the span, mode " << mode;
    }
  }
}

TEST(Rows, CountZeroOrNegativeDoesNothing) {
  for (std::int32_t mode = -1; mode <= 65; ++mode) {
    for (std::int32_t count : {0, -1, INT32_MIN}) {
      std::uint32_t dst[2] = {Px(1, 2, 3, 128), Px(4, 5, 6, 0)};
      const std::uint32_t src[2] = {Px(9, 9, 9, 255), Px(9, 9, 9, 255)};
      DrawParams p;
      p.mode = mode;
      SelectRowBlender(p)(p, dst, src, count);
      EXPECT_EQ(dst[0], Px(1, 2, 3, 128)) << mode;
      EXPECT_EQ(dst[1], Px(4, 5, 6, 0)) << mode;
    }
  }
}

// A transparent source changes nothing, except where the mode ignores alpha
// (Copy, And, Or) and in EraseInverseAlpha, which erases where the source is
// clear.
TEST(Rows, TransparentSourceLeavesTheDestination) {
  const std::uint32_t dsts[] = {Px(10, 200, 30, 255), Px(10, 200, 30, 128), Px(10, 200, 30, 0),
                                Px(255, 255, 255, 1), Px(0, 0, 0, 254)};
  for (std::int32_t mode = 4; mode <= 64; ++mode) {
    if (mode == 53 || (mode >= 55 && mode <= 62)) continue;
    for (std::uint8_t gamma : {0, 1}) {
      for (std::uint8_t opacity : {0, 1, 128, 255}) {
        for (std::uint32_t d : dsts) {
          EXPECT_EQ(BlendOne(mode, d, Px(77, 0, 255, 0), opacity, gamma), d)
              << "mode " << mode << " gamma " << int(gamma) << " opacity " << int(opacity);
        }
      }
    }
  }
  EXPECT_EQ(BlendOne(53, Px(10, 200, 30, 255), Px(77, 0, 255, 0)), Px(10, 200, 30, 0));
}

// The gamma round trip is lossy, so a locked mode with gamma moves dark
// destination channels even when the opacity leaves nothing to blend.
TEST(Rows, LockedModesWithGammaRoundTripAtZeroOpacity) {
  const std::uint32_t d = Px(10, 100, 200, 255);
  const std::uint32_t s = Px(50, 60, 70, 255);
  const std::uint32_t roundTrip = Px(g_gammaCompress[g_gammaExpand[10]],
                                     g_gammaCompress[g_gammaExpand[100]],
                                     g_gammaCompress[g_gammaExpand[200]], 255);
  ASSERT_NE(roundTrip, d);
  for (std::int32_t mode = 5; mode <= 27; ++mode) {
    EXPECT_EQ(BlendOne(mode, d, s, 0, 1), roundTrip) << mode;
    EXPECT_EQ(BlendOne(mode, d, s, 0, 0), d) << mode;
  }
}

TEST(NormalKeyed, SkipsTheKeyColourAndKeepsAlpha) {
  DrawParams p;
  p.mode = 63;
  p.keyColour = Px(0, 255, 0, 255);
  std::uint32_t dst[3] = {Px(1, 2, 3, 40), Px(1, 2, 3, 40), Px(100, 100, 100, 0)};
  const std::uint32_t src[3] = {Px(0, 255, 0, 255), Px(9, 8, 7, 255), Px(200, 0, 100, 128)};
  SelectRowBlender(p)(p, dst, src, 3);
  EXPECT_EQ(dst[0], Px(1, 2, 3, 40));
  EXPECT_EQ(dst[1], Px(9, 8, 7, 40));
  EXPECT_EQ(dst[2], Px(150, 49, 100, 0));
}

TEST(FillMask, CompositesTheFillColourThroughTheMask) {
  DrawParams p;
  p.mode = 64;
  p.opacity = 0;  // not used
  p.fillColour = Px(255, 0, 0, 255);
  std::uint32_t dst[4] = {Px(0, 0, 255, 255), Px(0, 0, 255, 128), Px(10, 20, 30, 0),
                          Px(1, 2, 3, 4)};
  const std::uint32_t src[4] = {Px(1, 1, 1, 128), Px(1, 1, 1, 128), Px(0, 0, 0, 200),
                                Px(7, 7, 7, 0)};
  SelectRowBlender(p)(p, dst, src, 4);
  EXPECT_EQ(dst[0], Px(128, 0, 127, 255));
  EXPECT_EQ(dst[1], Px(170, 0, 84, 191));
  EXPECT_EQ(dst[2], Px(255, 0, 0, 200));
  EXPECT_EQ(dst[3], Px(1, 2, 3, 4));

  // A clear fill colour over a clear destination: F is 0, nothing changes.
  p.fillColour = Px(255, 0, 0, 0);
  std::uint32_t clear = Px(5, 6, 7, 0);
  const std::uint32_t mask = Px(0, 0, 0, 255);
  SelectRowBlender(p)(p, &clear, &mask, 1);
  EXPECT_EQ(clear, Px(5, 6, 7, 0));
}

}  // namespace
}  // namespace lumo
