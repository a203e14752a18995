#include "batch/run_progress.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace orvalis {

RunProgress::RunProgress(int rows, Clock::time_point start)
    : rows_(static_cast<size_t>(std::max(rows, 0))), start_(start) {}

bool RunProgress::Pages(int row, int done, int total) {
  if (row < 0 || row >= Rows()) return false;
  Row& entry = rows_[static_cast<size_t>(row)];
  if (entry.finished) return false;
  bool changed = false;
  if (done > entry.done) {
    pagesDone_ += done - entry.done;
    entry.done = done;
    changed = true;
  }
  // A count, once known, stays; a later call may come from before it was known.
  if (total > 0 && total != entry.total && total >= entry.done) {
    entry.total = total;
    changed = true;
  }
  return changed;
}

void RunProgress::Finished(int row) {
  if (row < 0 || row >= Rows()) return;
  rows_[static_cast<size_t>(row)].finished = true;
}

double RunProgress::Share() const {
  if (rows_.empty()) return 0;
  double sum = 0;
  bool allFinished = true;
  for (const Row& row : rows_) {
    if (row.finished) {
      sum += 1;
      continue;
    }
    allFinished = false;
    // A file with every page done still has its result (a merged document put in place) to
    // come: it counts a little less than whole.
    if (row.total > 0) sum += std::min(0.999, static_cast<double>(row.done) / row.total);
  }
  if (allFinished) return 1;
  return std::min(sum / static_cast<double>(rows_.size()), 0.999);
}

int RunProgress::Percent() const {
  return static_cast<int>(Share() * 100);
}

std::optional<double> RunProgress::PagesPerSecond(Clock::time_point now) const {
  const std::chrono::duration<double> elapsed = now - start_;
  if (pagesDone_ == 0 || elapsed.count() <= 0) return std::nullopt;
  return static_cast<double>(pagesDone_) / elapsed.count();
}

std::optional<std::chrono::seconds> RunProgress::TimeLeft(Clock::time_point now) const {
  const double share = Share();
  const std::chrono::duration<double> elapsed = now - start_;
  if (share <= 0 || share >= 1 || elapsed.count() <= 0) return std::nullopt;
  return std::chrono::seconds(static_cast<long>(elapsed.count() * (1 - share) / share + 0.5));
}

std::string PagesText(int done, int total) {
  if (done <= 0) return kNoPagesText;
  std::string text = "page " + std::to_string(done);
  if (total > 0) text += " of " + std::to_string(total);
  return text;
}

std::string DurationText(std::chrono::seconds time) {
  const long all = std::max<long>(0, static_cast<long>(time.count()));
  char text[32];
  if (all >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", all / 3600, all / 60 % 60, all % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", all / 60, all % 60);
  }
  return text;
}

}  // namespace orvalis
