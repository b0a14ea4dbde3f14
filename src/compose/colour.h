// Colour helpers of the hue family: a hue-chroma-luma model with the luma
// weights 0.3 (red), 0.59 (green) and 0.11 (blue), in single precision.
#pragma once

#include <cstdint>

namespace lumo {

struct HueChromaLuma {
  float hue;     // degrees in [0, 360), or -1 when undefined (grey, black, white)
  float chroma;  // max - min of the channel fractions
  float luma;    // 0.3 r + 0.59 g + 0.11 b
};

struct RgbValues {
  std::uint64_t r;
  std::uint64_t g;
  std::uint64_t b;
};

HueChromaLuma ColourMetrics(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// Builds channel values (fractions times scale, truncated) keeping the luma
// exactly where it can, reducing the chroma where a channel would leave 0..1.
RgbValues HueChromaLumaToRgb(float hue, float chroma, float luma, unsigned scale);

}  // namespace lumo
