#include "cli/report_guard.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>

#include "batch/output_folder.h"
#include "batch/output_names.h"
#include "batch/source_type.h"
#include "cli/cli_options.h"
#include "cli/source_filter.h"
#include "engine/output_formats.h"
#include "platform/paths.h"

namespace orvalis {

namespace fs = std::filesystem;

namespace {

bool SameFile(const struct stat& a, const std::string& path) {
  struct stat b {};
  return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The path with the links of its existing part resolved; no trailing '/'.
fs::path Resolved(const std::string& path) {
  fs::path given = fs::path(AbsolutePath(path)).lexically_normal();
  if (!given.has_filename() && given.has_parent_path()) given = given.parent_path();
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(given, ec);
  return ec ? given : resolved;
}

std::string InputClash(const std::string& path, const RunFiles& run) {
  struct stat report {};
  if (::stat(path.c_str(), &report) != 0) return "";
  for (const std::string& source : run.sources)
    if (SameFile(report, source)) return "it is " + source + ", one of the files to convert";
  if (!run.list.empty() && run.list != "-" && SameFile(report, run.list))
    return "it is the list of --files-from";
  if (!run.profile.empty() && SameFile(report, run.profile)) return "it is the settings file";
  return "";
}

std::string OutputClash(const std::string& path, const RunFiles& run) {
  // The name as given (a link there would be replaced by the image) and the file it leads to.
  const fs::path given = fs::path(AbsolutePath(path)).lexically_normal();
  const fs::path names[] = {Resolved(given.parent_path().string()) / given.filename(),
                            Resolved(path)};
  std::map<std::string, fs::path> folders;  // each output folder, resolved once
  auto folderOf = [&](const std::string& source) -> const fs::path& {
    const std::string folder = OutputFolderOf(source, run.settings);
    auto it = folders.find(folder);
    if (it == folders.end()) it = folders.emplace(folder, Resolved(folder)).first;
    return it->second;
  };
  for (const fs::path& name : names) {
    const std::string fileName = name.filename().string();
    const std::optional<std::string_view> base = ImageBaseOf(
        fileName, FormatFromType(run.settings.type).extension, MergesPages(run.settings));
    for (const std::string& source : run.sources) {
      if (base &&
          ImageBase(fs::path(source).filename().native(), run.settings.fullnames == 1) == *base &&
          folderOf(source) == name.parent_path())
        return "the run writes an image of " + source + " under that name";
    }
  }
  // The folders the images go into: the report must not stand where one is to be made.
  const fs::path& report = names[1];
  for (const std::string& source : run.sources) {
    const fs::path& folder = folderOf(source);
    if (std::mismatch(report.begin(), report.end(), folder.begin(), folder.end()).first ==
        report.end())
      return "the run writes images into " + folder.string() +
             (folder == report ? "" : ", inside it");
  }
  return "";
}

}  // namespace

std::string ReportClash(const std::string& path, const RunFiles& run) {
  std::string why = InputClash(path, run);
  if (const std::string name = fs::path(path).filename().string();
      why.empty() && HasSourceExtension(name)) {
    const bool pdf = HasPdfExtension(name);
    why = std::string("it is named like a ") + (pdf ? "PDF" : "PostScript") +
          " file; did the shell expand a pattern such as *" + (pdf ? ".pdf" : ".ps") +
          " in its place?";
  }
  if (why.empty()) why = OutputClash(path, run);
  return why.empty() ? "" : "cannot use the report " + path + ": " + why;
}

}  // namespace orvalis
