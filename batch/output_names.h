#pragma once
// How a source's images are named, and the way back from a name to its source's base name:
// "report_001.png", "report_002.png", ... one per page, the page number in three digits at
// least; or "report.tif" when a TIFF holds every page. The base is the source's name without the
// extensions that say its kind (SourceStem: "report.ps.gz" gives "report").

#include <optional>
#include <string>
#include <string_view>

namespace orvalis {

inline constexpr std::string_view kMergedExtension = ".tif";

std::string PageImageName(std::string_view base, int page, std::string_view extension);
std::string MergedImageName(std::string_view base);

// The base name of the source whose image would be called `fileName`, nullopt when no image of
// the kind is named so.
std::optional<std::string_view> ImageBaseOf(std::string_view fileName, std::string_view extension,
                                            bool merged);

}  // namespace orvalis
