#include "batch/file_conversion.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "batch/batch_converter.h"
#include "batch/output_names.h"
#include "batch/page_files.h"
#include "batch/row_verdict.h"
#include "batch/shown_names.h"
#include "batch/source_preparation.h"
#include "platform/file_replace.h"

namespace orvalis {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A page whose time ran out may still begin this long after it; none begins later, so that a
// file ends soon after its time at any number of jobs, whatever its pages still waited for.
constexpr std::chrono::seconds kLateStart{1};
// How often the free space of the run's disks is looked at while a file renders.
constexpr std::chrono::milliseconds kDiskLookInterval{100};
// How often the page folder of a renderer that does not report its pages is looked into. A
// page takes tens of milliseconds to render at the least, so a look every few milliseconds
// finds each page soon after the renderer moves past it.
constexpr std::chrono::milliseconds kFolderLookInterval{5};

// Disk taken by the pages of a second part that wait for the first part to come out: the
// second renderer is held once it has drawn this much ahead, or holdAt pages when that is more.
constexpr uint64_t kSecondPartPileBytes = uint64_t{512} << 20;

// A second interpreter pays only where drawing holds a file back: where converting a page takes
// less than drawing it, by this margin (in eighths of a drawing), on the conversion threads and
// on the processors beside one interpreter. Otherwise it costs its start and the document's
// count, and takes processor time from the conversions.
constexpr uint32_t kSecondInterpreterMarginEighths = 2;

// The processor time converting a page takes beyond drawing it, in eighths of a drawing.
uint32_t ConversionEighthsOf(const RunShared& run) {
  const OutputFormatInfo& info = InfoOf(run.format.format);
  const std::string colour =
      info.colorKey.empty() ? "" : SettingText(run.settings, info.colorKey).value_or("");
  return ConversionEighths(run.format.format, colour, run.settings.compress);
}

// The bytes of a BMP page of A4 or US Letter, whichever is larger, at the run's resolution.
uint64_t LetterPageBytes(const ConversionSettings& settings) {
  const uint64_t width = static_cast<uint64_t>(std::max(settings.xdpi, 1)) * 85 / 10 + 1;
  const uint64_t height = static_cast<uint64_t>(std::max(settings.ydpi, 1)) * 117 / 10 + 1;
  return (width * 3 + 3) / 4 * 4 * height + 54;
}

// What an output's headers, palette and metafile records take at the most beside its picture.
constexpr uint64_t kOutputHeaders = 16 << 10;

// Hands the heap's free pages back to the system. Under AddressSanitizer the heap is the
// sanitizer's own, and glibc's trim would walk arenas it never set up.
void ReturnFreedMemory() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  ::malloc_trim(0);
#endif
}

// Owns one engine job. The memory a job freed goes back to the system when it ends, before its
// share of the budget does: the allocator would otherwise keep it for the thread that freed it,
// and files converting on other threads would add theirs on top.
struct JobHandle {
  ConverterHandle handle = ConverterCreate();
  JobHandle() = default;
  JobHandle(const JobHandle&) = delete;
  JobHandle& operator=(const JobHandle&) = delete;
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

PageSteps StepsOf(const RunShared& run) {
  PageSteps steps;
  const ConversionSettings& settings = run.settings;
  steps.format = run.Merged() ? OutputFormat::Tiff : run.format.format;
  steps.angle = std::max(settings.angle, 0);
  if (settings.resize == 1 && settings.width > 0 && settings.height > 0) {
    steps.width = static_cast<uint32_t>(settings.width);
    steps.height = static_cast<uint32_t>(settings.height);
  }
  return steps;
}

PageSchedule::Limits LimitsOf(const RunShared& run) {
  PageSchedule::Limits limits;
  // A merged document takes its pages in page order, one at a time.
  limits.inFlight = run.Merged() || !run.options.overlap
                        ? 1
                        : static_cast<size_t>(std::max(run.pool.Threads(), 1));
  // The pages being converted, the finished one waiting for the next free thread, and the one
  // being written.
  limits.holdAt = limits.inFlight + 2;
  limits.overlap = run.options.overlap;
  // A merged document that runs out of time is discarded anyway: it takes no page late.
  limits.lateAllowance = run.Merged() ? 0 : limits.holdAt;
  limits.pileAt = std::max<size_t>(
      limits.holdAt, static_cast<size_t>(kSecondPartPileBytes / LetterPageBytes(run.settings)));
  return limits;
}

}  // namespace

// A merged TIFF: its job, which writes the document under a temporary name beside the final
// one, and the pages that went in. One not put in place goes, with its temporary: an older
// file of its name stays as it was.
struct FileConversion::MergedDocument {
  JobHandle job;
  size_t pages = 0;
  ~MergedDocument() {
    if (job.handle != nullptr) ConverterAbandon(job.handle);
  }
};

void Renderings::Add(int handle) {
  std::lock_guard lock(mutex_);
  active_.insert(handle);
  if (suspended_) renderer_.Pause(handle, true);
}

