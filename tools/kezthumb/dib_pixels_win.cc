#include "dib_pixels.h"

namespace kezthumb {

bool DibToRgba(HBITMAP bitmap, int cx, bool opaque, std::vector<std::uint8_t>* rgba) {
  DIBSECTION section{};
  if (cx < 1 || GetObjectW(bitmap, sizeof section, &section) != sizeof section || section.dsBm.bmBits == nullptr)
    return false;
  const BITMAPINFOHEADER& h = section.dsBmih;
  if (h.biBitCount != 32 || h.biWidth != cx || (h.biHeight != cx && h.biHeight != -cx) ||
      section.dsBm.bmWidthBytes != cx * 4)
    return false;
  rgba->resize(static_cast<std::size_t>(cx) * static_cast<std::size_t>(cx) * 4);
  ConvertDibRows(static_cast<const std::uint8_t*>(section.dsBm.bmBits), cx, h.biHeight > 0, opaque, rgba->data());
  return true;
}

}  // namespace kezthumb
