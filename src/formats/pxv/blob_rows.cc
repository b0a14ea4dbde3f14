#include "formats/pxv/blob_rows.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <limits>

namespace {

constexpr std::int32_t kAllOfPage = std::numeric_limits<std::int32_t>::max();

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

ZstdRows DecodeZstdRows(PageStream& stream, DecompressorPool& pool, std::uint64_t declared, PictureRows& rows,
                        std::uint64_t* produced) {
  *produced = 0;
  DecompressorPool::Lease lease(pool);
  ZSTD_DCtx* context = lease.get();
  if (context == nullptr) return ZstdRows::kFailed;
  const std::uint64_t compressed = stream.Length() - stream.Position();
  if (ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, WindowLogMax(declared, compressed))))
    return ZstdRows::kFailed;
  // No frames at all decode to nothing, as in one call.
  bool betweenFrames = true;
  for (;;) {
    const unsigned char* piece = nullptr;
    const std::int32_t n = stream.Borrow(&piece, kAllOfPage);
    if (n == 0) break;
    ZSTD_inBuffer in{piece, static_cast<std::size_t>(n), 0};
    bool full = false;
    // Until the piece is taken and, within a frame, all it made is out. At
    // a frame's end nothing is asked again: with no input zstd would start
    // on a next frame.
    do {
      std::size_t room = 0;
      unsigned char* space = rows.Space(&room);
      // One byte past the declared length is enough to see a blob that
      // decodes to more.
      ZSTD_outBuffer out{space, std::min<std::uint64_t>(room, declared - *produced + 1), 0};
      const std::size_t hint = ZSTD_decompressStream(context, &out, &in);
      if (ZSTD_isError(hint)) {
        return ZSTD_getErrorCode(hint) == ZSTD_error_frameParameter_windowTooLarge ? ZstdRows::kWholeBlob
                                                                                   : ZstdRows::kFailed;
      }
      rows.Wrote(out.pos);
      *produced += out.pos;
      if (*produced > declared) return ZstdRows::kFailed;
      betweenFrames = hint == 0;
      full = out.pos == out.size;
    } while (in.pos < in.size || (full && !betweenFrames));
  }
  return betweenFrames ? ZstdRows::kDecoded : ZstdRows::kFailed;
}
