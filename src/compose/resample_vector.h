// Four 32-bit lanes for the resampler's loops: SSE2 on x86-64, NEON on
// ARM64, chosen at compile time; KEZ_RESAMPLE_VECTOR is 0 where neither is
// there and only the portable loops run. Internal to the resampler.
#pragma once

#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#define KEZ_RESAMPLE_VECTOR 1
#include <emmintrin.h>
#elif defined(__ARM_NEON) || defined(_M_ARM64)
#define KEZ_RESAMPLE_VECTOR 1
#include <arm_neon.h>
#else
#define KEZ_RESAMPLE_VECTOR 0
#endif

#if KEZ_RESAMPLE_VECTOR
namespace lumo::resample::v4 {

#if defined(__SSE2__) || defined(_M_X64)

using V = __m128i;

inline V Load(const std::uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(std::uint32_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
// a[0], a[1], b[0], b[1].
inline V LoadPairs(const std::uint32_t* a, const std::uint32_t* b) {
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
}
inline V Splat(std::uint32_t k) { return _mm_set1_epi32(static_cast<int>(k)); }
inline V Zero() { return _mm_setzero_si128(); }
inline V Make(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return _mm_setr_epi32(static_cast<int>(a), static_cast<int>(b), static_cast<int>(c), static_cast<int>(d));
}

inline V Add(V a, V b) { return _mm_add_epi32(a, b); }
inline V Sub(V a, V b) { return _mm_sub_epi32(a, b); }
inline V And(V a, V b) { return _mm_and_si128(a, b); }
inline V Or(V a, V b) { return _mm_or_si128(a, b); }
inline V Xor(V a, V b) { return _mm_xor_si128(a, b); }
// mask ? a : b for whole-lane masks.
inline V Select(V mask, V a, V b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); }
template <int N>
inline V ShiftRight(V v) {
  return _mm_srli_epi32(v, N);
}
template <int N>
inline V ShiftLeft(V v) {
  return _mm_slli_epi32(v, N);
}

// Rows r0..r3 of a 4 x 4 matrix become its columns.
inline void Transpose(V& r0, V& r1, V& r2, V& r3) {
  const V t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpacklo_epi32(r2, r3);
  const V t2 = _mm_unpackhi_epi32(r0, r1), t3 = _mm_unpackhi_epi32(r2, r3);
  r0 = _mm_unpacklo_epi64(t0, t1);
  r1 = _mm_unpackhi_epi64(t0, t1);
  r2 = _mm_unpacklo_epi64(t2, t3);
  r3 = _mm_unpackhi_epi64(t2, t3);
}

// Lanes 0 and 2 of a, then of b; and lanes 1 and 3.
inline V EvenLanes(V a, V b) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}
inline V OddLanes(V a, V b) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
}
// Lanes 1 to 3 of v, then next.
inline V ShiftIn(V v, std::uint32_t next) {
  return _mm_or_si128(_mm_srli_si128(v, 4), _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(next)), 12));
}

// Lane masks; values compared are below 2^31.
inline V Equal(V a, V b) { return _mm_cmpeq_epi32(a, b); }
inline V Less(V a, V b) { return _mm_cmplt_epi32(a, b); }
inline bool Any(V mask) { return _mm_movemask_epi8(mask) != 0; }
inline bool All(V mask) { return _mm_movemask_epi8(mask) == 0xFFFF; }
// All ones in the lanes whose value, read as signed, is negative.
inline V Negative(V v) { return _mm_srai_epi32(v, 31); }

// a x b for a, b < 2^16 with a product below 2^16.
inline V MulSmall(V a, V b) { return _mm_mullo_epi16(a, b); }
// a x b for a, b < 2^16: 16-bit multiplies give the low and high halves of
// the product (the upper half of each lane is 0).
inline V Mul16(V a, V b) { return _mm_or_si128(_mm_mullo_epi16(a, b), _mm_slli_epi32(_mm_mulhi_epu16(a, b), 16)); }
// a x b mod 2^32 for b < 2^16 and (a >> 16) x b < 2^16.
inline V Mul(V a, V b) {
  return _mm_add_epi32(_mm_slli_epi32(_mm_mullo_epi16(_mm_srli_epi32(a, 16), b), 16),
                       Mul16(_mm_and_si128(a, _mm_set1_epi32(0xFFFF)), b));
}

