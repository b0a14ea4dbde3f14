#include "compose/resample_columns.h"

#include "compose/resample_vector.h"

namespace lumo::resample {

bool g_portableKernels = false;

namespace {

// B and G, R and 1 of a pixel in two 32-bit fields each: one multiply by a
// weight below 65 536 scales two channels, and fields never carry into each
// other while every sum stays below 2^32.
inline std::uint64_t SpreadBG(std::uint32_t p) { return (p & 0xFFu) | std::uint64_t{p & 0xFF00u} << 24; }
inline std::uint64_t SpreadRA(std::uint32_t p) { return ((p >> 16) & 0xFFu) | std::uint64_t{1} << 32; }

inline void Store(const ColumnSums& out, std::int32_t i, std::uint64_t bg, std::uint64_t ra, std::uint32_t alpha0,
                  std::uint32_t differs) {
  out.b[i] = static_cast<std::uint32_t>(bg);
  out.g[i] = static_cast<std::uint32_t>(bg >> 32);
  out.r[i] = static_cast<std::uint32_t>(ra);
  out.a[i] = static_cast<std::uint32_t>(ra >> 32);
  out.alpha0[i] = alpha0;
  out.differs[i] = differs;
}

// One middle column, portable: inner rows are summed as alpha x channel and
// scaled by 255 once at the end.
void SumColumn(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t mFirst,
               std::uint32_t mLast, std::int32_t x, const ColumnSums& out) {
  std::uint32_t p = rows[0][x];
  const std::uint32_t a0 = p >> 24;
  std::uint64_t aw = EdgeAlphaWeight(a0, mFirst);
  std::uint64_t bg = aw * SpreadBG(p), ra = aw * SpreadRA(p);
  std::uint32_t diff = 0;
  if (rowCount >= 2) {
    std::uint64_t innerBG = 0, innerRA = 0;
    for (std::int32_t t = 1; t + 1 < rowCount; ++t) {
      p = rows[t][x];
      const std::uint32_t a = p >> 24;
      diff |= a ^ a0;
      innerBG += a * SpreadBG(p);
      innerRA += a * SpreadRA(p);
    }
    p = rows[rowCount - 1][x];
    const std::uint32_t a = p >> 24;
    diff |= a ^ a0;
    aw = EdgeAlphaWeight(a, mLast);
    bg += aw * SpreadBG(p) + innerBG * 255;
    ra += aw * SpreadRA(p) + innerRA * 255;
  }
  Store(out, x, bg, ra, a0, diff);
}

// One edge column, portable.
void SumEdgeColumn(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t wyFirst,
                   std::uint32_t wyLast, std::int32_t x, std::uint32_t wx, std::int32_t i, const ColumnSums& out) {
  std::uint32_t p = rows[0][x];
  const std::uint32_t a0 = p >> 24;
  std::uint64_t aw = EdgeAlphaWeight(a0, FloorWeight(wx * wyFirst));
  std::uint64_t bg = aw * SpreadBG(p), ra = aw * SpreadRA(p);
  std::uint32_t diff = 0;
  if (rowCount >= 2) {
    const std::uint32_t mInner = FloorWeight(wx * 255);
    for (std::int32_t t = 1; t + 1 < rowCount; ++t) {
      p = rows[t][x];
      const std::uint32_t a = p >> 24;
      diff |= a ^ a0;
      aw = EdgeAlphaWeight(a, mInner);
      bg += aw * SpreadBG(p);
      ra += aw * SpreadRA(p);
    }
    p = rows[rowCount - 1][x];
    const std::uint32_t a = p >> 24;
    diff |= a ^ a0;
    aw = EdgeAlphaWeight(a, FloorWeight(wx * wyLast));
    bg += aw * SpreadBG(p);
    ra += aw * SpreadRA(p);
  }
  Store(out, i, bg, ra, a0, diff);
}

#if KEZ_RESAMPLE_VECTOR

using namespace v4;

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

inline void Store(const ColumnSums& out, std::int32_t i, const Sums4& s, V alpha0, V differs) {
  v4::Store(out.b + i, s.b);
  v4::Store(out.g + i, s.g);
  v4::Store(out.r + i, s.r);
  v4::Store(out.a + i, s.a);
  v4::Store(out.alpha0 + i, alpha0);
  v4::Store(out.differs + i, differs);
}

// Four middle columns from x.
void SumColumns4(const std::uint32_t* const* rows, std::int32_t rowCount, V mFirst, V mLast, std::int32_t x,
                 const ColumnSums& out) {
  Sums4 edge;
  V p = Load(rows[0] + x);
  const V a0 = Alpha(p);
  AddWeighted(p, EdgeAlphaWeights(a0, mFirst), edge);
  V diff = Zero();
  if (rowCount >= 2) {
    Sums4 inner;
    for (std::int32_t t = 1; t + 1 < rowCount; ++t) {
      p = Load(rows[t] + x);
      const V a = Alpha(p);
      diff = Or(diff, Xor(a, a0));
      AddAlphaWeighted(p, a, inner);
    }
    p = Load(rows[rowCount - 1] + x);
    const V a = Alpha(p);
    diff = Or(diff, Xor(a, a0));
    AddWeighted(p, EdgeAlphaWeights(a, mLast), edge);
    edge.b = Add(edge.b, Times255(inner.b));
    edge.g = Add(edge.g, Times255(inner.g));
    edge.r = Add(edge.r, Times255(inner.r));
    edge.a = Add(edge.a, Times255(inner.a));
  }
  Store(out, x, edge, a0, diff);
}

inline V Gather(const std::uint32_t* row, const std::int32_t* xs) {
  return Make(row[xs[0]], row[xs[1]], row[xs[2]], row[xs[3]]);
}

// Four edge columns from xs[0], results from index i.
void SumEdgeColumns4(const std::uint32_t* const* rows, std::int32_t rowCount, V wyFirst, V wyLast,
                     const std::int32_t* xs, const std::uint32_t* wxs, std::int32_t i, const ColumnSums& out) {
  const V wx = Load(wxs);
  Sums4 acc;
  V p = Gather(rows[0], xs);
  const V a0 = Alpha(p);
  AddWeighted(p, EdgeAlphaWeights(a0, FloorWeights(wx, wyFirst)), acc);
  V diff = Zero();
  if (rowCount >= 2) {
    const V mInner = FloorWeights(wx, Splat(255));
    for (std::int32_t t = 1; t + 1 < rowCount; ++t) {
      p = Gather(rows[t], xs);
      const V a = Alpha(p);
      diff = Or(diff, Xor(a, a0));
      AddWeighted(p, EdgeAlphaWeights(a, mInner), acc);
    }
    p = Gather(rows[rowCount - 1], xs);
    const V a = Alpha(p);
    diff = Or(diff, Xor(a, a0));
    AddWeighted(p, EdgeAlphaWeights(a, FloorWeights(wx, wyLast)), acc);
  }
  Store(out, i, acc, a0, diff);
}

#endif  // KEZ_RESAMPLE_VECTOR

}  // namespace

void SumColumns(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t mFirst,
                std::uint32_t mLast, std::int32_t begin, std::int32_t end, const ColumnSums& out) {
  std::int32_t x = begin;
#if KEZ_RESAMPLE_VECTOR
  const v4::V first = v4::Splat(mFirst), last = v4::Splat(mLast);
  if (!g_portableKernels) {
    for (; x + 4 <= end; x += 4) SumColumns4(rows, rowCount, first, last, x, out);
  }
#endif
  for (; x < end; ++x) SumColumn(rows, rowCount, mFirst, mLast, x, out);
}

void SumEdgeColumns(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t wyFirst,
                    std::uint32_t wyLast, const std::int32_t* xs, const std::uint32_t* wxs, std::int32_t count,
                    const ColumnSums& out) {
  std::int32_t i = 0;
#if KEZ_RESAMPLE_VECTOR
  const v4::V first = v4::Splat(wyFirst), last = v4::Splat(wyLast);
  if (!g_portableKernels) {
    for (; i + 4 <= count; i += 4) SumEdgeColumns4(rows, rowCount, first, last, xs + i, wxs + i, i, out);
  }
#endif
  for (; i < count; ++i) SumEdgeColumn(rows, rowCount, wyFirst, wyLast, xs[i], wxs[i], i, out);
}

}  // namespace lumo::resample
