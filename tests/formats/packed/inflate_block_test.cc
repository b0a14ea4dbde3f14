#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "formats/packed/packed_reader.h"
#include "support/packed_writer.h"

namespace kez::testing {
namespace {

std::vector<std::uint8_t> Sample(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 3));
  return data;
}

// A deflate stream with the given window bits (negative: raw, 31: gzip).
std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& data, int windowBits) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<std::uint8_t> out(deflateBound(&zs, static_cast<uLong>(data.size())) + 32);
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

struct InflateCase {
  const char* label;
  std::vector<std::uint8_t> source;
  std::uint32_t destinationSize;
  bool succeeds;
  std::uint32_t produced;
};

class InflateBlockCases : public ::testing::TestWithParam<InflateCase> {};

TEST_P(InflateBlockCases, ReportExactlyWhatInflateDid) {
  const InflateCase& c = GetParam();
  std::vector<std::uint8_t> destination(c.destinationSize + 1, 0xEE);
  std::uint32_t produced = 12345;
  EXPECT_EQ(InflateBlock(c.source.data(), static_cast<std::uint32_t>(c.source.size()), destination.data(),
                         c.destinationSize, &produced),
            c.succeeds);
  EXPECT_EQ(produced, c.produced);
  if (c.succeeds) {
    const std::vector<std::uint8_t> expected = Sample(c.produced);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), destination.begin()));
  }
  EXPECT_EQ(destination[c.destinationSize], 0xEE) << "wrote past the destination";
}

std::vector<std::uint8_t> Flipped(std::vector<std::uint8_t> bytes, std::size_t at) {
  bytes[at] ^= 0x40;
  return bytes;
}

std::vector<std::uint8_t> Prefix(const std::vector<std::uint8_t>& bytes, std::size_t keep) {
  return std::vector<std::uint8_t>(bytes.begin(),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(std::min(keep, bytes.size())));
}

std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> bytes, std::size_t extra) {
  bytes.insert(bytes.end(), extra, 0x77);
  return bytes;
}

std::vector<InflateCase> Cases() {
  const std::vector<std::uint8_t> z = ZlibCompress(Sample(5000));
  return {
      {"Exact", z, 5000, true, 5000},
      {"Roomy", z, 9000, true, 5000},
      {"OneByteShort", z, 4999, false, 0},
      {"NoRoom", z, 0, false, 0},
      {"Truncated", Prefix(z, z.size() - 1), 5000, false, 0},
      {"HeaderOnly", Prefix(z, 2), 5000, false, 0},
      {"Empty", {}, 5000, false, 0},
      {"BadHeader", Flipped(z, 0), 5000, false, 0},
      {"BadChecksum", Flipped(z, z.size() - 1), 5000, false, 0},
      {"RawDeflate", Deflate(Sample(5000), -15), 5000, false, 0},
      {"Gzip", Deflate(Sample(5000), 31), 5000, false, 0},
      {"TrailingBytesIgnored", Padded(z, 10), 5000, true, 5000},
      {"EmptyOutputStream", ZlibCompress({}), 16, true, 0},
      {"StoredLevelZero", ZlibCompress(Sample(300), 0), 300, true, 300},
  };
}

INSTANTIATE_TEST_SUITE_P(Streams, InflateBlockCases, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(InflateBlock, SmallerWindowStreamsAreAccepted) {
  // The default 15-bit window reads any stream written with a smaller one.
  const std::vector<std::uint8_t> z = Deflate(Sample(3000), 9);
  std::vector<std::uint8_t> out(3000);
  std::uint32_t produced = 0;
  ASSERT_TRUE(InflateBlock(z.data(), static_cast<std::uint32_t>(z.size()), out.data(), 3000, &produced));
  EXPECT_EQ(produced, 3000u);
  EXPECT_EQ(out, Sample(3000));
}

TEST(InflateBlock, DeflateExpansionStaysWithinTheBoundTheReaderAssumes) {
  // The reader never gives inflate more than 1032 output bytes per input
  // byte; the most compressible input there is must fit that.
  const std::vector<std::uint8_t> zeros(4u << 20, 0);
  for (int level : {1, 9}) {
    const std::vector<std::uint8_t> z = ZlibCompress(zeros, level);
    EXPECT_LE(zeros.size(), z.size() * 1032u) << "level " << level;
    std::vector<std::uint8_t> out(z.size() * 1032u);
    std::uint32_t produced = 0;
    ASSERT_TRUE(InflateBlock(z.data(), static_cast<std::uint32_t>(z.size()), out.data(),
                             static_cast<std::uint32_t>(out.size()), &produced));
    EXPECT_EQ(produced, zeros.size());
  }
}

}  // namespace
}  // namespace kez::testing
