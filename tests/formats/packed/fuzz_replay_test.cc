// The fuzzer's body over damaged documents: the header, the XML and every
// block header of a few sound documents get seeded random patches, documents
// are cut at every length, and the files kept in fuzz/regressions/packed/ are
// replayed. Nothing may crash or raise anything but bad_lexical_cast; the
// sanitizer build checks leaks and out-of-bounds access.
#define KEZ_FUZZ_REPLAY
#include <gtest/gtest.h>

#include <random>

#include "../../../fuzz/packed_fuzz.cc"
#include "support/packed_writer.h"
#include "support/regressions.h"

namespace {

namespace kt = kez::testing;

std::vector<kt::PackedLayout> BaseDocuments() {
  std::vector<kt::PackedLayout> docs;
  const auto pixels = kt::PatternPixels(5, 3, 8);
  docs.push_back(kt::LayOutPackedDocument(kt::MakePackedPreviewDocument(5, 3, pixels, false)));
  docs.push_back(kt::LayOutPackedDocument(kt::MakePackedPreviewDocument(5, 3, pixels, true)));
  kt::PackedDocument two = kt::MakePackedPreviewDocument(5, 3, pixels, true);
  two.blocks.push_back(two.blocks[1]);
  two.blocks[2].compression = 0;
  docs.push_back(kt::LayOutPackedDocument(two));
  return docs;
}

// Offsets worth hitting: header words, XML text, every block header field,
// the start of every payload.
std::vector<std::size_t> Targets(const kt::PackedLayout& layout) {
  std::vector<std::size_t> t = {0, 7, 12, 13, 14, 15};
  for (std::size_t o = layout.xmlOffset; o < layout.blockOffsets[0]; o += 5) t.push_back(o);
  for (std::size_t block : layout.blockOffsets)
    for (std::size_t o : {0, 3, 8, 12, 13, 15, 16, 19, 68, 69, 72, 131}) t.push_back(block + o);
  for (std::size_t payload : layout.payloadOffsets)
    for (std::size_t o : {0, 1, 2, 10}) t.push_back(payload + o);
  return t;
}

void Patch32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4 && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(PackedFuzzReplay, RandomlyDamagedDocumentsNeverCrash) {
  std::mt19937 random(4321);
  int cases = 0;
  for (const kt::PackedLayout& base : BaseDocuments()) {
    const std::vector<std::size_t> targets = Targets(base);
    for (int round = 0; round < 400; ++round) {
      std::vector<std::uint8_t> bytes = base.bytes;
      const int patches = 1 + static_cast<int>(random() % 4);
      for (int p = 0; p < patches; ++p) {
        const std::size_t at = targets[random() % targets.size()];
        if (at >= bytes.size()) continue;
        switch (random() % 4) {
          case 0:
            bytes[at] = static_cast<std::uint8_t>(random());
            break;
          case 1:
            Patch32(bytes, at, 0xFFFFFFFF);
            break;
          case 2:
            Patch32(bytes, at, static_cast<std::uint32_t>(random() % 200));
            break;
          default:
            Patch32(bytes, at, static_cast<std::uint32_t>(random()));
            break;
        }
      }
      if (random() % 4 == 0) bytes.resize(random() % bytes.size());
      if (bytes.size() >= 7) std::memcpy(bytes.data(), "kelpack", 7);  // keep most inputs on the document path
      kez::fuzzing::PackedFuzzOne(bytes.data(), bytes.size());
      ++cases;
    }
  }
  EXPECT_EQ(cases, 1200);
}

TEST(PackedFuzzReplay, EveryPrefixOfADocumentAndOfAZlibStream) {
  const std::vector<std::uint8_t> bytes = BaseDocuments()[1].bytes;
  for (std::size_t size = 0; size <= bytes.size(); ++size) kez::fuzzing::PackedFuzzOne(bytes.data(), size);
  const std::vector<std::uint8_t> z = kt::ZlibCompress(std::vector<std::uint8_t>(3000, 9));
  for (std::size_t size = 0; size <= z.size(); ++size) kez::fuzzing::PackedFuzzOne(z.data(), size);
}

TEST(PackedFuzzReplay, KeptRegressionInputs) {
  RecordProperty("replayed", kez::testing::ReplayRegressions("packed", kez::fuzzing::PackedFuzzOne));
}

}  // namespace
