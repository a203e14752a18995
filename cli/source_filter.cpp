#include "cli/source_filter.h"

#include <sys/stat.h>

#include <filesystem>

#include "batch/output_folder.h"
#include "batch/output_names.h"
#include "engine/converter.h"
#include "engine/output_formats.h"

namespace orvalis {

namespace fs = std::filesystem;

namespace {

bool IsNewer(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// The image is a regular file modified after the source was.
bool FirstOutputIsNewer(const std::string& source, const std::string& output) {
  struct stat sourceInfo {
  }, outputInfo{};
  return ::stat(source.c_str(), &sourceInfo) == 0 && ::stat(output.c_str(), &outputInfo) == 0 &&
         S_ISREG(outputInfo.st_mode) && IsNewer(outputInfo.st_mtim, sourceInfo.st_mtim);
}

}  // namespace

bool MergesPages(const ConversionSettings& settings) {
  return FormatFromType(settings.type).format == OutputFormat::Tiff && settings.multpage == 1;
}

std::string FirstOutputPath(const std::string& source, const ConversionSettings& settings) {
  const std::string folder = OutputFolderOf(source, settings);
  const std::string base = ImageBase(fs::path(source).filename().string(), settings.fullnames == 1);
  return folder + (MergesPages(settings)
                       ? MergedImageName(base)
                       : PageImageName(base, 1, FormatFromType(settings.type).extension));
}

SourcePlan PlanSources(const std::vector<std::string>& sources, const ConversionSettings& settings,
                       const std::string& digest, const ResumeIndex* resume, bool skipExisting) {
  SourcePlan plan;
  for (const std::string& source : sources) {
    ReportRecord skipped{source, StampOf(source), kStatusSkipped, "", {}, 0, std::nullopt, 0,
                         digest, {}};
    const ReportRecord* earlier = resume != nullptr && skipped.stamp
                                      ? resume->Converted(source, *skipped.stamp, digest)
                                      : nullptr;
    if (earlier != nullptr) {
      skipped.reason = kSkippedAsConverted;
      skipped.outputs = earlier->outputs;
      skipped.outputStamps = earlier->outputStamps;
      skipped.pages = earlier->pages;
      skipped.pagesExpected = earlier->pagesExpected;
      plan.skipped.push_back(std::move(skipped));
      continue;
    }
    const std::string first = skipExisting ? FirstOutputPath(source, settings) : "";
    if (skipExisting && FirstOutputIsNewer(source, first)) {
      skipped.reason = kSkippedAsNewer;
      skipped.outputs = {first};
      skipped.outputStamps = StampsOf(skipped.outputs);
      plan.skipped.push_back(std::move(skipped));
      continue;
    }
    plan.convert.push_back(source);
  }
  return plan;
}

}  // namespace orvalis
