#include "formats/pxv/page_stream.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "lumo/errors.h"
#include "support/kez_writer.h"

namespace {

using kez::testing::KezBuilder;
using kez::testing::KezDocument;
using kez::testing::KezStoreOptions;
using kez::testing::KezStream;
using kez::testing::KezStreamLayout;

// Forwards to a real store and records every call.
class RecordingStore final : public pagestore::ReadablePageStore {
 public:
  explicit RecordingStore(pagestore::ReadablePageStore* inner) : m_inner(inner) {}
  unsigned char* GetPage(std::int64_t vidx) override {
    gets.push_back(vidx);
    return m_inner->GetPage(vidx);
  }
  void ReleasePage(unsigned char* buffer, std::int64_t vidx) override {
    releases.push_back(vidx);
    m_inner->ReleasePage(buffer, vidx);
  }
  bool HasPage(std::int64_t vidx) override { return m_inner->HasPage(vidx); }
  void Describe(std::int64_t vidx, std::ostream& out) override { m_inner->Describe(vidx, out); }
  std::uint8_t Version() override { return m_inner->Version(); }
  std::uint64_t PageCount() override { return m_inner->PageCount(); }

  std::vector<std::int64_t> gets;
  std::vector<std::int64_t> releases;

 private:
  pagestore::ReadablePageStore* m_inner;
};

KezBuilder::StreamOptions Kind(kez::testing::StreamKind kind) {
  KezBuilder::StreamOptions options;
  options.kind = kind;
  return options;
}

std::vector<std::uint8_t> Sequence(std::size_t n, std::uint32_t seed = 0) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>((i * 131 + seed + (i >> 16) * 7) & 0xFF);
  return bytes;
}

// A store holding one stream at vidx 5.
struct OneStream {
  OneStream(const std::vector<std::uint8_t>& content, KezBuilder::StreamOptions options = {},
            KezStoreOptions storeOptions = {}) {
    KezBuilder builder;
    builder.PutPage(5, {});
    layout = builder.AddStream(5, content, options);
    doc = builder.Finish(storeOptions);
    doc.blob = layout;
  }
  void Open() {
    stream = std::make_unique<KezStream>(doc);
    store = pagestore::OpenPageStore(stream.get());
    recorder = std::make_unique<RecordingStore>(store.get());
  }
  KezDocument doc;
  KezStreamLayout layout;
  std::unique_ptr<KezStream> stream;
  std::unique_ptr<pagestore::RPageStore<pagestore::SeekPageMapper>> store;
  std::unique_ptr<RecordingStore> recorder;
};

std::string OpenError(OneStream& s) {
  s.Open();
  PageStream stream;
  try {
    stream.Open(s.recorder.get(), 5);
  } catch (const lumo::PXVError& e) {
    EXPECT_EQ(s.store->File().LiveBuffers(), 1u) << "pages held after a failed Open";
    return e.what();
  }
  return "(no exception)";
}

std::string HeadDumpOf(const KezDocument& doc, std::int64_t vidx) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  const std::uint64_t base = doc.PageOffset(vidx);
  for (int i = 0; i < 64; ++i) {
    const std::uint8_t b = doc.ByteAt(base + i);
    text += digits[b >> 4];
    text += digits[b & 15];
    text += ' ';
  }
  return text;
}

// ------------------------------------------------------------------ inline

TEST(InlineStream, EmptyReadsZero) {
  OneStream s({}, Kind(kez::testing::StreamKind::Inline));
  s.Open();
  PageStream stream;
  stream.Open(s.recorder.get(), 5);
  std::uint8_t buffer[4];
  EXPECT_EQ(stream.Read(buffer, 4), 0);
  stream.Close();
}

TEST(InlineStream, ReadsInChunksUpToTheEnd) {
  const auto content = Sequence(10);
  OneStream s(content);
  s.Open();
  PageStream stream;
  stream.Open(s.recorder.get(), 5);
  ASSERT_TRUE(stream.IsInline());
  std::vector<std::uint8_t> got(12, 0xCC);
  EXPECT_EQ(stream.Read(got.data(), 4), 4);
  EXPECT_EQ(stream.Read(got.data() + 4, 4), 4);
  EXPECT_EQ(stream.Read(got.data() + 8, 4), 2);
  EXPECT_EQ(stream.Read(got.data() + 10, 4), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.begin() + 10), content);
  EXPECT_EQ(got[10], 0xCC);  // nothing past the content
  stream.Close();
  EXPECT_EQ(s.recorder->gets, std::vector<std::int64_t>{5});
  EXPECT_EQ(s.recorder->releases, std::vector<std::int64_t>{5});
}

