// What the fuzzers share: reading a decoded picture back whole, and no echo
// of the error notice (most inputs end in it; it would flood the output and
// cost more than the run).
#pragma once

#include <cstdint>

#include "lumo/image.h"
#include "platform/testing.h"

namespace kez::fuzzing {

// Reads every pixel, so a copy that went wrong shows under the sanitizers.
inline void TouchPixels(const lumo::CImage32& image) {
  std::uint32_t sum = 0;
  for (std::int64_t i = 0; i < std::int64_t{image.m_width} * image.m_height; ++i) sum += image.m_pixels[i];
  (void)sum;
}

}  // namespace kez::fuzzing

#ifndef KEZ_FUZZ_REPLAY
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::testing::EchoNotices(false);
  return 0;
}
#endif
