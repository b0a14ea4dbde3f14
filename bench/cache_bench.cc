// Filling the thumbnail cache in bulk: `kezthumb --cache` over a generated
// corpus of 300 documents (both formats, previews from 48 x 48 to 1024 x 768,
// compressed and raw) with one and two workers, the real program in its own
// process as a desktop session would run it; documents per second and the
// run's peak resident memory. Beside it: the time zstd (and zlib) alone need
// to decompress the same previews, the floor any reader stands on.
//
// Then the large case, 60 copies of a 1024 x 1024 painting with a coarse
// grain (zstd, 3.9 MB each): the bulk fill with one worker (CPU ms per
// document) and the desktop's one-file run `kezthumb -s 256 IN OUT` (wall
// time), each beside its parts in this process: zstd alone on the preview,
// the whole server road to the 256 x 256 pixels (read, decode, resample,
// bitmap), and writing the PNG alone. The one-file run reports its peak
// resident memory above `kezthumb --version`'s. The peer: the desktop's own
// PNG thumbnailer, `gdk-pixbuf-thumbnailer -s 256` on the same picture as a
// PNG (Debian's libgdk-pixbuf2.0-bin; skipped without it), wall and CPU time
// per run. scripts/bench prints the ratios against the targets.
//
//   build/<dir>/bench/cache_bench
//   build/<dir>/bench/cache_bench --benchmark_filter=Large
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kezthumb/png_writer.h"
#include "kezthumb/thumbnail_road.h"
#include "support/kez_writer.h"
#include "support/packed_writer.h"
#include "support/picture.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDocuments = 300;
constexpr int kLargeCopies = 60;
constexpr int kLargeGrain = 16;  // +-16 levels: 3.9 MB of zstd frames, as the slow real documents

struct Preview {
  std::vector<std::uint8_t> compressed;
  std::size_t rawSize;
};

void Save(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Writes the documents to dir/docs and their compressed previews, named
// "<index>_<raw size>.zst" or ".zlib", to dir/previews.
void MakeCorpus(const fs::path& dir) {
  fs::create_directories(dir / "docs");
  fs::create_directories(dir / "previews");
  kez::testing::Lcg random(42);
  for (int i = 0; i < kDocuments; ++i) {
    // Mostly screen-sized previews, some small, a few large.
    const int pick = random.Range(0, 9);
    const int width = pick < 2 ? random.Range(48, 128) : pick < 9 ? random.Range(200, 512) : random.Range(800, 1024);
    const int height = width * random.Range(50, 100) / 100;
    kez::testing::KezPicture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels = kez::testing::PaintingLikePicture(width, height, static_cast<std::uint32_t>(i));
    const bool compressed = i % 5 != 4;  // one in five stored raw
    const std::string stem = std::to_string(i) + "_" + std::to_string(picture.pixels.size() * 4);
    if (i % 2 == 0) {
      kez::testing::KezOptions options;
      options.blob = compressed ? kez::testing::KezOptions::Blob::Zstd : kez::testing::KezOptions::Blob::Raw;
      Save(dir / "docs" / (std::to_string(i) + ".kez"), kez::testing::BuildKezBytes(picture, options));
      if (compressed) Save(dir / "previews" / (stem + ".zst"), kez::testing::ZstdFrames(picture.Bytes(), options.zstd));
    } else {
      const auto document = kez::testing::MakePackedPreviewDocument(width, height, picture.pixels, compressed);
      Save(dir / "docs" / (std::to_string(i) + ".kelpack"), kez::testing::WritePackedDocument(document));
      if (compressed)
        Save(dir / "previews" / (stem + ".zlib"), kez::testing::ZlibCompress(kez::testing::PixelBytes(picture.pixels)));
    }
  }
  // The large case: one document, copied.
  kez::testing::KezPicture picture;
  picture.width = 1024;
  picture.height = 1024;
  picture.pixels = kez::testing::PaintingLikePicture(1024, 1024, 7, kLargeGrain);
  kez::testing::KezOptions options;
  options.blob = kez::testing::KezOptions::Blob::Zstd;
  const auto document = kez::testing::BuildKezBytes(picture, options);
  fs::create_directories(dir / "large");
  for (int i = 0; i < kLargeCopies; ++i) Save(dir / "large" / (std::to_string(i) + ".kez"), document);
  Save(dir / "large.zst", kez::testing::ZstdFrames(picture.Bytes(), options.zstd));
  std::vector<std::uint8_t> rgba;
  for (const std::uint32_t p : picture.pixels)
    rgba.insert(rgba.end(), {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                             static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 24)});
  std::vector<std::uint8_t> png;
  std::string error;
  if (kezthumb::EncodePng(rgba.data(), 1024, 1024, {}, &png, &error)) Save(dir / "large.png", png);
}

