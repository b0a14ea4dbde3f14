// The last step of area averaging: the column sums of one destination row's
// footprints to pixels. Internal to the resampler.
#pragma once

#include <cstdint>

#include "compose/resample_columns.h"

namespace lumo::resample {

// Horizontal shape of each destination column's footprint: the weights of
// its first and last source column (0..255), its column count less 2 (0 when
// below 2), and all ones when it has a last column distinct from the first.
struct FootprintColumns {
  const std::uint32_t* wFirst;
  const std::uint32_t* wLast;
  const std::uint32_t* middles;
  const std::uint32_t* hasLast;
  std::int32_t widest;  // the most columns of any footprint
};

// Vertical shape of the row's footprints: row count and the weights of the
// first and last row (a single row weighs wFirst).
struct FootprintRows {
  std::int32_t count;
  std::uint32_t wFirst;
  std::uint32_t wLast;
};

// out[k] for k < count from first[k] (whose differs the caller has already
// given the middle columns' alpha checks), plus last[k] where hasLast[k], plus
// the middle columns' sums middle[4k .. 4k+3] (B, G, R, weight) unless middle
// is null:
// 0 when the alpha weights sum to 0; else (alpha, R, G, B) with each colour
// floor(sum / weight sum) and alpha the shared one of a uniform footprint or
// floor(weight sum x 255 / coverage). Footprints have at most 256 samples.
void FinishRow(const ColumnSums& first, const ColumnSums& last, const std::uint32_t* middle,
               const FootprintColumns& columns, const FootprintRows& rows, std::int32_t count, std::uint32_t* out);

}  // namespace lumo::resample
