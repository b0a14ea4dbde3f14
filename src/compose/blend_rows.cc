#include "compose/blend_rows.h"

#include <cstring>

namespace lumo {

void CopyRow(const DrawParams&, std::uint32_t* dst, const std::uint32_t* src, std::int32_t count) {
  if (count <= 0) return;
  std::memmove(dst, src, static_cast<std::size_t>(count) * sizeof(std::uint32_t));
}

void AndRow(const DrawParams&, std::uint32_t* dst, const std::uint32_t* src, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) dst[i] &= src[i];
}

void OrRow(const DrawParams&, std::uint32_t* dst, const std::uint32_t* src, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) dst[i] |= src[i];
}

}  // namespace lumo
