// Thumbnail extraction from an opened ".kez" page store: the root record's
// ThumbRef names the page stream of the stored image blob, which is copied
// (kind 0xFF) or decompressed (kind 3, zstd) into the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "formats/pxv/decompressor_pool.h"
#include "formats/pxv/page_store.h"
#include "lumo/image.h"
#include "thumb/picture_rows.h"

constexpr std::uint8_t kBlobStored = 0xFF;
constexpr std::uint8_t kBlobZstd = 3;

// What one reader call owns. The pool goes before the store.
struct DocumentContext {
  explicit DocumentContext(std::unique_ptr<pagestore::ReadablePageStore> pageStore) : store(std::move(pageStore)) {}
  std::unique_ptr<pagestore::ReadablePageStore> store;
  DecompressorPool pool;
};

// Copies the stored thumbnail into `image`. False when the root record is
// malformed (image untouched, no notice); true otherwise, with the picture in
// `image` when the blob was readable. Given `rows`, a blob that holds the
// whole picture is offered to them and, when they take it, decoded into them
// instead (finished when readable; `image` is then left alone).
bool ExtractThumbnail(lumo::CImage32& image, DocumentContext& context, PictureRows* rows = nullptr);

// Reads and decodes the blob of page stream `vidx`. On success `pixels` is a
// buffer (free with std::free) of which `length` bytes hold pixels. A
// malformed stream throws lumo::FException code 2 with the store's
// description of the page appended.
bool ReadImageBlob(DocumentContext& context, std::int64_t vidx, std::uint8_t* kind, std::uint64_t* length,
                   unsigned char** pixels);

// The most that zstd `frames` can produce: the declared sizes where the
// frames declare them, else 128 KiB per 3 bytes of frame (no block emits
// more than 128 KiB, and each has a 3-byte header). None when a frame is
// malformed or declares more than it could hold.
std::optional<std::uint64_t> ZstdOutputBound(const unsigned char* frames, std::size_t size);
