// PNG writing and the text-chunk reader: exact pixels after a libpng decode,
// the chunk sequence on disk, and damaged files.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kezthumb/png_text.h"
#include "kezthumb/png_writer.h"
#include "tools/png_decode.h"

namespace kezthumb {
namespace {

using Bytes = std::vector<std::uint8_t>;

using Decoded = kez::testing::DecodedPng;

// Decodes with libpng's simplified reader, asking for RGBA as stored.
Decoded Decode(const Bytes& png) { return kez::testing::DecodePng(png); }

// The chunk types of a PNG in file order.
std::vector<std::string> ChunkTypes(const Bytes& png) {
  std::vector<std::string> types;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t length = png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    types.emplace_back(reinterpret_cast<const char*>(&png[at + 4]), 4);
    at += 12 + length;
  }
  return types;
}

Bytes Chunk(const char* type, const std::string& data) {
  Bytes chunk(4);
  const auto length = static_cast<std::uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) chunk[i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), data.begin(), data.end());
  const auto crc = static_cast<std::uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(data.size() + 4)));
  for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<std::uint8_t>(crc >> (24 - 8 * i)));
  return chunk;
}

Bytes Png(const std::vector<Bytes>& chunks) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const auto& c : chunks) png.insert(png.end(), c.begin(), c.end());
  return png;
}

using std::string_literals::operator""s;

