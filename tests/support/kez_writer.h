// Builds ".kez" page-store documents for tests, fuzz seeds, benchmarks and
// the tool's checks: both header pages, a shuffled page map with index
// continuation pages, inline and paged page streams with extension pages, the
// root record through the generated FlatBuffers builder, and the thumbnail
// blob stored raw (0xFF) or zstd-compressed (3). Every structure's file offset
// is exposed, so a test can damage any of it after the build.
//
// Documents are kept as sparse pages: a file may declare many more pages than
// it stores (the missing ones read as zeros), so a stream of hundreds of
// megabytes costs a few pages of memory.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/com.h"
#include "support/test_stream.h"

namespace kez::testing {

constexpr std::uint64_t kKezPageSize = 65536;
constexpr int kHeaderMapEntries = 4094;
constexpr int kContinuationMapEntries = 4095;
constexpr int kHeadDataEntries = 8189;
constexpr int kExtensionDataEntries = 8191;
constexpr std::uint64_t kInlineCapacity = 65527;

// A picture: width x height pixels 0xAARRGGBB, rows from the top.
struct KezPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  // The pixels as CImage32 holds them in memory (B, G, R, A per pixel).
  std::vector<std::uint8_t> Bytes() const;
};

// A small deterministic picture with distinct pixels (gradients and alpha).
KezPicture TestPicture(int width, int height, std::uint32_t seed = 1);

// For painting-like pictures see support/picture.h.

enum class StreamKind { Auto, Inline, Paged };

// Where one page stream lies.
struct KezStreamLayout {
  std::int64_t headVidx = -1;
  bool isInline = false;
  std::uint64_t length = 0;              // the content length written in the head
  std::vector<std::int64_t> extensionVidx;
  std::vector<std::int64_t> dataVidx;    // data page d -> its vidx
};

// A document as pages, with the offsets of its structures.
class KezDocument {
 public:
  // Page count of the file (the file's size is pageCount * 65536 + tailBytes).
  std::uint64_t pageCount = 0;
  std::uint64_t tailBytes = 0;
  // Stored pages by fidx; missing pages below pageCount read as zeros, and
  // so do the bytes past the end of a page stored shorter than 65536.
  std::map<std::uint64_t, std::vector<std::uint8_t>> pages;

  int currentHeader = 1;                       // fidx of the header that wins
  std::vector<std::uint64_t> continuationFidx;  // index continuation pages, chain order
  std::map<std::int64_t, std::uint64_t> map;    // vidx -> fidx, every mapped vidx
  KezStreamLayout root;
  KezStreamLayout blob;

  std::uint64_t Size() const { return pageCount * kKezPageSize + tailBytes; }
  // The whole file (only for files that fit in memory comfortably).
  std::vector<std::uint8_t> Bytes() const;
  // The byte at `offset` (zero where no page is stored).
  std::uint8_t ByteAt(std::uint64_t offset) const;

  // Offsets (absolute, in the file).
  std::uint64_t FidxOf(std::int64_t vidx) const;  // through `map`; throws if unmapped
  std::uint64_t PageOffset(std::int64_t vidx) const { return FidxOf(vidx) * kKezPageSize; }
  // The 8-byte fidx field of vidx's map entry in the current header or its
  // continuation page.
  std::uint64_t MapEntryOffset(std::int64_t vidx) const;
  // Header fields of header page `header` (0 or 1).
  static std::uint64_t HeaderOffset(int header) { return static_cast<std::uint64_t>(header) * kKezPageSize; }
  // File offset of byte `contentOffset` of a stream's content.
  std::uint64_t ContentOffset(const KezStreamLayout& stream, std::uint64_t contentOffset) const;

  // Damage on purpose: little-endian writes at an absolute offset.
  void PatchU8(std::uint64_t offset, std::uint8_t value);
  void PatchU32(std::uint64_t offset, std::uint32_t value);
  void PatchU64(std::uint64_t offset, std::uint64_t value);
  void PatchBytes(std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
  // Patch inside a stream's content.
  void PatchContent(const KezStreamLayout& stream, std::uint64_t contentOffset, const std::vector<std::uint8_t>& bytes);
  // Cut the file to `size` bytes.
  void Truncate(std::uint64_t size);

 private:
  std::vector<std::uint8_t>& PageFor(std::uint64_t offset);
};

// A TestStream over a KezDocument's sparse pages (a copy; large declared
// sizes cost nothing; pages never written read as zeros).
class KezStream final : public TestStream {
 public:
  explicit KezStream(const KezDocument& document);
  explicit KezStream(KezDocument&& document);

 protected:
  std::uint64_t ContentSize() const override { return m_size; }
  void CopyContent(std::uint64_t offset, std::uint8_t* out, std::uint64_t count) const override;

