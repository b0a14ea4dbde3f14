// The walk over "PAC " blocks: which block is taken, what is read of it, and
// what happens to damaged blocks.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "packed_test_util.h"

namespace kez::testing {
namespace {

constexpr int kW = 4;
constexpr int kH = 3;
constexpr std::uint32_t kNeeded = kW * kH * 4;

PackedBlock Preview(std::uint32_t compression, std::uint32_t seed = 7, const std::string& name = "thumb") {
  PackedBlock block;
  block.name = name;
  block.compression = compression;
  block.payload = PixelBytes(PatternPixels(kW, kH, seed));
  return block;
}

PackedBlock Decoy(const std::string& name, std::size_t payloadSize, std::uint32_t compression = 0) {
  PackedBlock block;
  block.name = name;
  block.compression = compression;
  block.payload.assign(payloadSize, 0xA7);
  return block;
}

PackedDocument Document(std::vector<PackedBlock> blocks, const std::string& bin = "thumb") {
  PackedDocument document;
  document.xml = ThumbXml(std::to_string(kW), std::to_string(kH), bin);
  document.blocks = std::move(blocks);
  return document;
}

// ---- Which block is taken -------------------------------------------------

TEST(BlockScan, NonMatchingPayloadsAreSkippedNeverRead) {
  PackedDocument document =
      Document({Decoy("layer0", 5000), Decoy("layer1", 0), Decoy("mask", 777, 1), Preview(0), Decoy("after", 100)});
  const PackedLayout layout = LayOutPackedDocument(document);
  TestStream stream(layout.bytes);
  lumo::CImage32 image;
  ASSERT_TRUE(ReadPackedDocument(image, &stream));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, 7));
  // File header, XML, four block headers and the preview's payload: nothing else.
  EXPECT_EQ(stream.bytesRead, layout.xmlOffset + document.xml.size() + 4 * kPackedBlockHeaderSize + kNeeded);
  EXPECT_EQ(stream.seekCalls, 3);
}

TEST(BlockScan, DecoyWithStoredSizeZeroIsFollowedByTheNextHeader) {
  PackedBlock empty = Decoy("empty", 0);
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(Document({empty, empty, Preview(1)})), image));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, 7));
}

class TwoPreviews : public ::testing::TestWithParam<std::tuple<std::uint32_t, std::uint32_t>> {};

TEST_P(TwoPreviews, TheFirstWinsAndTheSecondIsNeverRead) {
  const auto [first, second] = GetParam();
  const PackedLayout layout = LayOutPackedDocument(Document({Decoy("a", 10), Preview(first, 7), Preview(second, 8)}));
  TestStream stream(layout.bytes);
  stream.forbiddenFrom = layout.blockOffsets[2];
  lumo::CImage32 image;
  ASSERT_TRUE(ReadPackedDocument(image, &stream));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, 7));
  EXPECT_FALSE(stream.touchedForbidden);
}

INSTANTIATE_TEST_SUITE_P(Compressions, TwoPreviews,
                         ::testing::Combine(::testing::Values(0u, 1u), ::testing::Values(0u, 1u)));

struct NameCase {
  const char* label;
  std::string bin;
  std::array<std::uint8_t, 64> field;
  bool matches;
};

std::array<std::uint8_t, 64> NameField(const std::string& text) {
  std::array<std::uint8_t, 64> field{};
  for (std::size_t i = 0; i < text.size() && i < field.size(); ++i) field[i] = static_cast<std::uint8_t>(text[i]);
  return field;
}

class BlockName : public ::testing::TestWithParam<NameCase> {};

