// Column sums for area averaging: the footprint rows of one destination row
// summed down source columns. Internal to the resampler.
#pragma once

#include <cstdint>

namespace lumo::resample {

// The alpha weight of an edge sample: alpha x w / 255 by the shift formula,
// which comes out one low for some products above 65 789. alpha x w is at
// most 255 x 65 025, well inside 32 bits.
inline std::uint32_t EdgeAlphaWeight(std::uint32_t alpha, std::uint32_t w) {
  const std::uint32_t x = alpha * w + 1;
  return (x + (x >> 8)) >> 8;
}

// Set by tests to run the portable loops where vector ones exist; the
// results are the same bits either way.
extern bool g_portableKernels;

// Coverage weights below 255 count as 255.
inline std::uint32_t FloorWeight(std::uint32_t w) { return w < 255 ? 255 : w; }

// Per column: sum of aw x B, aw x G, aw x R and aw over the rows, the alpha
// of row 0, and non-zero when some row's alpha differs from it.
struct ColumnSums {
  std::uint32_t* b;
  std::uint32_t* g;
  std::uint32_t* r;
  std::uint32_t* a;
  std::uint32_t* alpha0;
  std::uint32_t* differs;
};

// Sums of middle columns, interleaved: column x's aw x B, aw x G, aw x R and
// aw sums at sums[4x .. 4x+3], so that a footprint adds one group of four
// per column; key[x] is the alpha of row 0 with bit 8 and up set when some
// row's alpha differs from it (so key[x] == alpha says "all rows have alpha").
struct MiddleSums {
  std::uint32_t* sums;
  std::uint32_t* key;
};

// Middle columns begin..end-1, down rows[0..rowCount-1] (each indexed by
// source column). Rows 0 and rowCount-1 are edge rows with
// aw = EdgeAlphaWeight(alpha, mFirst), respectively mLast (a single row uses
// mFirst); inner rows have aw = 255 x alpha.
//
// The caller keeps rowCount <= 256, so that no sum reaches 2^32.
void SumColumns(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t mFirst,
                std::uint32_t mLast, std::int32_t begin, std::int32_t end, const MiddleSums& out);

// Edge columns: for each i < count, column xs[i] with horizontal weight
// wxs[i] (results at index i); every sample takes the edge formula with
// w = FloorWeight(wx x wy), wy being wyFirst in row 0, wyLast in the last row
// and 255 in between. rowCount <= 256 as above.
void SumEdgeColumns(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t wyFirst,
                    std::uint32_t wyLast, const std::int32_t* xs, const std::uint32_t* wxs, std::int32_t count,
                    const ColumnSums& out);

// For count footprints: out[4k .. 4k+3] = the sums of middles[k] middle
// columns from firstColumn[k] + 1, and differs[k] made non-zero when any of
// their alphas differs from alpha0[k].
void AddMiddles(const MiddleSums& m, const std::int32_t* firstColumn, const std::uint32_t* middles,
                std::int32_t count, const std::uint32_t* alpha0, std::uint32_t* differs, std::uint32_t* out);

}  // namespace lumo::resample
