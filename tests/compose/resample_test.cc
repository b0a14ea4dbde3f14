#include "compose/resample.h"
#include "compose/resample_rows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "compose/resample_area.h"
#include "compose/resample_columns.h"
#include "compose/resample_reference.h"
#include "compose/resample_samples.h"
#include "compose/resample_vector.h"
#include "support/picture.h"

namespace lumo {
namespace {

using kez::testing::Lcg;
using Pixels = std::vector<std::uint32_t>;
using ref::ReferenceResample;

// ---------------------------------------------------------------------------
// FitSize

struct FitCase {
  std::int32_t boxW, boxH, srcW, srcH, width, height;
};

class FitSizeTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitSizeTest, FitsTheBox) {
  const FitCase c = GetParam();
  FitResult out;
  out.origin = 77;
  FitSize(c.boxW, c.boxH, c.srcW, c.srcH, out);
  EXPECT_EQ(out.origin, 0);
  EXPECT_EQ(out.width, c.width);
  EXPECT_EQ(out.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FitSizeTest,
    ::testing::Values(
        // The thumbnail box.
        FitCase{256, 256, 1200, 800, 256, 170}, FitCase{256, 256, 800, 1200, 170, 256},
        FitCase{256, 256, 10, 5, 256, 128}, FitCase{256, 256, 1000, 1, 256, 0},
        FitCase{256, 256, 256, 256, 256, 256}, FitCase{256, 256, 1, 1000, 0, 256},
        FitCase{96, 96, 3, 2, 96, 64},
        // Wide box, wide source: the flatter of the two decides.
        FitCase{300, 100, 200, 100, 200, 100}, FitCase{300, 100, 400, 100, 300, 75},
        // Wide box, tall source: always the height.
        FitCase{300, 100, 100, 200, 50, 100},
        // Tall box, wide or square source: always the width.
        FitCase{100, 300, 200, 100, 100, 50}, FitCase{100, 300, 50, 50, 100, 100},
        // Tall box, tall source: the taller of the two decides.
        FitCase{100, 300, 100, 200, 100, 200}, FitCase{100, 300, 100, 400, 75, 300},
        // A height of 0 counts as the ratio 1.
        FitCase{256, 256, 50, 0, 256, 256}, FitCase{200, 100, 50, 0, 100, 100},
        FitCase{256, 0, 100, 50, 256, 128}, FitCase{0, 0, 10, 5, 0, 0},
        FitCase{10, 20, 0, 0, 10, 10},
        // A width of 0 gives the ratio 0: 0 / 0 is 0 and x / 0 saturates
        // instead of converting a non-finite double.
        FitCase{100, 300, 0, 5, 0, 300}, FitCase{0, 10, 0, 5, 0, 0},
        FitCase{-5, 10, 0, 5, -5, INT32_MIN}));

// ---------------------------------------------------------------------------
// Helpers

void Load(CImage32& image, int w, int h, const Pixels& px) {
  ASSERT_TRUE(image.Resize(w, h));
  std::memcpy(image.m_pixels, px.data(), px.size() * sizeof(std::uint32_t));
}

Pixels Contents(const CImage32& image) {
  return Pixels(image.m_pixels, image.m_pixels + static_cast<std::size_t>(image.m_width) * image.m_height);
}

// Resamples px (sw x sh) into a fresh dw x dh image whose pixels start out as
// garbage, so that a pixel left unwritten shows.
Pixels ResampleVia(const Pixels& px, int sw, int sh, int dw, int dh) {
  CImage32 src, dst;
  Load(src, sw, sh, px);
  EXPECT_TRUE(dst.Resize(dw, dh));
  dst.Fill(0xA5A5A5A5u);
  EXPECT_TRUE(Resample(dst, src));
  EXPECT_EQ(dst.m_width, dw);
  EXPECT_EQ(dst.m_height, dh);
  EXPECT_EQ(src.m_width, sw);
  EXPECT_EQ(src.m_height, sh);
  // Wherever the rows road serves the sizes, it gives the same bits from
  // the rows arriving in uneven pieces.
  if (RowResampler::Applies(dw, dh, sw, sh)) {
    CImage32 fed;
    EXPECT_TRUE(fed.Resize(dw, dh));
    fed.Fill(0x5A5A5A5Au);
    RowResampler rows(RowTarget::Of(fed), sw, sh);
    const auto* bytes = reinterpret_cast<const unsigned char*>(px.data());
    const std::size_t pieces[] = {1, 4093, 7, std::size_t{1} << 20};
    for (std::size_t at = 0, turn = 0; at < px.size() * 4; ++turn) {
      std::size_t room = 0;
      unsigned char* space = rows.Space(&room);
      const std::size_t n = std::min({room, px.size() * 4 - at, pieces[turn % 4]});
      std::memcpy(space, bytes + at, n);
      rows.Wrote(n);
      at += n;
    }
    EXPECT_TRUE(rows.Complete());
    EXPECT_EQ(Contents(fed), Contents(dst)) << "rows road " << sw << "x" << sh << " -> " << dw << "x" << dh;
  }
  return Contents(dst);
}

using ref::RandomPixels;

// px against the reference, then the same pixels made opaque and mostly
// white with one pixel just below, which drives the sums to their top.
void ExpectMatchesReference(const Pixels& px, int sw, int sh, int dw, int dh, Lcg& rng) {
  ASSERT_EQ(ResampleVia(px, sw, sh, dw, dh), ReferenceResample(px, sw, sh, dw, dh))
      << sw << "x" << sh << " -> " << dw << "x" << dh;
  Pixels bright = px;
  for (std::uint32_t& p : bright) p |= 0xFF000000u | (rng.Range(0, 7) == 0 ? 0 : 0xFFFFFF);
  bright[rng.Range(0, sw * sh - 1)] = 0xFEFFFFFFu;
  ASSERT_EQ(ResampleVia(bright, sw, sh, dw, dh), ReferenceResample(bright, sw, sh, dw, dh))
      << "bright " << sw << "x" << sh << " -> " << dw << "x" << dh;
}

std::uint32_t Red(std::uint32_t r) { return 0xFF000000u | r << 16; }

// The same resampling by the portable loops.
Pixels PortableVia(const Pixels& px, int sw, int sh, int dw, int dh) {
  const bool before = resample::g_portableKernels;
  resample::g_portableKernels = true;
  Pixels out = ResampleVia(px, sw, sh, dw, dh);
  resample::g_portableKernels = before;
  return out;
}

// Every area-averaged enlargement that the thumbnail sizes (96 to 2560
// pixels square) make of the source sizes the tests and benchmarks use.
std::vector<std::array<int, 4>> ThumbnailEnlargements() {
  std::vector<std::array<int, 4>> sizes;
  for (const auto& [sw, sh] : {std::array<int, 2>{100, 100}, std::array<int, 2>{300, 200},
                               std::array<int, 2>{1000, 700}, std::array<int, 2>{1024, 700},
                               std::array<int, 2>{1024, 768}, std::array<int, 2>{1024, 1024}}) {
    for (int box : {96, 256, 1024, 2048, 2560}) {
      FitResult fit;
      FitSize(box, box, sw, sh, fit);
      if (fit.width <= sw && fit.height <= sh) continue;
      if (resample::PointSampled(sw, sh, fit.width, fit.height)) continue;
      sizes.push_back({sw, sh, fit.width, fit.height});
    }
  }
  return sizes;
}

// ---------------------------------------------------------------------------
// Fixed examples

struct RowCase {
  const char* name;
  std::vector<std::uint32_t> reds;
  int dw;
  std::vector<std::uint32_t> expected;
};

void PrintTo(const RowCase& c, std::ostream* os) { *os << c.name; }

class ResampleRowTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(ResampleRowTest, OpaqueRow) {
  const RowCase& c = GetParam();
  Pixels src, want;
  for (std::uint32_t r : c.reds) src.push_back(Red(r));
  for (std::uint32_t r : c.expected) want.push_back(Red(r));
  EXPECT_EQ(ResampleVia(src, static_cast<int>(src.size()), 1, c.dw, 1), want);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ResampleRowTest,
    ::testing::Values(
        // Step 0.375: the last pixel lies inside column 2 and ends at the edge.
        RowCase{"ThreeToEight", {10, 100, 200}, 8, {10, 10, 40, 100, 100, 167, 200, 200}},
        // Step 1.5: column 2 ends exactly at the edge and weighs the full 255.
        RowCase{"ThreeToTwo", {0, 90, 200}, 2, {30, 163}},
        // Step 4 exactly: each footprint reaches into the next column with
        // an end fraction of 0, which the floor raises to a weight of 255.
        RowCase{"EightToTwo", {0, 0, 0, 0, 255, 255, 255, 255}, 2, {0, 255}},
        RowCase{"EightToTwoPhantom", {200, 0, 0, 0, 200, 0, 0, 0}, 2, {50, 50}},
        RowCase{"OneToThreeIsPointSampled", {77}, 3, {77, 77, 77}},
        RowCase{"FiveToOne", {0, 50, 100, 150, 200}, 1, {100}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ResampleTest, TransparentColourDoesNotMixIn) {
  EXPECT_EQ(ResampleVia({0xFFFF0000u, 0x0000FF00u}, 2, 1, 1, 1), Pixels{0x7FFF0000u});
}

TEST(ResampleTest, SameSizeCopiesExactly) {
  Lcg rng(7);
  for (auto [w, h] : {std::pair{1, 1}, std::pair{13, 7}, std::pair{64, 64}}) {
    const Pixels px = RandomPixels(w, h, rng);
    EXPECT_EQ(ResampleVia(px, w, h, w, h), px) << w << "x" << h;
  }
}

TEST(ResampleTest, ResamplingAnImageOntoItselfKeepsIt) {
  Lcg rng(8);
  const Pixels px = RandomPixels(9, 4, rng);
  CImage32 img;
  Load(img, 9, 4, px);
  EXPECT_TRUE(Resample(img, img));
  EXPECT_EQ(Contents(img), px);
}

TEST(ResampleTest, IntegerEnlargementRepeatsBlocks) {
  const Pixels px = {0x11223344u, 0x00FFFFFFu, 0x80000001u, 0xFFABCDEFu};
  // 2x2 -> 4x4: 2x2 blocks; 2x2 -> 4x6: 2x3 blocks.
  EXPECT_EQ(ResampleVia(px, 2, 2, 4, 4),
            (Pixels{0x11223344u, 0x11223344u, 0x00FFFFFFu, 0x00FFFFFFu,  //
                    0x11223344u, 0x11223344u, 0x00FFFFFFu, 0x00FFFFFFu,  //
                    0x80000001u, 0x80000001u, 0xFFABCDEFu, 0xFFABCDEFu,  //
                    0x80000001u, 0x80000001u, 0xFFABCDEFu, 0xFFABCDEFu}));
  EXPECT_EQ(ResampleVia(px, 2, 2, 4, 6),
            (Pixels{0x11223344u, 0x11223344u, 0x00FFFFFFu, 0x00FFFFFFu,  //
                    0x11223344u, 0x11223344u, 0x00FFFFFFu, 0x00FFFFFFu,  //
                    0x11223344u, 0x11223344u, 0x00FFFFFFu, 0x00FFFFFFu,  //
                    0x80000001u, 0x80000001u, 0xFFABCDEFu, 0xFFABCDEFu,  //
                    0x80000001u, 0x80000001u, 0xFFABCDEFu, 0xFFABCDEFu,  //
                    0x80000001u, 0x80000001u, 0xFFABCDEFu, 0xFFABCDEFu}));
  // Whole multiples in one direction only are point sampled as well (x3, x1).
  EXPECT_EQ(ResampleVia({0xFF000001u, 0xFF000002u}, 2, 1, 6, 1),
            (Pixels{0xFF000001u, 0xFF000001u, 0xFF000001u, 0xFF000002u, 0xFF000002u, 0xFF000002u}));
}

TEST(ResampleTest, NonMultipleEnlargementIsAreaAveraged) {
  // Opaque grey levels: 2x2 -> 4x5 and 5x5. Column 1 of the result reaches
  // from the middle of source column 0 to the start of column 1, which then
  // weighs only the floor of 255 against 127 x 102 (0x50 * 255 / 13 158 = 1);
  // row 2 straddles both source rows by 51 each.
  const Pixels px = {0xFF000000u, 0xFF505050u, 0xFFA0A0A0u, 0xFFF0F0F0u};
  EXPECT_EQ(ResampleVia(px, 2, 2, 4, 5),
            (Pixels{0xFF000000u, 0xFF010101u, 0xFF505050u, 0xFF505050u,  //
                    0xFF000000u, 0xFF010101u, 0xFF505050u, 0xFF505050u,  //
                    0xFF505050u, 0xFF535353u, 0xFFA0A0A0u, 0xFFA0A0A0u,  //
                    0xFFA0A0A0u, 0xFFA1A1A1u, 0xFFF0F0F0u, 0xFFF0F0F0u,  //
                    0xFFA0A0A0u, 0xFFA1A1A1u, 0xFFF0F0F0u, 0xFFF0F0F0u}));
  EXPECT_EQ(ResampleVia(px, 2, 2, 5, 5), ReferenceResample(px, 2, 2, 5, 5));
}

TEST(ResampleTest, SharedAlphaIsKeptExactly) {
  Lcg rng(11);
  Pixels px(37 * 23);
  for (std::uint32_t& p : px) p = 200u << 24 | (rng.Next() & 0xFFFFFF);
  const Pixels out = ResampleVia(px, 37, 23, 10, 7);
  for (std::uint32_t p : out) ASSERT_EQ(p >> 24, 200u);
}

TEST(ResampleTest, FullyTransparentGivesZero) {
  Lcg rng(12);
  Pixels px(31 * 17);
  for (std::uint32_t& p : px) p = rng.Next() & 0xFFFFFF;
  EXPECT_EQ(ResampleVia(px, 31, 17, 7, 5), Pixels(35, 0u));
  EXPECT_EQ(ResampleVia(px, 31, 17, 40, 30), Pixels(1200, 0u));
}

#if KEZ_RESAMPLE_VECTOR
// The vector division behind every output channel: exact floors across the
// whole range the sums can take (n < 2^32, d < 2^24, n / d < 256), most of
// all where n / d is whole or just below the next whole number.
TEST(ResampleQuotientTest, FloorOfEveryQuotientIsExact) {
  namespace v4 = resample::v4;
  Lcg rng(15);
  std::vector<std::uint32_t> divisors = {1, 2, 3, 254, 255, 256, 257, 65025, 65536, 16646400, 16777215};
  for (int i = 0; i < 200; ++i) divisors.push_back(1 + rng.Next() % 16777215u);
  int checked = 0;
  for (std::uint32_t d : divisors) {
    for (std::uint64_t q = 0; q < 256; ++q) {
      for (std::uint64_t n : {q * d, q * d + d - 1, q * d + d / 2, q * d == 0 ? 0 : q * d - 1}) {
        if (n > 0xFFFFFFFFu || n / d > 255) continue;
        const std::uint32_t n32 = static_cast<std::uint32_t>(n);
        const v4::V lanes = v4::Make(n32, n32 & 255, 0, n32);
        std::uint32_t out[4];
        v4::Store(out, v4::Quotient(lanes, v4::ReciprocalOf(v4::Make(d, 1, d, d))));
        ASSERT_EQ(out[0], n / d) << n << " / " << d;
        ASSERT_EQ(out[1], n32 & 255) << n << " / 1";
        ASSERT_EQ(out[2], 0u);
        ASSERT_EQ(out[3], n / d) << n << " / " << d;
        ++checked;
        if (n >= 0x80000000u) continue;
        // Dividends below 2^31 have their own, cheaper form.
        v4::Store(out, v4::SmallQuotient(lanes, v4::NudgedReciprocalOf(v4::Make(d, 1, d, d))));
        ASSERT_EQ(out[0], n / d) << n << " / " << d << " (small)";
        ASSERT_EQ(out[1], n32 & 255) << n << " / 1 (small)";
        ASSERT_EQ(out[2], 0u);
        ASSERT_EQ(out[3], n / d) << n << " / " << d << " (small)";
      }
    }
  }
  EXPECT_GT(checked, 200000);
}

// The enlargement loops' weights, eight 16-bit values per vector, against
// the scalar rule: every alpha with every coverage weight they take (0, and
// 255 up to 2^15 - 1), every weight of an opaque sample, and every pair of
// horizontal and vertical weights.
TEST(ResamplePairsTest, WeightsMatchTheScalarRule) {
  namespace v4 = resample::v4;
  std::uint32_t out[4];
  const auto pairs = [](std::uint32_t lo, std::uint32_t hi) { return v4::Splat(lo | hi << 16); };
  for (std::uint32_t alpha = 0; alpha < 256; ++alpha) {
    const v4::V alpha257 = v4::Splat(alpha * 257 * 0x10001);
    for (std::uint32_t w = 254; w < 32768; w += 2) {
      const std::uint32_t w0 = w == 254 ? 0 : w, w1 = w + 1;
      v4::Store(out, resample::AlphaWeights(alpha257, pairs(w0, w1)));
      ASSERT_EQ(out[0] & 0xFFFF, resample::EdgeAlphaWeight(alpha, w0)) << alpha << " x " << w0;
      ASSERT_EQ(out[3] >> 16, resample::EdgeAlphaWeight(alpha, w1)) << alpha << " x " << w1;
    }
  }
  for (std::uint32_t w = 0; w <= 65025; ++w) {
    v4::Store(out, resample::OpaqueAlphaWeights(pairs(w, 65025 - w)));
    ASSERT_EQ(out[1] & 0xFFFF, resample::EdgeAlphaWeight(255, w)) << w;
    ASSERT_EQ(out[2] >> 16, resample::EdgeAlphaWeight(255, 65025 - w)) << 65025 - w;
  }
  for (std::uint32_t wx = 0; wx < 256; ++wx) {
    for (std::uint32_t wy = 0; wy < 256; ++wy) {
      v4::Store(out, resample::RowWeights(pairs(wx, 255 - wx), v4::Splat(wy * 0x10001), v4::Make(~0u, 0xFFFF, ~0u, 0)));
      ASSERT_EQ(out[0], resample::FloorWeight(wx * wy) | resample::FloorWeight((255 - wx) * wy) << 16)
          << wx << " " << wy;
      ASSERT_EQ(out[1], resample::FloorWeight(wx * wy)) << wx << " " << wy;
      ASSERT_EQ(out[3], 0u);
    }
  }
}

// Their floor division: whole floats, correctly rounded, truncated, for
// every quotient below 256 of a dividend below 2^24 and a divisor below
// 2^16, most of all the whole ones and those just below the next.
TEST(ResamplePairsTest, FloatFloorOfEveryQuotientIsExact) {
  namespace v4 = resample::v4;
  Lcg rng(45);
  std::vector<std::uint32_t> divisors = {1, 2, 3, 255, 256, 257, 32767, 32768, 65024, 65025, 65534, 65535};
  for (int i = 0; i < 300; ++i) divisors.push_back(1 + rng.Next() % 65535u);
  std::uint32_t out[4];
  for (std::uint32_t d : divisors) {
    const v4::F divisor = v4::ToFloat(v4::Splat(d));
    for (std::uint32_t q = 0; q < 256; ++q) {
      const std::uint32_t n[4] = {q * d, q * d + d - 1, q * d + d / 2, q * d == 0 ? 0 : q * d - 1};
      if (n[1] >= (1u << 24)) continue;
      v4::Store(out, v4::FloorQuotient(v4::Make(n[0], n[1], n[2], n[3]), divisor));
      for (int i = 0; i < 4; ++i) ASSERT_EQ(out[i], n[i] / d) << n[i] << " / " << d;
    }
  }
}
#endif

// The vector loops and the portable ones, where both exist, give the same
// bits; every case below runs with each.
class ResampleKernelsTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { resample::g_portableKernels = GetParam(); }
  void TearDown() override { resample::g_portableKernels = false; }
};

INSTANTIATE_TEST_SUITE_P(Kernels, ResampleKernelsTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Portable" : "Vector"); });

TEST_P(ResampleKernelsTest, SolidColoursStayExact) {
  // Every quotient is a whole number here: the estimate-and-correct
  // division must not come out one low.
  for (std::uint32_t colour : {0xFFFFFFFFu, 0xFFC86432u, 0x80FF0001u, 0x01FFFFFFu, 0xFE7F7F7Fu}) {
    for (const auto& [sw, sh, dw, dh] : {std::array<int, 4>{240, 240, 16, 16}, std::array<int, 4>{256, 256, 16, 16},
                                         std::array<int, 4>{7, 5, 3, 2}, std::array<int, 4>{5, 3, 13, 11},
                                         std::array<int, 4>{1024, 3, 255, 2}}) {
      const Pixels px(static_cast<std::size_t>(sw) * sh, colour);
      ASSERT_EQ(ResampleVia(px, sw, sh, dw, dh), Pixels(static_cast<std::size_t>(dw) * dh, colour))
          << std::hex << colour << std::dec << " " << sw << "x" << sh << " -> " << dw << "x" << dh;
    }
  }
}

TEST_P(ResampleKernelsTest, FootprintsAroundTheLimitOf32BitSums) {
  // 15 x 15 steps give footprints of 256 samples (the most that 32-bit sums
  // take), 16 x 16 steps 289 samples (64-bit sums); 7 x 15 steps give 128
  // (the most whose sums stay below 2^31) and 7.5 x 15 up to 144. White at
  // full alpha drives the sums closest to those limits.
  Lcg rng(14);
  for (const auto& [sw, sh, dw, dh] :
       {std::array<int, 4>{240, 240, 16, 16}, std::array<int, 4>{256, 256, 16, 16},
        std::array<int, 4>{241, 239, 16, 16}, std::array<int, 4>{3840, 16, 256, 1},
        std::array<int, 4>{112, 240, 16, 16}, std::array<int, 4>{120, 240, 16, 16}}) {
    const Pixels px = RandomPixels(sw, sh, rng);
    ASSERT_EQ(ResampleVia(px, sw, sh, dw, dh), ReferenceResample(px, sw, sh, dw, dh))
        << sw << "x" << sh << " -> " << dw << "x" << dh;
    Pixels bright = px;
    for (std::uint32_t& p : bright) p |= 0xFF000000u | (rng.Range(0, 7) == 0 ? 0 : 0xFFFFFF);
    bright[0] = 0xFEFFFFFFu;
    ASSERT_EQ(ResampleVia(bright, sw, sh, dw, dh), ReferenceResample(bright, sw, sh, dw, dh))
        << sw << "x" << sh << " -> " << dw << "x" << dh;
  }
}

TEST_P(ResampleKernelsTest, LargeFootprintSumsDoNotWrap) {
  // 4096 x 64 source pixels under one destination pixel: colour sums reach
  // about 2^42.
  const Pixels white(4096 * 64, 0xFFFFFFFFu);
  EXPECT_EQ(ResampleVia(white, 4096, 64, 1, 1), Pixels{0xFFFFFFFFu});
  Lcg rng(13);
  const Pixels px = RandomPixels(4096, 64, rng);
  EXPECT_EQ(ResampleVia(px, 4096, 64, 1, 1), ReferenceResample(px, 4096, 64, 1, 1));
  EXPECT_EQ(ResampleVia(px, 4096, 64, 3, 1), ReferenceResample(px, 4096, 64, 3, 1));
  const Pixels tall = RandomPixels(3, 5000, rng);
  EXPECT_EQ(ResampleVia(tall, 3, 5000, 2, 1), ReferenceResample(tall, 3, 5000, 2, 1));
  // Steps of 40 000 source pixels (over 2^31 in 16.16) stay exact.
  const Pixels wide = RandomPixels(40000, 2, rng);
  EXPECT_EQ(ResampleVia(wide, 40000, 2, 1, 1), ReferenceResample(wide, 40000, 2, 1, 1));
  const Pixels opaqueWide(40000 * 2, 0xFF336699u);
  EXPECT_EQ(ResampleVia(opaqueWide, 40000, 2, 1, 1), Pixels{0xFF336699u});
}

TEST_P(ResampleKernelsTest, PaintingMatchesReference) {
  const Pixels px = kez::testing::PaintingLikePicture(301, 203, 5);
  EXPECT_EQ(ResampleVia(px, 301, 203, 256, 172), ReferenceResample(px, 301, 203, 256, 172));
  EXPECT_EQ(ResampleVia(px, 301, 203, 64, 43), ReferenceResample(px, 301, 203, 64, 43));
  EXPECT_EQ(ResampleVia(px, 301, 203, 1000, 500), ReferenceResample(px, 301, 203, 1000, 500));
  // Whole-number ratios: every footprint has the same edge weights (full
  // first columns and rows, floor-weighted last ones).
  const Pixels square = kez::testing::PaintingLikePicture(256, 256, 6);
  EXPECT_EQ(ResampleVia(square, 256, 256, 64, 64), ReferenceResample(square, 256, 256, 64, 64));
  EXPECT_EQ(ResampleVia(square, 256, 256, 128, 85), ReferenceResample(square, 256, 256, 128, 85));
  const Pixels wide = kez::testing::PaintingLikePicture(300, 200, 7);
  EXPECT_EQ(ResampleVia(wide, 300, 200, 100, 50), ReferenceResample(wide, 300, 200, 100, 50));
  EXPECT_EQ(ResampleVia(wide, 300, 200, 75, 199), ReferenceResample(wide, 300, 200, 75, 199));
}

// Many size pairs against the per-pixel transcription: down and up, odd
// sizes, one-pixel sides, large factors.
TEST_P(ResampleKernelsTest, RandomSizesMatchReference) {
  Lcg rng(2024);
  std::vector<std::array<int, 4>> sizes = {
      {1000, 3, 3, 1},  {1000, 2, 7, 2}, {3, 1000, 1, 3}, {1, 1, 7, 3},   {1, 5, 3, 2},
      {5, 1, 2, 9},     {97, 1, 1, 1},   {3, 3, 250, 7},  {2, 2, 5, 5},   {7, 7, 3, 3},
      {255, 255, 256, 1}, {256, 1, 255, 2}, {640, 4, 9, 4}, {4, 640, 4, 9}, {1, 300, 1, 299},
  };
  for (int i = 0; i < 300; ++i) {
    const int sw = rng.Range(1, rng.Range(0, 3) == 0 ? 200 : 40);
    const int sh = rng.Range(1, rng.Range(0, 3) == 0 ? 200 : 40);
    const int dw = rng.Range(1, rng.Range(0, 1) == 0 ? sw : 3 * sw + 2);
    const int dh = rng.Range(1, rng.Range(0, 1) == 0 ? sh : 3 * sh + 2);
    sizes.push_back({sw, sh, dw, dh});
  }
  for (const auto& [sw, sh, dw, dh] : sizes) {
    const Pixels px = RandomPixels(sw, sh, rng);
    ASSERT_EQ(ResampleVia(px, sw, sh, dw, dh), ReferenceResample(px, sw, sh, dw, dh))
        << sw << "x" << sh << " -> " << dw << "x" << dh;
  }
}

// Whole-number horizontal ratios run four footprints per vector straight
// from the source rows and finish each row's last pixels one by one: every
// width that takes them, row counts from one (vertical enlargement) to the
// most that 32-bit sums take, and widths leaving 0 to 3 pixels over.
TEST_P(ResampleKernelsTest, WholeNumberColumnRatiosMatchReference) {
  Lcg rng(31);
  for (int n : {2, 3, 4, 8, 12}) {
    for (int dw : {1, 2, 4, 5, 6, 7, 8, 9, 16, 19}) {
      for (const auto& [sh, dh] : {std::array<int, 2>{5, 9}, std::array<int, 2>{7, 7}, std::array<int, 2>{40, 10},
                                   std::array<int, 2>{41, 3}, std::array<int, 2>{19, 1}, std::array<int, 2>{256 / (n + 1), 1}}) {
        const int sw = n * dw;
        ExpectMatchesReference(RandomPixels(sw, sh, rng), sw, sh, dw, dh, rng);
      }
    }
  }
}

// Footprints of one or two columns (enlargements across, or equal widths)
// are summed pixel by pixel in one pass: widths leaving 0 to 3 pixels over,
// row counts from one to 128, the most that path takes (with sums just
// below 2^31), and past it.
TEST_P(ResampleKernelsTest, OneOrTwoColumnFootprintsMatchReference) {
  Lcg rng(37);
  for (const auto& [sw, sh, dw, dh] :
       {std::array<int, 4>{100, 100, 256, 256}, std::array<int, 4>{3, 2, 4, 5}, std::array<int, 4>{5, 9, 13, 4},
        std::array<int, 4>{37, 50, 37, 20}, std::array<int, 4>{16, 3, 16, 2}, std::array<int, 4>{7, 1, 9, 1},
        std::array<int, 4>{6, 640, 7, 9}, std::array<int, 4>{6, 640, 11, 5}, std::array<int, 4>{9, 300, 10, 1},
        std::array<int, 4>{2, 7, 255, 3}, std::array<int, 4>{41, 41, 42, 43}, std::array<int, 4>{6, 1270, 7, 10},
        std::array<int, 4>{5, 1280, 5, 10}}) {
    ExpectMatchesReference(RandomPixels(sw, sh, rng), sw, sh, dw, dh, rng);
  }
}

// The same source rows handed from two copies of the picture in turn: what
// is kept of a row is told apart by its address too.
TEST_P(ResampleKernelsTest, SourceRowsAtChangingAddressesMatchReference) {
  Lcg rng(39);
  for (const int dh : {7, 11}) {
    const Pixels px = RandomPixels(1, 3, rng), copies[2] = {px, px};
    resample::AreaRows area(4, dh, 1, 3);
    Pixels out(4 * static_cast<std::size_t>(dh));
    for (int j = 0; j < dh; ++j) {
      const resample::Span rs = area.RowsOf(j);
      const std::uint32_t* rows[] = {&copies[j & 1][rs.first], &copies[j & 1][rs.first + rs.count - 1]};
      area.Fill(j, rows, out.data() + 4 * j);
    }
    EXPECT_EQ(out, ReferenceResample(px, 1, 3, 4, dh)) << "1x3 -> 4x" << dh;
  }
}

// Enlargements draw most pixels from one to four samples in one pass over
// source rows spread out once; opaque groups take position-only weights,
// any other alpha the rule in full. Single source pixels below full alpha
// in an opaque picture: each footprint that reaches one has exactly one
// sample short of opaque, in every position of its group's lanes.
TEST_P(ResampleKernelsTest, OneTranslucentSampleAmongOpaqueMatchesReference) {
  Lcg rng(41);
  for (const auto& [sw, sh, dw, dh] : {std::array<int, 4>{7, 3, 18, 8}, std::array<int, 4>{5, 4, 13, 11},
                                       std::array<int, 4>{9, 2, 23, 5}, std::array<int, 4>{4, 4, 10, 10}}) {
    Pixels px(static_cast<std::size_t>(sw) * sh);
    for (std::uint32_t& p : px) p = 0xFF000000u | (rng.Next() & 0xFFFFFF);
    for (std::size_t i = 0; i < px.size(); ++i) {
      for (std::uint32_t alpha : {0u, 1u, 127u, 254u}) {
        Pixels one = px;
        one[i] = alpha << 24 | (one[i] & 0xFFFFFF);
        ASSERT_EQ(ResampleVia(one, sw, sh, dw, dh), ReferenceResample(one, sw, sh, dw, dh))
            << sw << "x" << sh << " -> " << dw << "x" << dh << " pixel " << i << " alpha " << alpha;
      }
    }
  }
}

// Pictures of every alpha mix, through strips of each thumbnail
// enlargement: a wide one takes every column footprint of the ratio, a tall
// one every row footprint (with weight tables kept and made afresh).
TEST(ResampleEnlargementTest, StripsOfEveryThumbnailEnlargementMatchPortableAndReference) {
  Lcg rng(43);
  const auto kinds = [&](int w, int h) {
    std::vector<Pixels> pictures;
    Pixels opaque(static_cast<std::size_t>(w) * h), clear = opaque, sparse = opaque;
    for (std::size_t i = 0; i < opaque.size(); ++i) {
      const std::uint32_t colour = rng.Next() & 0xFFFFFF;
      opaque[i] = 0xFF000000u | colour;
      clear[i] = colour;
      // About one pixel in 40 below full alpha, 254 down to 0.
      sparse[i] = rng.Range(0, 39) == 0 ? static_cast<std::uint32_t>(rng.Range(0, 254)) << 24 | colour : opaque[i];
    }
    Pixels bright = opaque;
    for (std::uint32_t& p : bright) p |= 0xFFFFFF;
    bright[static_cast<std::size_t>(rng.Range(0, w * h - 1))] = 0xFEFFFFFFu;
    pictures = {opaque, clear, sparse, bright, RandomPixels(w, h, rng)};
    return pictures;
  };
  for (const auto& [sw, sh, dw, dh] : ThumbnailEnlargements()) {
    const int wideRows = std::max(2, 3 * dh / sh), tallColumns = std::max(4, 5 * dw / sw);
    for (const auto& [w, h, ow, oh] :
         {std::array<int, 4>{sw, 3, dw, wideRows}, std::array<int, 4>{5, sh, tallColumns, dh}}) {
      for (const Pixels& px : kinds(w, h)) {
        const Pixels vector = ResampleVia(px, w, h, ow, oh);
        ASSERT_EQ(vector, PortableVia(px, w, h, ow, oh)) << w << "x" << h << " -> " << ow << "x" << oh;
        ASSERT_EQ(vector, ReferenceResample(px, w, h, ow, oh)) << w << "x" << h << " -> " << ow << "x" << oh;
      }
    }
  }
}

// Whole pictures at every thumbnail enlargement, the vector loops against
// the portable ones: painting-like (opaque inside, its margin fading out,
// translucent strokes), and for the largest, opaque throughout and opaque
// but for scattered pixels.
TEST(ResampleEnlargementTest, WholePicturesAtEveryThumbnailEnlargementMatchPortable) {
  Lcg rng(47);
  const std::vector<std::array<int, 4>> sizes = ThumbnailEnlargements();
  ASSERT_EQ(sizes.size(), 13u);
  for (const auto& [sw, sh, dw, dh] : sizes) {
    std::vector<Pixels> pictures = {kez::testing::PaintingLikePicture(sw, sh, 9, 1)};
    if (dw == 2560 && sw == 1024 && sh == 1024) {
      Pixels opaque = pictures[0], sparse = pictures[0];
      for (std::uint32_t& p : opaque) p |= 0xFF000000u;
      for (std::uint32_t& p : sparse) {
        p |= 0xFF000000u;
        if (rng.Range(0, 999) == 0) p &= static_cast<std::uint32_t>(rng.Range(0, 254)) << 24 | 0xFFFFFF;
      }
      pictures.push_back(opaque);
      pictures.push_back(sparse);
    }
    for (const Pixels& px : pictures) {
      ASSERT_EQ(ResampleVia(px, sw, sh, dw, dh), PortableVia(px, sw, sh, dw, dh))
          << sw << "x" << sh << " -> " << dw << "x" << dh;
    }
  }
}

}  // namespace
}  // namespace lumo
