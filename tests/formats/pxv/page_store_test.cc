#include "formats/pxv/page_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <stdexcept>

#include "lumo/errors.h"
#include "support/kez_writer.h"
#include "support/test_stream.h"

namespace {

using kez::testing::KezBuilder;
using kez::testing::KezDocument;
using kez::testing::KezStoreOptions;
using kez::testing::KezStream;
using kez::testing::TestStream;
using pagestore::OpenPageStore;

// A document whose vidx pages each hold their own vidx at byte 0..7.
KezDocument LabelledDocument(std::vector<std::int64_t> vidxs, const KezStoreOptions& options) {
  KezBuilder builder;
  for (std::int64_t v : vidxs) {
    std::vector<std::uint8_t> page(16, 0);
    for (int i = 0; i < 8; ++i) page[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i));
    page[8] = 0xEE;
    builder.PutPage(v, page);
  }
  return builder.Finish(options);
}

std::int64_t Label(const unsigned char* page) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | page[i];
  return static_cast<std::int64_t>(v);
}

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// ------------------------------------------------------------ header election

struct ElectionCase {
  std::int64_t counter0, counter1;
  std::int32_t expected;
};

class HeaderElection : public ::testing::TestWithParam<ElectionCase> {};

TEST_P(HeaderElection, LargerSignedCounterWinsTieGoesToPageOne) {
  const ElectionCase c = GetParam();
  KezStoreOptions options;
  options.counter0 = c.counter0;
  options.counter1 = c.counter1;
  options.version0 = -3;  // tells the two headers apart through Version()
  options.version1 = 1;
  // The losing header maps every vidx to the wrong page: electing it shows.
  KezDocument doc = LabelledDocument({1, 2, 3}, options);
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  EXPECT_EQ(store->CurrentHeader(), c.expected);
  EXPECT_EQ(store->Version(), c.expected == 0 ? 0xFD : 1);
  for (std::int64_t v : {1, 2, 3}) {
    unsigned char* page = store->GetPage(v);
    EXPECT_EQ(Label(page), v);
    store->ReleasePage(page, v);
  }
}

INSTANTIATE_TEST_SUITE_P(Counters, HeaderElection,
                         ::testing::Values(ElectionCase{5, 5, 1}, ElectionCase{0, 0, 1}, ElectionCase{5, -1, 0},
                                           ElectionCase{-1, 5, 1}, ElectionCase{INT64_MIN, INT64_MAX, 1},
                                           ElectionCase{INT64_MAX, INT64_MIN, 0}, ElectionCase{-2, -3, 0}));

// --------------------------------------------------------------- map lookup

TEST(PageMap, FollowsTheShuffledMapNotTheIdentity) {
  KezDocument doc = LabelledDocument({1, 2, 3, 4, 5, 6, 7, 8}, KezStoreOptions{});
  int differing = 0;
  for (auto [v, f] : doc.map) differing += static_cast<std::uint64_t>(v) != f;
  ASSERT_GE(differing, 6);  // a reader that ignores the map reads wrong pages
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  for (std::int64_t v = 1; v <= 8; ++v) {
    unsigned char* page = store->GetPage(v);
    EXPECT_EQ(Label(page), v) << "vidx " << v;
    store->ReleasePage(page, v);
  }
}

TEST(PageMap, ContinuationPagesCoverVidx4094And8189) {
  KezDocument doc = LabelledDocument({1, 4093, 4094, 8188, 8189, 8190}, KezStoreOptions{});
  ASSERT_EQ(doc.continuationFidx.size(), 2u);
  // 4094 is entry 0 of the first continuation page, 8189 entry 0 of the second.
  EXPECT_EQ(doc.MapEntryOffset(4094), doc.continuationFidx[0] * 65536 + 24);
  EXPECT_EQ(doc.MapEntryOffset(8189), doc.continuationFidx[1] * 65536 + 24);
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  EXPECT_EQ(store->Mapper().Capacity(), 4094 + 2 * 4095);
  for (std::int64_t v : {1, 4093, 4094, 8188, 8189, 8190}) {
    EXPECT_TRUE(store->HasPage(v));
    unsigned char* page = store->GetPage(v);
    EXPECT_EQ(Label(page), v) << "vidx " << v;
    store->ReleasePage(page, v);
  }
  EXPECT_FALSE(store->HasPage(2));
}

