#include "compose/resample.h"

#include <cstring>
#include <vector>

#include "compose/resample_area.h"

namespace lumo {
namespace {

void PointSample(CImage32& dst, const CImage32& src, std::int64_t stepX, std::int64_t stepY) {
  const std::int32_t sw = src.m_width, sh = src.m_height, dw = dst.m_width;
  // Source column of each destination column, or -1 outside the source.
  std::vector<std::int32_t> column(static_cast<std::size_t>(dw));
  bool identity = true;
  for (std::int32_t k = 0; k < dw; ++k) {
    const std::int64_t sx = (stepX / 2 + k * stepX) >> 16;
    column[k] = sx < sw ? static_cast<std::int32_t>(sx) : -1;
    identity = identity && sx == k;
  }
  if (identity && dst.m_height == sh && dst.m_pixels != nullptr && src.m_pixels != nullptr) {
    // Same size, both stored without padding: one copy of the whole image
    // (row-sized copies between equally aligned rows run at half the speed).
    std::memmove(dst.m_pixels, src.m_pixels, sizeof(std::uint32_t) * static_cast<std::size_t>(dw) * sh);
    return;
  }
  const std::uint32_t* prevIn = nullptr;
  const std::uint32_t* prevOut = nullptr;
  for (std::int32_t j = 0; j < dst.m_height; ++j) {
    std::uint32_t* out = dst.RowAddress(j);
    if (out == nullptr) continue;
    const std::int64_t sy = (stepY / 2 + j * stepY) >> 16;
    const std::uint32_t* in = sy < sh ? src.RowAddress(static_cast<std::int32_t>(sy)) : nullptr;
    if (in != nullptr && in == prevIn && prevOut != nullptr) {
      // Enlargement repeats rows: copy the row already built.
      std::memmove(out, prevOut, sizeof(std::uint32_t) * static_cast<std::size_t>(dw));
    } else if (in != nullptr && identity) {
      std::memmove(out, in, sizeof(std::uint32_t) * static_cast<std::size_t>(dw));
    } else {
      for (std::int32_t k = 0; k < dw; ++k) out[k] = (in != nullptr && column[k] >= 0) ? in[column[k]] : 0;
    }
    prevIn = in;
    prevOut = out;
  }
}

}  // namespace

bool Resample(CImage32& dst, CImage32& src) {
  const std::int32_t sw = src.m_width, sh = src.m_height;
  const std::int32_t dw = dst.m_width, dh = dst.m_height;
  // An empty destination gets no writes; an empty source cannot be a CImage32.
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return true;

  ImageLock dstLock(&dst);
  ImageLock srcLock(&src);
  if (resample::PointSampled(sw, sh, dw, dh)) {
    PointSample(dst, src, resample::Step(sw, dw), resample::Step(sh, dh));
  } else {
    resample::AreaAverage(dst, src);
  }
  return true;
}

}  // namespace lumo
