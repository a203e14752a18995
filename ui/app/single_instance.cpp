#include "ui/app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "ui/settings/app_paths.h"

namespace orvalis {

namespace {

constexpr char kProgramFolderName[] = "kestrune-orvalis";

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string AbsoluteFolderFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr || value[0] != '/') return {};
  std::string folder = value;
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string CacheFolder() {
  const std::string cache = AbsoluteFolderFromEnvironment("XDG_CACHE_HOME");
  return (cache.empty() ? AppPaths::DocumentsFolder() + ".cache/" : cache) + kProgramFolderName +
         "/";
}

std::string RuntimeFolder() {
  const std::string runtime = AbsoluteFolderFromEnvironment("XDG_RUNTIME_DIR");
  if (runtime.empty() || !IsFolder(runtime)) return {};
  return runtime + kProgramFolderName + "/";
}

// Creates `folder` (and its parents) for the lock; the last level is private to the user.
bool MakeLockFolder(const std::string& folder) {
  const std::string parent = folder.substr(0, folder.rfind('/', folder.size() - 2) + 1);
  AppPaths::CreateFolderChain(parent);
  ::mkdir(folder.c_str(), 0700);
  return IsFolder(folder);
}

}  // namespace

SingleInstance::SingleInstance(std::string name, std::string folder)
    : name_(name.empty() ? kProgramFolderName : std::move(name)), folder_(std::move(folder)) {
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) ::close(fd_);
}

bool SingleInstance::TryAcquire() {
  if (fd_ >= 0) return true;
  std::vector<std::string> folders;
  if (!folder_.empty()) {
    folders.push_back(folder_);
  } else {
    if (const std::string runtime = RuntimeFolder(); !runtime.empty()) folders.push_back(runtime);
    folders.push_back(CacheFolder());
  }
  for (const std::string& folder : folders) {
    if (!MakeLockFolder(folder)) continue;
    const std::string path = folder + name_ + ".lock";
    // Close-on-exec: a program started from here (a browser, the interpreter) must not keep
    // the lock alive after this instance has ended.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) continue;
    int result = 0;
    do {
      result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
      fd_ = fd;
      path_ = path;
      return true;
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
      path_ = path;
      return false;
    }
  }
  return true;  // no usable lock anywhere: run unguarded rather than not at all
}

std::string SingleInstance::ExecutableBaseName() {
  std::error_code ec;
  std::string name = std::filesystem::read_symlink("/proc/self/exe", ec).filename().string();
  // A program replaced on disk while it runs (an upgrade) is shown with this suffix.
  constexpr std::string_view kDeleted = " (deleted)";
  if (name.size() > kDeleted.size() && name.ends_with(kDeleted)) {
    name.erase(name.size() - kDeleted.size());
  }
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::string SingleInstance::DefaultLockFolder() {
  const std::string runtime = RuntimeFolder();
  if (!runtime.empty() && MakeLockFolder(runtime)) return runtime;
  const std::string cache = CacheFolder();
  MakeLockFolder(cache);
  return cache;
}

}  // namespace orvalis
