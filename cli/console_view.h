#pragma once
// The command line's view of a run: one line per file as it finishes, a progress bar on a
// terminal, a summary, and a report record per file when a report is kept.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch_view.h"
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
  mutable std::mutex mutex_;
};

// "a.png", or "a_001.png ... a_012.png (12 files)" for many.
std::string DescribeOutputs(const std::vector<std::string>& outputs);

// A name or a message as a terminal may show it: control characters (C0, C1 as bytes or as
// UTF-8) and the bidirectional overrides, which would split the line or drive the terminal or
// reorder what follows, each become '?'.
std::string PrintablePath(const std::string& path);

// How many pages an output holds: the frames of a merged TIFF, one for any other image.
int PagesIn(const std::vector<std::string>& outputs);

}  // namespace orvalis
