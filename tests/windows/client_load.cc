// Load: hundreds of short-lived threads, each making one thumbnail as the
// shell's worker threads do, with the process's memory before and after; and
// the time of one GetThumbnail.
#include "client.h"  // windows.h, which psapi.h needs first

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace client {
namespace {

// One thumbnail through the registry and a file stream; the hash of its
// bits, 0 when there is none.
std::uint64_t OneThumbnail(const std::wstring& path, UINT cx) {
  IStream* stream = nullptr;
  if (FAILED(OpenFileStream(path, &stream))) return 0;
  std::uint64_t hash = 0;
  IThumbnailProvider* provider = nullptr;
  if (SUCCEEDED(CreateProvider(stream, &provider))) {
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = kUntouchedAlpha;
    Dib dib;
    if (provider->GetThumbnail(cx, &bitmap, &alpha) == S_OK && ReadDib(bitmap, &dib)) hash = Fnv(dib.bits);
    if (bitmap != nullptr) DeleteObject(bitmap);
    provider->Release();
  }
  stream->Release();
  return hash;
}

struct Job {
  std::wstring path;
  UINT cx;
  std::uint64_t expected;
  std::atomic<int> wrong{0};
};

DWORD WINAPI Worker(void* param) {
  auto* job = static_cast<Job*>(param);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    ++job->wrong;
    return 1;
  }
  if (OneThumbnail(job->path, job->cx) != job->expected) ++job->wrong;
  CoUninitialize();
  return 0;
}

// `count` (at most 64) threads at once; false when one did not end.
bool RunBatch(Job& job, int count) {
  HANDLE threads[MAXIMUM_WAIT_OBJECTS] = {};
  int started = 0;
  for (; started < count; ++started) {
    threads[started] = CreateThread(nullptr, 0, Worker, &job, 0, nullptr);
    if (threads[started] == nullptr) break;
  }
  const bool ended = WaitForMultipleObjects(static_cast<DWORD>(started), threads, TRUE, 120000) == WAIT_OBJECT_0;
  for (int i = 0; i < started; ++i) CloseHandle(threads[i]);
  return ended && started == count;
}

struct Memory {
  double privateMiB;    // PrivateUsage (Wine leaves it at 0)
  double committedMiB;  // committed private pages, summed over the address space
  double workingSetMiB;
};

Memory Measure() {
  constexpr double kMiB = 1024.0 * 1024.0;
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  std::uint64_t committed = 0;
  MEMORY_BASIC_INFORMATION info;
  for (const BYTE* p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;
       p = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) committed += info.RegionSize;
  }
  return {static_cast<double>(counters.PrivateUsage) / kMiB, static_cast<double>(committed) / kMiB,
          static_cast<double>(counters.WorkingSetSize) / kMiB};
}

}  // namespace

int RunThreads(const std::wstring& path, UINT cx, int total, int batch, double boundMiB) {
  Tally tally;
  batch = std::clamp(batch, 1, static_cast<int>(MAXIMUM_WAIT_OBJECTS));
  // The main thread keeps the class object, so the module stays loaded from
  // batch to batch as it does in a long-lived shell process.
  IClassFactory* factory = nullptr;
  if (!tally.Require(SUCCEEDED(CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                                reinterpret_cast<void**>(&factory))),
                     "threads: the class object"))
    return tally.Finish();
  Job job;
  job.path = path;
  job.cx = cx;
  job.expected = OneThumbnail(path, cx);
  tally.Check(job.expected != 0, "threads: a thumbnail of %s on the main thread", Narrow(path).c_str());

  const ULONGLONG start = GetTickCount64();
  bool ended = RunBatch(job, batch);  // warm-up: the pools' regions get reserved
  const Memory warm = Measure();
  int done = batch;
  for (; done < total && ended; done += batch) ended = RunBatch(job, std::min(batch, total - done));
  const Memory after = Measure();
  const double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;

  tally.Check(ended, "threads: %d threads in batches of %d ended (%.1f s)", done, batch, seconds);
  tally.Check(job.wrong == 0, "threads: every thread made the main thread's thumbnail (%d did not)", job.wrong.load());
  std::printf(
      "threads: after the first batch: private usage %.1f MiB, committed private %.1f MiB, working set "
      "%.1f MiB\n",
      warm.privateMiB, warm.committedMiB, warm.workingSetMiB);
  std::printf(
      "threads: after %d threads:     private usage %.1f MiB, committed private %.1f MiB, working set "
      "%.1f MiB\n",
      done, after.privateMiB, after.committedMiB, after.workingSetMiB);
  // A 2 MiB chunk stranded by each ended thread would add hundreds of MiB.
  const double growth = std::max(after.privateMiB - warm.privateMiB, after.committedMiB - warm.committedMiB);
  tally.Check(growth < boundMiB,
              "threads: memory grew %.1f MiB over %d threads (bound %.0f MiB; stranded chunks "
              "would add at least %d MiB)",
              growth, done - batch, boundMiB, 2 * (done - batch));
  factory->Release();
  return tally.Finish();
}

