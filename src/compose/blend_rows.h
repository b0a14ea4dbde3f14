// The row functions of the blend modes that are not built from the colour
// operation skeletons; each has the RowBlender signature.
#pragma once

#include <cstdint>

#include "compose/blend.h"

namespace lumo {

#define KEZ_ROW_BLENDER(name) \
  void name(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src, std::int32_t count)

KEZ_ROW_BLENDER(CopyRow);
KEZ_ROW_BLENDER(AndRow);
KEZ_ROW_BLENDER(OrRow);
KEZ_ROW_BLENDER(NormalKeepAlphaRow);
KEZ_ROW_BLENDER(NormalRow);
KEZ_ROW_BLENDER(EraseAlphaRow);
KEZ_ROW_BLENDER(EraseInverseAlphaRow);
KEZ_ROW_BLENDER(EraseAlphaScaledRow);
KEZ_ROW_BLENDER(NormalKeyedRow);
KEZ_ROW_BLENDER(FillMaskRow);

#undef KEZ_ROW_BLENDER

}  // namespace lumo
