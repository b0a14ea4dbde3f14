// A plain per-pixel transcription of the blend rules, written apart from the
// library code (no shared helpers), for the tests to compare the row
// functions against. Slow on purpose: no tables of function pointers, no
// templates, every rule spelt out where it applies.
#pragma once

#include <cmath>
#include <cstdint>

namespace ref {

inline int Div255(int x) { return ((x + 1) + ((x + 1) >> 8)) >> 8; }
inline int Mix(int d, int x, int w) { return Div255(x * w + d * (255 - w)); }

struct Px {
  int c[3];  // B, G, R
  int a;
};

inline Px Unpack(std::uint32_t v) {
  return {{int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF)}, int(v >> 24)};
}
inline std::uint32_t Pack(const Px& p) {
  return std::uint32_t(p.c[0]) | std::uint32_t(p.c[1]) << 8 | std::uint32_t(p.c[2]) << 16 |
         std::uint32_t(p.a) << 24;
}

struct Tables {
  int sqrtT[256];
  int expand[256];
  int compress[256];
  Tables() {
    for (int i = 0; i < 256; ++i) {
      sqrtT[i] = i == 0 ? 0 : int(std::sqrt(double(i) / 255.0) * 255.0);
      expand[i] = i == 0 ? 0 : int(std::pow(double(i) / 255.0, 1.8) * 255.0);
      compress[i] = i == 0 ? 0 : int(std::pow(double(i) / 255.0, 0.5555555555555556) * 255.0);
    }
  }
};
inline const Tables& T() {
  static const Tables t;
  return t;
}

// ---- colour helpers -------------------------------------------------------

struct Hcl {
  float hue, chroma, luma;
};

inline Hcl Metrics(int R, int G, int B) {
  float r = float(R) / 255.0f, g = float(G) / 255.0f, b = float(B) / 255.0f;
  if (r == 1.0f && g == 1.0f && b == 1.0f) return {-1.0f, 0.0f, 1.0f};
  if (r == 0.0f && g == 0.0f && b == 0.0f) return {-1.0f, 0.0f, 0.0f};
  float luma = r * 0.3f;
  luma = luma + g * 0.59f;
  luma = luma + b * 0.11f;
  float mx = r, mn = r;
  if (g > mx) mx = g;
  if (b > mx) mx = b;
  if (g < mn) mn = g;
  if (b < mn) mn = b;
  if (mx == mn) return {-1.0f, 0.0f, luma};
  float c = mx - mn;
  float h;
  if (r == mx) {
    float t = (g - b) * 60.0f;
    h = t / c;
  } else if (g == mx) {
    float t = (b - r) * 60.0f;
    h = t / c + 120.0f;
  } else {
    float t = (r - g) * 60.0f;
    h = t / c + 240.0f;
  }
  if (h < 0.0f) h = h + 360.0f;
  return {h, c, luma};
}

inline std::uint64_t Trunc(float v) { return v < 0.0f ? 0 : std::uint64_t(v); }

// R, G, B in out[0..2].
inline void ToRgb(float H, float k, float Y, unsigned scale, std::uint64_t out[3]) {
  float sc = float(scale);
  if (k == 0.0f || H == -1.0f) {
    out[0] = out[1] = out[2] = Trunc(sc * Y);
    return;
  }
  float h = H / 60.0f;
  int i = int(h);
  int even = int(std::floor(double(i) / 2.0)) * 2;
  float f = h - float(even);
  float fm1 = float(double(f) - 1.0);
  float X = float(1.0 - double(std::fabs(fm1)));
  int maxCh, midCh;
  float wmax, wmid;
  switch (i) {
    case 0: maxCh = 0; midCh = 1; wmax = 0.3f; wmid = 0.59f; break;
    case 1: maxCh = 1; midCh = 0; wmax = 0.59f; wmid = 0.3f; break;
    case 2: maxCh = 1; midCh = 2; wmax = 0.59f; wmid = 0.11f; break;
    case 3: maxCh = 2; midCh = 1; wmax = 0.11f; wmid = 0.59f; break;
    case 4: maxCh = 2; midCh = 0; wmax = 0.11f; wmid = 0.3f; break;
    case 5: maxCh = 0; midCh = 2; wmax = 0.3f; wmid = 0.11f; break;
    default: out[0] = out[1] = out[2] = 0; return;
  }
  int third = 3 - maxCh - midCh;
  float v[3];
  float m = Y - ((k * wmax) + ((X * k) * wmid));
  if (m < 0.0f) {
    float k1 = m / ((X * wmid) + wmax) + k;
    v[maxCh] = k1;
    v[midCh] = X * k1;
    v[third] = 0.0f;
  } else {
    v[maxCh] = m + k;
    v[midCh] = m + X * k;
    v[third] = m;
    if (m + k > 1.0f) {
      float k2;
      if (i == 3) {
        double D = (1.0 - double(X * 0.59f)) - double(0.11f);
        k2 = float((1.0 - double(Y)) / D);
      } else {
        float D;
        if (i == 0) D = 0.7f - X * 0.59f;
        else if (i == 1) D = (1.0f - X * 0.3f) - 0.59f;
        else if (i == 2) D = 0.41000003f - X * 0.11f;
        else if (i == 4) D = (1.0f - X * 0.3f) - 0.11f;
        else D = 0.7f - X * 0.11f;
        k2 = (1.0f - Y) / D;
      }
      float m2 = Y - ((k2 * wmax) + ((X * k2) * wmid));
      v[maxCh] = m2 + k2;
      v[midCh] = m2 + X * k2;
      v[third] = m2;
    }
  }
  for (int n = 0; n < 3; ++n) out[n] = Trunc(v[n] * sc);
}

