#pragma once
// FileConversion: one file of the list, from its rendering to its row's result.
//
// The row's thread opens a renderer, takes the interpreter's share of the run's memory, makes
// a private page folder and renders the file into it. Each page the renderer finishes (it
// reports them, or, for a renderer that cannot, the run's watch finds them by the completeness
// rule of page_files.h) goes into the file's PageSchedule, which decides what happens to it:
// the page takes its memory and is converted on one of the run's pool threads, and its file is
// removed once done with. Run returns as soon as the rendering has returned, so that the row's
// thread can render the next file while the last pages of this one are converted; the row's
// result is reported when its last page is done, on whichever thread finished it.
//
// A PDF document may be drawn by two interpreters at once, when the run has one to spare: the
// row's thread renders its first half, a thread of the file's own the rest, into a folder of
// its own. PDF pages do not depend on one another, but a damaged document may still give fewer
// pages than it counts: the second half's pages are held back until the first half has come
// out with every one of its pages, and are dropped otherwise; the document is then drawn once
// more by one interpreter, whose pages up to those already taken are removed unconverted.
//
// One mutex guards the file's state; holding or ending the renderer happens under it, so that
// those calls reach the renderer in the order they were decided. Nothing else is called with it
// held: page conversions, memory shares given back and the row's result all happen outside it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>

#include "batch/batch_options.h"
#include "batch/batch_view.h"
#include "batch/disk_guard.h"
#include "batch/memory_budget.h"
#include "batch/output_folder.h"
#include "batch/page_folder.h"
#include "batch/page_renderer.h"
#include "batch/page_schedule.h"
#include "batch/run_watch.h"
#include "batch/work_pool.h"
#include "engine/converter.h"
#include "engine/output_formats.h"
#include "platform/file_descriptor.h"
#include "settings/conversion_settings.h"

namespace orvalis {

// The renderer handles a run has rendering, and which of them are held: a stop ends them all,
// and Ctrl+Z stops them all until the program goes on.
class Renderings {
 public:
  explicit Renderings(PageRenderer& renderer) : renderer_(renderer) {}
  void Add(int handle);
  void Remove(int handle);
  void Abort(int handle);
  void AbortAll();
  // Holds (or lets go) the rendering of `handle` while its pages wait.
  void Hold(int handle, bool hold);
  // Stops every rendering, and those that start meanwhile, until called with false; a
  // rendering held for its pages stays held.
  void Suspend(bool suspended);
  // Renderings ended so far.
  uint64_t Endings();
  // Waits, while `handle` found no process, until another rendering has ended since `since`
  // (Endings, taken before the attempt that found no process): true then, at once when one
  // ended meanwhile; false at once when no other one has a process (every other one waits too,
  // or none runs), as soon as that becomes so, or when `stop` is requested meanwhile.
  bool WaitForAnotherToEnd(int handle, uint64_t since, std::stop_token stop);

 private:
  bool OthersHaveProcesses(int handle) const;

  PageRenderer& renderer_;
  std::mutex mutex_;
  std::condition_variable_any ended_;
  uint64_t endings_ = 0;  // renderings ended so far
  std::set<int> active_;
  std::set<int> held_;
  std::set<int> waiting_;  // handles waiting for a process
  bool suspended_ = false;
};

// Where one row's pages go.
struct RowPlan {
  std::string source;
  std::string baseName;
  std::string pageStem;  // what the page files are named after (page_files.h)
  std::string target;    // output folder, ending in '/'
  std::string conflict;  // why the row may not write its outputs, "" when it may
};

// What every file of a run shares, made at the start of the run. The pool and the watch come
// last, so that their threads end before anything their calls use.
struct RunShared {
  RunShared(const ConversionSettings& runSettings, PageRenderer& pageRenderer, BatchView& batchView,
            const BatchOptions& batchOptions, Renderings& runRenderings, int jobs, int threads,
            int rows);
  bool Merged() const;

  const ConversionSettings settings;  // the run's own copy
  const FormatChoice format;
  PageRenderer& renderer;
  BatchView& view;
  const BatchOptions& options;
  Renderings& renderings;
  DiskGuard disk;
  MemoryBudget memory;
  const uint64_t interpreterCap;  // each interpreter's share of the memory
  std::atomic<int> rowsLeft;      // rows whose result has not been reported yet
  OutputFolders folders;
  std::stop_source stop;
  WorkPool pool;
  RunWatch watch;
};

class FileConversion : public std::enable_shared_from_this<FileConversion> {
 public:
  using Concluded = std::function<void(int row, const RowResult& result)>;
  FileConversion(RunShared& run, const RowPlan& plan, int row, Concluded concluded);
  ~FileConversion();
  FileConversion(const FileConversion&) = delete;
  FileConversion& operator=(const FileConversion&) = delete;

  // On the row's thread: shows the row's progress and renders the file while its pages are
  // converted. Returns once the rendering has returned (or could not begin).
  void Run(int rowCount);
  // Waits until the row's result has been reported.
  void WaitConcluded();

