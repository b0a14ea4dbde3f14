// Every mode number against the plain per-pixel transcription in
// blend_reference.h, over seeded random spans: opacities at and around the
// edges, both gamma settings, destination and source alpha at 0, 255 and in
// between, in runs long enough for the vector paths and in odd lengths and
// offsets around them.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "compose/blend.h"
#include "compose/blend_reference.h"

namespace lumo {
namespace {

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }

  // Alpha of a kind: 0 only 0, 1 only 255, 2 only 1..254, 3 mixed per pixel.
  std::uint32_t Alpha(int kind) {
    switch (kind) {
      case 0: return 0;
      case 1: return 255;
      case 2: return 1 + Below(254);
      default: {
        const std::uint32_t pick = Below(6);
        if (pick == 0) return 0;
        if (pick == 1) return 255;
        if (pick == 2) return Below(2) ? 1 : 254;
        return Below(256);
      }
    }
  }

  // Channel values with the edges and equal pairs well represented.
  std::uint32_t Channel(std::uint32_t other) {
    const std::uint32_t pick = Below(10);
    if (pick == 0) return 0;
    if (pick == 1) return 255;
    if (pick == 2) return other;
    return Below(256);
  }

  std::uint32_t Colour(std::uint32_t alpha, std::uint32_t other) {
    std::uint32_t v = alpha << 24;
    for (int c = 0; c < 3; ++c) v |= Channel((other >> (8 * c)) & 0xFF) << (8 * c);
    if (Below(16) == 0) v = (v & 0xFF000000u) | (Below(2) ? 0xFFFFFFu : 0);  // white, black
    return v;
  }

  // A run-structured alpha kind per pixel: runs of 1..12 pixels of one kind.
  std::vector<int> Kinds(std::size_t n, int spanKind) {
    std::vector<int> kinds(n);
    int kind = spanKind;
    for (std::size_t i = 0; i < n; ++i) {
      if (spanKind == 4 && (i == 0 || Below(8) == 0)) kind = static_cast<int>(Below(4));
      kinds[i] = spanKind == 4 ? kind : spanKind;
    }
    return kinds;
  }

 private:
  std::mt19937 rng_;
};

std::string Describe(const DrawParams& p, std::size_t i, std::uint32_t dst, std::uint32_t src) {
  char text[160];
  std::snprintf(text, sizeof text, "mode %d opacity %d gamma %d pixel %zu dst %08X src %08X",
                p.mode, p.opacity, p.gamma, i, dst, src);
  return text;
}

class BlendSweep : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(BlendSweep, MatchesTheReferenceOnRandomSpans) {
  const std::int32_t mode = GetParam();
  Generator gen(0x5EED0000u ^ static_cast<std::uint32_t>(mode) * 2654435761u);
  const bool hueFamily = (mode >= 22 && mode <= 25) || (mode >= 46 && mode <= 49);
  const int spans = hueFamily ? 10 : 20;
  constexpr std::uint32_t kGuard = 0xDEADBEEFu;
  int failures = 0;

  for (std::uint8_t opacity : {0, 1, 127, 128, 254, 255}) {
    for (std::uint8_t gamma : {0, 1}) {
      for (int span = 0; span < spans && failures < 5; ++span) {
        // Lengths around multiples of 4, 8 and 16, at varying offsets.
        const std::size_t n = span == 0 ? 67 : 1 + gen.Below(40);
        const std::size_t offset = gen.Below(4);
        const std::vector<int> dstKinds = gen.Kinds(n, static_cast<int>(gen.Below(5)));
        const std::vector<int> srcKinds = gen.Kinds(n, static_cast<int>(gen.Below(5)));

        std::vector<std::uint32_t> dst(n + offset + 2, kGuard);
        std::vector<std::uint32_t> src(n + offset + 2, kGuard);
        for (std::size_t i = 0; i < n; ++i) {
          const std::uint32_t d = gen.Colour(gen.Alpha(dstKinds[i]), gen.Below(1u << 24));
          dst[offset + i] = d;
          src[offset + i] = gen.Colour(gen.Alpha(srcKinds[i]), d);
        }

        DrawParams p;
        p.mode = mode;
        p.opacity = opacity;
        p.gamma = gamma;
        p.fillColour = gen.Colour(gen.Alpha(3), 0);
        p.keyColour = src[offset + gen.Below(static_cast<std::uint32_t>(n))];
        const ref::Params rp{mode, opacity, gamma, p.fillColour, p.keyColour};

        std::vector<std::uint32_t> expected = dst;
        for (std::size_t i = 0; i < n; ++i) {
          expected[offset + i] = ref::Blend(rp, dst[offset + i], src[offset + i]);
        }
        const std::vector<std::uint32_t> before = dst;
        SelectRowBlender(p)(p, dst.data() + offset, src.data() + offset,
                            static_cast<std::int32_t>(n));
        for (std::size_t i = 0; i < dst.size() && failures < 5; ++i) {
          if (dst[i] != expected[i]) {
            ++failures;
            ADD_FAILURE() << Describe(p, i, before[i], src[i]) << ": got " << std::hex << dst[i]
                          << ", expected " << expected[i];
          }
        }
      }
    }
  }
}

std::vector<std::int32_t> AllModeNumbers() {
  std::vector<std::int32_t> modes;
  for (std::int32_t m = 0; m <= 64; ++m) modes.push_back(m);
  for (std::int32_t m : {-1, 65, 1000, INT32_MIN, INT32_MAX}) modes.push_back(m);
  return modes;
}

INSTANTIATE_TEST_SUITE_P(AllModes, BlendSweep, ::testing::ValuesIn(AllModeNumbers()),
                         [](const ::testing::TestParamInfo<std::int32_t>& info) {
                           const std::int32_t m = info.param;
                           return m < 0 ? "minus" + std::to_string(-static_cast<std::int64_t>(m))
                                        : std::to_string(m);
                         });

// The reference tables follow the same formulas, computed apart.
TEST(BlendSweep, ReferenceTablesAgree) {
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(g_sqrtTable[i], ref::T().sqrtT[i]) << i;
    EXPECT_EQ(g_gammaExpand[i], ref::T().expand[i]) << i;
    EXPECT_EQ(g_gammaCompress[i], ref::T().compress[i]) << i;
  }
}

// Exhaustive over every (s, d): each separable operation stays in 0..255,
// so no channel can wrap.
TEST(BlendSweep, SeparableOperationsStayInRange) {
  for (int op : {ref::kAdd, ref::kSubtract, ref::kMultiply, ref::kDivide, ref::kOverlay,
                 ref::kScreen, ref::kLighten, ref::kDarken, ref::kDifference, ref::kExclusion,
                 ref::kDodge, ref::kBurn, ref::kLinearBurn, ref::kSoftLight, ref::kHardLight,
                 ref::kHardMix}) {
    for (int s = 0; s < 256; ++s) {
      for (int d = 0; d < 256; ++d) {
        const int x = ref::Separable(op, s, d);
        ASSERT_TRUE(x >= 0 && x <= 255) << "op " << op << " s " << s << " d " << d << " -> " << x;
      }
    }
  }
}

}  // namespace
}  // namespace lumo
