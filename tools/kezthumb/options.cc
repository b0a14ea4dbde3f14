#include "options.h"

#include <getopt.h>

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
  // getopt_long, as Unix tools parse: "-s 128", "-s128", "--size 128",
  // "--size=128", unambiguous abbreviations ("--si"), options among the
  // paths, "--" to end them. It reorders the array it is given: a copy.
  std::vector<std::string> words(args);
  words.insert(words.begin(), "kezthumb");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());
  static const option kLong[] = {{"size", required_argument, nullptr, 's'}, {"jobs", required_argument, nullptr, 'j'},
                                 {"cache", no_argument, nullptr, 'c'},     {"check", no_argument, nullptr, 'k'},
                                 {"help", no_argument, nullptr, 'h'},      {"version", no_argument, nullptr, 'V'},
                                 {nullptr, 0, nullptr, 0}};

  Options options;
  bool cache = false;
  bool check = false;
  const char* sizeText = nullptr;
  const char* jobsText = nullptr;
  opterr = 0;  // the complaints are ours, on one line
  optind = 0;  // a fresh scan (glibc and MinGW-w64 both start over at 0)
  for (;;) {
    const int before = optind < 1 ? 1 : optind;
    const int c = getopt_long(argc, argv.data(), ":s:j:hV", kLong, nullptr);
    if (c == -1) break;
    // A long option always uses up its word; a short one inside "-xy" does not.
    const std::string word = optind > before && optind <= argc ? argv[optind - 1] : "";
    const bool isLong = word.rfind("--", 0) == 0;
    switch (c) {
      case 's': sizeText = optarg; break;
      case 'j': jobsText = optarg; break;
      case 'c': cache = true; break;
      case 'k': check = true; break;
      case 'h': options.mode = Mode::kHelp; return {true, options, {}};
      case 'V': options.mode = Mode::kVersion; return {true, options, {}};
      case ':':
        // MinGW's getopt_long answers ':' where glibc answers '?' for a
        // long option given a value it does not take.
        if (isLong && word.find('=') != std::string::npos)
          return Fail("option '" + word.substr(0, word.find('=')) + "' doesn't allow an argument");
        return Fail(isLong ? "option '" + word + "' requires an argument"
                           : std::string("option requires an argument -- '") + static_cast<char>(optopt) + "'");
      default:
        if (isLong && optopt != 0) return Fail("option '" + word.substr(0, word.find('=')) + "' doesn't allow an argument");
        if (isLong) return Fail("unrecognized option '" + word + "'");
        return Fail(std::string("invalid option -- '") + static_cast<char>(optopt) + "'");
    }
  }
  for (int i = optind; i < argc; ++i) options.paths.emplace_back(argv[i]);

  if (check) {
    // The check asks for what Explorer asks for: no size of its own.
    if (cache) return Fail("--check and --cache do not go together");
    if (sizeText != nullptr || jobsText != nullptr) return Fail("--check takes no size or job count");
    if (options.paths.size() > 1) return Fail("too many arguments");
    options.mode = Mode::kCheck;
    return {true, options, {}};
  }
  const int maxSize = cache ? kMaxCacheSize : kMaxThumbnailSize;
  if (sizeText != nullptr && !ParseNumber(sizeText, 1, maxSize, &options.size))
    return Fail(std::string("invalid size '") + sizeText + "' (a whole number from 1 to " + std::to_string(maxSize) +
                ")");
  if (jobsText != nullptr) {
    if (!cache) return Fail("option '-j' works only with --cache");
    if (!ParseNumber(jobsText, 1, kMaxJobs, &options.jobs))
      return Fail(std::string("invalid job count '") + jobsText + "' (a whole number from 1 to " +
                  std::to_string(kMaxJobs) + ")");
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
         "       kezthumb --check [DOCUMENT]\n"
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
         "The third form (Windows) tells what stands between Explorer and the\n"
         "thumbnails of \".kez\" documents, one finding a line: the registration, the\n"
         "DLL and its processor, loading it, the settings and policies that turn\n"
         "thumbnails off. Given a DOCUMENT, it makes its thumbnail through the\n"
         "registered handler as Explorer does and writes it beside it (DOCUMENT.png).\n"
         "\n"
         "Options:\n"
         "  -s, --size SIZE  edge length in pixels (default 256; at most 4096, or 1024\n"
         "                   with --cache)\n"
         "      --cache      fill the thumbnail cache\n"
         "      --check      check what Explorer would find (Windows)\n"
         "  -j, --jobs N     documents made at once with --cache (default: one per core)\n"
         "  -h, --help       show this help and exit\n"
         "  -V, --version    show the version and exit\n"
         "\n"
         "Exit status: 0 when the thumbnail was written (--cache: every document has an\n"
         "up-to-date thumbnail); 1 when a document has no thumbnail (damaged, not a known\n"
         "format); 2 for usage and I/O errors. --check: 0 when nothing stands in the\n"
         "way, 1 when something does or cannot be told.\n";
}

}  // namespace kezthumb
