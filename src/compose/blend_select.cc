#include <array>

#include "compose/blend.h"
#include "compose/blend_rows.h"

namespace lumo {
namespace {

constexpr int kModeCount = 65;

// Indexed by mode number; the numbers without a mode hold Copy.
constexpr std::array<RowBlender, kModeCount> MakeRowTable() {
  std::array<RowBlender, kModeCount> t{};
  for (auto& f : t) f = CopyRow;
  t[static_cast<int>(BlendMode::And)] = AndRow;
  t[static_cast<int>(BlendMode::Or)] = OrRow;
  return t;
}

constexpr std::array<RowBlender, kModeCount> kRowTable = MakeRowTable();
static_assert(kRowTable.size() == static_cast<std::size_t>(BlendMode::FillMask) + 1);

}  // namespace

RowBlender SelectRowBlender(const DrawParams& params) {
  const std::int32_t mode = params.mode;
  if (mode < 0 || mode >= kModeCount) return CopyRow;
  return kRowTable[static_cast<std::size_t>(mode)];
}

}  // namespace lumo
