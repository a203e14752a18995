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

// Why what stands at `path` may not be replaced by a new output, "" when it may: only a regular
// file the user can write, or a symbolic link (the link is replaced, its target kept), may be.
std::string CannotReplace(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return "";
  if (S_ISREG(info.st_mode)) return (info.st_mode & 0222) == 0 ? "the file there is read-only" : "";
  if (S_ISDIR(info.st_mode)) return "it is a folder";
  if (S_ISFIFO(info.st_mode)) return "it is a named pipe";
  if (S_ISSOCK(info.st_mode)) return "it is a socket";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "it is a device";
  return "it is not a regular file";
}

std::string PageCount(size_t pages) {
  return std::to_string(pages) + (pages == 1 ? " page" : " pages");
}

}  // namespace

struct BatchConverter::RowPlan {
  std::string source;
  std::string baseName;
  std::string target;    // output folder, ending in '/'
  std::string conflict;  // why the row may not write its outputs, "" when it may
};

struct BatchConverter::RenderOutcome {
  bool rendered = false;  // the renderer opened and ran
  std::string error;      // why the rendering failed, "" when it finished cleanly
};

// The file's time limit: rendering and conversion together.
struct BatchConverter::RowClock {
  Clock::time_point deadline = Clock::time_point::max();
  int seconds = 0;
  bool Expired() const { return Clock::now() >= deadline; }
  std::string Reason() const {
    return "The file took longer than " + std::to_string(seconds) + " s and was stopped";
  }
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
  view_.SetSelectedLabel("Selected: 1");
  format_ = FormatFromType(settings_.type);
  disk_ = std::make_unique<DiskGuard>();
  memory_ = std::make_unique<MemoryBudget>(options_.memoryBudget != 0 ? options_.memoryBudget
                                                                      : DefaultMemoryBudget());
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

  RowClock clock;
  if (options_.timeoutSeconds > 0) {
    clock.seconds = options_.timeoutSeconds;
    clock.deadline = Clock::now() + std::chrono::seconds(options_.timeoutSeconds);
  }
  std::unique_ptr<PageFolder> pageFolder;
  const RenderOutcome render = RenderPages(plan, clock, &pageFolder);
  std::vector<std::string> pageFiles;
  if (pageFolder) pageFiles = CollectPages(pageFolder->Path());
  view_.SetRowStatus(row, "Converting...");
  Pause(options_.pacing.afterRendering);

  if (StopRequested()) return {kStatusAborted, "", {}};
  if (!render.rendered) return {kStatusFailed, render.error, {}};
  // After a failed rendering only the complete pages are taken: the interpreter may have been
  // ended in the middle of one.
  std::string cutPages;
  if (!render.error.empty()) {
    const std::vector<std::string> complete = CompletePages(pageFiles, true);
    if (complete.size() < pageFiles.size()) {
      cutPages = "; " + PageCount(pageFiles.size() - complete.size()) +
                 " cut short by the failure " +
                 (pageFiles.size() - complete.size() == 1 ? "was" : "were") + " not converted";
    }
    pageFiles = complete;
  }
  if (pageFiles.empty()) {
    return {kStatusFailed,
            render.error.empty() ? "The file produced no page" : render.error + cutPages,
            {}};
  }

  const bool merged = format_.format == OutputFormat::Tiff && settings_.multpage == 1;
  if (merged && !render.error.empty()) {
    // A merged file replaces an older one only when it holds the whole document.
    return {kStatusFailed,
            render.error + cutPages + "; the " + PageCount(pageFiles.size()) +
                " rendered before the failure went nowhere: " + plan.target + plan.baseName +
                ".tif was left as it was",
            {}};
  }
  std::error_code ec;
  fs::create_directories(plan.target, ec);
  std::error_code statError;
  if (!fs::is_directory(plan.target, statError)) {
    return {kStatusFailed,
            "Cannot create the folder " + plan.target + FolderProblem(plan.target, ec),
            {}};
  }
  disk_->Watch(plan.target);
  view_.SetRowStatus(row, "Converting....");
  RowResult result =
      merged ? ConvertMerged(plan, pageFiles, clock) : ConvertPages(plan, pageFiles, clock);
  // Pages an interpreter left before it failed are converted, but the file did not convert.
  if (result.status == kStatusSucceed && !render.error.empty()) {
    result.status = kStatusFailed;
    result.reason = render.error + cutPages;
  }
  return result;
}

