#include "batch/batch_converter.h"

#include <malloc.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "batch/output_folder.h"
#include "batch/output_names.h"
#include "batch/page_files.h"
#include "engine/tiff_compressions.h"

namespace orvalis {

namespace fs = std::filesystem;

namespace {

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

// The run's conversion threads: as asked, else one per file converted at once but no more than
// the machine has processors.
int PoolThreads(const BatchOptions& options) {
  if (options.threads > 0) return options.threads;
  return std::clamp(options.jobs, 1, Processors(options));
}

}  // namespace

BatchConverter::BatchConverter(const ConversionSettings& settings, PageRenderer& renderer,
                               BatchView& view, BatchOptions options)
    : settings_(settings),
      renderer_(renderer),
      view_(view),
      options_(std::move(options)),
      renderings_(renderer) {}

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
    worker_ = std::thread([this, settings = settings_] { Run(settings); });
  } catch (const std::system_error&) {
    running_ = 0;
    view_.SetRunning(false);
  }
}

// A request made just before the run begins counts too: the run then stops at once.
void BatchConverter::RequestStop() {
  std::lock_guard lock(stopMutex_);
  stopRequested_ = 1;
  if (run_ != nullptr) run_->stop.request_stop();
  renderings_.AbortAll();
}

void BatchConverter::Wait() {
  if (worker_.joinable()) worker_.join();
}

void BatchConverter::ConvertAll() {
  Run(settings_);
}

void BatchConverter::Run(const ConversionSettings& settings) {
  running_ = 1;
  KeepPageBuffersForReuse();
  const int rowCount = view_.RowCount();
  if (rowCount > 0) {
    const int jobs = std::clamp(options_.jobs, 1, rowCount);
    RunShared run(settings, renderer_, view_, options_, renderings_, jobs, PoolThreads(options_),
                  rowCount);
    {
      std::lock_guard lock(stopMutex_);
      run_ = &run;
      if (StopRequested()) run.stop.request_stop();
    }
    ConvertRows(run, PlanRows(settings, rowCount));
    std::lock_guard lock(stopMutex_);
    run_ = nullptr;
  }
  stopRequested_ = 0;
  running_ = 0;
  view_.SetRunning(false);
  view_.SelectRow(0);
}

// Decides every row's output folder and image base before anything is converted. Two different
// sources whose outputs would carry the same names in the same folder would destroy each
// other's images: the later row of the list is refused, whatever order the rows finish in, and
// told the choice that keeps the two apart. Sources whose file names differ (a.ps, a.pdf) part
// with full names; sources of one file name from two folders, beside their sources.
std::vector<RowPlan> BatchConverter::PlanRows(const ConversionSettings& settings,
                                              int rowCount) const {
  struct First {
    std::string identity;
    std::string fileName;
  };
  std::vector<RowPlan> plans(static_cast<size_t>(rowCount));
  std::map<std::pair<std::string, std::string>, First> firstSource;
  const FormatChoice format = FormatFromType(settings.type);
  const bool merged = format.format == OutputFormat::Tiff && settings.multpage == 1;
  for (int row = 0; row < rowCount; ++row) {
    RowPlan& plan = plans[static_cast<size_t>(row)];
    plan.source = view_.RowPath(row);
    const fs::path source(plan.source);
    const std::string fileName = source.filename().string();
    plan.baseName = ImageBase(fileName, settings.fullnames == 1);
    plan.pageStem = IsPlainName(plan.baseName) ? plan.baseName : kPlainPageStem;
    const std::string folder = OutputFolderOf(plan.source, settings);
    plan.target = folder;

    // The same folder reached by another spelling (a link, "..") is the same folder.
    std::error_code ec;
    const fs::path canonicalSource = fs::weakly_canonical(source, ec);
    const std::string identity = ec ? plan.source : canonicalSource.string();
    const fs::path canonicalFolder = fs::weakly_canonical(folder, ec);
    const std::string key =
        ec ? fs::path(folder).lexically_normal().string() : canonicalFolder.string();
    const auto [it, inserted] =
        firstSource.try_emplace({key, plan.baseName}, First{identity, fileName});
    if (inserted || it->second.identity == identity) continue;
    plan.conflict = "Its images would replace those of " + it->second.identity + " in " + folder;
    if (it->second.fileName != fileName)
      plan.conflict +=
          "; " + options_.fullNamesAdvice + " (" +
          (merged ? MergedImageName(fileName) : PageImageName(fileName, 1, format.extension)) + ")";
    else if (settings.mode == 1)
      plan.conflict += "; " + options_.besideAdvice + ", or rename one of the two files";
    else
      plan.conflict += "; rename one of the two files";
  }
  return plans;
}

void BatchConverter::ConvertRows(RunShared& run, const std::vector<RowPlan>& plans) {
  const int rowCount = static_cast<int>(plans.size());
  std::atomic<int> next{0};
  // Each row thread renders its next file while the last pages of the one before are
  // converted, and waits for that one before it takes a third.
  auto work = [&] {
    std::shared_ptr<FileConversion> previous;
    for (int row = next++; row < rowCount && !StopRequested(); row = next++) {
      auto file = std::make_shared<FileConversion>(
          run, plans[static_cast<size_t>(row)], row,
          [this](int done, const RowResult& result) { RowConcluded(done, result); });
      file->Run(rowCount);
      if (previous) previous->WaitConcluded();
      previous = std::move(file);
    }
    if (previous) previous->WaitConcluded();
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

void BatchConverter::RowConcluded(int row, const RowResult& result) {
  view_.SetRowStatus(row, StatusText(result.status));
  view_.RowFinished(row, result);
  if (result.status == RowStatus::Aborted) RequestStop();
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
  // Pages are converted side by side on the run's threads: an encoder takes no more.
  ConverterSetOption(job, OptEncoderThreads, nullptr, 1);
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

}  // namespace orvalis
