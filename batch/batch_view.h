#pragma once
// The driver's window onto the list: the main window and the command line both implement it.
// Calls arrive on the driver's worker threads; an implementation hands them to its own thread
// as it needs to.

#include <optional>
#include <string>
#include <vector>

namespace orvalis {

// How a row ended, and the text it shows for it.
enum class RowStatus { Succeed, Failed, Aborted };
inline constexpr char kStatusSucceed[] = "Succeed";
inline constexpr char kStatusFailed[] = "Failed";
inline constexpr char kStatusAborted[] = "Aborted";
constexpr const char* StatusText(RowStatus status) {
  switch (status) {
    case RowStatus::Succeed:
      return kStatusSucceed;
    case RowStatus::Failed:
      return kStatusFailed;
    case RowStatus::Aborted:
      break;
  }
  return kStatusAborted;
}

struct RowResult {
  RowStatus status = RowStatus::Failed;
  std::string reason;                // why it failed, "" otherwise
  std::vector<std::string> outputs;  // files written, in page order
  // The pages they hold: one an image, or every page that went into a merged document.
  int pagesWritten = 0;
  // The pages the document was held to (page_renderer.h: ExpectedPages), when it was.
  std::optional<int> pagesExpected = std::nullopt;
};

class BatchView {
 public:
  virtual ~BatchView() = default;
  virtual int RowCount() const = 0;
  virtual std::string RowPath(int row) const = 0;
  // Progress texts, as the file goes: "Converting." (its row begins), "Converting.." (it
  // renders), "Converting..." (it rendered), "Converting...." (its outputs are done), then the
  // final status.
  virtual void SetRowStatus(int row, const std::string& status) = 0;
  // The row's pages so far: `done` converted (or failed), of `total` when the document's page
  // count is known (a PDF drawn by two interpreters, or any document once its rendering has
  // returned), else 0. Calls come from the threads that convert the pages, so one may arrive
  // after a later one, or after RowFinished: a view keeps the most pages done and ignores the
  // calls of a row that has its result.
  virtual void RowPages(int /*row*/, int /*done*/, int /*total*/) {}
  // The row's outcome, after its final status was set.
  virtual void RowFinished(int row, const RowResult& result) = 0;
  virtual void SelectRow(int row) = 0;
  virtual void SetProgress(int percent) = 0;
  // Start button ("Stop Converting" / "Start Converting") and the controls a run locks.
  virtual void SetRunning(bool running) = 0;
};

}  // namespace orvalis
