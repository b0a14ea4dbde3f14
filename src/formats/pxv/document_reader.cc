#include "formats/pxv/document_reader.h"

#include <zstd.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "formats/pxv/blob_rows.h"
#include "formats/pxv/document_buffer.h"
#include "formats/pxv/page_stream.h"
#include "lumo/errors.h"
#include "lumo/heap_reserve.h"

namespace {

struct FreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};
using HeapBytes = std::unique_ptr<unsigned char, FreeDeleter>;

struct ReserveDeleter {
  std::size_t size;
  void operator()(unsigned char* p) const { lumo::HeapFree(p, size); }
};

HeapBytes Allocate(std::uint64_t size) {
  if (size > std::numeric_limits<std::size_t>::max()) return nullptr;
  return HeapBytes(static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : static_cast<std::size_t>(size))));
}

constexpr std::uint64_t kZstdBlockMax = 128 * 1024;
constexpr std::uint64_t kInt32Max = 0x7FFFFFFF;

// Where decoded pixels may go straight to: a scratch image of `size` bytes.
// Used only when the blob decodes to exactly that many bytes, so the result
// is the same as decoding into a buffer of the blob's own and copying. The
// image gets its storage only then: the picture's size is the root's word,
// and only the blob's own bytes can back an allocation that large.
struct DirectTarget {
  lumo::CImage32* image = nullptr;
  int width = 0;
  int height = 0;
  std::uint64_t size = 0;
  bool used = false;

  // The scratch image's memory, or null when it cannot have any.
  unsigned char* Take() {
    if (!image->Resize(width, height) || image->m_pixels == nullptr) return nullptr;
    used = true;
    return reinterpret_cast<unsigned char*>(image->m_pixels);
  }
};

// Where a blob that holds at least the whole picture may go row by row.
// `taken` once the rows took it: then `length` counts the bytes they got.
struct RowsTarget {
  PictureRows* rows = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint64_t size = 0;
  bool taken = false;

  bool Take(std::uint64_t length) {
    taken = size <= length && rows->Begin(width, height);
    return taken;
  }
};

// The blob's decoding, on an open stream. False for anything unreadable.
bool DecodeBlob(PageStream& stream, DecompressorPool& pool, std::uint8_t* kind, std::uint64_t* length,
                HeapBytes* pixels, DirectTarget* direct, RowsTarget* rows) {
  const std::uint64_t total = stream.Length();
  if (stream.Read(kind, 1) != 1) return false;
  if (*kind == kBlobStored) {
    *length = total - 1;
    if (*length > kInt32Max) return false;
    if (rows != nullptr && rows->Take(*length)) return CopyStoredRows(stream, *length, *rows->rows);
    if (direct != nullptr && direct->size == *length) {
      if (unsigned char* memory = direct->Take())
        return static_cast<std::uint64_t>(stream.Read(memory, static_cast<std::int32_t>(*length))) == *length;
    }
    HeapBytes out = Allocate(*length);
    if (!out) return false;
    if (static_cast<std::uint64_t>(stream.Read(out.get(), static_cast<std::int32_t>(*length))) != *length)
      return false;
    *pixels = std::move(out);
    return true;
  }
  if (*kind != kBlobZstd) return false;

  unsigned char field[8];
  if (stream.Read(field, 8) != 8) return false;
  std::uint64_t declared = 0;
  for (int i = 7; i >= 0; --i) declared = (declared << 8) | field[i];

  const std::uint64_t compressedSize = total - 9;
  if (compressedSize > kInt32Max) return false;
  // Where the declared length and the frames' size can cover the picture,
  // the frames go straight to the rows: as in one call, frames that decode
  // to more than the declared length fail; fewer bytes than the picture are
  // no picture.
  if (rows != nullptr && declared <= kInt32Max && (compressedSize / 3 + 1) * kZstdBlockMax >= rows->size &&
      rows->Take(declared))
    return DecodeZstdRows(stream, pool, declared, *rows->rows, length) == ZstdRows::kDecoded;
  // From the large-block reserve: a host reading one document after another
  // reuses the pages instead of faulting fresh ones in each time.
  const auto size = static_cast<std::size_t>(compressedSize);
  std::unique_ptr<unsigned char, ReserveDeleter> compressed(static_cast<unsigned char*>(lumo::HeapAllocate(size)),
                                                            ReserveDeleter{size});
  if (!compressed) return false;
  if (static_cast<std::uint64_t>(stream.Read(compressed.get(), static_cast<std::int32_t>(compressedSize))) !=
      compressedSize)
    return false;

  // The header's length is the capacity, but never more than the frames can
  // produce: no allocation rests on a number the file cannot back.
  const std::optional<std::uint64_t> bound = ZstdOutputBound(compressed.get(), compressedSize);
  if (!bound) return false;
  const std::uint64_t capacity = std::min(declared, *bound);
  if (capacity > kInt32Max) return false;
  HeapBytes out;
  unsigned char* destination = nullptr;
  if (direct != nullptr && direct->size == capacity) destination = direct->Take();
  if (destination == nullptr) {
    out = Allocate(capacity);
    if (!out) return false;
    destination = out.get();
  }
  std::int32_t written = 0;
  if (!pool.Decompress(compressed.get(), static_cast<std::int32_t>(compressedSize), destination,
                       static_cast<std::int32_t>(capacity), &written))
    return false;
  // Only what zstd wrote counts as pixels.
  *length = static_cast<std::uint64_t>(written);
  *pixels = std::move(out);
  return true;
}

}  // namespace

