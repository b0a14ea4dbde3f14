// Painting-like test pictures: smooth gradients, opaque and translucent
// brush strokes, and a transparent surround with soft edges. Deterministic
// for a seed on every platform (own generator, no std distributions).
#pragma once

#include <cstdint>
#include <vector>

#include "lumo/image.h"

namespace kez::testing {

// width x height pixels 0xAARRGGBB, rows from the top. grain > 0 adds a
// canvas texture: every colour channel of every visible pixel moves by up to
// +-grain levels, as scanned or brushed paintings do. Without it the picture
// is far more compressible than real ones.
std::vector<std::uint32_t> PaintingLikePicture(int width, int height, std::uint32_t seed, int grain = 0);

// Resizes image to width x height and fills it with PaintingLikePicture.
// False when the image could not be sized.
bool FillPaintingLikePicture(lumo::CImage32& image, int width, int height, std::uint32_t seed);

// Small deterministic generator shared by tests and benchmarks.
class Lcg {
 public:
  explicit Lcg(std::uint64_t seed) : m_state(seed * 6364136223846793005ull + 1442695040888963407ull) {}
  std::uint32_t Next() {
    m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(m_state >> 33);
  }
  // Uniform-enough integer in [lo, hi].
  int Range(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<std::uint32_t>(hi - lo + 1));
  }

 private:
  std::uint64_t m_state;
};

}  // namespace kez::testing