// Eight 16-bit lanes in the same register, for weights and channels kept
// in pairs (the low half of each 32-bit lane, then the high half).
inline V Add16(V a, V b) { return _mm_add_epi16(a, b); }
inline V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
inline V MulLow16(V a, V b) { return _mm_mullo_epi16(a, b); }
inline V MulHigh16(V a, V b) { return _mm_mulhi_epu16(a, b); }
inline V Max16(V a, V b) { return _mm_add_epi16(_mm_subs_epu16(a, b), b); }
inline V Equal16(V a, V b) { return _mm_cmpeq_epi16(a, b); }
// All ones in the 16-bit lanes where a <= b.
inline V AtMost16(V a, V b) { return _mm_cmpeq_epi16(_mm_subs_epu16(a, b), _mm_setzero_si128()); }
// All ones in the 16-bit lanes where a > b.
inline V Above16(V a, V b) {
  const V flip = _mm_set1_epi16(static_cast<short>(0x8000));
  return _mm_cmpgt_epi16(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip));
}
// Per 32-bit lane: low x low + high x high of its 16-bit halves, for halves
// below 2^15 (the multiply-add reads them as signed).
inline V MulAddPairs(V a, V b) { return _mm_madd_epi16(a, b); }
// The bytes (or 16-bit lanes) of the low halves of a and b alternating,
// a's first; of the high halves.
inline V ZipLow8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
inline V ZipHigh8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
inline V ZipLow16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
inline V ZipHigh16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
// Four floats.
using F = __m128;
// Exact for lanes below 2^24.
inline F ToFloat(V v) { return _mm_cvtepi32_ps(v); }
inline F AsFloat(V v) { return _mm_castsi128_ps(v); }
inline V AsBits(F f) { return _mm_castps_si128(f); }
// floor(n / d) for whole n < 2^24 and 0 < d < 2^16 with n / d < 256: the
// quotient of two exact floats comes correctly rounded, and a fraction of
// n / d lies at least 1 / d > 2^-16 below the next whole number, farther
// than the float spacing below 256 (2^-16), so it never rounds up to it.
inline V FloorQuotient(V n, F d) { return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(n), d)); }

// floor(n / d) per lane for n < 2^32, 0 < d < 2^24 and n / d < 256, by the
// reciprocal of d in double precision: n x (1 / d) is within 2^-43 of n / d,
// and n / d is either whole or at least 1 / d > 2^-24 below the next
// integer, so adding 2^-41 before truncating gives the floor exactly.
struct Reciprocal {
  __m128d lo, hi;
};
inline Reciprocal ReciprocalOf(V d) {
  const __m128d one = _mm_set1_pd(1.0);
  return {_mm_div_pd(one, _mm_cvtepi32_pd(d)), _mm_div_pd(one, _mm_cvtepi32_pd(_mm_shuffle_epi32(d, 0xEE)))};
}
inline V Quotient(V n, const Reciprocal& r) {
  // n - 2^31 converts as a signed lane; adding 2^31 back is exact.
  const __m128i biased = _mm_xor_si128(n, _mm_set1_epi32(static_cast<int>(0x80000000u)));
  const __m128d half = _mm_set1_pd(2147483648.0), nudge = _mm_set1_pd(0x1p-41);
  const __m128d lo = _mm_add_pd(_mm_cvtepi32_pd(biased), half);
  const __m128d hi = _mm_add_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(biased, 0xEE)), half);
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(lo, r.lo), nudge)),
                            _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(hi, r.hi), nudge)));
}