TEST(PageMap, OutsideTheMapIsAnIoErrorNotAReadBeyondIt) {
  KezDocument doc = LabelledDocument({1}, KezStoreOptions{});
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  EXPECT_EQ(store->Mapper().Capacity(), 4094);
  for (std::int64_t v : {std::int64_t{4094}, std::int64_t{-1}, INT64_MIN, INT64_MAX}) {
    EXPECT_EQ(Message([&] { store->GetPage(v); }), "IO error") << v;
    EXPECT_FALSE(store->HasPage(v));
  }
}

TEST(PageMap, EntryOfZeroYieldsFilePageZero) {
  KezDocument doc = LabelledDocument({1}, KezStoreOptions{});
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  EXPECT_FALSE(store->HasPage(7));
  unsigned char* page = store->GetPage(7);
  EXPECT_EQ(std::memcmp(page, "pxv", 3), 0);
  store->ReleasePage(page, 7);
}

TEST(PageMap, LoopingContinuationChainIsCutOff) {
  KezDocument doc = LabelledDocument({1, 5000}, KezStoreOptions{});
  ASSERT_EQ(doc.continuationFidx.size(), 1u);
  // The only continuation page names itself as the next one.
  doc.PatchU64(doc.continuationFidx[0] * 65536 + 8, doc.continuationFidx[0]);
  KezStream stream(doc);
  EXPECT_EQ(Message([&] { OpenPageStore(&stream); }), "IO error");
}

TEST(PageMap, ContinuationPageBeyondTheFileCannotBeRead) {
  KezDocument doc = LabelledDocument({1, 5000}, KezStoreOptions{});
  doc.PatchU64(doc.continuationFidx[0] * 65536 + 8, 1ULL << 60);
  KezStream stream(doc);
  EXPECT_EQ(Message([&] { OpenPageStore(&stream); }), "Can't read enough");
}

// --------------------------------------------------------------- free lists

TEST(FreeLists, ListUnmappedVidxAndUnusedFilePages) {
  KezStoreOptions options;
  options.shuffle = false;
  options.freePages = 2;
  KezDocument doc = LabelledDocument({1, 3}, options);
  // Pages: 0, 1 headers; 2 vidx 1; 3 vidx 3; 4, 5 free.
  ASSERT_EQ(doc.pageCount, 6u);
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  const auto& freeVidx = store->Mapper().FreeVidx();
  ASSERT_EQ(freeVidx.size(), 4094u - 2u);
  EXPECT_EQ(freeVidx[0], 0u);
  EXPECT_EQ(freeVidx[1], 2u);
  EXPECT_EQ(freeVidx[2], 4u);
  EXPECT_EQ(freeVidx.back(), 4093u);
  EXPECT_EQ(store->Mapper().FreeFidx(), (std::vector<pagestore::PageRange>{{4, 6}}));
  // A stream claiming 2^62 bytes: still one range, not 2^46 entries.
  doc.pageCount = std::uint64_t{1} << 46;
  KezStream huge(doc);
  EXPECT_EQ(OpenPageStore(&huge)->Mapper().FreeFidx(), (std::vector<pagestore::PageRange>{{4, std::uint64_t{1} << 46}}));
}

TEST(FreeLists, ContinuationPagesAreUsed) {
  KezStoreOptions options;
  options.shuffle = false;
  options.freePages = 1;
  KezDocument doc = LabelledDocument({1, 4094}, options);
  // Pages: 2 continuation, 3 vidx 1, 4 vidx 4094, 5 free.
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  EXPECT_EQ(store->Mapper().FreeFidx(), (std::vector<pagestore::PageRange>{{5, 6}}));
  EXPECT_EQ(store->Mapper().FreeVidx().size(), 4094u + 4095u - 2u);
}

// ------------------------------------------------------------ file size edges

