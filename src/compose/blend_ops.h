// The colour operations of the blend modes: what each makes of one source
// and one destination channel (or, for the hue family, of the two pixels).
// The row skeletons in blend_skeletons.h mix these results in.
#pragma once

#include <algorithm>
#include <cstdint>

#include "compose/blend.h"
#include "compose/blend_tables.h"
#include "compose/colour.h"
#include "compose/colour_parts.h"
#include "compose/simd.h"

namespace lumo::ops {

using u32 = std::uint32_t;

// What an operation may change in the shared skeletons. Channel(s, d, a)
// gives X for one channel; a is the scaled source alpha, which only
// AddScaled reads.
struct Defaults {
  static constexpr bool kMixes = true;             // P and Q mix X toward d by a
  static constexpr bool kWhiteSourceKeeps = false;  // P: a white source changes nothing
  static constexpr bool kPerPixel = false;         // X needs the whole pixel (hue family)
  static constexpr bool kGreyKeeps = false;        // P: a destination without hue is kept
  static constexpr bool kOwnRounding = false;      // P and Q are the operation's own
  static constexpr bool kVector = false;           // X16 gives X on 16-bit lanes
  static constexpr int kDelta = 0;  // +1: Delta8 gives X - d >= 0; -1: d - X >= 0
};

#if KEZ_BLEND_SIMD
// Vector forms: X16(s, d, a) on 16-bit lanes holding 0..255. Lanes of the
// branch not taken may overflow; they are discarded.
using simd::Vec;
inline Vec K16(std::uint16_t k) { return simd::Splat16(k); }
#define KEZ_VECTOR_X(body)                                     \
  static constexpr bool kVector = true;                        \
  static Vec X16([[maybe_unused]] Vec s, [[maybe_unused]] Vec d, \
                 [[maybe_unused]] Vec a) {                     \
    using namespace simd;                                      \
    body                                                       \
  }
// Operations whose X never falls below (or never rises above) d: Delta8
// gives |X - d| on the bytes directly, 0 in the alpha byte, and the mix
// becomes one product.
#define KEZ_VECTOR_DELTA(sign, body)                                        \
  static constexpr int kDelta = sign;                                       \
  static Vec Delta8([[maybe_unused]] Vec s, [[maybe_unused]] Vec d) {       \
    using namespace simd;                                                   \
    body                                                                    \
  }
#else
#define KEZ_VECTOR_X(body)
#define KEZ_VECTOR_DELTA(sign, body)
#endif

struct Add : Defaults {
  KEZ_VECTOR_DELTA(+1, return Min8(s, AndNot(Splat32(0x00FFFFFFu), d)) /* 255 - d */;)
  KEZ_VECTOR_X(return Min16(Add16(s, d), K16(255));)
  static constexpr u32 Channel(u32 s, u32 d, u32) { return std::min<u32>(255, s + d); }
};

// Not a mix: the source is scaled by a and added.
struct AddScaled : Defaults {
  KEZ_VECTOR_DELTA(+1, return And(s, Splat32(0x00FFFFFFu));  /* the sum saturates at 255 */)
  KEZ_VECTOR_X(return Min16(Add16(d, Div255x16(Mul16(s, a))), K16(255));)
  static constexpr bool kMixes = false;
  static constexpr u32 Channel(u32 s, u32 d, u32 a) { return std::min<u32>(255, d + div255(s * a)); }
};

struct Subtract : Defaults {
  KEZ_VECTOR_DELTA(-1, return Min8(And(s, Splat32(0x00FFFFFFu)), d);)
  KEZ_VECTOR_X(return SubSat16(d, s);)
  static constexpr u32 Channel(u32 s, u32 d, u32) { return d > s ? d - s : 0; }
};

struct Multiply : Defaults {
  KEZ_VECTOR_X(return Div255x16(Mul16(s, d));)
  static constexpr bool kWhiteSourceKeeps = true;
  static constexpr u32 Channel(u32 s, u32 d, u32) { return div255(s * d); }
};

struct Divide : Defaults {
  static constexpr u32 Channel(u32 s, u32 d, u32) { return std::min<u32>(255, d * 256 / (s + 1)); }
};

// 511 rather than 510 in the upper half: white over black gives 254.
struct Overlay : Defaults {
  KEZ_VECTOR_X(const Vec d2 = Add16(d, d);
    const Vec low = Div255x16(Mul16(d2, s));
    const Vec high = Sub16(K16(255), Div255x16(Mul16(Sub16(K16(511), d2), Sub16(K16(255), s))));
    return Select(Less16(d, K16(128)), low, high);)
  static constexpr u32 Channel(u32 s, u32 d, u32) {
    return d < 128 ? div255(2 * d * s) : 255 - div255((511 - 2 * d) * (255 - s));
  }
};

struct Screen : Defaults {
  KEZ_VECTOR_X(return Sub16(K16(255), Div255x16(Mul16(Sub16(K16(255), s), Sub16(K16(255), d))));)
  static constexpr u32 Channel(u32 s, u32 d, u32) { return 255 - div255((255 - s) * (255 - d)); }
};

struct Lighten : Defaults {
  KEZ_VECTOR_DELTA(+1, return SubSat8(And(s, Splat32(0x00FFFFFFu)), d);)
  KEZ_VECTOR_X(return Max16(s, d);)
  static constexpr u32 Channel(u32 s, u32 d, u32) { return std::max(s, d); }
};

struct Darken : Defaults {
  KEZ_VECTOR_DELTA(-1, return SubSat8(And(d, Splat32(0x00FFFFFFu)), s);)
  KEZ_VECTOR_X(return Min16(s, d);)
  static constexpr u32 Channel(u32 s, u32 d, u32) { return std::min(s, d); }
};

struct Difference : Defaults {
  KEZ_VECTOR_X(return Or(SubSat16(s, d), SubSat16(d, s));)
  static constexpr u32 Channel(u32 s, u32 d, u32) { return s > d ? s - d : d - s; }
};

struct Exclusion : Defaults {
  static constexpr u32 Channel(u32 s, u32 d, u32) { return s + d - div255(2 * s * d); }
};

struct ColourDodge : Defaults {
  static constexpr u32 Channel(u32 s, u32 d, u32) { return std::min<u32>(255, d * 256 / (256 - s)); }
};

struct ColourBurn : Defaults {
  static constexpr u32 Channel(u32 s, u32 d, u32) {
    return 255 - std::min<u32>(255, (255 - d) * 256 / (s + 1));
  }
};

using LinearDodge = Add;  // the same values, so the same row functions

struct LinearBurn : Defaults {
  KEZ_VECTOR_DELTA(-1, return Min8(d, AndNot(Splat32(0x00FFFFFFu), s)) /* 255 - s */;)
  KEZ_VECTOR_X(return SubSat16(Add16(s, d), K16(255));)
  static constexpr u32 Channel(u32 s, u32 d, u32) { return s + d > 255 ? s + d - 255 : 0; }
};

// 2sd + d^2 (1 - 2s) below the middle, 2d (1 - s) + sqrt(d) (2s - 1) above.
struct SoftLight : Defaults {
  static u32 Channel(u32 s, u32 d, u32) {
    if (s < 128) return div255(2 * s * d) + div255(div255((255 - 2 * s) * d * d));
    return div255((510 - 2 * s) * d) + div255(g_blendTables.sqrt[d] * (2 * s - 255));
  }
};

struct HardLight : Defaults {
  KEZ_VECTOR_X(const Vec is = Sub16(K16(255), s);
    const Vec high = Sub16(K16(255), Div255x16(Mul16(Add16(is, is), Sub16(K16(255), d))));
    const Vec low = Div255x16(Mul16(Add16(s, s), d));
    return Select(Less16(s, K16(128)), low, high);)
  static constexpr u32 Channel(u32 s, u32 d, u32) {
    return s >= 128 ? 255 - div255(2 * (255 - s) * (255 - d)) : div255(2 * s * d);
  }
};

struct HardMix : Defaults {
  KEZ_VECTOR_X(return And(Less16(K16(254), Add16(s, d)), K16(255));)
  static constexpr u32 Channel(u32 s, u32 d, u32) { return s + d >= 255 ? 255 : 0; }
};

// d + (255 - s)(255 - 2d) / 255 with its own signed rounding (>> is arithmetic).
struct InvertedExclusion : Defaults {
  static constexpr bool kOwnRounding = true;

