#include "progress.h"

#include <algorithm>
#include <cmath>

namespace kezthumb {
namespace {

std::string Printf(const char* format, double a) {
  char text[64];
  std::snprintf(text, sizeof text, format, a);
  return text;
}

}  // namespace

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  if (seconds < 59.95) return Printf("%.1f s", seconds);
  const long long whole = std::llround(seconds);
  char text[48];
  if (whole < 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

std::string FormatProgressLine(std::size_t done, std::size_t total, double elapsedSeconds, int columns) {
  if (total == 0) total = 1;
  done = std::min(done, total);
  const int percent = static_cast<int>(done * 100 / total);
  const std::string count = std::to_string(total);
  std::string counter = std::to_string(done);
  counter = std::string(count.size() - std::min(count.size(), counter.size()), ' ') + counter + "/" + count;

  std::string rate = "--/s";
  std::string eta = "ETA --:--";
  if (done > 0 && elapsedSeconds > 0) {
    const double perSecond = static_cast<double>(done) / elapsedSeconds;
    rate = Printf(perSecond < 99.95 ? "%.1f/s" : "%.0f/s", perSecond);
    const double remaining = static_cast<double>(total - done) / perSecond;
    const long long whole = std::llround(remaining);
    char text[48];
    if (whole < 3600)
      std::snprintf(text, sizeof text, "ETA %lld:%02lld", whole / 60, whole % 60);
    else
      std::snprintf(text, sizeof text, "ETA %lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    eta = text;
  }
  char percentText[8];
  std::snprintf(percentText, sizeof percentText, "%3d%%", percent);

  const std::string tail = std::string(" ") + percentText + "  " + rate + "  " + eta;
  const int room = columns - 1;  // the last column would wrap on some terminals
  // " " counter " [" bar "]" tail
  const int barWidth = room - static_cast<int>(counter.size() + tail.size()) - 4;
  std::string line = " " + counter;
  if (barWidth >= 10) {
    const int filled = static_cast<int>(static_cast<std::size_t>(barWidth) * done / total);
    line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(barWidth - filled), '.') + "]";
  }
  line += tail;
  if (room > 0 && line.size() > static_cast<std::size_t>(room)) line.resize(static_cast<std::size_t>(room));
  return line;
}

std::string FormatSummary(const CacheCounts& counts, double elapsedSeconds) {
  std::string line = "kezthumb: " + std::to_string(counts.written) + " written, " +
                     std::to_string(counts.upToDate) + " up to date, " + std::to_string(counts.failed) + " failed";
  if (counts.failedBefore != 0) line += " (" + std::to_string(counts.failedBefore) + " recorded before)";
  return line + " in " + FormatDuration(elapsedSeconds);
}

void Console::EraseBar() {
  if (m_bar.empty()) return;
  std::fputs("\r\033[K", m_out);
  m_bar.clear();
}

void Console::Message(const std::string& line) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string bar = m_bar;
  EraseBar();
  std::fprintf(m_out, "%s\n", line.c_str());
  if (!bar.empty()) {
    std::fputs(bar.c_str(), m_out);
    m_bar = bar;
  }
  std::fflush(m_out);
}

void Console::Progress(std::size_t done, std::size_t total, double elapsedSeconds) {
  if (!m_showBar) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string bar = FormatProgressLine(done, total, elapsedSeconds, m_columns);
  if (bar == m_bar) return;
  std::fputs("\r", m_out);
  std::fputs(bar.c_str(), m_out);
  if (bar.size() < m_bar.size()) std::fputs("\033[K", m_out);
  m_bar = bar;
  std::fflush(m_out);
}

void Console::Finish() {
  std::lock_guard<std::mutex> lock(m_mutex);
  EraseBar();
  std::fflush(m_out);
}

}  // namespace kezthumb
