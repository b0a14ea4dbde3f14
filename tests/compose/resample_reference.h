// The literal per-pixel transcription of resampling, on plain pixel arrays,
// written apart from the library code for the tests to compare against.
#pragma once

#include <cstdint>
#include <vector>

#include "support/picture.h"

namespace ref {

using Pixels = std::vector<std::uint32_t>;

// Random pixels whose alpha comes in runs: all 0, all 255, one shared value,
// or a fresh value per pixel, so both the uniform and the mixed rule run.
inline Pixels RandomPixels(int w, int h, kez::testing::Lcg& rng) {
  Pixels px(static_cast<std::size_t>(w) * h);
  std::uint32_t alpha = 255;
  int run = 0, kind = 0;
  for (std::uint32_t& p : px) {
    if (run-- <= 0) {
      run = rng.Range(0, 40);
      kind = rng.Range(0, 3);
      alpha = kind == 0 ? 0 : kind == 1 ? 255 : rng.Next() & 255;
    }
    const std::uint32_t a = kind == 3 ? rng.Next() & 255 : alpha;
    p = a << 24 | (rng.Next() & 0xFFFFFF);
  }
  return px;
}

inline Pixels ReferenceResample(const Pixels& src, int sw, int sh, int dw, int dh) {
  Pixels dst(static_cast<std::size_t>(dw) * dh, 0xDEADBEEFu);
  // The steps as 64-bit values: a factor of 32 768 or more would overflow
  // an int32 (the production code keeps them in 64 bits for that reason).
  const std::int64_t stepX = static_cast<std::int64_t>(static_cast<double>(sw) / dw * 65536.0);
  const std::int64_t stepY = static_cast<std::int64_t>(static_cast<double>(sh) / dh * 65536.0);
  auto pixel = [&](std::int64_t x, std::int64_t y) -> std::uint32_t {
    if (x < 0 || y < 0 || x >= sw || y >= sh) return 0;
    return src[static_cast<std::size_t>(y * sw + x)];
  };
  if (dw % sw == 0 && dh % sh == 0) {
    for (int j = 0; j < dh; ++j) {
      for (int k = 0; k < dw; ++k) {
        const std::int64_t x = stepX / 2 + k * stepX, y = stepY / 2 + j * stepY;
        dst[static_cast<std::size_t>(j) * dw + k] = pixel(x >> 16, y >> 16);
      }
    }
    return dst;
  }
  for (int j = 0; j < dh; ++j) {
    for (int k = 0; k < dw; ++k) {
      const std::int64_t x0 = k * stepX, x1 = x0 + stepX, y0 = j * stepY, y1 = y0 + stepY;
      const std::int64_t cx0 = x0 >> 16, cy0 = y0 >> 16;
      std::int64_t cx1 = x1 >> 16, cy1 = y1 >> 16;
      const std::uint64_t fx0 = (x0 >> 8) & 255, fy0 = (y0 >> 8) & 255;
      std::uint64_t fx1 = (x1 >> 8) & 255, fy1 = (y1 >> 8) & 255;
      if (cx1 >= sw) {
        cx1 = sw - 1;
        fx1 = 255;
      }
      if (cy1 >= sh) {
        cy1 = sh - 1;
        fy1 = 255;
      }
      std::uint64_t wsum = 0, asum = 0, rsum = 0, gsum = 0, bsum = 0, alpha0 = 0;
      bool uniform = true;
      for (std::int64_t sy = cy0; sy <= cy1; ++sy) {
        for (std::int64_t sx = cx0; sx <= cx1; ++sx) {
          const std::uint32_t p = pixel(sx, sy);
          const std::uint64_t a = p >> 24;
          if (sx == cx0 && sy == cy0) {
            alpha0 = a;
          } else if (a != alpha0) {
            uniform = false;
          }
          std::uint64_t wx = 255, wy = 255;
          bool edge = false;
          if (sx == cx0) wx = 255 - fx0, edge = true;
          if (sx == cx1) wx = fx1 + wx - 255, edge = true;
          if (sy == cy0) wy = 255 - fy0, edge = true;
          if (sy == cy1) wy = fy1 + wy - 255, edge = true;
          std::uint64_t aw;
          if (edge) {
            std::uint64_t w = wx * wy;
            if (w < 255) w = 255;
            wsum += w;
            aw = ((a * w + 1) + ((a * w + 1) >> 8)) >> 8;
          } else {
            wsum += 65025;
            aw = a * 255;
          }
          asum += aw;
          rsum += ((p >> 16) & 255) * aw;
          gsum += ((p >> 8) & 255) * aw;
          bsum += (p & 255) * aw;
        }
      }
      std::uint32_t out = 0;
      if (asum != 0) {
        const std::uint64_t alpha = uniform ? alpha0 : asum * 255 / wsum;
        out = static_cast<std::uint32_t>(alpha << 24 | (rsum / asum) << 16 | (gsum / asum) << 8 |
                                         (bsum / asum));
      }
      dst[static_cast<std::size_t>(j) * dw + k] = out;
    }
  }
  return dst;
}

}  // namespace ref
