#include "batch/output_names.h"

#include <algorithm>
#include <cstdio>

#include "batch/source_type.h"

namespace orvalis {

std::string ImageBase(std::string_view fileName, bool fullNames) {
  return fullNames ? std::string(fileName) : SourceStem(fileName);
}

std::string PageImageName(std::string_view base, int page, std::string_view extension) {
  char number[16];
  std::snprintf(number, sizeof number, "_%03d", page);
  return std::string(base) + number + std::string(extension);
}

std::string MergedImageName(std::string_view base) {
  return std::string(base) + std::string(kMergedExtension);
}

std::optional<std::string_view> ImageBaseOf(std::string_view fileName, std::string_view extension,
                                            bool merged) {
  if (merged) extension = kMergedExtension;
  if (!fileName.ends_with(extension)) return std::nullopt;
  fileName.remove_suffix(extension.size());
  if (merged) return fileName;
  const size_t underscore = fileName.rfind('_');
  if (underscore == std::string_view::npos) return std::nullopt;
  const std::string_view number = fileName.substr(underscore + 1);
  if (number.size() < 3 ||
      !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  return fileName.substr(0, underscore);
}

}  // namespace orvalis
