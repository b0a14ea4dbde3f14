// Colour helpers: the worked values, agreement with the plain transcription
// in blend_reference.h, and a checksum that pins the hue family's bits so
// that every build (optimised or sanitised) must produce the same ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "compose/blend.h"
#include "compose/blend_reference.h"
#include "compose/colour.h"
#include "compose/hue_checksum.h"

namespace lumo {
namespace {

struct MetricsCase {
  std::uint8_t r, g, b;
  float hue, chroma, luma;
};

class ColourMetricsCase : public ::testing::TestWithParam<MetricsCase> {};

TEST_P(ColourMetricsCase, GivesExactValues) {
  const MetricsCase& c = GetParam();
  const HueChromaLuma m = ColourMetrics(c.r, c.g, c.b);
  EXPECT_EQ(m.hue, c.hue);
  EXPECT_EQ(m.chroma, c.chroma);
  EXPECT_EQ(m.luma, c.luma);
}

INSTANTIATE_TEST_SUITE_P(
    Worked, ColourMetricsCase,
    ::testing::Values(MetricsCase{255, 0, 0, 0.0f, 1.0f, 0.3f},
                      MetricsCase{0, 255, 0, 120.0f, 1.0f, 0.59f},
                      MetricsCase{0, 0, 255, 240.0f, 1.0f, 0.11f},
                      MetricsCase{255, 0, 255, 300.0f, 1.0f, 0.3f + 0.11f},
                      MetricsCase{128, 128, 128, -1.0f, 0.0f,
                                  (128 / 255.0f * 0.3f + 128 / 255.0f * 0.59f) +
                                      128 / 255.0f * 0.11f},
                      MetricsCase{255, 255, 255, -1.0f, 0.0f, 1.0f},
                      MetricsCase{0, 0, 0, -1.0f, 0.0f, 0.0f}));

struct RgbCase {
  float hue, chroma, luma;
  unsigned scale;
  std::uint64_t r, g, b;
};

class HueChromaLumaToRgbCase : public ::testing::TestWithParam<RgbCase> {};

TEST_P(HueChromaLumaToRgbCase, GivesExactValues) {
  const RgbCase& c = GetParam();
  const RgbValues v = HueChromaLumaToRgb(c.hue, c.chroma, c.luma, c.scale);
  EXPECT_EQ(v.r, c.r);
  EXPECT_EQ(v.g, c.g);
  EXPECT_EQ(v.b, c.b);
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Worked, HueChromaLumaToRgbCase,
    ::testing::Values(RgbCase{77.0f, 0.0f, 0.5f, 255, 127, 127, 127},  // no chroma: grey
                      RgbCase{-1.0f, 0.8f, 0.5f, 255, 127, 127, 127},  // no hue: grey
                      RgbCase{0.0f, 1.0f, 0.3f, 255, 255, 0, 0},
                      RgbCase{120.0f, 1.0f, 0.59f, 255, 0, 255, 0},
                      RgbCase{0.0f, 1.0f, 1.0f, 255, 255, 255, 255},  // chroma clipped to 0
                      RgbCase{0.0f, 1.0f, 0.3f, 1000, 1000, 0, 0},     // another scale
                      RgbCase{360.0f, 1.0f, 0.5f, 255, 0, 0, 0},       // sector 6: none
                      RgbCase{-200.0f, 1.0f, 0.5f, 255, 0, 0, 0},      // negative sector
                      RgbCase{kNaN, 1.0f, 0.5f, 255, 0, 0, 0},
                      RgbCase{1e30f, 1.0f, 0.5f, 255, 0, 0, 0},
                      RgbCase{10.0f, 0.0f, -0.5f, 255, 0, 0, 0}));  // negative gives 0

// Every R and G with a spread of B values, against the transcription.
TEST(ColourMetrics, AgreesWithTheReference) {
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b : {0, 1, 2, 63, 127, 128, 200, 254, 255, (r * 7 + g * 13) & 0xFF}) {
        const HueChromaLuma m = ColourMetrics(static_cast<std::uint8_t>(r),
                                              static_cast<std::uint8_t>(g),
                                              static_cast<std::uint8_t>(b));
        const ref::Hcl e = ref::Metrics(r, g, b);
        ASSERT_TRUE(m.hue == e.hue && m.chroma == e.chroma && m.luma == e.luma)
            << r << "," << g << "," << b;
      }
    }
  }
}

// Hues over every sector, chroma and luma over 0..1 including the corners
// where the chroma is reduced, and the mixtures the blend modes produce.
TEST(HueChromaLumaToRgb, AgreesWithTheReference) {
  auto check = [](float h, float k, float y) {
    const RgbValues v = HueChromaLumaToRgb(h, k, y, 255);
    std::uint64_t e[3];
    ref::ToRgb(h, k, y, 255, e);
    return v.r == e[0] && v.g == e[1] && v.b == e[2];
  };
  for (int h = 0; h < 360 * 2; h += 3) {
    for (int k = 0; k <= 20; ++k) {
      for (int y = 0; y <= 20; ++y) {
        ASSERT_TRUE(check(h * 0.5f, k / 20.0f, y / 20.0f)) << h * 0.5f << " " << k << " " << y;
      }
    }
  }
  std::uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state >> 24);
  };
  for (int i = 0; i < 100000; ++i) {
    const HueChromaLuma a = ColourMetrics(next(), next(), next());
    const HueChromaLuma b = ColourMetrics(next(), next(), next());
    ASSERT_TRUE(check(a.hue, b.chroma, b.luma)) << i;
    ASSERT_TRUE(check(b.hue, a.chroma, b.luma)) << i;
    ASSERT_TRUE(check(a.hue, a.chroma, b.luma)) << i;
    ASSERT_TRUE(check(b.hue, b.chroma, a.luma)) << i;
  }
}

// Every build must reproduce the one checksum of the hue family.
TEST(HueFamily, ChecksumIsTheSameInEveryBuild) {
  EXPECT_EQ(kez::testing::HueFamilyChecksum(), kez::testing::kHueFamilyChecksum);
}

}  // namespace
}  // namespace lumo
