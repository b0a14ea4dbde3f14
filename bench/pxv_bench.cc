// Reading the stored thumbnail of a 1024x1024 ".kez" document (zstd level 3,
// a painting-like picture with a one-level canvas grain, which compresses
// about 2:1 like real paintings; without grain it compresses 19:1 and
// decompresses four times faster than any real document): the reader alone
// and the whole GetThumbnail at the sizes Explorer asks for (rows decoded
// straight into the resampler and on into the section; at 256 the whole
// picture's road beside it), the parts a thumbnail cannot do without (the
// reading alone, the resampling alone, a fresh section written once), and
// decompressing the same zstd frames with the library alone, in one call or
// streamed through a small buffer.
//
//   build/<dir>/bench/pxv_bench --benchmark_min_time=1
#include <benchmark/benchmark.h>
#include <zstd.h>

#include <memory>

#include "formats/pxv/pxv_reader.h"
#include "support/kez_writer.h"
#include "support/picture.h"
#include "thumbnail_sizes.h"

namespace {

constexpr int kGrain = 1;

struct Fixture {
  Fixture() {
    picture.width = 1024;
    picture.height = 1024;
    picture.pixels = kez::testing::PaintingLikePicture(1024, 1024, 7, kGrain);
    kez::testing::KezOptions options;
    options.blob = kez::testing::KezOptions::Blob::Zstd;
    options.zstd.level = 3;
    document = kez::testing::BuildKezBytes(picture, options);
    frames = kez::testing::ZstdFrames(picture.Bytes(), options.zstd);
  }
  kez::testing::KezPicture picture;
  std::vector<std::uint8_t> document;
  std::vector<std::uint8_t> frames;
};

const Fixture& Data() {
  static const Fixture fixture;
  return fixture;
}

using kez::bench::Rewind;

// The library alone: one context, and an output buffer allocated per call
// (uninitialised, as any reader must get one) or reused across calls.
void BM_ZstdAlone(benchmark::State& state) {
  const Fixture& data = Data();
  const bool reuse = state.range(0) != 0;
  ZSTD_DCtx* context = ZSTD_createDCtx();
  const std::size_t size = 1024 * 1024 * 4;
  std::unique_ptr<std::uint8_t[]> kept(new std::uint8_t[size]);
  for (auto _ : state) {
    std::unique_ptr<std::uint8_t[]> fresh(reuse ? nullptr : new std::uint8_t[size]);
    std::uint8_t* out = reuse ? kept.get() : fresh.get();
    const std::size_t n = ZSTD_decompressDCtx(context, out, size, data.frames.data(), data.frames.size());
    if (n != size) state.SkipWithError("decompression failed");
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  ZSTD_freeDCtx(context);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
  state.counters["compressed"] = static_cast<double>(data.frames.size());
}
BENCHMARK(BM_ZstdAlone)->ArgName("reuse")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The library streaming the frames through a 32 KiB buffer, as the rows
// road does: its own window of history instead of a 4 MiB output.
void BM_ZstdStreamed(benchmark::State& state) {
  const Fixture& data = Data();
  ZSTD_DCtx* context = ZSTD_createDCtx();
  std::vector<std::uint8_t> out(32 * 1024);
  for (auto _ : state) {
    ZSTD_DCtx_reset(context, ZSTD_reset_session_only);
    ZSTD_inBuffer in{data.frames.data(), data.frames.size(), 0};
    std::size_t hint = 1, total = 0;
    while (hint != 0) {
      ZSTD_outBuffer o{out.data(), out.size(), 0};
      hint = ZSTD_decompressStream(context, &o, &in);
      if (ZSTD_isError(hint)) {
        state.SkipWithError("decompression failed");
        break;
      }
      total += o.pos;
      benchmark::DoNotOptimize(out.data());
    }
    if (total != 1024 * 1024 * 4) state.SkipWithError("short output");
  }
  ZSTD_freeDCtx(context);
  state.SetBytesProcessed(state.iterations() * 1024 * 1024 * 4);
}
BENCHMARK(BM_ZstdStreamed)->Unit(benchmark::kMillisecond);

void BM_ReadPxvDocument(benchmark::State& state) {
  const Fixture& data = Data();
  kez::testing::TestStream stream(data.document);
  for (auto _ : state) {
    Rewind(&stream);
    lumo::CImage32 image;
    if (!ReadPxvDocument(image, &stream) || image.m_width != 1024) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(image.m_pixels);
  }
  state.SetBytesProcessed(state.iterations() * 1024 * 1024 * 4);
}
BENCHMARK(BM_ReadPxvDocument)->Unit(benchmark::kMillisecond);

// The shell's road at a size; with whole = 1 a provider bound to the
// reader's whole-picture form (decoded into a 4 MiB image, then
// resampled).
void BM_GetThumbnail(benchmark::State& state) {
  bool (*whole)(lumo::CImage32&, IStream*) = ReadPxvDocument;
  kez::bench::GetThumbnailOf(state, Data().document, ClassFactory::kPxvKind, static_cast<UINT>(state.range(0)),
                             state.range(1) != 0 ? whole : nullptr);
}
BENCHMARK(BM_GetThumbnail)
    ->ArgNames({"cx", "whole"})
    ->ArgsProduct({{96, 256, 1024, 2048, 2560}, {0}})
    ->Args({256, 1})
    ->Unit(benchmark::kMillisecond);

void BM_ResampleFitted(benchmark::State& state) {
  kez::bench::ResampleFittedOf(state, Data().picture.pixels, 1024, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_ResampleFitted)->Apply(kez::bench::Sizes);
BENCHMARK(kez::bench::FreshSection)->Name("BM_FreshSection")->Apply(kez::bench::Sizes);

}  // namespace

BENCHMARK_MAIN();
