// Reading a thumbnail DIB back as the picture it shows.
#pragma once

#include <cstdint>
#include <vector>

#ifdef _WIN32
#include "platform/gdi.h"
#else
#include "platform/testing.h"
#endif

namespace kez::testing {

#ifdef _WIN32
// The section's own memory, as GDI describes it (the tests that run on
// Windows compare bytes only).
inline std::vector<std::uint8_t> DibBytes(HBITMAP bitmap) {
  DIBSECTION section{};
  if (GetObjectW(bitmap, sizeof section, &section) != sizeof section || section.dsBm.bmBits == nullptr) return {};
  const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
  return std::vector<std::uint8_t>(bits, bits + static_cast<std::size_t>(section.dsBm.bmWidthBytes) * section.dsBm.bmHeight);
}
#else

// The cx x cx section's pixels top row first: pixel (x, y) of the picture is
// the DIB's memory row cx - 1 - y, bytes B, G, R, A assembled into
// 0xAARRGGBB. Empty when the handle is not a live section with pixels.
inline std::vector<std::uint32_t> ShownPixels(HBITMAP bitmap) {
  const auto dib = platform::testing::ReadDib(bitmap);
  if (!dib.has_value() || dib->bits == nullptr) return {};
  const int cx = dib->header.biWidth;
  std::vector<std::uint32_t> out(static_cast<std::size_t>(cx) * cx);
  for (int y = 0; y < cx; ++y) {
    const std::uint8_t* row = dib->bits + static_cast<std::size_t>(cx - 1 - y) * cx * 4;
    for (int x = 0; x < cx; ++x) {
      const std::uint8_t* b = row + x * 4;
      out[static_cast<std::size_t>(y) * cx + x] = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                                                 (static_cast<std::uint32_t>(b[2]) << 16) |
                                                 (static_cast<std::uint32_t>(b[3]) << 24);
    }
  }
  return out;
}

inline std::vector<std::uint8_t> DibBytes(HBITMAP bitmap) {
  const auto dib = platform::testing::ReadDib(bitmap);
  if (!dib.has_value() || dib->bits == nullptr) return {};
  return std::vector<std::uint8_t>(dib->bits, dib->bits + dib->size);
}
#endif

}  // namespace kez::testing
