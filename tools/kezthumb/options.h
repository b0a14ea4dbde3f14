// The command line: `kezthumb [-s SIZE] INPUT OUTPUT` (one thumbnail, the
// freedesktop thumbnailer contract) and `kezthumb --cache [-s SIZE] [-j N]
// PATH...` (fill the desktop's thumbnail cache).
#pragma once

#include <string>
#include <vector>

namespace kezthumb {

enum class Mode { kThumbnail, kCache, kHelp, kVersion };

constexpr int kDefaultSize = 256;
constexpr int kMaxThumbnailSize = 4096;  // one file: what the provider can make comfortably
constexpr int kMaxCacheSize = 1024;      // the largest cache folder, xx-large
constexpr int kMaxJobs = 64;

struct Options {
  Mode mode = Mode::kThumbnail;
  int size = kDefaultSize;
  int jobs = 0;  // 0: one per core
  std::vector<std::string> paths;  // INPUT and OUTPUT, or the PATHs to cache
};

struct ParsedOptions {
  bool ok = false;
  Options options;
  std::string error;  // the one-line complaint when !ok
};

// Parses the arguments after the program name.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

// The text of --help.
std::string HelpText();

}  // namespace kezthumb
