// Area averaging when every destination column covers a whole number of
// source columns: all footprints of a row but the last have one shape, so
// four neighbours fill the four vector lanes straight from the source rows.
// Internal to the resampler.
#pragma once

#include <cstdint>

namespace lumo::resample {

// The source columns per destination column that the vector rows take for
// a 16.16 step (2, 4, 8 or 12, the widths the lanes deinterleave cheaply),
// or 0. Always 0 where there are no vector loops or the portable ones are
// asked for.
std::int32_t WholeRatioColumns(std::int64_t stepX);

// The source rows under one destination row: rows[0 .. count-1], the first
// weighing wFirst and the last wLast (0..255), the ones between 255; a
// single row weighs wFirst.
struct RowFootprint {
  const std::uint32_t* const* rows;
  std::int32_t count;
  std::uint32_t wFirst;
  std::uint32_t wLast;
};

// Destination pixels [0, count) of one row, count >= 4, for
// WholeRatioColumns(step) = columns: pixel k averages source columns
// columns x k (fully covered) to columns x (k + 1) (floor weight), which must
// all exist. Footprints have at most 256 samples.
void WholeRatioRow(const RowFootprint& rows, std::int32_t columns, std::int32_t count, std::uint32_t* out);

}  // namespace lumo::resample
