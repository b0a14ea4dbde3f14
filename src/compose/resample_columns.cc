#include "compose/resample_columns.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)

// Four lanes of sums, one register per quantity.
struct Sums4 {
  __m128i b = _mm_setzero_si128(), g = _mm_setzero_si128(), r = _mm_setzero_si128(), a = _mm_setzero_si128();
};

inline __m128i Byte(__m128i p, int shift) { return _mm_and_si128(_mm_srli_epi32(p, shift), _mm_set1_epi32(0xFF)); }

// w x c on lanes with w < 2^16 and c < 2^8: 16-bit multiplies give the low
// and high halves of the 32-bit product (the upper half of each lane is 0).
inline __m128i Mul16(__m128i w, __m128i c) {
  return _mm_or_si128(_mm_mullo_epi16(w, c), _mm_slli_epi32(_mm_mulhi_epu16(w, c), 16));
}

// EdgeAlphaWeight on four lanes (alpha and m below 2^16).
inline __m128i EdgeAlphaWeights(__m128i alpha, __m128i m) {
  const __m128i x = _mm_add_epi32(Mul16(alpha, m), _mm_set1_epi32(1));
  return _mm_srli_epi32(_mm_add_epi32(x, _mm_srli_epi32(x, 8)), 8);
}

// FloorWeight of wx x wy (both <= 255, so the product fits 16 bits).
inline __m128i FloorWeights(__m128i wx, __m128i wy) {
  const __m128i w = _mm_mullo_epi16(wx, wy);
  const __m128i floor = _mm_set1_epi32(255);
  const __m128i low = _mm_cmplt_epi32(w, floor);
  return _mm_or_si128(_mm_andnot_si128(low, w), _mm_and_si128(low, floor));
}

// acc += aw x (B, G, R, 1) for weights below 2^16.
inline void AddWeighted(__m128i p, __m128i aw, Sums4& acc) {
  acc.b = _mm_add_epi32(acc.b, Mul16(aw, _mm_and_si128(p, _mm_set1_epi32(0xFF))));
  acc.g = _mm_add_epi32(acc.g, Mul16(aw, Byte(p, 8)));
  acc.r = _mm_add_epi32(acc.r, Mul16(aw, Byte(p, 16)));
  acc.a = _mm_add_epi32(acc.a, aw);
}

// acc += alpha x (B, G, R, 1): products of two bytes fit 16 bits.
inline void AddAlphaWeighted(__m128i p, __m128i alpha, Sums4& acc) {
  acc.b = _mm_add_epi32(acc.b, _mm_mullo_epi16(alpha, _mm_and_si128(p, _mm_set1_epi32(0xFF))));
  acc.g = _mm_add_epi32(acc.g, _mm_mullo_epi16(alpha, Byte(p, 8)));
  acc.r = _mm_add_epi32(acc.r, _mm_mullo_epi16(alpha, Byte(p, 16)));
  acc.a = _mm_add_epi32(acc.a, alpha);
}

// 255 x v as (v << 8) - v.
inline __m128i Times255(__m128i v) { return _mm_sub_epi32(_mm_slli_epi32(v, 8), v); }

