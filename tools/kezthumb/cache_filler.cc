#include "cache_filler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "cache.h"
#include "file_system.h"
#include "png_text.h"
#include "png_writer.h"
#include "server_notices.h"
#include "thumbnail_road.h"

namespace kezthumb {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Say(const fs::path& path, const std::string& what) { return "kezthumb: " + path.string() + ": " + what; }

// Tallies shared by the workers.
struct Tally {
  std::atomic<std::size_t> written{0};
  std::atomic<std::size_t> upToDate{0};
  std::atomic<std::size_t> failed{0};
  std::atomic<std::size_t> failedBefore{0};
  std::atomic<bool> ioError{false};
  std::atomic<std::size_t> done{0};
};

struct Places {
  fs::path thumbnails;  // the size's folder
  fs::path failures;    // fail/kezthumb-<version>
};

// A 1x1 transparent PNG with the entry's text: the fail marker.
bool WriteFailMarker(const fs::path& path, const std::vector<PngText>& text, std::string* error) {
  const std::uint8_t clear[4] = {0, 0, 0, 0};
  std::vector<std::uint8_t> png;
  return EncodePng(clear, 1, 1, text, &png, error) && WriteFileAtomically(path, png, true, error);
}

// What one worker thread keeps from document to document: its COM objects,
// and the PNG's bytes, so a long run does not fault in fresh pages for each.
struct Worker {
  ThumbnailRoad road;
  std::vector<std::uint8_t> png;
};

void Process(const FoundDocument& document, const CacheRequest& request, const Places& places, Worker& worker,
             Tally& tally, Console& console) {
  FileStamp stamp;
  std::string error;
  if (!StatFile(document.path, &stamp, &error)) {
    console.Message(Say(document.path, error));
    tally.failed++;
    tally.ioError = true;
    return;
  }
  const std::string uri = FileUri(document.path.string());
  if (uri.empty()) {  // the walk gives absolute paths; this is the last line
    console.Message(Say(document.path, "no file URI for this path"));
    tally.failed++;
    tally.ioError = true;
    return;
  }
  const std::string name = CacheFileName(uri);
  const fs::path thumbnail = places.thumbnails / name;
  const fs::path marker = places.failures / name;
  if (EntryIsCurrent(ReadPngText(thumbnail), uri, stamp)) {
    tally.upToDate++;
    return;
  }
  if (EntryIsCurrent(ReadPngText(marker), uri, stamp)) {
    tally.failed++;
    tally.failedBefore++;
    return;
  }

  const RoadResult result = worker.road.Make(document.path, request.size);
  ForgetServerNotices();
  const auto text = CacheEntryText(uri, stamp, MimeType(result.format));
  std::error_code ignored;
  switch (result.status) {
    case RoadStatus::kThumbnail: {
      if (!EncodePng(result.rgba.data(), result.size, result.size, text, &worker.png, &error) ||
          !WriteFileAtomically(thumbnail, worker.png, true, &error)) {
        console.Message(Say(thumbnail, "cannot write: " + error));
        tally.failed++;
        tally.ioError = true;
        return;
      }
      fs::remove(marker, ignored);  // the document has a thumbnail now
      tally.written++;
      return;
    }
    case RoadStatus::kNoThumbnail:
      console.Message(Say(document.path, result.reason));
      tally.failed++;
      // An older thumbnail shows a picture the document no longer has.
      fs::remove(thumbnail, ignored);
      if (!WriteFailMarker(marker, text, &error)) {
        console.Message(Say(marker, "cannot write: " + error));
        tally.ioError = true;
      }
      return;
    case RoadStatus::kError:
      // Possibly passing (a file being replaced, memory): no fail marker.
      console.Message(Say(document.path, result.reason));
      tally.failed++;
      tally.ioError = true;
      return;
  }
}

}  // namespace

