#pragma once
// BatchConverter: converts every PostScript file of the list. A run has `jobs` row threads,
// each taking the next row of the list: it renders the file into a private temporary folder
// while the run's pool converts each page the renderer finishes (FileConversion), and goes on
// to the next row as soon as the rendering has returned, while the last pages are converted.
// Every file is rendered by one interpreter: a PostScript file is a program, and two runs of
// it need not agree on its pages (page counters, copies, clocks), so no page of one run may be
// mixed with another's.
//
// Limits that hold for the whole run: a time limit per file (rendering and conversion
// together), one disk guard over every file system the run writes to (DiskGuard), and one
// memory budget shared by the running interpreters and the pages being converted
// (MemoryBudget). One stop (std::stop_source) reaches every file at once.

#include <atomic>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_options.h"
#include "batch/batch_view.h"
#include "batch/file_conversion.h"
#include "batch/page_renderer.h"
#include "engine/converter.h"
#include "engine/output_formats.h"
#include "settings/conversion_settings.h"

namespace orvalis {

class BatchConverter {
 public:
  // `settings` is copied when a run starts, on the thread that starts it: the run never looks
  // at it again.
  BatchConverter(const ConversionSettings& settings, PageRenderer& renderer, BatchView& view,
                 BatchOptions options = {});
  ~BatchConverter();
  BatchConverter(const BatchConverter&) = delete;
  BatchConverter& operator=(const BatchConverter&) = delete;

  // The Start/Stop click: starts a run on a worker thread, or asks the running one to stop.
  void StartOrStop();
  // Stops the run: ends the renderings in progress and drops the pages not begun, at once.
  void RequestStop();
  bool IsRunning() const { return running_.load() != 0; }
  // Stops every running interpreter, and those that start meanwhile, until called again with
  // false (the program itself is being stopped and continued: Ctrl+Z, then fg). An interpreter
  // held for its pages stays held.
  void SuspendRenderings(bool suspended) { renderings_.Suspend(suspended); }
  // Waits for the worker thread started by StartOrStop.
  void Wait();

  // The run itself, on the calling thread: every row, then the idle state again.
  void ConvertAll();

  // Sets every engine option of a job from the settings, for the given output format.
  static void ApplySettings(ConverterHandle job, OutputFormat format,
                            const ConversionSettings& settings);

 private:
  void Run(const ConversionSettings& settings);
  std::vector<RowPlan> PlanRows(const ConversionSettings& settings, int rowCount) const;
  void ConvertRows(RunShared& run, const std::vector<RowPlan>& plans);
  void RowConcluded(int row, const RowResult& result);
  bool StopRequested() const { return stopRequested_.load() != 0; }

  const ConversionSettings& settings_;
  PageRenderer& renderer_;
  BatchView& view_;
  const BatchOptions options_;
  Renderings renderings_;

  std::atomic<int> running_{0};
  std::atomic<int> stopRequested_{0};
  std::thread worker_;

  std::mutex stopMutex_;      // guards run_; taken before any file's lock
  RunShared* run_ = nullptr;  // the run in progress
};

}  // namespace orvalis