BatchConverter::RenderOutcome BatchConverter::RenderPages(const RowPlan& plan,
                                                          const RowClock& clock,
                                                          std::unique_ptr<PageFolder>* pageFolder) {
  // Opened before any folder is made: a renderer that cannot start leaves nothing behind.
  const int handle = renderer_.Open();
  if (handle <= 0) return {false, "The page renderer could not be started"};
  // Registered while it renders, so that a stop can end it; unregistered and closed on every
  // way out, before the handle is given back.
  struct ActiveRender {
    BatchConverter& self;
    int handle;
    ActiveRender(BatchConverter& owner, int h) : self(owner), handle(h) {
      std::lock_guard lock(self.activeMutex_);
      self.activeRenders_.insert(handle);
    }
    ~ActiveRender() {
      {
        std::lock_guard lock(self.activeMutex_);
        self.activeRenders_.erase(handle);
      }
      self.renderer_.Close(handle);
    }
  } active(*this, handle);

  // The interpreter's memory cap is its share of the run's budget, held while it renders.
  const uint64_t cap = interpreterCap_;
  std::string error;
  const MemoryBudget::Share share = memory_->Take(
      cap, [&] { return StopRequested() || clock.Expired(); }, &error);
  if (!share.Granted()) {
    if (!error.empty()) return {false, "The file cannot be rendered: " + error};
    return {false, StopRequested() ? "" : clock.Reason()};
  }
  renderer_.SetMemoryLimit(handle, cap);

  *pageFolder = PageFolder::Create(&error);
  if (!*pageFolder) return {false, error};
  const std::string& folder = (*pageFolder)->Path();
  disk_->Watch(folder);
  disk_->Watch(ExistingAncestor(plan.target));
  // Earlier files may have used the room up already.
  if (const std::string full = disk_->Check(); !full.empty())
    return {false, "The file was not rendered: " + full};
  // A stop that came in before the handle was registered must still end this rendering.
  if (StopRequested()) renderer_.Abort(handle);
  RenderOutcome outcome{true, ""};
  RenderWatch watch(renderer_, handle, clock.deadline, *disk_);
  const bool ok = renderer_.Render(handle, plan.source, PagePattern(folder, plan.baseName),
                                   settings_.xdpi, settings_.ydpi);
  // A rendering that finished just as its time ran out has still finished.
  if (!ok && watch.Expired()) {
    outcome = {false, clock.Reason()};
  } else if (const std::string full = watch.DiskFull(); !ok && !full.empty()) {
    outcome.error = "The rendering was stopped: " + full;
  } else if (!ok) {
    outcome.error = renderer_.LastError(handle);
    if (outcome.error.empty()) outcome.error = "The interpreter could not render the file";
  }
  return outcome;
}