// The same floor for n < 2^31 with the nudge folded into the reciprocal:
// r = (1 + 2^-33) / d rounded, so n x r lies in [n / d, n / d + 2^-24] (two
// roundings of 2^-53 each cannot undo a factor of 1 + 2^-33, and
// n / d x 2^-32 < 256 x 2^-32), which is below floor(n / d) + 1 - 1 / d +
// 2^-24 < floor(n / d) + 1 because d < 2^24.
inline Reciprocal NudgedReciprocalOf(V d) {
  const __m128d one = _mm_set1_pd(1.0 + 0x1p-33);
  return {_mm_div_pd(one, _mm_cvtepi32_pd(d)), _mm_div_pd(one, _mm_cvtepi32_pd(_mm_shuffle_epi32(d, 0xEE)))};
}
inline V SmallQuotient(V n, const Reciprocal& r) {
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(n), r.lo)),
                            _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(n, 0xEE)), r.hi)));
}

#else  // NEON

using V = uint32x4_t;

inline V Load(const std::uint32_t* p) { return vld1q_u32(p); }
inline void Store(std::uint32_t* p, V v) { vst1q_u32(p, v); }
inline V LoadPairs(const std::uint32_t* a, const std::uint32_t* b) { return vcombine_u32(vld1_u32(a), vld1_u32(b)); }
inline V Splat(std::uint32_t k) { return vdupq_n_u32(k); }
inline V Zero() { return vdupq_n_u32(0); }
inline V Make(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  const std::uint32_t lanes[4] = {a, b, c, d};
  return vld1q_u32(lanes);
}

inline V Add(V a, V b) { return vaddq_u32(a, b); }
inline V Sub(V a, V b) { return vsubq_u32(a, b); }
inline V And(V a, V b) { return vandq_u32(a, b); }
inline V Or(V a, V b) { return vorrq_u32(a, b); }
inline V Xor(V a, V b) { return veorq_u32(a, b); }
inline V Select(V mask, V a, V b) { return vbslq_u32(mask, a, b); }
template <int N>
inline V ShiftRight(V v) {
  return vshrq_n_u32(v, N);
}
template <int N>
inline V ShiftLeft(V v) {
  return vshlq_n_u32(v, N);
}

inline void Transpose(V& r0, V& r1, V& r2, V& r3) {
  const uint32x4x2_t t0 = vtrnq_u32(r0, r1), t1 = vtrnq_u32(r2, r3);
  r0 = vcombine_u32(vget_low_u32(t0.val[0]), vget_low_u32(t1.val[0]));
  r1 = vcombine_u32(vget_low_u32(t0.val[1]), vget_low_u32(t1.val[1]));
  r2 = vcombine_u32(vget_high_u32(t0.val[0]), vget_high_u32(t1.val[0]));
  r3 = vcombine_u32(vget_high_u32(t0.val[1]), vget_high_u32(t1.val[1]));
}

inline V EvenLanes(V a, V b) { return vuzpq_u32(a, b).val[0]; }
inline V OddLanes(V a, V b) { return vuzpq_u32(a, b).val[1]; }
inline V ShiftIn(V v, std::uint32_t next) { return vextq_u32(v, vdupq_n_u32(next), 1); }

inline V Equal(V a, V b) { return vceqq_u32(a, b); }
inline V Less(V a, V b) { return vcltq_u32(a, b); }
inline bool Any(V mask) { return vmaxvq_u32(mask) != 0; }
inline bool All(V mask) { return vminvq_u32(mask) != 0; }
inline V Negative(V v) { return vreinterpretq_u32_s32(vshrq_n_s32(vreinterpretq_s32_u32(v), 31)); }

// NEON multiplies whole 32-bit lanes: one operation serves all three.
inline V MulSmall(V a, V b) { return vmulq_u32(a, b); }
inline V Mul16(V a, V b) { return vmulq_u32(a, b); }
inline V Mul(V a, V b) { return vmulq_u32(a, b); }

