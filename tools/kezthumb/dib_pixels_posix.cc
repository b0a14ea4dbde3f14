#include "dib_pixels.h"
#include "platform/testing.h"

namespace kezthumb {

std::uint8_t* DibToRgba(HBITMAP bitmap, int cx, bool opaque) {
  const auto dib = platform::testing::ReadDib(bitmap);
  if (!dib || dib->bits == nullptr || cx < 1) return nullptr;
  const BITMAPINFOHEADER& h = dib->header;
  const std::size_t bytes = static_cast<std::size_t>(cx) * static_cast<std::size_t>(cx) * 4;
  if (h.biBitCount != 32 || h.biWidth != cx || (h.biHeight != cx && h.biHeight != -cx) || dib->size < bytes)
    return nullptr;
  ConvertDibInPlace(dib->bits, cx, h.biHeight > 0, opaque);
  return dib->bits;
}

}  // namespace kezthumb
