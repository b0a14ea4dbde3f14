// Paged image memory: Lock+Unlock of a resident block beside a plain pointer
// access; 1 GiB of 128x128 images (the pager's 64 KiB units) swapped out and
// mapped back beside the same bytes through one plain mmap'ed file; and a
// 2 GiB working set under a 512 MiB resident limit, with the process's peak
// resident memory above its baseline. The paged mode is on before the first
// image, and the swap file lives in a folder of the run's own, removed at the
// end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lumo/image.h"
#include "lumo/memory.h"
#include "lumo/memory_handle.h"
#include "lumo/pager.h"

namespace {

namespace fs = std::filesystem;
namespace pa = lumo::paged_allocator;

constexpr int kSide = 128;
constexpr int kPixels = kSide * kSide;
constexpr std::int64_t kUnit = kPixels * 4;  // one 64 KiB unit
constexpr std::int64_t kGiB = std::int64_t{1} << 30;

fs::path g_folder;

lumo::MemoryStats& Stats() { return lumo::GetMemoryStats(); }

// The library's limits, then the resident limit of the caller's choosing.
void SetResidentLimit(std::int64_t bytes) {
  pa::ApplyDefaultLimits(Stats());
  Stats().residentLimit = bytes;
}

// Recycled units of earlier runs go, so that each run starts with nothing
// resident.
void ReleaseRecycledUnits() { pa::Pager::Instance()->AllocatorFor(pa::kPageBytes)->Purge(Stats()); }

void Write(std::uint32_t* pixels, std::uint32_t value) {
  for (int p = 0; p < kPixels; ++p) pixels[p] = value + static_cast<std::uint32_t>(p);
}

std::uint32_t Read(const std::uint32_t* pixels) {
  std::uint32_t sum = 0;
  for (int p = 0; p < kPixels; ++p) sum ^= pixels[p];
  return sum;
}

using Images = std::vector<std::unique_ptr<lumo::CImage32>>;

Images MakeImages(std::int64_t bytes) {
  Images images(static_cast<std::size_t>(bytes / kUnit));
  for (auto& image : images) {
    image = std::make_unique<lumo::CImage32>();
    if (!image->Resize(kSide, kSide)) return {};
  }
  return images;
}

void LockUnlockResident(benchmark::State& state) {
  lumo::CImage32 image;
  if (!image.Resize(kSide, kSide)) return state.SkipWithError("image allocation failed");
  for (auto _ : state) {
    lumo::ImageLock lock(&image);
    image.m_pixels[0] += 1;
    benchmark::ClobberMemory();
  }
}

void HandleLockUnlockResident(benchmark::State& state) {
  void* const block = lumo::AllocateImageMemory(kUnit);
  if (block == nullptr) return state.SkipWithError("block allocation failed");
  auto* const handle = static_cast<lumo::NMemHandle*>(block);
  for (auto _ : state) {
    static_cast<std::uint32_t*>(handle->Lock())[0] += 1;
    handle->Unlock();
    benchmark::ClobberMemory();
  }
  lumo::FreeImageMemory(block, kUnit);
}

void PlainPointerAccess(benchmark::State& state) {
  std::vector<std::uint32_t> pixels(kPixels);
  std::uint32_t* const address = pixels.data();
  for (auto _ : state) {
    benchmark::DoNotOptimize(address);
    address[0] += 1;
    benchmark::ClobberMemory();
  }
}

void WriteAll(Images& images, std::uint32_t value) {
  for (auto& image : images) {
    lumo::ImageLock lock(image.get());
    Write(image->m_pixels, value);
  }
}

bool SwapOutAll() {
  Stats().residentLimit = 0;
  pa::TrimToResidentLimit(Stats());
  Stats().residentLimit = 0x140000000;
  return Stats().swapped.load() >= kGiB;
}

// Each iteration writes every image, swaps them all out, maps each back and
// reads it: 2 GiB through the pager. The units are file-backed from the start
// (heap limit 0), as they are after their first swap-out, and have been
// written once before timing starts: the file's blocks, reserved but never
// written, cost a first write that a long-running host pays once.
void SwapOutAndMapBack(benchmark::State& state) {
  ReleaseRecycledUnits();
  SetResidentLimit(0x140000000);
  Stats().heapLimit = 0;
  Images images = MakeImages(kGiB);
  if (images.empty()) return state.SkipWithError("image allocation failed");
  WriteAll(images, 0);
  if (!SwapOutAll()) return state.SkipWithError("not every block was swapped out");
  std::uint32_t value = 0;
  for (auto _ : state) {
    WriteAll(images, ++value);
    if (!SwapOutAll()) return state.SkipWithError("not every block was swapped out");
    std::uint32_t sum = 0;
    for (auto& image : images) {
      lumo::ImageLock lock(image.get());
      sum ^= Read(image->m_pixels);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * 2 * kGiB);
  images.clear();
  ReleaseRecycledUnits();
  Stats().defaultsPending = 1;
}

// The same bytes through one plain mmap'ed file, unmapped and mapped again
// between writing and reading. Its disk blocks are reserved up front, as the
// swap file's are, and written once before timing starts.
void PlainMmapFile(benchmark::State& state) {
  const std::string path = (g_folder / "plain.dat").string();
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || posix_fallocate(fd, 0, kGiB) != 0) {
    if (fd >= 0) close(fd);
    return state.SkipWithError("cannot make the plain file");
  }
  auto map = [fd] { return static_cast<std::uint8_t*>(mmap(nullptr, kGiB, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)); };
  std::uint32_t value = 0;
  if (std::uint8_t* bytes = map(); bytes != MAP_FAILED) {
    for (std::int64_t at = 0; at < kGiB; at += kUnit) Write(reinterpret_cast<std::uint32_t*>(bytes + at), value);
    munmap(bytes, kGiB);
  }
  for (auto _ : state) {
    ++value;
    std::uint8_t* bytes = map();
    if (bytes == MAP_FAILED) return state.SkipWithError("mmap failed");
    for (std::int64_t at = 0; at < kGiB; at += kUnit) Write(reinterpret_cast<std::uint32_t*>(bytes + at), value);
    munmap(bytes, kGiB);
    bytes = map();
    if (bytes == MAP_FAILED) return state.SkipWithError("mmap failed");
    std::uint32_t sum = 0;
    for (std::int64_t at = 0; at < kGiB; at += kUnit) sum ^= Read(reinterpret_cast<const std::uint32_t*>(bytes + at));
    benchmark::DoNotOptimize(sum);
    munmap(bytes, kGiB);
  }
  state.SetBytesProcessed(state.iterations() * 2 * kGiB);
  close(fd);
  unlink(path.c_str());
}

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
std::int64_t StatusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1)) * 1024;
  }
  return -1;
}

