#include "formats/packed/packed_reader.h"

#include <gtest/gtest.h>

#include <boost/lexical_cast.hpp>
#include <string>
#include <vector>

#include "packed_test_util.h"

namespace kez::testing {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kGrey = 0xFFE0E0E0u;

// A document with one preview block named "p" and nothing else.
PackedDocument SinglePreview(int width, int height, std::uint32_t compression, std::uint32_t seed = 3) {
  PackedDocument document;
  document.xml = ThumbXml(std::to_string(width), std::to_string(height), "p");
  PackedBlock block;
  block.name = "p";
  block.compression = compression;
  block.payload = PixelBytes(PatternPixels(width, height, seed));
  document.blocks.push_back(block);
  return document;
}

PackedBlock Decoy(const std::string& name, std::size_t payloadSize, std::uint32_t compression = 0) {
  PackedBlock block;
  block.name = name;
  block.compression = compression;
  block.payload.assign(payloadSize, 0xA7);
  return block;
}

// ---- Well-formed documents ------------------------------------------------

struct SizeCase {
  int width;
  int height;
  std::uint32_t compression;
};

class WellFormedPreview : public ::testing::TestWithParam<SizeCase> {};

TEST_P(WellFormedPreview, CopiesEveryPixelExactly) {
  const SizeCase c = GetParam();
  const std::vector<std::uint32_t> pixels = PatternPixels(c.width, c.height, 11);
  const PackedDocument document = MakePackedPreviewDocument(c.width, c.height, pixels, c.compression == 1);
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(document), image));
  EXPECT_EQ(image.m_width, c.width);
  EXPECT_EQ(image.m_height, c.height);
  EXPECT_EQ(ImagePixels(image), pixels);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WellFormedPreview,
                         ::testing::Values(SizeCase{1, 1, 0}, SizeCase{1, 1, 1}, SizeCase{3, 5, 0}, SizeCase{3, 5, 1},
                                           SizeCase{1024, 1, 0}, SizeCase{1, 1024, 1}, SizeCase{64, 48, 1},
                                           SizeCase{1024, 1024, 0}, SizeCase{1024, 1024, 1}));

TEST(PackedReader, PixelBytesAreTakenLowByteFirst) {
  PackedDocument document;
  document.xml = ThumbXml("2", "1", "p");
  PackedBlock block;
  block.name = "p";
  block.payload = {0x33, 0x22, 0x11, 0x80, 0x00, 0x00, 0xFF, 0xFF};
  document.blocks.push_back(block);
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(document), image));
  EXPECT_EQ(ImagePixels(image), (std::vector<std::uint32_t>{0x80112233u, 0xFFFF0000u}));
}

// ---- File header ----------------------------------------------------------

struct MagicCase {
  const char* label;
  std::array<std::uint8_t, 8> magic;
};

class BadMagic : public ::testing::TestWithParam<MagicCase> {};

TEST_P(BadMagic, IsRejectedAfterEightBytesWithTheImageUntouched) {
  PackedDocument document = SinglePreview(4, 4, 0);
  document.magic = GetParam().magic;
  TestStream stream(WritePackedDocument(document));
  lumo::CImage32 image;
  EXPECT_FALSE(ReadPackedDocument(image, &stream));
  EXPECT_TRUE(IsUntouched(image));
  EXPECT_EQ(stream.bytesRead, 8u);
}

INSTANTIATE_TEST_SUITE_P(Magics, BadMagic,
                         ::testing::Values(MagicCase{"EighthByteNotZero", {'k', 'e', 'l', 'p', 'a', 'c', 'k', ' '}},
                                           MagicCase{"EighthByteOne", {'k', 'e', 'l', 'p', 'a', 'c', 'k', 1}},
                                           MagicCase{"UpperCase", {'K', 'E', 'L', 'P', 'A', 'C', 'K', 0}},
                                           MagicCase{"ShortText", {'k', 'e', 'l', 'p', 'a', 'c', 0, 0}},
                                           MagicCase{"AllZero", {0, 0, 0, 0, 0, 0, 0, 0}}),
                         [](const auto& info) { return std::string(info.param.label); });

