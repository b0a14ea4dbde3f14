// The hue family (Hue, Saturation, Colour, Luminosity) on four pixels at a
// time: hue, chroma and luma measured and the colour rebuilt in the four
// single-precision lanes, with every operation, its order and its precision
// those of the per-pixel helpers (colour_parts.h), so the bytes are the
// same. The sectors and the branches of the rebuild become lane masks: with
// random colours the per-pixel branches mispredict about every other time.
#pragma once

#include <cstdint>

#include "compose/blend_ops.h"
#include "compose/blend_vector.h"
#include "compose/colour_parts.h"
#include "compose/simd.h"

#if KEZ_BLEND_SIMD
namespace lumo::simd {

// The channels of four pixels as bytes (32-bit lanes) and as fractions.
struct PixelChannels {
  Vec R, G, B;
  FVec r, g, b;
};

inline PixelChannels ChannelsOf(Vec p) {
  const Vec byte = Splat32(0xFF);
  const Vec R = And(ShiftRight32(p, 16), byte);
  const Vec G = And(ShiftRight32(p, 8), byte);
  const Vec B = And(p, byte);
  const FVec k = SplatF(255.0f);  // byte / 255, as the fraction table holds it
  return {R, G, B, DivF(ToFloat(R), k), DivF(ToFloat(G), k), DivF(ToFloat(B), k)};
}

inline Vec GreyMask(const PixelChannels& c) { return And(Eq32(c.R, c.G), Eq32(c.G, c.B)); }

// Grey pixels (hue -1) included; a grey pixel's chroma divides by 1
// instead of 0 in its discarded lane.
inline FVec HueOf(const PixelChannels& c) {
  const FVec mx = MaxF(c.r, MaxF(c.g, c.b));
  const FVec mn = MinF(c.r, MinF(c.g, c.b));
  const Vec grey = EqF(mx, mn);
  const FVec chroma = SelectF(grey, SplatF(1.0f), SubF(mx, mn));
  const Vec rMax = EqF(c.r, mx);
  const Vec gMax = EqF(c.g, mx);
  const FVec num = SelectF(rMax, SubF(c.g, c.b), SelectF(gMax, SubF(c.b, c.r), SubF(c.r, c.g)));
  // Adding 0 to the red sector's quotient changes nothing: it is never -0.
  const FVec offset = SelectF(rMax, SplatF(0.0f), SelectF(gMax, SplatF(120.0f), SplatF(240.0f)));
  FVec hue = AddF(DivF(MulF(num, SplatF(60.0f)), chroma), offset);
  hue = AddF(hue, SelectF(LessF(hue, SplatF(0.0f)), SplatF(360.0f), SplatF(0.0f)));
  return SelectF(grey, SplatF(-1.0f), hue);
}

inline FVec ChromaOf(const PixelChannels& c) {
  const FVec mx = MaxF(c.r, MaxF(c.g, c.b));
  const FVec mn = MinF(c.r, MinF(c.g, c.b));
  return SelectF(EqF(mx, mn), SplatF(0.0f), SubF(mx, mn));
}

inline FVec LumaOf(const PixelChannels& c) {
  const FVec y = AddF(AddF(MulF(c.r, SplatF(0.3f)), MulF(c.g, SplatF(0.59f))), MulF(c.b, SplatF(0.11f)));
  const Vec grey = GreyMask(c);
  const Vec white = And(grey, Eq32(c.R, Splat32(255)));
  const Vec black = And(grey, Eq32(c.R, Splat32(0)));
  return SelectF(white, SplatF(1.0f), SelectF(black, SplatF(0.0f), y));
}

// float(c - double(v)) per lane: the subtraction formed in double precision
// and rounded once to single.
inline FVec SubtractInDouble(double c, FVec v) {
  return NarrowD(SubD(SplatD(c), WidenLoD(v)), SubD(SplatD(c), WidenHiD(v)));
}

// colour_parts::ClippedChroma on four lanes, sector by sector.
inline FVec ClippedChroma4(const Vec* sector, FVec X, FVec luma) {
  const FVec one = SplatF(1.0f);
  const FVec x59 = MulF(X, SplatF(0.59f));
  const FVec x30 = MulF(X, SplatF(0.3f));
  const FVec x11 = MulF(X, SplatF(0.11f));
  FVec D = SubF(SplatF(0.7f), x11);  // sector 5
  D = SelectF(sector[0], SubF(SplatF(0.7f), x59), D);
  D = SelectF(sector[1], SubF(SubF(one, x30), SplatF(0.59f)), D);
  D = SelectF(sector[2], SubF(SplatF(0.41000003f), x11), D);
  D = SelectF(sector[3], one, D);  // formed in double below
  D = SelectF(sector[4], SubF(SubF(one, x30), SplatF(0.11f)), D);
  const FVec k = DivF(SubF(one, luma), D);
  if (!Any32(sector[3])) return k;
  // Sector 3: (1 - Y) / ((1 - X * 0.59) - 0.11) in double, X * 0.59 single.
  const DVec c11 = SplatD(static_cast<double>(0.11f));
  const DVec dLo = SubD(SubD(SplatD(1.0), WidenLoD(x59)), c11);
  const DVec dHi = SubD(SubD(SplatD(1.0), WidenHiD(x59)), c11);
  const FVec k3 = NarrowD(DivD(SubD(SplatD(1.0), WidenLoD(luma)), dLo),
                          DivD(SubD(SplatD(1.0), WidenHiD(luma)), dHi));
  return SelectF(sector[3], k3, k);
}

// Low bytes of trunc(v * 255) per lane into byte `shift / 8` of each pixel;
// false where a lane is outside the int32 range (or NaN).
inline bool ScaledByte(FVec v, int shift, Vec* out) {
  const FVec scaled = MulF(v, SplatF(255.0f));
  if (!All32(LessF(scaled, SplatF(2147483648.0f)))) return false;
  const Vec whole = And(Truncate(scaled), LessF(SplatF(0.0f), scaled));  // negative gives 0
  *out = Or(*out, ShiftLeft32(And(whole, Splat32(0xFF)), shift));
  return true;
}

// HueChromaLumaToRgb(hue, chroma, luma, 255) on four lanes, as bytes B, G, R
// of four pixels; false where the per-pixel way must be taken instead.
inline bool Rebuild(FVec hue, FVec chroma, FVec luma, Vec* x) {
  const FVec zero = SplatF(0.0f);
  const Vec greyOut = Or(EqF(chroma, zero), EqF(hue, SplatF(-1.0f)));
  const FVec h = DivF(hue, SplatF(60.0f));
  // The sector trunc(h) is 0..5 exactly where -1 < h < 6 (NaN fails both).
  const Vec inRange = And(LessF(SplatF(-1.0f), h), LessF(h, SplatF(6.0f)));
  const Vec i = Truncate(SelectF(inRange, h, zero));
  const FVec f = SubF(h, ToFloat(And(i, Splat32(~1u))));
  // f - 1 and 1 - |f - 1| in double, each rounded to single.
  const FVec fMinus1 = NarrowD(SubD(WidenLoD(f), SplatD(1.0)), SubD(WidenHiD(f), SplatD(1.0)));
  const FVec X = SubtractInDouble(1.0, AbsF(fMinus1));
  const Vec s0 = Eq32(i, Splat32(0)), s1 = Eq32(i, Splat32(1)), s2 = Eq32(i, Splat32(2));
  const Vec s3 = Eq32(i, Splat32(3)), s4 = Eq32(i, Splat32(4)), s5 = Eq32(i, Splat32(5));
  // Where each sector puts the max and the mid channel, and their weights.
  const Vec rMax = Or(s0, s5), gMax = Or(s1, s2), bMax = Or(s3, s4);
  const Vec rMid = Or(s1, s4), gMid = Or(s0, s3), bMid = Or(s2, s5);
  const FVec wmax = SelectF(rMax, SplatF(0.3f), SelectF(gMax, SplatF(0.59f), SplatF(0.11f)));
  const FVec wmid = SelectF(gMid, SplatF(0.59f), SelectF(rMid, SplatF(0.3f), SplatF(0.11f)));

  const FVec m = SubF(luma, AddF(MulF(chroma, wmax), MulF(MulF(X, chroma), wmid)));
  const Vec shrink = LessF(m, zero);
  const FVec kShrunk = AddF(DivF(m, AddF(MulF(X, wmid), wmax)), chroma);
  FVec vmax = AddF(m, chroma);
  FVec vmid = AddF(m, MulF(X, chroma));
  FVec vthird = m;
  const Vec clip = AndNot(LessF(SplatF(1.0f), vmax), shrink);
  if (Any32(clip)) {
    const Vec sectors[6] = {s0, s1, s2, s3, s4, s5};
    const FVec k = ClippedChroma4(sectors, X, luma);
    const FVec m2 = SubF(luma, AddF(MulF(k, wmax), MulF(MulF(X, k), wmid)));
    vmax = SelectF(clip, AddF(m2, k), vmax);
    vmid = SelectF(clip, AddF(m2, MulF(X, k)), vmid);
    vthird = SelectF(clip, m2, vthird);
  }
  vmax = SelectF(shrink, kShrunk, vmax);
  vmid = SelectF(shrink, MulF(X, kShrunk), vmid);
  vthird = SelectF(shrink, zero, vthird);

  const auto place = [&](Vec isMax, Vec isMid) {
    const FVec v = SelectF(isMax, vmax, SelectF(isMid, vmid, vthird));
    return SelectF(greyOut, luma, SelectF(inRange, v, zero));
  };
  Vec out = Splat32(0);
  if (!ScaledByte(place(bMax, bMid), 0, &out) || !ScaledByte(place(gMax, gMid), 8, &out) ||
      !ScaledByte(place(rMax, rMid), 16, &out)) {
    return false;
  }
  *x = out;
  return true;
}

// X of a hue-family operation on four pixels (bytes B, G, R; alpha 0).
template <class Op>
inline Vec HueFamilyX4(Vec s, Vec d) {
  const PixelChannels cs = ChannelsOf(s);
  const PixelChannels cd = ChannelsOf(d);
  const FVec hue = HueOf(Op::kHueSource ? cs : cd);
  const FVec chroma = ChromaOf(Op::kChromaSource ? cs : cd);
  const FVec luma = LumaOf(Op::kLumaSource ? cs : cd);
  Vec x;
  if (Rebuild(hue, chroma, luma, &x)) return x;
  alignas(16) std::uint32_t sp[4], dp[4], xp[4];
  Store(sp, s);
  Store(dp, d);
  for (int l = 0; l < 4; ++l) {
    std::uint32_t c[3];
    Op::Pixel(reinterpret_cast<const std::uint8_t*>(sp + l), reinterpret_cast<const std::uint8_t*>(dp + l), c);
    xp[l] = c[0] | c[1] << 8 | c[2] << 16;
  }
  return Load(xp);
}

// Each channel mix(d, X, a) with a = div255(srcA * opacity); alpha kept.
inline Vec MixX4(Vec d, Vec s, Vec x, std::uint8_t opacity) {
  const Weights w = ScaledAlpha(s, opacity);
  return KeepAlpha(d, Narrow16(Mix16(Widen16Lo(d), Widen16Lo(x), w.lo), Mix16(Widen16Hi(d), Widen16Hi(x), w.hi)));
}

// P of a hue-family operation on four pixels; Hue leaves a grey
// destination as it is.
template <class Op>
inline Vec HueOpaque4(Vec d, Vec s, std::uint8_t opacity) {
  const Vec r = MixX4(d, s, HueFamilyX4<Op>(s, d), opacity);
  if constexpr (Op::kGreyKeeps) return Select(GreyMask(ChannelsOf(d)), d, r);
  return r;
}

// What PartialBlend4 expects in x: P's result over an opaque destination,
// X mixed in by a over a partially transparent one.
template <class Op>
inline Vec HueTarget4(Vec d, Vec s, std::uint8_t opacity) {
  const Vec r = MixX4(d, s, HueFamilyX4<Op>(s, d), opacity);
  if constexpr (Op::kGreyKeeps) {
    const Vec opaque = Eq32(And(d, AlphaBytes()), AlphaBytes());
    return Select(And(opaque, GreyMask(ChannelsOf(d))), d, r);
  }
  return r;
}

}  // namespace lumo::simd
#endif
