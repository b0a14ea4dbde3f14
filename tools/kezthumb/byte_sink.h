// Bytes handed on in order, as they are made, instead of gathered first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kezthumb {

// False when the bytes could not be kept.
using ByteSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

}  // namespace kezthumb
