// The progress bar and summary of cache filling. The bar is drawn on a
// terminal only; messages go above it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace kezthumb {

// "12.3 s" below a minute, "2:05" below an hour, then "1:02:05".
std::string FormatDuration(double seconds);

// One line of at most columns - 1 characters, e.g.
// " 42/300 [#####...............]  14%  12.3/s  ETA 0:21"; the bar shrinks or
// goes on narrow terminals, and rate and ETA read "--" until something is done.
std::string FormatProgressLine(std::size_t done, std::size_t total, double elapsedSeconds, int columns);

struct CacheCounts {
  std::size_t written = 0;
  std::size_t upToDate = 0;
  std::size_t failed = 0;        // documents without a thumbnail, this run or before
  std::size_t failedBefore = 0;  // of those, already recorded in the fail folder
};

// "kezthumb: 280 written, 15 up to date, 5 failed (3 recorded before) in 12.3 s"
std::string FormatSummary(const CacheCounts& counts, double elapsedSeconds);

// Serialises what the workers and the bar write to stderr.
class Console {
 public:
  Console(std::FILE* out, bool showBar, int columns) : m_out(out), m_showBar(showBar), m_columns(columns) {}

  // A line of its own, above the bar.
  void Message(const std::string& line);
  // Redraws the bar (nothing when the bar is off).
  void Progress(std::size_t done, std::size_t total, double elapsedSeconds);
  // Takes the bar off the screen.
  void Finish();

 private:
  void EraseBar();

  std::mutex m_mutex;
  std::FILE* m_out;
  bool m_showBar;
  int m_columns;
  std::string m_bar;  // what is on screen now; empty when nothing is
};

}  // namespace kezthumb
