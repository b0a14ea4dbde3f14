#include "support/picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kez::testing {
namespace {

std::uint32_t Pack(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return a << 24 | r << 16 | g << 8 | b;
}

// Straight-alpha "over" of colour c with coverage cov (0..255) onto p.
std::uint32_t Over(std::uint32_t p, std::uint32_t c, std::uint32_t cov) {
  const std::uint32_t sa = (c >> 24) * cov / 255;
  const std::uint32_t da = p >> 24;
  const std::uint32_t oa = sa + da * (255 - sa) / 255;
  if (oa == 0) return 0;
  std::uint32_t out = oa << 24;
  for (int shift = 0; shift <= 16; shift += 8) {
    const std::uint32_t sc = (c >> shift) & 255, dc = (p >> shift) & 255;
    const std::uint32_t v = (sc * sa * 255 + dc * da * (255 - sa)) / (oa * 255);
    out |= std::min<std::uint32_t>(v, 255) << shift;
  }
  return out;
}

}  // namespace

std::vector<std::uint32_t> PaintingLikePicture(int width, int height, std::uint32_t seed, int grain) {
  if (width <= 0 || height <= 0) return {};
  const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  std::vector<std::uint32_t> px(w * h);
  Lcg rng(seed);

  // Ground: two-way gradient between random colours, opaque inside a rounded
  // frame, fading to transparent over a soft margin.
  const int r0 = rng.Range(0, 255), g0 = rng.Range(0, 255), b0 = rng.Range(0, 255);
  const int r1 = rng.Range(0, 255), g1 = rng.Range(0, 255), b1 = rng.Range(0, 255);
  const int margin = std::max(1, std::min(width, height) / 16);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int tx = width > 1 ? x * 255 / (width - 1) : 0;
      const int ty = height > 1 ? y * 255 / (height - 1) : 0;
      const int t = (tx + ty) / 2;
      const int edge = std::min(std::min(x, width - 1 - x), std::min(y, height - 1 - y));
      const int a = edge >= margin ? 255 : edge * 255 / margin;
      px[y * w + x] = Pack(static_cast<std::uint32_t>(a), (r0 * (255 - t) + r1 * t) / 255,
                           (g0 * (255 - ty) + g1 * ty) / 255, (b0 * (255 - tx) + b1 * tx) / 255);
    }
  }

  // Strokes: straight brush segments with a soft rim, some translucent.
  const int strokes = 6 + rng.Range(0, 10);
  for (int s = 0; s < strokes; ++s) {
    const int xa = rng.Range(0, width - 1), ya = rng.Range(0, height - 1);
    const int xb = rng.Range(0, width - 1), yb = rng.Range(0, height - 1);
    const int radius = 1 + rng.Range(0, std::max(1, std::min(width, height) / 24));
    const std::uint32_t alpha = rng.Range(0, 3) == 0 ? static_cast<std::uint32_t>(rng.Range(60, 200)) : 255;
    const std::uint32_t colour = Pack(alpha, rng.Next() & 255, rng.Next() & 255, rng.Next() & 255);
    const int rim = radius + 2;
    const int x0 = std::max(0, std::min(xa, xb) - rim), x1 = std::min(width - 1, std::max(xa, xb) + rim);
    const int y0 = std::max(0, std::min(ya, yb) - rim), y1 = std::min(height - 1, std::max(ya, yb) + rim);
    const double dx = xb - xa, dy = yb - ya, len2 = dx * dx + dy * dy;
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        double t = len2 > 0 ? ((x - xa) * dx + (y - ya) * dy) / len2 : 0;
        t = std::clamp(t, 0.0, 1.0);
        const double ex = x - (xa + t * dx), ey = y - (ya + t * dy);
        const double d2 = ex * ex + ey * ey;
        if (d2 >= rim * rim) continue;
        // Full coverage inside the radius, a linear rim of two pixels.
        double cov = 1.0;
        if (d2 > radius * radius) {
          const double d = std::sqrt(d2);
          cov = std::max(0.0, 1.0 - (d - radius) / 2.0);
        }
        std::uint32_t& p = px[y * w + x];
        p = Over(p, colour, static_cast<std::uint32_t>(cov * 255));
      }
    }
  }
  if (grain > 0) {
    for (std::uint32_t& p : px) {
      if (p >> 24 == 0) continue;
      std::uint32_t out = p & 0xFF000000u;
      for (int shift = 0; shift <= 16; shift += 8) {
        const int c = static_cast<int>((p >> shift) & 255) + rng.Range(-grain, grain);
        out |= static_cast<std::uint32_t>(std::clamp(c, 0, 255)) << shift;
      }
      p = out;
    }
  }
  return px;
}

bool FillPaintingLikePicture(lumo::CImage32& image, int width, int height, std::uint32_t seed) {
  if (!image.Resize(width, height) || image.m_width != width || image.m_height != height) return false;
  const std::vector<std::uint32_t> px = PaintingLikePicture(width, height, seed);
  lumo::ImageLock lock(&image);
  for (int y = 0; y < height; ++y) {
    std::uint32_t* row = image.RowAddress(y);
    if (row == nullptr) return false;
    std::memcpy(row, px.data() + static_cast<std::size_t>(y) * width, sizeof(std::uint32_t) * width);
  }
  return true;
}

}  // namespace kez::testing