void Renderings::Remove(int handle) {
  {
    std::lock_guard lock(mutex_);
    active_.erase(handle);
    held_.erase(handle);
    waiting_.erase(handle);
    ++endings_;
  }
  ended_.notify_all();
}

uint64_t Renderings::Endings() {
  std::lock_guard lock(mutex_);
  return endings_;
}

bool Renderings::OthersHaveProcesses(int handle) const {
  return std::any_of(active_.begin(), active_.end(), [&](int other) {
    return other != handle && waiting_.count(other) == 0;
  });
}

// Renderings that wait for a process never wait for each other: the last one to find that
// none of the others has one wakes them all, and they fail.
bool Renderings::WaitForAnotherToEnd(int handle, uint64_t since, std::stop_token stop) {
  std::unique_lock lock(mutex_);
  // One that ended while the attempt failed may have given back the process it lacked.
  if (endings_ != since) return true;
  if (!OthersHaveProcesses(handle)) {
    ended_.notify_all();
    return false;
  }
  waiting_.insert(handle);
  const bool ended =
      ended_.wait(lock, stop, [&] { return endings_ != since || !OthersHaveProcesses(handle); });
  waiting_.erase(handle);
  return ended && endings_ != since;
}

void Renderings::Abort(int handle) {
  std::lock_guard lock(mutex_);
  if (active_.count(handle) != 0) renderer_.Abort(handle);
}

void Renderings::AbortAll() {
  std::lock_guard lock(mutex_);
  for (int handle : active_) renderer_.Abort(handle);
}

void Renderings::Hold(int handle, bool hold) {
  std::lock_guard lock(mutex_);
  if (active_.count(handle) == 0) return;
  if (hold) {
    held_.insert(handle);
  } else {
    held_.erase(handle);
  }
  if (!suspended_) renderer_.Pause(handle, hold);
}

void Renderings::Suspend(bool suspended) {
  std::lock_guard lock(mutex_);
  suspended_ = suspended;
  for (int handle : active_) {
    if (held_.count(handle) == 0) renderer_.Pause(handle, suspended);
  }
}

RunShared::RunShared(const ConversionSettings& runSettings, PageRenderer& pageRenderer,
                     BatchView& batchView, const BatchOptions& batchOptions,
                     Renderings& runRenderings, int jobs, int threads, int rows)
    : settings(runSettings),
      format(FormatFromType(runSettings.type)),
      renderer(pageRenderer),
      view(batchView),
      options(batchOptions),
      renderings(runRenderings),
      memory(batchOptions.memoryBudget != 0 ? batchOptions.memoryBudget : DefaultMemoryBudget()),
      interpreterCap(memory.InterpreterCap(jobs)),
      rowsLeft(rows),
      pool(threads) {}

bool RunShared::Merged() const {
  return format.format == OutputFormat::Tiff && settings.multpage == 1;
}

FileConversion::FileConversion(RunShared& run, const RowPlan& plan, int row, Concluded concluded)
    : run_(run),
      plan_(plan),
      row_(row),
      concluded_(std::move(concluded)),
      merged_(run.Merged()),
      steps_(StepsOf(run)),
      schedule_(LimitsOf(run)) {}

FileConversion::~FileConversion() = default;

void FileConversion::Run(int rowCount) {
  BatchView& view = run_.view;
  view.SelectRow(row_);
  view.SetProgress(100 * (row_ + 1) / rowCount);
  view.SetRowStatus(row_, "Converting.");
  view.SetRowStatus(row_, "Converting..");
  if (!plan_.conflict.empty()) {
    {
      std::lock_guard lock(mutex_);
      isConcluded_ = true;
    }
    --run_.rowsLeft;
    concluded_(row_, {RowStatus::Failed, plan_.conflict, {}});
    concludedChanged_.notify_all();
    return;
  }

  const std::shared_ptr<FileConversion> self = shared_from_this();
  if (run_.options.timeoutSeconds > 0 && run_.options.fileTimeKeeper) {
    run_.options.fileTimeKeeper(row_,
                                {[self] { self->TimeUp(); }, [self] { self->LateStartOver(); }});
  } else if (run_.options.timeoutSeconds > 0) {
    deadline_ = Clock::now() + std::chrono::seconds(run_.options.timeoutSeconds);
    deadlineWatch_ = run_.watch.At(deadline_, [self] { self->TimeUp(); });
    lateStartWatch_ = run_.watch.At(deadline_ + kLateStart, [self] { self->LateStartOver(); });
  }
  // A stop ends the rendering and drops the pages not begun, until the file is concluded; it
  // may have come already.
  onStop_ = std::make_unique<StopCallback>(run_.stop.get_token(), [this] { Stop(); });

  std::string error;
  // Whatever goes wrong in one file (memory, say) fails that file, not the program.
  try {
    error = Render();
  } catch (const std::bad_alloc&) {
    error = "Out of memory";
  } catch (const std::exception& e) {
    error = e.what();
  }
  view.SetRowStatus(row_, "Converting...");
  RenderingReturned(error);
}