TEST(InlineStream, KindOneNeverLoadsExtensionPages) {
  OneStream s(Sequence(20));
  s.doc.PatchU64(s.doc.PageOffset(5) + 9, 0);  // bytes 9..16 would be an invalid chain
  s.Open();
  PageStream stream;
  EXPECT_NO_THROW(stream.Open(s.recorder.get(), 5));
  EXPECT_EQ(stream.ExtensionPages(), 0u);
}

TEST(InlineStream, LengthBeyondTheHeadPageIsMalformed) {
  OneStream s(Sequence(20));
  s.doc.PatchU64(s.doc.PageOffset(5) + 1, 65528);
  const std::string message = OpenError(s);
  EXPECT_EQ(message, "Invalid length: 0xfff8\nhead: " + HeadDumpOf(s.doc, 5) + "\n");
}

TEST(InlineStream, FullHeadPageOf65527BytesReads) {
  const auto content = Sequence(65527);
  OneStream s(content);
  s.Open();
  PageStream stream;
  stream.Open(s.recorder.get(), 5);
  std::vector<std::uint8_t> got(65527);
  EXPECT_EQ(stream.Read(got.data(), 70000), 65527);
  EXPECT_EQ(got, content);
}

// ------------------------------------------------------------------- paged

struct ChunkCase {
  std::size_t length;
  std::int32_t chunk;
};

class PagedChunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(PagedChunks, OddChunksFetchEachDataPageOnce) {
  const auto content = Sequence(GetParam().length, 3);
  OneStream s(content, Kind(kez::testing::StreamKind::Paged));
  s.Open();
  PageStream stream;
  stream.Open(s.recorder.get(), 5);
  ASSERT_FALSE(stream.IsInline());
  std::vector<std::uint8_t> got;
  std::vector<std::uint8_t> chunk(GetParam().chunk);
  for (;;) {
    const std::int32_t n = stream.Read(chunk.data(), GetParam().chunk);
    if (n == 0) break;
    got.insert(got.end(), chunk.begin(), chunk.begin() + n);
  }
  EXPECT_EQ(got, content);
  std::vector<std::int64_t> expected{5};
  expected.insert(expected.end(), s.layout.dataVidx.begin(), s.layout.dataVidx.end());
  EXPECT_EQ(s.recorder->gets, expected);
  stream.Close();
  EXPECT_EQ(s.store->File().LiveBuffers(), 1u);  // only the header is left
}

INSTANTIATE_TEST_SUITE_P(Chunks, PagedChunks,
                         ::testing::Values(ChunkCase{65537, 7}, ChunkCase{65537, 65536}, ChunkCase{65537, 1 << 20},
                                           ChunkCase{200000, 4099}, ChunkCase{3 * 65536, 65535},
                                           ChunkCase{1, 3}, ChunkCase{0, 5}));

TEST(PagedStream, ClosesCachedThenExtensionsThenHead) {
  KezBuilder::StreamOptions options;
  options.kind = kez::testing::StreamKind::Paged;
  options.extraExtensionPages = 2;
  const auto content = Sequence(70000);
  OneStream s(content, options);
  s.Open();
  PageStream stream;
  stream.Open(s.recorder.get(), 5);
  EXPECT_EQ(stream.ExtensionPages(), 2u);
  std::vector<std::uint8_t> got(70000);
  EXPECT_EQ(stream.Read(got.data(), 70000), 70000);
  EXPECT_EQ(got, content);
  stream.Close();
  const auto& d = s.layout.dataVidx;
  const auto& e = s.layout.extensionVidx;
  // Data page 0 went when page 1 came; then cache, extensions in order, head.
  EXPECT_EQ(s.recorder->releases, (std::vector<std::int64_t>{d[0], d[1], e[0], e[1], 5}));
}

