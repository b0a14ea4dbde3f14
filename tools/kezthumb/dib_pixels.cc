#include "dib_pixels.h"

#include <algorithm>
#include <cstddef>

namespace kezthumb {
namespace {

// B, G, R, A to R, G, B, A, one row.
void SwapRedBlue(std::uint8_t* row, int cx, bool opaque) {
  for (int x = 0; x < cx; ++x, row += 4) {
    std::swap(row[0], row[2]);
    if (opaque) row[3] = 0xFF;
  }
}

}  // namespace

void ConvertDibInPlace(std::uint8_t* bits, int cx, bool bottomUp, bool opaque) {
  const std::size_t stride = static_cast<std::size_t>(cx) * 4;
  for (int y = 0; y < cx; ++y) SwapRedBlue(bits + stride * static_cast<std::size_t>(y), cx, opaque);
  if (!bottomUp) return;
  for (int y = 0; y < cx / 2; ++y)
    std::swap_ranges(bits + stride * static_cast<std::size_t>(y), bits + stride * static_cast<std::size_t>(y + 1),
                     bits + stride * static_cast<std::size_t>(cx - 1 - y));
}

}  // namespace kezthumb