void FileConversion::WaitConcluded() {
  std::unique_lock lock(mutex_);
  concludedChanged_.wait(lock, [this] { return isConcluded_; });
}

// A renderer handle registered while it renders, so that a stop can end it, and known to the
// file as `slot`; unregistered and closed on every way out, before the handle is given back.
class FileConversion::ActiveRender {
 public:
  ActiveRender(FileConversion& file, int handle, int FileConversion::*slot)
      : file_(file), handle_(handle), slot_(slot) {
    file_.run_.renderings.Add(handle_);
    std::lock_guard lock(file_.mutex_);
    file_.*slot_ = handle_;
  }
  ~ActiveRender() {
    {
      std::lock_guard lock(file_.mutex_);
      file_.*slot_ = 0;
    }
    file_.run_.renderings.Remove(handle_);
    file_.run_.renderer.Close(handle_);
  }
  ActiveRender(const ActiveRender&) = delete;
  ActiveRender& operator=(const ActiveRender&) = delete;

 private:
  FileConversion& file_;
  const int handle_;
  int FileConversion::*const slot_;
};

std::string FileConversion::Render() {
  // Opened before any folder is made: a renderer that cannot start leaves nothing behind.
  const int handle = run_.renderer.Open();
  if (handle <= 0) return "The page renderer could not be started";
  const ActiveRender active(*this, handle, &FileConversion::handle_);
  return RenderInto(handle);
}

std::string FileConversion::RenderInto(int handle) {
  // The interpreter's memory cap is its share of the run's budget, held while it renders.
  std::string error;
  MemoryBudget::Share share = run_.memory.Take(run_.interpreterCap, fileStop_.get_token(), &error);
  if (!share.Granted()) {
    if (!error.empty()) return "The file cannot be rendered: " + error;
    return run_.stop.stop_requested() ? "" : TimeReason();
  }
  run_.renderer.SetMemoryLimit(handle, run_.interpreterCap);

  std::unique_ptr<PageFolder> folder = PageFolder::Create(&error);
  if (!folder) return error;
  const std::string path = folder->Path();
  {
    std::lock_guard lock(mutex_);
    pageFolder_ = std::move(folder);
    pageFolderPath_ = path;
  }
  DiskGuard& disk = run_.disk;
  // The disk is named by the temporary folder, which outlives this file's page folder.
  disk.Watch(TemporaryFolder());
  disk.Watch(path);
  disk.Watch(ExistingAncestor(plan_.target));
  // Earlier files may have used the room up already.
  if (const std::string full = disk.Check(); !full.empty())
    return "The file was not rendered: " + full;
  const PreparedSource source =
      PrepareSource(plan_.source, path,
                    run_.options.unpackLimit > 0 ? run_.options.unpackLimit : kDefaultUnpackLimit,
                    disk, fileStop_.get_token());
  if (source.stopped) return run_.stop.stop_requested() ? "" : TimeReason();
  if (!source.problem.empty()) return source.problem;
  // A stop that came in before the handle was registered must still end this rendering.
  if (run_.stop.stop_requested() || fileStop_.stop_requested()) run_.renderings.Abort(handle);

  const std::shared_ptr<FileConversion> self = shared_from_this();
  const bool reports = run_.renderer.SetPageListener(
      handle, [this](const std::string& page) { PageFinished(page); });
  RunWatch& watch = run_.watch;
  const RunWatch::Id diskWatch = watch.Every(kDiskLookInterval, [self] { self->CheckDisk(); });
  const RunWatch::Id folderWatch =
      reports ? 0 : watch.Every(kFolderLookInterval, [self] { self->LookIntoFolder(false); });
  const std::string plainSource = PlainSource(source.path, path);
  MemoryBudget::Share secondShare;
  const int pages = reports ? PagesToDrawInParts(handle, plainSource, path, secondShare) : 0;
  if (pages > 0) {
    std::lock_guard lock(mutex_);
    pagesCounted_ = static_cast<size_t>(pages);
  }
  const Rendered rendered =
      pages > 0 ? RenderInParts(handle, plainSource, path, pages, std::move(secondShare))
                : RenderPages(handle, plainSource, path);
  watch.Cancel(diskWatch);
  if (folderWatch != 0) watch.Cancel(folderWatch);
  if (reports) run_.renderer.SetPageListener(handle, {});
  share.Release();
  // Every page file is now complete or cut short, reported or not.
  LookIntoFolder(true);
  std::lock_guard lock(mutex_);
  pagesExpected_ = rendered.expected;
  if (rendered.ok) {
    renderNotes_ = rendered.said;
    return "";
  }
  // A rendering that finished just as its time ran out has still finished. One that was
  // stopped by it is a partial rendering: the pages complete by then are kept.
  if (endedByTime_) return TimeReason();
  if (!diskFull_.empty()) return "The rendering was stopped: " + diskFull_;
  return rendered.said.empty() ? "The interpreter could not render the file" : rendered.said;
}

