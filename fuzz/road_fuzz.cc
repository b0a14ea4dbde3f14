// libFuzzer target for the whole road the shell takes: a class factory of
// either kind, CreateInstance, Initialize with a hostile stream, GetThumbnail
// at a size from the input, the DIB read back. The input:
//   byte 0      bit 0: factory kind (0 packed, 1 ".kez"); bit 1: a ".kez"
//               document's bytes are raw instead of a description
//   bytes 1-2   cx = 1 + (value % 1024)
//   three plans (support/hostile_stream.h), each a length byte (at most 32
//   used) and its bytes: Read, Seek, Stat
//   the rest    the document: a description (support/kez_description.h) or
//               raw bytes
// Every reference taken must be given back, no DIB may stay alive but the
// one handed out, and every image byte the pools gave must be returned; a
// provider bound to the reader's whole-picture form, over the same stream
// and plans, must give the same answer and bytes as the rows road. The
// same body replays fuzz/regressions/road/ in the test suite
// (tests/thumb/road_replay_test.cc).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "dll/class_factory.h"
#include "lumo/memory.h"
#include "platform/shell.h"
#include "fuzz_support.h"
#include "platform/testing.h"
#include "support/hostile_stream.h"
#include "support/kez_description.h"
#include "support/two_roads.h"
#include "thumb/module_count.h"

namespace kez::fuzzing {

[[noreturn]] inline void RoadFault(const char* what) {
  std::fprintf(stderr, "road: %s\n", what);
  std::abort();
}

// GetThumbnail's result (E_UNEXPECTED when the road ended before it).
inline HRESULT RoadFuzzOne(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return E_UNEXPECTED;
  const bool pxv = (data[0] & 1) != 0;
  const bool raw = (data[0] & 2) != 0;
  const UINT cx = 1 + (static_cast<UINT>(data[1] | (data[2] << 8)) % 1024);
  std::size_t at = 3;
  auto plan = [&] {
    const std::size_t length = at < size ? data[at++] : 0;
    const std::size_t n = std::min({length, std::size_t{32}, size - at});
    std::vector<std::uint8_t> bytes(data + at, data + at + n);
    at += n;
    return bytes;
  };
  kez::testing::HostilePlan plans;
  plans.read = plan();
  plans.seek = plan();
  plans.stat = plan();

  auto document = [&]() -> std::unique_ptr<kez::testing::TestStream> {
    if (pxv && !raw)
      return std::make_unique<kez::testing::KezStream>(kez::testing::ExpandKezDescription(data + at, size - at));
    return std::make_unique<kez::testing::TestStream>(std::vector<std::uint8_t>(data + at, data + size));
  };
  std::unique_ptr<kez::testing::TestStream> inner = document();
  kez::testing::HostileStream stream(inner.get(), plans);
  std::vector<std::uint8_t> bits;

  const LONG modules = g_moduleCount;
  const int dibs = platform::testing::LiveDibs();
  const std::int64_t bytes = lumo::GetMemoryStats().total.load();
  HRESULT hr = E_UNEXPECTED;
  try {
    auto* factory = new ClassFactory(pxv ? ClassFactory::kPxvKind : ClassFactory::kPackedKind);
    IThumbnailProvider* provider = nullptr;
    const HRESULT created = factory->CreateInstance(nullptr, IID_IThumbnailProvider, reinterpret_cast<void**>(&provider));
    if (factory->Release() != 0) RoadFault("factory still referenced");
    if (FAILED(created)) return E_UNEXPECTED;
    IInitializeWithStream* init = nullptr;
    if (FAILED(provider->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&init))))
      RoadFault("no IInitializeWithStream");
    if (init->Initialize(&stream, 0) != S_OK) RoadFault("Initialize failed");
    if (init->Release() != 1) RoadFault("provider count after Initialize");

    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    const int notices = platform::testing::NoticeCount();
    hr = provider->GetThumbnail(cx, &bitmap, &alpha);
    const int shown = platform::testing::NoticeCount() - notices;
    if (stream.RefCount() != 1) RoadFault("stream reference kept after GetThumbnail");
    if (hr == S_OK) {
      const auto dib = platform::testing::ReadDib(bitmap);
      if (!dib || alpha != WTSAT_ARGB || dib->header.biWidth != static_cast<LONG>(cx) ||
          dib->header.biHeight != static_cast<LONG>(cx) || dib->size != std::size_t{cx} * cx * 4)
        RoadFault("bad DIB");
      TouchBytes(dib->bits, dib->size);
      bits.assign(dib->bits, dib->bits + dib->size);
      DeleteObject(bitmap);
    } else if (bitmap != nullptr) {
      RoadFault("a bitmap with a failure");
    }
    if (provider->Release() != 0) RoadFault("provider still referenced");

    const std::unique_ptr<kez::testing::TestStream> again = document();
    kez::testing::HostileStream sameStream(again.get(), plans);
    const kez::testing::RoadAnswer whole =
        kez::testing::ThumbnailWhole(pxv ? ClassFactory::kPxvKind : ClassFactory::kPackedKind, &sameStream, cx);
    if (whole.hr != hr || whole.bits != bits || whole.notices != shown)
      RoadFault("the rows road and the whole picture's differ");
  } catch (...) {
    RoadFault("exception left the road");
  }
  if (g_moduleCount != modules) RoadFault("module count");
  if (platform::testing::LiveDibs() != dibs) RoadFault("DIB left alive");
  if (lumo::GetMemoryStats().total.load() != bytes) RoadFault("image memory not returned");
  platform::testing::ResetNotices();
  return hr;
}

}  // namespace kez::fuzzing

#ifndef KEZ_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kez::fuzzing::RoadFuzzOne(data, size);
  return 0;
}
#endif
