// The blend lookup tables as one record, so the row code reads them directly
// instead of through the exported pointers.
#pragma once

#include <cstdint>

namespace lumo {

struct BlendTables {
  std::uint8_t sqrt[256];
  std::uint8_t gammaExpand[256];
  std::uint8_t gammaCompress[256];
};

// Filled by a static initialiser before main, read-only afterwards.
extern const BlendTables g_blendTables;

}  // namespace lumo
