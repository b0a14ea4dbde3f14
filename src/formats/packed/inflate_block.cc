#include <zlib.h>

#include "formats/packed/packed_reader.h"

bool InflateBlock(const std::uint8_t* source, std::uint32_t sourceSize, std::uint8_t* destination,
                  std::uint32_t destinationSize, std::uint32_t* produced) {
  if (produced != nullptr) *produced = 0;
  z_stream zs{};
  zs.next_in = const_cast<Bytef*>(source);  // zlib's input pointer is not const
  zs.avail_in = sourceSize;
  zs.next_out = destination;
  zs.avail_out = destinationSize;
  if (inflateInit(&zs) != Z_OK) return false;
  // One call with all the input: it runs until the stream ends, the input
  // runs out or the destination is full; only a finished stream counts.
  const int result = inflate(&zs, Z_NO_FLUSH);
  const bool finished = result == Z_STREAM_END;
  if (finished && produced != nullptr) *produced = destinationSize - zs.avail_out;
  inflateEnd(&zs);
  return finished;
}
