// The provider's own share of a thumbnail request: the bottom-up copy into
// the DIB beside a plain memcpy of the same bytes, and a whole GetThumbnail
// (reader handing over a ready picture) beside Resample alone.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "compose/resample.h"
#include "support/picture.h"
#include "support/test_stream.h"
#include "thumb/thumbnail_bitmap.h"
#include "thumb/thumbnail_provider.h"

namespace {

void CopyIntoSectionRows(benchmark::State& state) {
  const int cx = static_cast<int>(state.range(0));
  lumo::CImage32 image;
  if (!kez::testing::FillPaintingLikePicture(image, cx, cx, 1)) {
    state.SkipWithError("image allocation failed");
    return;
  }
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(cx) * cx * 4);
  for (auto _ : state) {
    CopyIntoSection(image, cx, 0, 0, bits.data());
    benchmark::DoNotOptimize(bits.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{cx} * cx * 4);
}

void MemcpySameBytes(benchmark::State& state) {
  const int cx = static_cast<int>(state.range(0));
  const std::vector<std::uint32_t> picture = kez::testing::PaintingLikePicture(cx, cx, 1);
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(cx) * cx * 4);
  for (auto _ : state) {
    std::memcpy(bits.data(), picture.data(), bits.size());
    benchmark::DoNotOptimize(bits.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{cx} * cx * 4);
}

void WholeGetThumbnail(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const auto cx = static_cast<UINT>(state.range(1));
  const std::vector<std::uint32_t> picture = kez::testing::PaintingLikePicture(side, side, 1);
  // The reader only hands over the picture: what remains is the provider's work.
  const DocumentReader reader = [&](lumo::CImage32& image, IStream*) {
    if (!image.Resize(side, side)) return false;
    std::memcpy(image.m_pixels, picture.data(), picture.size() * 4);
    return true;
  };
  kez::testing::TestStream stream({0});
  for (auto _ : state) {
    auto* provider = new TeskThumbnailProvider(reader);
    provider->Initialize(&stream, STGM_READ);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (provider->GetThumbnail(cx, &bitmap, &alpha) != S_OK) state.SkipWithError("no thumbnail");
    provider->Release();
    DeleteObject(bitmap);
  }
}

void ResampleAlone(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const int cx = static_cast<int>(state.range(1));
  lumo::CImage32 src, dst;
  if (!kez::testing::FillPaintingLikePicture(src, side, side, 1) || !dst.Resize(cx, cx)) {
    state.SkipWithError("image allocation failed");
    return;
  }
  for (auto _ : state) {
    lumo::Resample(dst, src);
    benchmark::DoNotOptimize(dst.m_pixels);
    benchmark::ClobberMemory();
  }
}

void CopyPictureAlone(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const std::vector<std::uint32_t> picture = kez::testing::PaintingLikePicture(side, side, 1);
  for (auto _ : state) {
    lumo::CImage32 image;
    image.Resize(side, side);
    std::memcpy(image.m_pixels, picture.data(), picture.size() * 4);
    benchmark::DoNotOptimize(image.m_pixels);
    benchmark::ClobberMemory();
  }
}

BENCHMARK(CopyIntoSectionRows)->Arg(96)->Arg(256)->Arg(1024);
BENCHMARK(MemcpySameBytes)->Arg(96)->Arg(256)->Arg(1024);
BENCHMARK(WholeGetThumbnail)->Args({1024, 256})->Args({256, 256});
BENCHMARK(ResampleAlone)->Args({1024, 256})->Args({256, 256});
BENCHMARK(CopyPictureAlone)->Arg(1024)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
