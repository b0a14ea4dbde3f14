#include "cache.h"

#include "version.h"

namespace kezthumb {

const CacheFolder* CacheFolderFor(int size) {
  for (const CacheFolder& folder : kCacheFolders)
    if (size <= folder.size) return &folder;
  return nullptr;
}

std::optional<std::filesystem::path> ThumbnailRoot(const EnvironmentLookup& lookup) {
  // A relative XDG_CACHE_HOME is invalid and ignored, as the base directory
  // rules say.
  const auto xdg = lookup("XDG_CACHE_HOME");
  if (xdg && !xdg->empty() && std::filesystem::path(*xdg).is_absolute())
    return std::filesystem::path(*xdg) / "thumbnails";
  const auto home = lookup("HOME");
  if (home && !home->empty()) return std::filesystem::path(*home) / ".cache" / "thumbnails";
  return std::nullopt;
}

std::string FailFolderName() { return std::string("kezthumb-") + kVersion; }

std::vector<PngText> CacheEntryText(const std::string& uri, const FileStamp& stamp, const std::string& mime) {
  std::vector<PngText> text = {{"Thumb::URI", uri},
                               {"Thumb::MTime", std::to_string(stamp.mtime)},
                               {"Thumb::Size", std::to_string(stamp.size)}};
  if (!mime.empty()) text.push_back({"Thumb::Mime", mime});
  text.push_back({"Software", std::string("kezthumb ") + kVersion});
  return text;
}

bool EntryIsCurrent(const std::map<std::string, std::string>& text, const std::string& uri, const FileStamp& stamp) {
  const auto storedUri = text.find("Thumb::URI");
  const auto storedTime = text.find("Thumb::MTime");
  return storedUri != text.end() && storedTime != text.end() && storedUri->second == uri &&
         storedTime->second == std::to_string(stamp.mtime);
}

}  // namespace kezthumb
