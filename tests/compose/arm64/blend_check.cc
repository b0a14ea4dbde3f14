// The blend rows on ARM64 (the NEON paths), run under emulation by
// scripts/check-arm64: a seeded sweep of every mode number against the
// plain reference, long runs of opaque layers (the sixteen-pixel paths), and
// the hue-family checksum, which must be the same value as on x86-64.
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <vector>

#include "compose/blend.h"
#include "compose/blend_reference.h"
#include "compose/hue_checksum.h"

using namespace lumo;

namespace {

long g_bad = 0, g_total = 0;

// Blends s onto d with the row of the mode and compares every pixel with
// the reference; the first mismatches are printed.
void Check(DrawParams p, std::vector<std::uint32_t> d, const std::vector<std::uint32_t>& s) {
  const ref::Params rp{p.mode, p.opacity, p.gamma, p.fillColour, p.keyColour};
  std::vector<std::uint32_t> want(d.size());
  for (std::size_t i = 0; i < d.size(); ++i) want[i] = ref::Blend(rp, d[i], s[i]);
  SelectRowBlender(p)(p, d.data(), s.data(), static_cast<std::int32_t>(d.size()));
  for (std::size_t i = 0; i < d.size(); ++i) {
    ++g_total;
    if (d[i] != want[i] && g_bad++ < 10) {
      std::printf("mode %d opacity %d gamma %d pixel %zu: got %08x, want %08x\n", p.mode, p.opacity, p.gamma, i,
                  d[i], want[i]);
    }
  }
}

DrawParams Params(int mode, int opacity, int gamma) {
  DrawParams p;
  p.mode = mode;
  p.opacity = static_cast<std::uint8_t>(opacity);
  p.gamma = static_cast<std::uint8_t>(gamma);
  return p;
}

}  // namespace

int main() {
  std::mt19937 rng(1);
  // Short spans: destination alpha opaque, clear, partial or any; source
  // alpha opaque, clear or any, some sources white.
  for (int mode = -1; mode <= 65; ++mode) {
    for (int opacity : {0, 1, 128, 255}) {
      for (int gamma : {0, 1}) {
        for (int rep = 0; rep < 40; ++rep) {
          const int n = 1 + static_cast<int>(rng() % 37);
          std::vector<std::uint32_t> d(n), s(n);
          const int dk = static_cast<int>(rng() % 4), sk = static_cast<int>(rng() % 4);
          for (int i = 0; i < n; ++i) {
            const std::uint32_t da = dk == 0 ? 255 : dk == 1 ? 0 : dk == 2 ? 1 + rng() % 254 : rng() % 256;
            const std::uint32_t sa = sk == 0 ? 255 : sk == 1 ? 0 : rng() % 256;
            d[i] = (rng() & 0xFFFFFF) | da << 24;
            s[i] = (rng() & 0xFFFFFF) | sa << 24;
            if (rng() % 8 == 0) s[i] = (s[i] & 0xFF000000) | 0xFFFFFF;
          }
          DrawParams p = Params(mode, opacity, gamma);
          p.keyColour = s[rng() % n];
          p.fillColour = rng();
          Check(p, d, s);
        }
      }
    }
  }
  // Opaque layers in long runs over opaque destinations, one partial pixel
  // among them, or mixed ones.
  for (int mode = 5; mode <= 51; ++mode) {
    for (int opacity : {254, 255}) {
      for (int rep = 0; rep < 12; ++rep) {
        const int n = 16 + static_cast<int>(rng() % 55);
        std::vector<std::uint32_t> d(n), s(n);
        const int dk = rep % 3;
        for (int i = 0; i < n; ++i) {
          const std::uint32_t da = dk == 0 || (dk == 1 && i != 18) ? 255 : rng() % 256;
          d[i] = (rng() & 0xFFFFFF) | da << 24;
          s[i] = (rng() & 0xFFFFFF) | 0xFF000000u;
          if (rng() % 8 == 0) s[i] = 0xFFFFFFFFu;
        }
        Check(Params(mode, opacity, 0), d, s);
      }
    }
  }
  std::printf("%ld mismatches of %ld pixels\n", g_bad, g_total);
  const unsigned long long sum = kez::testing::HueFamilyChecksum();
  std::printf("hue-family checksum %016llX\n", sum);
  return g_bad != 0 || sum != kez::testing::kHueFamilyChecksum;
}