std::vector<FoundDocument> FindDocuments(const std::vector<std::string>& paths, Console& console,
                                         CacheOutcome* outcome) {
  std::vector<FoundDocument> found;
  std::set<fs::path> seen;
  // Sniffs one file; `named` files that are not documents are complained about.
  const auto consider = [&](const fs::path& path, bool named) {
    std::error_code code;
    const fs::path absolute = fs::absolute(path, code).lexically_normal();
    if (code) {
      console.Message(Say(path, code.message()));
      outcome->ioError = true;
      return;
    }
    if (seen.count(absolute) != 0) return;
    std::uint8_t head[kSniffBytes];
    std::size_t got = 0;
    std::string error;
    if (!ReadFileHead(absolute, head, sizeof head, &got, &error)) {
      console.Message(Say(path, error));
      outcome->ioError = true;
      return;
    }
    const DocumentFormat format = SniffFormat(head, got);
    if (format == DocumentFormat::kUnknown) {
      if (named) {
        console.Message(Say(path, UnsupportedReason(format, head, got)));
        outcome->counts.failed++;
      }
      return;
    }
    seen.insert(absolute);
    found.push_back({absolute, format});
  };

  for (const std::string& arg : paths) {
    const fs::path path(arg);
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (code || !fs::exists(status)) {
      console.Message(Say(path, code && code != std::errc::no_such_file_or_directory ? code.message()
                                                                                       : "No such file or directory"));
      outcome->ioError = true;
      continue;
    }
    if (!fs::is_directory(status)) {
      consider(path, true);
      continue;
    }
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, code);
    for (; !code && it != fs::recursive_directory_iterator(); it.increment(code)) {
      std::error_code entryCode;
      if (it->is_regular_file(entryCode)) consider(it->path(), false);
    }
    if (code) {
      console.Message(Say(path, code.message()));
      outcome->ioError = true;
    }
  }
  return found;
}

CacheOutcome FillCache(const CacheRequest& request, Console& console) {
  const auto start = Clock::now();
  CacheOutcome outcome;
  const CacheFolder* folder = CacheFolderFor(request.size);
  Places places;
  places.thumbnails = request.root / (folder != nullptr ? folder->name : "xx-large");
  places.failures = request.root / "fail" / FailFolderName();
  for (const fs::path& dir : {places.thumbnails, places.failures}) {
    std::string error;
    if (!MakePrivateDirectories(dir, &error)) {
      console.Message("kezthumb: cannot make the cache folder " + error);
      outcome.ioError = true;
      return outcome;
    }
  }

  SilenceServerNotices();
  const std::vector<FoundDocument> documents = FindDocuments(request.paths, console, &outcome);
  Tally tally;
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    Worker worker;
    for (std::size_t i = next++; i < documents.size(); i = next++) {
      Process(documents[i], request, places, worker, tally, console);
      tally.done++;
      finished.notify_one();
    }
  };

  const std::size_t jobs = std::min<std::size_t>(static_cast<std::size_t>(std::max(request.jobs, 1)),
                                                 std::max<std::size_t>(documents.size(), 1));
  std::vector<std::thread> workers;
  for (std::size_t i = 1; i < jobs; ++i) workers.emplace_back(work);
  std::thread last(work);
  const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  while (tally.done.load() < documents.size()) {
    console.Progress(tally.done.load(), documents.size(), elapsed());
    std::unique_lock<std::mutex> lock(mutex);
    finished.wait_for(lock, std::chrono::milliseconds(100));
  }
  last.join();
  for (auto& worker : workers) worker.join();
  if (!documents.empty()) console.Progress(documents.size(), documents.size(), elapsed());
  console.Finish();

  outcome.counts.written = tally.written;
  outcome.counts.upToDate = tally.upToDate;
  outcome.counts.failed += tally.failed;
  outcome.counts.failedBefore = tally.failedBefore;
  outcome.ioError = outcome.ioError || tally.ioError;
  outcome.seconds = elapsed();
  return outcome;
}

}  // namespace kezthumb
