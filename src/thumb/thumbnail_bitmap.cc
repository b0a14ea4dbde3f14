#include "thumb/thumbnail_bitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// The image's pixel (x, y) through the buffer, for storage without a cached
// pointer; 0 where the buffer has no address.
std::uint32_t BufferPixel(const lumo::CImage32& image, int x, int y) {
  const std::uint32_t* p = image.m_buffer != nullptr ? image.m_buffer->PixelAddress(x, y) : nullptr;
  return p != nullptr ? *p : 0;
}

void PutPixel(std::uint8_t* out, std::uint32_t p) {
  out[0] = static_cast<std::uint8_t>(p & 0xFF);
  out[1] = static_cast<std::uint8_t>((p >> 8) & 0xFF);
  out[2] = static_cast<std::uint8_t>((p >> 16) & 0xFF);
  out[3] = static_cast<std::uint8_t>(p >> 24);
}

}  // namespace

void CopyBottomUp(const lumo::CImage32& image, int cx, std::uint8_t* bits) {
  if (cx <= 0 || bits == nullptr) return;
  const std::size_t rowBytes = static_cast<std::size_t>(cx) * 4;
  // Columns the image covers; the rest of each DIB row is 0.
  const int covered = std::clamp(image.m_width, 0, cx);
  std::uint8_t* out = bits;
  for (int i = cx - 1; i >= 0; --i, out += rowBytes) {
    if (i >= image.m_height) {
      std::memset(out, 0, rowBytes);
      continue;
    }
    if (image.m_pixels != nullptr) {
      const std::uint32_t* row = image.m_pixels + static_cast<std::size_t>(i) * static_cast<std::size_t>(image.m_width);
      if constexpr (std::endian::native == std::endian::little) {
        // A pixel value written low byte first is its in-memory form here.
        std::memcpy(out, row, static_cast<std::size_t>(covered) * 4);
      } else {
        for (int j = 0; j < covered; ++j) PutPixel(out + static_cast<std::size_t>(j) * 4, row[j]);
      }
    } else {
      for (int j = 0; j < covered; ++j) PutPixel(out + static_cast<std::size_t>(j) * 4, BufferPixel(image, j, i));
    }
    std::memset(out + static_cast<std::size_t>(covered) * 4, 0, rowBytes - static_cast<std::size_t>(covered) * 4);
  }
}

bool CreateThumbnailBitmap(const lumo::CImage32& image, int cx, HBITMAP* phbmp) {
  if (phbmp == nullptr) return false;
  BITMAPINFO info;
  std::memset(&info, 0, sizeof(info));
  BITMAPINFOHEADER& header = info.bmiHeader;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = cx;
  header.biHeight = cx;  // positive: bottom-up, the first memory row is the picture's bottom row
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  *phbmp = bitmap;
  if (bitmap == nullptr || bits == nullptr) return false;
  CopyBottomUp(image, cx, static_cast<std::uint8_t*>(bits));
  return true;
}
