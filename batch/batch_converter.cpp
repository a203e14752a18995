#include "batch/batch_converter.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <system_error>

#include "batch/output_folder.h"
#include "platform/file_replace.h"

namespace orvalis {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Watches a rendering from a thread of its own: ends it when the file's time runs out or a
// watched disk fills up, and remembers which of the two happened.
class RenderWatch {
 public:
  RenderWatch(PageRenderer& renderer, int handle, Clock::time_point deadline, DiskGuard& disk) {
    try {
      thread_ = std::thread([this, &renderer, handle, deadline, &disk] {
        std::unique_lock lock(mutex_);
        while (!finished_) {
          if (Clock::now() >= deadline) {
            expired_ = true;
          } else if (std::string reason = disk.Check(); !reason.empty()) {
            diskFull_ = std::move(reason);
          } else {
            done_.wait_for(lock, std::chrono::milliseconds(100));
            continue;
          }
          renderer.Abort(handle);
          return;
        }
      });
    } catch (const std::system_error&) {
      // No thread to spare: the rendering runs unwatched rather than not at all.
    }
  }
  ~RenderWatch() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  bool Expired() {
    std::lock_guard lock(mutex_);
    return expired_;
  }
  std::string DiskFull() {
    std::lock_guard lock(mutex_);
    return diskFull_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  bool expired_ = false;
  std::string diskFull_;
  std::thread thread_;
};

// Hands the heap's free pages back to the system. Under AddressSanitizer the heap is the
// sanitizer's own, and glibc's trim would walk arenas it never set up.
void ReturnFreedMemory() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  ::malloc_trim(0);
#endif
}

// The buffers of a page (its picture, the encoder's own: tens of MiB at 150 dpi) are freed and
// taken again for the next page. By default the allocator maps buffers that large afresh each
// time, or hands a freed heap top straight back to the system, and every page then faults its
// memory in and has it zeroed again: several percent of a run's processor time. Kept in the
// heap up to these sizes, they are reused from one page to the next.
void KeepPageBuffersForReuse() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  constexpr int kLargestHeapBuffer = 32 << 20;  // the most glibc allows for this threshold
  constexpr int kFreeHeapKept = 64 << 20;
  ::mallopt(M_MMAP_THRESHOLD, kLargestHeapBuffer);
  ::mallopt(M_TRIM_THRESHOLD, kFreeHeapKept);
#endif
}

// Owns one engine job. The memory a job freed goes back to the system when it ends, before its
// share of the budget does: the allocator would otherwise keep it for the thread that freed it,
// and files converting on other threads would add theirs on top.
struct JobHandle {
  ConverterHandle handle = ConverterCreate();
  ~JobHandle() {
    if (handle != nullptr) Finish();
  }
  // Destroys the job now (a merged TIFF is completed at this point).
  void Finish() {
    ConverterDestroy(handle);
    handle = nullptr;
    ReturnFreedMemory();
  }
};

// The nearest folder of `folder` or above it that exists: where a folder still to be made
// will be.
std::string ExistingAncestor(const std::string& folder) {
  std::error_code ec;
  for (fs::path path = fs::path(folder).lexically_normal(); !path.empty();
       path = path.parent_path()) {
    if (fs::is_directory(path, ec)) return path.string();
    if (path == path.parent_path()) break;
  }
  return "/";
}

// `source` under a name the interpreter takes as it is: itself, or a link to it in the page
// folder (see page_files.h). When no link can be made the renderer is given the source as it
// is and deals with its name itself.
std::string PlainSource(const std::string& source, const std::string& pageFolder) {
  if (IsPlainName(source)) return source;
  const std::string link = pageFolder + kPlainSourceLink;
  std::error_code ec;
  const fs::path target = fs::absolute(source, ec);
  if (!ec) fs::create_symlink(target, link, ec);
  return ec ? source : link;
}

std::string PageCount(size_t pages) {
  return std::to_string(pages) + (pages == 1 ? " page" : " pages");
}

}  // namespace

struct BatchConverter::RowPlan {
  std::string source;
  std::string baseName;
  std::string pageStem;  // what the page files are named after (page_files.h)
  std::string target;    // output folder, ending in '/'
  std::string conflict;  // why the row may not write its outputs, "" when it may
};

struct BatchConverter::RenderOutcome {
  std::string error;  // why the rendering failed or could not begin, "" when it finished cleanly
};

