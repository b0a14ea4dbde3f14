// Reading the text chunks of a cache entry without decoding its image: enough
// to tell whether a cached thumbnail is up to date. Entries are files other
// programs write, so anything may be in them.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace kezthumb {

// The text chunks (tEXt, zTXt, iTXt) that come before the image data of the
// PNG at `path`, key -> text; the first of repeated keys wins. Chunks with a
// bad CRC are passed over. Empty when the file cannot be read or is not a
// sound PNG up to its image data. Entries put their text first (so does this
// tool), and an entry whose text comes later is simply made again.
std::map<std::string, std::string> ReadPngText(const std::filesystem::path& path);

}  // namespace kezthumb
