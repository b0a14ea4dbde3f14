// Size limits shared by the image classes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumo {

// Pixel loops index with int arithmetic (y * m_width + x), so an image never
// holds more pixels than an int32 can count; a larger request fails like an
// allocation that runs out of memory.
constexpr std::size_t kMaxImagePixels = 0x7FFFFFFF;

// width × height for sizes already clamped to at least 1, without overflow.
inline std::size_t PixelCount(std::int32_t width, std::int32_t height) {
  return static_cast<std::size_t>(static_cast<std::uint32_t>(width)) *
         static_cast<std::size_t>(static_cast<std::uint32_t>(height));
}

}  // namespace lumo