// ---- colour operations ----------------------------------------------------

// Operation numbers: 0 Add, 1 AddScaled, 2 Subtract, 3 Multiply, 4 Divide,
// 5 Overlay, 6 Screen, 7 Lighten, 8 Darken, 9 Difference, 10 Exclusion,
// 11 ColourDodge, 12 ColourBurn, 13 LinearDodge, 14 LinearBurn, 15 SoftLight,
// 16 HardLight, 17 Hue, 18 Saturation, 19 Colour, 20 Luminosity, 21 HardMix,
// 22 InvertedExclusion.
enum { kAdd, kAddScaled, kSubtract, kMultiply, kDivide, kOverlay, kScreen, kLighten, kDarken,
       kDifference, kExclusion, kDodge, kBurn, kLinearDodge, kLinearBurn, kSoftLight, kHardLight,
       kHue, kSaturation, kColour, kLuminosity, kHardMix, kInvertedExclusion };

inline int Min(int x, int y) { return x < y ? x : y; }
inline int Max(int x, int y) { return x > y ? x : y; }

inline int Separable(int op, int s, int d) {
  switch (op) {
    case kAdd: case kLinearDodge: return Min(255, s + d);
    case kSubtract: return Max(0, d - s);
    case kMultiply: return Div255(s * d);
    case kDivide: return Min(255, d * 256 / (s + 1));
    case kOverlay: return d < 128 ? Div255(2 * d * s) : 255 - Div255((511 - 2 * d) * (255 - s));
    case kScreen: return 255 - Div255((255 - s) * (255 - d));
    case kLighten: return Max(s, d);
    case kDarken: return Min(s, d);
    case kDifference: return s > d ? s - d : d - s;
    case kExclusion: return s + d - Div255(2 * s * d);
    case kDodge: return Min(255, d * 256 / (256 - s));
    case kBurn: return 255 - Min(255, (255 - d) * 256 / (s + 1));
    case kLinearBurn: return Max(0, s + d - 255);
    case kSoftLight:
      if (s < 128) return Div255(2 * s * d) + Div255(Div255((255 - 2 * s) * d * d));
      return Div255((510 - 2 * s) * d) + Div255(T().sqrtT[d] * (2 * s - 255));
    case kHardLight:
      return s >= 128 ? 255 - Div255(2 * (255 - s) * (255 - d)) : Div255(2 * s * d);
    case kHardMix: return s + d >= 255 ? 255 : 0;
  }
  return -1;
}

// x for every channel of the hue family, from the two pixels.
inline void HueX(int op, const Px& s, const Px& d, int x[3]) {
  Hcl sm = Metrics(s.c[2], s.c[1], s.c[0]);
  Hcl dm = Metrics(d.c[2], d.c[1], d.c[0]);
  float h = dm.hue, k = dm.chroma, y = dm.luma;
  if (op == kHue) h = sm.hue;
  if (op == kSaturation) k = sm.chroma;
  if (op == kColour) { h = sm.hue; k = sm.chroma; }
  if (op == kLuminosity) y = sm.luma;
  std::uint64_t rgb[3];
  ToRgb(h, k, y, 255, rgb);
  x[2] = int(rgb[0] & 0xFF);
  x[1] = int(rgb[1] & 0xFF);
  x[0] = int(rgb[2] & 0xFF);
}