TEST(PagedStream, ZeroFirstExtensionGivesTheExactMessage) {
  OneStream s(Sequence(70000), Kind(kez::testing::StreamKind::Paged));
  s.doc.PatchU64(s.doc.PageOffset(5) + 9, 0);
  const std::string message = OpenError(s);
  EXPECT_EQ(message, "Invalid nextVidx: 0x0\nhead: " + HeadDumpOf(s.doc, 5) + "\n");
  // The dump starts with the kind byte and the length 70000 = 0x11170.
  EXPECT_EQ(message.substr(0, 49), "Invalid nextVidx: 0x0\nhead: 00 70 11 01 00 00 00 ");
}

TEST(PagedStream, NegativeFirstExtensionIsPrintedUnsigned) {
  OneStream s(Sequence(70000), Kind(kez::testing::StreamKind::Paged));
  s.doc.PatchU64(s.doc.PageOffset(5) + 9, static_cast<std::uint64_t>(-2));
  EXPECT_EQ(OpenError(s), "Invalid nextVidx: 0xfffffffffffffffe\nhead: " + HeadDumpOf(s.doc, 5) + "\n");
}

TEST(PagedStream, LaterInvalidExtensionIsRejectedAlike) {
  KezBuilder::StreamOptions options;
  options.kind = kez::testing::StreamKind::Paged;
  options.extraExtensionPages = 1;
  OneStream s(Sequence(100), options);
  s.doc.PatchU64(s.doc.PageOffset(s.layout.extensionVidx[0]), 0x8000000000000000ULL);
  EXPECT_EQ(OpenError(s), "Invalid nextVidx: 0x8000000000000000\nhead: " + HeadDumpOf(s.doc, 5) + "\n");
}

TEST(PagedStream, LoopingExtensionChainIsCutOff) {
  KezBuilder::StreamOptions options;
  options.kind = kez::testing::StreamKind::Paged;
  options.extraExtensionPages = 2;
  OneStream s(Sequence(100), options);
  // The second extension page points back at the first.
  s.doc.PatchU64(s.doc.PageOffset(s.layout.extensionVidx[1]), static_cast<std::uint64_t>(s.layout.extensionVidx[0]));
  const std::string message = OpenError(s);
  char hex[32];
  std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(s.layout.extensionVidx[0]));
  EXPECT_EQ(message, std::string("Extension chain loops: 0x") + hex + "\nhead: " + HeadDumpOf(s.doc, 5) + "\n");
}

TEST(PagedStream, LengthBeyondTheFileIsMalformed) {
  OneStream s(Sequence(70000), Kind(kez::testing::StreamKind::Paged));
  const std::uint64_t tooLong = s.doc.pageCount * 65536 + 1;
  s.doc.PatchU64(s.doc.PageOffset(5) + 1, tooLong);
  char hex[32];
  std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(tooLong));
  EXPECT_EQ(OpenError(s), std::string("Invalid length: 0x") + hex + "\nhead: " + HeadDumpOf(s.doc, 5) + "\n");
}

TEST(PagedStream, HugeLengthCannotWrapTheCheck) {
  OneStream s(Sequence(70000), Kind(kez::testing::StreamKind::Paged));
  s.doc.PatchU64(s.doc.PageOffset(5) + 1, ~0ULL);
  EXPECT_EQ(OpenError(s).rfind("Invalid length: 0xffffffffffffffff\n", 0), 0u);
}

