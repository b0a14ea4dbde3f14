// The parts of the colour helpers, inline, so that the hue-family blend
// operations compute only the parts they take from each pixel. The
// floating-point steps and their order are those of ColourMetrics and
// HueChromaLumaToRgb exactly (single precision except where a step widens
// to double; no fused multiply-add).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "compose/colour.h"

namespace lumo::colour_parts {

// Byte / 255 in single precision, the same values as the division.
constexpr std::array<float, 256> MakeFractions() {
  std::array<float, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<float>(i) / 255.0f;
  return t;
}
inline constexpr std::array<float, 256> kFraction = MakeFractions();

inline bool IsGrey(std::uint8_t R, std::uint8_t G, std::uint8_t B) { return R == G && G == B; }

inline float Luma(std::uint8_t R, std::uint8_t G, std::uint8_t B) {
  if (R == 255 && G == 255 && B == 255) return 1.0f;
  if (R == 0 && G == 0 && B == 0) return 0.0f;
  return (kFraction[R] * 0.3f + kFraction[G] * 0.59f) + kFraction[B] * 0.11f;
}

// The fractions keep the order of the bytes, so max and min can be taken
// on the bytes.
inline float Chroma(std::uint8_t R, std::uint8_t G, std::uint8_t B) {
  const std::uint8_t mx = std::max(R, std::max(G, B));
  const std::uint8_t mn = std::min(R, std::min(G, B));
  return mx == mn ? 0.0f : kFraction[mx] - kFraction[mn];
}

inline float Hue(std::uint8_t R, std::uint8_t G, std::uint8_t B) {
  if (IsGrey(R, G, B)) return -1.0f;
  const float r = kFraction[R];
  const float g = kFraction[G];
  const float b = kFraction[B];
  const std::uint8_t mx = std::max(R, std::max(G, B));
  const std::uint8_t mn = std::min(R, std::min(G, B));
  const float c = kFraction[mx] - kFraction[mn];
  float hue;
  if (R == mx) {
    hue = (g - b) * 60.0f / c;
  } else if (G == mx) {
    hue = (b - r) * 60.0f / c + 120.0f;
  } else {
    hue = (r - g) * 60.0f / c + 240.0f;
  }
  if (hue < 0.0f) hue += 360.0f;
  return hue;
}

// The channel that receives the chroma, the one that receives X times the
// chroma (0 = R, 1 = G, 2 = B) and their luma weights, per sector of 60 degrees.
struct Sector {
  int maxChannel;
  int midChannel;
  float wmax;
  float wmid;
};
inline constexpr Sector kSectors[6] = {
    {0, 1, 0.3f, 0.59f},  {1, 0, 0.59f, 0.3f}, {1, 2, 0.59f, 0.11f},
    {2, 1, 0.11f, 0.59f}, {2, 0, 0.11f, 0.3f}, {0, 2, 0.3f, 0.11f},
};

#if defined(__SSE2__) || defined(_M_X64)
// Per sector, all-ones in the lane (R, G, B, unused) of the max channel
// and of the mid channel.
alignas(16) inline constexpr std::uint32_t kMaxLanes[6][4] = {
    {~0u, 0, 0, 0}, {0, ~0u, 0, 0}, {0, ~0u, 0, 0}, {0, 0, ~0u, 0}, {0, 0, ~0u, 0}, {~0u, 0, 0, 0},
};
alignas(16) inline constexpr std::uint32_t kMidLanes[6][4] = {
    {0, ~0u, 0, 0}, {~0u, 0, 0, 0}, {0, 0, ~0u, 0}, {0, ~0u, 0, 0}, {~0u, 0, 0, 0}, {0, 0, ~0u, 0},
};
#endif

// Truncation toward zero; negative (and NaN) values give 0.
inline std::uint64_t ToUnsigned(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 18446744073709551616.0f) return UINT64_MAX;
  return static_cast<std::uint64_t>(v);
}

