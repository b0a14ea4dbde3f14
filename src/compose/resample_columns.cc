#include "compose/resample_columns.h"

#include <cstddef>

#include "compose/resample_samples.h"

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

inline void Store(const MiddleSums& out, std::int32_t x, std::uint64_t bg, std::uint64_t ra, std::uint32_t alpha0,
                  std::uint32_t differs) {
  std::uint32_t* s = out.sums + 4 * static_cast<std::size_t>(x);
  s[0] = static_cast<std::uint32_t>(bg);
  s[1] = static_cast<std::uint32_t>(bg >> 32);
  s[2] = static_cast<std::uint32_t>(ra);
  s[3] = static_cast<std::uint32_t>(ra >> 32);
  out.key[x] = alpha0 | differs << 8;
}

// One middle column, portable: inner rows are summed as alpha x channel and
// scaled by 255 once at the end.
void SumColumn(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t mFirst,
               std::uint32_t mLast, std::int32_t x, const MiddleSums& out) {
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

inline void Store(const ColumnSums& out, std::int32_t i, const Sums4& s, V alpha0, V differs) {
  v4::Store(out.b + i, s.b);
  v4::Store(out.g + i, s.g);
  v4::Store(out.r + i, s.r);
  v4::Store(out.a + i, s.a);
  v4::Store(out.alpha0 + i, alpha0);
  v4::Store(out.differs + i, differs);
}

// One group of four columns down the rows; fetch(t) gives row t's four
// pixels. The first and last rows weigh by their own kind and m; the inner
// rows by Inner (a compile-time kind, so that their loop carries no choice).
template <Weight Inner, typename Fetch>
inline Sums4 SumGroup(Fetch fetch, std::int32_t rowCount, Weight first, Weight last, V mFirst, V mInner, V mLast,
                      V& alpha0, V& differs) {
  SplitSums4 acc;
  V p = fetch(0);
  const V a0 = Alpha(p);
  AddSamples(first, p, a0, mFirst, acc);
  V diff = Zero();
  if (rowCount >= 2) {
    for (std::int32_t t = 1; t + 1 < rowCount; ++t) {
      p = fetch(t);
      const V a = Alpha(p);
      diff = Or(diff, Xor(a, a0));
      AddSamples(Inner, p, a, mInner, acc);
    }
    p = fetch(rowCount - 1);
    const V a = Alpha(p);
    diff = Or(diff, Xor(a, a0));
    AddSamples(last, p, a, mLast, acc);
  }
  alpha0 = a0;
  differs = diff;
  return Total(acc);
}

// Middle columns [x, end) in groups of four; returns where it stopped.
std::int32_t SumColumnGroups(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t mFirst,
                             std::uint32_t mLast, std::int32_t x, std::int32_t end, const MiddleSums& out) {
  const Weight first = KindOf(mFirst), last = KindOf(mLast);
  const V mF = Splat(mFirst), mL = Splat(mLast), unused = Zero();
  for (; x + 4 <= end; x += 4) {
    V a0, diff;
    Sums4 s = SumGroup<Weight::Inner>([&](std::int32_t t) { return Load(rows[t] + x); }, rowCount, first, last, mF,
                                      unused, mL, a0, diff);
    Transpose(s.b, s.g, s.r, s.a);
    std::uint32_t* sums = out.sums + 4 * static_cast<std::size_t>(x);
    v4::Store(sums, s.b);
    v4::Store(sums + 4, s.g);
    v4::Store(sums + 8, s.r);
    v4::Store(sums + 12, s.a);
    v4::Store(out.key + x, Or(a0, ShiftLeft<8>(diff)));
  }
  return x;
}

// Edge columns in groups of four; returns where it stopped. A group whose
// four horizontal weights are equal has one weight kind per row, as every
// group has for whole-number ratios (but the last, which ends at the edge).
std::int32_t SumEdgeGroups(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t wyFirst,
                           std::uint32_t wyLast, const std::int32_t* xs, const std::uint32_t* wxs,
                           std::int32_t count, const ColumnSums& out) {
  const V wyF = Splat(wyFirst), wyL = Splat(wyLast), full = Splat(255);
  std::int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const V wx = Load(wxs + i);
    const auto fetch = [&](std::int32_t t) { return Gather(rows[t], xs + i); };
    V a0, diff;
    Sums4 s;
    if (All(Equal(wx, Splat(wxs[i])))) {
      const std::uint32_t mFirst = FloorWeight(wxs[i] * wyFirst), mLast = FloorWeight(wxs[i] * wyLast);
      const std::uint32_t mInner = FloorWeight(wxs[i] * 255);
      const Weight first = KindOf(mFirst), last = KindOf(mLast);
      const V mF = Splat(mFirst), mI = Splat(mInner), mL = Splat(mLast);
      switch (KindOf(mInner)) {
        case Weight::Floor:
          s = SumGroup<Weight::Floor>(fetch, rowCount, first, last, mF, mI, mL, a0, diff);
          break;
        case Weight::Full:
          s = SumGroup<Weight::Full>(fetch, rowCount, first, last, mF, mI, mL, a0, diff);
          break;
        default:
          s = SumGroup<Weight::General>(fetch, rowCount, first, last, mF, mI, mL, a0, diff);
          break;
      }
    } else {
      s = SumGroup<Weight::General>(fetch, rowCount, Weight::General, Weight::General, FloorWeights(wx, wyF),
                                    FloorWeights(wx, full), FloorWeights(wx, wyL), a0, diff);
    }
    Store(out, i, s, a0, diff);
  }
  return i;
}

