// The four-pixel hue-family path: the colour rebuild in four lanes against
// HueChromaLumaToRgb over a fine grid of hue, chroma and luma (every
// sector, both ways of reducing the chroma), and the rows of the eight
// hue-family modes against the plain reference on a colour cube.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <vector>

#include "compose/blend.h"
#include "compose/blend_hue.h"
#include "compose/blend_reference.h"
#include "compose/colour.h"

namespace lumo {
namespace {

#if KEZ_BLEND_SIMD
TEST(HueRebuild, FourLanesMatchThePerPixelRebuild) {
  using namespace simd;
  std::vector<float> hues;
  for (int h = 0; h < 1440; h += 5) hues.push_back(h / 4.0f);  // 0 .. 358.75 by 1.25
  hues.push_back(-1.0f);
  hues.push_back(359.99997f);
  int bad = 0;
  for (int k = 0; k <= 32; ++k) {
    for (int y = 0; y <= 32; ++y) {
      const float chroma = k / 32.0f;
      const float luma = y / 32.0f;
      for (std::size_t h = 0; h < hues.size(); h += 4) {
        float lanes[4];
        for (std::size_t l = 0; l < 4; ++l) lanes[l] = hues[std::min(h + l, hues.size() - 1)];
        Vec x = Splat32(0);
        std::uint32_t got[4];
        const FVec hue = LoadF(lanes);
        ASSERT_TRUE(Rebuild(hue, SplatF(chroma), SplatF(luma), &x));
        Store(got, x);
        for (int l = 0; l < 4; ++l) {
          const RgbValues want = HueChromaLumaToRgb(lanes[l], chroma, luma, 255);
          const std::uint32_t packed = (want.b & 0xFF) | (want.g & 0xFF) << 8 | (want.r & 0xFF) << 16;
          if (got[l] != packed && ++bad <= 5) {
            ADD_FAILURE() << "hue " << lanes[l] << " chroma " << chroma << " luma " << luma << ": got "
                          << std::hex << got[l] << ", expected " << packed;
          }
        }
      }
    }
  }
  EXPECT_EQ(bad, 0);
}
#endif

struct HueCase {
  std::int32_t mode;
  std::uint8_t opacity;
  std::uint32_t destAlpha;
};

void PrintTo(const HueCase& c, std::ostream* os) {
  *os << "mode " << c.mode << " opacity " << int(c.opacity) << " destination alpha " << c.destAlpha;
}

class HueRows : public ::testing::TestWithParam<HueCase> {};

// Every colour of a 16-level cube (with a few source alphas) over twelve
// destination colours: greys, white, black, saturated and mixed ones.
TEST_P(HueRows, MatchTheReferenceOnAColourCube) {
  const HueCase c = GetParam();
  const std::uint32_t dests[] = {0x000000, 0xFFFFFF, 0x808080, 0xFF0000, 0x00FF00, 0x0000FF,
                                 0xF0E0D0, 0x102030, 0x40C080, 0xC08040, 0x7F00FF, 0xFEFF01};
  const std::uint32_t alphas[] = {255, 255, 255, 128, 1, 0};
  std::vector<std::uint32_t> src;
  for (std::uint32_t r = 0; r < 256; r += 17) {
    for (std::uint32_t g = 0; g < 256; g += 17) {
      for (std::uint32_t b = 0; b < 256; b += 17) {
        src.push_back(b | g << 8 | r << 16 | alphas[src.size() % 6] << 24);
      }
    }
  }
  DrawParams p;
  p.mode = c.mode;
  p.opacity = c.opacity;
  const ref::Params rp{c.mode, c.opacity, 0, p.fillColour, p.keyColour};
  int bad = 0;
  for (std::uint32_t colour : dests) {
    std::vector<std::uint32_t> dst(src.size(), colour | c.destAlpha << 24);
    std::vector<std::uint32_t> want(dst.size());
    for (std::size_t i = 0; i < dst.size(); ++i) want[i] = ref::Blend(rp, dst[i], src[i]);
    SelectRowBlender(p)(p, dst.data(), src.data(), static_cast<std::int32_t>(dst.size()));
    for (std::size_t i = 0; i < dst.size(); ++i) {
      if (dst[i] != want[i] && ++bad <= 5) {
        ADD_FAILURE() << "mode " << c.mode << " dst " << std::hex << colour << " src " << src[i]
                      << ": got " << dst[i] << ", expected " << want[i];
      }
    }
  }
  EXPECT_EQ(bad, 0);
}

std::vector<HueCase> HueCases() {
  std::vector<HueCase> cases;
  for (std::int32_t mode : {22, 23, 24, 25, 46, 47, 48, 49}) {
    cases.push_back({mode, 255, 255});
    cases.push_back({mode, 200, 255});
    if (mode >= 46) cases.push_back({mode, 255, 90});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(HueFamily, HueRows, ::testing::ValuesIn(HueCases()));

}  // namespace
}  // namespace lumo
