#include "compose/resample.h"

namespace lumo {
namespace {

// 16.16 source step per destination pixel. Kept in 64 bits: a factor of
// 32 768 or more would not fit an int32.
std::int64_t Step(std::int32_t s, std::int32_t d) {
  return static_cast<std::int64_t>(static_cast<double>(s) / static_cast<double>(d) * 65536.0);
}

std::uint64_t EdgeAlphaWeight(std::uint64_t alpha, std::uint64_t w) {
  const std::uint64_t x = alpha * w + 1;
  return (x + (x >> 8)) >> 8;
}

void PointSample(CImage32& dst, const CImage32& src, std::int64_t stepX, std::int64_t stepY) {
  const std::int32_t sw = src.m_width, sh = src.m_height;
  for (std::int32_t j = 0; j < dst.m_height; ++j) {
    std::uint32_t* out = dst.RowAddress(j);
    if (out == nullptr) continue;
    const std::int64_t sy = (stepY / 2 + j * stepY) >> 16;
    const std::uint32_t* in = sy < sh ? src.RowAddress(static_cast<std::int32_t>(sy)) : nullptr;
    for (std::int32_t k = 0; k < dst.m_width; ++k) {
      const std::int64_t sx = (stepX / 2 + k * stepX) >> 16;
      out[k] = (in != nullptr && sx < sw) ? in[sx] : 0;
    }
  }
}

void AreaAverage(CImage32& dst, const CImage32& src, std::int64_t stepX, std::int64_t stepY) {
  const std::int32_t sw = src.m_width, sh = src.m_height;
  for (std::int32_t j = 0; j < dst.m_height; ++j) {
    std::uint32_t* out = dst.RowAddress(j);
    if (out == nullptr) continue;
    const std::int64_t y0 = j * stepY, y1 = y0 + stepY;
    const bool limitY = (y1 >> 16) >= sh;
    const std::int64_t cy0 = y0 >> 16, cy1 = limitY ? sh - 1 : y1 >> 16;
    const std::uint32_t fy0 = (y0 >> 8) & 255, fy1 = limitY ? 255 : (y1 >> 8) & 255;
    for (std::int32_t k = 0; k < dst.m_width; ++k) {
      const std::int64_t x0 = k * stepX, x1 = x0 + stepX;
      const bool limitX = (x1 >> 16) >= sw;
      const std::int64_t cx0 = x0 >> 16, cx1 = limitX ? sw - 1 : x1 >> 16;
      const std::uint32_t fx0 = (x0 >> 8) & 255, fx1 = limitX ? 255 : (x1 >> 8) & 255;

      std::uint64_t wsum = 0, asum = 0, rsum = 0, gsum = 0, bsum = 0;
      std::uint32_t alpha0 = 0;
      bool uniform = true;
      for (std::int64_t sy = cy0; sy <= cy1; ++sy) {
        const std::uint32_t* in = src.RowAddress(static_cast<std::int32_t>(sy));
        for (std::int64_t sx = cx0; sx <= cx1; ++sx) {
          const std::uint32_t p = in != nullptr ? in[sx] : 0;
          const std::uint32_t a = p >> 24;
          if (sx == cx0 && sy == cy0) {
            alpha0 = a;
          } else if (a != alpha0) {
            uniform = false;
          }
          std::uint32_t wx = 255, wy = 255;
          bool edge = false;
          if (sx == cx0) { wx = 255 - fx0; edge = true; }
          if (sx == cx1) { wx = fx1 + wx - 255; edge = true; }
          if (sy == cy0) { wy = 255 - fy0; edge = true; }
          if (sy == cy1) { wy = fy1 + wy - 255; edge = true; }
          std::uint64_t aw;
          if (edge) {
            std::uint64_t w = std::uint64_t{wx} * wy;
            if (w < 255) w = 255;
            wsum += w;
            aw = EdgeAlphaWeight(a, w);
          } else {
            wsum += 65025;
            aw = std::uint64_t{a} * 255;
          }
          asum += aw;
          rsum += ((p >> 16) & 255) * aw;
          gsum += ((p >> 8) & 255) * aw;
          bsum += (p & 255) * aw;
        }
      }
      if (asum == 0) {
        out[k] = 0;
        continue;
      }
      const std::uint64_t alpha = uniform ? alpha0 : asum * 255 / wsum;
      out[k] = static_cast<std::uint32_t>(alpha << 24 | (rsum / asum) << 16 | (gsum / asum) << 8 |
                                          bsum / asum);
    }
  }
}

}  // namespace

bool Resample(CImage32& dst, CImage32& src) {
  const std::int32_t sw = src.m_width, sh = src.m_height;
  const std::int32_t dw = dst.m_width, dh = dst.m_height;
  // An empty destination gets no writes; an empty source cannot be a CImage32.
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return true;

  const bool point = dw % sw == 0 && dh % sh == 0;
  const std::int64_t stepX = Step(sw, dw), stepY = Step(sh, dh);

  ImageLock dstLock(&dst);
  ImageLock srcLock(&src);
  if (point) {
    PointSample(dst, src, stepX, stepY);
  } else {
    AreaAverage(dst, src, stepX, stepY);
  }
  return true;
}

}  // namespace lumo
