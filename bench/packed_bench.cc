// Reading the preview of a packed document with a 1024x1024 painting-like
// preview, stored raw and zlib-compressed (level 6), beside zlib's own
// uncompress of the same stream. "staged" gives the preview block a rawSize
// larger than the preview, so the reader inflates into a buffer of its own
// and copies, instead of inflating straight into the image. Then the zlib
// document's GetThumbnail at the sizes Explorer asks for (1024 and up
// enlarge the preview, as the shell asks for them all the same), beside its
// parts: the reading alone above, the resampling alone, a fresh section.
//
//   build/<dir>/bench/packed_bench --benchmark_min_time=1
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <memory>

#include "formats/packed/packed_reader.h"
#include "support/packed_writer.h"
#include "support/picture.h"
#include "thumbnail_sizes.h"

namespace {

constexpr int kSide = 1024;
constexpr std::size_t kBytes = std::size_t{kSide} * kSide * 4;

struct Fixture {
  Fixture() {
    const auto pixels = kez::testing::PaintingLikePicture(kSide, kSide, 7);
    raw = kez::testing::WritePackedDocument(kez::testing::MakePackedPreviewDocument(kSide, kSide, pixels, false));
    kez::testing::PackedDocument z = kez::testing::MakePackedPreviewDocument(kSide, kSide, pixels, true);
    zlib = kez::testing::WritePackedDocument(z);
    z.blocks[1].rawSize = static_cast<std::uint32_t>(kBytes + 4096);
    staged = kez::testing::WritePackedDocument(z);
    stream = kez::testing::ZlibCompress(kez::testing::PixelBytes(pixels));
    picture = pixels;
  }
  std::vector<std::uint8_t> raw, zlib, staged, stream;
  std::vector<std::uint32_t> picture;
};

const Fixture& Data() {
  static const Fixture fixture;
  return fixture;
}

void Read(benchmark::State& state, const std::vector<std::uint8_t>& document) {
  kez::testing::TestStream stream(document);
  for (auto _ : state) {
    kez::bench::Rewind(&stream);
    lumo::CImage32 image;
    if (!ReadPackedDocument(image, &stream) || image.m_width != kSide) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(image.m_pixels);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBytes));
}

void BM_ReadPackedRaw(benchmark::State& state) { Read(state, Data().raw); }
void BM_ReadPackedZlib(benchmark::State& state) { Read(state, Data().zlib); }
void BM_ReadPackedZlibStaged(benchmark::State& state) { Read(state, Data().staged); }
BENCHMARK(BM_ReadPackedRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPackedZlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPackedZlibStaged)->Unit(benchmark::kMillisecond);

// The peer: zlib's uncompress into a fresh buffer, nothing else.
void BM_ZlibUncompressAlone(benchmark::State& state) {
  const std::vector<std::uint8_t>& z = Data().stream;
  for (auto _ : state) {
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[kBytes]);
    uLongf size = kBytes;
    if (uncompress(out.get(), &size, z.data(), static_cast<uLong>(z.size())) != Z_OK || size != kBytes)
      state.SkipWithError("uncompress failed");
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBytes));
}
BENCHMARK(BM_ZlibUncompressAlone)->Unit(benchmark::kMillisecond);

void BM_GetThumbnail(benchmark::State& state) {
  kez::bench::GetThumbnailOf(state, Data().zlib, ClassFactory::kPackedKind, static_cast<UINT>(state.range(0)));
}
void BM_ResampleFitted(benchmark::State& state) {
  kez::bench::ResampleFittedOf(state, Data().picture, kSide, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_GetThumbnail)->Apply(kez::bench::Sizes);
BENCHMARK(BM_ResampleFitted)->Apply(kez::bench::Sizes);
BENCHMARK(kez::bench::FreshSection)->Name("BM_FreshSection")->Apply(kez::bench::Sizes);

}  // namespace

BENCHMARK_MAIN();
