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

// Lane masks; values compared are below 2^31.
inline V Equal(V a, V b) { return _mm_cmpeq_epi32(a, b); }
inline V Less(V a, V b) { return _mm_cmplt_epi32(a, b); }
inline bool Any(V mask) { return _mm_movemask_epi8(mask) != 0; }
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

// Lanes as floats (within 2^-24 relative), the float quotient, and its
// truncation back to lanes (the value must lie in 0 .. 2^31).
using F = __m128;
inline F ToFloat(V n) {
  return _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(n, 16)), _mm_set1_ps(65536.0f)),
                    _mm_cvtepi32_ps(_mm_and_si128(n, _mm_set1_epi32(0xFFFF))));
}
inline F Divide(F a, F b) { return _mm_div_ps(a, b); }
inline F Multiply(F a, F b) { return _mm_mul_ps(a, b); }
inline F SplatFloat(float f) { return _mm_set1_ps(f); }
inline V Truncate(F f) { return _mm_cvttps_epi32(f); }

#else  // NEON

using V = uint32x4_t;

inline V Load(const std::uint32_t* p) { return vld1q_u32(p); }
inline void Store(std::uint32_t* p, V v) { vst1q_u32(p, v); }
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

inline V Equal(V a, V b) { return vceqq_u32(a, b); }
inline V Less(V a, V b) { return vcltq_u32(a, b); }
inline bool Any(V mask) { return vmaxvq_u32(mask) != 0; }
inline V Negative(V v) { return vreinterpretq_u32_s32(vshrq_n_s32(vreinterpretq_s32_u32(v), 31)); }

// NEON multiplies whole 32-bit lanes: one operation serves all three.
inline V MulSmall(V a, V b) { return vmulq_u32(a, b); }
inline V Mul16(V a, V b) { return vmulq_u32(a, b); }
inline V Mul(V a, V b) { return vmulq_u32(a, b); }

using F = float32x4_t;
inline F ToFloat(V n) { return vcvtq_f32_u32(n); }
inline F Divide(F a, F b) { return vdivq_f32(a, b); }
inline F Multiply(F a, F b) { return vmulq_f32(a, b); }
inline F SplatFloat(float f) { return vdupq_n_f32(f); }
inline V Truncate(F f) { return vcvtq_u32_f32(f); }

#endif

}  // namespace lumo::resample::v4
#endif  // KEZ_RESAMPLE_VECTOR
