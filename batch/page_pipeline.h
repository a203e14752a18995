#pragma once
// PagePipeline: converts the pages of one file while its renderers are still writing them.
//
// One renderer writes every page into the page folder; two (or more) share the pages, each
// writing every other page into a part folder of its own (page_files.h: PartFolder). A watcher
// thread looks into the folders every few milliseconds and hands the pages out strictly in
// document order, each once it is complete (page_files.h: whole, and its renderer has moved
// past it), to one of the file's encoder threads, which converts it and then deletes the page
// file. A page taken from a part folder is first renamed into the page folder under its
// document number, so that it is named as a lone renderer would have named it. A conversion
// first takes a slot of the run's ThreadBudget and then its memory from the run's MemoryBudget,
// so the pages in flight bound both the threads and the memory of the whole run.
//
// The renderers are held (PageRenderer::Pause) while the folders hold `holdAt` page files or
// more, so that they never hold many more pages than are in flight. They are held only while
// one of this file's pages is being converted and none waits for memory: a conversion that has
// its memory, or waits for a thread that a running conversion will give back, is sure to end,
// but memory may be held by interpreters, these among them, that give it back only when their
// rendering ends. A renderer that still owes the page everything else waits for is not held.
//
// When a renderer fails, the document ends where it failed, as it would with a lone renderer:
// the pages before that place are converted, the page it cut short is recorded as cut, and the
// other renderers' pages past it are not converted (a renderer that goes on past it is stopped).
//
// With one encoder the pages are converted strictly one at a time, in page order (a merged TIFF
// appends them to one document).

#include <atomic>
#include <climits>
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
    std::string folder;    // the page folder, ending in '/'
    std::string baseName;  // the pages' base name, for the pages of part folders
    int parts = 1;         // renderers sharing the pages, each in PartFolder(folder, part, parts)
    int encoders = 1;      // pages of this file converted at once
    size_t holdAt = 0;     // page files in the folders at which renderers are held; 0: never
    bool overlap = true;   // false: pages are taken only once every rendering has returned
    OutputFormat engineFormat =
        OutputFormat::Bmp;  // what the pages are converted to, for the memory they need
  };
  struct Hooks {
    // Converts one page, on an encoder thread, holding a thread slot and the page's memory.
    std::function<PageOutcome(const std::string& page)> convert;
    // Holds (true) or releases (false) the renderer of a part (counted from 1).
    std::function<void(int part, bool hold)> holdRenderer;
    // Ends the rendering of a part: every page it could still write lies past the place where
    // another part failed.
    std::function<void(int part)> stopRenderer;
    // Asked before each page is handed out, on the watcher thread: false takes no more pages
    // (a stop, the file's time run out).
    std::function<bool()> mayTake;
    // Asked before each page handed out is begun: true drops it (a stop).
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
    std::string renderError;        // the renderer failure the document ended at, "" when none
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
  // The renderer of a part has returned, with `error` when it failed: every page file it wrote
  // is now complete or cut short.
  void PartReturned(int part, std::string error);
  // Every renderer has returned; those that did not say otherwise finished cleanly.
  void RenderingReturned();
  // Waits until every page has been handed out and converted (or dropped), and says how each
  // went. The pipeline is done afterwards.
  Summary Finish();

 private:
  // One renderer's side of the file.
  struct Part {
    std::string folder;
    bool returned = false;           // its rendering has returned
    bool settled = false;            // it had returned when its folder was last read
    std::string error;               // why its rendering failed, "" when it did not
    int failedAt = 0;                // the first of its pages it did not write whole, once failed
    size_t taken = 0;                // its pages handed out or recorded
    std::vector<std::string> files;  // its page files not taken yet, in order, at the last look
    bool held = false;
    bool stopped = false;
  };

  void Watch();
  void Encode();
  // Looks into the folders once: hands out the pages found complete, and holds, releases or
  // stops renderers. True once nothing is left to hand out.
  bool Look(std::unique_lock<std::mutex>& lock);
  // Hands out the pages from nextPage_ on that are ready. True when the document is done: no
  // page is left to hand out, now or later.
  bool HandOut(bool* encodersBusy, int* awaitedPart);
  int OwnerOf(int page) const { return (page - 1) % setup_.parts + 1; }
  int PageOf(int part, size_t ordinal) const {
    return part + static_cast<int>(ordinal - 1) * setup_.parts;
  }
  // Holds the renderers for which `hold` says so, releases the others, and stops those in
  // `stop`; the lock is released meanwhile.
  void SteerRenderers(std::unique_lock<std::mutex>& lock, const std::vector<bool>& hold,
                      const std::vector<int>& stop);
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
  std::vector<Part> parts_;
  int nextPage_ = 1;       // the next page of the document to hand out
  int endPage_ = INT_MAX;  // the first page past the place where a renderer failed
  bool taking_ = true;     // pages are still handed out
  bool handingOutDone_ = false;
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
