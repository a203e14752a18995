#include "batch/page_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

namespace orvalis {

namespace {

constexpr std::string_view kPrefix = "mtmp_";
constexpr std::string_view kLockSuffix = ".lock";
constexpr int kCreateAttempts = 100;
// A page folder whose lock file is gone (its owner could not finish removing the folder, or
// something else removed the file) is taken for abandoned once it has not changed for this
// long: a rendering writes its pages into it.
constexpr std::chrono::hours kLocklessGrace{1};

bool TryLock(int fd) {
  return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// True when `path` still names the file open as `fd`: a lock taken on a file that was unlinked
// (and perhaps made again) in the meantime guards nothing.
bool StillNamed(int fd, const std::string& path) {
  struct stat open {
  }, named{};
  return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool IsOwnRealFolder(const std::string& path) {
  struct stat info {};
  // lstat: a link named like a page folder is not followed, and is no page folder.
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

std::string FolderOfLock(const std::string& lockPath) {
  return lockPath.substr(0, lockPath.size() - kLockSuffix.size());
}

// "mtmp_<digits>_XXXXXX": the names Create gives, and no others.
bool IsPageFolderName(std::string_view name) {
  if (!name.starts_with(kPrefix)) return false;
  name.remove_prefix(kPrefix.size());
  const size_t underscore = name.find('_');
  if (underscore == 0 || underscore == std::string_view::npos) return false;
  const std::string_view pid = name.substr(0, underscore);
  const std::string_view random = name.substr(underscore + 1);
  const auto all = [](std::string_view text, int (*test)(int)) {
    for (const char c : text)
      if (test(static_cast<unsigned char>(c)) == 0) return false;
    return true;
  };
  return all(pid, std::isdigit) && random.size() == 6 && all(random, std::isalnum);
}

// A page folder of this user, no lock file beside it, unchanged for the grace time.
bool IsLocklessAndOld(const std::string& folder) {
  struct stat info {}, lock{};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      info.st_uid != ::geteuid())
    return false;
  if (::lstat((folder + std::string(kLockSuffix)).c_str(), &lock) == 0 || errno != ENOENT)
    return false;
  const auto changed = std::chrono::system_clock::time_point(
      std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec));
  return std::chrono::system_clock::now() - changed > kLocklessGrace;
}

}  // namespace

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

// The lock file comes first, locked, then the folder: there is never a folder of ours that a
// cleaner could take for abandoned. A cleaner may still take the lock file in the moment between
// its creation and its locking; then it unlinks it, the check that the name still holds our file
// fails, and another name is tried.
std::unique_ptr<PageFolder> PageFolder::Create(std::string* error) {
  const std::string stem = TemporaryFolder() + std::string(kPrefix) + std::to_string(::getpid());
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    std::string lockPath = stem + "_XXXXXX" + std::string(kLockSuffix);
    FileDescriptor lock(
        ::mkostemps(lockPath.data(), static_cast<int>(kLockSuffix.size()), O_CLOEXEC));
    if (lock.Get() < 0) {
      *error =
          "Cannot create a temporary folder in " + TemporaryFolder() + ": " + std::strerror(errno);
      return nullptr;
    }
    if (!TryLock(lock.Get()) || !StillNamed(lock.Get(), lockPath)) continue;
    const std::string folder = FolderOfLock(lockPath);
    if (::mkdir(folder.c_str(), 0700) != 0) {
      const int code = errno;
      ::unlink(lockPath.c_str());
      if (code == EEXIST) continue;
      *error =
          "Cannot create a temporary folder in " + TemporaryFolder() + ": " + std::strerror(code);
      return nullptr;
    }
    return std::unique_ptr<PageFolder>(new PageFolder(folder + "/", lockPath, std::move(lock)));
  }
  *error = "Cannot create a temporary folder in " + TemporaryFolder() + ": no free name";
  return nullptr;
}

PageFolder::~PageFolder() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  // A folder that could not be removed (out of descriptors, say) keeps its lock file, unlocked
  // as this goes: the next run's clean-up finds it by that.
  if (error && std::filesystem::exists(std::filesystem::symlink_status(path_))) return;
  ::unlink(lockPath_.c_str());
}

std::vector<std::string> RemoveAbandonedPageFolders() {
  namespace fs = std::filesystem;
  std::vector<std::string> removed;
  std::error_code ec;
  for (fs::directory_iterator it(TemporaryFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (IsPageFolderName(name) && IsLocklessAndOld(it->path().string())) {
      std::error_code removeError;
      fs::remove_all(it->path(), removeError);
      if (!removeError) removed.push_back(it->path().string());
      continue;
    }
    if (!name.starts_with(kPrefix) || !name.ends_with(kLockSuffix)) continue;
    const std::string lockPath = it->path().string();
    // O_NONBLOCK: a named pipe planted under a lock file's name does not hang the start.
    FileDescriptor lock(::open(lockPath.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (lock.Get() < 0 || ::fstat(lock.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid()) {
      continue;
    }
    // Held: its owner runs. Taken, but no longer under that name: another cleaner was first.
    if (!TryLock(lock.Get()) || !StillNamed(lock.Get(), lockPath)) continue;
    const std::string folder = FolderOfLock(lockPath);
    if (IsOwnRealFolder(folder)) {
      std::error_code removeError;
      fs::remove_all(folder, removeError);  // never follows links inside
      if (removeError) continue;            // the lock file stays, so a later start tries again
      removed.push_back(folder);
    }
    ::unlink(lockPath.c_str());
  }
  return removed;
}

}  // namespace orvalis
