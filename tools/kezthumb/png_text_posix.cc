#include "png_text.h"

#include <zlib.h>

#include <cstring>
#include <fstream>

namespace kezthumb {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr int kMaxChunks = 100000;  // a file of empty chunks still ends

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void Keep(std::map<std::string, std::string>* text, std::string key, std::string value) {
  if (!key.empty()) text->emplace(std::move(key), std::move(value));
}

// tEXt: key, 0, Latin-1 text.
void ParseText(const std::uint8_t* data, std::size_t size, std::map<std::string, std::string>* text) {
  const auto* end = data + size;
  const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
  if (zero == nullptr) return;
  Keep(text, std::string(data, zero), std::string(zero + 1, end));
}

// iTXt: key, 0, compression flag, method, language, 0, translated key, 0, text.
void ParseInternationalText(const std::uint8_t* data, std::size_t size, std::map<std::string, std::string>* text) {
  const auto* end = data + size;
  const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
  if (zero == nullptr || end - zero < 3 || zero[1] != 0) return;  // compressed: not ours to inflate
  const auto* p = zero + 3;
  for (int field = 0; field < 2; ++field) {
    const auto* next = static_cast<const std::uint8_t*>(std::memchr(p, 0, static_cast<std::size_t>(end - p)));
    if (next == nullptr) return;
    p = next + 1;
  }
  Keep(text, std::string(data, zero), std::string(p, end));
}

}  // namespace

std::map<std::string, std::string> ParsePngText(const std::vector<std::uint8_t>& bytes) {
  std::map<std::string, std::string> text;
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) return text;
  std::size_t at = 8;
  for (int chunk = 0; chunk < kMaxChunks && bytes.size() - at >= 12; ++chunk) {
    const std::uint32_t length = BigEndian32(&bytes[at]);
    const std::uint8_t* type = &bytes[at + 4];
    if (length > 0x7FFFFFFFu || length > bytes.size() - at - 12) break;  // truncated or nonsense
    const std::uint8_t* data = type + 4;
    const std::uint32_t stored = BigEndian32(data + length);
    const auto crc = static_cast<std::uint32_t>(crc32(0, type, length + 4));
    if (crc == stored) {
      if (std::memcmp(type, "tEXt", 4) == 0) ParseText(data, length, &text);
      if (std::memcmp(type, "iTXt", 4) == 0) ParseInternationalText(data, length, &text);
      if (std::memcmp(type, "IEND", 4) == 0) break;
    }
    at += 12 + static_cast<std::size_t>(length);
  }
  return text;
}

std::map<std::string, std::string> ReadPngText(const std::filesystem::path& path, std::uint64_t maxChunkBytes) {
  // Only the text chunks are read; the image data is skipped over, so a
  // large thumbnail costs a few small reads. They are gathered into a
  // miniature PNG for the parser above.
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> kept(8);
  if (!file.read(reinterpret_cast<char*>(kept.data()), 8) || std::memcmp(kept.data(), kSignature, 8) != 0) return {};
  for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
    std::uint8_t header[8];
    if (!file.read(reinterpret_cast<char*>(header), 8)) break;
    const std::uint32_t length = BigEndian32(header);
    if (length > 0x7FFFFFFFu) break;
    const bool isText = std::memcmp(header + 4, "tEXt", 4) == 0 || std::memcmp(header + 4, "iTXt", 4) == 0;
    if (!isText || length > maxChunkBytes) {
      if (std::memcmp(header + 4, "IEND", 4) == 0) break;
      if (!file.seekg(static_cast<std::streamoff>(length) + 4, std::ios::cur)) break;
      continue;
    }
    const std::size_t at = kept.size();
    kept.resize(at + 12 + length);
    std::memcpy(&kept[at], header, 8);
    if (!file.read(reinterpret_cast<char*>(&kept[at + 8]), static_cast<std::streamsize>(length) + 4)) {
      kept.resize(at);
      break;
    }
  }
  return ParsePngText(kept);
}

}  // namespace kezthumb
