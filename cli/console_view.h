#pragma once
// The command line's view of a run: one line per file as it finishes, a progress line on a
// terminal (the run's share by pages, the pages done of each file being converted, the pages
// per second and the time left), a summary, and a report record per file when a report is kept.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch_view.h"
#include "batch/run_progress.h"
#include "cli/run_report.h"

namespace orvalis {

class ConsoleView : public BatchView {
 public:
  ConsoleView(std::vector<std::string> sources, bool quiet, bool progressBar);

  // Every finished file is then also recorded in `report`, with the settings digest given.
  void KeepReport(ReportWriter* report, std::string settingsDigest);
  // Prints and records the files skipped as converted already; call before the run.
  void ShowSkipped(const std::vector<ReportRecord>& skipped);

  int RowCount() const override { return static_cast<int>(sources_.size()); }
  std::string RowPath(int row) const override { return sources_[static_cast<size_t>(row)]; }
  // The first status of a row marks its start: its time, and its source's size and date.
  void SetRowStatus(int row, const std::string& status) override;
  void RowPages(int row, int done, int total) override;
  void RowFinished(int row, const RowResult& result) override;
  void SelectRow(int) override {}
  void SetProgress(int) override {}
  void SetRunning(bool) override {}

  // Reports the files that never finished as "Aborted", then the totals.
  void PrintSummary(double seconds);
  // Every file converted or skipped, and every record written.
  bool AllSucceeded() const;

 private:
  struct RowStart {
    bool started = false;
    std::chrono::steady_clock::time_point time;
    std::optional<FileStamp> stamp;
  };

  void PrintLine(const std::string& line, FILE* stream);
  void DrawProgress();
  // The progress line as it reads now, cut to `columns` characters.
  std::string ProgressLine(size_t columns) const;
  void Record(const ReportRecord& record);

  std::vector<std::string> sources_;
  std::vector<std::optional<RowResult>> results_;  // empty until the row finishes
  std::vector<RowStart> starts_;
  size_t skipped_ = 0;
  ReportWriter* report_ = nullptr;
  std::string settingsDigest_;
  bool reportFailed_ = false;
  bool quiet_;
  bool progressBar_;
  int finished_ = 0;
  RunProgress progress_;
  std::chrono::steady_clock::time_point drawn_{};  // when the progress line was last drawn
  mutable std::mutex mutex_;
};

// "a.png", or "a_001.png ... a_012.png (12 files)" for many.
std::string DescribeOutputs(const std::vector<std::string>& outputs);

// A name or a message as a terminal may show it: control characters (C0, C1 as bytes or as
// UTF-8) and the bidirectional overrides, which would split the line or drive the terminal or
// reorder what follows, each become '?'.
std::string PrintablePath(const std::string& path);

// The progress line a terminal shows (ConsoleView): "[#####     ] 2/5 files, a.ps page 12 of
// 87, 8.4 pages/s, 0:42 left", the running files' names cut to fit, the whole no wider than
// `columns`. `running` holds the rows being converted, in list order.
std::string ProgressLineOf(const RunProgress& progress, const std::vector<std::string>& sources,
                           const std::vector<int>& running, int finished,
                           std::chrono::steady_clock::time_point now, size_t columns);

}  // namespace orvalis
