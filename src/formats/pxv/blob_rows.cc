#include "formats/pxv/blob_rows.h"

// The frame header parser is in the library's advanced section.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "formats/pxv/document_reader.h"

namespace {

constexpr std::int32_t kAllOfPage = std::numeric_limits<std::int32_t>::max();
constexpr std::size_t kFrameHeaderMax = ZSTD_FRAMEHEADERSIZE_MAX;

// The window a frame may ask for here: what encoders choose for pictures
// of unknown size (8 MiB at the most at any level), or more where the
// output can be larger, which is at most the blob's declared length and at
// most 128 KiB per 3 bytes of frames (no block makes more, each has a 3-byte
// header); never more than zstd's own default limit. A frame asking for
// more is decoded whole, where no window is kept.
int WindowLogMax(std::uint64_t declared, std::uint64_t compressed) {
  const std::uint64_t most = std::min(declared, (compressed / 3 + 1) * 128 * 1024);
  int log = 23;
  while (log < 27 && (std::uint64_t{1} << log) < most) ++log;
  return log;
}

}  // namespace

bool CopyStoredRows(PageStream& stream, std::uint64_t length, PictureRows& rows) {
  while (length > 0) {
    std::size_t room = 0;
    unsigned char* space = rows.Space(&room);
    const auto n = static_cast<std::int32_t>(std::min<std::uint64_t>({room, length, kAllOfPage}));
    if (stream.Read(space, n) != n) return false;
    rows.Wrote(static_cast<std::size_t>(n));
    length -= static_cast<std::uint64_t>(n);
  }
  return true;
}

namespace {

// The rest of the stream read and dropped, as reading the blob whole would
// read it: a page that cannot be read fails here just the same.
ZstdRows Failed(PageStream& stream) {
  const unsigned char* piece = nullptr;
  while (stream.Borrow(&piece, kAllOfPage) > 0) {
  }
  return ZstdRows::kFailed;
}

// Writes `size` bytes into rows.
void ToRows(const unsigned char* bytes, std::size_t size, PictureRows& rows) {
  while (size > 0) {
    std::size_t room = 0;
    unsigned char* space = rows.Space(&room);
    const std::size_t n = std::min(room, size);
    std::copy(bytes, bytes + n, space);
    rows.Wrote(n);
    bytes += n;
    size -= n;
  }
}

// A frame whose window is larger than a stream keeps: it and the frames
// after it (`head`, the frame's first bytes already taken, then the rest of
// `piece` and of the stream) are read and decoded whole, as the whole blob
// would be, within what is left of the declared length.
ZstdRows DecodeRestWhole(PageStream& stream, DecompressorPool& pool, std::uint64_t declared, const unsigned char* head,
                         std::size_t headSize, const unsigned char* piece, std::size_t pieceSize, PictureRows& rows,
                         std::uint64_t* produced) {
  const std::uint64_t size = headSize + pieceSize + (stream.Length() - stream.Position());
  std::vector<unsigned char> rest, out;
  try {
    rest.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return Failed(stream);  // as the whole blob's buffer would have
  }
  std::copy(head, head + headSize, rest.data());
  std::copy(piece, piece + pieceSize, rest.data() + headSize);
  const auto tail = static_cast<std::int32_t>(size - headSize - pieceSize);
  if (stream.Read(rest.data() + headSize + pieceSize, tail) != tail) return ZstdRows::kFailed;
  const std::optional<std::uint64_t> bound = ZstdOutputBound(rest.data(), rest.size());
  if (!bound) return ZstdRows::kFailed;
  const std::uint64_t capacity = std::min(declared - *produced, *bound);
  try {
    out.resize(static_cast<std::size_t>(capacity));
  } catch (const std::bad_alloc&) {
    return ZstdRows::kFailed;
  }
  std::int32_t written = 0;
  if (!pool.Decompress(rest.data(), static_cast<std::int32_t>(rest.size()), out.data(),
                       static_cast<std::int32_t>(capacity), &written))
    return ZstdRows::kFailed;
  ToRows(out.data(), static_cast<std::size_t>(written), rows);
  *produced += static_cast<std::uint64_t>(written);
  return ZstdRows::kDecoded;
}

// The stream's bytes from a read position within the piece in hand.
struct Input {
  PageStream& stream;
  const unsigned char* piece = nullptr;
  std::size_t size = 0, at = 0;

