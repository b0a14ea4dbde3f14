#include "options.h"

#include <charconv>

namespace kezthumb {
namespace {

// A whole decimal number in [low, high], nothing else around it.
bool ParseNumber(const std::string& text, int low, int high, int* value) {
  int parsed = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, parsed);
  if (text.empty() || result.ec != std::errc() || result.ptr != end || parsed < low || parsed > high)
    return false;
  *value = parsed;
  return true;
}

ParsedOptions Fail(std::string error) {
  ParsedOptions parsed;
  parsed.error = std::move(error);
  return parsed;
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  Options options;
  bool cache = false;
  bool sizeGiven = false;
  bool jobsGiven = false;
  std::string sizeText;
  std::string jobsText;
  bool endOfOptions = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (endOfOptions || arg.size() < 2 || arg[0] != '-') {
      options.paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      endOfOptions = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      options.mode = Mode::kHelp;
      return {true, options, {}};
    }
    if (arg == "-V" || arg == "--version") {
      options.mode = Mode::kVersion;
      return {true, options, {}};
    }
    if (arg == "--cache") {
      cache = true;
      continue;
    }
    // Options with a value: "-s 128", "-s128", "--size 128", "--size=128".
    std::string* target = nullptr;
    std::string value;
    std::string name;
    bool inlineValue = false;
    if (arg.rfind("--size", 0) == 0 || arg.rfind("--jobs", 0) == 0) {
      name = arg.substr(0, 6);
      if (arg.size() > 6) {
        if (arg[6] != '=') return Fail("unknown option '" + arg + "'");
        value = arg.substr(7);
        inlineValue = true;
      }
    } else if (arg[1] == 's' || arg[1] == 'j') {
      name = arg.substr(0, 2);
      if (arg.size() > 2) {
        value = arg.substr(2);
        inlineValue = true;
      }
    } else {
      return Fail("unknown option '" + arg + "'");
    }
    const bool isSize = name == "-s" || name == "--size";
    target = isSize ? &sizeText : &jobsText;
    (isSize ? sizeGiven : jobsGiven) = true;
    if (!inlineValue) {
      if (i + 1 >= args.size()) return Fail("option '" + name + "' needs a value");
      value = args[++i];
    }
    *target = value;
  }

  const int maxSize = cache ? kMaxCacheSize : kMaxThumbnailSize;
  if (sizeGiven && !ParseNumber(sizeText, 1, maxSize, &options.size))
    return Fail("invalid size '" + sizeText + "' (a whole number from 1 to " + std::to_string(maxSize) + ")");
  if (jobsGiven) {
    if (!cache) return Fail("option '-j' works only with --cache");
    if (!ParseNumber(jobsText, 1, kMaxJobs, &options.jobs))
      return Fail("invalid job count '" + jobsText + "' (a whole number from 1 to " + std::to_string(kMaxJobs) +
                  ")");
  }
  if (cache) {
    options.mode = Mode::kCache;
    if (options.paths.empty()) return Fail("--cache needs at least one file or folder");
  } else {
    options.mode = Mode::kThumbnail;
    if (options.paths.size() != 2)
      return Fail(options.paths.size() < 2 ? "missing INPUT or OUTPUT" : "too many arguments");
  }
  return {true, options, {}};
}

std::string HelpText() {
  return "Usage: kezthumb [-s SIZE] INPUT OUTPUT\n"
         "       kezthumb --cache [-s SIZE] [-j N] PATH...\n"
         "\n"
         "Makes thumbnails of painting documents (\".kez\" and packed \".kelpack\"; the\n"
         "format is recognised by the first bytes of the file, whatever its name).\n"
         "\n"
         "The first form writes the thumbnail of INPUT to OUTPUT: a SIZE x SIZE PNG\n"
         "(8-bit RGBA), the picture fitted and centred on a transparent square.\n"
         "\n"
         "The second form fills the desktop's thumbnail cache ($XDG_CACHE_HOME/thumbnails,\n"
         "else ~/.cache/thumbnails) for every document among the PATHs, searching\n"
         "folders recursively. Thumbnails that are up to date are kept; documents\n"
         "without a thumbnail are recorded under thumbnails/fail/. SIZE picks the\n"
         "folder: up to 128 normal, 256 large, 512 x-large, 1024 xx-large. (Linux and\n"
         "the like: Windows has no such cache.)\n"
         "\n"
         "Options:\n"
         "  -s, --size SIZE  edge length in pixels (default 256; at most 4096, or 1024\n"
         "                   with --cache)\n"
         "      --cache      fill the thumbnail cache\n"
         "  -j, --jobs N     documents made at once with --cache (default: one per core)\n"
         "  -h, --help       show this help and exit\n"
         "  -V, --version    show the version and exit\n"
         "\n"
         "Exit status: 0 when the thumbnail was written (--cache: every document has an\n"
         "up-to-date thumbnail); 1 when a document has no thumbnail (damaged, not a known\n"
         "format); 2 for usage and I/O errors.\n";
}

}  // namespace kezthumb
