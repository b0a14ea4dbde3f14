// The blend rows on ARM64 (the NEON paths), run under emulation by
// scripts/check-arm64: a seeded sweep of every mode number against the
// plain reference, and the hue-family checksum of colour_test.cc, which must
// be the same value as on x86-64.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "compose/blend.h"
#include "compose/blend_reference.h"
#include "compose/colour.h"

using namespace lumo;

namespace {
class Fnv {
 public:
  void Add(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
      hash_ ^= (v >> (8 * i)) & 0xFF;
      hash_ *= 0x100000001B3ull;
    }
  }
  void AddFloat(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    Add(bits);
  }
  std::uint64_t Value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xCBF29CE484222325ull;
};

}  // namespace

int main() {
  std::mt19937 rng(1);
  long bad = 0, total = 0;
  for (int mode = -1; mode <= 65; ++mode)
    for (int op : {0, 1, 128, 255})
      for (int g : {0, 1})
        for (int rep = 0; rep < 40; ++rep) {
          int n = 1 + rng() % 37;
          std::vector<uint32_t> d(n), s(n);
          int dk = rng() % 4, sk = rng() % 4;
          for (int i = 0; i < n; ++i) {
            uint32_t da = dk == 0 ? 255 : dk == 1 ? 0 : dk == 2 ? 1 + rng() % 254 : rng() % 256;
            uint32_t sa = sk == 0 ? 255 : sk == 1 ? 0 : rng() % 256;
            d[i] = (rng() & 0xFFFFFF) | da << 24;
            s[i] = (rng() & 0xFFFFFF) | sa << 24;
            if (rng() % 8 == 0) s[i] = (s[i] & 0xFF000000) | 0xFFFFFF;
          }
          DrawParams p; p.mode = mode; p.opacity = op; p.gamma = g;
          p.keyColour = s[rng() % n]; p.fillColour = rng();
          ref::Params rp{mode, op, g, p.fillColour, p.keyColour};
          std::vector<uint32_t> e(n);
          for (int i = 0; i < n; ++i) e[i] = ref::Blend(rp, d[i], s[i]);
          SelectRowBlender(p)(p, d.data(), s.data(), n);
          for (int i = 0; i < n; ++i) { ++total; if (d[i] != e[i]) { if (bad++ < 10) printf("mode %d op %d g %d i %d got %08x want %08x\n", mode, op, g, i, d[i], e[i]); } }
        }
  // Opaque layers in long runs: the sixteen-pixel paths.
  for (int mode = 5; mode <= 51; ++mode)
    for (int op : {254, 255})
      for (int rep = 0; rep < 12; ++rep) {
        int n = 16 + rng() % 55;
        std::vector<uint32_t> d(n), s(n);
        int dk = rep % 3;  // opaque, one partial pixel, mixed
        for (int i = 0; i < n; ++i) {
          uint32_t da = dk == 0 || (dk == 1 && i != 18) ? 255 : rng() % 256;
          d[i] = (rng() & 0xFFFFFF) | da << 24;
          s[i] = (rng() & 0xFFFFFF) | 0xFF000000u;
          if (rng() % 8 == 0) s[i] = 0xFFFFFFFFu;
        }
        DrawParams p; p.mode = mode; p.opacity = op; p.gamma = 0;
        ref::Params rp{mode, op, 0, p.fillColour, p.keyColour};
        std::vector<uint32_t> e(n);
        for (int i = 0; i < n; ++i) e[i] = ref::Blend(rp, d[i], s[i]);
        SelectRowBlender(p)(p, d.data(), s.data(), n);
        for (int i = 0; i < n; ++i) { ++total; if (d[i] != e[i]) { if (bad++ < 10) printf("mode %d op %d long i %d got %08x want %08x\n", mode, op, i, d[i], e[i]); } }
      }
  std::printf("%ld mismatches of %ld pixels\n", bad, total);


  Fnv fnv;
  std::uint32_t state = 0xC0FFEE;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::uint32_t v = next();
    const HueChromaLuma m = ColourMetrics(static_cast<std::uint8_t>(v >> 8),
                                          static_cast<std::uint8_t>(v >> 16),
                                          static_cast<std::uint8_t>(v >> 24));
    fnv.AddFloat(m.hue);
    fnv.AddFloat(m.chroma);
    fnv.AddFloat(m.luma);
  }
  for (int h = 0; h < 360; h += 7) {
    for (int k = 0; k <= 16; ++k) {
      for (int y = 0; y <= 16; ++y) {
        const RgbValues v = HueChromaLumaToRgb(h + 0.25f, k / 16.0f, y / 16.0f, 255);
        fnv.Add(v.r);
        fnv.Add(v.g);
        fnv.Add(v.b);
      }
    }
  }
  constexpr int kPixels = 512;
  std::uint32_t src[kPixels];
  std::uint32_t dst[kPixels];
  for (std::int32_t mode : {22, 23, 24, 25, 46, 47, 48, 49}) {
    for (std::uint8_t gamma : {0, 1}) {
      for (std::uint8_t opacity : {128, 255}) {
        for (int i = 0; i < kPixels; ++i) {
          src[i] = next();
          dst[i] = next();
        }
        DrawParams p;
        p.mode = mode;
        p.gamma = gamma;
        p.opacity = opacity;
        SelectRowBlender(p)(p, dst, src, kPixels);
        for (std::uint32_t d : dst) fnv.Add(d);
      }
    }
  }
  const unsigned long long sum = fnv.Value();
  std::printf("hue-family checksum %016llX\n", sum);
  return bad != 0 || sum != 0xFF2F0AB832B3EA2Aull;
}