class TruncatedFileHeader : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TruncatedFileHeader, IsAFailure) {
  std::vector<std::uint8_t> bytes = WritePackedDocument(SinglePreview(2, 2, 0));
  bytes.resize(GetParam());
  lumo::CImage32 image;
  EXPECT_FALSE(ReadBytes(bytes, image));
  EXPECT_TRUE(IsUntouched(image));
}

INSTANTIATE_TEST_SUITE_P(Lengths, TruncatedFileHeader, ::testing::Values(0, 1, 7, 8, 12, 15, 19));

TEST(PackedReader, HeaderWordsBesideXmlLengthAreIgnored) {
  PackedDocument document = SinglePreview(2, 3, 1);
  document.field8 = 0xFFFFFFFF;
  document.field16 = 0xDEADBEEF;
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(document), image));
  EXPECT_EQ(ImagePixels(image), PatternPixels(2, 3, 3));
}

// The placeholder: 64x64, 8x8 cells, the top-left cell white.
void ExpectCheckerboard(const lumo::CImage32& image) {
  ASSERT_EQ(image.m_width, 64);
  ASSERT_EQ(image.m_height, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool grey = ((x / 8) + (y / 8)) % 2 == 1;
      ASSERT_EQ(image.m_pixels[y * 64 + x], grey ? kGrey : kWhite) << "at " << x << "," << y;
    }
}

class OversizedXmlLength : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(OversizedXmlLength, LeavesTheCheckerboardAndFails) {
  PackedDocument document = SinglePreview(2, 2, 0);
  document.xmlLength = GetParam();
  TestStream stream(WritePackedDocument(document));
  lumo::CImage32 image;
  EXPECT_FALSE(ReadPackedDocument(image, &stream));
  ExpectCheckerboard(image);
  EXPECT_EQ(stream.bytesRead, kPackedFileHeaderSize);
}

INSTANTIATE_TEST_SUITE_P(Lengths, OversizedXmlLength, ::testing::Values(0xA00000u, 0xA00001u, 0xFFFFFFFFu));

TEST(PackedReader, XmlLengthJustBelowTheLimitIsReadNormally) {
  PackedDocument document = SinglePreview(3, 2, 1);
  document.xml.resize(0x9FFFFF, ' ');  // trailing whitespace after the root element
  lumo::CImage32 image;
  ASSERT_TRUE(ReadBytes(WritePackedDocument(document), image));
  EXPECT_EQ(ImagePixels(image), PatternPixels(3, 2, 3));
}

TEST(PackedReader, XmlShorterThanItsLengthIsAFailure) {
  PackedDocument document;
  document.xml = ThumbXml("1", "1", "p");
  document.xmlLength = static_cast<std::uint32_t>(document.xml.size() + 1);
  lumo::CImage32 image;
  EXPECT_FALSE(ReadBytes(WritePackedDocument(document), image));
  EXPECT_TRUE(IsUntouched(image));
}

TEST(PackedReader, AZeroByteInsideTheXmlEndsTheText) {
  PackedDocument document = SinglePreview(2, 2, 0);
  document.xml = std::string("<Other/>") + '\0' + document.xml;
  lumo::CImage32 image;
  EXPECT_FALSE(ReadBytes(WritePackedDocument(document), image));
  EXPECT_TRUE(IsUntouched(image));
}

// ---- Stream behaviour -----------------------------------------------------

TEST(PackedReader, ShortReadsFromTheStreamAreContinued) {
  TestStream stream(WritePackedDocument(SinglePreview(7, 5, 1)));
  stream.maxReadChunk = 7;
  lumo::CImage32 image;
  ASSERT_TRUE(ReadPackedDocument(image, &stream));
  EXPECT_EQ(ImagePixels(image), PatternPixels(7, 5, 3));
}

