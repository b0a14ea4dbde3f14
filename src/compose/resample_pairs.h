// Area averaging when every footprint spans one or two source columns, as
// in enlargements: four destination pixels per vector. Footprints of one
// or two source rows come from source rows spread out once to the
// destination columns and from weight tables per footprint height; taller
// ones are summed pixel by pixel. Internal to the resampler.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "compose/resample_area.h"

namespace lumo::resample {

// True when the vector rows below take this 16.16 horizontal step (at most
// one source column, so that no footprint spans more than two). Always
// false where there are no vector loops or the portable ones are asked for.
bool ColumnPairsApply(std::int64_t stepX);

// The row loop for such footprints: columns.size() >= 4 destination columns
// (which it keeps a reference to) of a source sw pixels wide, and rows[j]
// the source rows under destination row j, at most 128 for any. Only where
// ColumnPairsApply.
std::unique_ptr<AreaRows::Method> MakeColumnPairsRows(const std::vector<Span>& columns,
                                                     const std::vector<Span>& rows, std::int32_t sw);

}  // namespace lumo::resample