  static constexpr int Scaled(int d, int h) {
    const int t = (255 - 2 * d) * h + 1;
    return d + ((t + (t >> 8)) >> 8);
  }

  static void Opaque(std::uint8_t* d, const std::uint8_t* s, std::uint8_t opacity) {
    if (s[3] == 255 && opacity == 255) {
      for (int c = 0; c < 3; ++c) d[c] = static_cast<std::uint8_t>(Scaled(d[c], 255 - s[c]));
      return;
    }
    const u32 a = div255(u32{s[3]} * opacity);
    for (int c = 0; c < 3; ++c) {
      d[c] = static_cast<std::uint8_t>(Scaled(d[c], static_cast<int>(div255((255u - s[c]) * a))));
    }
  }

  // True divisions by 255 throughout, and no test on M.
  static void Partial(std::uint8_t* d, const std::uint8_t* s, std::uint8_t opacity) {
    const int dA = d[3];
    const int S = s[3] * opacity;
    const int F = S + 255 * dA - S / 255 * dA;
    if (F == 0) return;
    const int a = static_cast<int>(div255(static_cast<u32>(S)));
    const int M = dA * (F / 255) / 255;
    const int dWeight = (65025 - S) / 255 * dA;
    std::uint8_t out[4];
    for (int c = 0; c < 3; ++c) {
      const int x = Scaled(d[c], static_cast<int>(div255(static_cast<u32>((255 - s[c]) * a))));
      const int N = (S * s[c] + d[c] * dWeight) / F;
      out[c] = static_cast<std::uint8_t>((M * x + (255 - M) * N) / 255);
    }
    out[3] = static_cast<std::uint8_t>(F / 255);
    std::copy(out, out + 4, d);
  }
};

// The hue family: X is rebuilt from hue, chroma and luma taken from the
// source or the destination; each pixel gives only the parts taken from it.
// Pixel() fills x (B, G, R) and tells whether the destination has a hue.
template <bool kHueFromSource, bool kChromaFromSource, bool kLumaFromSource>
struct HueFamily : Defaults {
  static constexpr bool kPerPixel = true;
  static constexpr bool kHueSource = kHueFromSource;
  static constexpr bool kChromaSource = kChromaFromSource;
  static constexpr bool kLumaSource = kLumaFromSource;