TEST_P(BlockName, ComparesWholeTexts) {
  const NameCase& c = GetParam();
  PackedBlock candidate = Preview(0, 7);
  candidate.nameField = c.field;
  // A fallback block named exactly like "bin" tells a non-match apart from a failure.
  PackedBlock fallback = Preview(1, 9);
  fallback.nameField.reset();
  fallback.name = c.bin;
  const PackedLayout layout = LayOutPackedDocument(Document({candidate, fallback}, c.bin));
  TestStream stream(layout.bytes);
  lumo::CImage32 image;
  ASSERT_TRUE(ReadPackedDocument(image, &stream));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, c.matches ? 7 : 9));
}

const std::string k64(64, 'n');

INSTANTIATE_TEST_SUITE_P(
    Names, BlockName,
    ::testing::Values(NameCase{"Equal", "thumb", NameField("thumb"), true},
                      NameCase{"NameLonger", "thumb", NameField("thumbnail"), false},
                      NameCase{"NameShorter", "thumbnail", NameField("thumb"), false},
                      NameCase{"CaseDiffers", "thumb", NameField("Thumb"), false},
                      NameCase{"BytesAfterZeroIgnored", "thumb", NameField(std::string("thumb\0junk", 10)), true},
                      NameCase{"EmptyMatchesEmpty", "", NameField(""), true},
                      NameCase{"FullFieldWithoutZero", k64, NameField(k64), true},
                      NameCase{"FullFieldAgainstShorterBin", k64.substr(0, 63), NameField(k64), false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(BlockScan, BinLongerThanTheNameFieldNeverMatches) {
  // The field holds 64 bytes without a zero, the first 64 of the bin text.
  const std::string bin(65, 'n');
  PackedBlock block = Preview(0);
  block.nameField = NameField(bin);
  lumo::CImage32 image;
  EXPECT_FALSE(ReadBytes(WritePackedDocument(Document({block}, bin)), image));
}

TEST(BlockScan, UnknownCompressionIsSkippedByItsStoredSize) {
  PackedBlock odd = Preview(0, 1);
  odd.compression = 2;
  PackedBlock odder = Preview(0, 2);
  odder.compression = 0xFFFFFFFF;
  const PackedLayout layout = LayOutPackedDocument(Document({odd, odder, Preview(1, 7)}));
  TestStream stream(layout.bytes);
  lumo::CImage32 image;
  ASSERT_TRUE(ReadPackedDocument(image, &stream));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, 7));
  EXPECT_EQ(stream.seekCalls, 2);
  // Neither odd payload was read: three headers and the zlib payload.
  EXPECT_EQ(stream.bytesRead,
            layout.blockOffsets[0] + 3 * kPackedBlockHeaderSize + (layout.bytes.size() - layout.payloadOffsets[2]));
}

// ---- Damaged blocks -------------------------------------------------------

struct DamageCase {
  const char* label;
  PackedDocument document;
};

class DamagedBlock : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedBlock, IsAFailureAfterTheResize) {
  TestStream stream(WritePackedDocument(GetParam().document));
  lumo::CImage32 image;
  EXPECT_FALSE(ReadPackedDocument(image, &stream));
  EXPECT_EQ(image.m_width, kW);
  EXPECT_EQ(image.m_height, kH);
}

PackedDocument With(PackedBlock block, const std::function<void(PackedBlock&)>& damage) {
  damage(block);
  return Document({Decoy("x", 3), block});
}

PackedDocument Truncated(std::uint32_t compression, std::size_t cut) {
  PackedDocument document = Document({Preview(compression)});
  PackedLayout layout = LayOutPackedDocument(document);
  PackedBlock& block = document.blocks[0];
  std::vector<std::uint8_t> stored(layout.bytes.begin() + static_cast<std::ptrdiff_t>(layout.payloadOffsets[0]),
                                   layout.bytes.end() - static_cast<std::ptrdiff_t>(cut));
  block.storedSize = static_cast<std::uint32_t>(stored.size() + cut);
  block.stored = stored;
  return document;
}

