#pragma once
// The command line's view of a run: one line per file as it finishes, a progress bar on a
// terminal, and a summary.

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "batch/batch_view.h"

namespace orvalis {

class ConsoleView : public BatchView {
 public:
  ConsoleView(std::vector<std::string> sources, bool quiet, bool progressBar);

  int RowCount() const override { return static_cast<int>(sources_.size()); }
  std::string RowPath(int row) const override { return sources_[static_cast<size_t>(row)]; }
  void SetRowStatus(int, const std::string&) override {}
  void RowFinished(int row, const RowResult& result) override;
  void SelectRow(int) override {}
  void SetProgress(int) override {}
  void SetSelectedLabel(const std::string&) override {}
  void SetRunning(bool) override {}

  // Reports the files that never finished as "Aborted", then the totals.
  void PrintSummary(double seconds);
  bool AllSucceeded() const;

 private:
  void PrintLine(const std::string& line, FILE* stream);
  void DrawProgress();

  std::vector<std::string> sources_;
  std::vector<RowResult> results_;  // status "" until the row finishes
  bool quiet_;
  bool progressBar_;
  int finished_ = 0;
  mutable std::mutex mutex_;
};

// "a.png", or "a_001.png ... a_012.png (12 files)" for many.
std::string DescribeOutputs(const std::vector<std::string>& outputs);

}  // namespace orvalis
