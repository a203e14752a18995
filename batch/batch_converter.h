#pragma once
// BatchConverter: converts every PostScript file of the list. For each row it has the renderer
// write the pages into a private temporary folder and converts each page as soon as it is
// complete, while the renderer goes on with the next (PagePipeline): one engine job per page,
// several pages at once, or one job for a merged TIFF that takes the pages in page order. It
// reports the row's progress and result through the view, deletes each page file once it is
// converted, and removes the temporary folder on every path.
//
// Pages of all the files being converted share one ThreadBudget, so that --jobs files at once
// never run more page conversions than the budget has threads. A file is always rendered by
// one interpreter: a PostScript file is a program, and two runs of it need not agree on its
// pages (page counters, copies, clocks), so no page of one run may be mixed with another's.
//
// Limits that hold for the whole run: a time limit per file (rendering and conversion
// together), one disk guard over every file system the run writes to (DiskGuard), and one
// memory budget shared by the running interpreters and the pages being converted
// (MemoryBudget).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_view.h"
#include "batch/disk_guard.h"
#include "batch/memory_budget.h"
#include "batch/output_format.h"
#include "batch/page_files.h"
#include "batch/page_folder.h"
#include "batch/page_pipeline.h"
#include "batch/page_renderer.h"
#include "batch/thread_budget.h"
#include "engine/converter.h"
#include "ui/settings/conversion_settings.h"

namespace orvalis {

// The window shows each row's progress texts for a moment; the command line does not wait.
struct BatchPacing {
  std::chrono::milliseconds afterFirstDot{500};
  std::chrono::milliseconds afterRendering{300};
};
inline constexpr BatchPacing kWindowPacing{};
inline constexpr BatchPacing kNoPacing{std::chrono::milliseconds(0), std::chrono::milliseconds(0)};

struct BatchOptions {
  BatchPacing pacing = kWindowPacing;
  int jobs = 1;  // files converted at once
  // Pages converted at once, all files together; 0: as many as `jobs` (the command line's
  // --jobs, one per processor unless given), so that --jobs 1 keeps to one conversion thread.
  int threads = 0;
  // Pages are converted while the renderer writes the next ones. Off: a file's pages are
  // converted once it has rendered, one at a time in page order (the plain path, which gives
  // the same files).
  bool overlap = true;
  // A file that takes longer, rendering and conversion together, is stopped; 0 = no limit.
  int timeoutSeconds = 0;
  uint64_t memoryBudget = 0;  // bytes shared by the run's interpreters and pages; 0 = 3/4 of the
                              // memory available at start
  // Called with +1 as each page conversion begins and -1 as it ends, on the converting thread.
  std::function<void(int)> conversionObserver;
};

class BatchConverter {
 public:
  BatchConverter(const ConversionSettings& settings, PageRenderer& renderer, BatchView& view,
                 BatchOptions options = {});
  ~BatchConverter();
  BatchConverter(const BatchConverter&) = delete;
  BatchConverter& operator=(const BatchConverter&) = delete;

  // The Start/Stop click: starts a run on a worker thread, or asks the running one to stop.
  void StartOrStop();
  // Asks the run to stop at its next check and ends the renderings in progress at once.
  void RequestStop();
  bool IsRunning() const { return running_.load() != 0; }
  // Stops every running interpreter, and those that start meanwhile, until called again with
  // false (the program itself is being stopped and continued: Ctrl+Z, then fg). An interpreter
  // held for its pages stays held.
  void SuspendRenderings(bool suspended);
  // Waits for the worker thread started by StartOrStop.
  void Wait();

  // The run itself, on the calling thread: every row, then the idle state again.
  void ConvertAll();

  // True when the last run ended because of a stop request.
  bool WasStopped() const { return wasStopped_.load(); }

  // Sets every engine option of a job from the settings, for the given output format.
  static void ApplySettings(ConverterHandle job, OutputFormat format,
                            const ConversionSettings& settings);

 private:
  struct RowPlan;
  struct RenderOutcome;
  struct RowClock;
  struct RowWork;

  std::vector<RowPlan> PlanRows(int rowCount) const;
  void ConvertRows(const std::vector<RowPlan>& plans);
  RowResult ConvertRow(int row, int rowCount, const RowPlan& plan);
  // Renders the file while `pipeline` (made here once the page folder exists) converts its
  // pages.
  RenderOutcome RenderPages(RowWork& work, std::unique_ptr<PageFolder>* pageFolder,
                            std::unique_ptr<PagePipeline>* pipeline);
  std::unique_ptr<PagePipeline> MakePipeline(RowWork& work, const std::string& folder, int handle);
  // The row's result once every page is done.
  RowResult Conclude(RowWork& work, const RenderOutcome& render,
                     const PagePipeline::Summary& pages);
  RowResult FinishMerged(RowWork& work);
  bool MayTakePage(RowWork& work);
  // One page into its own output file, or appended to the row's merged TIFF.
  PageOutcome ConvertPageFile(RowWork& work, const std::string& page);
  PageOutcome AppendMergedPage(RowWork& work, const std::string& page);
  // Makes the row's output folder (once); false with the reason when it cannot be made.
  bool EnsureTarget(RowWork& work, std::string* error);
  // The row is done with its output folder; the folders it made are removed again when
  // `removeMade` and they are empty and no other row uses them.
  void ReleaseTarget(RowWork& work, bool removeMade);
  void RunObserved(ConverterHandle job);
  // Ends the rendering of `handle` when it still runs.
  void AbortRendering(int handle);
  void HoldRendering(int handle, bool hold);
  uint64_t OutputEstimate(const std::string& page) const;
  void Pause(std::chrono::milliseconds duration) const;
  bool StopRequested() const { return stopRequested_.load() != 0; }
  bool Merged() const;

  const ConversionSettings& settings_;
  PageRenderer& renderer_;
  BatchView& view_;
  BatchOptions options_;
  FormatChoice format_;

  std::atomic<int> running_{0};
  std::atomic<int> stopRequested_{0};
  std::atomic<bool> wasStopped_{false};
  std::thread worker_;

  std::mutex activeMutex_;
  std::set<int> activeRenders_;  // renderer handles that a stop must end
  std::set<int> heldRenders_;    // those held while their pages wait
  bool renderingsSuspended_ = false;

  // Made at the start of each run.
  std::unique_ptr<DiskGuard> disk_;
  std::unique_ptr<MemoryBudget> memory_;
  uint64_t interpreterCap_ = 0;
  std::unique_ptr<ThreadBudget> threads_;

  // Output folders in use by rows, and how many rows use each.
  std::mutex foldersMutex_;
  std::map<std::string, int> folderUsers_;
};

}  // namespace orvalis