std::vector<DamageCase> DamageCases() {
  std::vector<DamageCase> cases;
  cases.push_back({"NoBlocks", Document({})});
  cases.push_back({"OnlyDecoys", Document({Decoy("a", 4), Decoy("b", 0)})});
  cases.push_back({"BadMagic", With(Preview(0), [](PackedBlock& b) { b.magic = {'P', 'A', 'C', 0}; })});
  cases.push_back({"BadMagicOnDecoy", Document({[] {
                                                  PackedBlock d = Decoy("a", 4);
                                                  d.magic = {'p', 'a', 'c', ' '};
                                                  return d;
                                                }(),
                                                Preview(0)})});
  {
    PackedDocument d = Document({Preview(0)});
    d.blocks.clear();
    d.trailing = {'P', 'A', 'C', ' ', 0, 0};  // a header cut short
    cases.push_back({"ShortHeader", d});
  }
  cases.push_back({"RawSizeZeroStored", With(Preview(0), [](PackedBlock& b) { b.rawSize = 0; })});
  cases.push_back({"RawSizeZeroZlib", With(Preview(1), [](PackedBlock& b) { b.rawSize = 0; })});
  cases.push_back({"RawSizeZeroUnknownCompression", With(Preview(0), [](PackedBlock& b) {
                     b.rawSize = 0;
                     b.compression = 5;
                   })});
  cases.push_back(
      {"StoredPayloadShorterThanPreview", With(Preview(0), [](PackedBlock& b) { b.payload.resize(kNeeded - 1); })});
  cases.push_back({"ZlibOutputShorterThanPreviewInALargerBuffer", With(Preview(1), [](PackedBlock& b) {
                     b.payload.resize(kNeeded - 4);
                     b.rawSize = kNeeded + 100;
                   })});
  {
    // rawSize 0 ends the scan before the compression is looked at, so the
    // valid preview after it is never reached.
    PackedBlock odd = Preview(0, 1);
    odd.compression = 9;
    odd.rawSize = 0;
    cases.push_back({"RawSizeZeroEndsTheScanEvenForUnknownCompression", Document({odd, Preview(0)})});
  }
  cases.push_back({"StoredRawSizeBeyondTheFile", With(Preview(0), [](PackedBlock& b) { b.rawSize = kNeeded + 1; })});
  cases.push_back({"StoredTruncated", Truncated(0, 5)});
  cases.push_back({"ZlibTruncated", Truncated(1, 5)});
  cases.push_back({"ZlibOutputShorterThanPreview", With(Preview(1), [](PackedBlock& b) {
                     b.payload.resize(kNeeded - 4);
                     b.rawSize = kNeeded;
                   })});
  cases.push_back({"ZlibRawSizeTooSmallToFinish", With(Preview(1), [](PackedBlock& b) {
                     b.payload.resize(kNeeded + 8);
                     b.rawSize = kNeeded + 7;
                   })});
  cases.push_back({"ZlibCorruptBody", With(Preview(1), [](PackedBlock& b) {
                     std::vector<std::uint8_t> z = ZlibCompress(b.payload);
                     z[z.size() / 2] ^= 0xFF;
                     b.stored = z;
                   })});
  cases.push_back({"ZlibBadChecksum", With(Preview(1), [](PackedBlock& b) {
                     std::vector<std::uint8_t> z = ZlibCompress(b.payload);
                     z.back() ^= 0x01;
                     b.stored = z;
                   })});
  cases.push_back({"ZlibStreamCutWithinStoredSize", With(Preview(1), [](PackedBlock& b) {
                     std::vector<std::uint8_t> z = ZlibCompress(b.payload);
                     z.resize(z.size() - 6);
                     b.stored = z;
                   })});
  cases.push_back(
      {"ZlibStoredSizeZero", With(Preview(1), [](PackedBlock& b) { b.stored = std::vector<std::uint8_t>{}; })});
  cases.push_back({"ZlibNotZlib", With(Preview(1), [](PackedBlock& b) { b.stored = b.payload; })});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedBlock, ::testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return std::string(info.param.label); });