TEST(OpenStore, TwoPageFileOpensAndOneByteLessFails) {
  std::vector<std::uint8_t> bytes(131072, 0);
  std::memcpy(bytes.data(), "pxv\x01", 4);
  std::memcpy(bytes.data() + 65536, "pxv\x01", 4);
  {
    TestStream stream(bytes);
    auto store = OpenPageStore(&stream);
    EXPECT_EQ(store->PageCount(), 2u);
    EXPECT_TRUE(store->Mapper().FreeFidx().empty());
    EXPECT_EQ(store->Mapper().FreeVidx().size(), 4094u);
  }
  bytes.pop_back();
  TestStream stream(bytes);
  EXPECT_EQ(Message([&] { OpenPageStore(&stream); }), "Can't read enough");
}

TEST(OpenStore, HundredByteFileFailsReadingPageZero) {
  std::vector<std::uint8_t> bytes(100, 0);
  std::memcpy(bytes.data(), "pxv\x01", 4);
  TestStream stream(bytes);
  EXPECT_EQ(Message([&] { OpenPageStore(&stream); }), "Can't read enough");
}

struct StreamFault {
  const char* name;
  void (*arm)(TestStream&);
  const char* message;
};

class StreamFaults : public ::testing::TestWithParam<StreamFault> {};

TEST_P(StreamFaults, RaiseTheirExactThumbError) {
  KezDocument doc = LabelledDocument({1}, KezStoreOptions{});
  TestStream stream(doc.Bytes());
  GetParam().arm(stream);
  try {
    OpenPageStore(&stream);
    FAIL() << "no exception";
  } catch (const ThumbError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StreamFaults,
    ::testing::Values(StreamFault{"stat", [](TestStream& s) { s.failStat = E_FAIL; }, "Fail to stat."},
                      StreamFault{"seek", [](TestStream& s) { s.failSeek = STG_E_INVALIDFUNCTION; }, "Seek fail"},
                      StreamFault{"read", [](TestStream& s) { s.failRead = STG_E_READFAULT; }, "Read fail"},
                      StreamFault{"short", [](TestStream& s) { s.maxReadChunk = 4096; }, "Can't read enough"}),
    [](const auto& info) { return std::string(info.param.name); });

// -------------------------------------------------------------- page buffers

TEST(PageFileBuffers, ReleaseOfUnknownBufferIsAnIoError) {
  KezDocument doc = LabelledDocument({1}, KezStoreOptions{});
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  unsigned char foreign[16];
  EXPECT_EQ(Message([&] { store->ReleasePage(foreign, 1); }), "IO error");
  unsigned char* page = store->GetPage(1);
  store->ReleasePage(page, 1);
  EXPECT_EQ(Message([&] { store->ReleasePage(page, 1); }), "IO error");
}

TEST(PageFileBuffers, ReadFunctionReturningLessThanAPageIsAnIoError) {
  PageFile file(4 * 65536, [](unsigned long long, unsigned char*, int size) { return size - 1; });
  EXPECT_EQ(Message([&] { file.ReadFilePage(0); }), "IO error");
  EXPECT_EQ(file.LiveBuffers(), 0u);
}

TEST(PageFileBuffers, OnlyHeaderAndIndexPagesStayResident) {
  KezDocument doc = LabelledDocument({1, 4094, 8189}, KezStoreOptions{});
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  EXPECT_EQ(store->File().LiveBuffers(), 3u);  // current header + 2 continuation pages
  unsigned char* page = store->GetPage(8189);
  EXPECT_EQ(store->File().LiveBuffers(), 4u);
  store->ReleasePage(page, 8189);
  EXPECT_EQ(store->File().LiveBuffers(), 3u);
}

// ------------------------------------------------------------------ Describe

TEST(Describe, WritesVidxFidxAndPageCount) {
  KezStoreOptions options;
  options.shuffle = false;
  options.minPageCount = 10;
  options.freePages = 0;
  KezBuilder builder;
  builder.PutPage(0, {});
  builder.PutPage(1, {});
  builder.PutPage(2, {});
  builder.PutPage(3, {});
  KezDocument doc = builder.Finish(options);
  doc.PatchU64(doc.MapEntryOffset(3), 7);
  KezStream stream(doc);
  auto store = OpenPageStore(&stream);
  std::ostringstream out;
  store->Describe(3, out);
  EXPECT_EQ(out.str(), "vidx: 3, fidx: 7\npageNum: 10\n");
  std::ostringstream outside;
  store->Describe(-5, outside);
  EXPECT_EQ(outside.str(), "vidx: -5, fidx: 0\npageNum: 10\n");
}

}  // namespace
