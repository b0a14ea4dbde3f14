// The shell's road at the sizes Explorer asks for, and the parts a
// thumbnail cannot do without, for each reader's benchmark: GetThumbnail
// through the DLL's class factory (or, with a reader, a provider bound to its
// whole-picture form), the resampler alone into a reused image of the
// fitted size, and a fresh section's worth of memory written once.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compose/resample.h"
#include "dll/class_factory.h"
#include "lumo/image.h"
#include "platform/gdi.h"
#include "platform/shell.h"
#include "support/test_stream.h"
#include "thumb/thumbnail_provider.h"

namespace kez::bench {

inline void Rewind(IStream* stream) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

// GetThumbnail(cx) of the document, a new provider for each call; whole, if
// given, is the reader of the whole-picture road.
inline void GetThumbnailOf(benchmark::State& state, const std::vector<std::uint8_t>& document, std::int32_t kind,
                           UINT cx, bool (*whole)(lumo::CImage32&, IStream*) = nullptr) {
  kez::testing::TestStream stream(document);
  auto* factory = new ClassFactory(kind);
  for (auto _ : state) {
    Rewind(&stream);
    IInitializeWithStream* init = nullptr;
    if (whole != nullptr)
      init = new TeskThumbnailProvider(DocumentReader(whole));
    else
      factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
    init->Initialize(&stream, STGM_READ);
    IThumbnailProvider* provider = nullptr;
    init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider));
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (provider->GetThumbnail(cx, &bitmap, &alpha) != S_OK) state.SkipWithError("GetThumbnail failed");
    DeleteObject(bitmap);
    provider->Release();
    init->Release();
  }
  factory->Release();
}

inline void ResampleFittedOf(benchmark::State& state, const std::vector<std::uint32_t>& pixels, int side, int cx) {
  lumo::CImage32 source, fitted;
  if (!source.Resize(side, side) || !fitted.Resize(cx, cx)) {
    state.SkipWithError("image allocation failed");
    return;
  }
  std::memcpy(source.m_pixels, pixels.data(), pixels.size() * sizeof(std::uint32_t));
  for (auto _ : state) {
    lumo::Resample(fitted, source);
    benchmark::DoNotOptimize(fitted.m_pixels);
    benchmark::ClobberMemory();
  }
}

inline void FreshSection(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(state.range(0)) * static_cast<std::size_t>(state.range(0)) * 4;
  for (auto _ : state) {
    auto* memory = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
    std::memset(memory, 0x5A, bytes);
    benchmark::DoNotOptimize(memory);
    benchmark::ClobberMemory();
    std::free(memory);
  }
}

// The sizes: 96 and 256 (icons), 1024 (extra large on a high-DPI screen),
// 2048 (the preview pane), 2560 (the largest the cache keeps).
inline void Sizes(benchmark::internal::Benchmark* b) {
  for (const int cx : {96, 256, 1024, 2048, 2560}) b->Arg(cx);
  b->ArgName("cx")->Unit(benchmark::kMillisecond);
}

}  // namespace kez::bench
