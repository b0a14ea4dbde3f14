#include "formats/pxv/pxv_reader.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "formats/pxv/document_reader.h"
#include "lumo/errors.h"
#include "platform/testing.h"
#include "support/kez_writer.h"
#include "support/test_stream.h"
#include "support/two_roads.h"

namespace {

using kez::testing::BuildKez;
using kez::testing::BuildRootRecord;
using kez::testing::KezDocument;
using kez::testing::KezOptions;
using kez::testing::KezPicture;
using kez::testing::KezStream;
using kez::testing::TestPicture;
using kez::testing::TestStream;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::uint32_t> Pixels(const lumo::CImage32& image) {
  return std::vector<std::uint32_t>(image.m_pixels, image.m_pixels + std::size_t(image.m_width) * image.m_height);
}

// An image that already holds something, to see that it stays untouched.
void Prefill(lumo::CImage32& image) {
  ASSERT_TRUE(image.Resize(3, 2));
  for (int i = 0; i < 6; ++i) image.m_pixels[i] = 0x12345600u + i;
}

void ExpectUntouched(const lumo::CImage32& image) {
  ASSERT_EQ(image.m_width, 3);
  ASSERT_EQ(image.m_height, 2);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(image.m_pixels[i], 0x12345600u + i);
}

void ExpectPlaceholder(const lumo::CImage32& image) {
  ASSERT_EQ(image.m_width, 64);
  ASSERT_EQ(image.m_height, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool grey = ((y % 16) < 8) != ((x % 16) < 8);
      ASSERT_EQ(image.m_pixels[y * 64 + x], grey ? 0xFFE0E0E0u : 0xFFFFFFFFu) << x << "," << y;
    }
}

class PxvReader : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testing::ResetNotices();
    platform::testing::EchoNotices(false);
  }
  void TearDown() override { platform::testing::EchoNotices(true); }

  static void ExpectOneNotice() {
    const auto notices = platform::testing::Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, L"throw error!");
    EXPECT_EQ(notices[0].caption, L"xxx");
    EXPECT_EQ(notices[0].type, static_cast<UINT>(MB_ICONINFORMATION));
  }
  static void ExpectNoNotice() { EXPECT_EQ(platform::testing::NoticeCount(), 0); }

  static bool Read(const KezDocument& doc, lumo::CImage32& image) {
    KezStream stream(doc);
    return ReadPxvDocument(image, &stream);
  }
  // The same, offering the rows (taken in small pieces).
  static bool ReadRows(const KezDocument& doc, lumo::CImage32& image, kez::testing::RecordedRows& rows) {
    KezStream stream(doc);
    return ReadPxvDocument(image, &stream, rows);
  }
};

// ------------------------------------------------------------ good documents

struct LayoutCase {
  const char* name;
  int width, height;
  void (*tune)(KezOptions&);
};

class Layouts : public PxvReader, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(Layouts, StoredPictureIsCopiedExactly) {
  const KezPicture picture = TestPicture(GetParam().width, GetParam().height, 11);
  KezOptions options;
  GetParam().tune(options);
  const KezDocument doc = BuildKez(picture, options);
  lumo::CImage32 image;
  ASSERT_TRUE(Read(doc, image));
  EXPECT_EQ(image.m_width, picture.width);
  EXPECT_EQ(image.m_height, picture.height);
  EXPECT_EQ(Pixels(image), picture.pixels);
  ExpectNoNotice();