// The file's time limit: rendering and conversion together. The pages complete when it runs
// out may still begin converting for a moment after it; none begins later, so that a file
// ends soon after its time at any number of jobs, whatever its pages still waited for.
struct BatchConverter::RowClock {
  static constexpr std::chrono::seconds kLateStart{1};
  Clock::time_point deadline = Clock::time_point::max();
  int seconds = 0;
  bool Expired() const { return Clock::now() >= deadline; }
  bool PastLateStart() const {
    return deadline != Clock::time_point::max() && Clock::now() >= deadline + kLateStart;
  }
  std::string Reason() const {
    return "The file took longer than " + std::to_string(seconds) + " s and was stopped";
  }
};

// What one row holds while it converts.
struct BatchConverter::RowWork {
  explicit RowWork(const RowPlan& rowPlan) : plan(rowPlan) {}
  ~RowWork() { DiscardMerged(); }
  // A merged document not put in place goes, with its temporary: an older file of its name
  // stays as it was.
  void DiscardMerged() {
    if (merged) ConverterAbandon(merged->handle);
    merged.reset();
  }
  const RowPlan& plan;
  RowClock clock;
  // Pages handed out after the time ran out, and how many may be.
  size_t takenLate = 0;
  size_t lateAllowance = 0;

  // The output folder, made when the first page is converted.
  std::mutex targetMutex;
  bool targetTried = false;
  bool targetReady = false;
  std::string targetError;
  std::vector<std::string> madeFolders;  // the folders it took to make it, deepest first

  // A merged TIFF: its job, which writes the document under a temporary name beside the final
  // one, and the pages that went in.
  std::unique_ptr<JobHandle> merged;
  size_t mergedPages = 0;
};

BatchConverter::BatchConverter(const ConversionSettings& settings, PageRenderer& renderer,
                               BatchView& view, BatchOptions options)
    : settings_(settings),
      renderer_(renderer),
      view_(view),
      options_(options),
      format_(FormatFromType(0)) {}

BatchConverter::~BatchConverter() {
  RequestStop();
  Wait();
}

void BatchConverter::StartOrStop() {
  if (running_.load() != 0) {
    RequestStop();
    return;
  }
  Wait();
  running_ = 1;
  stopRequested_ = 0;
  view_.SetRunning(true);
  try {
    worker_ = std::thread([this] { ConvertAll(); });
  } catch (const std::system_error&) {
    running_ = 0;
    view_.SetRunning(false);
  }
}

// A request made just before the run begins counts too: the run then stops at its first check.
void BatchConverter::RequestStop() {
  stopRequested_ = 1;
  std::lock_guard lock(activeMutex_);
  for (int handle : activeRenders_) renderer_.Abort(handle);
}

void BatchConverter::Wait() {
  if (worker_.joinable()) worker_.join();
}

void BatchConverter::ConvertAll() {
  running_ = 1;
  wasStopped_ = false;
  KeepPageBuffersForReuse();
  view_.SetSelectedLabel("Selected: 1");
  format_ = FormatFromType(settings_.type);
  disk_ = std::make_unique<DiskGuard>();
  memory_ = std::make_unique<MemoryBudget>(options_.memoryBudget != 0 ? options_.memoryBudget
                                                                      : DefaultMemoryBudget());
  threads_ = std::make_unique<ThreadBudget>(options_.threads > 0 ? options_.threads
                                                                 : std::max(options_.jobs, 1));
  const int rowCount = view_.RowCount();
  if (rowCount > 0) ConvertRows(PlanRows(rowCount));
  wasStopped_ = stopRequested_.load() != 0;
  stopRequested_ = 0;
  running_ = 0;
  view_.SetRunning(false);
  view_.SelectRow(0);
}

