// The hue family's checksum: every build, x86-64 and ARM64 alike, must give it.
#pragma once

#include <cstdint>
#include <cstring>

#include "compose/blend.h"
#include "compose/colour.h"

namespace kez::testing {

// FNV-1a over the colour helpers' results and the hue-family modes on fixed
// inputs. The constant was taken from one build; every build (Release,
// sanitised RelWithDebInfo, other compilers and processors) must reproduce
// it, which catches contracted multiply-adds, excess precision and
// reordering.
class HueFnv {
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

inline constexpr std::uint64_t kHueFamilyChecksum = 0xFF2F0AB832B3EA2Aull;

inline std::uint64_t HueFamilyChecksum() {
  using namespace lumo;
  HueFnv fnv;
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
  return fnv.Value();
}

}  // namespace kez::testing