std::optional<std::uint64_t> ZstdOutputBound(const unsigned char* frames, std::size_t size) {
  std::uint64_t total = 0;
  while (size > 0) {
    const std::size_t frame = ZSTD_findFrameCompressedSize(frames, size);
    if (ZSTD_isError(frame) || frame == 0 || frame > size) return std::nullopt;
    const unsigned long long content = ZSTD_getFrameContentSize(frames, frame);
    if (content == ZSTD_CONTENTSIZE_ERROR) return std::nullopt;
    const std::uint64_t most = (frame / 3 + 1) * kZstdBlockMax;
    if (content == ZSTD_CONTENTSIZE_UNKNOWN) {
      total += most;
    } else {
      if (content > most) return std::nullopt;
      total += content;
    }
    if (total > (std::uint64_t{1} << 62)) return std::nullopt;
    frames += frame;
    size -= frame;
  }
  return total;
}

namespace {

// ReadImageBlob, optionally decoding straight into `direct`, or into
// `rows` where they take the blob.
bool ReadImageBlobTo(DocumentContext& context, std::int64_t vidx, std::uint8_t* kind, std::uint64_t* length,
                     unsigned char** pixels, DirectTarget* direct, RowsTarget* rows) {
  std::string caught;
  try {
    PageStream stream;
    stream.Open(context.store.get(), vidx);
    HeapBytes out;
    const bool result = DecodeBlob(stream, context.pool, kind, length, &out, direct, rows);
    stream.Close();
    *pixels = result ? out.release() : nullptr;
    return result;
  } catch (const lumo::PXVError& error) {
    caught = error.what();
  }
  std::ostringstream text;
  text << caught;
  context.store->Describe(vidx, text);
  throw lumo::FException(text.str(), 2);
}

}  // namespace

bool ReadImageBlob(DocumentContext& context, std::int64_t vidx, std::uint8_t* kind, std::uint64_t* length,
                   unsigned char** pixels) {
  return ReadImageBlobTo(context, vidx, kind, length, pixels, nullptr, nullptr);
}

bool ExtractThumbnail(lumo::CImage32& image, DocumentContext& context, PictureRows* rows) {
  DocumentBuffer document;
  try {
    PageStream stream;
    stream.Open(context.store.get(), 0);
    document = LoadDocumentBuffer(stream);
    try {
      stream.Close();
    } catch (...) {
      std::free(document.buffer);
      throw;
    }
  } catch (const lumo::PXVError&) {
    return false;
  }
  DocumentBufferHolder holder(document);

  const kez::doc::ThumbRef* ref = holder->root->thumb_ref();
  if (ref == nullptr) return true;
  const std::int64_t width = ref->width();
  const std::int64_t height = ref->height();

  // With heap storage a blob that decodes to exactly the picture goes
  // straight into a scratch image of the picture's size, whose storage then
  // trades places with the caller's: no second buffer and no 4-byte-per-pixel
  // copy. Should the blob turn out unreadable, the caller's image was never
  // touched.
  const bool sizesFit = width >= 0 && height >= 0 &&
                        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4 <= kInt32Max;
  const std::uint64_t bytes = sizesFit ? static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4 : 0;
  lumo::CImage32 scratch;
  DirectTarget direct{&scratch, static_cast<int>(width), static_cast<int>(height), bytes};

  std::uint8_t kind = 0;
  std::uint64_t length = 0;
  unsigned char* raw = nullptr;
  DirectTarget* directTarget = !lumo::g_pagedMemory && bytes != 0 ? &direct : nullptr;
  RowsTarget offered{rows, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), bytes};
  RowsTarget* rowsTarget = rows != nullptr && sizesFit && bytes != 0 ? &offered : nullptr;
  if (!ReadImageBlobTo(context, ref->vidx(), &kind, &length, &raw, directTarget, rowsTarget))
    return true;
  HeapBytes pixels(raw);
  // The rows took a blob of at least the picture's bytes: it is theirs.
  if (offered.taken) {
    if (bytes <= length) rows->Finish();
    return true;
  }

  // The copy never reads past what the blob holds, and its size must fit the
  // 32-bit count; otherwise the blob is unreadable and the image untouched.
  // So is a side below 1: the image would grow a side with no pixels behind
  // it and show whatever its storage held before.
  if (!sizesFit || bytes == 0 || bytes > length) return true;

  // A picture that cannot be stored is no picture: the image is 1x1 then.
  if (!image.Resize(static_cast<int>(width), static_cast<int>(height))) return false;
  if (direct.used) {
    std::swap(image.m_buffer, scratch.m_buffer);
    std::swap(image.m_pixels, scratch.m_pixels);
    return true;
  }
  lumo::ImageLock lock(&image);
  std::uint32_t* target = image.m_pixels != nullptr ? image.m_pixels : image.RowAddress(0);
  if (target == nullptr) return false;
  std::memcpy(target, pixels.get(), static_cast<std::size_t>(bytes));
  return true;
}
