#pragma once
// PagePipeline: converts the pages of one file while its renderer is still writing them.
//
// A watcher thread looks into the page folder every few milliseconds. Each page that is
// complete (page_files.h: whole, and the renderer has moved past it) is handed, in page order,
// to one of the file's encoder threads, which converts it and then deletes the page file. A
// conversion first takes a slot of the run's ThreadBudget and then its memory from the run's
// MemoryBudget, so the pages in flight bound both the threads and the memory of the whole run.
//
// The renderer is held (PageRenderer::Pause) while the folder holds `holdAt` page files or
// more, so that the folder never holds many more pages than are in flight. It is held only
// while one of this file's pages is being converted and none waits for memory: a conversion
// that has its memory, or waits for a thread that a running conversion will give back, is sure
// to end, but memory may be held by interpreters, this one among them, that give it back only
// when their rendering ends.
//
// With one encoder the pages are converted strictly one at a time, in page order (a merged TIFF
// appends them to one document).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch/memory_budget.h"
#include "batch/thread_budget.h"

namespace orvalis {

// What converting one page gave.
struct PageOutcome {
  std::string output;     // the file written, "" when none
  std::string error;      // why the page was not converted, "" when it was
  bool endsFile = false;  // the error ends the file: no further page is taken (a full disk)
};

class PagePipeline {
 public:
  struct Setup {
    std::string folder;   // the page folder, ending in '/'
    int encoders = 1;     // pages of this file converted at once
    size_t holdAt = 0;    // page files in the folder at which the renderer is held; 0: never
    bool overlap = true;  // false: pages are taken only once the rendering has returned
    PageSteps steps;      // what the pages go through, for the memory they need
  };
  struct Hooks {
    // Converts one page, on an encoder thread, holding a thread slot and the page's memory.
    std::function<PageOutcome(const std::string& page)> convert;
    // Holds (true) or releases (false) the renderer.
    std::function<void(bool)> holdRenderer;
    // Asked before each page is handed out, on the watcher thread: false takes no more pages
    // (a stop, the file's time run out).
    std::function<bool()> mayTake;
    // Asked before each page handed out is begun, and while it waits for its thread and
    // memory: true drops it (a stop, the file's time run out).
    std::function<bool()> dropWaiting;
    // Called once when a page's outcome ends the file, with its error.
    std::function<void(const std::string&)> fileEnded;
  };

  enum class PageState { Waiting, Converted, Failed, Cut, Dropped };
  struct PageRecord {
    std::string page;
    PageState state = PageState::Waiting;
    PageOutcome outcome;
  };
  struct Summary {
    std::vector<PageRecord> pages;  // every page found, in page order
    size_t leftInFolder = 0;        // complete pages never handed out
    std::string endReason;          // the error that ended the file, "" when none did
    size_t Count(PageState state) const;
    std::vector<std::string> Outputs() const;  // the files written, in page order
  };

  PagePipeline(Setup setup, Hooks hooks, MemoryBudget& memory, ThreadBudget& threads);
  // Drops the pages not begun and waits for the conversions running.
  ~PagePipeline();
  PagePipeline(const PagePipeline&) = delete;
  PagePipeline& operator=(const PagePipeline&) = delete;

  // Starts the encoders and the watcher. Without threads to spare, the pages wait for Finish,
  // which then converts them one at a time on the calling thread.
  void Start();
  // The renderer has returned: every page file is now complete or cut short.
  void RenderingReturned();
  // Waits until every page has been handed out and converted (or dropped), and says how each
  // went. The pipeline is done afterwards.
  Summary Finish();

 private:
  void Watch();
  void Encode();
  // Looks into the folder once: hands out the pages found complete, and holds or releases the
  // renderer. True once nothing is left to hand out.
  bool Look(std::unique_lock<std::mutex>& lock);
  void HoldRenderer(std::unique_lock<std::mutex>& lock, bool hold);
  // Converts the next waiting page (there must be one); the lock is released meanwhile.
  void EncodeNext(std::unique_lock<std::mutex>& lock);
  PageOutcome ConvertWithin(const std::string& page, bool* dropped);
  bool GiveUp() const { return ended_.load() || hooks_.dropWaiting(); }

  const Setup setup_;
  const Hooks hooks_;
  MemoryBudget& memory_;
  ThreadBudget& threads_;

  std::mutex mutex_;
  std::condition_variable changed_;  // a page was handed out or done, or the rendering returned
  bool renderingReturned_ = false;
  bool taking_ = true;  // pages are still handed out
  bool handingOutDone_ = false;
  bool held_ = false;
  bool finished_ = false;
  int busy_ = 0;         // pages taken by an encoder and not yet done
  int memoryWaits_ = 0;  // encoders waiting for the memory of their page
  std::set<std::string> known_;
  std::deque<size_t> waiting_;  // indexes into records_
  std::vector<PageRecord> records_;
  size_t leftInFolder_ = 0;
  std::string endReason_;
  std::atomic<bool> ended_{false};  // a page ended the file, or the pipeline is torn down

  std::vector<std::thread> encoders_;
  std::thread watcher_;
};

}  // namespace orvalis
