#pragma once
// The window converts several files at once but tells the list's story one row at a time, in
// list order: what a row reports waits until every row before it has its result. When the run
// ends, whatever still waits is shown, row by row, and reports pass straight through until the
// next run begins.

#include <functional>
#include <map>
#include <vector>

namespace orvalis {

class RowsInListOrder {
 public:
  using Show = std::function<void()>;

  // A run begins with its first row: the rows after it wait their turn.
  void Begin();
  // A report of `row` that leaves the row in progress.
  void Report(int row, Show show) { Post(row, std::move(show), false); }
  // The row's result: once it is shown, the next row's turn comes.
  void Conclude(int row, Show show) { Post(row, std::move(show), true); }
  // The run is over: everything that waits is shown, in row order.
  void End();

  // The row whose reports are shown as they come; -1 between runs.
  int Turn() const { return running_ ? turn_ : -1; }

 private:
  struct Waiting {
    Show show;
    bool concludes;
  };
  void Post(int row, Show show, bool concludes);
  void ShowWaitingInTurn();

  bool running_ = false;
  int turn_ = 0;
  std::map<int, std::vector<Waiting>> waiting_;
};

}  // namespace orvalis