// ---- Payloads longer than the preview -------------------------------------

struct LongPayloadCase {
  const char* label;
  std::uint32_t compression;
  std::size_t extra;  // bytes beyond width x height x 4 in the payload
  std::size_t tail;   // garbage after the zlib stream, inside storedSize
};

class LongPayload : public ::testing::TestWithParam<LongPayloadCase> {};

TEST_P(LongPayload, OnlyThePreviewIsCopied) {
  const LongPayloadCase& c = GetParam();
  PackedBlock block = Preview(c.compression);
  block.payload.resize(kNeeded + c.extra, 0x99);
  if (c.tail != 0) {
    std::vector<std::uint8_t> z = ZlibCompress(block.payload);
    z.insert(z.end(), c.tail, 0x5C);
    block.stored = z;
  }
  // Sentinel block after it, which must stay unread.
  const PackedLayout layout = LayOutPackedDocument(Document({block, Decoy("thumb", 8)}));
  TestStream stream(layout.bytes);
  stream.forbiddenFrom = layout.blockOffsets[1];
  lumo::CImage32 image;
  ASSERT_TRUE(ReadPackedDocument(image, &stream));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, 7));
  EXPECT_FALSE(stream.touchedForbidden);
}

INSTANTIATE_TEST_SUITE_P(Cases, LongPayload,
                         ::testing::Values(LongPayloadCase{"StoredOneByteMore", 0, 1, 0},
                                           LongPayloadCase{"StoredMuchMore", 0, 100000, 0},
                                           LongPayloadCase{"ZlibMore", 1, 4096, 0},
                                           LongPayloadCase{"ZlibTrailingGarbage", 1, 0, 9}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(BlockScan, StoredPreviewIsReadByRawSizeNotStoredSize) {
  // For an uncompressed block the reader takes rawSize bytes; storedSize only
  // matters for skipping.
  PackedBlock block = Preview(0);
  block.storedSize = 0;
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(Document({block})), image));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, 7));
}

TEST(BlockScan, ZlibRawSizeFarBeyondTheOutputStillDecompresses) {
  // rawSize claims 4 GiB; the stream ends long before, which is all inflate needs.
  PackedBlock block = Preview(1);
  block.rawSize = 0xFFFFFFFF;
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(Document({block})), image));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, 7));
}

TEST(BlockScan, HeaderFillerBytesAreIgnored) {
  PackedBlock block = Preview(1);
  block.field4 = 0xFFFFFFFF;
  block.fillerByte = 0xFF;
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(Document({block})), image));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, 7));
}

}  // namespace
}  // namespace kez::testing

namespace kez::testing {
namespace {

TEST(BlockScan, MissingBinReadsTheFirstBlockWithAnEmptyName) {
  PackedDocument document = Document({Decoy("named", 12), Preview(1, 7, "")});
  document.xml = "<Kelapp><Thumb width=\"4\" height=\"3\"/></Kelapp>";
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(document), image));
  EXPECT_EQ(ImagePixels(image), PatternPixels(kW, kH, 7));
}

TEST(BlockScan, MostCompressiblePreviewWithAHugeRawSizeStillDecompresses) {
  // 4 MiB of zeros deflate at about 1026:1, close to deflate's limit: the
  // buffer bounded by the stored size must still hold all of it.
  PackedDocument document;
  document.xml = ThumbXml("1024", "1024", "z");
  PackedBlock block;
  block.name = "z";
  block.compression = 1;
  block.stored = ZlibCompress(std::vector<std::uint8_t>(1024u * 1024u * 4u, 0), 9);
  block.rawSize = 0xFFFFFFFF;
  document.blocks.push_back(block);
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(document), image));
  EXPECT_EQ(ImagePixels(image), std::vector<std::uint32_t>(1024u * 1024u, 0));
}

}  // namespace
}  // namespace kez::testing