TEST(EncodePng, PixelsComeBackExactlyWithStraightAlpha) {
  // Every alpha level over colours that premultiplication would change.
  const int width = 16, height = 17;
  Bytes rgba(static_cast<std::size_t>(width * height * 4));
  for (int i = 0; i < width * height; ++i) {
    rgba[4 * i] = static_cast<std::uint8_t>(i * 7);
    rgba[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
    rgba[4 * i + 2] = static_cast<std::uint8_t>(i * 13 + 5);
    rgba[4 * i + 3] = static_cast<std::uint8_t>(i);
  }
  Bytes png;
  std::string error;
  ASSERT_TRUE(EncodePng(rgba.data(), width, height, {}, &png, &error)) << error;
  const Decoded decoded = Decode(png);
  EXPECT_EQ(decoded.width, width);
  EXPECT_EQ(decoded.height, height);
  EXPECT_EQ(decoded.format, static_cast<png_uint_32>(PNG_FORMAT_RGBA));  // 8-bit RGBA on disk
  EXPECT_EQ(decoded.rgba, rgba);
  // IHDR: bit depth 8, colour type 6 (RGBA), no interlace.
  EXPECT_EQ(png[24], 8);
  EXPECT_EQ(png[25], 6);
  EXPECT_EQ(png[28], 0);
}

TEST(EncodePng, TextChunksPrecedeTheImageData) {
  const std::uint8_t pixel[4] = {1, 2, 3, 4};
  Bytes png;
  std::string error;
  ASSERT_TRUE(EncodePng(pixel, 1, 1, {{"Thumb::URI", "file:///a"}, {"Thumb::MTime", "12"}}, &png, &error));
  EXPECT_EQ(ChunkTypes(png), (std::vector<std::string>{"IHDR", "tEXt", "tEXt", "IDAT", "IEND"}));
  const auto text = ParsePngText(png);
  EXPECT_EQ(text, (std::map<std::string, std::string>{{"Thumb::URI", "file:///a"}, {"Thumb::MTime", "12"}}));
}

TEST(EncodePng, RefusesNonsenseSizesWithAReason) {
  const std::uint8_t pixel[4] = {};
  Bytes png = {1, 2, 3};
  std::string error;
  EXPECT_FALSE(EncodePng(pixel, 0, 1, {}, &png, &error));
  EXPECT_EQ(error, "image size out of range");
  // A key libpng refuses (empty) fails cleanly, with libpng's reason.
  error.clear();
  EXPECT_FALSE(EncodePng(pixel, 1, 1, {{"", "x"}}, &png, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(png.empty());
}

struct TextCase {
  const char* name;
  Bytes png;
  std::map<std::string, std::string> text;
};

class ParseText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ParseText, Reads) { EXPECT_EQ(ParsePngText(GetParam().png), GetParam().text); }

Bytes BadCrc(Bytes chunk) {
  chunk.back() ^= 1;
  return chunk;
}

Bytes Truncated(Bytes png, std::size_t cut) {
  png.resize(png.size() - cut);
  return png;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ParseText,
    ::testing::Values(
        TextCase{"plain", Png({Chunk("tEXt", "a\0b"s), Chunk("IEND", "")}), {{"a", "b"}}},
        TextCase{"empty value", Png({Chunk("tEXt", "key\0"s)}), {{"key", ""}}},
        TextCase{"first of repeated keys", Png({Chunk("tEXt", "k\0one"s), Chunk("tEXt", "k\0two"s)}), {{"k", "one"}}},
        TextCase{"no separator", Png({Chunk("tEXt", "novalue")}), {}},
        TextCase{"empty key", Png({Chunk("tEXt", "\0v"s)}), {}},
        TextCase{"bad crc passed over", Png({BadCrc(Chunk("tEXt", "a\0b"s)), Chunk("tEXt", "c\0d"s)}), {{"c", "d"}}},
        TextCase{"after IEND ignored", Png({Chunk("IEND", ""), Chunk("tEXt", "a\0b"s)}), {}},
        TextCase{"itxt uncompressed", Png({Chunk("iTXt", "Thumb::URI\0\0\0en\0Titel\0file:///%C3%A9"s)}),
                 {{"Thumb::URI", "file:///%C3%A9"}}},
        TextCase{"itxt compressed skipped", Png({Chunk("iTXt", "k\0\x01\0\0\0xx"s)}), {}},
        TextCase{"itxt missing fields", Png({Chunk("iTXt", "k\0\0\0en"s)}), {}},
        TextCase{"truncated chunk", Truncated(Png({Chunk("tEXt", "a\0b"s), Chunk("tEXt", "c\0dddd"s)}), 3),
                 {{"a", "b"}}},
        TextCase{"length beyond the file", Png({Bytes{0x7F, 0xFF, 0xFF, 0xFF, 't', 'E', 'X', 't', 'a', 0}}), {}},
        TextCase{"length above 2^31", Png({Bytes{0xFF, 0xFF, 0xFF, 0xFC, 't', 'E', 'X', 't', 'a', 0, 'b', 0, 0, 0, 0, 0}}),
                 {}},
        TextCase{"not a png", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0}, {}},
        TextCase{"empty", Bytes{}, {}}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// The file reader skips image data but finds text before and after it, and
// agrees with the in-memory parser on a damaged tail.
TEST(ReadPngText, SkipsImageDataAndStopsAtDamage) {
  const auto path = std::filesystem::temp_directory_path() / ("kezthumb_png_text_" + std::to_string(getpid()));
  const Bytes png = Png({Chunk("IHDR", std::string(13, '\0')), Chunk("tEXt", "a\0b"s),
                         Chunk("IDAT", std::string(100000, 'x')), Chunk("tEXt", "c\0d"s),
                         BadCrc(Chunk("tEXt", "e\0f"s)), Chunk("IEND", ""), Chunk("tEXt", "g\0h"s)});
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  }
  const std::map<std::string, std::string> expected = {{"a", "b"}, {"c", "d"}};
  EXPECT_EQ(ReadPngText(path), expected);
  EXPECT_EQ(ParsePngText(png), expected);
  // A text chunk above the limit is skipped, not read.
  EXPECT_EQ(ReadPngText(path, 2), (std::map<std::string, std::string>{}));
  std::filesystem::resize_file(path, png.size() - 40);
  EXPECT_EQ(ReadPngText(path), expected);
  std::filesystem::remove(path);
  EXPECT_TRUE(ReadPngText(path).empty());
}

}  // namespace
}  // namespace kezthumb