 private:
  struct MergedDocument;
  class ActiveRender;
  using Part = PageSchedule::Part;
  // How a rendering went: whether it succeeded, and what the renderer said of it (why it
  // failed, or what it reported while it went on).
  struct Rendered {
    bool ok = false;
    std::string said;
    std::optional<int> expected;  // the pages it was held to (PageRenderer::ExpectedPages)
  };

  // The rendering, on the row's thread; the reason when it failed or could not begin.
  std::string Render();
  std::string RenderInto(int handle);
  struct PageRange {
    int first;
    int last;
  };

  // `pages` of `source` (every page when nullopt) by the renderer of `handle`, into `folder`.
  Rendered RenderPages(int handle, const std::string& source, const std::string& folder,
                       std::optional<PageRange> pages = std::nullopt);
  // The pages of the document when it is to be drawn in two parts, else 0; the second
  // interpreter's memory goes into `share`.
  int PagesToDrawInParts(int handle, const std::string& source, const std::string& folder,
                         MemoryBudget::Share& share);
  Rendered RenderInParts(int handle, const std::string& source, const std::string& folder,
                         int pages, MemoryBudget::Share secondShare);
  Rendered RenderAgain(int handle, const std::string& source, const std::string& folder, int taken);
  void RenderingReturned(const std::string& error);
  // Tells the view the row's pages done so far; with no lock held.
  void ShowPages();

  // Events, from any thread.
  void PageFinished(const std::string& page, Part part = Part::First);
  void LookIntoFolder(bool renderingReturned);
  void Stop();
  void TimeUp();
  void LateStartOver();
  void CheckDisk();

  // Carries out what the schedule decided: the renderer's part under the lock, the rest after.
  void Carry(std::unique_lock<std::mutex>& lock, PageSchedule::Actions actions);
  void Launch(size_t index);
  void MemoryGranted(size_t index, MemoryBudget::Share share);
  void ConvertTask(size_t index, const std::shared_ptr<MemoryBudget::Share>& share);
  PageOutcome Convert(const std::string& page);
  PageOutcome ConvertPageFile(const std::string& page);
  PageOutcome AppendMergedPage(const std::string& page);
  void Conclude();
  RowResult PutMergedInPlace();
  bool EnsureTarget(std::string* error);
  void HoldTarget();
  // Where the engine writes `name`.
  std::string WritePath(const std::string& name) const;
  // `text` with the files made for this one (its page folder, its pages, the link or copy the
  // interpreter reads, the output folder's descriptor) named as the user knows them.
  std::string Shown(std::string text) const;
  uint64_t PictureBytes(const std::string& page) const;
  uint64_t OutputEstimate(const std::string& page) const;
  // Takes what the output `written` of `page` took into the estimate of the pages after it.
  void LearnOutputSize(const std::string& page, const std::string& written);
  uint64_t ConversionEstimate(const std::string& page) const;
  std::string TimeReason() const;
  bool TimeIsUp() const;

  RunShared& run_;
  const RowPlan plan_;
  const int row_;
  const Concluded concluded_;
  const bool merged_;
  const PageSteps steps_;
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
  std::atomic<bool> timeRanOut_{false};  // TimeUp came (from the watch, or a test's time keeper)

  std::mutex mutex_;
  std::condition_variable concludedChanged_;
  PageSchedule schedule_;
  int handle_ = 0;        // the renderer handle while it renders, else 0
  int secondHandle_ = 0;  // that of a second part's renderer while it renders, else 0
  std::unique_ptr<PageFolder> pageFolder_;
  // Its path, kept once the folder is gone: set by the row's thread before any page exists.
  std::string pageFolderPath_;
  std::string diskFull_;      // why the watch ended the rendering, "" when it did not
  bool endedByTime_ = false;  // the file's time ended the rendering
  std::string renderError_;
  std::string renderNotes_;           // what the renderer said of a rendering that finished
  std::optional<int> pagesExpected_;  // the pages the rendering was held to, when it was
  size_t pagesCounted_ = 0;           // the document's pages counted before it renders, or 0
  bool isConcluded_ = false;
  std::stop_source fileStop_;  // a stop or the file's time: wakes the wait for memory
  using StopCallback = std::stop_callback<std::function<void()>>;
  std::unique_ptr<StopCallback> onStop_;
  RunWatch::Id deadlineWatch_ = 0;
  RunWatch::Id lateStartWatch_ = 0;

  // The output folder, made when the first page is converted.
  std::mutex targetMutex_;
  bool targetTried_ = false;
  OutputFolders::Use target_;
  FileDescriptor targetFolder_;  // the output folder, held open once made
  std::string writeFolder_;      // "/proc/self/fd/N/" for it, "" to write by its name

  std::unique_ptr<MergedDocument> mergedDocument_;
  // The largest share of its picture an output of this file took on disk beyond its headers,
  // in 1/65536ths, plus one; 0 until one is written.
  std::atomic<uint64_t> largestShare_{0};
};

}  // namespace orvalis
