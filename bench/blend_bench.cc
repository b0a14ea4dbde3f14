// Every blend mode on 4096-pixel spans beside pixman's operator on the same
// bytes (a8r8g8b8, 4096x1), for opaque, partially transparent and
// transparent destinations. Each iteration first restores the destination
// from a pristine copy (on both sides, so the cost is shared; the "reset"
// benchmark shows it alone), because most modes change the destination's
// alpha class. The source has random colours and uniformly random alpha,
// opacity 255, gamma off; a few rows repeat with the same colours as an
// opaque layer. scripts/bench-blend prints the ratios.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compose/blend.h"

namespace {

constexpr int kSpan = 4096;

enum class Dest { Opaque, Partial, Transparent };
constexpr Dest kDests[] = {Dest::Opaque, Dest::Partial, Dest::Transparent};
const char* DestName(Dest d) {
  return d == Dest::Opaque ? "opaque" : d == Dest::Partial ? "partial" : "transparent";
}

struct Spans {
  std::vector<std::uint32_t> src;
  std::vector<std::uint32_t> opaqueSrc;  // the same colours at alpha 255: an opaque layer
  std::vector<std::uint32_t> dst[3];
};

const Spans& TheSpans() {
  static const Spans spans = [] {
    Spans s;
    std::mt19937 rng(20240611);
    s.src.resize(kSpan);
    for (auto& v : s.src) v = rng();
    s.opaqueSrc = s.src;
    for (auto& v : s.opaqueSrc) v |= 0xFF000000u;
    for (Dest d : kDests) {
      auto& dst = s.dst[static_cast<int>(d)];
      dst.resize(kSpan);
      for (auto& v : dst) {
        const std::uint32_t rgb = rng() & 0xFFFFFFu;
        const std::uint32_t a = d == Dest::Opaque ? 255 : d == Dest::Partial ? 1 + rng() % 254 : 0;
        v = rgb | a << 24;
      }
    }
    return s;
  }();
  return spans;
}

// Per mode: its name and pixman's operator for it (the same operation in
// premultiplied form), or none.
struct ModeInfo {
  int mode;
  const char* name;
};
constexpr ModeInfo kModes[] = {
    {0, "Copy"}, {1, "And"}, {2, "Or"}, {4, "NormalKeepAlpha"}, {5, "AddKeepAlpha"},
    {6, "AddScaledKeepAlpha"}, {7, "SubtractKeepAlpha"}, {8, "MultiplyKeepAlpha"},
    {9, "DivideKeepAlpha"}, {10, "OverlayKeepAlpha"}, {11, "ScreenKeepAlpha"},
    {12, "LightenKeepAlpha"}, {13, "DarkenKeepAlpha"}, {14, "DifferenceKeepAlpha"},
    {15, "ExclusionKeepAlpha"}, {16, "ColourDodgeKeepAlpha"}, {17, "ColourBurnKeepAlpha"},
    {18, "LinearDodgeKeepAlpha"}, {19, "LinearBurnKeepAlpha"}, {20, "SoftLightKeepAlpha"},
    {21, "HardLightKeepAlpha"}, {22, "HueKeepAlpha"}, {23, "SaturationKeepAlpha"},
    {24, "ColourKeepAlpha"}, {25, "LuminosityKeepAlpha"}, {26, "HardMixKeepAlpha"},
    {27, "InvertedExclusionKeepAlpha"}, {28, "Normal"}, {29, "Add"}, {30, "AddScaled"},
    {31, "Subtract"}, {32, "Multiply"}, {33, "Divide"}, {34, "Overlay"}, {35, "Screen"},
    {36, "Lighten"}, {37, "Darken"}, {38, "Difference"}, {39, "Exclusion"},
    {40, "ColourDodge"}, {41, "ColourBurn"}, {42, "LinearDodge"}, {43, "LinearBurn"},
    {44, "SoftLight"}, {45, "HardLight"}, {46, "Hue"}, {47, "Saturation"}, {48, "Colour"},
    {49, "Luminosity"}, {50, "HardMix"}, {51, "InvertedExclusion"}, {52, "EraseAlpha"},
    {53, "EraseInverseAlpha"}, {54, "EraseAlphaScaled"}, {63, "NormalKeyed"}, {64, "FillMask"},
};

struct PixmanOp {
  pixman_op_t op;
  const char* name;
};
constexpr PixmanOp kPixmanOps[] = {
    {PIXMAN_OP_SRC, "SRC"},
    {PIXMAN_OP_OVER, "OVER"},
    {PIXMAN_OP_ADD, "ADD"},
    {PIXMAN_OP_MULTIPLY, "MULTIPLY"},
    {PIXMAN_OP_SCREEN, "SCREEN"},
    {PIXMAN_OP_OVERLAY, "OVERLAY"},
    {PIXMAN_OP_DARKEN, "DARKEN"},
    {PIXMAN_OP_LIGHTEN, "LIGHTEN"},
    {PIXMAN_OP_COLOR_DODGE, "COLOR_DODGE"},
    {PIXMAN_OP_COLOR_BURN, "COLOR_BURN"},
    {PIXMAN_OP_HARD_LIGHT, "HARD_LIGHT"},
    {PIXMAN_OP_SOFT_LIGHT, "SOFT_LIGHT"},
    {PIXMAN_OP_DIFFERENCE, "DIFFERENCE"},
    {PIXMAN_OP_EXCLUSION, "EXCLUSION"},
    {PIXMAN_OP_HSL_HUE, "HSL_HUE"},
    {PIXMAN_OP_HSL_SATURATION, "HSL_SATURATION"},
    {PIXMAN_OP_HSL_COLOR, "HSL_COLOR"},
    {PIXMAN_OP_HSL_LUMINOSITY, "HSL_LUMINOSITY"},
};

void Reset(benchmark::State& state, Dest dest) {
  const Spans& spans = TheSpans();
  std::vector<std::uint32_t> dst(kSpan);
  for (auto _ : state) {
    std::memcpy(dst.data(), spans.dst[static_cast<int>(dest)].data(), kSpan * 4);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSpan);
}

void Blend(benchmark::State& state, int mode, Dest dest, bool opaqueLayer) {
  const Spans& spans = TheSpans();
  const std::vector<std::uint32_t>& src = opaqueLayer ? spans.opaqueSrc : spans.src;
  std::vector<std::uint32_t> dst(kSpan);
  lumo::DrawParams params;
  params.mode = mode;
  params.opacity = 255;
  params.gamma = 0;
  params.fillColour = 0xC0208040u;
  params.keyColour = spans.src[17];
  const lumo::RowBlender row = lumo::SelectRowBlender(params);
  for (auto _ : state) {
    std::memcpy(dst.data(), spans.dst[static_cast<int>(dest)].data(), kSpan * 4);
    row(params, dst.data(), src.data(), kSpan);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSpan);
}

void Pixman(benchmark::State& state, pixman_op_t op, Dest dest, bool opaqueLayer) {
  const Spans& spans = TheSpans();
  std::vector<std::uint32_t> src = opaqueLayer ? spans.opaqueSrc : spans.src;
  std::vector<std::uint32_t> dst(kSpan);
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSpan, 1, src.data(), kSpan * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSpan, 1, dst.data(), kSpan * 4);
  for (auto _ : state) {
    std::memcpy(dst.data(), spans.dst[static_cast<int>(dest)].data(), kSpan * 4);
    pixman_image_composite32(op, s, nullptr, d, 0, 0, 0, 0, 0, 0, kSpan, 1);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * kSpan);
}