// The corpus is made in a child process, so this process stays small: a
// child forked from it starts with this process's resident pages, and those
// count in the child's peak.
struct Corpus {
  Corpus() {
    dir = fs::temp_directory_path() / ("kezthumb_cache_bench_" + std::to_string(getpid()));
    fs::remove_all(dir);
    const pid_t pid = fork();
    if (pid == 0) {
      MakeCorpus(dir);
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  ~Corpus() { fs::remove_all(dir); }

  std::vector<Preview> Previews(const std::string& extension) const {
    std::vector<Preview> previews;
    for (const auto& entry : fs::directory_iterator(dir / "previews")) {
      if (entry.path().extension() != extension) continue;
      const std::string stem = entry.path().stem().string();
      std::ifstream file(entry.path(), std::ios::binary);
      previews.push_back({{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()},
                          std::stoul(stem.substr(stem.find('_') + 1))});
    }
    return previews;
  }

  fs::path dir;
  bool ok = false;
};

const Corpus& TheCorpus() {
  static const Corpus corpus;
  return corpus;
}

struct ChildUsage {
  long peakKiB = 0;    // peak resident memory
  double cpuSeconds = 0;  // user + system
};

// Runs `program` with `args` (XDG_CACHE_HOME in the corpus, stdout to
// /dev/null); false when it did not succeed.
bool RunProgram(const char* program, const std::vector<std::string>& args, ChildUsage* child) {
  const Corpus& corpus = TheCorpus();
  const std::string cache = "XDG_CACHE_HOME=" + (corpus.dir / "cache").string();
  std::vector<char*> argv = {const_cast<char*>(program)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    putenv(const_cast<char*>(cache.c_str()));
    if (freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    execv(program, argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  child->peakKiB = usage.ru_maxrss;
  child->cpuSeconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool RunKezthumb(const std::vector<std::string>& args, ChildUsage* child) {
  return RunProgram(KEZTHUMB_BINARY, args, child);
}

// kezthumb --cache -j JOBS over a folder of the corpus.
bool RunCache(int jobs, ChildUsage* child, const char* folder = "docs") {
  return RunKezthumb({"--cache", "-j", std::to_string(jobs), (TheCorpus().dir / folder).string()}, child);
}

// Documents per second of wall time; CPU milliseconds per document (user +
// system of the program, which a busy machine disturbs less); peak memory.
void Report(benchmark::State& state, const ChildUsage& child, int documents = kDocuments) {
  state.counters["docs_per_s"] = benchmark::Counter(documents, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["cpu_ms_per_doc"] =
      child.cpuSeconds * 1000.0 / (static_cast<double>(documents) * static_cast<double>(state.iterations()));
  state.counters["peak_rss_MiB"] = static_cast<double>(child.peakKiB) / 1024.0;
}

void BM_FillCache(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
  if (!corpus.ok) state.SkipWithError("the corpus could not be made");
  ChildUsage child;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(corpus.dir / "cache");
    state.ResumeTiming();
    if (!RunCache(static_cast<int>(state.range(0)), &child)) state.SkipWithError("kezthumb --cache failed");
  }
  Report(state, child);
}
BENCHMARK(BM_FillCache)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Every entry already current: the cost of looking, per document.
void BM_CacheUpToDate(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
  ChildUsage child;
  fs::remove_all(corpus.dir / "cache");
  RunCache(2, &child);
  child = {};
  for (auto _ : state)
    if (!RunCache(static_cast<int>(state.range(0)), &child)) state.SkipWithError("kezthumb --cache failed");
  Report(state, child);
}
BENCHMARK(BM_CacheUpToDate)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// zstd alone over the corpus's compressed ".kez" previews: one context,
// buffers reused.
void BM_ZstdPreviewsAlone(benchmark::State& state) {
  const std::vector<Preview> previews = TheCorpus().Previews(".zst");
  ZSTD_DCtx* context = ZSTD_createDCtx();
  std::vector<std::uint8_t> out(1024 * 1024 * 4);
  for (auto _ : state) {
    for (const Preview& preview : previews) {
      const std::size_t got =
          ZSTD_decompressDCtx(context, out.data(), preview.rawSize, preview.compressed.data(), preview.compressed.size());
      if (ZSTD_isError(got) || got != preview.rawSize) state.SkipWithError("zstd failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  ZSTD_freeDCtx(context);
  state.counters["previews_per_s"] = benchmark::Counter(static_cast<double>(previews.size()),
                                                        benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ZstdPreviewsAlone)->Unit(benchmark::kMillisecond);

// zlib alone over the corpus's compressed packed previews.
void BM_ZlibPreviewsAlone(benchmark::State& state) {
  const std::vector<Preview> previews = TheCorpus().Previews(".zlib");
  std::vector<std::uint8_t> out(1024 * 1024 * 4);
  for (auto _ : state) {
    for (const Preview& preview : previews) {
      uLongf size = static_cast<uLongf>(preview.rawSize);
      if (uncompress(out.data(), &size, preview.compressed.data(), static_cast<uLong>(preview.compressed.size())) !=
          Z_OK)
        state.SkipWithError("zlib failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["previews_per_s"] = benchmark::Counter(static_cast<double>(previews.size()),
                                                        benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ZlibPreviewsAlone)->Unit(benchmark::kMillisecond);

// --- The large case -------------------------------------------------------

fs::path LargeDocument() { return TheCorpus().dir / "large" / "0.kez"; }

// The bulk fill, one worker: CPU ms per document is the figure to watch.
void BM_LargeFillCache(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
  if (!corpus.ok) state.SkipWithError("the corpus could not be made");
  ChildUsage child;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(corpus.dir / "cache");
    state.ResumeTiming();
    if (!RunCache(1, &child, "large")) state.SkipWithError("kezthumb --cache failed");
  }
  Report(state, child, kLargeCopies);
}
BENCHMARK(BM_LargeFillCache)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The desktop's one-file run at a size: a whole process, wall time per
// run, and its peak resident memory above that of a run that makes no
// thumbnail.
void BM_LargeOneShot(benchmark::State& state) {
  const std::string output = (TheCorpus().dir / "one.png").string();
  const std::string size = std::to_string(state.range(0));
  ChildUsage child, baseline;
  long peak = 0;
  for (auto _ : state) {
    if (!RunKezthumb({"-s", size, LargeDocument().string(), output}, &child)) state.SkipWithError("kezthumb failed");
    peak = std::max(peak, child.peakKiB);
  }
  RunKezthumb({"--version"}, &baseline);
  state.counters["cpu_ms"] = child.cpuSeconds * 1000.0 / static_cast<double>(state.iterations());
  state.counters["peak_above_baseline_MiB"] = static_cast<double>(peak - baseline.peakKiB) / 1024.0;
}
BENCHMARK(BM_LargeOneShot)
    ->ArgName("cx")
    ->Arg(256)
    ->Arg(96)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(2560)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);

// The peer's one-file run on the same picture as a PNG.
void BM_LargeGdkPixbufOneShot(benchmark::State& state) {
  const char* peer = "/usr/bin/gdk-pixbuf-thumbnailer";
  const fs::path png = TheCorpus().dir / "large.png";
  if (access(peer, X_OK) != 0 || !fs::exists(png)) {
    state.SkipWithError("gdk-pixbuf-thumbnailer (libgdk-pixbuf2.0-bin) or the PNG is missing");
    return;
  }
  const std::string output = (TheCorpus().dir / "peer.png").string();
  ChildUsage child;
  for (auto _ : state)
    if (!RunProgram(peer, {"-s", "256", png.string(), output}, &child)) state.SkipWithError("the peer failed");
  state.counters["cpu_ms"] = child.cpuSeconds * 1000.0 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LargeGdkPixbufOneShot)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// zstd alone on the same preview: one context, the output buffer reused.
void BM_LargeZstdAlone(benchmark::State& state) {
  std::ifstream file(TheCorpus().dir / "large.zst", std::ios::binary);
  const std::vector<std::uint8_t> frames{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  ZSTD_DCtx* context = ZSTD_createDCtx();
  std::vector<std::uint8_t> out(1024 * 1024 * 4);
  for (auto _ : state) {
    const std::size_t got = ZSTD_decompressDCtx(context, out.data(), out.size(), frames.data(), frames.size());
    if (got != out.size()) state.SkipWithError("zstd failed");
    benchmark::DoNotOptimize(out.data());
  }
  ZSTD_freeDCtx(context);
}
BENCHMARK(BM_LargeZstdAlone)->Unit(benchmark::kMillisecond);

// The server road in this process, one road for every call as a worker has:
// the document read and decoded, resampled, the bitmap read back as RGBA.
void BM_LargeRoadInProcess(benchmark::State& state) {
  kezthumb::ThumbnailRoad road;
  for (auto _ : state) {
    const kezthumb::RoadResult result = road.Make(LargeDocument(), 256);
    if (result.status != kezthumb::RoadStatus::kThumbnail) state.SkipWithError("no thumbnail");
    benchmark::DoNotOptimize(result.rgba.data());
  }
}
BENCHMARK(BM_LargeRoadInProcess)->Unit(benchmark::kMillisecond);

// Writing the 256 x 256 PNG alone, the buffer reused as a worker does.
void BM_LargePngAlone(benchmark::State& state) {
  kezthumb::ThumbnailRoad road;
  const kezthumb::RoadResult result = road.Make(LargeDocument(), 256);
  std::vector<std::uint8_t> png;
  std::string error;
  for (auto _ : state)
    if (!kezthumb::EncodePng(result.rgba.data(), 256, 256, {{"Thumb::URI", "file:///x.kez"}}, &png, &error))
      state.SkipWithError("EncodePng failed");
  state.counters["png_bytes"] = static_cast<double>(png.size());
}
BENCHMARK(BM_LargePngAlone)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
