#include "ui/window/rows_in_list_order.h"

namespace orvalis {

void RowsInListOrder::Begin() {
  running_ = true;
  turn_ = 0;
  waiting_.clear();
}

void RowsInListOrder::Post(int row, Show show, bool concludes) {
  // Between runs, and for a row whose turn has passed, there is nothing to wait for.
  if (!running_ || row < turn_) {
    show();
    return;
  }
  if (row > turn_) {
    waiting_[row].push_back({std::move(show), concludes});
    return;
  }
  show();
  if (!concludes) return;
  ++turn_;
  ShowWaitingInTurn();
}

// The row now in turn may have reported, even concluded, while it waited; so may the rows after
// it.
void RowsInListOrder::ShowWaitingInTurn() {
  for (auto it = waiting_.find(turn_); it != waiting_.end(); it = waiting_.find(turn_)) {
    const std::vector<Waiting> reports = std::move(it->second);
    waiting_.erase(it);
    bool concluded = false;
    for (const Waiting& report : reports) {
      report.show();
      concluded = concluded || report.concludes;
    }
    if (!concluded) return;
    ++turn_;
  }
}

void RowsInListOrder::End() {
  running_ = false;
  // A row that never began (the run was stopped first) leaves a gap: the rows after it are shown
  // all the same.
  std::map<int, std::vector<Waiting>> left = std::move(waiting_);
  waiting_.clear();
  for (const auto& [row, reports] : left)
    for (const Waiting& report : reports) report.show();
}

}  // namespace orvalis