const int kRegistered = [] {
  for (Dest dest : kDests) {
    benchmark::RegisterBenchmark((std::string("reset/") + DestName(dest)).c_str(), Reset, dest);
  }
  for (const ModeInfo& m : kModes) {
    for (Dest dest : kDests) {
      benchmark::RegisterBenchmark(
          (std::string("blend/") + m.name + "/" + DestName(dest)).c_str(), Blend, m.mode, dest, false);
    }
  }
  for (const PixmanOp& p : kPixmanOps) {
    for (Dest dest : kDests) {
      benchmark::RegisterBenchmark(
          (std::string("pixman/") + p.name + "/" + DestName(dest)).c_str(), Pixman, p.op, dest, false);
    }
  }
  // For information: an opaque layer over an opaque destination, the usual
  // case in a painting, for the modes measured against plain SIMD.
  for (const ModeInfo& m : {ModeInfo{28, "Normal"}, ModeInfo{29, "Add"}, ModeInfo{42, "LinearDodge"}}) {
    benchmark::RegisterBenchmark((std::string("layer/") + m.name + "/opaque").c_str(), Blend, m.mode, Dest::Opaque,
                                 true);
  }
  for (const PixmanOp& p : {PixmanOp{PIXMAN_OP_OVER, "OVER"}, PixmanOp{PIXMAN_OP_ADD, "ADD"}}) {
    benchmark::RegisterBenchmark((std::string("pixman-layer/") + p.name + "/opaque").c_str(), Pixman, p.op,
                                 Dest::Opaque, true);
  }
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
