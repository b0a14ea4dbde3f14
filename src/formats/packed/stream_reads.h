// Bounded reads from an untrusted IStream.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/com.h"

namespace packed {

// Reads until `size` bytes have arrived or a read delivers nothing; a short
// count is taken as the end of the stream. Returns the bytes that arrived.
std::uint32_t ReadFully(IStream* stream, void* buffer, std::uint32_t size);

// Reads `size` bytes into `out`, growing it piece by piece so that memory
// follows what the stream actually holds. False when fewer bytes arrive.
bool ReadToVector(IStream* stream, std::uint32_t size, std::vector<std::uint8_t>& out);

// Reads and drops `size` bytes through a small scratch buffer. False when
// fewer bytes arrive.
bool ReadAndDrop(IStream* stream, std::uint32_t size);

}  // namespace packed
