#include "compose/resample_pairs.h"

#include "compose/resample_columns.h"
#include "compose/resample_samples.h"

namespace lumo::resample {

#if KEZ_RESAMPLE_VECTOR
namespace {

void Groups(const RowFootprint& rows, const ColumnPairs& columns, std::int32_t count, std::uint32_t* out) {
  const V zero = Zero();
  for (std::int32_t k = 0; k < count; k += 4) {
    // A last group overlapping the one before it gives the same pixels.
    if (k + 4 > count) k = count - 4;
    const V wFirst = Load(columns.wFirst + k);
    const V lastMask = Load(columns.lastMask + k);
    const V wLast = And(Load(columns.wLast + k), lastMask);
    Sums4 s;
    V coverage = zero, a0 = zero, diff = zero;
    for (std::int32_t t = 0; t < rows.count; ++t) {
      const std::uint32_t wy = t == 0 ? rows.wFirst : t == rows.count - 1 ? rows.wLast : 255;
      const V y = Splat(wy);
      // Every sample is an edge sample. A one-column footprint's second
      // sample gets weight 0, whose alpha weight is 0 too.
      const V mFirst = FloorWeights(wFirst, y);
      const V mLast = And(FloorWeights(wLast, y), lastMask);
      const V p = Gather(rows.rows[t], columns.first + k);
      const V q = Gather(rows.rows[t], columns.last + k);
      const V alphaP = Alpha(p), alphaQ = Alpha(q);
      if (t == 0) a0 = alphaP;
      diff = Or(diff, Or(Xor(alphaP, a0), And(Xor(alphaQ, a0), lastMask)));
      AddWeighted(p, EdgeAlphaWeights(alphaP, mFirst), s);
      AddWeighted(q, EdgeAlphaWeights(alphaQ, mLast), s);
      coverage = Add(coverage, Add(mFirst, mLast));
    }
    v4::Store(out + k, AveragePixels<true>(s, a0, diff, [&] { return Inverse<true>(coverage); }));
  }
}

}  // namespace
#endif  // KEZ_RESAMPLE_VECTOR

bool ColumnPairsApply(std::int64_t stepX) {
#if KEZ_RESAMPLE_VECTOR
  return !g_portableKernels && stepX <= 65536;
#else
  (void)stepX;
  return false;
#endif
}

void ColumnPairsRow(const RowFootprint& rows, const ColumnPairs& columns, std::int32_t count, std::uint32_t* out) {
#if KEZ_RESAMPLE_VECTOR
  // A footprint at most one source column wide has first and last
  // horizontal weights summing to at most 255, so a row's two coverage
  // weights sum to at most 255 x 255 + 255 (the floor lifting the smaller),
  // and 128 rows of them to 8 355 840: every colour sum, at most 255 times
  // that, stays below 2^31.
  Groups(rows, columns, count, out);
#else
  (void)rows, (void)columns, (void)count, (void)out;
#endif
}

}  // namespace lumo::resample
