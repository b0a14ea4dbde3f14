// Where the freedesktop thumbnail cache keeps things and how its entries are
// named and labelled.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "file_system.h"
#include "png_writer.h"

namespace kezthumb {

// The size folders, smallest first.
struct CacheFolder {
  int size;
  const char* name;
};
inline constexpr CacheFolder kCacheFolders[] = {
    {128, "normal"}, {256, "large"}, {512, "x-large"}, {1024, "xx-large"}};

// The smallest folder whose size is at least `size` (so 100 -> "normal",
// 200 -> "large"); null above 1024.
const CacheFolder* CacheFolderFor(int size);

using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// $XDG_CACHE_HOME/thumbnails when that is set to an absolute path, else
// $HOME/.cache/thumbnails; nullopt when neither can be had.
std::optional<std::filesystem::path> ThumbnailRoot(const EnvironmentLookup& lookup);

// Naming (cache_names_posix.cc, with GLib): the file URI of an absolute path, escaped byte for byte as the desktop's
// file managers do (names need not be UTF-8); empty when the path is not
// absolute.
std::string FileUri(const std::string& absolutePath);

// "<32 hex digits of MD5(uri)>.png".
std::string CacheFileName(const std::string& uri);

// "kezthumb-<version>", the tool's folder under thumbnails/fail/.
std::string FailFolderName();

// The text chunks of a cache entry: Thumb::URI, Thumb::MTime, Thumb::Size,
// Thumb::Mime (when known) and Software.
std::vector<PngText> CacheEntryText(const std::string& uri, const FileStamp& stamp, const std::string& mime);

// Whether a cache entry with these text chunks describes the document at
// `uri` as it is now (same URI, same modification time).
bool EntryIsCurrent(const std::map<std::string, std::string>& text, const std::string& uri, const FileStamp& stamp);

}  // namespace kezthumb
