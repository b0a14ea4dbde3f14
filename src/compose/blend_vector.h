// Four pixels at a time: the opaque-destination form P of the colour
// operations that have a vector X, and the plain mix of the normal modes.
// Every function gives the same bytes as the scalar per-pixel code.
#pragma once

#include <cstdint>

#include "compose/simd.h"

#if KEZ_BLEND_SIMD
namespace lumo::simd {

inline Vec AlphaBytes() { return Splat32(0xFF000000u); }

// Whether all four destination pixels are opaque (or all transparent).
inline bool AllOpaque(Vec d) { return All32(Eq32(Or(d, Splat32(0x00FFFFFFu)), Splat32(0xFFFFFFFFu))); }

// The scaled source alpha a = div255(srcA * opacity) of each pixel, spread
// over the 16-bit lanes of its four bytes.
struct Weights {
  Vec lo;  // pixels 0 and 1
  Vec hi;  // pixels 2 and 3
};

inline Weights ScaledAlpha(Vec s, std::uint8_t opacity) {
  Vec a = ShiftRight32(s, 24);  // srcA in the low 16 bits of each pixel's lane
  // opacity 255: div255(srcA * 255) is srcA itself.
  if (opacity != 255) a = Div255x16(Mul16(a, Splat32(opacity)));
  a = Or(a, ShiftLeft32(a, 16));
  return {SpreadLo(a), SpreadHi(a)};
}

// mix(d, x, a) = div255(x a + d (255 - a)) per 16-bit lane; the sum is at
// most 65025.
inline Vec Mix16(Vec d, Vec x, Vec a) {
  return Div255x16(Add16(Mul16(x, a), Mul16(d, Sub16(Splat16(255), a))));
}

// Colour bytes from r, the alpha byte from d.
inline Vec KeepAlpha(Vec d, Vec r) { return Select(AlphaBytes(), d, r); }

// mix(d, x, a) = d + floor((x - d) a / 255): for x >= d that is
// d + div255((x - d) a), for x < d it is d - div255((d - x) a + 254).
template <int kDelta>
inline Vec MixDelta4(Vec d, Vec delta, const Weights& w) {
  delta = And(delta, Splat32(0x00FFFFFFu));  // the alpha byte moves by 0
  const Vec bias = Splat16(kDelta > 0 ? 0 : 254);
  const Vec lo = Div255x16(Add16(Mul16(Widen16Lo(delta), w.lo), bias));
  const Vec hi = Div255x16(Add16(Mul16(Widen16Hi(delta), w.hi), bias));
  return kDelta > 0 ? AddSat8(d, Narrow16(lo, hi)) : SubSat8(d, Narrow16(lo, hi));
}

// P of Op on four pixels: each channel mix(d, X(s, d), a); alpha untouched.
template <class Op>
inline Vec OpaqueBlend4(Vec d, Vec s, std::uint8_t opacity) {
  const Weights w = ScaledAlpha(s, opacity);
  if constexpr (Op::kDelta != 0) return MixDelta4<Op::kDelta>(d, Op::Delta8(s, d), w);
  const Vec dlo = Widen16Lo(d);
  const Vec dhi = Widen16Hi(d);
  Vec xlo = Op::X16(Widen16Lo(s), dlo, w.lo);
  Vec xhi = Op::X16(Widen16Hi(s), dhi, w.hi);
  if constexpr (Op::kMixes) {
    xlo = Mix16(dlo, xlo, w.lo);
    xhi = Mix16(dhi, xhi, w.hi);
  }
  Vec r = KeepAlpha(d, Narrow16(xlo, xhi));
  if constexpr (Op::kWhiteSourceKeeps) {
    r = Select(Eq32(Or(s, AlphaBytes()), Splat32(0xFFFFFFFFu)), d, r);
  }
  return r;
}

// mix(d, s, a) on four pixels, alpha untouched: the normal modes.
inline Vec MixSource4(Vec d, Vec s, std::uint8_t opacity) {
  const Weights w = ScaledAlpha(s, opacity);
  const Vec lo = Mix16(Widen16Lo(d), Widen16Lo(s), w.lo);
  const Vec hi = Mix16(Widen16Hi(d), Widen16Hi(s), w.hi);
  return KeepAlpha(d, Narrow16(lo, hi));
}

}  // namespace lumo::simd
#endif