// Decides every row's output folder before anything is converted. Two different sources whose
// outputs would carry the same names in the same folder would destroy each other's images: the
// later row of the list is refused, whatever order the rows finish in.
std::vector<BatchConverter::RowPlan> BatchConverter::PlanRows(int rowCount) const {
  std::vector<RowPlan> plans(static_cast<size_t>(rowCount));
  std::map<std::pair<std::string, std::string>, std::string> firstSource;
  for (int row = 0; row < rowCount; ++row) {
    RowPlan& plan = plans[static_cast<size_t>(row)];
    plan.source = view_.RowPath(row);
    const fs::path source(plan.source);
    plan.baseName = source.stem().string();
    plan.pageStem = IsPlainName(plan.baseName) ? plan.baseName : kPlainPageStem;
    std::string folder =
        OutputFolder(settings_.mode == 0 ? source.parent_path().string() : settings_.output);
    if (settings_.each == 1) folder += EachFolderName(source) + "/";
    plan.target = folder;

    // The same folder reached by another spelling (a link, "..") is the same folder.
    std::error_code ec;
    const fs::path canonicalSource = fs::weakly_canonical(source, ec);
    const std::string identity = ec ? plan.source : canonicalSource.string();
    const fs::path canonicalFolder = fs::weakly_canonical(folder, ec);
    const std::string key =
        ec ? fs::path(folder).lexically_normal().string() : canonicalFolder.string();
    const auto [it, inserted] = firstSource.try_emplace({key, plan.baseName}, identity);
    if (!inserted && it->second != identity) {
      plan.conflict = "Its images would replace those of " + it->second + " in " + folder +
                      (settings_.each == 1
                           ? "; rename one of the two files, or convert them beside their sources"
                           : "; convert into one folder per file (each source in its own "
                             "sub-folder)");
    }
  }
  return plans;
}

