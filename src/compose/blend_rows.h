// The row functions of the blend modes, each with the RowBlender signature.
#pragma once

#include <cstdint>

#include "compose/blend.h"

namespace lumo {

void CopyRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
             std::int32_t count);
void AndRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
            std::int32_t count);
void OrRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
           std::int32_t count);

}  // namespace lumo
