// Weighting one sample per lane, shared by the resampler's vector loops.
// Internal to the resampler.
#pragma once

#include <cstdint>

#include "compose/resample_vector.h"

#if KEZ_RESAMPLE_VECTOR
namespace lumo::resample {

using namespace v4;

// A fully covered source pixel weighs 255 x 255.
constexpr std::uint32_t kFullWeight = 65025;

// Four lanes of sums, one register per quantity.
struct Sums4 {
  V b = Zero(), g = Zero(), r = Zero(), a = Zero();
};

inline V Byte0(V p) { return And(p, Splat(0xFF)); }
inline V Byte1(V p) { return And(ShiftRight<8>(p), Splat(0xFF)); }
inline V Byte2(V p) { return And(ShiftRight<16>(p), Splat(0xFF)); }
inline V Alpha(V p) { return ShiftRight<24>(p); }

// EdgeAlphaWeight on four lanes (alpha <= 255, m <= 65 025).
inline V EdgeAlphaWeights(V alpha, V m) {
  const V x = Add(Mul16(alpha, m), Splat(1));
  return ShiftRight<8>(Add(x, ShiftRight<8>(x)));
}

// The pixels of row at columns xs[0..3].
inline V Gather(const std::uint32_t* row, const std::int32_t* xs) {
  return Make(row[xs[0]], row[xs[1]], row[xs[2]], row[xs[3]]);
}

// FloorWeight of wx x wy (both <= 255, so the product fits 16 bits).
inline V FloorWeights(V wx, V wy) {
  const V w = MulSmall(wx, wy);
  const V floor = Splat(255);
  return Select(Less(w, floor), floor, w);
}

// acc += aw x (B, G, R, 1) for weights below 2^16.
inline void AddWeighted(V p, V aw, Sums4& acc) {
  acc.b = Add(acc.b, Mul16(aw, Byte0(p)));
  acc.g = Add(acc.g, Mul16(aw, Byte1(p)));
  acc.r = Add(acc.r, Mul16(aw, Byte2(p)));
  acc.a = Add(acc.a, aw);
}

// acc += alpha x (B, G, R, 1): products of two bytes fit 16 bits.
inline void AddAlphaWeighted(V p, V alpha, Sums4& acc) {
  acc.b = Add(acc.b, MulSmall(alpha, Byte0(p)));
  acc.g = Add(acc.g, MulSmall(alpha, Byte1(p)));
  acc.r = Add(acc.r, MulSmall(alpha, Byte2(p)));
  acc.a = Add(acc.a, alpha);
}

// 255 x v as (v << 8) - v.
inline V Times255(V v) { return Sub(ShiftLeft<8>(v), v); }

// How the samples of a row weigh. Whole-number ratios give two edge weights
// everywhere, and both have cheaper forms with the same sums: w = 255 (a
// sample that barely or not at all reaches into the footprint, raised to
// the floor) has aw = alpha exactly, and w = 65 025 (a fully covered edge
// sample) has aw = 255 x alpha, less one for alpha >= 2. Inner samples of
// middle columns have aw = 255 x alpha.
enum class Weight { General, Floor, Full, Inner };

inline Weight KindOf(std::uint32_t m) {
  return m == 255 ? Weight::Floor : m == kFullWeight ? Weight::Full : Weight::General;
}

// Sample sums in two parts: `edge` weighted by aw, `full` by alpha and
// counted 255 times. The corrections of full-weight edge samples may take
// `edge` below zero; the sum of both parts is exact all the same, because it
// lies below 2^32 and lane arithmetic wraps modulo 2^32.
struct SplitSums4 {
  Sums4 edge, full;
};

inline void AddSamples(Weight kind, V p, V alpha, V m, SplitSums4& acc) {
  switch (kind) {
    case Weight::Floor:
      AddAlphaWeighted(p, alpha, acc.edge);
      break;
    case Weight::Inner:
      AddAlphaWeighted(p, alpha, acc.full);
      break;
    case Weight::Full: {
      AddAlphaWeighted(p, alpha, acc.full);
      // All ones where alpha >= 2: take one of each channel off, and one
      // (adding -1) off the weight.
      const V above = Negative(Sub(Splat(1), alpha));
      acc.edge.b = Sub(acc.edge.b, And(above, Byte0(p)));
      acc.edge.g = Sub(acc.edge.g, And(above, Byte1(p)));
      acc.edge.r = Sub(acc.edge.r, And(above, Byte2(p)));
      acc.edge.a = Add(acc.edge.a, above);
      break;
    }
    case Weight::General:
      AddWeighted(p, EdgeAlphaWeights(alpha, m), acc.edge);
      break;
  }
}

// The kind as a template argument, for loops that must carry no choice.
template <Weight Kind>
inline void AddSamplesOf(V p, V alpha, V m, SplitSums4& acc) {
  AddSamples(Kind, p, alpha, m, acc);
}

// The exact sums of both parts.
inline Sums4 Total(const SplitSums4& s) {
  return {Add(s.edge.b, Times255(s.full.b)), Add(s.edge.g, Times255(s.full.g)), Add(s.edge.r, Times255(s.full.r)),
          Add(s.edge.a, Times255(s.full.a))};
}

// Four pixels from their footprints' sums: 0 where the alpha weights sum to
// 0; else (alpha, R, G, B) with each colour floor(sum / weight sum), and the
// alpha a0 where no sample's alpha differs from it (diff 0), else
// floor(255 x weight sum / coverage) with the coverage's reciprocal from
// byCoverage(), asked for only then. kSmall: every sum is below 2^31.
template <bool kSmall, typename ByCoverage>
inline V AveragePixels(const Sums4& s, V a0, V diff, ByCoverage byCoverage) {
  const V zero = Zero();
  const V empty = Equal(s.a, zero);
  const Reciprocal byWeight = Inverse<kSmall>(Or(s.a, And(empty, Splat(1))));
  V alpha = a0;
  const V mixed = Select(Equal(diff, zero), zero, Select(empty, zero, Splat(~0u)));
  if (Any(mixed)) alpha = Select(mixed, Divide<kSmall>(Times255(s.a), byCoverage()), a0);
  V p = ShiftLeft<24>(alpha);
  p = Or(p, ShiftLeft<16>(Divide<kSmall>(s.r, byWeight)));
  p = Or(p, ShiftLeft<8>(Divide<kSmall>(s.g, byWeight)));
  p = Or(p, Divide<kSmall>(s.b, byWeight));
  return Select(empty, zero, p);
}

// Pairs: two 16-bit values per lane, the first of a footprint's two
// columns in the low half and the second in the high half.

// Per lane, the sum of its two halves (below 2^15 each).
inline V PairSums(V v) { return MulAddPairs(v, Splat(0x00010001)); }

// The coverage weights of one footprint row, as pairs: FloorWeight(wx x wy)
// for wx, wy <= 255, 0 where mask is 0 (a one-column footprint's second
// sample).
inline V RowWeights(V wx, V wy, V mask) { return And(Max16(MulLow16(wx, wy), Splat(255 * 0x10001)), mask); }

// EdgeAlphaWeight(255, w) on pairs: w less one from 258 on (0 stays 0).
inline V OpaqueAlphaWeights(V w) { return Sub16(Sub16(w, Splat(0x10001)), AtMost16(w, Splat(257 * 0x10001))); }

// EdgeAlphaWeight(alpha, w) on pairs, from alpha257 = 257 x alpha (below
// 2^16): (x + (x >> 8)) >> 8 for x = alpha w + 1 is floor(257 x / 2^16),
// as the inner floor drops less than one from a sum that is then floored
// by 256. With alpha257 x w = 2^16 h + l that is h, plus one where
// l + 257 carries.
inline V AlphaWeights(V alpha257, V w) {
  return Sub16(MulHigh16(alpha257, w), Above16(MulLow16(alpha257, w), Splat(65278u * 0x10001u)));
}

}  // namespace lumo::resample
#endif  // KEZ_RESAMPLE_VECTOR