namespace {

struct UnloadJob {
  std::wstring path;
  UINT cx;
  std::uint64_t hash = 0;
};

// One thumbnail on a thread of its own, which then ends: with its apartment
// gone nothing should hold the module any more.
DWORD WINAPI UnloadWorker(void* param) {
  auto* job = static_cast<UnloadJob*>(param);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  job->hash = OneThumbnail(job->path, job->cx);
  CoUninitialize();
  return 0;
}

}  // namespace

int RunUnloads(const std::wstring& path, UINT cx, int cycles, double boundMiB) {
  Tally tally;
  UnloadJob job{path, cx};
  std::uint64_t expected = 0;
  int unloaded = 0, wrong = 0;
  Memory first{};
  for (int i = 0; i < cycles; ++i) {
    HANDLE thread = CreateThread(nullptr, 0, UnloadWorker, &job, 0, nullptr);
    // A thread whose exit unloads the module may never end: 20 s is plenty.
    const bool ended = thread != nullptr && WaitForSingleObject(thread, 20000) == WAIT_OBJECT_0;
    if (!tally.Require(ended, "unloads: the thread of cycle %d ended within 20 s (it made its thumbnail: %s)", i,
                       job.hash != 0 ? "yes" : "no")) {
      tally.Finish();
      // Its exit holds the loader lock, which ExitProcess would wait for.
      TerminateProcess(GetCurrentProcess(), 1);
    }
    CloseHandle(thread);
    CoFreeUnusedLibrariesEx(0, 0);
    if (GetModuleHandleW(L"kezthumb.dll") == nullptr) ++unloaded;
    if (i == 0) {
      expected = job.hash;
      first = Measure();  // after the first load, as a baseline
    }
    if (job.hash == 0 || job.hash != expected) ++wrong;
  }
  const Memory last = Measure();
  tally.Check(wrong == 0, "unloads: every cycle made the same thumbnail (%d did not)", wrong);
  tally.Check(unloaded == cycles, "unloads: kezthumb.dll unloaded once the thread that used it ended (%d of %d cycles)",
              unloaded, cycles);
  std::printf("unloads: committed private %.1f MiB after the first cycle, %.1f MiB after %d\n", first.committedMiB,
              last.committedMiB, cycles);
  const double growth = last.committedMiB - first.committedMiB;
  tally.Check(growth < boundMiB, "unloads: memory grew %.1f MiB over %d more loads and unloads (bound %.0f MiB)",
              growth, cycles - 1, boundMiB);
  return tally.Finish();
}

int Bench(const std::wstring& path, UINT cx, int iterations) {
  Tally tally;
  const std::vector<BYTE> bytes = ReadFileBytes(path);
  IStream* stream = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
  IClassFactory* factory = nullptr;
  if (!tally.Require(!bytes.empty() && stream != nullptr &&
                         SUCCEEDED(CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                                    reinterpret_cast<void**>(&factory))),
                     "bench: %s in a memory stream, the class object", Narrow(path).c_str()))
    return tally.Finish();
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> times;
  int failures = 0;
  constexpr int kWarmUp = 3;
  // What the Linux benchmark times: provider, Initialize, GetThumbnail,
  // DeleteObject, releases; the stream rewound outside the clock.
  for (int i = 0; i < iterations + kWarmUp; ++i) {
    LARGE_INTEGER zero{}, t0, t1;
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    QueryPerformanceCounter(&t0);
    IInitializeWithStream* init = nullptr;
    IThumbnailProvider* provider = nullptr;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = kUntouchedAlpha;
    HRESULT hr = factory->CreateInstance(nullptr, __uuidof(IInitializeWithStream), reinterpret_cast<void**>(&init));
    if (SUCCEEDED(hr)) hr = init->Initialize(stream, STGM_READ);
    if (SUCCEEDED(hr)) hr = init->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider));
    if (SUCCEEDED(hr)) hr = provider->GetThumbnail(cx, &bitmap, &alpha);
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (provider != nullptr) provider->Release();
    if (init != nullptr) init->Release();
    QueryPerformanceCounter(&t1);
    if (hr != S_OK) ++failures;
    if (i >= kWarmUp) times.push_back(static_cast<double>(t1.QuadPart - t0.QuadPart) * 1000.0 / frequency.QuadPart);
  }
  factory->Release();
  stream->Release();
  std::sort(times.begin(), times.end());
  tally.Check(failures == 0 && !times.empty(), "bench: every GetThumbnail gave S_OK");
  if (!times.empty())
    std::printf("bench: GetThumbnail(%u) median_ms %.3f min_ms %.3f iterations %zu\n", cx, times[times.size() / 2],
                times.front(), times.size());
  return tally.Finish();
}

}  // namespace client