MemoryBudget::Share BatchConverter::TakePageMemory(const std::vector<std::string>& pages,
                                                   const RowClock& clock, std::string* error) {
  uint64_t largest = 0;
  for (const std::string& page : pages) {
    if (const std::optional<PageFileHeader> header = ReadPageFileHeader(page))
      largest = std::max(largest, header->DecodedBytes());
  }
  return memory_->Take(
      PageConversionEstimate(largest, format_.format),
      [&] { return StopRequested() || clock.Expired(); }, error);
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

RowResult BatchConverter::ConvertPages(const RowPlan& plan,
                                       const std::vector<std::string>& pageFiles,
                                       const RowClock& clock) {
  RowResult result{kStatusSucceed, "", {}};
  auto fail = [&result](const std::string& reason) {
    if (result.reason.empty()) result = {kStatusFailed, reason, std::move(result.outputs)};
  };
  for (const std::string& page : pageFiles) {
    if (StopRequested()) return {kStatusAborted, "", std::move(result.outputs)};
    // Out of time or disk: the outputs written so far stay, the rest are not written.
    if (clock.Expired()) {
      result = {kStatusFailed, clock.Reason(), std::move(result.outputs)};
      return result;
    }
    const std::string output = plan.target + fs::path(page).stem().string() + format_.extension;
    if (const std::string full = disk_->CheckWrite(plan.target, OutputEstimate(page));
        !full.empty()) {
      result = {kStatusFailed, "Cannot write " + output + ": " + full, std::move(result.outputs)};
      return result;
    }
    std::string error;
    const MemoryBudget::Share memory = TakePageMemory({page}, clock, &error);
    if (!memory.Granted()) {
      if (error.empty()) continue;  // stopped or out of time: the checks above say which
      fail("Cannot convert " + page + ": " + error);
      continue;
    }
    JobHandle job;
    if (job.handle == nullptr) {
      // A page that gets no job is a page not written.
      fail("Out of memory");
      continue;
    }
    ConverterSetOption(job.handle, OptOutputPath, output.c_str(), 0);
    ConverterAddFile(job.handle, page.c_str());
    ApplySettings(job.handle, format_.format, settings_);
    ConverterRun(job.handle);
    error = ConverterGetError(job.handle);
    if (error.empty()) {
      result.outputs.push_back(output);
    } else {
      fail(error);
    }
  }
  return result;
}

// The engine writes the merged document under a temporary name beside the final one; the
// driver puts it in place only when every page went in and the file's time did not run out,
// so an older file of that name stays whenever the row fails.
RowResult BatchConverter::ConvertMerged(const RowPlan& plan,
                                        const std::vector<std::string>& pageFiles,
                                        const RowClock& clock) {
  const std::string output = plan.target + plan.baseName + ".tif";
  for (const std::string& page : pageFiles) {
    if (!PageFileIsWhole(page)) {
      return {kStatusFailed,
              "The page file " + page + " is incomplete; nothing was merged into " + output,
              {}};
    }
  }
  uint64_t estimate = 0;
  for (const std::string& page : pageFiles) estimate += OutputEstimate(page);
  if (const std::string full = disk_->CheckWrite(plan.target, estimate); !full.empty())
    return {kStatusFailed, "Cannot write " + output + ": " + full, {}};
  std::string error;
  const MemoryBudget::Share memory = TakePageMemory(pageFiles, clock, &error);
  if (!memory.Granted()) {
    if (StopRequested()) return {kStatusAborted, "", {}};
    return {kStatusFailed, error.empty() ? clock.Reason() : "Cannot merge the pages: " + error, {}};
  }

  std::string staging = plan.target + "." + plan.baseName + ".XXXXXX";
  const int fd = ::mkstemp(staging.data());
  if (fd < 0) return {kStatusFailed, "Cannot write " + output + ": " + std::strerror(errno), {}};
  ::close(fd);
  struct Staging {
    const std::string& path;
    ~Staging() { ::unlink(path.c_str()); }
  } removeStaging{staging};

  JobHandle job;
  if (job.handle == nullptr) return {kStatusFailed, "Out of memory", {}};
  ConverterSetOption(job.handle, OptMultiPagePath, staging.c_str(), 0);
  ConverterSetOption(job.handle, OptMultiPage, nullptr, 1);
  for (const std::string& page : pageFiles) {
    if (StopRequested()) return {kStatusAborted, "", {}};
    ConverterAddFile(job.handle, page.c_str());
  }
  ApplySettings(job.handle, OutputFormat::Tiff, settings_);
  ConverterRun(job.handle);
  // Completes the document, so that its last write is judged too.
  ConverterFinish(job.handle);
  error = ConverterGetError(job.handle);
  job.Finish();
  if (StopRequested()) return {kStatusAborted, "", {}};
  if (!error.empty()) return {kStatusFailed, error + "; " + output + " was left as it was", {}};
  if (clock.Expired()) return {kStatusFailed, clock.Reason(), {}};
  if (const std::string why = CannotReplace(output); !why.empty())
    return {kStatusFailed, "Cannot write " + output + ": " + why, {}};
  if (::rename(staging.c_str(), output.c_str()) != 0)
    return {kStatusFailed, "Cannot write " + output + ": " + std::strerror(errno), {}};
  return {kStatusSucceed, "", {output}};
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
