// The per-pixel forms of a colour operation (P for an opaque destination, Q
// for a partially transparent one) and the two row skeletons that apply
// them, written once and instantiated per operation.
#pragma once

#include <cstdint>
#include <cstring>

#include "compose/blend.h"
#include "compose/blend_hue.h"
#include "compose/blend_ops.h"
#include "compose/blend_tables.h"
#include "compose/blend_vector.h"
#include "compose/exact_divide.h"

// The per-pixel forms are inlined into the row loops that receive them.
#if defined(_MSC_VER) && !defined(__clang__)
#define KEZ_ALWAYS_INLINE __forceinline
#define KEZ_NOINLINE __declspec(noinline)
#else
#define KEZ_ALWAYS_INLINE inline __attribute__((always_inline))
#define KEZ_NOINLINE __attribute__((noinline))
#endif

namespace lumo {

// P: a = srcA * opacity / 255; each channel becomes mix(d, X(s, d), a). The
// destination alpha is not written.
template <class Op>
KEZ_ALWAYS_INLINE void OpaqueBlend(std::uint8_t* d, const std::uint8_t* s, std::uint8_t opacity) {
  if constexpr (Op::kOwnRounding) {
    Op::Opaque(d, s, opacity);
  } else {
    const std::uint32_t a = div255(std::uint32_t{s[3]} * opacity);
    if (a == 0) return;
    if constexpr (Op::kWhiteSourceKeeps) {
      if (s[0] == 255 && s[1] == 255 && s[2] == 255) return;
    }
    std::uint32_t x[3];
    if constexpr (Op::kPerPixel) {
      if (Op::kGreyKeeps && !Op::HasHue(d)) return;
      Op::Pixel(s, d, x);
    } else {
      for (int c = 0; c < 3; ++c) x[c] = Op::Channel(s[c], d[c], a);
    }
    for (int c = 0; c < 3; ++c) {
      d[c] = static_cast<std::uint8_t>(!Op::kMixes || a == 255 ? x[c] : mix(d[c], x[c], a));
    }
  }
}

// Q: X mixed in by a, then composited over the straight-alpha source-over
// colour N by the weight M the destination alpha carries.
template <class Op>
KEZ_ALWAYS_INLINE void PartialBlend(std::uint8_t* d, const std::uint8_t* s, std::uint8_t opacity) {
  if constexpr (Op::kOwnRounding) {
    Op::Partial(d, s, opacity);
  } else {
    const std::uint32_t dA = d[3];
    const std::uint32_t S = std::uint32_t{s[3]} * opacity;
    const std::uint32_t a = div255(S);
    const std::uint32_t ad = dA;  // div255(dA * 255) is dA itself
    const std::uint32_t F = S + dA * 255 - ad * a;
    if (F == 0) return;
    std::uint32_t x[3];
    if constexpr (Op::kPerPixel) {
      Op::Pixel(s, d, x);
    } else {
      for (int c = 0; c < 3; ++c) x[c] = Op::Channel(s[c], d[c], a);
    }
    if (Op::kMixes && a <= 254) {
      for (int c = 0; c < 3; ++c) x[c] = mix(d[c], x[c], a);
    }
    const std::uint32_t M = div255(dA * ((F + 510) >> 8));
    std::uint8_t out[4];
    if (M <= 254) {
      const ExactDivider divF(F);
      for (int c = 0; c < 3; ++c) {
        const std::uint32_t N = divF(d[c] * (255 - a) * ad + s[c] * S);
        out[c] = static_cast<std::uint8_t>(div255(N * (255 - M) + x[c] * M));
      }
    } else {
      for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>(x[c]);
    }
    out[3] = static_cast<std::uint8_t>(div255(F));
    std::memcpy(d, out, 4);
  }
}

// Runs a per-pixel blend on gamma-expanded colour channels and compresses
// the destination afterwards; alpha passes through untouched.
template <PixelBlend Blend>
inline void GammaBlend(std::uint8_t* d, const std::uint8_t* s, std::uint8_t opacity) {
  const std::uint8_t* expand = g_blendTables.gammaExpand;
  const std::uint8_t* compress = g_blendTables.gammaCompress;
  const std::uint8_t t[4] = {expand[s[0]], expand[s[1]], expand[s[2]], s[3]};
  for (int c = 0; c < 3; ++c) d[c] = expand[d[c]];
  Blend(d, t, opacity);
  for (int c = 0; c < 3; ++c) d[c] = compress[d[c]];
}

// What PartialBlend4 expects in x for one pixel, for operations without a
// vector X: P's result over an opaque destination, X mixed in by a over a
// partially transparent one (Q's x); anything else is left as it is.
template <class Op>
KEZ_ALWAYS_INLINE void TargetPixel(std::uint8_t* t, const std::uint8_t* s, std::uint8_t opacity) {
  const std::uint32_t dA = t[3];
  if (s[3] == 0 || dA == 0) return;
  if (dA == 255) {
    OpaqueBlend<Op>(t, s, opacity);
    return;
  }
  const std::uint32_t a = div255(std::uint32_t{s[3]} * opacity);
  std::uint32_t x[3];
  if constexpr (Op::kPerPixel) {
    Op::Pixel(s, t, x);
  } else {
    for (int c = 0; c < 3; ++c) x[c] = Op::Channel(s[c], t[c], a);
  }
  for (int c = 0; c < 3; ++c) t[c] = static_cast<std::uint8_t>(Op::kMixes ? mix(t[c], x[c], a) : x[c]);
}

template <PixelBlend P, bool kGamma>
void LockedPixels(std::uint8_t* d, const std::uint8_t* s, std::int32_t count, std::uint8_t opacity) {
  for (std::int32_t i = 0; i < count; ++i, d += 4, s += 4) {
    if (s[3] == 0) continue;
    if constexpr (kGamma) {
      GammaBlend<P>(d, s, opacity);
    } else {
      P(d, s, opacity);
    }
  }
}

// A transparent destination takes the source, its alpha scaled by opacity.
inline void TakeSource(std::uint8_t* d, const std::uint8_t* s, std::uint8_t opacity) {
  std::memcpy(d, s, 4);
  if (opacity != 255) d[3] = static_cast<std::uint8_t>(div255(std::uint32_t{s[3]} * opacity));
}

template <PixelBlend P, PixelBlend Q, bool kGamma>
void CompositedPixels(std::uint8_t* d, const std::uint8_t* s, std::int32_t count,
                      std::uint8_t opacity) {
  for (std::int32_t i = 0; i < count; ++i, d += 4, s += 4) {
    if (s[3] == 0) continue;
    const std::uint8_t dA = d[3];
    if (dA == 0) {
      TakeSource(d, s, opacity);
    } else if (dA == 255) {
      if constexpr (kGamma) {
        GammaBlend<P>(d, s, opacity);
      } else {
        P(d, s, opacity);
      }
    } else {
      if constexpr (kGamma) {
        GammaBlend<Q>(d, s, opacity);
      } else {
        Q(d, s, opacity);
      }
    }
  }
}

inline std::uint8_t* Bytes(std::uint32_t* p) { return reinterpret_cast<std::uint8_t*>(p); }
inline const std::uint8_t* Bytes(const std::uint32_t* p) {
  return reinterpret_cast<const std::uint8_t*>(p);
}

#if KEZ_BLEND_SIMD
// Sixteen pixels of an opaque source at opacity 255 (the usual layer) over
// opaque destination pixels.
template <class Op>
KEZ_ALWAYS_INLINE void FullSixteen(std::uint32_t* dst, const std::uint32_t* src) {
  for (int k = 0; k < 16; k += 4) {
    simd::Store(dst + k, simd::OpaqueBlendFull4<Op>(simd::Load(dst + k), simd::Load(src + k)));
  }
}

// P on sixteen pixels; called with a literal 255 where the opacity is
// known to be that, so the scaling of the alpha drops out.
template <class Op>
KEZ_ALWAYS_INLINE void OpaqueSixteen(std::uint32_t* dst, const std::uint32_t* src, std::uint8_t opacity) {
  for (int k = 0; k < 16; k += 4) {
    simd::Store(dst + k, simd::OpaqueBlend4<Op>(simd::Load(dst + k), simd::Load(src + k), opacity));
  }
}

// P on sixteen pixels of an operation with a byte delta. An opaque layer at
// opacity 255 (the usual one) needs X alone; called with a literal 255
// where the opacity is known to be that.
template <class Op>
KEZ_ALWAYS_INLINE void DeltaSixteen(std::uint32_t* dst, const std::uint32_t* src, std::uint8_t opacity) {
  const simd::Vec s[4] = {simd::Load(src), simd::Load(src + 4), simd::Load(src + 8), simd::Load(src + 12)};
  const simd::Alphas16 alphas = simd::SourceAlphas16(s, opacity);
  // Below opacity 255 no scaled alpha is full.
  const simd::MaskSummary full = opacity == 255 ? simd::FullnessOf(alphas) : simd::MaskSummary{false, false};
  if (full.all) {
    for (int k = 0; k < 4; ++k) simd::Store(dst + 4 * k, simd::OpaqueBlendFull4<Op>(simd::Load(dst + 4 * k), s[k]));
    return;
  }
  if constexpr (Op::kDelta > 0) {
    // Without a full weight among them the scaled delta is one multiply.
    if (!full.any) {
      const simd::Alphas16 weights = simd::ScaleWeights16(alphas);
      for (int k = 0; k < 4; ++k) {
        const simd::Vec d = simd::Load(dst + 4 * k);
        simd::Store(dst + 4 * k, simd::MixDeltaUp4(d, Op::Delta8(s[k], d), simd::PairAlpha16(weights, k)));
      }
      return;
    }
  }
  for (int k = 0; k < 4; ++k) {
    const simd::Vec d = simd::Load(dst + 4 * k);
    simd::Store(dst + 4 * k, simd::MixDelta4<Op::kDelta>(d, Op::Delta8(s[k], d), simd::PairAlpha16(alphas, k)));
  }
}

// P on four pixels of an operation with a vector form.
template <class Op>
KEZ_ALWAYS_INLINE simd::Vec Opaque4(simd::Vec d, simd::Vec s, std::uint8_t opacity) {
  if constexpr (Op::kPerPixel) {
    return simd::HueOpaque4<Op>(d, s, opacity);
  } else {
    return simd::OpaqueBlend4<Op>(d, s, opacity);
  }
}

// Four pixels of a composited row that are not all opaque (or, without a
// vector X, any four): with a partially transparent destination among them
// they go through the vector Q, with x from the vector P or pixel by pixel.
// Kept out of line so the opaque loop keeps its registers.
template <class Op>
KEZ_NOINLINE void MixedFour(std::uint32_t* dst, const std::uint32_t* src, std::uint8_t opacity) {
  const simd::Vec d = simd::Load(dst);
  const simd::Vec s = simd::Load(src);
  const simd::Vec opaqueAlpha = simd::AlphaBytes();
  const simd::Vec dAlpha = simd::And(d, opaqueAlpha);
  const simd::Vec whole = simd::Or(simd::Eq32(dAlpha, opaqueAlpha), simd::Eq32(dAlpha, simd::Splat32(0)));
  if (simd::All32(whole)) {
    if (simd::All32(simd::Eq32(dAlpha, simd::Splat32(0)))) {
      simd::Store(dst, simd::TakeSource4(d, s, opacity));
      return;
    }
    if constexpr (Op::kVector || Op::kPerPixel) {
      if (simd::All32(simd::Eq32(dAlpha, opaqueAlpha))) {
        simd::Store(dst, Opaque4<Op>(d, s, opacity));
        return;
      }
    }
    CompositedPixels<OpaqueBlend<Op>, PartialBlend<Op>, false>(Bytes(dst), Bytes(src), 4, opacity);
    return;
  }
  simd::Vec x;
  if constexpr (Op::kVector) {
    x = simd::OpaqueBlend4<Op>(d, s, opacity);
  } else if constexpr (Op::kPerPixel) {
    x = simd::HueTarget4<Op>(d, s, opacity);
  } else {
    std::uint32_t t[4];
    std::memcpy(t, dst, sizeof t);
    for (int k = 0; k < 4; ++k) TargetPixel<Op>(Bytes(t + k), Bytes(src + k), opacity);
    x = simd::Load(t);
  }
  simd::Store(dst, simd::PartialBlend4(d, s, x, opacity));
}
#endif

// Modes 5 to 27: P on every pixel under a visible source; the destination
// alpha is neither read nor written. Without gamma, operations with a
// vector X take four pixels at a time (a transparent source gives a = 0,
// which leaves the pixel as it is).
template <class Op>
void LockedRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
               std::int32_t count) {
  constexpr PixelBlend P = OpaqueBlend<Op>;
  const std::uint8_t opacity = params.opacity;
  if (params.gamma) {
    LockedPixels<P, true>(Bytes(dst), Bytes(src), count, opacity);
    return;
  }
  std::int32_t i = 0;
#if KEZ_BLEND_SIMD
  if constexpr (Op::kVector) {
    const auto four = [&](std::int32_t k) {
      simd::Store(dst + k, simd::OpaqueBlend4<Op>(simd::Load(dst + k), simd::Load(src + k), opacity));
    };
    if constexpr (Op::kDelta != 0) {
      if (opacity == 255) {
        for (; i + 16 <= count; i += 16) DeltaSixteen<Op>(dst + i, src + i, 255);
      } else {
        for (; i + 16 <= count; i += 16) DeltaSixteen<Op>(dst + i, src + i, opacity);
      }
    } else if constexpr (Op::kMixes) {
      // Sixteen pixels at a time, so that the check for an opaque source
      // (the usual layer) costs a source of mixed alpha little.
      if (opacity == 255) {
        for (; i + 16 <= count; i += 16) {
          if (simd::AllOpaque16(src + i)) {
            FullSixteen<Op>(dst + i, src + i);
          } else {
            OpaqueSixteen<Op>(dst + i, src + i, 255);
          }
        }
      }
    }
    for (; i + 4 <= count; i += 4) four(i);
  } else if constexpr (Op::kPerPixel) {
    for (; i + 4 <= count; i += 4) {
      simd::Store(dst + i, simd::HueOpaque4<Op>(simd::Load(dst + i), simd::Load(src + i), opacity));
    }
  }
#endif
  LockedPixels<P, false>(Bytes(dst + i), Bytes(src + i), count - i, opacity);
}