// Data page 8189 is entry 1 of the first extension page, 8189 + 8191 entry 1
// of the second. Built sparsely: every other data page entry names one page.
TEST(PagedStream, DataPagesPastTheHeadComeFromExtensionPages) {
  KezBuilder builder;
  const std::int64_t head = 1, filler = 2, ext1 = 3, ext2 = 4, p8189 = 5, p16380 = 6;
  const std::uint64_t dataPages = 8189 + 8191 + 1;
  auto put64 = [](std::vector<std::uint8_t>& page, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) page[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  std::vector<std::uint8_t> headPage(65536, 0);
  put64(headPage, 1, dataPages * 65536);
  put64(headPage, 9, ext1);
  for (int d = 0; d < 8189; ++d) put64(headPage, 17 + 8 * d, filler);
  std::vector<std::uint8_t> e1(65536, 0), e2(65536, 0);
  put64(e1, 0, ext2);
  put64(e1, 8, p8189);
  for (int k = 1; k < 8191; ++k) put64(e1, 8 + 8 * k, filler);
  put64(e2, 0, ~0ULL);
  put64(e2, 8, p16380);
  builder.PutPage(head, headPage);
  builder.PutPage(filler, std::vector<std::uint8_t>(65536, 0x11));
  builder.PutPage(ext1, e1);
  builder.PutPage(ext2, e2);
  builder.PutPage(p8189, std::vector<std::uint8_t>(65536, 0x89));
  builder.PutPage(p16380, std::vector<std::uint8_t>(65536, 0x80));
  KezStoreOptions options;
  options.minPageCount = dataPages + 8;
  KezDocument doc = builder.Finish(options);

  KezStream file(doc);
  auto store = pagestore::OpenPageStore(&file);
  RecordingStore recorder(store.get());
  PageStream stream;
  stream.Open(&recorder, head);
  EXPECT_EQ(stream.ExtensionPages(), 2u);
  EXPECT_EQ(stream.DataPageVidx(8188), filler);
  EXPECT_EQ(stream.DataPageVidx(8189), p8189);
  EXPECT_EQ(stream.DataPageVidx(8190), filler);
  EXPECT_EQ(stream.DataPageVidx(8189 + 8191), p16380);
  EXPECT_THROW(stream.DataPageVidx(8189 + 2 * 8191), lumo::PXVError);
  EXPECT_THROW(stream.DataPageVidx(-1), lumo::PXVError);

  // A sequential read: the filler page is fetched once for pages 0..8188.
  std::vector<std::uint8_t> chunk(65536);
  for (std::uint64_t d = 0; d < dataPages; ++d) {
    ASSERT_EQ(stream.Read(chunk.data(), 65536), 65536);
    const std::uint8_t expected = d == 8189 ? 0x89 : d == 16380 ? 0x80 : 0x11;
    ASSERT_EQ(chunk[0], expected) << "data page " << d;
    ASSERT_EQ(chunk[65535], expected) << "data page " << d;
  }
  EXPECT_EQ(stream.Read(chunk.data(), 1), 0);
  EXPECT_EQ(recorder.gets, (std::vector<std::int64_t>{head, ext1, ext2, filler, p8189, filler, p16380}));
  stream.Close();
}

TEST(PagedStream, ContentPastTheTablesIsAnErrorNotAReadOutside) {
  // 8190 data pages declared, no extension page to name the last one.
  KezBuilder builder;
  std::vector<std::uint8_t> headPage(65536, 0);
  for (int i = 0; i < 8; ++i) headPage[1 + i] = static_cast<std::uint8_t>((8190ULL * 65536) >> (8 * i));
  for (int i = 0; i < 8; ++i) headPage[9 + i] = 0xFF;
  for (int d = 0; d < 8189; ++d) headPage[17 + 8 * d] = 2;
  builder.PutPage(1, headPage);
  builder.PutPage(2, std::vector<std::uint8_t>(65536, 0x22));
  KezStoreOptions options;
  options.minPageCount = 8200;
  KezDocument doc = builder.Finish(options);
  KezStream file(doc);
  auto store = pagestore::OpenPageStore(&file);
  PageStream stream;
  stream.Open(store.get(), 1);
  std::vector<std::uint8_t> chunk(65536);
  for (int d = 0; d < 8189; ++d) ASSERT_EQ(stream.Read(chunk.data(), 65536), 65536);
  try {
    stream.Read(chunk.data(), 65536);
    FAIL() << "no exception";
  } catch (const lumo::PXVError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Data page beyond the page tables: 0x1ffd\nhead: ", 0), 0u) << e.what();
  }
  stream.Close();
  EXPECT_EQ(store->File().LiveBuffers(), 1u);
}

TEST(PagedStream, TableEntryOfMinusOneIsNotMistakenForTheEmptyCache) {
  OneStream s(Sequence(100), Kind(kez::testing::StreamKind::Paged));
  s.doc.PatchU64(s.doc.PageOffset(5) + 17, ~0ULL);  // data page 0 -> vidx -1
  s.Open();
  PageStream stream;
  stream.Open(s.recorder.get(), 5);
  std::uint8_t buffer[100];
  try {
    stream.Read(buffer, 100);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "IO error");
  }
}

}  // namespace
