#include "compose/blend_rows.h"

#include <cstring>

#include "compose/blend_skeletons.h"
#include "compose/blend_tables.h"
#include "compose/blend_vector.h"
#include "compose/exact_divide.h"

namespace lumo {
namespace {

using u32 = std::uint32_t;
using u8 = std::uint8_t;

// Straight-alpha source over: S = srcA * opacity (or colour alpha * mask),
// a = S / 255, F = S + dA * 255 - a * ad; the channel is the
// alpha-weighted mean of s and d.
inline u32 SourceOver(u32 s, u32 d, u32 S, u32 a, u32 ad, const ExactDivider& divF) {
  return divF(S * s + (255 - a) * ad * d);
}

template <bool kGamma>
inline u32 MixChannel(u32 d, u32 s, u32 a) {
  if constexpr (kGamma) {
    return g_blendTables.gammaCompress[mix(g_blendTables.gammaExpand[d], g_blendTables.gammaExpand[s], a)];
  } else {
    return mix(d, s, a);
  }
}

template <bool kGamma>
void NormalKeepAlphaLoop(u8* d, const u8* s, std::int32_t count, u8 opacity) {
  for (std::int32_t i = 0; i < count; ++i, d += 4, s += 4) {
    if (s[3] == 0 || d[3] == 0) continue;
    if (s[3] == 255 && opacity == 255) {
      std::memcpy(d, s, 3);
      continue;
    }
    const u32 a = div255(u32{s[3]} * opacity);
    for (int c = 0; c < 3; ++c) d[c] = static_cast<u8>(MixChannel<kGamma>(d[c], s[c], a));
  }
}

template <bool kGamma>
void NormalLoop(u8* d, const u8* s, std::int32_t count, u8 opacity) {
  const u8* expand = g_blendTables.gammaExpand;
  const u8* compress = g_blendTables.gammaCompress;
  for (std::int32_t i = 0; i < count; ++i, d += 4, s += 4) {
    const u32 sA = s[3];
    if (sA == 0) continue;
    const u32 dA = d[3];
    if (dA == 0) {
      TakeSource(d, s, opacity);
      continue;
    }
    if (opacity == 255 && sA == 255) {
      std::memcpy(d, s, 4);
      continue;
    }
    const u32 S = sA * opacity;
    const u32 a = div255(S);
    if (dA == 255) {
      for (int c = 0; c < 3; ++c) d[c] = static_cast<u8>(MixChannel<kGamma>(d[c], s[c], a));
      continue;
    }
    const u32 ad = div255(dA * 255);
    const u32 F = S + dA * 255 - a * ad;  // at least dA, never 0
    const ExactDivider divF(F);
    for (int c = 0; c < 3; ++c) {
      if (d[c] == s[c]) continue;
      if constexpr (kGamma) {
        d[c] = compress[SourceOver(expand[s[c]], expand[d[c]], S, a, ad, divF)];
      } else {
        d[c] = static_cast<u8>(SourceOver(s[c], d[c], S, a, ad, divF));
      }
    }
    d[3] = static_cast<u8>(div255(F));
  }
}

}  // namespace

void CopyRow(const DrawParams&, std::uint32_t* dst, const std::uint32_t* src, std::int32_t count) {
  if (count <= 0) return;
  std::memmove(dst, src, static_cast<std::size_t>(count) * sizeof(std::uint32_t));
}

void AndRow(const DrawParams&, std::uint32_t* dst, const std::uint32_t* src, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) dst[i] &= src[i];
}

void OrRow(const DrawParams&, std::uint32_t* dst, const std::uint32_t* src, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) dst[i] |= src[i];
}

void NormalKeepAlphaRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
                        std::int32_t count) {
  if (params.gamma) {
    NormalKeepAlphaLoop<true>(Bytes(dst), Bytes(src), count, params.opacity);
    return;
  }
  std::int32_t i = 0;
#if KEZ_BLEND_SIMD
  // A clear destination stays as it is.
  const simd::Vec zero = simd::Splat32(0);
  for (; i + 4 <= count; i += 4) {
    const simd::Vec d = simd::Load(dst + i);
    const simd::Vec r = simd::MixSource4(d, simd::Load(src + i), params.opacity);
    simd::Store(dst + i, simd::Select(simd::Eq32(simd::And(d, simd::AlphaBytes()), zero), d, r));
  }
#endif
  NormalKeepAlphaLoop<false>(Bytes(dst + i), Bytes(src + i), count - i, params.opacity);
}

void NormalRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
               std::int32_t count) {
  if (params.gamma) {
    NormalLoop<true>(Bytes(dst), Bytes(src), count, params.opacity);
    return;
  }
  std::int32_t i = 0;
#if KEZ_BLEND_SIMD
  // Over four opaque pixels every case of the loop is mix(d, s, a).
  const auto four = [&](std::int32_t k) {
    const simd::Vec d = simd::Load(dst + k);
    if (simd::AllOpaque(d)) {
      simd::Store(dst + k, simd::MixSource4(d, simd::Load(src + k), params.opacity));
    } else {
      NormalLoop<false>(Bytes(dst + k), Bytes(src + k), 4, params.opacity);
    }
  };
  // An opaque layer at full opacity (the usual one) replaces every pixel
  // under it, whatever the destination holds.
  const bool full = params.opacity == 255;
  for (; i + 16 <= count; i += 16) {
    if (full && simd::AllOpaque16(src + i)) {
      std::memmove(dst + i, src + i, 16 * sizeof(std::uint32_t));
      continue;
    }
    for (std::int32_t k = i; k < i + 16; k += 4) four(k);
  }
  for (; i + 4 <= count; i += 4) four(i);
#endif
  NormalLoop<false>(Bytes(dst + i), Bytes(src + i), count - i, params.opacity);
}

void EraseAlphaRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
                   std::int32_t count) {
  auto* d = reinterpret_cast<u8*>(dst);
  const auto* s = reinterpret_cast<const u8*>(src);
  const u32 opacity = params.opacity;
  for (std::int32_t i = 0; i < count; ++i, d += 4, s += 4) {
    const u32 m = s[3];
    if (m == 0) continue;
    const u32 e = opacity == 255 ? m : div255(opacity * m);
    d[3] = static_cast<u8>(d[3] > e ? d[3] - e : 0);
  }
}

void EraseInverseAlphaRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
                          std::int32_t count) {
  auto* d = reinterpret_cast<u8*>(dst);
  const auto* s = reinterpret_cast<const u8*>(src);
  const u32 opacity = params.opacity;
  for (std::int32_t i = 0; i < count; ++i, d += 4, s += 4) {
    const u32 m = s[3];
    if (m == 255) continue;
    const u32 e = opacity == 255 ? 255 - m : div255(opacity * (255 - m));
    d[3] = static_cast<u8>(d[3] > e ? d[3] - e : 0);
  }
}

void EraseAlphaScaledRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
                         std::int32_t count) {
  auto* d = reinterpret_cast<u8*>(dst);
  const auto* s = reinterpret_cast<const u8*>(src);
  const u32 opacity = params.opacity;
  for (std::int32_t i = 0; i < count; ++i, d += 4, s += 4) {
    const u32 m = s[3];
    if (m == 0) continue;
    const u32 dA = d[3];
    const u32 e = opacity == 255 ? m : div255(opacity * m);
    if (dA == 255) {
      d[3] = static_cast<u8>(255 - e);
    } else {
      d[3] = static_cast<u8>(dA - div255(dA * e));
    }
  }
}

void NormalKeyedRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
                    std::int32_t count) {
  const u32 opacity = params.opacity;
  if (opacity == 0) return;
  std::int32_t i = 0;
#if KEZ_BLEND_SIMD
  const simd::Vec key = simd::Splat32(params.keyColour);
  for (; i + 4 <= count; i += 4) {
    const simd::Vec d = simd::Load(dst + i);
    const simd::Vec s = simd::Load(src + i);
    const simd::Vec r = simd::MixSource4(d, s, params.opacity);
    simd::Store(dst + i, simd::Select(simd::Eq32(s, key), d, r));
  }
#endif
  auto* d = Bytes(dst + i);
  const auto* s = Bytes(src + i);
  for (; i < count; ++i, d += 4, s += 4) {
    const u32 sA = s[3];
    if (sA == 0 || src[i] == params.keyColour) continue;
    if (sA == 255 && opacity == 255) {
      std::memcpy(d, s, 3);
      continue;
    }
    const u32 w = opacity == 255 ? sA : div255(opacity * sA);
    for (int c = 0; c < 3; ++c) d[c] = static_cast<u8>(mix(d[c], s[c], w));
  }
}

void FillMaskRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
                 std::int32_t count) {
  const u32 colour = params.fillColour;
  const u32 c[3] = {colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF};
  const u32 cA = colour >> 24;
  auto* d = reinterpret_cast<u8*>(dst);
  const auto* s = reinterpret_cast<const u8*>(src);
  for (std::int32_t i = 0; i < count; ++i, d += 4, s += 4) {
    const u32 m = s[3];
    if (m == 0) continue;
    const u32 dA = d[3];
    const u32 S = cA * m;
    const u32 a = div255(S);
    const u32 ad = div255(dA * 255);
    const u32 F = S + dA * 255 - ad * a;
    if (F == 0) continue;
    const ExactDivider divF(F);
    for (int k = 0; k < 3; ++k) {
      if (d[k] != c[k]) d[k] = static_cast<u8>(SourceOver(c[k], d[k], S, a, ad, divF));
    }
    d[3] = static_cast<u8>(div255(F));
  }
}

}  // namespace lumo
