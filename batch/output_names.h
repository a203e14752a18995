#pragma once
// How a source's images are named, and the way back from a name to its source's base name:
// "report_001.png", "report_002.png", ... one per page, the page number in three digits at
// least; or "report.tif" when a TIFF holds every page. The base is chosen by one rule for the
// whole run, so that a source's names never depend on the other files of the run (a later run
// with --resume or --skip-existing, and scripts, find them again):
//   - by default, the source's name without the extensions that say its kind (SourceStem:
//     "report.ps.gz" and "report.ps" both give "report");
//   - with full names (the setting "fullnames", --full-names), the whole file name:
//     "report.ps_001.png", "report.ps.tif". Sources that differ only in their kind, a.ps and
//     a.pdf, then write apart.

#include <optional>
#include <string>
#include <string_view>

namespace orvalis {

inline constexpr std::string_view kMergedExtension = ".tif";

// The base of the images of the source named `fileName` (a name, not a path).
std::string ImageBase(std::string_view fileName, bool fullNames);

std::string PageImageName(std::string_view base, int page, std::string_view extension);
std::string MergedImageName(std::string_view base);

// The base name of the source whose image would be called `fileName`, nullopt when no image of
// the kind is named so.
std::optional<std::string_view> ImageBaseOf(std::string_view fileName, std::string_view extension,
                                            bool merged);

}  // namespace orvalis
