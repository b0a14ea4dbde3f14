// Little-endian integers of the ".kez" format, assembled byte by byte: none
// of them is aligned, so none is read through a wider load.
#pragma once

#include <cstdint>

namespace pagestore {

inline std::uint64_t LoadU64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

inline std::int64_t LoadI64(const unsigned char* p) { return static_cast<std::int64_t>(LoadU64(p)); }

}  // namespace pagestore
