// Little-endian integers of the ".kez" format. None of them is aligned; a
// memcpy is one unaligned load on the hosts we build for (and one check
// under AddressSanitizer instead of eight).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace pagestore {

static_assert(std::endian::native == std::endian::little, "the page store is read on little-endian hosts");

inline std::uint64_t LoadU64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline std::int64_t LoadI64(const unsigned char* p) { return static_cast<std::int64_t>(LoadU64(p)); }

}  // namespace pagestore
