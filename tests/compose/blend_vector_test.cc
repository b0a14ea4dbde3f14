// The four-pixel paths of the blend rows where the random sweep reaches
// them rarely: long runs of an opaque source at opacity 255 (taken sixteen
// pixels at a time), runs of partially transparent destination pixels
// mixed with opaque and clear ones, and the exact quotient the vector Q
// divides by.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "compose/blend.h"
#include "compose/blend_reference.h"
#include "compose/blend_vector.h"

namespace lumo {
namespace {

// Destination alpha patterns, per pixel index and a random draw.
enum class Dest { Opaque, Partial, Mixed, OpaqueWithOneClear };

std::uint32_t DestAlpha(Dest kind, std::size_t i, std::mt19937& rng) {
  switch (kind) {
    case Dest::Opaque: return 255;
    case Dest::Partial: return 1 + rng() % 254;
    case Dest::Mixed: {
      const std::uint32_t pick = rng() % 4;
      return pick == 0 ? 0 : pick == 1 ? 255 : 1 + rng() % 254;
    }
    case Dest::OpaqueWithOneClear: return i == 21 ? 0 : 255;
  }
  return 255;
}

struct Case {
  Dest dest;
  std::uint8_t opacity;
  bool sourceOpaque;  // else the source alpha is 255 but for one pixel
};

class OpaqueLayer : public ::testing::TestWithParam<std::int32_t> {};

// Lengths from 15 to 70 at every offset 0..3, so sixteen-pixel blocks,
// four-pixel groups and single pixels all meet.
TEST_P(OpaqueLayer, MatchesTheReference) {
  const std::int32_t mode = GetParam();
  std::mt19937 rng(0x0A9A0000u + static_cast<std::uint32_t>(mode));
  const Case cases[] = {
      {Dest::Opaque, 255, true},   {Dest::Opaque, 255, false}, {Dest::Opaque, 254, true},
      {Dest::Mixed, 255, true},    {Dest::Partial, 255, true}, {Dest::Partial, 128, false},
      {Dest::OpaqueWithOneClear, 255, true},
  };
  int failures = 0;
  for (const Case& c : cases) {
    for (std::size_t n : {15u, 16u, 17u, 33u, 48u, 70u}) {
      const std::size_t offset = n % 4;
      std::vector<std::uint32_t> dst(n + offset, 0x12345678u);
      std::vector<std::uint32_t> src(n + offset, 0x87654321u);
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t sA = c.sourceOpaque || i != 37 ? 255 : 200;
        dst[offset + i] = (rng() & 0xFFFFFFu) | DestAlpha(c.dest, i, rng) << 24;
        std::uint32_t colour = rng() & 0xFFFFFFu;
        if (i % 9 == 0) colour = 0xFFFFFFu;            // white keeps under Multiply
        if (i % 11 == 0) colour = dst[offset + i] & 0xFFFFFFu;  // equal channels
        src[offset + i] = colour | sA << 24;
      }
      DrawParams p;
      p.mode = mode;
      p.opacity = c.opacity;
      p.gamma = 0;
      const ref::Params rp{mode, c.opacity, 0, p.fillColour, p.keyColour};
      std::vector<std::uint32_t> expected = dst;
      for (std::size_t i = 0; i < n; ++i) {
        expected[offset + i] = ref::Blend(rp, dst[offset + i], src[offset + i]);
      }
      SelectRowBlender(p)(p, dst.data() + offset, src.data() + offset, static_cast<std::int32_t>(n));
      for (std::size_t i = 0; i < dst.size() && failures < 5; ++i) {
        if (dst[i] != expected[i]) {
          ++failures;
          ADD_FAILURE() << "mode " << mode << " opacity " << int(c.opacity) << " length " << n
                        << " pixel " << i << ": got " << std::hex << dst[i] << ", expected "
                        << expected[i];
        }
      }
    }
  }
}

// Every colour operation, locked (5..27) and composited (29..51).
std::vector<std::int32_t> ColourOperationModes() {
  std::vector<std::int32_t> modes;
  for (std::int32_t m = 5; m <= 27; ++m) modes.push_back(m);
  for (std::int32_t m = 29; m <= 51; ++m) modes.push_back(m);
  return modes;
}

INSTANTIATE_TEST_SUITE_P(ColourOperations, OpaqueLayer, ::testing::ValuesIn(ColourOperationModes()));

#if KEZ_BLEND_SIMD
// floor(n / F) by a float division for every divisor the vector Q meets and
// the quotients where rounding could cross an integer: n = kF (whole) and
// n = kF + F - 1 (just below the next one).
TEST(WeightedMean, QuotientIsTheFloorForEveryDivisor) {
  using namespace simd;
  constexpr std::uint32_t kLargestF = 65279;
  std::uint32_t bad = 0;
  std::uint32_t firstBadF = 0;
  for (std::uint32_t f = 1; f + 3 <= kLargestF; f += 4) {
    const std::uint32_t divisors[4] = {f, f + 1, f + 2, f + 3};
    const FVec fF = ToFloat(Load(divisors));
    for (std::uint32_t k = 0; k < 256; ++k) {
      for (std::uint32_t below : {0u, 1u}) {
        // n = k F + below (F - 1), carried by the destination's term.
        std::uint32_t lanes[4];
        std::uint32_t want[4];
        for (std::uint32_t j = 0; j < 4; ++j) {
          const std::uint32_t fj = f + j;
          lanes[j] = k * fj + below * (fj - 1);
          want[j] = k;
        }
        const Vec got =
            WeightedMean32(Splat32(1), Splat32(0), ToFloat(Load(lanes)), ToFloat(Splat32(0)), fF);
        std::uint32_t out[4];
        Store(out, got);
        for (int j = 0; j < 4; ++j) {
          if (out[j] != want[j] && bad++ == 0) firstBadF = f + static_cast<std::uint32_t>(j);
        }
      }
    }
  }
  EXPECT_EQ(bad, 0u) << "first wrong quotient at F = " << firstBadF;
}

// The one-multiply scaling of a byte delta: div255(x a) for every byte x
// and every scaled alpha a up to 254.
TEST(BlendVectorTest, ScaleByWeightIsDiv255OfTheProduct) {
  using namespace simd;
  int bad = 0;
  for (std::uint32_t a = 0; a <= 254; ++a) {
    const Vec weight = ScaleWeight16(Splat16(static_cast<std::uint16_t>(a)));
    for (std::uint32_t x = 0; x < 256; x += 8) {
      std::uint32_t in[4], out[4];
      for (std::uint32_t j = 0; j < 4; ++j) in[j] = (x + 2 * j) | (x + 2 * j + 1) << 16;
      Store(out, Scale16(Load(in), weight));
      for (std::uint32_t j = 0; j < 8; ++j) {
        const std::uint32_t got = (out[j / 2] >> (16 * (j % 2))) & 0xFFFF;
        if (got != div255((x + j) * a)) ++bad;
      }
    }
  }
  EXPECT_EQ(bad, 0);
}
#endif

}  // namespace
}  // namespace lumo