inline void Store4(std::uint32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline void Store(const ColumnSums& out, std::int32_t i, const Sums4& s, __m128i alpha0, __m128i differs) {
  Store4(out.b + i, s.b);
  Store4(out.g + i, s.g);
  Store4(out.r + i, s.r);
  Store4(out.a + i, s.a);
  Store4(out.alpha0 + i, alpha0);
  Store4(out.differs + i, differs);
}

inline __m128i Load4(const std::uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Four middle columns from x.
void SumColumns4(const std::uint32_t* const* rows, std::int32_t rowCount, __m128i mFirst, __m128i mLast,
                 std::int32_t x, const ColumnSums& out) {
  Sums4 edge;
  __m128i p = Load4(rows[0] + x);
  const __m128i a0 = _mm_srli_epi32(p, 24);
  AddWeighted(p, EdgeAlphaWeights(a0, mFirst), edge);
  __m128i diff = _mm_setzero_si128();
  if (rowCount >= 2) {
    Sums4 inner;
    for (std::int32_t t = 1; t + 1 < rowCount; ++t) {
      p = Load4(rows[t] + x);
      const __m128i a = _mm_srli_epi32(p, 24);
      diff = _mm_or_si128(diff, _mm_xor_si128(a, a0));
      AddAlphaWeighted(p, a, inner);
    }
    p = Load4(rows[rowCount - 1] + x);
    const __m128i a = _mm_srli_epi32(p, 24);
    diff = _mm_or_si128(diff, _mm_xor_si128(a, a0));
    AddWeighted(p, EdgeAlphaWeights(a, mLast), edge);
    edge.b = _mm_add_epi32(edge.b, Times255(inner.b));
    edge.g = _mm_add_epi32(edge.g, Times255(inner.g));
    edge.r = _mm_add_epi32(edge.r, Times255(inner.r));
    edge.a = _mm_add_epi32(edge.a, Times255(inner.a));
  }
  Store(out, x, edge, a0, diff);
}

inline __m128i Gather4(const std::uint32_t* row, const std::int32_t* xs) {
  return _mm_setr_epi32(static_cast<int>(row[xs[0]]), static_cast<int>(row[xs[1]]), static_cast<int>(row[xs[2]]),
                        static_cast<int>(row[xs[3]]));
}

// Four edge columns from xs[0], results from index i.
void SumEdgeColumns4(const std::uint32_t* const* rows, std::int32_t rowCount, __m128i wyFirst, __m128i wyLast,
                     const std::int32_t* xs, const std::uint32_t* wxs, std::int32_t i, const ColumnSums& out) {
  const __m128i wx = Load4(wxs);
  Sums4 acc;
  __m128i p = Gather4(rows[0], xs);
  const __m128i a0 = _mm_srli_epi32(p, 24);
  AddWeighted(p, EdgeAlphaWeights(a0, FloorWeights(wx, wyFirst)), acc);
  __m128i diff = _mm_setzero_si128();
  if (rowCount >= 2) {
    const __m128i mInner = FloorWeights(wx, _mm_set1_epi32(255));
    for (std::int32_t t = 1; t + 1 < rowCount; ++t) {
      p = Gather4(rows[t], xs);
      const __m128i a = _mm_srli_epi32(p, 24);
      diff = _mm_or_si128(diff, _mm_xor_si128(a, a0));
      AddWeighted(p, EdgeAlphaWeights(a, mInner), acc);
    }
    p = Gather4(rows[rowCount - 1], xs);
    const __m128i a = _mm_srli_epi32(p, 24);
    diff = _mm_or_si128(diff, _mm_xor_si128(a, a0));
    AddWeighted(p, EdgeAlphaWeights(a, FloorWeights(wx, wyLast)), acc);
  }
  Store(out, i, acc, a0, diff);
}

#endif  // __SSE2__

}  // namespace

void SumColumns(const std::uint32_t* const* rows, std::int32_t rowCount, std::uint32_t mFirst,
                std::uint32_t mLast, std::int32_t begin, std::int32_t end, const ColumnSums& out) {
  std::int32_t x = begin;
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi32(static_cast<int>(mFirst));
  const __m128i last = _mm_set1_epi32(static_cast<int>(mLast));
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
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi32(static_cast<int>(wyFirst));
  const __m128i last = _mm_set1_epi32(static_cast<int>(wyLast));
  if (!g_portableKernels) {
    for (; i + 4 <= count; i += 4) SumEdgeColumns4(rows, rowCount, first, last, xs + i, wxs + i, i, out);
  }
#endif
  for (; i < count; ++i) SumEdgeColumn(rows, rowCount, wyFirst, wyLast, xs[i], wxs[i], i, out);
}

}  // namespace lumo::resample