inline bool IsHueFamily(int op) { return op >= kHue && op <= kLuminosity; }

inline int IeScaled(int d, int h) {
  int t = (255 - 2 * d) * h + 1;
  return d + ((t + (t >> 8)) >> 8);
}

// The opaque-destination form.
inline Px OpP(int op, Px d, const Px& s, int opacity) {
  if (op == kInvertedExclusion) {
    if (s.a == 255 && opacity == 255) {
      for (int n = 0; n < 3; ++n) d.c[n] = IeScaled(d.c[n], 255 - s.c[n]);
    } else {
      int a = Div255(s.a * opacity);
      for (int n = 0; n < 3; ++n) d.c[n] = IeScaled(d.c[n], Div255((255 - s.c[n]) * a));
    }
    return d;
  }
  int a = Div255(s.a * opacity);
  if (a == 0) return d;
  if (op == kMultiply && s.c[0] == 255 && s.c[1] == 255 && s.c[2] == 255) return d;
  if (op == kHue && Metrics(d.c[2], d.c[1], d.c[0]).hue == -1.0f) return d;
  if (op == kAddScaled) {
    for (int n = 0; n < 3; ++n) d.c[n] = Min(255, d.c[n] + Div255(s.c[n] * a));
    return d;
  }
  int x[3];
  if (IsHueFamily(op)) {
    HueX(op, s, d, x);
  } else {
    for (int n = 0; n < 3; ++n) x[n] = Separable(op, s.c[n], d.c[n]);
  }
  for (int n = 0; n < 3; ++n) d.c[n] = Mix(d.c[n], x[n], a);
  return d;
}

// The partial-destination form.
inline Px OpQ(int op, const Px& d, const Px& s, int opacity) {
  Px out = d;
  if (op == kInvertedExclusion) {
    int S = s.a * opacity;
    int F = S + 255 * d.a - (S / 255) * d.a;
    if (F == 0) return d;
    int a = Div255(S);
    int M = (d.a * (F / 255)) / 255;
    for (int n = 0; n < 3; ++n) {
      int x = IeScaled(d.c[n], Div255((255 - s.c[n]) * a));
      int N = (S * s.c[n] + d.c[n] * ((65025 - S) / 255) * d.a) / F;
      out.c[n] = (M * x + (255 - M) * N) / 255;
    }
    out.a = F / 255;
    return out;
  }
  int S = s.a * opacity;
  int a = Div255(S);
  int ad = Div255(d.a * 255);
  int F = S + d.a * 255 - ad * a;
  if (F == 0) return d;
  int x[3];
  if (op == kAddScaled) {
    for (int n = 0; n < 3; ++n) x[n] = Min(255, d.c[n] + Div255(s.c[n] * a));
  } else {
    if (IsHueFamily(op)) {
      HueX(op, s, d, x);
    } else {
      for (int n = 0; n < 3; ++n) x[n] = Separable(op, s.c[n], d.c[n]);
    }
    if (a <= 254) {
      for (int n = 0; n < 3; ++n) x[n] = Mix(d.c[n], x[n], a);
    }
  }
  int M = Div255(d.a * ((F + 510) >> 8));
  for (int n = 0; n < 3; ++n) {
    if (M <= 254) {
      int N = (d.c[n] * (255 - a) * ad + s.c[n] * S) / F;
      out.c[n] = Div255(N * (255 - M) + x[n] * M);
    } else {
      out.c[n] = x[n];
    }
  }
  out.a = Div255(F);
  return out;
}

inline Px ExpandColour(Px p) {
  for (int n = 0; n < 3; ++n) p.c[n] = T().expand[p.c[n]];
  return p;
}
inline Px CompressColour(Px p) {
  for (int n = 0; n < 3; ++n) p.c[n] = T().compress[p.c[n]];
  return p;
}

struct Params {
  int mode;
  int opacity;
  int gamma;
  std::uint32_t fill;
  std::uint32_t key;
};

