#include "batch/page_folder.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace orvalis {

namespace {

constexpr std::string_view kPrefix = "mtmp_";
constexpr size_t kRandomPart = 6;  // the XXXXXX of mkdtemp

// The owner's process id in a page folder's name, "mtmp_<pid>_XXXXXX"; 0 when it has none.
pid_t OwnerOf(const std::string& name) {
  if (!name.starts_with(kPrefix)) return 0;
  const size_t underscore = name.find('_', kPrefix.size());
  if (underscore == std::string::npos || name.size() != underscore + 1 + kRandomPart) return 0;
  const std::string digits = name.substr(kPrefix.size(), underscore - kPrefix.size());
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return static_cast<pid_t>(std::stol(digits));
}

bool ProcessIsGone(pid_t pid) {
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::unique_ptr<PageFolder> PageFolder::Create(std::string* error) {
  std::string pattern =
      TemporaryFolder() + std::string(kPrefix) + std::to_string(::getpid()) + "_XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    *error =
        "Cannot create a temporary folder in " + TemporaryFolder() + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<PageFolder>(new PageFolder(pattern + "/"));
}

PageFolder::~PageFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<AbandonedFolder> RemoveAbandonedPageFolders() {
  namespace fs = std::filesystem;
  std::vector<AbandonedFolder> removed;
  std::error_code ec;
  for (fs::directory_iterator it(TemporaryFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    const pid_t owner = OwnerOf(it->path().filename().string());
    if (owner <= 0 || owner == ::getpid()) continue;
    const std::string path = it->path().string();
    struct stat info {};
    // lstat: a link named like a page folder is not followed, and is no page folder.
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        !ProcessIsGone(owner)) {
      continue;
    }
    std::error_code removeError;
    fs::remove_all(path, removeError);  // never follows links inside
    if (!removeError) removed.push_back({path, owner});
  }
  return removed;
}

}  // namespace orvalis