  static bool Pixel(const std::uint8_t* s, const std::uint8_t* d, u32* x) {
    using namespace colour_parts;
    const std::uint8_t* h = kHueFromSource ? s : d;
    const std::uint8_t* k = kChromaFromSource ? s : d;
    const std::uint8_t* y = kLumaFromSource ? s : d;
    const RgbValues rgb = ToRgb(Hue(h[2], h[1], h[0]), Chroma(k[2], k[1], k[0]),
                                Luma(y[2], y[1], y[0]), 255);
    x[0] = static_cast<std::uint8_t>(rgb.b);
    x[1] = static_cast<std::uint8_t>(rgb.g);
    x[2] = static_cast<std::uint8_t>(rgb.r);
    return !IsGrey(d[2], d[1], d[0]);
  }

  static bool HasHue(const std::uint8_t* d) { return !colour_parts::IsGrey(d[2], d[1], d[0]); }
};

struct Hue : HueFamily<true, false, false> {
  static constexpr bool kGreyKeeps = true;
};
struct Saturation : HueFamily<false, true, false> {};
struct Colour : HueFamily<true, true, false> {};
struct Luminosity : HueFamily<false, false, true> {};

#undef KEZ_VECTOR_X
#undef KEZ_VECTOR_DELTA

}  // namespace lumo::ops