// Every image is made, then locked, written and unlocked in turn, once per
// iteration. The peak counts from a reset of the kernel's high-water mark.
void WorkingSetOverLimit(benchmark::State& state) {
  const std::int64_t limit = std::int64_t{512} << 20;
  ReleaseRecycledUnits();
  SetResidentLimit(limit);
  if (!(std::ofstream("/proc/self/clear_refs") << "5")) return state.SkipWithError("cannot reset the peak");
  const std::int64_t baseline = StatusBytes("VmRSS");
  Images images = MakeImages(2 * kGiB);
  if (images.empty()) return state.SkipWithError("image allocation failed");
  std::uint32_t value = 0;
  for (auto _ : state) {
    ++value;
    for (auto& image : images) {
      lumo::ImageLock lock(image.get());
      Write(image->m_pixels, value);
    }
  }
  const std::int64_t peak = StatusBytes("VmHWM") - baseline;
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["peak_per_limit"] = static_cast<double>(peak) / static_cast<double>(limit);
  state.counters["under_1.25x"] = peak < limit * 5 / 4 ? 1 : 0;
  state.SetBytesProcessed(state.iterations() * 2 * kGiB);
  images.clear();
  ReleaseRecycledUnits();
  Stats().defaultsPending = 1;
}

BENCHMARK(LockUnlockResident);
BENCHMARK(HandleLockUnlockResident);
BENCHMARK(PlainPointerAccess);
BENCHMARK(SwapOutAndMapBack)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(PlainMmapFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(WorkingSetOverLimit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void RemoveFolder() {
  std::error_code ignored;
  fs::remove_all(g_folder, ignored);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The pager puts its swap file in TMPDIR and deletes it at process end;
  // registered first, the folder's removal runs after that.
  g_folder = fs::temp_directory_path() / ("kez-paged-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(g_folder);
  std::atexit(RemoveFolder);
  setenv("TMPDIR", g_folder.c_str(), 1);
  lumo::g_pagedMemory = 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
