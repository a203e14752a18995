#pragma once
// RunProgress: how far a run has come, from what the driver tells its view (BatchView::RowPages
// and RowFinished), for the bars, titles and estimates the views draw. No threads of its own and
// no lock: a view calls it under its own lock, or on its one thread.
//
// Every file of the list weighs the same. A file that has its result counts whole; a file
// being converted counts the share of its pages done once its page count is known, and nothing
// before (a PostScript program's pages are whatever it prints: its count is known only when
// its rendering has returned). So the share never reaches 100 % before the last file has its
// result, that is, before its last page is written.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orvalis {

class RunProgress {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RunProgress(int rows = 0, Clock::time_point start = Clock::now());

  // The row's pages: the most done so far is kept, and a row that has its result keeps it.
  // False when the call changed nothing (late, or for a row that has its result).
  bool Pages(int row, int done, int total);
  void Finished(int row);

  struct Row {
    int done = 0;
    int total = 0;  // 0: not known yet
    bool finished = false;
  };
  const Row& RowAt(int row) const { return rows_[static_cast<size_t>(row)]; }
  int Rows() const { return static_cast<int>(rows_.size()); }

  // The run's share done, from 0 to 1; 1 only once every row has its result.
  double Share() const;
  // The same in whole percent, rounded down.
  int Percent() const;
  // Pages done in the whole run.
  long PagesDone() const { return pagesDone_; }
  // Pages done per second since the start; nullopt before the first page.
  std::optional<double> PagesPerSecond(Clock::time_point now = Clock::now()) const;
  // The time left at the pace so far; nullopt while nothing of a known size is done.
  std::optional<std::chrono::seconds> TimeLeft(Clock::time_point now = Clock::now()) const;

 private:
  std::vector<Row> rows_;
  Clock::time_point start_;
  long pagesDone_ = 0;
};

// "page 12 of 87", or "page 12" while the count is not known; "" before the first page.
inline constexpr char kNoPagesText[] = "";
std::string PagesText(int done, int total);

// "1:05:07", "4:09", "0:42".
std::string DurationText(std::chrono::seconds time);

}  // namespace orvalis
