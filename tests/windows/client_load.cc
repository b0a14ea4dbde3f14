// Load: hundreds of short-lived threads, each making one thumbnail as the
// shell's worker threads do, with the pools' memory before and after; and
// the time of one GetThumbnail.
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "client.h"

namespace client {
namespace {

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

}  // namespace

int RunThreads(const std::wstring& path, UINT cx, int total, int batch) {
  Tally tally;
  batch = std::clamp(batch, 1, static_cast<int>(MAXIMUM_WAIT_OBJECTS));
  // The main thread keeps the class object, so the module stays loaded from
  // batch to batch as it does in a long-lived shell process.
  IClassFactory* factory = ClassObject();
  if (!tally.Require(factory != nullptr, "threads: the class object"))
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
  std::printf("threads: committed private %.1f MiB after the first batch, %.1f MiB after %d threads\n",
              warm.committedMiB, after.committedMiB, done);
  // What one batch holds at once bounds the regions, however many threads
  // came and went: a thread takes two or three chunks, eight to a region, and
  // sizes mix across regions, so a region a thread is far enough. Each ended
  // thread that kept its chunks would add a region for every four threads.
  const int bound = batch;
  tally.Check(after.poolRegions <= bound,
              "threads: %d pool regions after the first batch, %d after %d threads (bound %d; stranded chunks "
              "would add about %d)",
              warm.poolRegions, after.poolRegions, done, bound, (done - batch) / 4);
  factory->Release();
  return tally.Finish();
}

int Bench(const std::wstring& path, UINT cx, int iterations) {
  Tally tally;
  const std::vector<BYTE> bytes = ReadFileBytes(path);
  IStream* stream = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
  IClassFactory* factory = !bytes.empty() && stream != nullptr ? ClassObject() : nullptr;
  if (!tally.Require(factory != nullptr, "bench: %s in a memory stream, the class object", Narrow(path).c_str()))
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
