// libFuzzer target for the ".kez" reader. Inputs that start with "pxv" are
// whole documents read through ReadPxvDocument; anything else is handed to
// the root-record verifier and to the zstd path directly, which reaches them
// with small inputs. The same body replays damaged documents in the test
// suite (tests/formats/pxv/fuzz_replay_test.cc).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/pxv/decompressor_pool.h"
#include "formats/pxv/document_buffer.h"
#include "formats/pxv/document_reader.h"
#include "formats/pxv/pxv_reader.h"
#include "lumo/image.h"
#include "fuzz_support.h"
#include "platform/testing.h"
#include "support/test_stream.h"

namespace kez::fuzzing {

inline int PxvFuzzOne(const std::uint8_t* data, std::size_t size) {
  if (size >= 3 && std::memcmp(data, "pxv", 3) == 0) {
    kez::testing::TestStream stream(std::vector<std::uint8_t>(data, data + size));
    lumo::CImage32 image;
    if (ReadPxvDocument(image, &stream)) TouchPixels(image);
    platform::testing::ResetNotices();
    return 0;
  }
  if (VerifyDocumentBuffer(data, size)) {
    const kez::doc::ThumbRef* ref = kez::doc::GetDocRoot(data)->thumb_ref();
    // Read every field; unsigned, since the sum of what a file says may wrap.
    if (ref != nullptr)
      (void)(static_cast<std::uint64_t>(ref->width()) + static_cast<std::uint64_t>(ref->height()) +
             static_cast<std::uint64_t>(ref->vidx()));
  }
  if (const auto bound = ZstdOutputBound(data, size); bound && *bound <= (1u << 24)) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(*bound) + 1);
    DecompressorPool pool;
    pool.Decompress(data, static_cast<std::int32_t>(size), out.data(), static_cast<std::int32_t>(*bound));
  }
  return 0;
}

}  // namespace kez::fuzzing

#ifndef KEZ_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kez::fuzzing::PxvFuzzOne(data, size);
}
#endif