// Modes 29 to 51: full alpha arithmetic, P over opaque and Q over partially
// transparent destination pixels. Without gamma, four opaque destination
// pixels in a row go through the vector P where the operation has one.
template <class Op>
void CompositedRow(const DrawParams& params, std::uint32_t* dst, const std::uint32_t* src,
                   std::int32_t count) {
  constexpr PixelBlend P = OpaqueBlend<Op>;
  constexpr PixelBlend Q = PartialBlend<Op>;
  const std::uint8_t opacity = params.opacity;
  if (params.gamma) {
    CompositedPixels<P, Q, true>(Bytes(dst), Bytes(src), count, opacity);
    return;
  }
  std::int32_t i = 0;
#if KEZ_BLEND_SIMD
  if constexpr (!Op::kOwnRounding) {
    const auto four = [&](std::int32_t k) {
      if constexpr (Op::kVector || Op::kPerPixel) {
        const simd::Vec d = simd::Load(dst + k);
        if (simd::AllOpaque(d)) {
          simd::Store(dst + k, Opaque4<Op>(d, simd::Load(src + k), opacity));
          return;
        }
      }
      MixedFour<Op>(dst + k, src + k, opacity);
    };
    if constexpr (Op::kVector) {
      // Sixteen pixels at a time: one check for an opaque destination (and
      // for the usual opaque layer at opacity 255) instead of four.
      for (; i + 16 <= count; i += 16) {
        if (simd::AllOpaque16(dst + i)) {
          if constexpr (Op::kDelta != 0) {
            if (opacity == 255) {
              DeltaSixteen<Op>(dst + i, src + i, 255);
            } else {
              DeltaSixteen<Op>(dst + i, src + i, opacity);
            }
            continue;
          } else if constexpr (Op::kMixes) {
            if (opacity == 255 && simd::AllOpaque16(src + i)) {
              FullSixteen<Op>(dst + i, src + i);
              continue;
            }
          }
          if (opacity == 255) {
            OpaqueSixteen<Op>(dst + i, src + i, 255);
          } else {
            OpaqueSixteen<Op>(dst + i, src + i, opacity);
          }
          continue;
        }
        four(i);
        four(i + 4);
        four(i + 8);
        four(i + 12);
      }
    }
    for (; i + 4 <= count; i += 4) four(i);
  }
#endif
  CompositedPixels<P, Q, false>(Bytes(dst + i), Bytes(src + i), count - i, opacity);
}

}  // namespace lumo
