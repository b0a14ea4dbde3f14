// Blend modes: the drawing-parameter record, the mode numbering, the row
// functions and the per-pixel operations they share.
#pragma once

#include <cstdint>

namespace lumo {

// The drawing-parameter record. Fields after keyColour are carried for
// callers and read by no operation here.
struct DrawParams {
  std::int32_t tag = -1;
  std::int32_t mode = 0;
  std::uint8_t opacity = 255;
  std::uint8_t gamma = 0;
  std::uint32_t fillColour = 0xFF000000u;
  std::uint32_t keyColour = 0;
  std::uint32_t carried0 = 0;
  std::int32_t carried1 = 1;
  std::uint64_t carried2 = 0;
  std::int32_t carried3 = 1;
  std::int32_t carried4 = 255;
  std::uint64_t carried5 = 0;
  std::uint8_t carried6 = 0;
  std::uint64_t carried7[4] = {0, 0, 0, 0};
};

enum class BlendMode : std::int32_t {
  Copy = 0,
  And = 1,
  Or = 2,
  NormalKeepAlpha = 4,
  AddKeepAlpha = 5,
  AddScaledKeepAlpha = 6,
  SubtractKeepAlpha = 7,
  MultiplyKeepAlpha = 8,
  DivideKeepAlpha = 9,
  OverlayKeepAlpha = 10,
  ScreenKeepAlpha = 11,
  LightenKeepAlpha = 12,
  DarkenKeepAlpha = 13,
  DifferenceKeepAlpha = 14,
  ExclusionKeepAlpha = 15,
  ColourDodgeKeepAlpha = 16,
  ColourBurnKeepAlpha = 17,
  LinearDodgeKeepAlpha = 18,
  LinearBurnKeepAlpha = 19,
  SoftLightKeepAlpha = 20,
  HardLightKeepAlpha = 21,
  HueKeepAlpha = 22,
  SaturationKeepAlpha = 23,
  ColourKeepAlpha = 24,
  LuminosityKeepAlpha = 25,
  HardMixKeepAlpha = 26,
  InvertedExclusionKeepAlpha = 27,
  Normal = 28,
  Add = 29,
  AddScaled = 30,
  Subtract = 31,
  Multiply = 32,
  Divide = 33,
  Overlay = 34,
  Screen = 35,
  Lighten = 36,
  Darken = 37,
  Difference = 38,
  Exclusion = 39,
  ColourDodge = 40,
  ColourBurn = 41,
  LinearDodge = 42,
  LinearBurn = 43,
  SoftLight = 44,
  HardLight = 45,
  Hue = 46,
  Saturation = 47,
  Colour = 48,
  Luminosity = 49,
  HardMix = 50,
  InvertedExclusion = 51,
  EraseAlpha = 52,
  EraseInverseAlpha = 53,
  EraseAlphaScaled = 54,
  NormalKeyed = 63,
  FillMask = 64,
};

// Combines `count` source pixels into `count` destination pixels in place.
using RowBlender = void (*)(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
                            std::int32_t count);
// Combines one source pixel (bytes B, G, R, A) into one destination pixel.
using PixelBlend = void (*)(std::uint8_t* dst, const std::uint8_t* src, std::uint8_t opacity);

// x / 255 for products of two channel values (exact up to 65 789).
constexpr std::uint32_t div255(std::uint32_t x) { return ((x + 1) + ((x + 1) >> 8)) >> 8; }
// Moves d toward x by weight w (0..255).
constexpr std::uint32_t mix(std::uint32_t d, std::uint32_t x, std::uint32_t w) {
  return div255(x * w + d * (255 - w));
}

// The row function of params.mode; Copy for every number without a mode.
RowBlender SelectRowBlender(const DrawParams& params);

extern const std::uint8_t* const g_sqrtTable;
extern const std::uint8_t* const g_gammaExpand;
extern const std::uint8_t* const g_gammaCompress;

}  // namespace lumo