// Middle sums of four footprints from k, each over middles[k] columns from
// firstColumn[k] + 1.
inline void AddMiddleGroup(const MiddleSums& m, const std::int32_t* firstColumn, const std::uint32_t* middles,
                           std::int32_t k, const std::uint32_t* alpha0, std::uint32_t* differs, std::uint32_t* out) {
  for (std::int32_t i = k; i < k + 4; ++i) {
    V acc = Zero();
    std::uint32_t keys = 0;
    const std::int32_t x0 = firstColumn[i] + 1;
    for (std::int32_t x = x0; x < x0 + static_cast<std::int32_t>(middles[i]); ++x) {
      acc = Add(acc, Load(m.sums + 4 * static_cast<std::size_t>(x)));
      keys |= m.key[x] ^ alpha0[i];
    }
    v4::Store(out + 4 * static_cast<std::size_t>(i), acc);
    differs[i] |= keys;
  }
}

#endif  // KEZ_RESAMPLE_VECTOR

}  // namespace

void SumColumns(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t mFirst,
                std::uint32_t mLast, std::int32_t begin, std::int32_t end, const MiddleSums& out) {
  std::int32_t x = begin;
#if KEZ_RESAMPLE_VECTOR
  if (!g_portableKernels) x = SumColumnGroups(rows, rowCount, mFirst, mLast, x, end, out);
#endif
  for (; x < end; ++x) SumColumn(rows, rowCount, mFirst, mLast, x, out);
}

void SumEdgeColumns(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t wyFirst,
                    std::uint32_t wyLast, const std::int32_t* xs, const std::uint32_t* wxs, std::int32_t count,
                    const ColumnSums& out) {
  std::int32_t i = 0;
#if KEZ_RESAMPLE_VECTOR
  if (!g_portableKernels) i = SumEdgeGroups(rows, rowCount, wyFirst, wyLast, xs, wxs, count, out);
#endif
  for (; i < count; ++i) SumEdgeColumn(rows, rowCount, wyFirst, wyLast, xs[i], wxs[i], i, out);
}

void AddMiddles(const MiddleSums& m, const std::int32_t* firstColumn, const std::uint32_t* middles,
                std::int32_t count, const std::uint32_t* alpha0, std::uint32_t* differs, std::uint32_t* out) {
  std::int32_t k = 0;
#if KEZ_RESAMPLE_VECTOR
  if (!g_portableKernels) {
    for (; k + 4 <= count; k += 4) AddMiddleGroup(m, firstColumn, middles, k, alpha0, differs, out);
  }
#endif
  for (; k < count; ++k) {
    std::uint32_t sums[4] = {0, 0, 0, 0}, keys = 0;
    const std::int32_t x0 = firstColumn[k] + 1;
    for (std::int32_t x = x0; x < x0 + static_cast<std::int32_t>(middles[k]); ++x) {
      for (int c = 0; c < 4; ++c) sums[c] += m.sums[4 * static_cast<std::size_t>(x) + c];
      keys |= m.key[x] ^ alpha0[k];
    }
    for (int c = 0; c < 4; ++c) out[4 * static_cast<std::size_t>(k) + c] = sums[c];
    differs[k] |= keys;
  }
}

}  // namespace lumo::resample
