// Inputs that sit right at the edge of a vector path's conditions: the ones
// a random sweep rarely builds. Each is checked pixel for pixel against the
// plain per-pixel transcriptions.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "compose/blend.h"
#include "compose/blend_reference.h"
#include "compose/resample.h"
#include "compose/resample_reference.h"
#include "support/picture.h"

namespace lumo {
namespace {

using Pixels = std::vector<std::uint32_t>;

Pixels Resampled(const Pixels& px, int sw, int sh, int dw, int dh) {
  CImage32 src, dst;
  EXPECT_TRUE(src.Resize(sw, sh));
  EXPECT_TRUE(dst.Resize(dw, dh));
  std::memcpy(src.m_pixels, px.data(), px.size() * sizeof(std::uint32_t));
  dst.Fill(0xA5A5A5A5u);
  EXPECT_TRUE(Resample(dst, src));
  return Pixels(dst.m_pixels, dst.m_pixels + static_cast<std::size_t>(dw) * dh);
}

// Whole-number column ratios whose footprints hold more than 259 fully
// covered samples (N columns by stepY rows): their sums no longer fit 32
// bits, so they must not take the four-footprint rows. Opaque near-white
// pixels push the sums past 2^32 if they do.
TEST(WholeRatioBeyond32BitSums, MatchesReference) {
  kez::testing::Lcg rng(41);
  for (const auto& [n, rowsEach] : {std::array<int, 2>{2, 130}, std::array<int, 2>{4, 65},
                                    std::array<int, 2>{8, 33}, std::array<int, 2>{12, 22}}) {
    const int dw = 9, dh = 3, sw = n * dw, sh = rowsEach * dh;
    ASSERT_GT(n * rowsEach, 259);
    Pixels px = ref::RandomPixels(sw, sh, rng);
    for (std::uint32_t& p : px) p |= 0xFFFFFF00u;
    px[5] = 0xFEFFFFFFu;
    ASSERT_EQ(Resampled(px, sw, sh, dw, dh), ref::ReferenceResample(px, sw, sh, dw, dh))
        << sw << "x" << sh << " -> " << dw << "x" << dh;
  }
}

// Normal at opacity 255 copies sixteen pixels at once only when all sixteen
// sources are opaque: one pixel anywhere in the sixteen below 255 must be
// blended by the rule.
TEST(NormalOpaqueSixteen, OneTranslucentSourceIsBlended) {
  DrawParams p;
  p.mode = 28;
  p.opacity = 255;
  const ref::Params rp{28, 255, 0, p.fillColour, p.keyColour};
  for (int at = 0; at < 16; ++at) {
    for (std::uint32_t alpha : {0u, 1u, 128u, 254u}) {
      Pixels src(20), dst(20);
      for (int i = 0; i < 20; ++i) {
        src[i] = 0xFF000000u | (0x102030u * static_cast<std::uint32_t>(i + 1) & 0xFFFFFF);
        dst[i] = (i % 3 == 0 ? 0x80000000u : 0xFF000000u) | 0x405060u;
      }
      src[at] = alpha << 24 | 0x90A0B0u;
      Pixels want(20);
      for (int i = 0; i < 20; ++i) want[i] = ref::Blend(rp, dst[i], src[i]);
      SelectRowBlender(p)(p, dst.data(), src.data(), 20);
      ASSERT_EQ(dst, want) << "source alpha " << alpha << " at pixel " << at;
    }
  }
}

// The hue family over four destinations that are partly opaque and partly
// translucent: the opaque ones take P, where Hue keeps a grey destination.
// Greys 0x7F and 0x11 are ones whose own luma rebuilds one level darker, so
// a grey passed through the rebuild shows.
TEST(HueFamilyMixedDestinations, OpaqueGreyAmongTranslucent) {
  const std::uint32_t greys[] = {0xFF000000u, 0xFFFFFFFFu, 0xFF7F7F7Fu, 0xFF111111u};
  for (std::int32_t mode : {46, 47, 48, 49}) {
    DrawParams p;
    p.mode = mode;
    for (std::uint8_t opacity : {255, 200}) {
      p.opacity = opacity;
      const ref::Params rp{mode, opacity, 0, p.fillColour, p.keyColour};
      for (std::uint32_t grey : greys) {
        for (int at = 0; at < 4; ++at) {
          Pixels dst = {0x90C08040u, 0x4020A0F0u, 0x01FF0000u, 0xFE00FF80u};
          dst[at] = grey;
          const Pixels src = {0xFF3366CCu, 0xC0FF8000u, 0xFF00FF7Fu, 0x80808000u};
          Pixels want(4);
          for (int i = 0; i < 4; ++i) want[i] = ref::Blend(rp, dst[i], src[i]);
          SelectRowBlender(p)(p, dst.data(), src.data(), 4);
          ASSERT_EQ(dst, want) << "mode " << mode << " opacity " << int(opacity) << " grey " << std::hex << grey
                               << " at " << at;
        }
      }
    }
  }
}

}  // namespace
}  // namespace lumo
