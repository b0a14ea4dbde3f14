// Helpers shared by the packed reader's tests.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/packed/packed_reader.h"
#include "lumo/image.h"
#include "support/packed_writer.h"
#include "support/test_stream.h"

namespace kez::testing {

inline std::vector<std::uint32_t> ImagePixels(const lumo::CImage32& image) {
  const auto count = static_cast<std::size_t>(image.m_width) * static_cast<std::size_t>(image.m_height);
  return std::vector<std::uint32_t>(image.m_pixels, image.m_pixels + count);
}

// An image never touched by a reader: 1x1 holding transparent black.
inline bool IsUntouched(const lumo::CImage32& image) {
  return image.m_width == 1 && image.m_height == 1 && image.m_pixels[0] == 0;
}

inline bool ReadBytes(const std::vector<std::uint8_t>& bytes, lumo::CImage32& image) {
  TestStream stream(bytes);
  return ReadPackedDocument(image, &stream);
}

}  // namespace kez::testing
