#include "formats/packed/stream_reads.h"

#include <algorithm>

#include "formats/packed/packed_format.h"

namespace packed {

std::uint32_t ReadFully(IStream* stream, void* buffer, std::uint32_t size) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::uint32_t done = 0;
  // Every round either ends the loop or advances `done`: at most `size` rounds.
  while (done < size) {
    ULONG got = 0;
    stream->Read(bytes + done, size - done, &got);  // judged by the count alone
    if (got == 0 || got > size - done) break;
    done += got;
  }
  return done;
}

bool ReadToVector(IStream* stream, std::uint32_t size, std::vector<std::uint8_t>& out) {
  out.clear();
  std::uint32_t done = 0;
  while (done < size) {
    const std::uint32_t piece = std::min(size - done, kReadPiece);
    out.resize(static_cast<std::size_t>(done) + piece);
    const std::uint32_t got = ReadFully(stream, out.data() + done, piece);
    done += got;
    if (got < piece) {
      out.resize(done);
      return false;
    }
  }
  return true;
}

bool ReadAndDrop(IStream* stream, std::uint32_t size) {
  std::uint8_t scratch[16 * 1024];
  while (size != 0) {
    const std::uint32_t piece = std::min<std::uint32_t>(size, sizeof(scratch));
    if (ReadFully(stream, scratch, piece) < piece) return false;
    size -= piece;
  }
  return true;
}

}  // namespace packed
