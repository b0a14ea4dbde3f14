// Structure-aware libFuzzer target for the ".kez" reader. The input is a
// compact description (support/kez_description.h): header fields, layout
// choices, the root record's and the blob's bytes, patches aimed at the page
// map, the stream heads and their tables. It expands into a document of
// short pages, read through ReadPxvDocument: no copy of whole pages, so a run
// costs what the reader costs. pxv_fuzz keeps the raw bytes, which reach what
// a description cannot say. The same body replays the inputs kept in
// fuzz/regressions/pxv_struct/ in the test suite
// (tests/formats/pxv/fuzz_replay_test.cc).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "formats/pxv/pxv_reader.h"
#include "lumo/image.h"
#include "fuzz_support.h"
#include "platform/testing.h"
#include "support/kez_description.h"

namespace kez::fuzzing {

inline int PxvStructFuzzOne(const std::uint8_t* data, std::size_t size) {
  kez::testing::KezStream stream(kez::testing::ExpandKezDescription(data, size));
  {
    lumo::CImage32 image;
    if (ReadPxvDocument(image, &stream)) TouchPixels(image);
  }
  if (stream.RefCount() != 1) std::abort();  // the reader keeps no reference
  platform::testing::ResetNotices();
  return 0;
}

}  // namespace kez::fuzzing

#ifndef KEZ_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kez::fuzzing::PxvStructFuzzOne(data, size);
}
#endif
