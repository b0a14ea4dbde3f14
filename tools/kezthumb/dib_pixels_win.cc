#include "dib_pixels.h"

namespace kezthumb {

std::uint8_t* DibToRgba(HBITMAP bitmap, int cx, bool opaque) {
  DIBSECTION section{};
  if (cx < 1 || GetObjectW(bitmap, sizeof section, &section) != sizeof section || section.dsBm.bmBits == nullptr)
    return nullptr;
  const BITMAPINFOHEADER& h = section.dsBmih;
  if (h.biBitCount != 32 || h.biWidth != cx || (h.biHeight != cx && h.biHeight != -cx) ||
      section.dsBm.bmWidthBytes != cx * 4)
    return nullptr;
  auto* bits = static_cast<std::uint8_t*>(section.dsBm.bmBits);
  ConvertDibInPlace(bits, cx, h.biHeight > 0, opaque);
  return bits;
}

}  // namespace kezthumb