FileConversion::Rendered FileConversion::RenderPages(int handle, const std::string& source,
                                                     const std::string& folder,
                                                     std::optional<PageRange> pages) {
  const std::string pattern = PagePattern(folder, plan_.pageStem);
  const int xDpi = run_.settings.xdpi;
  const int yDpi = run_.settings.ydpi;
  bool ok = false;
  uint64_t endings = 0;
  // Out of processes (the user's limit): once one of the run's own interpreters has ended,
  // there is one again. Without another to wait for, the file fails. A part of a document
  // does not wait: the other part's interpreter, which it would wait for, ends only after it.
  do {
    endings = run_.renderings.Endings();
    ok = pages ? run_.renderer.RenderPages(handle, source, pattern, xDpi, yDpi, pages->first,
                                           pages->last)
               : run_.renderer.Render(handle, source, pattern, xDpi, yDpi);
  } while (!ok && !pages && run_.renderer.LackedProcess(handle) &&
           run_.renderings.WaitForAnotherToEnd(handle, endings, fileStop_.get_token()));
  return {ok, run_.renderer.LastError(handle), run_.renderer.ExpectedPages(handle)};
}

// Two interpreters draw a document only when that cannot change its images and makes it sooner:
// a PDF document (the renderer says so by counting its pages) of two pages or more, converted
// page by page while it renders, into a format that takes less to write than to draw, in a run
// converting fewer files than it may at once, with memory for a second interpreter and disk for
// the pages it draws ahead.
int FileConversion::PagesToDrawInParts(int handle, const std::string& source,
                                       const std::string& folder, MemoryBudget::Share& share) {
  if (merged_ || !run_.options.overlap || run_.rowsLeft.load() >= run_.options.jobs) return 0;
  const int room = std::min(run_.pool.Threads(), Processors(run_.options) - 1);
  if (ConversionEighthsOf(run_) + kSecondInterpreterMarginEighths >=
      8 * static_cast<uint32_t>(std::max(room, 0)))
    return 0;
  const PageSchedule::Limits limits = LimitsOf(run_);
  if (!run_.disk
           .CheckWrite(folder, 2 * limits.pileAt * LetterPageBytes(run_.settings), limits.pileAt)
           .empty())
    return 0;
  share = run_.memory.TryTake(run_.interpreterCap);
  if (!share.Granted()) return 0;
  const std::optional<int> pages = run_.renderer.PageCount(handle, source, folder);
  if (!pages || *pages < 2) {
    share.Release();
    return 0;
  }
  return *pages;
}

