#include "dib_pixels.h"
#include "platform/testing.h"

namespace kezthumb {

bool DibToRgba(HBITMAP bitmap, int cx, bool opaque, std::vector<std::uint8_t>* rgba) {
  const auto dib = platform::testing::ReadDib(bitmap);
  if (!dib || dib->bits == nullptr || cx < 1) return false;
  const BITMAPINFOHEADER& h = dib->header;
  const std::size_t bytes = static_cast<std::size_t>(cx) * static_cast<std::size_t>(cx) * 4;
  if (h.biBitCount != 32 || h.biWidth != cx || (h.biHeight != cx && h.biHeight != -cx) || dib->size < bytes)
    return false;
  rgba->resize(bytes);
  ConvertDibRows(dib->bits, cx, h.biHeight > 0, opaque, rgba->data());
  return true;
}

}  // namespace kezthumb
