#pragma once
// Which sources a run converts, and which it skips as converted already: by an earlier run's
// report (--resume) or by the date of their first image (--skip-existing).

#include <optional>
#include <string>
#include <vector>

#include "cli/run_report.h"
#include "settings/conversion_settings.h"

namespace orvalis {

// All pages of a file go into one TIFF file named after it.
bool MergesPages(const ConversionSettings& settings);
// The first image a conversion of `source` writes: its merged TIFF, or the image of page 1.
std::string FirstOutputPath(const std::string& source, const ConversionSettings& settings);

struct SourcePlan {
  std::vector<std::string> convert;
  std::vector<ReportRecord> skipped;  // status "Skipped", with the reason and the images kept
};

// `resume` may be null. With `skipExisting`, a source whose first image exists and is newer
// than the source is skipped.
SourcePlan PlanSources(const std::vector<std::string>& sources, const ConversionSettings& settings,
                       const std::string& digest, const ResumeIndex* resume, bool skipExisting);

}  // namespace orvalis
