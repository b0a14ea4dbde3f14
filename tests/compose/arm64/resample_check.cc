// Resampling on ARM64 (the NEON paths), run under emulation by
// scripts/check-arm64: random and painting-like pictures at every kind of
// size pair (whole-number column ratios, other reductions, one- or
// two-column footprints, footprints near the limits of 32-bit sums) against
// the per-pixel reference, with the vector loops and with the portable ones.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "compose/resample.h"
#include "compose/resample_columns.h"
#include "compose/resample_reference.h"
#include "support/picture.h"

using namespace lumo;

namespace {

using Pixels = std::vector<std::uint32_t>;

Pixels Resampled(const Pixels& px, int sw, int sh, int dw, int dh) {
  CImage32 src, dst;
  if (!src.Resize(sw, sh) || !dst.Resize(dw, dh)) return {};
  std::memcpy(src.m_pixels, px.data(), px.size() * sizeof(std::uint32_t));
  Resample(dst, src);
  return Pixels(dst.m_pixels, dst.m_pixels + static_cast<std::size_t>(dw) * dh);
}

}  // namespace

int main() {
  kez::testing::Lcg rng(5);
  std::vector<std::array<int, 4>> sizes = {
      {1024, 64, 256, 16}, {512, 40, 256, 10}, {2048, 20, 256, 3},  {3072, 30, 256, 2}, {300, 200, 100, 50},
      {1000, 70, 256, 18}, {100, 100, 256, 256}, {240, 240, 16, 16}, {256, 256, 16, 16}, {112, 240, 16, 16},
      {4096, 64, 1, 1},    {3, 5000, 2, 1},     {7, 5, 3, 2},       {5, 3, 13, 11},     {1024, 3, 255, 2},
  };
  for (int i = 0; i < 200; ++i) {
    const int sw = rng.Range(1, 120), sh = rng.Range(1, 120);
    sizes.push_back({sw, sh, rng.Range(1, 2 * sw + 2), rng.Range(1, 2 * sh + 2)});
  }
  for (const auto& pair : {std::array<int, 4>{37, 50, 37, 20}, std::array<int, 4>{6, 640, 7, 9},
                           std::array<int, 4>{41, 41, 42, 43}, std::array<int, 4>{2, 7, 255, 3}}) {
    sizes.push_back(pair);
  }
  for (int n : {2, 4, 8, 12}) {
    for (int dw : {4, 5, 6, 7, 9}) sizes.push_back({n * dw, 41, dw, 3});
  }
  long bad = 0;
  for (bool portable : {false, true}) {
    resample::g_portableKernels = portable;
    for (const auto& [sw, sh, dw, dh] : sizes) {
      for (int picture = 0; picture < 2; ++picture) {
        const Pixels px = picture == 0 ? ref::RandomPixels(sw, sh, rng) : kez::testing::PaintingLikePicture(sw, sh, 3, 1);
        if (Resampled(px, sw, sh, dw, dh) != ref::ReferenceResample(px, sw, sh, dw, dh)) {
          std::printf("mismatch (%s): %dx%d -> %dx%d, picture %d\n", portable ? "portable" : "vector", sw, sh, dw, dh,
                      picture);
          ++bad;
        }
      }
    }
  }
  std::printf("resample: %zu size pairs, %ld mismatches\n", sizes.size(), bad);
  return bad == 0 ? 0 : 1;
}