TEST(PackedReader, FailingReadsYieldFalse) {
  TestStream stream(WritePackedDocument(SinglePreview(2, 2, 0)));
  stream.failRead = STG_E_READFAULT;
  lumo::CImage32 image;
  EXPECT_FALSE(ReadPackedDocument(image, &stream));
  EXPECT_TRUE(IsUntouched(image));
}

TEST(PackedReader, AFailedSkipMakesThePayloadTheNextHeader) {
  PackedDocument document = SinglePreview(2, 2, 0);
  document.blocks.insert(document.blocks.begin(), Decoy("decoy", 300));
  TestStream stream(WritePackedDocument(document));
  stream.failSeek = STG_E_INVALIDFUNCTION;
  lumo::CImage32 image;
  EXPECT_FALSE(ReadPackedDocument(image, &stream));
  EXPECT_EQ(stream.seekCalls, 1);
}

TEST(PackedReader, ReadsFromTheCurrentPosition) {
  std::vector<std::uint8_t> bytes(37, 0xEE);
  const std::vector<std::uint8_t> document = WritePackedDocument(SinglePreview(2, 2, 1));
  bytes.insert(bytes.end(), document.begin(), document.end());
  TestStream stream(bytes);
  LARGE_INTEGER move;
  move.QuadPart = 37;
  ASSERT_EQ(stream.Seek(move, STREAM_SEEK_SET, nullptr), S_OK);
  lumo::CImage32 image;
  ASSERT_TRUE(ReadPackedDocument(image, &stream));
  EXPECT_EQ(ImagePixels(image), PatternPixels(2, 2, 3));
}

TEST(PackedReader, NullStreamIsAFailure) {
  lumo::CImage32 image;
  EXPECT_FALSE(ReadPackedDocument(image, nullptr));
  EXPECT_TRUE(IsUntouched(image));
}

// An image whose storage cannot be had, as when memory runs out.
class StarvedImage : public lumo::CImage32 {
 public:
  bool Resize(int, int) override { return false; }
};

TEST(PackedReader, ImageWithoutStorageFailsBeforeAnyBlockIsRead) {
  const PackedLayout layout = LayOutPackedDocument(SinglePreview(4, 4, 0));
  TestStream stream(layout.bytes);
  StarvedImage image;
  EXPECT_FALSE(ReadPackedDocument(image, &stream));
  EXPECT_TRUE(IsUntouched(image));
  EXPECT_EQ(stream.bytesRead, layout.blockOffsets[0]);
}

}  // namespace
}  // namespace kez::testing

namespace kez::testing {
namespace {

// In a text declared UTF-8 the parser steps over a character by the length
// its lead byte announces (2 to 4 bytes), also when the text ends right after
// the lead byte. It must land on zeros and stop there rather than run on
// through whatever memory follows; what it built up to then is searched.
class XmlEndingInALeadByte : public ::testing::TestWithParam<std::uint8_t> {};

TEST_P(XmlEndingInALeadByte, StopsAtTheEndOfTheText) {
  const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  const struct {
    std::string body;
    bool preview;
  } cases[] = {
      {"<Kelapp><Thumb width=\"2\" height=\"2\" bin=\"p", false},  // bin unfinished: no bin
      {"<Kelapp><Thumb width=\"2\" height=\"2\" bin=\"p\" x=\"", true},
      {"<Kelapp version=\"1", false},
      {"<Kelapp><!--", false},
      {"<Kelapp>text", false},
      {"<Kel", false},
  };
  for (const auto& c : cases) {
    PackedDocument document = SinglePreview(2, 2, 0);
    document.xml = utf8 + c.body + static_cast<char>(GetParam());
    lumo::CImage32 image;
    EXPECT_EQ(ReadBytes(WritePackedDocument(document), image), c.preview) << c.body;
  }
}

INSTANTIATE_TEST_SUITE_P(LeadBytes, XmlEndingInALeadByte, ::testing::Values(0xC3, 0xDB, 0xE2, 0xEF, 0xF0, 0xF4));

}  // namespace
}  // namespace kez::testing