void BatchConverter::ConvertRows(const std::vector<RowPlan>& plans) {
  const int rowCount = static_cast<int>(plans.size());
  std::atomic<int> next{0};
  auto work = [&] {
    for (int row = next++; row < rowCount && !StopRequested(); row = next++) {
      RowResult result;
      // Whatever goes wrong in one file (memory, say) fails that row, not the program.
      try {
        result = ConvertRow(row, rowCount, plans[static_cast<size_t>(row)]);
      } catch (const std::bad_alloc&) {
        result = {kStatusFailed, "Out of memory", {}};
      } catch (const std::exception& e) {
        result = {kStatusFailed, e.what(), {}};
      }
      view_.SetRowStatus(row, result.status);
      view_.RowFinished(row, result);
      if (result.status == kStatusAborted) RequestStop();
    }
  };
  const int workers = std::clamp(options_.jobs, 1, rowCount);
  // Interpreters that may run at once: each is capped to its part of the memory budget.
  interpreterCap_ = memory_->InterpreterCap(workers);
  std::vector<std::thread> helpers;
  for (int i = 1; i < workers; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for: the ones there take every row
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
}

RowResult BatchConverter::ConvertRow(int row, int rowCount, const RowPlan& plan) {
  view_.SelectRow(row);
  view_.SetProgress(100 * (row + 1) / rowCount);
  view_.SetRowStatus(row, "Converting.");
  Pause(options_.pacing.afterFirstDot);
  view_.SetRowStatus(row, "Converting..");
  if (!plan.conflict.empty()) return {kStatusFailed, plan.conflict, {}};

  RowWork work(plan);
  if (options_.timeoutSeconds > 0) {
    work.clock.seconds = options_.timeoutSeconds;
    work.clock.deadline = Clock::now() + std::chrono::seconds(options_.timeoutSeconds);
  }
  // Declared in this order so that the pipeline is done with the page folder before it goes.
  std::unique_ptr<PageFolder> pageFolder;
  std::unique_ptr<PagePipeline> pipeline;
  const RenderOutcome render = RenderPages(work, &pageFolder, &pipeline);
  view_.SetRowStatus(row, "Converting...");
  Pause(options_.pacing.afterRendering);
  if (!pipeline) {
    if (StopRequested()) return {kStatusAborted, "", {}};
    return {kStatusFailed, render.error, {}};
  }

  const PagePipeline::Summary pages = pipeline->Finish();
  RowResult result = Conclude(work, render, pages);
  const bool mergedWentNowhere = Merged() && !render.error.empty();
  if (result.status != kStatusAborted && work.targetReady && !mergedWentNowhere)
    view_.SetRowStatus(row, "Converting....");
  ReleaseTarget(work, Merged() && result.status != kStatusSucceed);
  return result;
}

BatchConverter::RenderOutcome BatchConverter::RenderPages(RowWork& work,
                                                          std::unique_ptr<PageFolder>* pageFolder,
                                                          std::unique_ptr<PagePipeline>* pipeline) {
  const RowPlan& plan = work.plan;
  const RowClock& clock = work.clock;
  // Opened before any folder is made: a renderer that cannot start leaves nothing behind.
  const int handle = renderer_.Open();
  if (handle <= 0) return {"The page renderer could not be started"};
  // Registered while it renders, so that a stop can end it; unregistered and closed on every
  // way out, before the handle is given back.
  struct ActiveRender {
    BatchConverter& self;
    int handle;
    ActiveRender(BatchConverter& owner, int h) : self(owner), handle(h) {
      std::lock_guard lock(self.activeMutex_);
      self.activeRenders_.insert(handle);
      if (self.renderingsSuspended_) self.renderer_.Pause(handle, true);
    }
    ~ActiveRender() {
      {
        std::lock_guard lock(self.activeMutex_);
        self.activeRenders_.erase(handle);
        self.heldRenders_.erase(handle);
      }
      self.renderer_.Close(handle);
    }
  } active(*this, handle);

  // The interpreter's memory cap is its share of the run's budget, held while it renders.
  std::string error;
  const MemoryBudget::Share share = memory_->Take(
      interpreterCap_, [&] { return StopRequested() || clock.Expired(); }, &error);
  if (!share.Granted()) {
    if (!error.empty()) return {"The file cannot be rendered: " + error};
    return {StopRequested() ? "" : clock.Reason()};
  }
  renderer_.SetMemoryLimit(handle, interpreterCap_);

  *pageFolder = PageFolder::Create(&error);
  if (!*pageFolder) return {error};
  const std::string& folder = (*pageFolder)->Path();
  disk_->Watch(folder);
  disk_->Watch(ExistingAncestor(plan.target));
  // Earlier files may have used the room up already.
  if (const std::string full = disk_->Check(); !full.empty())
    return {"The file was not rendered: " + full};
  // A stop that came in before the handle was registered must still end this rendering.
  if (StopRequested()) renderer_.Abort(handle);
  *pipeline = MakePipeline(work, folder, handle);
  (*pipeline)->Start();

  RenderOutcome outcome;
  RenderWatch watch(renderer_, handle, clock.deadline, *disk_);
  const bool ok =
      renderer_.Render(handle, PlainSource(plan.source, folder), PagePattern(folder, plan.pageStem),
                       settings_.xdpi, settings_.ydpi);
  (*pipeline)->RenderingReturned();
  // A rendering that finished just as its time ran out has still finished. One that was
  // stopped by it is a partial rendering: the pages complete by then are kept.
  if (!ok && watch.Expired()) {
    outcome.error = clock.Reason();
  } else if (const std::string full = watch.DiskFull(); !ok && !full.empty()) {
    outcome.error = "The rendering was stopped: " + full;
  } else if (!ok) {
    outcome.error = renderer_.LastError(handle);
    if (outcome.error.empty()) outcome.error = "The interpreter could not render the file";
  }
  return outcome;
}

std::unique_ptr<PagePipeline> BatchConverter::MakePipeline(RowWork& work, const std::string& folder,
                                                           int handle) {
  const bool merged = Merged();
  PagePipeline::Setup setup;
  setup.folder = folder;
  // A merged document takes its pages in page order, one at a time.
  setup.encoders = merged || !options_.overlap ? 1 : threads_->Slots();
  // The pages being converted, the complete one waiting for the next free encoder, and the
  // one being written.
  setup.holdAt = static_cast<size_t>(setup.encoders) + 2;
  setup.overlap = options_.overlap;
  setup.steps.format = merged ? OutputFormat::Tiff : format_.format;
  setup.steps.angle = std::max(settings_.angle, 0);
  if (settings_.resize == 1 && settings_.width > 0 && settings_.height > 0) {
    setup.steps.width = static_cast<uint32_t>(settings_.width);
    setup.steps.height = static_cast<uint32_t>(settings_.height);
  }
  work.lateAllowance = merged ? 0 : setup.holdAt;

  PagePipeline::Hooks hooks;
  if (merged) {
    hooks.convert = [this, &work](const std::string& page) { return AppendMergedPage(work, page); };
  } else {
    hooks.convert = [this, &work](const std::string& page) { return ConvertPageFile(work, page); };
  }
  hooks.holdRenderer = [this, handle](bool hold) { HoldRendering(handle, hold); };
  hooks.mayTake = [this, &work] { return MayTakePage(work); };
  // A page not begun by the end of the file's time is left: a merged document that runs out
  // of time is discarded anyway.
  hooks.dropWaiting = [this, &work, merged] {
    return StopRequested() || (merged ? work.clock.Expired() : work.clock.PastLateStart());
  };
  // Nothing more of the file will be written: its rendering is stopped too.
  hooks.fileEnded = [this, handle](const std::string&) { AbortRendering(handle); };
  return std::make_unique<PagePipeline>(std::move(setup), std::move(hooks), *memory_, *threads_);
}

// Asked before each page is handed out. After the file's time has run out, the pages complete
// by then are still taken, as after any rendering that ended early; they are few, as the
// renderer is held while pages wait, and they are dropped when they cannot begin soon (see
// RowClock). A merged document is whole or nothing: it takes none.
bool BatchConverter::MayTakePage(RowWork& work) {
  if (StopRequested()) return false;
  if (!work.clock.Expired()) return true;
  return !work.clock.PastLateStart() && work.takenLate++ < work.lateAllowance;
}

RowResult BatchConverter::Conclude(RowWork& work, const RenderOutcome& render,
                                   const PagePipeline::Summary& pages) {
  using State = PagePipeline::PageState;
  const std::vector<std::string> outputs = pages.Outputs();
  // A stop keeps the outputs already written, as between two pages.
  if (StopRequested()) return {kStatusAborted, "", outputs};
  // A page whose outcome ended the file (a full disk, say) also stopped the rendering: the
  // rendering's own "stopped" follows from it, and the page's reason is the file's.
  if (!pages.endReason.empty())
    return {kStatusFailed, pages.endReason, Merged() ? std::vector<std::string>{} : outputs};

  const size_t cut = pages.Count(State::Cut);
  const size_t whole = pages.pages.size() - cut + pages.leftInFolder;
  const bool failed = !render.error.empty();
  std::string cutNote;
  if (failed && cut > 0) {
    cutNote = "; " + PageCount(cut) + " cut short by the failure " + (cut == 1 ? "was" : "were") +
              " not converted";
  }
  if (pages.pages.empty() && pages.leftInFolder == 0 && !failed)
    return {kStatusFailed, "The file produced no page", {}};
  if (failed && whole == 0) return {kStatusFailed, render.error + cutNote, {}};
  // Pages left when the file's time ran out.
  const size_t notConverted = pages.leftInFolder + pages.Count(State::Dropped);
  const std::string leftNote = notConverted == 0
                                   ? ""
                                   : "; the " + PageCount(notConverted) + " left " +
                                         (notConverted == 1 ? "was" : "were") + " not converted";

  const std::string mergedOutput = work.plan.target + work.plan.baseName + ".tif";
  if (Merged()) {
    // A merged file replaces an older one only when it holds the whole document.
    if (failed) {
      return {kStatusFailed,
              render.error + cutNote + "; the " + PageCount(whole) +
                  " rendered before the failure went nowhere: " + mergedOutput +
                  " was left as it was",
              {}};
    }
    for (const PagePipeline::PageRecord& record : pages.pages) {
      if (record.state == State::Cut) {
        return {kStatusFailed,
                "The page file " + record.page + " is incomplete; nothing was merged into " +
                    mergedOutput,
                {}};
      }
      if (record.state == State::Failed) {
        return {
            kStatusFailed, record.outcome.error + "; " + mergedOutput + " was left as it was", {}};
      }
    }
    if (notConverted > 0 || work.clock.Expired()) return {kStatusFailed, work.clock.Reason(), {}};
    return FinishMerged(work);
  }

  RowResult result{kStatusSucceed, "", outputs};
  // The first page that failed, in page order, as when the pages are converted one by one.
  std::string firstFailure;
  for (const PagePipeline::PageRecord& record : pages.pages) {
    if (record.state == State::Failed) {
      firstFailure = record.outcome.error;
    } else if (record.state == State::Cut && !failed) {
      firstFailure =
          "The page file " + record.page + " is incomplete: it holds less than its header promises";
    }
    if (!firstFailure.empty()) break;
  }
  if (!firstFailure.empty()) {
    result = {kStatusFailed, firstFailure, outputs};
  } else if (failed) {
    // Pages an interpreter left before it failed are converted, but the file did not convert.
    result = {kStatusFailed, render.error + cutNote + leftNote, outputs};
  } else if (notConverted > 0) {
    result = {kStatusFailed, work.clock.Reason() + leftNote, outputs};
  }
  return result;
}

// Ends the merged document and puts it in place: only when every page went in and the file's
// time did not run out, so an older file of that name stays whenever the row fails.
RowResult BatchConverter::FinishMerged(RowWork& work) {
  const std::string output = work.plan.target + work.plan.baseName + ".tif";
  if (!work.merged) return {kStatusFailed, "Cannot write " + output + ": no page went in", {}};
  if (work.clock.Expired()) return {kStatusFailed, work.clock.Reason(), {}};
  // Completes the document and renames it into place, so that its last write is judged too.
  ConverterFinish(work.merged->handle);
  const std::string error = ConverterGetError(work.merged->handle);
  work.merged->Finish();
  work.merged.reset();
  if (!error.empty()) return {kStatusFailed, error + "; " + output + " was left as it was", {}};
  return {kStatusSucceed, "", {output}};
}

// The most an output of `page` can take on disk: its picture uncompressed, at the size it is
// resized to.
uint64_t BatchConverter::OutputEstimate(const std::string& page) const {
  constexpr uint64_t kHeaders = 64 << 10;
  if (settings_.resize == 1 && settings_.width > 0 && settings_.height > 0) {
    return uint64_t(settings_.width) * uint64_t(settings_.height) * 3 + kHeaders;
  }
  const std::optional<PageFileHeader> header = ReadPageFileHeader(page);
  return (header ? header->DecodedBytes() : 0) + kHeaders;
}

PageOutcome BatchConverter::ConvertPageFile(RowWork& work, const std::string& page) {
  std::string error;
  if (!EnsureTarget(work, &error)) return {"", error, true};
  const std::string output = work.plan.target + work.plan.baseName +
                             PageNumberPart(page, work.plan.pageStem) + format_.extension;
  // Out of disk: the outputs written so far stay, the rest are not written.
  if (const std::string full = disk_->CheckWrite(work.plan.target, OutputEstimate(page));
      !full.empty()) {
    return {"", "Cannot write " + output + ": " + full, true};
  }
  JobHandle job;
  // A page that gets no job is a page not written.
  if (job.handle == nullptr) return {"", "Out of memory", false};
  ConverterSetOption(job.handle, OptOutputPath, output.c_str(), 0);
  ConverterAddFile(job.handle, page.c_str());
  ApplySettings(job.handle, format_.format, settings_);
  RunObserved(job.handle);
  error = ConverterGetError(job.handle);
  if (!error.empty()) return {"", error, false};
  return {output, "", false};
}

// The engine writes the merged document under a temporary name beside the final one, which
// FinishMerged has it put in place.
PageOutcome BatchConverter::AppendMergedPage(RowWork& work, const std::string& page) {
  std::string error;
  if (!EnsureTarget(work, &error)) return {"", error, true};
  const std::string output = work.plan.target + work.plan.baseName + ".tif";
  if (!work.merged) {
    work.merged = std::make_unique<JobHandle>();
    if (work.merged->handle == nullptr) return {"", "Out of memory", true};
    ConverterSetOption(work.merged->handle, OptMultiPagePath, output.c_str(), 0);
    ConverterSetOption(work.merged->handle, OptMultiPage, nullptr, 1);
    ApplySettings(work.merged->handle, OutputFormat::Tiff, settings_);
  }
  if (const std::string full = disk_->CheckWrite(work.plan.target, OutputEstimate(page));
      !full.empty()) {
    return {"", "Cannot write " + output + ": " + full, true};
  }
  ConverterAddFile(work.merged->handle, page.c_str());
  RunObserved(work.merged->handle);
  error = ConverterGetError(work.merged->handle);
  if (error.empty()) {
    ++work.mergedPages;
    return {};
  }
  // A name that cannot take the document (a named pipe, a read-only file) refuses it before
  // any page went in; the refusal says so itself.
  if (work.mergedPages == 0 && (error.starts_with("Cannot write " + Quoted(output) + ": ") ||
                                error.starts_with("Cannot create " + Quoted(output) + ": ")))
    return {"", error, true};
  return {"", error + "; " + output + " was left as it was", true};
}

void BatchConverter::RunObserved(ConverterHandle job) {
  struct Observed {
    const std::function<void(int)>& observer;
    explicit Observed(const std::function<void(int)>& o) : observer(o) {
      if (observer) observer(+1);
    }
    ~Observed() {
      if (observer) observer(-1);
    }
  } observed(options_.conversionObserver);
  ConverterRun(job);
}

bool BatchConverter::EnsureTarget(RowWork& work, std::string* error) {
  std::lock_guard rowLock(work.targetMutex);
  if (!work.targetTried) {
    work.targetTried = true;
    const std::string& target = work.plan.target;
    std::lock_guard lock(foldersMutex_);
    // The folders about to be made, deepest first, so that they can be removed again.
    std::error_code ec;
    for (fs::path path = fs::path(target).lexically_normal();
         !path.empty() && path != path.parent_path() && !fs::exists(path, ec);
         path = path.parent_path()) {
      if (path.filename().empty()) continue;  // the trailing '/'
      work.madeFolders.push_back(path.string());
    }
    fs::create_directories(target, ec);
    std::error_code statError;
    if (!fs::is_directory(target, statError)) {
      work.madeFolders.clear();
      work.targetError = "Cannot create the folder " + target + FolderProblem(target, ec);
    } else {
      ++folderUsers_[target];
      work.targetReady = true;
      disk_->Watch(target);
    }
  }
  *error = work.targetError;
  return work.targetReady;
}

void BatchConverter::ReleaseTarget(RowWork& work, bool removeMade) {
  if (!work.targetReady) return;
  work.DiscardMerged();
  std::lock_guard lock(foldersMutex_);
  const auto it = folderUsers_.find(work.plan.target);
  if (it == folderUsers_.end() || --it->second > 0) return;
  folderUsers_.erase(it);
  if (!removeMade) return;
  std::error_code ec;
  for (const std::string& folder : work.madeFolders) {
    if (!fs::remove(folder, ec)) break;  // not empty: what is in it stays, and so do its parents
  }
}

void BatchConverter::AbortRendering(int handle) {
  std::lock_guard lock(activeMutex_);
  if (activeRenders_.count(handle) != 0) renderer_.Abort(handle);
}

void BatchConverter::HoldRendering(int handle, bool hold) {
  std::lock_guard lock(activeMutex_);
  if (activeRenders_.count(handle) == 0) return;
  if (hold) {
    heldRenders_.insert(handle);
  } else {
    heldRenders_.erase(handle);
  }
  if (!renderingsSuspended_) renderer_.Pause(handle, hold);
}

void BatchConverter::SuspendRenderings(bool suspended) {
  std::lock_guard lock(activeMutex_);
  renderingsSuspended_ = suspended;
  for (int handle : activeRenders_) {
    if (heldRenders_.count(handle) == 0) renderer_.Pause(handle, suspended);
  }
}

bool BatchConverter::Merged() const {
  return format_.format == OutputFormat::Tiff && settings_.multpage == 1;
}

void BatchConverter::ApplySettings(ConverterHandle job, OutputFormat format,
                                   const ConversionSettings& settings) {
  const OutputFormatInfo& info = InfoOf(format);
  if (settings.resize == 1) {
    ConverterSetOption(job, OptWidth, nullptr, settings.width);
    ConverterSetOption(job, OptHeight, nullptr, settings.height);
  }
  if (settings.angle > 0) ConverterSetOption(job, OptAngle, nullptr, settings.angle);
  ConverterSetOption(job, OptXDpi, nullptr, settings.xdpi);
  ConverterSetOption(job, OptYDpi, nullptr, settings.ydpi);
  ConverterSetOption(job, OptFormat, nullptr, NumberOf(format));
  if (format == OutputFormat::Tiff)
    ConverterSetOption(job, OptCompression, nullptr, EngineCompressionCode(settings.compress));
  if (!info.qualityKey.empty())
    ConverterSetOption(job, OptQuality, nullptr,
                       SettingNumber(settings, info.qualityKey).value_or(0));
  const ColorOptions color = ColorOptionsFor(
      info.colorKey.empty() ? "" : SettingText(settings, info.colorKey).value_or(""));
  if (color.grayscale) ConverterSetOption(job, OptGrayscale, nullptr, 1);
  ConverterSetOption(job, OptBitDepth, nullptr, color.bitDepth);
}

void BatchConverter::Pause(std::chrono::milliseconds duration) const {
  if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

}  // namespace orvalis