FileConversion::Rendered FileConversion::RenderInParts(int handle, const std::string& source,
                                                       const std::string& folder, int pages,
                                                       MemoryBudget::Share secondShare) {
  const int firstPart = (pages + 1) / 2;
  const std::string secondFolder = folder + kSecondPartFolder;
  const int second = run_.renderer.Open();
  std::error_code ec;
  if (second <= 0 || !fs::create_directory(secondFolder, ec)) {
    if (second > 0) run_.renderer.Close(second);
    return RenderPages(handle, source, folder);
  }
  Rendered first;
  Rendered rest;
  bool firstLacked = false;
  bool restLacked = false;
  size_t firstPages = 0;
  bool counted = false;
  {
    const ActiveRender active(*this, second, &FileConversion::secondHandle_);
    run_.renderer.SetMemoryLimit(second, run_.interpreterCap);
    run_.renderer.SetPageListener(
        second, [this](const std::string& page) { PageFinished(page, Part::Second); });
    // A stop that came in before the handle was registered must still end this rendering.
    if (run_.stop.stop_requested() || fileStop_.stop_requested()) run_.renderings.Abort(second);
    std::jthread drawRest;
    try {
      drawRest = std::jthread([&] {
        try {
          rest = RenderPages(second, source, secondFolder, PageRange{firstPart + 1, pages});
          restLacked = !rest.ok && run_.renderer.LackedProcess(second);
        } catch (const std::exception& e) {
          rest = {false, e.what(), std::nullopt};
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: one interpreter draws the document.
      run_.renderer.SetPageListener(second, {});
      return RenderPages(handle, source, folder);
    }
    // Whatever happens here, the second part is released or dropped before it is waited for:
    // a second part held back may wait for nothing else.
    try {
      first = RenderPages(handle, source, folder, PageRange{1, firstPart});
      firstLacked = !first.ok && run_.renderer.LackedProcess(handle);
    } catch (const std::exception& e) {
      first = {false, e.what(), std::nullopt};
    }
    std::unique_lock lock(mutex_);
    firstPages = schedule_.FinishedBy(Part::First);
    counted = first.ok && firstPages == static_cast<size_t>(firstPart);
    if (counted) {
      Carry(lock, schedule_.ReleaseSecondPart());
    } else {
      Carry(lock, schedule_.DropSecondPart());
      run_.renderings.Abort(second);
    }
    drawRest.join();
    run_.renderer.SetPageListener(second, {});
  }
  secondShare.Release();
  // A first part held to its pages and short of them failed only for that.
  const bool firstShort = !first.ok && first.expected.has_value();
  if (!first.ok && !firstLacked && !firstShort) return first;
  // The first part came out short: its pages are those one interpreter gives first, but what
  // comes after them is known only by drawing the document once more. So is the rest when no
  // process could be started for a part.
  if (!counted) return RenderAgain(handle, source, folder, static_cast<int>(firstPages));
  if (restLacked) return RenderAgain(handle, source, folder, firstPart);
  // A second part short of its pages fails the document: its pages were taken already.
  if (!rest.ok) return {false, rest.said, rest.expected ? std::optional<int>(pages) : std::nullopt};
  if (first.said.empty() || rest.said.empty()) return {true, first.said + rest.said, pages};
  return {true, first.said + "\n" + rest.said, pages};
}

FileConversion::Rendered FileConversion::RenderAgain(int handle, const std::string& source,
                                                     const std::string& folder, int taken) {
  const std::string again = folder + kAgainFolder;
  std::error_code ec;
  if (!fs::create_directory(again, ec))
    return {false, "cannot make a folder to draw the file again in " + folder + ": " + ec.message(),
            std::nullopt};
  run_.renderer.SetPageListener(handle, [this, taken](const std::string& page) {
    const std::optional<int> number = PageNumberOf(page, plan_.pageStem);
    if (number && *number <= taken) {
      ::unlink(page.c_str());  // taken already
    } else {
      PageFinished(page);
    }
  });
  return RenderPages(handle, source, again);
}

void FileConversion::RenderingReturned(const std::string& error) {
  std::unique_lock lock(mutex_);
  renderError_ = error;
  Carry(lock, schedule_.RenderingReturned());
  ShowPages();
}

void FileConversion::ShowPages() {
  PageSchedule::Progress progress;
  {
    std::lock_guard lock(mutex_);
    progress = schedule_.PagesDone(pagesCounted_);
  }
  run_.view.RowPages(row_, static_cast<int>(progress.done), static_cast<int>(progress.total));
}

void FileConversion::PageFinished(const std::string& page, Part part) {
  const bool whole = PageFileIsWhole(page);
  std::unique_lock lock(mutex_);
  Carry(lock, schedule_.PageFinished(page, whole, part));
}

// The completeness rule, for a renderer that does not report its pages, and for what is left
// once the rendering has returned.
void FileConversion::LookIntoFolder(bool renderingReturned) {
  std::string folder;
  {
    std::lock_guard lock(mutex_);
    if (!pageFolder_) return;
    folder = pageFolder_->Path();
  }
  for (const std::string& page : PagesMovedPast(CollectPages(folder), renderingReturned)) {
    bool known = false;
    {
      std::lock_guard lock(mutex_);
      known = schedule_.Knows(page);
    }
    if (!known) PageFinished(page);
  }
}

void FileConversion::Stop() {
  fileStop_.request_stop();
  std::unique_lock lock(mutex_);
  Carry(lock, schedule_.Stop());
}

void FileConversion::TimeUp() {
  {
    // The run's watch no longer calls a concluded file; a test's time keeper may.
    std::lock_guard lock(mutex_);
    if (schedule_.Concluded()) return;
    timeRanOut_ = true;
  }
  fileStop_.request_stop();
  std::unique_lock lock(mutex_);
  if (!schedule_.RenderingHasReturned()) endedByTime_ = true;
  Carry(lock, schedule_.TimeUp());
}

void FileConversion::LateStartOver() {
  std::unique_lock lock(mutex_);
  if (schedule_.Concluded()) return;
  Carry(lock, schedule_.LateStartOver());
}

void FileConversion::CheckDisk() {
  const std::string full = run_.disk.Check();
  if (full.empty()) return;
  std::lock_guard lock(mutex_);
  if (handle_ == 0 || !diskFull_.empty()) return;
  diskFull_ = full;
  run_.renderings.Abort(handle_);
  if (secondHandle_ != 0) run_.renderings.Abort(secondHandle_);
}

void FileConversion::Carry(std::unique_lock<std::mutex>& lock, PageSchedule::Actions actions) {
  // The renderer is told what the schedule says now, not what it said when the actions were
  // decided, so that holds and releases carried by different threads cannot end out of order.
  if (actions.hold == true && handle_ != 0) run_.renderings.Hold(handle_, schedule_.Held());
  if (actions.holdSecond == true && secondHandle_ != 0)
    run_.renderings.Hold(secondHandle_, schedule_.Held(Part::Second));
  if (actions.endRendering) {
    if (handle_ != 0) run_.renderings.Abort(handle_);
    if (secondHandle_ != 0) run_.renderings.Abort(secondHandle_);
  }
  lock.unlock();
  // Each page file has one owner at a time: the renderer until it finished it, this file after.
  for (const std::string& page : actions.remove) ::unlink(page.c_str());
  // Let go only once the pages done with are gone, so that the folder never holds more.
  if (actions.hold == false || actions.holdSecond == false) {
    lock.lock();
    if (actions.hold == false && handle_ != 0) run_.renderings.Hold(handle_, schedule_.Held());
    if (actions.holdSecond == false && secondHandle_ != 0)
      run_.renderings.Hold(secondHandle_, schedule_.Held(Part::Second));
    lock.unlock();
  }
  for (size_t index : actions.convert) Launch(index);
  // Not on the thread that brought the last event: that may be one asking the run to stop.
  if (actions.concluded) run_.pool.Submit([self = shared_from_this()] { self->Conclude(); });
}

// A page takes its memory before it goes to the pool, so that no pool thread ever waits for
// memory: when it is not free, the page waits in the budget's queue and is handed to the pool
// by whoever gives back what it needs.
void FileConversion::Launch(size_t index) {
  std::string page;
  {
    std::lock_guard lock(mutex_);
    page = schedule_.Pages()[index].path;
  }
  const uint64_t needed = ConversionEstimate(page);
  if (MemoryBudget::Share share = run_.memory.TryTake(needed); share.Granted()) {
    MemoryGranted(index, std::move(share));
    return;
  }
  {
    std::unique_lock lock(mutex_);
    Carry(lock, schedule_.WaitsForMemory(index, true));
  }
  std::string error;
  const std::shared_ptr<FileConversion> self = shared_from_this();
  if (!run_.memory.TakeWhenFree(
          needed,
          [self, index](MemoryBudget::Share share) {
            self->MemoryGranted(index, std::move(share));
          },
          &error)) {
    std::unique_lock lock(mutex_);
    Carry(lock, schedule_.Converted(index, {"", "Cannot convert " + page + ": " + error, false}));
  }
}

void FileConversion::MemoryGranted(size_t index, MemoryBudget::Share share) {
  {
    std::unique_lock lock(mutex_);
    if (schedule_.Pages()[index].waitsForMemory)
      Carry(lock, schedule_.WaitsForMemory(index, false));
  }
  auto held = std::make_shared<MemoryBudget::Share>(std::move(share));
  run_.pool.Submit([self = shared_from_this(), index, held] { self->ConvertTask(index, held); });
}

void FileConversion::ConvertTask(size_t index, const std::shared_ptr<MemoryBudget::Share>& share) {
  std::string page;
  {
    std::lock_guard lock(mutex_);
    if (!schedule_.Begin(index)) return;  // dropped meanwhile: a stop, the time run out
    page = schedule_.Pages()[index].path;
  }
  PageOutcome outcome;
  // Whatever goes wrong in one page fails that page, not the program.
  try {
    outcome = Convert(page);
  } catch (const std::bad_alloc&) {
    outcome = {"", "Out of memory", false};
  } catch (const std::exception& e) {
    outcome = {"", e.what(), false};
  }
  // Given back before the lock is taken: what it frees may go to another file's page at once.
  share->Release();
  std::unique_lock lock(mutex_);
  Carry(lock, schedule_.Converted(index, std::move(outcome)));
  ShowPages();
}

PageOutcome FileConversion::Convert(const std::string& page) {
  struct Observed {
    const std::function<void(int)>& observer;
    explicit Observed(const std::function<void(int)>& o) : observer(o) {
      if (observer) observer(+1);
    }
    ~Observed() {
      if (observer) observer(-1);
    }
  } observed(run_.options.conversionObserver);
  return merged_ ? AppendMergedPage(page) : ConvertPageFile(page);
}

// The bytes of the picture of `page` uncompressed, at the size it is resized to.
uint64_t FileConversion::PictureBytes(const std::string& page) const {
  if (steps_.width > 0 && steps_.height > 0)
    return uint64_t{steps_.width} * uint64_t{steps_.height} * 3;
  const std::optional<PageFileHeader> header = ReadPageFileHeader(page);
  return header ? header->DecodedBytes() : 0;
}

// What an output of `page` will take on disk. How much of its picture a format and colour
// keep depends on the pages themselves, so it is learnt from this file's pages: the largest
// share of its picture a page written so far took, and a quarter more for a busier page. Until
// one is written, a page is counted at its headers alone, so that the first page is refused
// only when the disk is at its reserve already; one that is larger than the room left fails as
// it is written, and ReplacementFile leaves nothing of it. A merged TIFF grows out of sight
// until it is put in place: its pages are counted uncompressed.
uint64_t FileConversion::OutputEstimate(const std::string& page) const {
  const uint64_t picture = PictureBytes(page);
  if (merged_) return picture + kOutputHeaders;
  const uint64_t known = largestShare_.load();
  if (known == 0) return kOutputHeaders;
  // No picture reaches 2^40 bytes, nor a share 2^24: the product does not overflow.
  return picture * (known - 1) / 65536 * 5 / 4 + kOutputHeaders;
}

void FileConversion::LearnOutputSize(const std::string& page, const std::string& written) {
  struct stat info {};
  const uint64_t picture = PictureBytes(page);
  if (picture == 0 || ::stat(written.c_str(), &info) != 0 || info.st_size < 0) return;
  // What the headers take is counted apart: a small page's would seem a large share.
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  const uint64_t share =
      std::min<uint64_t>((size - std::min(size, kOutputHeaders)) * 65536 / picture, 1 << 22) + 1;
  for (uint64_t known = largestShare_.load();
       share > known && !largestShare_.compare_exchange_weak(known, share);) {
  }
}

uint64_t FileConversion::ConversionEstimate(const std::string& page) const {
  const std::optional<PageFileHeader> header = ReadPageFileHeader(page);
  return PageConversionEstimate(header.value_or(PageFileHeader{}), steps_);
}

PageOutcome FileConversion::ConvertPageFile(const std::string& page) {
  std::string error;
  if (!EnsureTarget(&error)) return {"", error, true};
  const std::optional<int> number = PageNumberOf(page, plan_.pageStem);
  if (!number) return {"", "Not a page of the rendering: " + page, false};
  const std::string name = PageImageName(plan_.baseName, *number, run_.format.extension);
  const std::string output = plan_.target + name;
  // Out of disk: the outputs written so far stay, the rest are not written.
  if (const std::string full = run_.disk.CheckWrite(plan_.target, OutputEstimate(page));
      !full.empty()) {
    return {"", "Cannot write " + output + ": " + full, true};
  }
  JobHandle job;
  // A page that gets no job is a page not written.
  if (job.handle == nullptr) return {"", "Out of memory", false};
  ConverterSetOption(job.handle, OptOutputPath, WritePath(name).c_str(), 0);
  ConverterAddFile(job.handle, page.c_str());
  BatchConverter::ApplySettings(job.handle, run_.format.format, run_.settings);
  ConverterRun(job.handle);
  error = Shown(ConverterGetError(job.handle));
  if (!error.empty()) {
    // An encoder says only that its write failed; where the page might not have fitted, the
    // disk is the likely reason, and the file ends there.
    if (const std::string full =
            run_.disk.CheckWrite(plan_.target, PictureBytes(page) + kOutputHeaders);
        !full.empty() && error.starts_with("Cannot write " + Quoted(output) + ": "))
      return {"", error + "; " + full, true};
    return {"", error, false};
  }
  LearnOutputSize(page, WritePath(name));
  return {output, "", false};
}

// The engine writes the merged document under a temporary name beside the final one, which
// PutMergedInPlace has it put in place. Pages come one at a time, in page order.
PageOutcome FileConversion::AppendMergedPage(const std::string& page) {
  std::string error;
  if (!EnsureTarget(&error)) return {"", error, true};
  const std::string output = plan_.target + MergedImageName(plan_.baseName);
  if (!mergedDocument_) {
    mergedDocument_ = std::make_unique<MergedDocument>();
    const ConverterHandle job = mergedDocument_->job.handle;
    if (job == nullptr) return {"", "Out of memory", true};
    ConverterSetOption(job, OptMultiPagePath, WritePath(MergedImageName(plan_.baseName)).c_str(),
                       0);
    ConverterSetOption(job, OptMultiPage, nullptr, 1);
    BatchConverter::ApplySettings(job, OutputFormat::Tiff, run_.settings);
  }
  if (const std::string full = run_.disk.CheckWrite(plan_.target, OutputEstimate(page));
      !full.empty()) {
    return {"", "Cannot write " + output + ": " + full, true};
  }
  const ConverterHandle job = mergedDocument_->job.handle;
  ConverterAddFile(job, page.c_str());
  ConverterRun(job);
  error = Shown(ConverterGetError(job));
  if (error.empty()) {
    ++mergedDocument_->pages;
    return {};
  }
  // A name that cannot take the document (a named pipe, a read-only file) refuses it before
  // any page went in; the refusal says so itself.
  if (mergedDocument_->pages == 0 && (error.starts_with("Cannot write " + Quoted(output) + ": ") ||
                                      error.starts_with("Cannot create " + Quoted(output) + ": ")))
    return {"", error, true};
  return {"", error + "; " + output + " was left as it was", true};
}

// Once every page is done: the row's result, the merged document put in place or discarded,
// the output folder given back, the page folder removed.
void FileConversion::Conclude() {
  std::vector<PageSchedule::Page> pages;
  FileFacts facts;
  {
    std::lock_guard lock(mutex_);
    pages = schedule_.Pages();
    facts.endReason = schedule_.EndReason();
    facts.renderError = renderError_;
    facts.renderNotes = renderNotes_;
  }
  std::erase_if(pages, [](const PageSchedule::Page& page) {
    return page.state == PageSchedule::PageState::Discarded;
  });
  std::sort(pages.begin(), pages.end(),
            [](const auto& a, const auto& b) { return ComesBeforeInPageOrder(a.path, b.path); });
  facts.stopped = run_.stop.stop_requested();
  facts.pages = pages;
  facts.timeUp = TimeIsUp();
  facts.timeReason = TimeReason();
  facts.merged = merged_;
  facts.mergedOutput = plan_.target + MergedImageName(plan_.baseName);
  Verdict verdict = JudgeFile(facts);
  if (verdict.putMergedInPlace) verdict.result = PutMergedInPlace();
  {
    std::lock_guard lock(mutex_);
    verdict.result.pagesExpected = pagesExpected_;
  }
  // Counted as written, never read back from the files: their names may lead elsewhere now.
  verdict.result.pagesWritten =
      !merged_ ? static_cast<int>(verdict.result.outputs.size())
      : verdict.result.outputs.empty() || !mergedDocument_
          ? 0
          : static_cast<int>(mergedDocument_->pages);
  verdict.result.reason = Shown(std::move(verdict.result.reason));
  const RowResult& result = verdict.result;

  onStop_.reset();
  RunWatch& watch = run_.watch;
  if (deadlineWatch_ != 0) watch.Cancel(deadlineWatch_);
  if (lateStartWatch_ != 0) watch.Cancel(lateStartWatch_);
  const bool mergedWentNowhere = merged_ && !facts.renderError.empty();
  if (result.status != RowStatus::Aborted && target_.ready && !mergedWentNowhere)
    run_.view.SetRowStatus(row_, "Converting....");
  mergedDocument_.reset();
  run_.folders.Release(plan_.target, target_, merged_ && result.status != RowStatus::Succeed);
  std::unique_ptr<PageFolder> folder;
  {
    std::lock_guard lock(mutex_);
    folder = std::move(pageFolder_);
  }
  folder.reset();
  --run_.rowsLeft;
  concluded_(row_, result);
  {
    std::lock_guard lock(mutex_);
    isConcluded_ = true;
  }
  concludedChanged_.notify_all();
}

// Ends the merged document and puts it in place: only when every page went in and the file's
// time did not run out, so an older file of that name stays whenever the row fails.
RowResult FileConversion::PutMergedInPlace() {
  const std::string output = plan_.target + MergedImageName(plan_.baseName);
  if (!mergedDocument_)
    return {RowStatus::Failed, "Cannot write " + output + ": no page went in", {}};
  if (TimeIsUp()) return {RowStatus::Failed, TimeReason(), {}};
  // Completes the document and renames it into place, so that its last write is judged too.
  JobHandle& job = mergedDocument_->job;
  ConverterFinish(job.handle);
  const std::string error = Shown(ConverterGetError(job.handle));
  job.Finish();
  if (!error.empty()) return {RowStatus::Failed, error + "; " + output + " was left as it was", {}};
  return {RowStatus::Succeed, "", {output}};
}

bool FileConversion::EnsureTarget(std::string* error) {
  std::lock_guard lock(targetMutex_);
  if (!targetTried_) {
    targetTried_ = true;
    target_ = run_.folders.Acquire(plan_.target);
    if (target_.ready) {
      run_.disk.Watch(plan_.target);
      HoldTarget();
    }
  }
  *error = target_.error;
  return target_.ready;
}

// Every image of the file goes into the folder its name named when the first was written, even
// when that name is made to point elsewhere meanwhile (a link swapped): the folder is held open
// and written through /proc/self/fd. Without /proc, the name is used as it is.
void FileConversion::HoldTarget() {
  targetFolder_.Reset(::open(plan_.target.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!targetFolder_.IsOpen()) return;
  const std::string held = "/proc/self/fd/" + std::to_string(targetFolder_.Get()) + "/";
  struct stat byName {};
  struct stat byHandle {};
  if (::stat(plan_.target.c_str(), &byName) == 0 && ::stat(held.c_str(), &byHandle) == 0 &&
      byName.st_dev == byHandle.st_dev && byName.st_ino == byHandle.st_ino)
    writeFolder_ = held;
}

std::string FileConversion::WritePath(const std::string& name) const {
  return (writeFolder_.empty() ? plan_.target : writeFolder_) + name;
}

std::string FileConversion::Shown(std::string text) const {
  return ShownToUser({plan_.source, pageFolderPath_, plan_.pageStem, writeFolder_, plan_.target},
                     std::move(text));
}

bool FileConversion::TimeIsUp() const {
  return timeRanOut_ || Clock::now() >= deadline_;
}

std::string FileConversion::TimeReason() const {
  return "The file took longer than " + std::to_string(run_.options.timeoutSeconds) +
         " s and was stopped";
}

}  // namespace orvalis
