#include "compose/resample_finish.h"

#include <cstddef>

#include "compose/resample_samples.h"

namespace lumo::resample {
namespace {

// Coverage of one footprint row with vertical weight wy.
inline std::uint32_t RowCoverage(std::uint32_t wFirst, std::uint32_t wLast, std::uint32_t middles,
                                 std::uint32_t hasLast, std::uint32_t wy) {
  return FloorWeight(wFirst * wy) + (hasLast & FloorWeight(wLast * wy)) + middles * FloorWeight(255 * wy);
}

#if KEZ_RESAMPLE_VECTOR

inline V RowCoverage4(V wFirst, V wLast, V middles, V hasLast, std::uint32_t wy) {
  const V y = Splat(wy);
  return Add(Add(FloorWeights(wFirst, y), And(hasLast, FloorWeights(wLast, y))),
             Mul16(middles, Splat(FloorWeight(255 * wy))));
}

// The vector loop over groups of four footprints; returns where it stopped.
// kSmall: every sum is below 2^31 (footprints of at most 128 samples).
template <bool kSmall>
std::int32_t FinishGroups(const ColumnSums& first, const ColumnSums& last, const std::uint32_t* middle,
                          const FootprintColumns& columns, const FootprintRows& rows, std::int32_t count,
                          std::uint32_t* out) {
  std::int32_t k = 0;
  const V zero = Zero(), one = Splat(1);
  const V innerRows = Splat(rows.count >= 2 ? static_cast<std::uint32_t>(rows.count - 2) : 0);
  for (; k + 4 <= count; k += 4) {
    const V hasLast = Load(columns.hasLast + k);
    const V a0 = Load(first.alpha0 + k);
    V a = Add(Load(first.a + k), And(hasLast, Load(last.a + k)));
    V r = Add(Load(first.r + k), And(hasLast, Load(last.r + k)));
    V g = Add(Load(first.g + k), And(hasLast, Load(last.g + k)));
    V b = Add(Load(first.b + k), And(hasLast, Load(last.b + k)));
    if (middle != nullptr) {
      const std::uint32_t* m = middle + 4 * static_cast<std::size_t>(k);
      V mb = Load(m), mg = Load(m + 4), mr = Load(m + 8), ma = Load(m + 12);
      Transpose(mb, mg, mr, ma);
      b = Add(b, mb);
      g = Add(g, mg);
      r = Add(r, mr);
      a = Add(a, ma);
    }
    const V lastDiffers = Or(Load(last.differs + k), Xor(Load(last.alpha0 + k), a0));
    const V differs = Or(Load(first.differs + k), And(hasLast, lastDiffers));
    const V empty = Equal(a, zero);
    const V safeA = Or(a, And(empty, one));
    const Reciprocal reciprocal = Inverse<kSmall>(safeA);

    V alpha = a0;
    const V mixed = Select(Equal(differs, zero), zero, Select(empty, zero, Splat(~0u)));
    if (Any(mixed)) {
      const V wF = Load(columns.wFirst + k), wL = Load(columns.wLast + k);
      const V middles = Load(columns.middles + k);
      V coverage = RowCoverage4(wF, wL, middles, hasLast, rows.wFirst);
      if (rows.count >= 2) {
        coverage = Add(coverage, RowCoverage4(wF, wL, middles, hasLast, rows.wLast));
        coverage = Add(coverage, Mul(RowCoverage4(wF, wL, middles, hasLast, 255), innerRows));
      }
      alpha = Select(mixed, Divide<kSmall>(Sub(ShiftLeft<8>(a), a), Inverse<kSmall>(coverage)), a0);
    }
    V p = ShiftLeft<24>(alpha);
    p = Or(p, ShiftLeft<16>(Divide<kSmall>(r, reciprocal)));
    p = Or(p, ShiftLeft<8>(Divide<kSmall>(g, reciprocal)));
    p = Or(p, Divide<kSmall>(b, reciprocal));
    v4::Store(out + k, Select(empty, zero, p));
  }
  return k;
}

#endif  // KEZ_RESAMPLE_VECTOR

}  // namespace

void FinishRow(const ColumnSums& first, const ColumnSums& last, const std::uint32_t* middle,
               const FootprintColumns& columns, const FootprintRows& rows, std::int32_t count, std::uint32_t* out) {
  std::int32_t k = 0;
#if KEZ_RESAMPLE_VECTOR
  if (!g_portableKernels) {
    // 128 samples of at most 255 x 65 025 stay below 2^31.
    const bool small = static_cast<std::int64_t>(columns.widest) * rows.count <= 128;
    k = small ? FinishGroups<true>(first, last, middle, columns, rows, count, out)
              : FinishGroups<false>(first, last, middle, columns, rows, count, out);
  }
#endif
  for (; k < count; ++k) {
    const std::uint32_t hasLast = columns.hasLast[k], a0 = first.alpha0[k];
    const std::uint32_t* m = middle != nullptr ? middle + 4 * static_cast<std::size_t>(k) : nullptr;
    const std::uint32_t a = first.a[k] + (hasLast & last.a[k]) + (m != nullptr ? m[3] : 0);
    if (a == 0) {
      out[k] = 0;
      continue;
    }
    const std::uint32_t r = first.r[k] + (hasLast & last.r[k]) + (m != nullptr ? m[2] : 0);
    const std::uint32_t g = first.g[k] + (hasLast & last.g[k]) + (m != nullptr ? m[1] : 0);
    const std::uint32_t b = first.b[k] + (hasLast & last.b[k]) + (m != nullptr ? m[0] : 0);
    const std::uint32_t differs = first.differs[k] | (hasLast & (last.differs[k] | (last.alpha0[k] ^ a0)));
    std::uint32_t alpha = a0;
    if (differs != 0) {
      const std::uint32_t wF = columns.wFirst[k], wL = columns.wLast[k], middles = columns.middles[k];
      std::uint32_t coverage = RowCoverage(wF, wL, middles, hasLast, rows.wFirst);
      if (rows.count >= 2) {
        coverage += RowCoverage(wF, wL, middles, hasLast, rows.wLast) +
                    RowCoverage(wF, wL, middles, hasLast, 255) * static_cast<std::uint32_t>(rows.count - 2);
      }
      alpha = static_cast<std::uint32_t>(std::uint64_t{a} * 255 / coverage);
    }
    out[k] = alpha << 24 | (r / a) << 16 | (g / a) << 8 | b / a;
  }
}

}  // namespace lumo::resample
