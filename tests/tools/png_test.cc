// PNG writing and the text-chunk reader: exact pixels after a libpng decode,
// the chunk sequence on disk, and damaged or foreign cache entries.
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
  // Built from one string: GCC 12 misreads inserts into a short vector as
  // out of bounds.
  std::string bytes(4, '\0');
  const auto length = static_cast<std::uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(length >> (24 - 8 * i));
  bytes.append(type, 4).append(data);
  Bytes chunk(bytes.begin(), bytes.end());
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

// Cache entries are other programs' files: what the reader makes of them.
struct TextCase {
  const char* name;
  Bytes png;
  std::map<std::string, std::string> text;
};

class ReadText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ReadText, FromFile) {
  const auto path = std::filesystem::temp_directory_path() / ("kezthumb_png_text_" + std::to_string(getpid()));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(GetParam().png.data()), static_cast<std::streamsize>(GetParam().png.size()));
  EXPECT_EQ(ReadPngText(path), GetParam().text);
  std::filesystem::remove(path);
}

Bytes BadCrc(Bytes chunk) {
  chunk.back() ^= 1;
  return chunk;
}

Bytes Truncated(Bytes png, std::size_t cut) {
  png.resize(png.size() - cut);
  return png;
}

// An entry: a 1x1 RGBA header, the given chunks, image data, `after`.
Bytes Entry(std::vector<Bytes> chunks, const Bytes& after = {}) {
  chunks.insert(chunks.begin(), Chunk("IHDR", "\0\0\0\1\0\0\0\1\x08\x06\0\0\0"s));
  chunks.push_back(Chunk("IDAT", "x\x01\x01\x05\0\xfa\xff\0\0\0\0\0\0\x05\0\x01"s));
  chunks.push_back(after);
  chunks.push_back(Chunk("IEND", ""));
  return Png(chunks);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadText,
    ::testing::Values(
        TextCase{"plain", Entry({Chunk("tEXt", "a\0b"s)}), {{"a", "b"}}},
        TextCase{"first of repeated keys", Entry({Chunk("tEXt", "k\0one"s), Chunk("tEXt", "k\0two"s)}), {{"k", "one"}}},
        TextCase{"bad crc passed over", Entry({BadCrc(Chunk("tEXt", "a\0b"s)), Chunk("tEXt", "c\0d"s)}), {{"c", "d"}}},
        TextCase{"itxt", Entry({Chunk("iTXt", "Thumb::URI\0\0\0en\0Titel\0file:///%C3%A9"s)}),
                 {{"Thumb::URI", "file:///%C3%A9"}}},
        // Text after the image data is not looked for: such an entry is made again.
        TextCase{"after the image data", Entry({}, Chunk("tEXt", "a\0b"s)), {}},
        TextCase{"truncated", Truncated(Entry({Chunk("tEXt", "a\0b"s), Chunk("tEXt", "c\0dddd"s)}), 40), {}},
        TextCase{"chunk above 64 KiB", Entry({Chunk("tEXt", std::string(1 << 16, 'b').insert(0, "a\0"s))}), {}},
        // Small chunks, many of them: what they hold together is bounded too.
        TextCase{"more than 32 text chunks", Entry(std::vector<Bytes>(33, Chunk("tEXt", "a\0b"s))), {}},
        TextCase{"length beyond the file", Entry({Bytes{0x7F, 0xFF, 0xFF, 0xFF, 't', 'E', 'X', 't', 'a', 0}}), {}},
        TextCase{"no header", Png({Chunk("tEXt", "a\0b"s)}), {}},
        TextCase{"not a png", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0}, {}},
        TextCase{"empty", Bytes{}, {}}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

TEST(ReadPngText, MissingFile) { EXPECT_TRUE(ReadPngText("/nonexistent/kezthumb.png").empty()); }

}  // namespace
}  // namespace kezthumb
