#include "compose/colour.h"

#include "compose/colour_parts.h"

namespace lumo {

HueChromaLuma ColourMetrics(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return {colour_parts::Hue(r, g, b), colour_parts::Chroma(r, g, b), colour_parts::Luma(r, g, b)};
}

RgbValues HueChromaLumaToRgb(float hue, float chroma, float luma, unsigned scale) {
  return colour_parts::ToRgb(hue, chroma, luma, scale);
}

}  // namespace lumo
