// The command line: `kezthumb [-s SIZE] INPUT OUTPUT` (one thumbnail, the
// freedesktop thumbnailer contract), `kezthumb --cache [-s SIZE] [-j N]
// PATH...` (fill the desktop's thumbnail cache) and `kezthumb --check
// [DOCUMENT]` (what stands between Explorer and a thumbnail, on Windows).
#pragma once

#include <string>
#include <vector>

namespace kezthumb {

enum class Mode { kThumbnail, kCache, kCheck, kHelp, kVersion };

constexpr int kDefaultSize = 256;
constexpr int kMaxThumbnailSize = 4096;  // one file: what the provider can make comfortably
constexpr int kMaxCacheSize = 1024;      // the largest cache folder, xx-large
constexpr int kMaxJobs = 64;

struct Options {
  Mode mode = Mode::kThumbnail;
  int size = kDefaultSize;
  int jobs = 0;  // 0: one per core
  std::vector<std::string> paths;  // INPUT and OUTPUT, the PATHs to cache, or the DOCUMENT to check
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
