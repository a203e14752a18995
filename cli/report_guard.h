#pragma once
// A report (--report, --resume) is a file of its own. Appending to a file the run reads (a
// source, the list of --files-from, the settings file) would damage it; a report under the name
// of an image the run writes would be replaced by that image, its records lost; a report where
// the run makes a folder for its images would fail every file. A shell pattern expanded where a
// report was meant (--report *.ps) names a PostScript file.

#include <string>
#include <vector>

#include "settings/conversion_settings.h"

namespace orvalis {

// What the run reads and writes besides its reports.
struct RunFiles {
  const std::vector<std::string>& sources;  // absolute paths
  const ConversionSettings& settings;       // where and how the images are written
  std::string list;                         // --files-from; "" or "-" for none
  std::string profile;                      // the settings file
};

// Why `path` cannot be a report of this run ("cannot use the report …: why"); "" when it can.
// Files that exist are compared by identity (device and inode), so that a link or another
// spelling of a source is seen; images that do not exist yet by their names, with the links of
// the folders on the way resolved.
std::string ReportClash(const std::string& path, const RunFiles& run);

}  // namespace orvalis