  // False at the stream's end.
  bool Next() {
    const std::int32_t n = stream.Borrow(&piece, kAllOfPage);
    size = static_cast<std::size_t>(n);
    at = 0;
    return n > 0;
  }
};

// Whether a frame that starts at `bytes` has its header there whole (or is
// no frame zstd will stream: its error shows without more bytes). Fewer
// than five bytes never are: zstd tells a frame of its old formats, which
// its streaming decoder reads otherwise, from the call's first five.
bool HeaderWhole(const unsigned char* bytes, std::size_t size) {
  if (size < ZSTD_FRAMEHEADERSIZE_PREFIX(ZSTD_f_zstd1)) return false;
  ZSTD_frameHeader header;
  const std::size_t need = ZSTD_getFrameHeader(&header, bytes, size);
  return need == 0 || ZSTD_isError(need);
}

// A frame header that runs past the piece, gathered into `head` from the
// pieces after it, up to its last byte or the stream's end; `input` then
// stands after it. zstd 1.5 decodes a frame that fits its output in one pass
// from the start of the call's input, which for a header split over two
// calls is the header's middle: it must arrive in one call.
std::size_t GatherHeader(Input& input, unsigned char (&head)[kFrameHeaderMax]) {
  std::size_t size = 0;
  for (std::size_t want = ZSTD_FRAMEHEADERSIZE_PREFIX(ZSTD_f_zstd1);;) {
    while (size < want) {
      if (input.at == input.size && !input.Next()) return size;
      const std::size_t n = std::min(want - size, input.size - input.at);
      std::copy(input.piece + input.at, input.piece + input.at + n, head + size);
      size += n;
      input.at += n;
    }
    ZSTD_frameHeader header;
    const std::size_t need = ZSTD_getFrameHeader(&header, head, size);
    if (need == 0 || ZSTD_isError(need) || need > sizeof head) return size;
    want = need;
  }
}

}  // namespace

ZstdRows DecodeZstdRows(PageStream& stream, DecompressorPool& pool, std::uint64_t declared, PictureRows& rows,
                        std::uint64_t* produced) {
  *produced = 0;
  const std::uint64_t compressed = stream.Length() - stream.Position();
  DecompressorPool::Lease lease(pool);
  ZSTD_DCtx* context = lease.get();
  if (context == nullptr ||
      ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, WindowLogMax(declared, compressed))))
    return Failed(stream);
  Input input{stream};
  unsigned char head[kFrameHeaderMax];
  // No frames at all decode to nothing, as in one call.
  bool betweenFrames = true;
  for (;;) {
    if (input.at == input.size && !input.Next()) return betweenFrames ? ZstdRows::kDecoded : ZstdRows::kFailed;
    // A frame begins each call with its whole header: from the piece, or
    // gathered across pieces.
    const bool gathered = betweenFrames && !HeaderWhole(input.piece + input.at, input.size - input.at);
    ZSTD_inBuffer in{input.piece + input.at, input.size - input.at, 0};
    if (gathered) in = {head, GatherHeader(input, head), 0};
    bool full = false;
    // Until the input is taken and, within a frame, all it made is out, or
    // a frame ends: the next one is looked at first.
    do {
      std::size_t room = 0;
      unsigned char* space = rows.Space(&room);
      // One byte past the declared length is enough to see a blob that
      // decodes to more.
      ZSTD_outBuffer out{space, static_cast<std::size_t>(std::min<std::uint64_t>(room, declared - *produced + 1)), 0};
      const std::size_t hint = ZSTD_decompressStream(context, &out, &in);
      if (ZSTD_isError(hint)) {
        // A failed call moves nothing, and it began at the frame's start:
        // the frame is the rest of the input from there.
        if (ZSTD_getErrorCode(hint) != ZSTD_error_frameParameter_windowTooLarge) return Failed(stream);
        const auto* from = static_cast<const unsigned char*>(in.src) + in.pos;
        const std::size_t taken = in.size - in.pos;
        lease.Release();
        if (gathered)
          return DecodeRestWhole(stream, pool, declared, from, taken, input.piece + input.at,
                                 input.size - input.at, rows, produced);
        return DecodeRestWhole(stream, pool, declared, nullptr, 0, from, taken, rows, produced);
      }
      rows.Wrote(out.pos);
      *produced += out.pos;
      if (*produced > declared) return Failed(stream);
      betweenFrames = hint == 0;
      full = out.pos == out.size;
    } while (!betweenFrames && (in.pos < in.size || full));
    if (!gathered) input.at += in.pos;
  }
}
