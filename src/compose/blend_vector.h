// Four pixels at a time: the opaque-destination form P of the colour
// operations that have a vector X, and the plain mix of the normal modes.
// Every function gives the same bytes as the scalar per-pixel code.
#pragma once

#include <cstdint>

#include "compose/simd.h"

#if KEZ_BLEND_SIMD
namespace lumo::simd {

inline Vec AlphaBytes() { return Splat32(0xFF000000u); }

// Whether all four destination pixels are opaque.
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

// The scaled source alpha a of each pixel in both 16-bit halves of its
// 32-bit lane, so the even and the odd bytes of the pixel meet their weight
// without moving across lanes.
inline Vec PairAlpha(Vec s, std::uint8_t opacity) {
  Vec a = ShiftRight32(s, 24);
  if (opacity != 255) a = Div255x16(Mul16(a, Splat32(opacity)));
  return Or(a, ShiftLeft32(a, 16));
}

// mix(d, x, a) = d + floor((x - d) a / 255): for x >= d that is
// d + div255((x - d) a), for x < d it is d - div255((d - x) a + 254).
// delta is |x - d| with the alpha byte 0; the even bytes (B, R) and the odd
// bytes (G, A) are weighted in place as 16-bit lanes and put back together,
// and the byte step saturates where the operation needs it (AddScaled).
template <int kDelta>
inline Vec MixDelta4(Vec d, Vec delta, Vec pairAlpha) {
  const Vec bias = Splat16(kDelta > 0 ? 0 : 254);
  const Vec even = Div255x16(Add16(Mul16(And(delta, Splat16(0x00FF)), pairAlpha), bias));
  const Vec odd = Div255x16(Add16(Mul16(ShiftRight16<8>(delta), pairAlpha), bias));
  const Vec step = Or(even, ShiftLeft16<8>(odd));
  return kDelta > 0 ? AddSat8(d, step) : SubSat8(d, step);
}

// MixDelta4 for an upward delta, with the pair weights made by
// ScaleWeight16 from scaled alphas of at most 254.
inline Vec MixDeltaUp4(Vec d, Vec delta, Vec pairWeight) {
  const Vec even = Scale16(And(delta, Splat16(0x00FF)), pairWeight);
  const Vec odd = Scale16(ShiftRight16<8>(delta), pairWeight);
  return AddSat8(d, Or(even, ShiftLeft16<8>(odd)));
}

// The source alphas of sixteen pixels as 16-bit lanes (pixels 0..7 in lo,
// 8..15 in hi), scaled by opacity: gathered once, they tell whether the
// sixteen are opaque and give each four pixels their pair weights with
// one unpack.
struct Alphas16 {
  Vec lo;
  Vec hi;
};

inline Alphas16 SourceAlphas16(const Vec* s, std::uint8_t opacity) {
  Vec lo = Pack32To16(ShiftRight32(s[0], 24), ShiftRight32(s[1], 24));
  Vec hi = Pack32To16(ShiftRight32(s[2], 24), ShiftRight32(s[3], 24));
  if (opacity != 255) {
    lo = Div255x16(Mul16(lo, Splat16(opacity)));
    hi = Div255x16(Mul16(hi, Splat16(opacity)));
  }
  return {lo, hi};
}

// Whether all, and whether any, of the sixteen scaled alphas are 255.
inline MaskSummary FullnessOf(const Alphas16& a) {
  const Vec full = Splat16(255);
  return Summarise8(Eq16(a.lo, full), Eq16(a.hi, full));
}
inline Alphas16 ScaleWeights16(const Alphas16& a) { return {ScaleWeight16(a.lo), ScaleWeight16(a.hi)}; }

// The pair weights (see PairAlpha) of pixels 4k..4k+3 of the sixteen.
inline Vec PairAlpha16(const Alphas16& a, int k) {
  const Vec half = k < 2 ? a.lo : a.hi;
  return (k & 1) == 0 ? PairLo16(half) : PairHi16(half);
}

// Whether all four source pixels are opaque.
inline bool AllSourceOpaque(Vec s) { return All32(Eq32(And(s, AlphaBytes()), AlphaBytes())); }

// P of Op on four pixels whose source is opaque, at opacity 255 (the usual
// opaque layer): a = 255 and mix(d, x, 255) is x, so X alone, and for the
// operations with a delta one saturating byte step.
template <class Op>
inline Vec OpaqueBlendFull4(Vec d, Vec s) {
  if constexpr (Op::kDelta != 0) {
    const Vec delta = Op::Delta8(s, d);
    return Op::kDelta > 0 ? AddSat8(d, delta) : SubSat8(d, delta);
  } else {
    const Vec full = Splat16(255);
    Vec r = KeepAlpha(d, Narrow16(Op::X16(Widen16Lo(s), Widen16Lo(d), full),
                                  Op::X16(Widen16Hi(s), Widen16Hi(d), full)));
    if constexpr (Op::kWhiteSourceKeeps) {
      r = Select(Eq32(Or(s, AlphaBytes()), Splat32(0xFFFFFFFFu)), d, r);
    }
    return r;
  }
}

// Whether the alpha bytes of all sixteen pixels from p are 255.
inline bool AllOpaque16(const std::uint32_t* p) {
  const Vec all = And(And(Load(p), Load(p + 4)), And(Load(p + 8), Load(p + 12)));
  return All32(Eq32(And(all, AlphaBytes()), AlphaBytes()));
}

// P of Op on four pixels: each channel mix(d, X(s, d), a); alpha untouched.
template <class Op>
inline Vec OpaqueBlend4(Vec d, Vec s, std::uint8_t opacity) {
  if constexpr (Op::kDelta != 0) return MixDelta4<Op::kDelta>(d, Op::Delta8(s, d), PairAlpha(s, opacity));
  const Weights w = ScaledAlpha(s, opacity);
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

// div255 on 32-bit lanes (the same formula as the scalar one).
inline Vec Div255x32(Vec x) {
  const Vec w = Add32(x, Splat32(1));
  return ShiftRight32(Add32(w, ShiftRight32(w, 8)), 8);
}

// floor((d dW + s S) / F) per 32-bit lane. Every product and the sum are
// integers below 2^24 (the sum is at most 255 F, F < 65280), so exact in a
// float; the division is correctly rounded, and a quotient below 256 that
// is not whole lies at least 1 / F > 2^-17 under the next integer, more
// than the half unit (2^-17) of the last place it could round up by, so
// truncation gives the floor.
inline Vec WeightedMean32(Vec d, Vec s, FVec dW, FVec S, FVec F) {
  return Truncate(DivF(AddF(MulF(ToFloat(d), dW), MulF(ToFloat(s), S)), F));
}

// Four pixels over a transparent destination: each takes the source, its
// alpha scaled by opacity, unless the source is transparent too.
inline Vec TakeSource4(Vec d, Vec s, std::uint8_t opacity) {
  const Vec sA = ShiftRight32(s, 24);
  const Vec a = opacity == 255 ? sA : Div255x32(MulSmall32(sA, Splat32(opacity)));
  const Vec taken = Or(And(s, Splat32(0x00FFFFFFu)), ShiftLeft32(a, 24));
  return Select(Eq32(sA, Splat32(0)), d, taken);
}

// Q on four pixels whose destination alpha may be anything: x holds, per
// pixel, mix(d, X(s, d), a) for a partially transparent destination and
// P's result for an opaque one. A partially transparent destination is
// composited over the source-over colour N by the weight M; a transparent
// one takes the source; a transparent source leaves the pixel alone.
inline Vec PartialBlend4(Vec d, Vec s, Vec x, std::uint8_t opacity) {
  const Vec byte = Splat32(0xFF);
  const Vec dA = ShiftRight32(d, 24);
  const Vec sA = ShiftRight32(s, 24);
  const Vec S = MulSmall32(sA, Splat32(opacity));
  const Vec a = Div255x32(S);
  const Vec dW = MulSmall32(dA, Sub32(byte, a));  // (255 - a) * div255(dA * 255)
  const Vec F = Add32(S, dW);
  const Vec M = Div255x32(MulSmall32(dA, ShiftRight32(Add32(F, Splat32(510)), 8)));
  const FVec fW = ToFloat(dW);
  const FVec fS = ToFloat(S);
  const FVec fF = ToFloat(F);
  Vec N = WeightedMean32(And(d, byte), And(s, byte), fW, fS, fF);
  N = Or(N, ShiftLeft32(WeightedMean32(And(ShiftRight32(d, 8), byte), And(ShiftRight32(s, 8), byte),
                                       fW, fS, fF), 8));
  N = Or(N, ShiftLeft32(WeightedMean32(And(ShiftRight32(d, 16), byte), And(ShiftRight32(s, 16), byte),
                                       fW, fS, fF), 16));
  // Each channel mix(N, x, M); M <= 254 under a partial destination.
  const Vec m = Or(M, ShiftLeft32(M, 16));
  Vec out = Narrow16(Mix16(Widen16Lo(N), Widen16Lo(x), SpreadLo(m)),
                     Mix16(Widen16Hi(N), Widen16Hi(x), SpreadHi(m)));
  out = Select(AlphaBytes(), ShiftLeft32(Div255x32(F), 24), out);
  const Vec zero = Splat32(0);
  out = Select(Eq32(dA, byte), x, out);
  out = Select(Eq32(dA, zero), Or(And(s, Splat32(0x00FFFFFFu)), ShiftLeft32(a, 24)), out);
  return Select(Eq32(sA, zero), d, out);
}

}  // namespace lumo::simd
#endif