inline uint16x8_t Lanes16(V v) { return vreinterpretq_u16_u32(v); }
inline V Lanes32(uint16x8_t v) { return vreinterpretq_u32_u16(v); }
inline V Add16(V a, V b) { return Lanes32(vaddq_u16(Lanes16(a), Lanes16(b))); }
inline V Sub16(V a, V b) { return Lanes32(vsubq_u16(Lanes16(a), Lanes16(b))); }
inline V MulLow16(V a, V b) { return Lanes32(vmulq_u16(Lanes16(a), Lanes16(b))); }
inline V MulHigh16(V a, V b) {
  const uint16x8_t x = Lanes16(a), y = Lanes16(b);
  const uint32x4_t lo = vmull_u16(vget_low_u16(x), vget_low_u16(y)), hi = vmull_high_u16(x, y);
  return Lanes32(vuzp2q_u16(vreinterpretq_u16_u32(lo), vreinterpretq_u16_u32(hi)));
}
inline V Max16(V a, V b) { return Lanes32(vmaxq_u16(Lanes16(a), Lanes16(b))); }
inline V Equal16(V a, V b) { return Lanes32(vceqq_u16(Lanes16(a), Lanes16(b))); }
inline V AtMost16(V a, V b) { return Lanes32(vcleq_u16(Lanes16(a), Lanes16(b))); }
inline V Above16(V a, V b) { return Lanes32(vcgtq_u16(Lanes16(a), Lanes16(b))); }
inline V MulAddPairs(V a, V b) {
  const uint16x8_t x = Lanes16(a), y = Lanes16(b);
  return vpaddq_u32(vmull_u16(vget_low_u16(x), vget_low_u16(y)), vmull_high_u16(x, y));
}
inline V ZipLow8(V a, V b) {
  return vreinterpretq_u32_u8(vzip1q_u8(vreinterpretq_u8_u32(a), vreinterpretq_u8_u32(b)));
}
inline V ZipHigh8(V a, V b) {
  return vreinterpretq_u32_u8(vzip2q_u8(vreinterpretq_u8_u32(a), vreinterpretq_u8_u32(b)));
}
inline V ZipLow16(V a, V b) { return Lanes32(vzip1q_u16(Lanes16(a), Lanes16(b))); }
inline V ZipHigh16(V a, V b) { return Lanes32(vzip2q_u16(Lanes16(a), Lanes16(b))); }

using F = float32x4_t;
inline F ToFloat(V v) { return vcvtq_f32_u32(v); }
inline F AsFloat(V v) { return vreinterpretq_f32_u32(v); }
inline V AsBits(F f) { return vreinterpretq_u32_f32(f); }
// IEEE division as on x86-64, truncated: the same exact floor.
inline V FloorQuotient(V n, F d) { return vcvtq_u32_f32(vdivq_f32(vcvtq_f32_u32(n), d)); }

// floor(n / d) per lane for n < 2^32, 0 < d < 2^24 and n / d < 256: the
// float estimate n x (1 / d) is within 2^-14 of n / d, so its truncation is
// off by at most one; the remainder n - q x d, exact in 32 bits because it
// lies in (-2^25, 2^25), says which way.
struct Reciprocal {
  float32x4_t r;
  V d;
};
inline Reciprocal ReciprocalOf(V d) { return {vdivq_f32(vdupq_n_f32(1.0f), vcvtq_f32_u32(d)), d}; }
inline V Quotient(V n, const Reciprocal& r) {
  V q = vcvtq_u32_f32(vmulq_f32(vcvtq_f32_u32(n), r.r));
  const V rem = vmlsq_u32(n, q, r.d);
  q = vaddq_u32(q, Negative(rem));
  return vsubq_u32(q, Negative(vsubq_u32(vsubq_u32(r.d, vdupq_n_u32(1)), rem)));
}

// Below 2^31 the general form is already as cheap as it gets.
inline Reciprocal NudgedReciprocalOf(V d) { return ReciprocalOf(d); }
inline V SmallQuotient(V n, const Reciprocal& r) { return Quotient(n, r); }

#endif

// Exact floor division by one divisor per lane; kSmall when every dividend
// is below 2^31, which lets the cheaper form serve.
template <bool kSmall>
inline Reciprocal Inverse(V d) {
  return kSmall ? NudgedReciprocalOf(d) : ReciprocalOf(d);
}
template <bool kSmall>
inline V Divide(V n, const Reciprocal& r) {
  return kSmall ? SmallQuotient(n, r) : Quotient(n, r);
}

}  // namespace lumo::resample::v4
#endif  // KEZ_RESAMPLE_VECTOR
