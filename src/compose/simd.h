// The few 128-bit vector operations the blend rows use, over four pixels at
// a time: SSE2 on x86-64, NEON on ARM64, chosen at compile time. Where
// neither is there KEZ_BLEND_SIMD is 0 and the rows stay scalar.
//
// Lane views: "8" functions treat the vector as 16 bytes (4 pixels, bytes
// B, G, R, A), "16" functions as 8 unsigned 16-bit lanes (2 pixels widened),
// "32" functions as 4 32-bit lanes (one per pixel).
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#define KEZ_BLEND_SIMD 1
#include <emmintrin.h>
#elif defined(__ARM_NEON) || defined(_M_ARM64)
#define KEZ_BLEND_SIMD 1
#include <arm_neon.h>
#else
#define KEZ_BLEND_SIMD 0
#endif

#if KEZ_BLEND_SIMD
namespace lumo::simd {

#if defined(__SSE2__) || defined(_M_X64)

using Vec = __m128i;

inline Vec Load(const std::uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(std::uint32_t* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline Vec Splat16(std::uint16_t k) { return _mm_set1_epi16(static_cast<short>(k)); }
inline Vec Splat32(std::uint32_t k) { return _mm_set1_epi32(static_cast<int>(k)); }

inline Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
inline Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
// mask ? a : b, for masks of whole lanes.
inline Vec Select(Vec mask, Vec a, Vec b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); }
// v with the bits of mask cleared.
inline Vec AndNot(Vec v, Vec mask) { return _mm_andnot_si128(mask, v); }

inline Vec Add8(Vec a, Vec b) { return _mm_add_epi8(a, b); }
inline Vec Sub8(Vec a, Vec b) { return _mm_sub_epi8(a, b); }

inline Vec AddSat8(Vec a, Vec b) { return _mm_adds_epu8(a, b); }
inline Vec SubSat8(Vec a, Vec b) { return _mm_subs_epu8(a, b); }
inline Vec Min8(Vec a, Vec b) { return _mm_min_epu8(a, b); }
inline Vec Max8(Vec a, Vec b) { return _mm_max_epu8(a, b); }
inline Vec Eq8(Vec a, Vec b) { return _mm_cmpeq_epi8(a, b); }

inline Vec Widen16Lo(Vec v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
inline Vec Widen16Hi(Vec v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }
// Narrows two vectors of 16-bit lanes (each 0..255) back to bytes.
inline Vec Narrow16(Vec lo, Vec hi) { return _mm_packus_epi16(lo, hi); }

inline Vec Add16(Vec a, Vec b) { return _mm_add_epi16(a, b); }
inline Vec Sub16(Vec a, Vec b) { return _mm_sub_epi16(a, b); }
inline Vec SubSat16(Vec a, Vec b) { return _mm_subs_epu16(a, b); }
inline Vec Mul16(Vec a, Vec b) { return _mm_mullo_epi16(a, b); }
// Lanes below 32768 only.
inline Vec Min16(Vec a, Vec b) { return _mm_min_epi16(a, b); }
inline Vec Max16(Vec a, Vec b) { return _mm_max_epi16(a, b); }
inline Vec Less16(Vec a, Vec b) { return _mm_cmplt_epi16(a, b); }
template <int n>
inline Vec ShiftRight16(Vec v) { return _mm_srli_epi16(v, n); }
template <int n>
inline Vec ShiftLeft16(Vec v) { return _mm_slli_epi16(v, n); }
inline Vec Eq16(Vec a, Vec b) { return _mm_cmpeq_epi16(a, b); }
// The 32-bit lanes of a and then of b (each below 32768) as 16-bit lanes.
inline Vec Pack32To16(Vec a, Vec b) { return _mm_packs_epi32(a, b); }
// Lanes 0..3 (4..7) of v, each twice: (v0, v0, v1, v1, ...).
inline Vec PairLo16(Vec v) { return _mm_unpacklo_epi16(v, v); }
inline Vec PairHi16(Vec v) { return _mm_unpackhi_epi16(v, v); }
// Whether every byte of a compare mask is set.
inline bool All8(Vec mask) { return _mm_movemask_epi8(mask) == 0xFFFF; }
// div255 of every lane (x <= 65025): ((w + (w >> 8)) >> 8) with w = x + 1
// is floor(w * 257 / 65536), the high half of w * 257.
inline Vec Div255x16(Vec x) { return _mm_mulhi_epu16(_mm_add_epi16(x, _mm_set1_epi16(1)), _mm_set1_epi16(257)); }
inline bool Any8(Vec mask) { return _mm_movemask_epi8(mask) != 0; }
// Of two byte masks together: all ones, and any one.
struct MaskSummary {
  bool all;
  bool any;
};
inline MaskSummary Summarise8(Vec a, Vec b) {
  const int ma = _mm_movemask_epi8(a), mb = _mm_movemask_epi8(b);
  return {(ma & mb) == 0xFFFF, (ma | mb) != 0};
}
// div255(x a) for bytes x and a <= 254 in one high multiply by the weight
// 257 a + 1 (checked for every such pair; a = 255 would need 65 536).
inline Vec ScaleWeight16(Vec a) { return _mm_add_epi16(_mm_mullo_epi16(a, _mm_set1_epi16(257)), _mm_set1_epi16(1)); }
inline Vec Scale16(Vec x, Vec weight) { return _mm_mulhi_epu16(x, weight); }

inline Vec Eq32(Vec a, Vec b) { return _mm_cmpeq_epi32(a, b); }
inline Vec ShiftRight32(Vec v, int n) { return _mm_srl_epi32(v, _mm_cvtsi32_si128(n)); }
inline Vec ShiftLeft32(Vec v, int n) { return _mm_sll_epi32(v, _mm_cvtsi32_si128(n)); }
// Each pixel's 32-bit lane copied into the 16-bit lanes of its channels.
inline Vec SpreadLo(Vec perPixel16) { return _mm_unpacklo_epi32(perPixel16, perPixel16); }
inline Vec SpreadHi(Vec perPixel16) { return _mm_unpackhi_epi32(perPixel16, perPixel16); }
// Whether every (any) 32-bit lane of a compare mask is set.
inline bool All32(Vec mask) { return _mm_movemask_ps(_mm_castsi128_ps(mask)) == 0xF; }
inline bool Any32(Vec mask) { return _mm_movemask_ps(_mm_castsi128_ps(mask)) != 0; }

inline Vec Add32(Vec a, Vec b) { return _mm_add_epi32(a, b); }
inline Vec Sub32(Vec a, Vec b) { return _mm_sub_epi32(a, b); }
// Lanes below 32768 only: the high halves are zero, so the pairwise sum of
// the signed 16-bit products is the one product.
inline Vec MulSmall32(Vec a, Vec b) { return _mm_madd_epi16(a, b); }

// Four single-precision lanes, for integers below 2^24 (exact in a float).
using FVec = __m128;
inline FVec ToFloat(Vec v) { return _mm_cvtepi32_ps(v); }
inline FVec AddF(FVec a, FVec b) { return _mm_add_ps(a, b); }
inline FVec MulF(FVec a, FVec b) { return _mm_mul_ps(a, b); }
inline FVec DivF(FVec a, FVec b) { return _mm_div_ps(a, b); }
// Toward zero, for lanes from 0 to below 2^31 (callers clamp or mask
// first; below 0 the two processors differ).
inline Vec Truncate(FVec v) { return _mm_cvttps_epi32(v); }
inline FVec SplatF(float k) { return _mm_set1_ps(k); }
inline FVec LoadF(const float* p) { return _mm_loadu_ps(p); }
inline FVec SubF(FVec a, FVec b) { return _mm_sub_ps(a, b); }
inline FVec MaxF(FVec a, FVec b) { return _mm_max_ps(a, b); }
inline FVec MinF(FVec a, FVec b) { return _mm_min_ps(a, b); }
// Compare masks as integer vectors (all ones where true).
inline Vec LessF(FVec a, FVec b) { return _mm_castps_si128(_mm_cmplt_ps(a, b)); }
inline Vec EqF(FVec a, FVec b) { return _mm_castps_si128(_mm_cmpeq_ps(a, b)); }
inline FVec SelectF(Vec mask, FVec a, FVec b) {
  return _mm_castsi128_ps(Select(mask, _mm_castps_si128(a), _mm_castps_si128(b)));
}
inline FVec AbsF(FVec v) { return _mm_castsi128_ps(And(_mm_castps_si128(v), Splat32(0x7FFFFFFFu))); }
// Two double-precision lanes, for the steps formed in double: the lanes
// 0, 1 (Lo) and 2, 3 (Hi) of a float vector widened, and back.
using DVec = __m128d;
inline DVec WidenLoD(FVec v) { return _mm_cvtps_pd(v); }
inline DVec WidenHiD(FVec v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }
inline FVec NarrowD(DVec lo, DVec hi) { return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)); }
inline DVec SplatD(double k) { return _mm_set1_pd(k); }
inline DVec SubD(DVec a, DVec b) { return _mm_sub_pd(a, b); }
inline DVec DivD(DVec a, DVec b) { return _mm_div_pd(a, b); }

#else  // NEON

using Vec = uint8x16_t;

inline uint16x8_t U16(Vec v) { return vreinterpretq_u16_u8(v); }
inline uint32x4_t U32(Vec v) { return vreinterpretq_u32_u8(v); }
inline Vec V(uint16x8_t v) { return vreinterpretq_u8_u16(v); }
inline Vec V(uint32x4_t v) { return vreinterpretq_u8_u32(v); }

inline Vec Load(const std::uint32_t* p) { return V(vld1q_u32(p)); }
inline void Store(std::uint32_t* p, Vec v) { vst1q_u32(p, U32(v)); }
inline Vec Splat16(std::uint16_t k) { return V(vdupq_n_u16(k)); }
inline Vec Splat32(std::uint32_t k) { return V(vdupq_n_u32(k)); }

inline Vec And(Vec a, Vec b) { return vandq_u8(a, b); }
inline Vec Or(Vec a, Vec b) { return vorrq_u8(a, b); }
inline Vec Select(Vec mask, Vec a, Vec b) { return vbslq_u8(mask, a, b); }
inline Vec AndNot(Vec v, Vec mask) { return vbicq_u8(v, mask); }

inline Vec Add8(Vec a, Vec b) { return vaddq_u8(a, b); }
inline Vec Sub8(Vec a, Vec b) { return vsubq_u8(a, b); }

inline Vec AddSat8(Vec a, Vec b) { return vqaddq_u8(a, b); }
inline Vec SubSat8(Vec a, Vec b) { return vqsubq_u8(a, b); }
inline Vec Min8(Vec a, Vec b) { return vminq_u8(a, b); }
inline Vec Max8(Vec a, Vec b) { return vmaxq_u8(a, b); }
inline Vec Eq8(Vec a, Vec b) { return vceqq_u8(a, b); }

inline Vec Widen16Lo(Vec v) { return V(vmovl_u8(vget_low_u8(v))); }
inline Vec Widen16Hi(Vec v) { return V(vmovl_u8(vget_high_u8(v))); }
inline Vec Narrow16(Vec lo, Vec hi) { return vcombine_u8(vqmovn_u16(U16(lo)), vqmovn_u16(U16(hi))); }

inline Vec Add16(Vec a, Vec b) { return V(vaddq_u16(U16(a), U16(b))); }
inline Vec Sub16(Vec a, Vec b) { return V(vsubq_u16(U16(a), U16(b))); }
inline Vec SubSat16(Vec a, Vec b) { return V(vqsubq_u16(U16(a), U16(b))); }
inline Vec Mul16(Vec a, Vec b) { return V(vmulq_u16(U16(a), U16(b))); }
inline Vec Min16(Vec a, Vec b) { return V(vminq_u16(U16(a), U16(b))); }
inline Vec Max16(Vec a, Vec b) { return V(vmaxq_u16(U16(a), U16(b))); }
inline Vec Less16(Vec a, Vec b) { return V(vcltq_u16(U16(a), U16(b))); }
template <int n>
inline Vec ShiftRight16(Vec v) { return V(vshrq_n_u16(U16(v), n)); }
template <int n>
inline Vec ShiftLeft16(Vec v) { return V(vshlq_n_u16(U16(v), n)); }
inline Vec Eq16(Vec a, Vec b) { return V(vceqq_u16(U16(a), U16(b))); }
inline Vec Pack32To16(Vec a, Vec b) { return V(vuzp1q_u16(U16(a), U16(b))); }
inline Vec PairLo16(Vec v) { return V(vzip1q_u16(U16(v), U16(v))); }
inline Vec PairHi16(Vec v) { return V(vzip2q_u16(U16(v), U16(v))); }
inline bool All8(Vec mask) { return vminvq_u8(mask) != 0; }
inline Vec Div255x16(Vec x) {
  const uint16x8_t w = vaddq_u16(U16(x), vdupq_n_u16(1));
  return V(vshrq_n_u16(vsraq_n_u16(w, w, 8), 8));
}
inline bool Any8(Vec mask) { return vmaxvq_u8(mask) != 0; }
struct MaskSummary {
  bool all;
  bool any;
};
inline MaskSummary Summarise8(Vec a, Vec b) { return {All8(vandq_u8(a, b)), Any8(vorrq_u8(a, b))}; }
// div255(x a) for bytes x and a <= 254: the weight is a itself here, and the
// product goes through the shift form of the division.
inline Vec ScaleWeight16(Vec a) { return a; }
inline Vec Scale16(Vec x, Vec weight) { return Div255x16(Mul16(x, weight)); }

inline Vec Eq32(Vec a, Vec b) { return V(vceqq_u32(U32(a), U32(b))); }
inline Vec ShiftRight32(Vec v, int n) { return V(vshlq_u32(U32(v), vdupq_n_s32(-n))); }
inline Vec ShiftLeft32(Vec v, int n) { return V(vshlq_u32(U32(v), vdupq_n_s32(n))); }
inline Vec SpreadLo(Vec perPixel16) { return V(vzip1q_u32(U32(perPixel16), U32(perPixel16))); }
inline Vec SpreadHi(Vec perPixel16) { return V(vzip2q_u32(U32(perPixel16), U32(perPixel16))); }
inline bool All32(Vec mask) { return vminvq_u32(U32(mask)) != 0; }
inline bool Any32(Vec mask) { return vmaxvq_u32(U32(mask)) != 0; }

inline Vec Add32(Vec a, Vec b) { return V(vaddq_u32(U32(a), U32(b))); }
inline Vec Sub32(Vec a, Vec b) { return V(vsubq_u32(U32(a), U32(b))); }
inline Vec MulSmall32(Vec a, Vec b) { return V(vmulq_u32(U32(a), U32(b))); }

using FVec = float32x4_t;
inline FVec ToFloat(Vec v) { return vcvtq_f32_u32(U32(v)); }
inline FVec AddF(FVec a, FVec b) { return vaddq_f32(a, b); }
inline FVec MulF(FVec a, FVec b) { return vmulq_f32(a, b); }
inline FVec DivF(FVec a, FVec b) { return vdivq_f32(a, b); }
inline Vec Truncate(FVec v) { return V(vcvtq_u32_f32(v)); }
inline FVec SplatF(float k) { return vdupq_n_f32(k); }
inline FVec LoadF(const float* p) { return vld1q_f32(p); }
inline FVec SubF(FVec a, FVec b) { return vsubq_f32(a, b); }
inline FVec MaxF(FVec a, FVec b) { return vmaxq_f32(a, b); }
inline FVec MinF(FVec a, FVec b) { return vminq_f32(a, b); }
inline Vec LessF(FVec a, FVec b) { return V(vcltq_f32(a, b)); }
inline Vec EqF(FVec a, FVec b) { return V(vceqq_f32(a, b)); }
inline FVec SelectF(Vec mask, FVec a, FVec b) { return vbslq_f32(U32(mask), a, b); }
inline FVec AbsF(FVec v) { return vabsq_f32(v); }
using DVec = float64x2_t;
inline DVec WidenLoD(FVec v) { return vcvt_f64_f32(vget_low_f32(v)); }
inline DVec WidenHiD(FVec v) { return vcvt_high_f64_f32(v); }
inline FVec NarrowD(DVec lo, DVec hi) { return vcvt_high_f32_f64(vcvt_f32_f64(lo), hi); }
inline DVec SplatD(double k) { return vdupq_n_f64(k); }
inline DVec SubD(DVec a, DVec b) { return vsubq_f64(a, b); }
inline DVec DivD(DVec a, DVec b) { return vdivq_f64(a, b); }

#endif

}  // namespace lumo::simd
#endif