 private:
  std::map<std::uint64_t, std::vector<std::uint8_t>> m_pages;
  std::uint64_t m_size = 0;
};

// --- Low level: pages by vidx, laid out by the builder ----------------------

struct KezStoreOptions {
  std::int64_t counter0 = 0;  // commit counters of header pages 0 and 1
  std::int64_t counter1 = 1;
  std::int8_t version0 = 1;   // version bytes
  std::int8_t version1 = 1;
  // At least this many index continuation pages (more are added when a
  // vidx needs them).
  int minContinuationPages = 0;
  bool shuffle = true;       // fidx order differs from vidx order
  std::uint32_t seed = 7;
  int freePages = 1;         // unused file pages mixed in
  std::uint64_t minPageCount = 0;  // declared size at least this many pages
  // The losing header gets a map of its own that sends every vidx to a
  // wrong page, so a reader that elects the wrong header fails.
  bool poisonStaleHeader = true;
};

class KezBuilder {
 public:
  // Reserve the next unused vidx (vidx 0 is kept for the root stream).
  std::int64_t NewVidx();
  // A page's content (at most 65536 bytes; zero-padded) under `vidx`.
  void PutPage(std::int64_t vidx, std::vector<std::uint8_t> page);
  bool HasVidx(std::int64_t vidx) const { return m_pages.count(vidx) != 0; }

  struct StreamOptions {
    StreamKind kind = StreamKind::Auto;  // Auto: inline when it fits
    std::uint8_t pagedKindByte = 0;       // head byte 0 for the paged kind
    int extraExtensionPages = 0;          // chain longer than the content needs
    std::optional<std::uint64_t> declaredLength;  // head length field only
  };
  // Lays `content` out as a page stream whose head page has `headVidx`.
  KezStreamLayout AddStream(std::int64_t headVidx, const std::vector<std::uint8_t>& content,
                            const StreamOptions& options);
  KezStreamLayout AddStream(std::int64_t headVidx, const std::vector<std::uint8_t>& content) {
    return AddStream(headVidx, content, StreamOptions{});
  }

  KezDocument Finish(const KezStoreOptions& options) const;

 private:
  std::map<std::int64_t, std::vector<std::uint8_t>> m_pages;
  std::int64_t m_nextVidx = 1;
};

// --- The root record ---------------------------------------------------------

struct KezRootOptions {
  bool withThumbRef = true;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int64_t blobVidx = 1;
  bool fillOtherFields = true;  // strings, DocTableA/E/K entries with unions, ...
  int docTableECount = 3;
  std::uint8_t unknownUnionCode = 0;  // non-zero: one DocTableA entry gets this code
};
std::vector<std::uint8_t> BuildRootRecord(const KezRootOptions& options);

// --- Image blobs ---------------------------------------------------------------

struct KezZstdOptions {
  int level = 3;
  int frames = 1;
  bool checksum = false;
  bool declareSize = true;
};
// Kind 0xFF then the pixel bytes.
std::vector<std::uint8_t> RawBlob(const std::vector<std::uint8_t>& pixels);
// Kind 3, the 8-byte length, then the zstd frames.
std::vector<std::uint8_t> ZstdBlob(const std::vector<std::uint8_t>& pixels, const KezZstdOptions& options,
                                   std::optional<std::uint64_t> declaredLength = std::nullopt);
// One frame without a declared size whose header asks for a window of
// 2^windowLog bytes, whatever the picture needs.
std::vector<std::uint8_t> ZstdBlobWithWindow(const std::vector<std::uint8_t>& pixels, int windowLog);
// The zstd frames alone (what ZstdBlob puts after its 9-byte header).
std::vector<std::uint8_t> ZstdFrames(const std::vector<std::uint8_t>& data, const KezZstdOptions& options);
// Kind 3, the 8-byte length, then `frames` as they are.
std::vector<std::uint8_t> ZstdBlobOf(const std::vector<std::uint8_t>& frames, std::uint64_t declaredLength);

// zstd frames written by hand: raw blocks of at most 16 KiB behind the
// header fields asked for (a windowed frame asks for 32 KiB).
struct ZstdFrameHeader {
  bool singleSegment = true;
  int sizeBytes = 8;          // 0 (no size), 1 (single segment only), 2, 4 or 8
  int dictionaryIdBytes = 0;  // 0, 1, 2 or 4
  std::uint32_t dictionaryId = 0;

  std::size_t Size() const { return 6 - singleSegment + dictionaryIdBytes + sizeBytes; }
};
std::vector<std::uint8_t> ZstdRawFrame(const std::uint8_t* data, std::size_t size, const ZstdFrameHeader& header);
// A skippable frame `size` (at least 8) bytes long, its content zeros.
std::vector<std::uint8_t> ZstdSkippableFrame(std::size_t size);

// --- The whole document ---------------------------------------------------------

struct KezOptions {
  KezStoreOptions store;
  enum class Blob { Raw, Zstd } blob = Blob::Raw;
  KezZstdOptions zstd;
  std::int64_t blobVidx = 3;
  KezBuilder::StreamOptions rootStream;
  KezBuilder::StreamOptions blobStream;
  KezRootOptions root;  // width, height, blobVidx are taken from the picture and blobVidx
  // Exact contents instead of the built ones.
  std::optional<std::vector<std::uint8_t>> rootContent;
  std::optional<std::vector<std::uint8_t>> blobContent;
  // Vidx values taken before the streams, so the streams' pages sit higher.
  int skipVidx = 0;
};

KezDocument BuildKez(const KezPicture& picture, const KezOptions& options = {});
// The same, flattened.
std::vector<std::uint8_t> BuildKezBytes(const KezPicture& picture, const KezOptions& options = {});

}  // namespace kez::testing