  // Offered rows, the same bytes go there (and whatever follows them), the
  // image left alone.
  kez::testing::RecordedRows rows(777);
  lumo::CImage32 untouched;
  ASSERT_TRUE(ReadRows(doc, untouched, rows));
  EXPECT_EQ(rows.begun, 1);
  EXPECT_TRUE(rows.finished);
  EXPECT_EQ(untouched.m_width, 1);
  ASSERT_GE(rows.bytes.size(), picture.pixels.size() * 4);
  EXPECT_EQ(std::memcmp(rows.bytes.data(), picture.pixels.data(), picture.pixels.size() * 4), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, Layouts,
    ::testing::Values(
        LayoutCase{"raw_inline", 16, 9, [](KezOptions&) {}},
        LayoutCase{"raw_paged", 300, 200, [](KezOptions&) {}},
        LayoutCase{"raw_one_row", 257, 1, [](KezOptions&) {}},
        LayoutCase{"zstd", 300, 200, [](KezOptions& o) { o.blob = KezOptions::Blob::Zstd; }},
        LayoutCase{"zstd_checksum_frames",
                   256, 130,
                   [](KezOptions& o) {
                     o.blob = KezOptions::Blob::Zstd;
                     o.zstd.checksum = true;
                     o.zstd.frames = 4;
                   }},
        LayoutCase{"zstd_sizes_not_declared",
                   200, 190,
                   [](KezOptions& o) {
                     o.blob = KezOptions::Blob::Zstd;
                     o.zstd.declareSize = false;
                     o.zstd.frames = 3;
                   }},
        LayoutCase{"paged_root_and_extension_pages",
                   100, 100,
                   [](KezOptions& o) {
                     o.rootStream.kind = kez::testing::StreamKind::Paged;
                     o.blobStream.kind = kez::testing::StreamKind::Paged;
                     o.blobStream.extraExtensionPages = 2;
                     o.rootStream.extraExtensionPages = 1;
                   }},
        LayoutCase{"pages_past_the_header_map",
                   120, 90,
                   [](KezOptions& o) {
                     o.skipVidx = 8200;
                     o.blobVidx = 8189;
                   }},
        LayoutCase{"page_zero_current_negative_versions",
                   40, 30,
                   [](KezOptions& o) {
                     o.store.counter0 = 5;
                     o.store.counter1 = -1;
                     o.store.version0 = -1;
                     o.store.version1 = 2;
                   }},
        LayoutCase{"no_other_root_fields", 33, 17, [](KezOptions& o) { o.root.fillOtherFields = false; }},
        // What an encoder that does not know the size asks for at most.
        LayoutCase{"zstd_window_of_8_MiB_for_64_KiB", 128, 128,
                   [](KezOptions& o) { o.blobContent = kez::testing::ZstdBlobWithWindow(TestPicture(128, 128, 11).Bytes(), 23); }},
        // A 16 MiB window (past what encoders choose) for 64 KiB: decoded
        // whole from where the stream stands.
        LayoutCase{"zstd_window_beyond_the_declared_length", 128, 128,
                   [](KezOptions& o) { o.blobContent = kez::testing::ZstdBlobWithWindow(TestPicture(128, 128, 11).Bytes(), 24); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- the magic

struct MagicCase {
  std::uint8_t bytes[4];
  bool accepted;
};

class Magic : public PxvReader, public ::testing::WithParamInterface<MagicCase> {};

TEST_P(Magic, VersionIsTakenSigned) {
  KezDocument doc = BuildKez(TestPicture(4, 4));
  doc.PatchBytes(0, Bytes(GetParam().bytes, GetParam().bytes + 4));
  KezStream stream(doc);
  lumo::CImage32 image;
  Prefill(image);
  const bool result = ReadPxvDocument(image, &stream);
  if (GetParam().accepted) {
    EXPECT_TRUE(result);
    EXPECT_EQ(image.m_width, 4);
  } else {
    EXPECT_FALSE(result);
    EXPECT_EQ(stream.readCalls, 1);  // nothing past the first four bytes
    EXPECT_EQ(stream.seekCalls, 0);
    EXPECT_EQ(stream.statCalls, 0);
    ExpectUntouched(image);
  }
  ExpectNoNotice();
}

INSTANTIATE_TEST_SUITE_P(Bytes4, Magic,
                         ::testing::Values(MagicCase{{'p', 'x', 'v', 1}, true}, MagicCase{{'p', 'x', 'v', 0}, true},
                                           MagicCase{{'p', 'x', 'v', 0xFF}, true},
                                           MagicCase{{'p', 'x', 'v', 0x80}, true},
                                           MagicCase{{'p', 'x', 'v', 2}, false},
                                           MagicCase{{'p', 'x', 'v', 0x7F}, false},
                                           MagicCase{{'P', 'x', 'v', 1}, false},
                                           MagicCase{{'p', 'x', 'w', 1}, false}));

TEST_F(PxvReader, ReadsFromTheCurrentPositionWithoutSeeking) {
  Bytes bytes = {'p', 'x'};
  TestStream stream(bytes);
  lumo::CImage32 image;
  EXPECT_FALSE(ReadPxvDocument(image, &stream));
  EXPECT_EQ(stream.seekCalls, 0);
  ExpectNoNotice();
}

// --------------------------------------------------------------- error path

TEST_F(PxvReader, HundredByteFileShowsTheNoticeAndLeavesThePlaceholder) {
  Bytes bytes(100, 0);
  std::memcpy(bytes.data(), "pxv\x01", 4);
  TestStream stream(bytes);
  lumo::CImage32 image;
  EXPECT_FALSE(ReadPxvDocument(image, &stream));
  ExpectOneNotice();
  ExpectPlaceholder(image);
}

struct FaultCase {
  const char* name;
  void (*damage)(KezDocument&);
};

class ErrorPath : public PxvReader, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ErrorPath, NoticePlaceholderAndFalse) {
  KezOptions options;
  options.blobStream.kind = kez::testing::StreamKind::Paged;
  options.store.minContinuationPages = 1;
  KezDocument doc = BuildKez(TestPicture(40, 40), options);
  GetParam().damage(doc);
  lumo::CImage32 image;
  Prefill(image);
  KezStream stream(doc);
  EXPECT_FALSE(ReadPxvDocument(image, &stream));
  ExpectOneNotice();
  ExpectPlaceholder(image);
  // However large the file claims to be, a failure costs a few pages.
  EXPECT_LT(stream.bytesRead, 16 * 65536u);
}

// A gigabyte by its size, a few pages on disk.
void SparseGigabyte(KezDocument& d) { d.pageCount = 16384; }

INSTANTIATE_TEST_SUITE_P(
    Faults, ErrorPath,
    ::testing::Values(
        FaultCase{"blob_first_extension_zero",
                  [](KezDocument& d) { d.PatchU64(d.PageOffset(d.blob.headVidx) + 9, 0); }},
        FaultCase{"blob_length_beyond_the_file",
                  [](KezDocument& d) { d.PatchU64(d.PageOffset(d.blob.headVidx) + 1, 1ULL << 40); }},
        FaultCase{"blob_data_page_outside_the_map",
                  [](KezDocument& d) { d.PatchU64(d.PageOffset(d.blob.headVidx) + 17, 9000000); }},
        FaultCase{"blob_page_beyond_the_file",
                  [](KezDocument& d) { d.PatchU64(d.MapEntryOffset(d.blob.dataVidx[0]), 1000); }},
        FaultCase{"index_chain_loops",
                  [](KezDocument& d) {
                    d.PatchU64(d.continuationFidx[0] * 65536 + 8, d.continuationFidx[0]);
                  }},
        FaultCase{"index_chain_loops_in_a_sparse_gigabyte",
                  [](KezDocument& d) {
                    SparseGigabyte(d);
                    d.PatchU64(d.continuationFidx[0] * 65536 + 8, d.continuationFidx[0]);
                  }},
        FaultCase{"blob_extension_chain_loops_in_a_sparse_gigabyte",
                  [](KezDocument& d) {
                    SparseGigabyte(d);
                    const std::int64_t page = d.blob.dataVidx[0];
                    d.PatchU64(d.PageOffset(d.blob.headVidx) + 9, static_cast<std::uint64_t>(page));
                    d.PatchU64(d.PageOffset(page), static_cast<std::uint64_t>(page));
                  }},
        FaultCase{"truncated_file", [](KezDocument& d) { d.Truncate(65536 + 1000); }},
        FaultCase{"root_head_outside_the_file", [](KezDocument& d) { d.PatchU64(d.MapEntryOffset(0), 1ULL << 50); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PxvReader, ThumbRefToAVidxOutsideTheMapTakesTheErrorPath) {
  KezOptions options;
  options.rootContent = BuildRootRecord({true, 8, 8, 1 << 20, true, 3, 0});
  const KezDocument doc = BuildKez(TestPicture(8, 8), options);
  lumo::CImage32 image;
  EXPECT_FALSE(Read(doc, image));
  ExpectOneNotice();
  ExpectPlaceholder(image);
}

struct ReaderStreamFault {
  const char* name;
  void (*arm)(KezStream&);
};

class ReaderStreamFaults : public PxvReader, public ::testing::WithParamInterface<ReaderStreamFault> {};

TEST_P(ReaderStreamFaults, TakeTheErrorPath) {
  const KezDocument doc = BuildKez(TestPicture(8, 8));
  KezStream stream(doc);
  GetParam().arm(stream);
  lumo::CImage32 image;
  EXPECT_FALSE(ReadPxvDocument(image, &stream));
  ExpectOneNotice();
  ExpectPlaceholder(image);
}

TEST_F(PxvReader, StreamEndingInsideTheBlobTakesTheErrorPathOnBothRoads) {
  KezOptions options;
  options.blob = KezOptions::Blob::Zstd;
  const KezDocument whole = BuildKez(TestPicture(300, 200), options);
  ASSERT_GE(whole.blob.dataVidx.size(), 2u);
  for (const bool rowsOffered : {false, true}) {
    KezDocument doc = whole;
    doc.Truncate(doc.PageOffset(doc.blob.dataVidx[1]) + 65536 / 2);  // half of the blob's second data page
    lumo::CImage32 image;
    kez::testing::RecordedRows rows;
    EXPECT_FALSE(rowsOffered ? ReadRows(doc, image, rows) : Read(doc, image));
    EXPECT_FALSE(rows.finished);
    ExpectPlaceholder(image);
    ExpectOneNotice();
    platform::testing::ResetNotices();
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, ReaderStreamFaults,
                         ::testing::Values(ReaderStreamFault{"stat", [](KezStream& s) { s.failStat = E_FAIL; }},
                                           ReaderStreamFault{"seek", [](KezStream& s) { s.failSeek = E_FAIL; }}),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------- root record failures: no notice

struct RootCase {
  const char* name;
  Bytes (*root)();
  void (*damage)(KezDocument&);
};

class RootFailures : public PxvReader, public ::testing::WithParamInterface<RootCase> {};

TEST_P(RootFailures, FalseWithoutNoticeImageUntouched) {
  KezOptions options;
  options.rootStream.kind = kez::testing::StreamKind::Paged;
  if (GetParam().root != nullptr) options.rootContent = GetParam().root();
  KezDocument doc = BuildKez(TestPicture(8, 8), options);
  if (GetParam().damage != nullptr) GetParam().damage(doc);
  lumo::CImage32 image;
  Prefill(image);
  EXPECT_FALSE(Read(doc, image));
  ExpectNoNotice();
  ExpectUntouched(image);
}

INSTANTIATE_TEST_SUITE_P(
    Roots, RootFailures,
    ::testing::Values(RootCase{"empty", [] { return Bytes{}; }, nullptr},
                      RootCase{"eleven_bytes", [] { return Bytes(11, 4); }, nullptr},
                      RootCase{"garbage", [] { return Bytes(500, 0xA5); }, nullptr},
                      RootCase{"root_first_extension_zero", nullptr,
                               [](KezDocument& d) { d.PatchU64(d.PageOffset(0) + 9, 0); }},
                      RootCase{"root_length_beyond_the_file", nullptr,
                               [](KezDocument& d) { d.PatchU64(d.PageOffset(0) + 1, d.pageCount * 65536 + 1); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------- unreadable blobs: true, untouched

struct BlobCase {
  const char* name;
  Bytes (*blob)(const KezPicture&);
};

class UnreadableBlobs : public PxvReader, public ::testing::WithParamInterface<BlobCase> {};

TEST_P(UnreadableBlobs, TrueAndImageUntouched) {
  const KezPicture picture = TestPicture(20, 10, 5);
  KezOptions options;
  options.blobContent = GetParam().blob(picture);
  const KezDocument doc = BuildKez(picture, options);
  lumo::CImage32 image;
  Prefill(image);
  EXPECT_TRUE(Read(doc, image));
  ExpectUntouched(image);
  ExpectNoNotice();
  // Rows that took the blob are never finished with it.
  kez::testing::RecordedRows rows;
  EXPECT_TRUE(ReadRows(doc, image, rows));
  ExpectUntouched(image);
  EXPECT_FALSE(rows.finished);
  ExpectNoNotice();
}

Bytes Zstd(const KezPicture& p, kez::testing::KezZstdOptions o = {}) { return kez::testing::ZstdBlob(p.Bytes(), o); }

INSTANTIATE_TEST_SUITE_P(
    Blobs, UnreadableBlobs,
    ::testing::Values(
        BlobCase{"kind_2", [](const KezPicture& p) { Bytes b = kez::testing::RawBlob(p.Bytes()); b[0] = 2; return b; }},
        BlobCase{"empty", [](const KezPicture&) { return Bytes{}; }},
        BlobCase{"raw_one_pixel_short",
                 [](const KezPicture& p) { Bytes b = kez::testing::RawBlob(p.Bytes()); b.resize(b.size() - 4); return b; }},
        BlobCase{"raw_one_byte_short",
                 [](const KezPicture& p) { Bytes b = kez::testing::RawBlob(p.Bytes()); b.pop_back(); return b; }},
        BlobCase{"zstd_corrupt",
                 [](const KezPicture& p) {
                   Bytes b = Zstd(p);
                   for (std::size_t i = 20; i < b.size(); i += 7) b[i] ^= 0x5A;
                   return b;
                 }},
        BlobCase{"zstd_bad_checksum",
                 [](const KezPicture& p) {
                   kez::testing::KezZstdOptions o;
                   o.checksum = true;
                   Bytes b = Zstd(p, o);
                   b.back() ^= 1;
                   return b;
                 }},
        BlobCase{"zstd_truncated",
                 [](const KezPicture& p) { Bytes b = Zstd(p); b.resize(b.size() - 3); return b; }},
        BlobCase{"zstd_header_shorter_than_frames",
                 [](const KezPicture& p) { return kez::testing::ZstdBlob(p.Bytes(), {}, p.Bytes().size() - 1); }},
        BlobCase{"zstd_frames_shorter_than_picture",
                 [](const KezPicture& p) {
                   Bytes half = p.Bytes();
                   half.resize(half.size() / 2);
                   return kez::testing::ZstdBlob(half, {}, p.Bytes().size());
                 }},
        BlobCase{"zstd_frame_declares_more_than_it_can_hold",
                 [](const KezPicture& p) {
                   // A frame header promising 2^40 bytes over a few bytes of data.
                   Bytes b = Zstd(p);
                   Bytes frame = {0x28, 0xB5, 0x2F, 0xFD, 0xC0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0};
                   b.resize(9);
                   b.insert(b.end(), frame.begin(), frame.end());
                   return b;
                 }},
        BlobCase{"zstd_header_too_short", [](const KezPicture&) { return Bytes{3, 1, 2, 3}; }},
        BlobCase{"zstd_no_frames", [](const KezPicture& p) { Bytes b = Zstd(p); b.resize(9); return b; }}),
    [](const auto& info) { return std::string(info.param.name); });

// The ThumbRef's size against the blob.
struct SizeCase {
  const char* name;
  std::int32_t width, height;
};

class ThumbSizes : public PxvReader, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ThumbSizes, PixelCopyNeverReadsPastTheBlob) {
  const KezPicture picture = TestPicture(16, 16);
  KezOptions options;
  options.rootContent = BuildRootRecord({true, GetParam().width, GetParam().height, 3, true, 3, 0});
  const KezDocument doc = BuildKez(picture, options);
  lumo::CImage32 image;
  Prefill(image);
  EXPECT_TRUE(Read(doc, image));
  ExpectUntouched(image);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ThumbSizes,
                         ::testing::Values(SizeCase{"one_row_too_many", 16, 17}, SizeCase{"wider", 17, 16},
                                           SizeCase{"product_wraps_32_bits", 65536, 65536},
                                           SizeCase{"product_wraps_to_small", 0x40000001, 4},
                                           SizeCase{"negative_width", -16, 16},
                                           SizeCase{"both_negative", -1, -1},
                                           // A side of 0 would leave a side's worth of unwritten pixels.
                                           SizeCase{"zero_width", 0, 16}, SizeCase{"zero_height", 16, 0},
                                           SizeCase{"zero_by_zero", 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PxvReader, SmallerThumbRefCopiesItsOwnShare) {
  // The blob may hold more than the picture: only width x height x 4 bytes.
  const KezPicture picture = TestPicture(16, 16);
  KezOptions options;
  options.rootContent = BuildRootRecord({true, 8, 4, 3, true, 3, 0});
  lumo::CImage32 image;
  ASSERT_TRUE(Read(BuildKez(picture, options), image));
  ASSERT_EQ(image.m_width, 8);
  ASSERT_EQ(image.m_height, 4);
  EXPECT_EQ(Pixels(image), std::vector<std::uint32_t>(picture.pixels.begin(), picture.pixels.begin() + 32));
}

TEST_F(PxvReader, RootWithoutThumbRefIsTrueAndUntouched) {
  KezOptions options;
  options.root.withThumbRef = false;
  lumo::CImage32 image;
  Prefill(image);
  EXPECT_TRUE(Read(BuildKez(TestPicture(4, 4), options), image));
  ExpectUntouched(image);
  ExpectNoNotice();
}

TEST_F(PxvReader, ReadsOnlyHeaderRootAndBlobPages) {
  // Other pages of the document are never read: 2 headers, root, blob.
  KezOptions options;
  options.store.freePages = 20;
  const KezDocument doc = BuildKez(TestPicture(10, 10), options);
  KezStream stream(doc);
  lumo::CImage32 image;
  ASSERT_TRUE(ReadPxvDocument(image, &stream));
  EXPECT_EQ(stream.bytesRead, 4u + 4 * 65536);
}

// ------------------------------------------------ ReadImageBlob's exception

TEST(ReadImageBlob, MalformedBlobStreamBecomesFExceptionWithTheDescription) {
  KezOptions options;
  options.blobStream.kind = kez::testing::StreamKind::Paged;
  KezDocument doc = BuildKez(TestPicture(8, 8), options);
  doc.PatchU64(doc.PageOffset(3) + 9, 0);
  KezStream stream(doc);
  DocumentContext context(pagestore::OpenPageStore(&stream));
  std::string dump;
  static const char digits[] = "0123456789abcdef";
  for (int i = 0; i < 64; ++i) {
    const std::uint8_t b = doc.ByteAt(doc.PageOffset(3) + i);
    dump += {digits[b >> 4], digits[b & 15], ' '};
  }
  std::uint8_t kind = 0;
  std::uint64_t length = 0;
  unsigned char* pixels = nullptr;
  try {
    ReadImageBlob(context, 3, &kind, &length, &pixels);
    FAIL() << "no exception";
  } catch (const lumo::FException& e) {
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(std::string(e.what()), "Invalid nextVidx: 0x0\nhead: " + dump + "\nvidx: 3, fidx: " +
                                         std::to_string(doc.FidxOf(3)) + "\npageNum: " +
                                         std::to_string(doc.pageCount) + "\n");
  }
  EXPECT_EQ(pixels, nullptr);
}

// ----------------------------------------------------------- output bound

TEST(ZstdOutputBound, TrustsDeclaredSizesOnlyWhereTheFrameCanHoldThem) {
  const Bytes data(300000, 7);
  kez::testing::KezZstdOptions declared;
  declared.frames = 3;
  const Bytes frames = kez::testing::ZstdFrames(data, declared);
  EXPECT_EQ(ZstdOutputBound(frames.data(), frames.size()), std::optional<std::uint64_t>(300000));

  kez::testing::KezZstdOptions unknown;
  unknown.declareSize = false;
  const Bytes open = kez::testing::ZstdFrames(data, unknown);
  const auto bound = ZstdOutputBound(open.data(), open.size());
  ASSERT_TRUE(bound.has_value());
  EXPECT_GE(*bound, 300000u);
  EXPECT_EQ(*bound, (open.size() / 3 + 1) * 131072);

  const Bytes liar = {0x28, 0xB5, 0x2F, 0xFD, 0xC0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0};
  EXPECT_FALSE(ZstdOutputBound(liar.data(), liar.size()).has_value());
  const Bytes junk = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(ZstdOutputBound(junk.data(), junk.size()).has_value());
  EXPECT_EQ(ZstdOutputBound(junk.data(), 0), std::optional<std::uint64_t>(0));
}

// ---------------------------------------------------------- DecompressorPool

TEST(DecompressorPool, ReusesOneContextForSequentialCalls) {
  const Bytes data(5000, 9);
  const Bytes frames = kez::testing::ZstdFrames(data, {});
  DecompressorPool pool;
  Bytes out(5000);
  for (int i = 0; i < 5; ++i) {
    std::int32_t written = 0;
    ASSERT_TRUE(pool.Decompress(frames.data(), std::int32_t(frames.size()), out.data(), 5000, &written));
    EXPECT_EQ(written, 5000);
  }
  EXPECT_EQ(out, data);
  // Failures give the context back too.
  EXPECT_FALSE(pool.Decompress(frames.data(), std::int32_t(frames.size()), out.data(), 4999));
  EXPECT_FALSE(pool.Decompress(data.data(), 100, out.data(), 5000));
  EXPECT_EQ(pool.CreatedCount(), 1u);
  EXPECT_EQ(pool.IdleCount(), 1u);
}

TEST(DecompressorPool, ConcurrentCallersShareAndReturnContexts) {
  const Bytes data(20000, 3);
  const Bytes frames = kez::testing::ZstdFrames(data, {});
  DecompressorPool pool;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      Bytes out(20000);
      for (int i = 0; i < 50; ++i)
        if (!pool.Decompress(frames.data(), std::int32_t(frames.size()), out.data(), 20000) || out != data) ++failures;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GE(pool.CreatedCount(), 1u);
  EXPECT_LE(pool.CreatedCount(), 4u);
  EXPECT_EQ(pool.IdleCount(), pool.CreatedCount());
}

}  // namespace
