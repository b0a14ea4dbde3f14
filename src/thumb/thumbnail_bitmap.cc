#include "thumb/thumbnail_bitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>

// A pixel value stored as it is is the bytes B, G, R, A only here.
static_assert(std::endian::native == std::endian::little);

HBITMAP CreateThumbnailSection(int cx, std::uint8_t** bits) {
  *bits = nullptr;
  BITMAPINFO info;
  std::memset(&info, 0, sizeof(info));
  BITMAPINFOHEADER& header = info.bmiHeader;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = cx;
  header.biHeight = cx;  // positive: bottom-up, the first memory row is the picture's bottom row
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  void* memory = nullptr;
  const HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
  if (section != nullptr) *bits = static_cast<std::uint8_t*>(memory);
  return section;
}

lumo::RowTarget SectionRows(std::uint8_t* bits, int cx, int left, int top, int width, int height) {
  auto* pixels = reinterpret_cast<std::uint32_t*>(bits);
  const std::ptrdiff_t row = cx;
  return {pixels + (cx - 1 - top) * row + left, -row, width, height};
}

void CopyIntoSection(const lumo::CImage32& picture, int cx, int left, int top, std::uint8_t* bits) {
  const int x0 = std::max(left, 0), x1 = std::min(left + picture.m_width, cx);
  const int y0 = std::max(top, 0), y1 = std::min(top + picture.m_height, cx);
  if (x0 >= x1 || y0 >= y1) return;
  const lumo::RowTarget rows = SectionRows(bits, cx, 0, 0, cx, cx);
  for (int y = y0; y < y1; ++y) {
    const std::uint32_t* in = picture.RowAddress(y - top);
    if (in != nullptr)
      std::memcpy(rows.first + y * rows.stride + x0, in + (x0 - left), static_cast<std::size_t>(x1 - x0) * 4);
  }
}
