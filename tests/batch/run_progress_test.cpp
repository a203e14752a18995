#include "batch/run_progress.h"

#include <gtest/gtest.h>

#include <string>

namespace orvalis {
namespace {

using namespace std::chrono_literals;

// Events in order ("p row done total", "f row"), and the run's share after them.
TEST(RunProgress, ShareFollowsThePagesAndNeverFillsBeforeTheLastResult) {
  struct Event {
    char kind;  // 'p' pages, 'f' finished
    int row, done, total;
  };
  const struct {
    const char* name;
    int rows;
    std::vector<Event> events;
    int percent;
  } cases[] = {
      {"nothing yet", 2, {}, 0},
      // A PostScript program's count is not known while it renders: it counts nothing yet.
      {"pages of an unknown count", 1, {{'p', 0, 40, 0}}, 0},
      {"49 of 100 pages of the last file", 2, {{'f', 0, 0, 0}, {'p', 1, 49, 100}}, 74},
      {"every page written, its result not in", 1, {{'p', 0, 100, 100}}, 99},
      {"one row of two", 2, {{'f', 1, 0, 0}}, 50},
      {"all rows", 2, {{'f', 1, 0, 0}, {'f', 0, 0, 0}}, 100},
      // Calls come from several threads: a late one takes nothing back.
      {"late call with fewer pages", 1, {{'p', 0, 30, 60}, {'p', 0, 20, 0}}, 50},
      {"pages after the result", 2, {{'f', 0, 0, 0}, {'p', 0, 1, 90}}, 50},
      {"rows out of range", 1, {{'p', 3, 5, 5}, {'f', -1, 0, 0}}, 0},
  };
  for (const auto& c : cases) {
    RunProgress progress(c.rows);
    for (const Event& e : c.events) {
      if (e.kind == 'p')
        progress.Pages(e.row, e.done, e.total);
      else
        progress.Finished(e.row);
    }
    EXPECT_EQ(progress.Percent(), c.percent) << c.name;
  }
}

TEST(RunProgress, RateAndTimeLeft) {
  const RunProgress::Clock::time_point start{};
  RunProgress progress(2, start);
  EXPECT_FALSE(progress.PagesPerSecond(start + 10s));
  EXPECT_FALSE(progress.TimeLeft(start + 10s));
  // 20 pages in 10 s, a quarter of the run: 30 s left at that pace.
  EXPECT_TRUE(progress.Pages(0, 20, 40));
  EXPECT_FALSE(progress.Pages(0, 20, 40));  // nothing new
  EXPECT_DOUBLE_EQ(*progress.PagesPerSecond(start + 10s), 2.0);
  EXPECT_EQ(*progress.TimeLeft(start + 10s), 30s);
  EXPECT_EQ(progress.PagesDone(), 20);
  progress.Finished(0);
  progress.Finished(1);
  EXPECT_FALSE(progress.TimeLeft(start + 20s));  // over
}

TEST(RunProgress, Texts) {
  EXPECT_EQ(PagesText(0, 87), "");
  EXPECT_EQ(PagesText(12, 87), "page 12 of 87");
  EXPECT_EQ(PagesText(12, 0), "page 12");
  EXPECT_EQ(DurationText(42s), "0:42");
  EXPECT_EQ(DurationText(249s), "4:09");
  EXPECT_EQ(DurationText(3907s), "1:05:07");
}

}  // namespace
}  // namespace orvalis
