// The progress line, durations, the summary and what the console writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "kezthumb/progress.h"

namespace kezthumb {
namespace {

TEST(FormatDuration, Table) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {{0, "0.0 s"},      {-3, "0.0 s"},       {0.04, "0.0 s"},  {12.34, "12.3 s"},
               {59.94, "59.9 s"}, {59.96, "1:00"},      {125.4, "2:05"},  {3599.4, "59:59"},
               {3600, "1:00:00"}, {3725, "1:02:05"},   {90061, "25:01:01"}};
  for (const auto& c : cases) EXPECT_EQ(FormatDuration(c.seconds), c.text) << c.seconds;
}

struct LineCase {
  std::size_t done, total;
  double elapsed;
  int columns;
  const char* line;
};

class ProgressLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ProgressLine, Exact) {
  const auto& c = GetParam();
  const std::string line = FormatProgressLine(c.done, c.total, c.elapsed, c.columns);
  EXPECT_EQ(line, c.line);
  EXPECT_LT(line.size(), static_cast<std::size_t>(c.columns));  // never wraps
  // With a bar the line takes the whole width but the last column.
  if (line.find('[') != std::string::npos) {
    EXPECT_EQ(line.size(), static_cast<std::size_t>(c.columns - 1));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressLine,
    ::testing::Values(
        // Nothing done yet: no rate, no ETA.
        LineCase{0, 300, 0.5, 60, "   0/300 [..........................]   0%  --/s  ETA --:--"},
        // 42 of 300 in 10 s: 4.2/s, 258 left -> 61.4 s -> 1:01.
        LineCase{42, 300, 10, 60, "  42/300 [###.......................]  14%  4.2/s  ETA 1:01"},
        LineCase{300, 300, 3, 60, " 300/300 [##########################] 100%  100/s  ETA 0:00"},
        // Counts above the total are held at the total.
        LineCase{7, 5, 1, 50, " 5/5 [####################] 100%  5.0/s  ETA 0:00"},
        // Long runs: hours in the ETA.
        LineCase{1, 10000, 2, 70, "     1/10000 [.............................]   0%  0.5/s  ETA 5:33:18"},
        // Narrow terminals lose the bar, then the tail is cut.
        LineCase{5, 10, 1, 40, "  5/10  50%  5.0/s  ETA 0:01"},
        LineCase{5, 10, 1, 20, "  5/10  50%  5.0/s "},
        // A total of 0 counts as 1; at 40 columns the bar still has its 10 cells.
        LineCase{0, 0, 0, 40, " 0/1 [..........]   0%  --/s  ETA --:--"}));

TEST(FormatSummary, Forms) {
  CacheCounts counts;
  counts.written = 280;
  counts.upToDate = 15;
  counts.failed = 5;
  EXPECT_EQ(FormatSummary(counts, 12.34), "kezthumb: 280 written, 15 up to date, 5 failed in 12.3 s");
  counts.failedBefore = 3;
  EXPECT_EQ(FormatSummary(counts, 125), "kezthumb: 280 written, 15 up to date, 5 failed (3 recorded before) in 2:05");
  EXPECT_EQ(FormatSummary(CacheCounts{}, 0), "kezthumb: 0 written, 0 up to date, 0 failed in 0.0 s");
}

// What the console puts on stderr, byte for byte.
std::string Written(bool showBar, void (*script)(Console&)) {
  std::FILE* file = std::tmpfile();
  {
    Console console(file, showBar, 50);
    script(console);
  }
  std::rewind(file);
  std::string out;
  for (int c; (c = std::fgetc(file)) != EOF;) out.push_back(static_cast<char>(c));
  std::fclose(file);
  return out;
}

TEST(Console, WithoutBarOnlyMessages) {
  const std::string out = Written(false, [](Console& console) {
    console.Progress(1, 4, 1);
    console.Message("kezthumb: a.kez: damaged");
    console.Progress(4, 4, 2);
    console.Finish();
  });
  EXPECT_EQ(out, "kezthumb: a.kez: damaged\n");
}

TEST(Console, BarIsErasedForMessagesAndRedrawn) {
  const std::string out = Written(true, [](Console& console) {
    console.Progress(1, 4, 1);
    console.Progress(1, 4, 1);  // unchanged: not drawn again
    console.Message("m");
    console.Progress(4, 4, 2);
    console.Finish();
  });
  const std::string first = FormatProgressLine(1, 4, 1, 50);
  const std::string last = FormatProgressLine(4, 4, 2, 50);
  EXPECT_EQ(out, "\r" + first + "\r\033[Km\n" + first + "\r" + last + "\r\033[K");
}

TEST(Console, MessageWithoutBarOnScreenHasNoEscapes) {
  const std::string out = Written(true, [](Console& console) {
    console.Message("first");
    console.Finish();
  });
  EXPECT_EQ(out, "first\n");
}

}  // namespace
}  // namespace kezthumb
