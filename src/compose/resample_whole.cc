#include "compose/resample_whole.h"

#include <cstddef>

#include "compose/resample_columns.h"
#include "compose/resample_samples.h"

namespace lumo::resample {

#if KEZ_RESAMPLE_VECTOR
namespace {

// Row t of four footprints of n columns from `row`: cols[c] holds column c
// of each (source pixel n x lane + c), cols[n] their last columns, which are
// the next footprints' first ones.
template <int N>
inline void Deinterleave(const std::uint32_t* row, V* cols) {
  if constexpr (N == 2) {
    const V a = Load(row), b = Load(row + 4);
    cols[0] = EvenLanes(a, b);
    cols[1] = OddLanes(a, b);
  } else {
    // Lane i of column c lies in vector m x i + c / 4 at lane c % 4: one
    // transpose per four columns.
    constexpr int kM = N / 4;
    for (int q = 0; q < kM; ++q) {
      V r0 = Load(row + 4 * q), r1 = Load(row + 4 * (kM + q));
      V r2 = Load(row + 4 * (2 * kM + q)), r3 = Load(row + 4 * (3 * kM + q));
      Transpose(r0, r1, r2, r3);
      cols[4 * q] = r0;
      cols[4 * q + 1] = r1;
      cols[4 * q + 2] = r2;
      cols[4 * q + 3] = r3;
    }
  }
  cols[N] = ShiftIn(cols[0], row[4 * N]);
}

// One source row of the footprints: the first column weighs as First, the
// middle ones as Middle, the last at the floor (its horizontal weight is 0).
template <int N, Weight First, Weight Middle>
inline void AddRow(const V* cols, V a0, V m, SplitSums4& acc, V& diff) {
  for (int c = 0; c <= N; ++c) {
    const V alpha = Alpha(cols[c]);
    diff = Or(diff, Xor(alpha, a0));
    if (c == 0) {
      AddSamplesOf<First>(cols[c], alpha, m, acc);
    } else if (c < N) {
      AddSamplesOf<Middle>(cols[c], alpha, m, acc);
    } else {
      AddSamplesOf<Weight::Floor>(cols[c], alpha, m, acc);
    }
  }
}

// An edge row: first and middle columns share the weight m.
template <int N>
inline void AddEdgeRow(const V* cols, V a0, std::uint32_t m, SplitSums4& acc, V& diff) {
  switch (KindOf(m)) {
    case Weight::Full:
      AddRow<N, Weight::Full, Weight::Full>(cols, a0, Splat(m), acc, diff);
      break;
    case Weight::Floor:
      AddRow<N, Weight::Floor, Weight::Floor>(cols, a0, Splat(m), acc, diff);
      break;
    default:
      AddRow<N, Weight::General, Weight::General>(cols, a0, Splat(m), acc, diff);
      break;
  }
}

// Coverage of one footprint row with vertical weight wy: the first and n - 1
// middle columns at 255 x wy, the last at the floor.
std::uint32_t RowCoverage(std::int32_t n, std::uint32_t wy) {
  return static_cast<std::uint32_t>(n) * FloorWeight(255 * wy) + 255;
}

// Pixels [0, count): groups of four from the left, and when count is not a
// multiple of four one more group ending at count (overlapping the one
// before it, whose pixels come out the same).
template <int N, bool kSmall>
void Groups(const RowFootprint& rows, std::int32_t count, std::uint32_t* out) {
  const std::uint32_t mFirst = FloorWeight(255 * rows.wFirst), mLast = FloorWeight(255 * rows.wLast);
  // Every footprint has the same coverage, for the alpha of mixed ones.
  std::uint32_t coverage = RowCoverage(N, rows.wFirst);
  if (rows.count >= 2) {
    coverage += RowCoverage(N, rows.wLast) + static_cast<std::uint32_t>(rows.count - 2) * RowCoverage(N, 255);
  }
  const Reciprocal byCoverage = Inverse<kSmall>(Splat(coverage));
  const V zero = Zero(), unused = Zero();
  for (std::int32_t k = 0; k < count; k += 4) {
    if (k + 4 > count) k = count - 4;
    const std::size_t base = static_cast<std::size_t>(N) * static_cast<std::size_t>(k);
    SplitSums4 acc;
    V cols[N + 1];
    V a0 = zero, diff = zero;
    for (std::int32_t t = 0; t < rows.count; ++t) {
      Deinterleave<N>(rows.rows[t] + base, cols);
      if (t == 0) {
        a0 = Alpha(cols[0]);
        AddEdgeRow<N>(cols, a0, mFirst, acc, diff);
      } else if (t == rows.count - 1) {
        AddEdgeRow<N>(cols, a0, mLast, acc, diff);
      } else {
        AddRow<N, Weight::Full, Weight::Inner>(cols, a0, unused, acc, diff);
      }
    }
    v4::Store(out + k, AveragePixels<kSmall>(Total(acc), a0, diff, [&] { return byCoverage; }));
  }
}

template <int N>
void Row(const RowFootprint& rows, std::int32_t count, std::uint32_t* out) {
  // 128 samples of at most 255 x 65 025 stay below 2^31.
  if ((N + 1) * rows.count <= 128) {
    Groups<N, true>(rows, count, out);
  } else {
    Groups<N, false>(rows, count, out);
  }
}

}  // namespace
#endif  // KEZ_RESAMPLE_VECTOR

std::int32_t WholeRatioColumns(std::int64_t stepX) {
#if KEZ_RESAMPLE_VECTOR
  if (g_portableKernels || stepX % 65536 != 0) return 0;
  const std::int64_t n = stepX / 65536;
  return n == 2 || n == 4 || n == 8 || n == 12 ? static_cast<std::int32_t>(n) : 0;
#else
  (void)stepX;
  return 0;
#endif
}

void WholeRatioRow(const RowFootprint& rows, std::int32_t columns, std::int32_t count, std::uint32_t* out) {
#if KEZ_RESAMPLE_VECTOR
  switch (columns) {
    case 2:
      return Row<2>(rows, count, out);
    case 4:
      return Row<4>(rows, count, out);
    case 8:
      return Row<8>(rows, count, out);
    case 12:
      return Row<12>(rows, count, out);
    default:
      return;
  }
#else
  (void)rows, (void)columns, (void)count, (void)out;
#endif
}

}  // namespace lumo::resample
