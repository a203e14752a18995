#include "batch/batch_converter.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <system_error>

#include "batch/output_folder.h"
#include "batch/page_folder.h"

namespace orvalis {

namespace fs = std::filesystem;

namespace {

// Stops a rendering that runs longer than its limit, from a thread of its own.
class RenderWatchdog {
 public:
  RenderWatchdog(PageRenderer& renderer, int handle, int seconds) {
    if (seconds <= 0) return;
    try {
      thread_ = std::thread([this, &renderer, handle, seconds] {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished_; })) {
          expired_ = true;
          renderer.Abort(handle);
        }
      });
    } catch (const std::system_error&) {
      // No thread to spare: the rendering runs without its limit rather than not at all.
    }
  }
  ~RenderWatchdog() {
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

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  bool expired_ = false;
  std::thread thread_;
};

// Owns one engine job.
struct JobHandle {
  ConverterHandle handle = ConverterCreate();
  ~JobHandle() {
    if (handle != nullptr) ConverterDestroy(handle);
  }
  // Destroys the job now (a merged TIFF is completed at this point).
  void Finish() {
    ConverterDestroy(handle);
    handle = nullptr;
  }
};

std::string PageFileName(const std::string& folder, const std::string& baseName, size_t page) {
  char number[32];
  std::snprintf(number, sizeof number, "_%03zu.bmp", page);
  return folder + baseName + number;
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

  std::string error;
  const std::unique_ptr<PageFolder> pageFolder = PageFolder::Create(&error);
  if (!pageFolder) return {kStatusFailed, error, {}};
  const RenderOutcome render = RenderPages(plan, pageFolder->Path());
  const std::vector<std::string> pageFiles = CollectPages(pageFolder->Path());
  view_.SetRowStatus(row, "Converting...");
  Pause(options_.pacing.afterRendering);

  if (StopRequested()) return {kStatusAborted, "", {}};
  if (!render.rendered) return {kStatusFailed, render.error, {}};
  if (pageFiles.empty()) {
    return {kStatusFailed, render.error.empty() ? "The file produced no page" : render.error, {}};
  }

  std::error_code ec;
  fs::create_directories(plan.target, ec);
  std::error_code statError;
  if (!fs::is_directory(plan.target, statError)) {
    return {kStatusFailed,
            "Cannot create the folder " + plan.target + FolderProblem(plan.target, ec),
            {}};
  }
  view_.SetRowStatus(row, "Converting....");
  RowResult result = format_.format == OutputFormat::Tiff && settings_.multpage == 1
                         ? ConvertMerged(plan, pageFolder->Path(), pageFiles.size(), plan.target)
                         : ConvertPages(pageFiles, plan.target);
  // Pages an interpreter left before it failed are converted, but the file did not convert.
  if (result.status == kStatusSucceed && !render.error.empty()) {
    result.status = kStatusFailed;
    result.reason = render.error;
  }
  return result;
}

BatchConverter::RenderOutcome BatchConverter::RenderPages(const RowPlan& plan,
                                                          const std::string& pageFolder) {
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
  // A stop that came in before the handle was registered must still end this rendering.
  if (StopRequested()) renderer_.Abort(handle);
  RenderOutcome outcome{true, ""};
  RenderWatchdog watchdog(renderer_, handle, options_.timeoutSeconds);
  const bool ok = renderer_.Render(handle, plan.source, pageFolder + plan.baseName + "_%03d.bmp",
                                   settings_.xdpi, settings_.ydpi);
  // A rendering that finished just as its time ran out has still finished.
  if (!ok && watchdog.Expired()) {
    outcome = {false, "Rendering took longer than " + std::to_string(options_.timeoutSeconds) +
                          " s and was stopped"};
  } else if (!ok) {
    outcome.error = renderer_.LastError(handle);
    if (outcome.error.empty()) outcome.error = "The interpreter could not render the file";
  }
  return outcome;
}

RowResult BatchConverter::ConvertPages(const std::vector<std::string>& pageFiles,
                                       const std::string& target) {
  RowResult result{kStatusSucceed, "", {}};
  for (const std::string& page : pageFiles) {
    if (StopRequested()) return {kStatusAborted, "", std::move(result.outputs)};
    JobHandle job;
    if (job.handle == nullptr) {
      // A page that gets no job is a page not written.
      if (result.reason.empty())
        result = {kStatusFailed, "Out of memory", std::move(result.outputs)};
      continue;
    }
    const std::string output = target + fs::path(page).stem().string() + format_.extension;
    ConverterSetOption(job.handle, OptOutputPath, output.c_str(), 0);
    ConverterAddFile(job.handle, page.c_str());
    ApplySettings(job.handle, format_.format, settings_);
    ConverterRun(job.handle);
    const std::string error = ConverterGetError(job.handle);
    if (error.empty()) {
      result.outputs.push_back(output);
    } else if (result.reason.empty()) {
      result.status = kStatusFailed;
      result.reason = error;
    }
  }
  return result;
}

RowResult BatchConverter::ConvertMerged(const RowPlan& plan, const std::string& pageFolder,
                                        size_t pageCount, const std::string& target) {
  JobHandle job;
  if (job.handle == nullptr) return {kStatusFailed, "Out of memory", {}};
  const std::string output = target + plan.baseName + ".tif";
  ConverterSetOption(job.handle, OptMultiPagePath, output.c_str(), 0);
  ConverterSetOption(job.handle, OptMultiPage, nullptr, 1);
  for (size_t page = 1; page <= pageCount; ++page) {
    if (StopRequested()) return {kStatusAborted, "", {}};
    const std::string file = PageFileName(pageFolder, plan.baseName, page);
    ConverterAddFile(job.handle, file.c_str());
  }
  ApplySettings(job.handle, OutputFormat::Tiff, settings_);
  const auto before = FileIdentity(output);
  ConverterRun(job.handle);
  // Completes the document and puts it in place, so that its last write is judged too.
  ConverterFinish(job.handle);
  const std::string error = ConverterGetError(job.handle);
  job.Finish();
  RowResult result{error.empty() ? kStatusSucceed : kStatusFailed, error, {}};
  // Listed only when this job put a file there (an older file of that name does not count).
  const auto after = FileIdentity(output);
  if (after && after != before) {
    result.outputs.push_back(output);
  } else if (result.status == kStatusSucceed) {
    result = {
        kStatusFailed, "Cannot write " + output + ": the TIFF file could not be completed", {}};
  }
  return result;
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

std::vector<std::string> CollectPages(const std::string& folder) {
  std::vector<std::string> pages;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_directory(typeError)) pages.push_back(it->path().string());
  }
  // Page numbers grow past three digits ("_1000" after "_999"): a longer name of the same
  // document is a later page.
  std::sort(pages.begin(), pages.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return pages;
}

}  // namespace orvalis
