// Resample beside stb's box-filter resizer (RGBA8, straight alpha), and point
// sampling at the same size beside memcpy. Inputs are painting-like pictures.
// RowsResample feeds the same picture row by row (in 64 KiB pieces, as a
// decoder hands them over) to the row resampler.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "compose/resample.h"
#include "compose/resample_rows.h"
#include "support/picture.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#endif
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include "stb_image_resize.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

void Resample(benchmark::State& state) {
  const int sw = static_cast<int>(state.range(0)), sh = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2)), dh = static_cast<int>(state.range(3));
  lumo::CImage32 src, dst;
  if (!kez::testing::FillPaintingLikePicture(src, sw, sh, 1) || !dst.Resize(dw, dh)) {
    state.SkipWithError("image allocation failed");
    return;
  }
  for (auto _ : state) {
    lumo::Resample(dst, src);
    benchmark::DoNotOptimize(dst.m_pixels);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{sw} * sh * 4);
}

void RowsResample(benchmark::State& state) {
  const int sw = static_cast<int>(state.range(0)), sh = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2)), dh = static_cast<int>(state.range(3));
  const std::vector<std::uint32_t> src = kez::testing::PaintingLikePicture(sw, sh, 1);
  lumo::CImage32 dst;
  if (!dst.Resize(dw, dh) || !lumo::RowResampler::Applies(dw, dh, sw, sh)) {
    state.SkipWithError("the rows road does not take these sizes");
    return;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(src.data());
  const std::size_t total = src.size() * 4;
  for (auto _ : state) {
    lumo::RowResampler rows(lumo::RowTarget::Of(dst), sw, sh);
    for (std::size_t at = 0; at < total;) {
      std::size_t room = 0;
      unsigned char* space = rows.Space(&room);
      const std::size_t n = std::min({room, total - at, std::size_t{65536}});
      std::memcpy(space, bytes + at, n);
      rows.Wrote(n);
      at += n;
    }
    benchmark::DoNotOptimize(dst.m_pixels);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{sw} * sh * 4);
}

void StbBox(benchmark::State& state) {
  const int sw = static_cast<int>(state.range(0)), sh = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2)), dh = static_cast<int>(state.range(3));
  const std::vector<std::uint32_t> src = kez::testing::PaintingLikePicture(sw, sh, 1);
  std::vector<std::uint32_t> dst(static_cast<std::size_t>(dw) * dh);
  for (auto _ : state) {
    const int ok = stbir_resize_uint8_generic(
        reinterpret_cast<const unsigned char*>(src.data()), sw, sh, 0,
        reinterpret_cast<unsigned char*>(dst.data()), dw, dh, 0, 4, 3, 0, STBIR_EDGE_CLAMP,
        STBIR_FILTER_BOX, STBIR_COLORSPACE_LINEAR, nullptr);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{sw} * sh * 4);
}

void Memcpy(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const std::vector<std::uint32_t> src = kez::testing::PaintingLikePicture(w, h, 1);
  std::vector<std::uint32_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size() * sizeof(std::uint32_t));
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{w} * h * 4);
}

// The fastest of the repetitions: on a shared machine the least disturbed
// run is the one to compare (use --benchmark_repetitions=N).
double Fastest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }

#define KEZ_SIZES(fn)                                \
  BENCHMARK(fn)                                      \
      ->Args({1024, 1024, 256, 256})                 \
      ->Args({1000, 700, 256, 179})                  \
      ->Args({100, 100, 256, 256})                   \
      ->Args({4096, 4096, 256, 256})                 \
      ->Args({1024, 1024, 96, 96})                   \
      ->ComputeStatistics("min", Fastest)            \
      ->Unit(benchmark::kMicrosecond)

KEZ_SIZES(Resample);
KEZ_SIZES(RowsResample);
KEZ_SIZES(StbBox);
// Same size: point sampling copies pixel for pixel.
BENCHMARK(Resample)
    ->Name("ResampleSameSize")
    ->Args({1024, 1024, 1024, 1024})
    ->ComputeStatistics("min", Fastest)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Memcpy)->Args({1024, 1024})->ComputeStatistics("min", Fastest)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
