// An image blob's pixels decoded straight into the rows of a picture, in
// pieces through the page stream, instead of into a buffer of the blob's
// size. Each way reads the same pages in the same order as reading the
// blob whole, and succeeds exactly when that would.
#pragma once

#include <cstdint>

#include "formats/pxv/decompressor_pool.h"
#include "formats/pxv/page_stream.h"
#include "thumb/picture_rows.h"

// Copies the next `length` bytes of the stream into rows; false when the
// stream ends first.
bool CopyStoredRows(PageStream& stream, std::uint64_t length, PictureRows& rows);

enum class ZstdRows {
  kDecoded,  // every frame decoded; *produced bytes went to rows
  kFailed,   // malformed, corrupt, cut short, or more than `declared` bytes
};

// Decodes the zstd frames that fill the rest of the stream into rows, at
// most `declared` bytes (which must fit 31 bits). A frame whose window is
// larger than the output can be is decoded whole, with the frames after it,
// from where the stream stands.
ZstdRows DecodeZstdRows(PageStream& stream, DecompressorPool& pool, std::uint64_t declared, PictureRows& rows,
                        std::uint64_t* produced);