// The chroma that brings the max channel to exactly 1 at luma Y, per sector.
inline float ClippedChroma(int sector, float X, float luma) {
  switch (sector) {
    case 0: return (1.0f - luma) / (0.7f - X * 0.59f);
    case 1: return (1.0f - luma) / ((1.0f - X * 0.3f) - 0.59f);
    case 2: return (1.0f - luma) / (0.41000003f - X * 0.11f);
    case 3: {
      // This sector's divisor and quotient are formed in double precision.
      const double divisor = (1.0 - static_cast<double>(X * 0.59f)) - static_cast<double>(0.11f);
      return static_cast<float>((1.0 - static_cast<double>(luma)) / divisor);
    }
    case 4: return (1.0f - luma) / ((1.0f - X * 0.3f) - 0.11f);
    default: return (1.0f - luma) / (0.7f - X * 0.11f);
  }
}

// Inlined into the per-pixel blend, which keeps only the low bytes.
#if defined(_MSC_VER) && !defined(__clang__)
__forceinline
#else
inline __attribute__((always_inline))
#endif
RgbValues ToRgb(float hue, float chroma, float luma, unsigned scale) {
  const float fscale = static_cast<float>(scale);
  if (chroma == 0.0f || hue == -1.0f) {
    const std::uint64_t v = ToUnsigned(fscale * luma);
    return {v, v, v};
  }
  const float h = hue / 60.0f;
  // Outside (-8, 8) the sector is not 0..5 anyway; this also keeps NaN and
  // huge hues away from the integer conversion.
  if (!(h > -8.0f && h < 8.0f)) return {0, 0, 0};
  const int i = static_cast<int>(h);
  if (i < 0 || i > 5) return {0, 0, 0};
  // i rounded down to an even number; both subtractions of 1 in double.
  const float f = h - static_cast<float>(i & ~1);
  const float fMinus1 = static_cast<float>(static_cast<double>(f) - 1.0);
  const float X = static_cast<float>(1.0 - static_cast<double>(std::fabs(fMinus1)));
  const Sector& sec = kSectors[i];

  float vmax;
  float vmid;
  float vthird;
  const float m = luma - ((chroma * sec.wmax) + ((X * chroma) * sec.wmid));
  if (m < 0.0f) {
    // Full chroma is brighter than the luma: shrink the chroma instead.
    const float k = m / ((X * sec.wmid) + sec.wmax) + chroma;
    vmax = k;
    vmid = X * k;
    vthird = 0.0f;
  } else {
    vmax = m + chroma;
    vmid = m + X * chroma;
    vthird = m;
    if (vmax > 1.0f) {
      const float k = ClippedChroma(i, X, luma);
      const float m2 = luma - ((k * sec.wmax) + ((X * k) * sec.wmid));
      vmax = m2 + k;
      vmid = m2 + X * k;
      vthird = m2;
    }
  }
#if defined(__SSE2__) || defined(_M_X64)
  // The three channels in one vector, placed by the sector's masks, so the
  // scaling and truncation take no branch per channel. Lanes that do not fit
  // an int32 (or are NaN) go the scalar way below.
  {
    const __m128 maxMask = _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(kMaxLanes[i])));
    const __m128 midMask = _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(kMidLanes[i])));
    const __m128 ch = _mm_or_ps(_mm_or_ps(_mm_and_ps(maxMask, _mm_set1_ps(vmax)),
                                          _mm_and_ps(midMask, _mm_set1_ps(vmid))),
                                _mm_andnot_ps(_mm_or_ps(maxMask, midMask), _mm_set1_ps(vthird)));
    const __m128 scaled = _mm_mul_ps(ch, _mm_set1_ps(fscale));
    if ((_mm_movemask_ps(_mm_cmplt_ps(scaled, _mm_set1_ps(2147483648.0f))) & 7) == 7) {
      const __m128i positive = _mm_castps_si128(_mm_cmpgt_ps(scaled, _mm_setzero_ps()));
      alignas(16) std::int32_t v[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(v), _mm_and_si128(_mm_cvttps_epi32(scaled), positive));
      return {static_cast<std::uint64_t>(v[0]), static_cast<std::uint64_t>(v[1]),
              static_cast<std::uint64_t>(v[2])};
    }
  }
#endif
  float ch[3] = {vthird, vthird, vthird};
  ch[sec.maxChannel] = vmax;
  ch[sec.midChannel] = vmid;
  return {ToUnsigned(ch[0] * fscale), ToUnsigned(ch[1] * fscale), ToUnsigned(ch[2] * fscale)};
}

}  // namespace lumo::colour_parts
