// What the fuzzers share: reading a decoded picture back whole, and no echo
// of the error notice (most inputs end in it; it would flood the output and
// cost more than the run).
#pragma once

#include <cstddef>
#include <cstdint>

#include "lumo/image.h"
#include "lumo/sanitizer.h"
#include "platform/testing.h"

namespace kez::fuzzing {

// Checks that every byte can be read, so a buffer shorter than it claims
// shows under the sanitizers. The reads end in a volatile store, or the
// optimiser drops them. AddressSanitizer's shadow covers the heap; a read
// of one byte per page and of the last finds what it cannot see (a null
// pointer, a mapped region that ends early). Not traced for coverage (nor
// inlined into code that is): it tells the fuzzer nothing.
#if defined(__clang__) && __clang_major__ >= 13
__attribute__((no_sanitize("coverage"), noinline))
#endif
inline void TouchBytes(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return;
  volatile std::uint8_t sink = 0;
#ifdef KEZ_ASAN
  if (void* bad = __asan_region_is_poisoned(const_cast<std::uint8_t*>(bytes), size))
    sink = *static_cast<volatile std::uint8_t*>(bad);
  for (std::size_t i = 0; i < size; i += 4096) sink = bytes[i];
  sink = bytes[size - 1];
#else
  std::uint8_t any = 0;
  for (std::size_t i = 0; i < size; ++i) any |= bytes[i];
  sink = any;
#endif
  (void)sink;
}

inline void TouchPixels(const lumo::CImage32& image) {
  TouchBytes(reinterpret_cast<const std::uint8_t*>(image.m_pixels),
             4 * static_cast<std::size_t>(std::int64_t{image.m_width} * image.m_height));
}

}  // namespace kez::fuzzing

#ifndef KEZ_FUZZ_REPLAY
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::testing::EchoNotices(false);
  return 0;
}
#endif
