// The fuzzer's body over damaged documents: every structure of a few sound
// documents gets hit with seeded random patches, and the files kept in
// fuzz/regressions/pxv/ and pxv_struct/ are replayed. Nothing may crash, leak
// or read out of bounds (the sanitizer build checks the latter two).
#define KEZ_FUZZ_REPLAY
#include "../../../fuzz/pxv_fuzz.cc"
#include "../../../fuzz/pxv_struct_fuzz.cc"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/testing.h"
#include "support/kez_description_seeds.h"
#include "support/kez_writer.h"
#include "support/regressions.h"

namespace {

using kez::testing::KezDocument;
using kez::testing::KezOptions;

std::vector<KezDocument> BaseDocuments() {
  const auto picture = kez::testing::TestPicture(24, 16, 3);
  std::vector<KezDocument> docs;
  docs.push_back(kez::testing::BuildKez(picture));
  KezOptions zstd;
  zstd.blob = KezOptions::Blob::Zstd;
  zstd.zstd.frames = 2;
  zstd.zstd.checksum = true;
  zstd.rootStream.kind = kez::testing::StreamKind::Paged;
  docs.push_back(kez::testing::BuildKez(picture, zstd));
  KezOptions paged;
  paged.blobStream.kind = kez::testing::StreamKind::Paged;
  paged.blobStream.extraExtensionPages = 2;
  paged.store.minContinuationPages = 2;
  docs.push_back(kez::testing::BuildKez(picture, paged));
  return docs;
}

// Offsets worth hitting: header fields, map entries, heads, contents.
std::vector<std::uint64_t> Targets(const KezDocument& d) {
  std::vector<std::uint64_t> t;
  const std::uint64_t header = KezDocument::HeaderOffset(d.currentHeader);
  for (std::uint64_t o : {3, 4, 11, 20, 27}) t.push_back(header + o);
  for (std::uint64_t c : d.continuationFidx) t.push_back(c * 65536 + 8);
  for (const auto* s : {&d.root, &d.blob}) {
    t.push_back(d.MapEntryOffset(s->headVidx));
    const std::uint64_t head = d.PageOffset(s->headVidx);
    for (std::uint64_t o : {0, 1, 4, 8, 9, 16, 17, 24}) t.push_back(head + o);
    for (std::int64_t e : s->extensionVidx) t.push_back(d.PageOffset(e));
    for (std::uint64_t o = 0; o < std::min<std::uint64_t>(s->length, 512); o += 3) t.push_back(d.ContentOffset(*s, o));
  }
  return t;
}

TEST(FuzzReplay, RandomlyDamagedDocumentsNeverCrash) {
  platform::testing::EchoNotices(false);
  std::mt19937 random(1234);
  int cases = 0;
  for (const KezDocument& base : BaseDocuments()) {
    const std::vector<std::uint64_t> targets = Targets(base);
    for (int round = 0; round < 150; ++round) {
      KezDocument doc = base;
      const int patches = 1 + static_cast<int>(random() % 4);
      for (int p = 0; p < patches; ++p) {
        const std::uint64_t at = targets[random() % targets.size()];
        switch (random() % 4) {
          case 0: doc.PatchU8(at, static_cast<std::uint8_t>(random())); break;
          case 1: doc.PatchU64(at, ~0ULL); break;
          case 2: doc.PatchU64(at, static_cast<std::uint64_t>(random()) % 16); break;
          default: doc.PatchU64(at, (static_cast<std::uint64_t>(random()) << 32) | random()); break;
        }
      }
      const std::vector<std::uint8_t> bytes = doc.Bytes();
      kez::fuzzing::PxvFuzzOne(bytes.data(), bytes.size());
      ++cases;
    }
  }
  EXPECT_EQ(cases, 450);
  platform::testing::EchoNotices(true);
}

TEST(FuzzReplay, TruncatedDocumentsAndBareInputs) {
  platform::testing::EchoNotices(false);
  const std::vector<std::uint8_t> bytes = BaseDocuments()[1].Bytes();
  for (std::size_t size : {std::size_t{3}, std::size_t{4}, std::size_t{100}, std::size_t{65536}, std::size_t{131071},
                           std::size_t{131072}, bytes.size() - 1})
    kez::fuzzing::PxvFuzzOne(bytes.data(), size);
  kez::testing::KezRootOptions root;
  const std::vector<std::uint8_t> record = kez::testing::BuildRootRecord(root);
  for (std::size_t size = 0; size <= record.size(); size += 5) kez::fuzzing::PxvFuzzOne(record.data(), size);
  const std::vector<std::uint8_t> frames = kez::testing::ZstdFrames(std::vector<std::uint8_t>(4000, 1), {});
  for (std::size_t size = 0; size <= frames.size(); ++size) kez::fuzzing::PxvFuzzOne(frames.data(), size);
  platform::testing::EchoNotices(true);
}

TEST(FuzzReplay, KeptRegressionInputs) {
  platform::testing::EchoNotices(false);
  RecordProperty("replayed", kez::testing::ReplayRegressions("pxv", kez::fuzzing::PxvFuzzOne));
  RecordProperty("replayed_struct", kez::testing::ReplayRegressions("pxv_struct", kez::fuzzing::PxvStructFuzzOne));
  platform::testing::EchoNotices(true);
}

// The structure-aware fuzzer's seeds are sound documents of its picture.
TEST(FuzzReplay, SeedDescriptionsExpandToTheirPicture) {
  const auto picture = kez::testing::TestPicture(12, 8, 5);
  for (const auto& [name, description] : kez::testing::SeedDescriptions(12, 8)) {
    const std::vector<std::uint8_t> bytes = description.Encode();
    kez::testing::KezStream stream(kez::testing::ExpandKezDescription(bytes.data(), bytes.size()));
    lumo::CImage32 image;
    ASSERT_TRUE(ReadPxvDocument(image, &stream)) << name;
    ASSERT_EQ(image.m_width * 100 + image.m_height, 1208) << name;
    EXPECT_TRUE(std::equal(picture.pixels.begin(), picture.pixels.end(), image.m_pixels)) << name;
  }
}

}  // namespace
