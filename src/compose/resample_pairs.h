// Area averaging when every footprint spans one or two source columns, as
// in enlargements: each destination pixel is summed in one pass over its
// rows, four neighbours per vector, with nothing stored between.
// Internal to the resampler.
#pragma once

#include <cstdint>

#include "compose/resample_whole.h"

namespace lumo::resample {

// True when the vector rows below take this 16.16 horizontal step (at most
// one source column, so that no footprint spans more than two). Always
// false where there are no vector loops or the portable ones are asked for.
bool ColumnPairsApply(std::int64_t stepX);

// The columns of each destination column's footprint: source columns
// first[k] and last[k] weighing wFirst[k] and wLast[k] (0..255). A
// one-column footprint has last[k] = first[k] and lastMask[k] = 0, else
// lastMask[k] is all ones.
struct ColumnPairs {
  const std::int32_t* first;
  const std::int32_t* last;
  const std::uint32_t* wFirst;
  const std::uint32_t* wLast;
  const std::uint32_t* lastMask;
};

// Destination pixels [0, count), count >= 4, of one row of at most 128
// source rows.
void ColumnPairsRow(const RowFootprint& rows, const ColumnPairs& columns, std::int32_t count, std::uint32_t* out);

}  // namespace lumo::resample
