// kezthumb: thumbnails of painting documents through the thumbnail server.
//   kezthumb [-s SIZE] INPUT OUTPUT          exit 0 written, 1 no thumbnail, 2 usage or I/O error
//   kezthumb --cache [-s SIZE] [-j N] PATH...
//   kezthumb --check [DOCUMENT]              (Windows)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cache.h"
#include "cache_filler.h"
#include "check.h"
#include "file_system.h"
#include "options.h"
#include "png_writer.h"
#include "server_notices.h"
#include "thumbnail_road.h"
#include "version.h"

namespace {

using namespace kezthumb;

constexpr int kExitWritten = 0;
constexpr int kExitNoThumbnail = 1;
constexpr int kExitError = 2;

int Complain(const std::string& path, const std::string& reason, int status) {
  std::fprintf(stderr, "kezthumb: %s: %s\n", path.c_str(), reason.c_str());
  return status;
}

int MakeOne(const Options& options) {
  const std::string& input = options.paths[0];
  const std::string& output = options.paths[1];
  SilenceServerNotices();
  RoadResult result;
  {
    ThumbnailRoad road;
    result = road.Make(input, options.size);
  }
  if (result.status == RoadStatus::kNoThumbnail) return Complain(input, result.reason, kExitNoThumbnail);
  if (result.status == RoadStatus::kError) return Complain(input, result.reason, kExitError);
  // Written as it is encoded: a large thumbnail's PNG is never all in memory.
  const auto encode = [&result](const ByteSink& sink, std::string* error) {
    return EncodePng(result.rgba.data(), result.size, result.size, {}, sink, error);
  };
  std::string error;
  if (!WriteFileAtomically(output, encode, false, &error)) return Complain(output, "cannot write: " + error, kExitError);
  return kExitWritten;
}

int FillTheCache(const Options& options) {
#ifdef _WIN32
  // The freedesktop cache has no counterpart here: Explorer keeps its own.
  (void)options;
  std::fprintf(stderr, "kezthumb: --cache: there is no freedesktop thumbnail cache on Windows\n");
  return kExitError;
#else
  const auto root = ThumbnailRoot([](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  });
  if (!root) {
    std::fprintf(stderr, "kezthumb: no cache folder: neither XDG_CACHE_HOME nor HOME is set\n");
    return kExitError;
  }
  CacheRequest request;
  request.size = options.size;
  request.jobs = options.jobs;
  if (request.jobs == 0)
    request.jobs = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, unsigned{kMaxJobs}));
  request.paths = options.paths;
  request.root = *root;

  const bool terminal = StderrIsTerminal();
  Console console(stderr, terminal, terminal ? StderrColumns() : 80);
  const CacheOutcome outcome = FillCache(request, console);
  std::printf("%s\n", FormatSummary(outcome.counts, outcome.seconds).c_str());
  std::fflush(stdout);
  if (outcome.ioError) return kExitError;
  return outcome.counts.failed != 0 ? kExitNoThumbnail : kExitWritten;
#endif
}

int CheckExplorer(const Options& options) {
#ifdef _WIN32
  return RunCheck(options.paths.empty() ? std::string() : options.paths[0]);
#else
  (void)options;
  std::fprintf(stderr, "kezthumb: --check: it checks Explorer's thumbnail handler, on Windows only\n");
  return kExitError;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  InstallInterruptCleanup();
  const ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.ok) {
    std::fprintf(stderr, "kezthumb: %s\nTry 'kezthumb --help' for more information.\n", parsed.error.c_str());
    return kExitError;
  }
  const Options& options = parsed.options;
  switch (options.mode) {
    case Mode::kHelp:
      std::fputs(HelpText().c_str(), stdout);
      return std::fflush(stdout) == 0 ? kExitWritten : kExitError;
    case Mode::kVersion:
      std::printf("kezthumb %s\n", kVersion);
      return std::fflush(stdout) == 0 ? kExitWritten : kExitError;
    case Mode::kThumbnail: return MakeOne(options);
    case Mode::kCache: return FillTheCache(options);
    case Mode::kCheck: return CheckExplorer(options);
  }
  return kExitError;
}
