#include "compose/blend_tables.h"

#include <cmath>

#include "compose/blend.h"

namespace lumo {
namespace {

// Double precision; each conversion to an integer truncates toward zero.
BlendTables MakeBlendTables() {
  BlendTables t{};
  for (int i = 1; i < 256; ++i) {
    const double v = i / 255.0;
    t.sqrt[i] = static_cast<std::uint8_t>(std::sqrt(v) * 255.0);
    t.gammaExpand[i] = static_cast<std::uint8_t>(std::pow(v, 1.8) * 255.0);
    t.gammaCompress[i] = static_cast<std::uint8_t>(std::pow(v, 0.5555555555555556) * 255.0);
  }
  return t;
}

}  // namespace

const BlendTables g_blendTables = MakeBlendTables();

const std::uint8_t* const g_sqrtTable = g_blendTables.sqrt;
const std::uint8_t* const g_gammaExpand = g_blendTables.gammaExpand;
const std::uint8_t* const g_gammaCompress = g_blendTables.gammaCompress;

}  // namespace lumo
