#include "batch/output_folder.h"

#include <sys/stat.h>

#include <system_error>

#include "batch/source_type.h"
#include "platform/file_replace.h"
#include "platform/paths.h"

namespace orvalis {

namespace fs = std::filesystem;

namespace {

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string OutputFolder(const std::string& folder) {
  const std::string absolute = AbsolutePath(folder.empty() ? "." : folder);
  // The text as given, not ".", when the current folder cannot be named.
  return WithTrailingSlash(absolute == "." ? folder : absolute);
}

std::string EachFolderName(const fs::path& source, bool fullNames) {
  const std::string name = source.filename().string();
  if (fullNames) return name + std::string(kFullNameFolderSuffix);
  const std::string stem = SourceStem(name);
  return stem == "." || stem == ".." ? name : stem;
}

std::string OutputFolderOf(const std::string& source, const ConversionSettings& settings) {
  const fs::path path(source);
  std::string folder =
      OutputFolder(settings.mode == 0 ? path.parent_path().string() : settings.output);
  if (settings.each == 1) folder += EachFolderName(path, settings.fullnames == 1) + "/";
  return folder;
}

std::string FolderProblem(const std::string& folder, const std::error_code& error) {
  fs::path path = fs::path(folder).lexically_normal();
  if (!path.has_filename()) path = path.parent_path();
  // The deepest part that is there but is no folder is the one in the way.
  for (fs::path part = path; !part.empty() && part != part.root_path(); part = part.parent_path()) {
    std::error_code ec;
    const fs::file_status link = fs::symlink_status(part, ec);
    if (ec || !fs::exists(link)) continue;
    const fs::file_status target = fs::status(part, ec);
    if (fs::is_symlink(link) && target.type() == fs::file_type::not_found) {
      return ": " + part.string() + " is a link to " + fs::read_symlink(part, ec).string() +
             ", which does not exist";
    }
    if (ec) return ": " + part.string() + ": " + ec.message();
    if (!fs::is_directory(target)) {
      return ": " + part.string() + " is a file, not a folder";
    }
    break;
  }
  return error ? ": " + error.message() : "";
}

OutputFolders::Use OutputFolders::Acquire(const std::string& folder) {
  Use use;
  std::lock_guard lock(mutex_);
  // The folders about to be made, deepest first, so that they can be removed again.
  std::error_code ec;
  for (fs::path path = fs::path(folder).lexically_normal();
       !path.empty() && path != path.parent_path() && !fs::exists(path, ec);
       path = path.parent_path()) {
    if (path.filename().empty()) continue;  // the trailing '/'
    use.madeFolders.push_back(path.string());
  }
  fs::create_directories(folder, ec);
  std::error_code statError;
  if (!fs::is_directory(folder, statError)) {
    use.madeFolders.clear();
    use.error = "Cannot create the folder " + folder + FolderProblem(folder, ec);
    return use;
  }
  // What a killed run left half-written here goes the first time this run writes here.
  if (cleaned_.insert(folder).second) RemoveAbandonedReplacements(folder);
  ++users_[folder];
  use.ready = true;
  return use;
}

void OutputFolders::Release(const std::string& folder, const Use& use, bool removeMade) {
  if (!use.ready) return;
  std::lock_guard lock(mutex_);
  const auto it = users_.find(folder);
  if (it == users_.end() || --it->second > 0) return;
  users_.erase(it);
  if (!removeMade) return;
  std::error_code ec;
  for (const std::string& made : use.madeFolders) {
    if (!fs::remove(made, ec)) break;  // not empty: what is in it stays, and so do its parents
  }
}

}  // namespace orvalis
