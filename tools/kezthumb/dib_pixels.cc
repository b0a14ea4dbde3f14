#include "dib_pixels.h"

#include <cstddef>

namespace kezthumb {

void ConvertDibRows(const std::uint8_t* bits, int cx, bool bottomUp, bool opaque, std::uint8_t* rgba) {
  const std::size_t stride = static_cast<std::size_t>(cx) * 4;
  for (int y = 0; y < cx; ++y) {
    const std::uint8_t* src = bits + stride * static_cast<std::size_t>(bottomUp ? cx - 1 - y : y);
    std::uint8_t* dst = rgba + stride * static_cast<std::size_t>(y);
    for (int x = 0; x < cx; ++x, src += 4, dst += 4) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
      dst[3] = opaque ? 0xFF : src[3];
    }
  }
}

}  // namespace kezthumb
