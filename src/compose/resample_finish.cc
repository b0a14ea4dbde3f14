#include "compose/resample_finish.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumo::resample {
namespace {

// Coverage of one footprint row with vertical weight wy.
inline std::uint32_t RowCoverage(std::uint32_t wFirst, std::uint32_t wLast, std::uint32_t middles,
                                 std::uint32_t hasLast, std::uint32_t wy) {
  return FloorWeight(wFirst * wy) + (hasLast & FloorWeight(wLast * wy)) + middles * FloorWeight(255 * wy);
}

#if defined(__SSE2__)

inline __m128i Load4(const std::uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// w x c on lanes with w, c < 2^16: the low and high halves of the product.
inline __m128i Mul16(__m128i w, __m128i c) {
  return _mm_or_si128(_mm_mullo_epi16(w, c), _mm_slli_epi32(_mm_mulhi_epu16(w, c), 16));
}

// v x c mod 2^32 for c < 2^16 and v x c < 2^32... as (v >> 16) x c << 16 + (v & 0xFFFF) x c.
inline __m128i MulSmall(__m128i v, __m128i c) {
  return _mm_add_epi32(_mm_slli_epi32(_mm_mullo_epi16(_mm_srli_epi32(v, 16), c), 16),
                       Mul16(_mm_and_si128(v, _mm_set1_epi32(0xFFFF)), c));
}

inline __m128i FloorWeights(__m128i wx, __m128i wy) {
  const __m128i w = _mm_mullo_epi16(wx, wy);
  const __m128i floor = _mm_set1_epi32(255);
  const __m128i low = _mm_cmplt_epi32(w, floor);
  return _mm_or_si128(_mm_andnot_si128(low, w), _mm_and_si128(low, floor));
}

inline __m128i RowCoverage4(__m128i wFirst, __m128i wLast, __m128i middles, __m128i hasLast, std::uint32_t wy) {
  const __m128i y = _mm_set1_epi32(static_cast<int>(wy));
  return _mm_add_epi32(_mm_add_epi32(FloorWeights(wFirst, y), _mm_and_si128(hasLast, FloorWeights(wLast, y))),
                       Mul16(middles, _mm_set1_epi32(static_cast<int>(FloorWeight(255 * wy)))));
}

// n as a float, within 2^-24 relative (n < 2^32).
inline __m128 ToFloat(__m128i n) {
  return _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(n, 16)), _mm_set1_ps(65536.0f)),
                    _mm_cvtepi32_ps(_mm_and_si128(n, _mm_set1_epi32(0xFFFF))));
}

// floor(n / d) from an estimate q within one of it, for n < 2^32,
// 0 < d < 2^24 and n / d < 256: the remainder n - q x d lies in (-2^25, 2^25)
// and so is exact in 32 bits; it says which way q is off.
inline __m128i FixQuotient(__m128i q, __m128i n, __m128i d) {
  const __m128i rem = _mm_sub_epi32(n, MulSmall(d, q));
  q = _mm_add_epi32(q, _mm_srai_epi32(rem, 31));
  return _mm_sub_epi32(q, _mm_cmpgt_epi32(rem, _mm_sub_epi32(d, _mm_set1_epi32(1))));
}

// Colour quotient by a reciprocal: three roundings of 2^-24 each leave the
// estimate within 2^-14 of n / d.
inline __m128i Quotient4(__m128i n, __m128i d, __m128 reciprocal) {
  return FixQuotient(_mm_cvttps_epi32(_mm_mul_ps(ToFloat(n), reciprocal)), n, d);
}

#endif  // __SSE2__

}  // namespace

void FinishRow(const ColumnSums& first, const ColumnSums& last, const FootprintColumns& columns,
               const FootprintRows& rows, std::int32_t count, std::uint32_t* out) {
  std::int32_t k = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi32(1);
  const __m128i innerRows = _mm_set1_epi32(rows.count >= 2 ? rows.count - 2 : 0);
  for (; k + 4 <= count && !g_portableKernels; k += 4) {
    const __m128i hasLast = Load4(columns.hasLast + k);
    const __m128i a0 = Load4(first.alpha0 + k);
    const __m128i a = _mm_add_epi32(Load4(first.a + k), _mm_and_si128(hasLast, Load4(last.a + k)));
    const __m128i r = _mm_add_epi32(Load4(first.r + k), _mm_and_si128(hasLast, Load4(last.r + k)));
    const __m128i g = _mm_add_epi32(Load4(first.g + k), _mm_and_si128(hasLast, Load4(last.g + k)));
    const __m128i b = _mm_add_epi32(Load4(first.b + k), _mm_and_si128(hasLast, Load4(last.b + k)));
    const __m128i lastDiffers = _mm_or_si128(Load4(last.differs + k), _mm_xor_si128(Load4(last.alpha0 + k), a0));
    const __m128i differs = _mm_or_si128(Load4(first.differs + k), _mm_and_si128(hasLast, lastDiffers));
    const __m128i empty = _mm_cmpeq_epi32(a, zero);
    const __m128i safeA = _mm_or_si128(a, _mm_and_si128(empty, one));
    const __m128 reciprocal = _mm_div_ps(_mm_set1_ps(1.0f), _mm_cvtepi32_ps(safeA));

    __m128i alpha = a0;
    const __m128i mixed = _mm_andnot_si128(_mm_cmpeq_epi32(differs, zero), _mm_cmpeq_epi32(empty, zero));
    if (_mm_movemask_epi8(mixed) != 0) {
      const __m128i wF = Load4(columns.wFirst + k), wL = Load4(columns.wLast + k);
      const __m128i middles = Load4(columns.middles + k);
      __m128i coverage = RowCoverage4(wF, wL, middles, hasLast, rows.wFirst);
      if (rows.count >= 2) {
        coverage = _mm_add_epi32(coverage, RowCoverage4(wF, wL, middles, hasLast, rows.wLast));
        coverage = _mm_add_epi32(coverage, MulSmall(RowCoverage4(wF, wL, middles, hasLast, 255), innerRows));
      }
      coverage = _mm_or_si128(coverage, _mm_andnot_si128(mixed, one));
      const __m128i n = _mm_sub_epi32(_mm_slli_epi32(a, 8), a);
      const __m128i q = FixQuotient(_mm_cvttps_epi32(_mm_div_ps(ToFloat(n), _mm_cvtepi32_ps(coverage))), n, coverage);
      alpha = _mm_or_si128(_mm_and_si128(mixed, q), _mm_andnot_si128(mixed, a0));
    }
    __m128i p = _mm_slli_epi32(alpha, 24);
    p = _mm_or_si128(p, _mm_slli_epi32(Quotient4(r, safeA, reciprocal), 16));
    p = _mm_or_si128(p, _mm_slli_epi32(Quotient4(g, safeA, reciprocal), 8));
    p = _mm_or_si128(p, Quotient4(b, safeA, reciprocal));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_andnot_si128(empty, p));
  }
#endif
  for (; k < count; ++k) {
    const std::uint32_t hasLast = columns.hasLast[k], a0 = first.alpha0[k];
    const std::uint32_t a = first.a[k] + (hasLast & last.a[k]);
    if (a == 0) {
      out[k] = 0;
      continue;
    }
    const std::uint32_t r = first.r[k] + (hasLast & last.r[k]);
    const std::uint32_t g = first.g[k] + (hasLast & last.g[k]);
    const std::uint32_t b = first.b[k] + (hasLast & last.b[k]);
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
