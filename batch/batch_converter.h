#pragma once
// BatchConverter: converts every PostScript file of the list. For each row it has the renderer
// write the pages into a private temporary folder, runs one engine job per page (or one job
// for a merged TIFF), reports the row's progress and result through the view, and removes the
// temporary pages on every path.
//
// Limits that hold for the whole run: a time limit per file (rendering and conversion
// together), one disk guard over every file system the run writes to (DiskGuard), and one
// memory budget shared by the running interpreters and the pages being converted
// (MemoryBudget).

#include <atomic>
#include <chrono>
#include <cstdint>
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
#include "batch/page_renderer.h"
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
  int jobs = 1;            // files converted at once
  int timeoutSeconds = 0;  // a rendering that takes longer is stopped; 0 = no limit
  uint64_t memoryBudget = 0;  // bytes shared by the run's interpreters and pages; 0 = 3/4 of the memory available at start
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

  std::vector<RowPlan> PlanRows(int rowCount) const;
  void ConvertRows(const std::vector<RowPlan>& plans);
  RowResult ConvertRow(int row, int rowCount, const RowPlan& plan);
  RenderOutcome RenderPages(const RowPlan& plan, const RowClock& clock,
                            std::unique_ptr<PageFolder>* pageFolder);
  RowResult ConvertPages(const RowPlan& plan, const std::vector<std::string>& pageFiles,
                         const RowClock& clock);
  RowResult ConvertMerged(const RowPlan& plan, const std::vector<std::string>& pageFiles,
                          const RowClock& clock);
  // Waits for the memory one page's conversion needs; an empty share with the reason in
  // `error` when it never fits, or without one when the wait was given up.
  MemoryBudget::Share TakePageMemory(const std::vector<std::string>& pages, const RowClock& clock,
                                     std::string* error);
  uint64_t OutputEstimate(const std::string& page) const;
  void Pause(std::chrono::milliseconds duration) const;
  bool StopRequested() const { return stopRequested_.load() != 0; }

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

  // Made at the start of each run.
  std::unique_ptr<DiskGuard> disk_;
  std::unique_ptr<MemoryBudget> memory_;
  uint64_t interpreterCap_ = 0;
};

}  // namespace orvalis
