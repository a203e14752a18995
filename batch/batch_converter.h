#pragma once
// BatchConverter: converts every PostScript file of the list. For each row it has the renderer
// write the pages into a private temporary folder, runs one engine job per page (or one job
// for a merged TIFF), reports the row's progress and result through the view, and removes the
// temporary pages on every path.

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_view.h"
#include "batch/output_format.h"
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

  std::vector<RowPlan> PlanRows(int rowCount) const;
  void ConvertRows(const std::vector<RowPlan>& plans);
  RowResult ConvertRow(int row, int rowCount, const RowPlan& plan);
  RenderOutcome RenderPages(const RowPlan& plan, const std::string& pageFolder);
  RowResult ConvertPages(const std::vector<std::string>& pageFiles, const std::string& target);
  RowResult ConvertMerged(const RowPlan& plan, const std::string& pageFolder, size_t pageCount,
                          const std::string& target);
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
};

// Every file of `folder` (not folders), in page order: by name, a shorter name first (page
// numbers past 999 have more digits).
std::vector<std::string> CollectPages(const std::string& folder);

}  // namespace orvalis
