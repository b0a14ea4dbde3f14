#include <array>

#include "compose/blend.h"
#include "compose/blend_ops.h"
#include "compose/blend_rows.h"
#include "compose/blend_skeletons.h"

namespace lumo {
namespace {

constexpr int kModeCount = 65;
using RowTable = std::array<RowBlender, kModeCount>;

template <class Op>
constexpr void SetColourOperation(RowTable& t, BlendMode locked, BlendMode composited) {
  t[static_cast<int>(locked)] = LockedRow<Op>;
  t[static_cast<int>(composited)] = CompositedRow<Op>;
}

// Indexed by mode number; the numbers without a mode hold Copy.
constexpr RowTable MakeRowTable() {
  using M = BlendMode;
  RowTable t{};
  for (auto& f : t) f = CopyRow;
  t[static_cast<int>(M::And)] = AndRow;
  t[static_cast<int>(M::Or)] = OrRow;
  t[static_cast<int>(M::NormalKeepAlpha)] = NormalKeepAlphaRow;
  SetColourOperation<ops::Add>(t, M::AddKeepAlpha, M::Add);
  SetColourOperation<ops::AddScaled>(t, M::AddScaledKeepAlpha, M::AddScaled);
  SetColourOperation<ops::Subtract>(t, M::SubtractKeepAlpha, M::Subtract);
  SetColourOperation<ops::Multiply>(t, M::MultiplyKeepAlpha, M::Multiply);
  SetColourOperation<ops::Divide>(t, M::DivideKeepAlpha, M::Divide);
  SetColourOperation<ops::Overlay>(t, M::OverlayKeepAlpha, M::Overlay);
  SetColourOperation<ops::Screen>(t, M::ScreenKeepAlpha, M::Screen);
  SetColourOperation<ops::Lighten>(t, M::LightenKeepAlpha, M::Lighten);
  SetColourOperation<ops::Darken>(t, M::DarkenKeepAlpha, M::Darken);
  SetColourOperation<ops::Difference>(t, M::DifferenceKeepAlpha, M::Difference);
  SetColourOperation<ops::Exclusion>(t, M::ExclusionKeepAlpha, M::Exclusion);
  SetColourOperation<ops::ColourDodge>(t, M::ColourDodgeKeepAlpha, M::ColourDodge);
  SetColourOperation<ops::ColourBurn>(t, M::ColourBurnKeepAlpha, M::ColourBurn);
  SetColourOperation<ops::LinearDodge>(t, M::LinearDodgeKeepAlpha, M::LinearDodge);
  SetColourOperation<ops::LinearBurn>(t, M::LinearBurnKeepAlpha, M::LinearBurn);
  SetColourOperation<ops::SoftLight>(t, M::SoftLightKeepAlpha, M::SoftLight);
  SetColourOperation<ops::HardLight>(t, M::HardLightKeepAlpha, M::HardLight);
  SetColourOperation<ops::Hue>(t, M::HueKeepAlpha, M::Hue);
  SetColourOperation<ops::Saturation>(t, M::SaturationKeepAlpha, M::Saturation);
  SetColourOperation<ops::Colour>(t, M::ColourKeepAlpha, M::Colour);
  SetColourOperation<ops::Luminosity>(t, M::LuminosityKeepAlpha, M::Luminosity);
  SetColourOperation<ops::HardMix>(t, M::HardMixKeepAlpha, M::HardMix);
  SetColourOperation<ops::InvertedExclusion>(t, M::InvertedExclusionKeepAlpha, M::InvertedExclusion);
  t[static_cast<int>(M::Normal)] = NormalRow;
  t[static_cast<int>(M::EraseAlpha)] = EraseAlphaRow;
  t[static_cast<int>(M::EraseInverseAlpha)] = EraseInverseAlphaRow;
  t[static_cast<int>(M::EraseAlphaScaled)] = EraseAlphaScaledRow;
  t[static_cast<int>(M::NormalKeyed)] = NormalKeyedRow;
  t[static_cast<int>(M::FillMask)] = FillMaskRow;
  return t;
}

constexpr RowTable kRowTable = MakeRowTable();
static_assert(kRowTable.size() == static_cast<std::size_t>(BlendMode::FillMask) + 1,
              "one row function per mode number 0..64");

}  // namespace

RowBlender SelectRowBlender(const DrawParams& params) {
  const std::int32_t mode = params.mode;
  if (mode < 0 || mode >= kModeCount) return CopyRow;
  return kRowTable[static_cast<std::size_t>(mode)];
}

}  // namespace lumo