// The new destination pixel for one source pixel under one mode.
inline std::uint32_t Blend(const Params& p, std::uint32_t dst, std::uint32_t src) {
  Px d = Unpack(dst);
  Px s = Unpack(src);
  int op = p.opacity;
  int mode = p.mode;

  if (mode >= 5 && mode <= 27) {
    if (s.a == 0) return dst;
    if (p.gamma == 0) return Pack(OpP(mode - 5, d, s, op));
    Px r = OpP(mode - 5, ExpandColour(d), ExpandColour(s), op);
    return Pack(CompressColour(r));
  }
  if (mode >= 29 && mode <= 51) {
    if (s.a == 0) return dst;
    if (d.a == 0) {
      if (op != 255) s.a = Div255(s.a * op);
      return Pack(s);
    }
    int k = mode - 29;
    Px dd = p.gamma ? ExpandColour(d) : d;
    Px ss = p.gamma ? ExpandColour(s) : s;
    Px r = d.a == 255 ? OpP(k, dd, ss, op) : OpQ(k, dd, ss, op);
    return Pack(p.gamma ? CompressColour(r) : r);
  }
  switch (mode) {
    case 1: return dst & src;
    case 2: return dst | src;
    case 4: {
      if (s.a == 0 || d.a == 0) return dst;
      if (s.a == 255 && op == 255) {
        for (int n = 0; n < 3; ++n) d.c[n] = s.c[n];
        return Pack(d);
      }
      int a = Div255(s.a * op);
      for (int n = 0; n < 3; ++n) {
        d.c[n] = p.gamma ? T().compress[Mix(T().expand[d.c[n]], T().expand[s.c[n]], a)]
                         : Mix(d.c[n], s.c[n], a);
      }
      return Pack(d);
    }
    case 28: {
      if (s.a == 0) return dst;
      if (d.a == 0) {
        if (op != 255) s.a = Div255(s.a * op);
        return Pack(s);
      }
      if (op == 255 && s.a == 255) return src;
      int S = s.a * op;
      int a = Div255(S);
      if (d.a == 255) {
        for (int n = 0; n < 3; ++n) {
          d.c[n] = p.gamma ? T().compress[Mix(T().expand[d.c[n]], T().expand[s.c[n]], a)]
                           : Mix(d.c[n], s.c[n], a);
        }
        return Pack(d);
      }
      int ad = Div255(d.a * 255);
      int F = S + d.a * 255 - a * ad;
      for (int n = 0; n < 3; ++n) {
        if (d.c[n] == s.c[n]) continue;
        if (p.gamma) {
          int q = (S * T().expand[s.c[n]] + (255 - a) * ad * T().expand[d.c[n]]) / F;
          d.c[n] = T().compress[q];
        } else {
          d.c[n] = (S * s.c[n] + (255 - a) * ad * d.c[n]) / F;
        }
      }
      d.a = Div255(F);
      return Pack(d);
    }
    case 52: {
      int m = s.a;
      if (m == 0) return dst;
      if (op == 255) {
        d.a = m == 255 ? 0 : Max(0, d.a - m);
      } else {
        d.a = Max(0, d.a - Div255(op * m));
      }
      return Pack(d);
    }
    case 53: {
      int m = s.a;
      if (m == 255) return dst;
      if (op == 255) {
        d.a = m == 0 ? 0 : Max(0, d.a + m - 255);
      } else {
        d.a = Max(0, d.a - Div255(op * (255 - m)));
      }
      return Pack(d);
    }
    case 54: {
      int m = s.a;
      if (m == 0) return dst;
      int e = op == 255 ? m : Div255(op * m);
      if (op == 255 && m == 255) {
        d.a = 0;
      } else if (d.a == 255) {
        d.a = d.a - e;
      } else {
        d.a = d.a - Div255(d.a * e);
      }
      return Pack(d);
    }
    case 63: {
      if (src == p.key || op == 0 || s.a == 0) return dst;
      if (s.a == 255 && op == 255) {
        for (int n = 0; n < 3; ++n) d.c[n] = s.c[n];
        return Pack(d);
      }
      int w = op == 255 ? s.a : Div255(op * s.a);
      for (int n = 0; n < 3; ++n) d.c[n] = Mix(d.c[n], s.c[n], w);
      return Pack(d);
    }
    case 64: {
      Px c = Unpack(p.fill);
      int m = s.a;
      if (m == 0) return dst;
      int S = c.a * m;
      int a = Div255(S);
      int ad = Div255(d.a * 255);
      int F = S + d.a * 255 - ad * a;
      if (F == 0) return dst;
      for (int n = 0; n < 3; ++n) {
        if (d.c[n] != c.c[n]) d.c[n] = (c.c[n] * S + (255 - a) * ad * d.c[n]) / F;
      }
      d.a = Div255(F);
      return Pack(d);
    }
  }
  return src;  // Copy and every number without a mode
}

}  // namespace ref
