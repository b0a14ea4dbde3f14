// Reading the text chunks of a PNG without decoding its image: enough to tell
// whether a cached thumbnail is up to date.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kezthumb {

// Every tEXt chunk and every uncompressed iTXt chunk of a PNG held in
// `bytes`, key -> text (the first of repeated keys wins). Chunks with a bad
// CRC are passed over; a damaged or truncated file yields what was read up to
// the damage. Empty for anything that is not a PNG.
std::map<std::string, std::string> ParsePngText(const std::vector<std::uint8_t>& bytes);

// The same for a file, reading only its text chunks (those longer than
// `maxChunkBytes` are skipped); empty when it cannot be read.
std::map<std::string, std::string> ReadPngText(const std::filesystem::path& path,
                                               std::uint64_t maxChunkBytes = 1u << 20);

}  // namespace kezthumb
