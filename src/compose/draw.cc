#include "compose/draw.h"

namespace lumo {

bool ClipDrawRect(std::int32_t srcW, std::int32_t srcH, std::int32_t dstW, std::int32_t dstH,
                  DrawRect& r) {
  // 64-bit throughout: sums of caller-supplied positions and sizes must not
  // wrap. Where no int32 sum overflows the steps give the same numbers.
  std::int64_t srcX = r.srcX, srcY = r.srcY, w = r.width, h = r.height;
  std::int64_t dstX = r.dstX, dstY = r.dstY;

  if (dstX + w <= 0 || dstY + h <= 0 || dstX >= dstW || dstY >= dstH || srcX >= srcW ||
      srcY >= srcH || srcX + w < 0 || srcY + h < 0) {
    return false;
  }
  if (srcX + w >= srcW) w = srcW - srcX;
  if (srcY + h >= srcH) h = srcH - srcY;
  if (srcX < 0) {
    dstX -= srcX;
    w += srcX;
    srcX = 0;
  }
  if (srcY < 0) {
    dstY -= srcY;
    h += srcY;
    srcY = 0;
  }
  if (dstX < 0) {
    srcX -= dstX;
    w += dstX;
    dstX = 0;
  }
  if (dstY < 0) {
    srcY -= dstY;
    h += dstY;
    dstY = 0;
  }
  if (dstX + w > dstW) w = dstW - dstX;
  if (dstY + h > dstH) h = dstH - dstY;

  // On success every value lies inside one of the images; on failure the
  // leftovers are only stored, never used, and wrap like int32 sums would.
  r.srcX = static_cast<std::int32_t>(srcX);
  r.srcY = static_cast<std::int32_t>(srcY);
  r.width = static_cast<std::int32_t>(w);
  r.height = static_cast<std::int32_t>(h);
  r.dstX = static_cast<std::int32_t>(dstX);
  r.dstY = static_cast<std::int32_t>(dstY);
  return w >= 1 && h >= 1;
}

bool DrawImage(CImage32& dst, const DrawParams& params, std::int32_t dstX, std::int32_t dstY,
               CImage32& src, std::int32_t width, std::int32_t height) {
  DrawRect r;
  r.width = width;
  r.height = height;
  r.dstX = dstX;
  r.dstY = dstY;
  if (!ClipDrawRect(src.m_width, src.m_height, dst.m_width, dst.m_height, r)) return false;

  const RowBlender blend = SelectRowBlender(params);

  // Destination first, source second; the guards release in reverse order on
  // every exit, a throwing row lookup included.
  ImageLock dstLock(&dst);
  ImageLock srcLock(&src);
  for (std::int32_t y = r.dstY; y < r.dstY + r.height; ++y) {
    const std::int32_t sy = r.srcY + (y - r.dstY);
    const std::uint32_t* srcRow = src.RowAddress(sy);
    std::uint32_t* dstRow = dst.RowAddress(y);
    if (srcRow == nullptr || dstRow == nullptr) continue;
    blend(params, dstRow + r.dstX, srcRow + r.srcX, r.width);
  }
  return true;
}

}  // namespace lumo
