#include "ui/app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "settings/app_paths.h"

namespace orvalis {

namespace {

constexpr char kProgramFolderName[] = "kestrune-orvalis";
constexpr mode_t kPrivateFolder = 0700;

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

// The runtime folder is the user's own; one that is not (a variable kept across a change of
// user) is not written into.
std::string RuntimeFolder() {
  const std::string runtime = AbsoluteFolderFromEnvironment("XDG_RUNTIME_DIR");
  struct stat info {};
  if (runtime.empty() || ::stat(runtime.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      info.st_uid != ::geteuid()) {
    return {};
  }
  return runtime + kProgramFolderName + "/";
}

// `folder` (ending in '/') opened as a folder that is the user's own with mode 0700, made so when
// missing; -1 for anything else: a link, another user's folder, one others may write into.
int OpenPrivateFolder(const std::string& folder) {
  const std::string path = folder.substr(0, folder.size() - 1);  // O_NOFOLLOW needs no '/'
  AppPaths::CreateFolderChain(path);
  const bool made = ::mkdir(path.c_str(), kPrivateFolder) == 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  // A folder made just now gets its mode whatever the umask took away.
  if (made) ::fchmod(fd, kPrivateFolder);
  if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & 07777) != kPrivateFolder) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The lock file in the checked folder: a regular file of the user's, never a link.
int OpenLockFile(int folderFd, const std::string& name) {
  // Close-on-exec: a program started from here (a browser, the interpreter) must not keep the
  // lock alive after this instance has ended.
  const int fd = ::openat(folderFd, name.c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

SingleInstance::SingleInstance(std::string name, std::string folder)
    : name_(name.empty() ? kProgramFolderName : std::move(name)), folder_(std::move(folder)) {
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

SingleInstance::~SingleInstance() {
  if (lockFd_ >= 0) ::close(lockFd_);
  if (folderFd_ >= 0) ::close(folderFd_);
}

bool SingleInstance::TryAcquire() {
  if (lockFd_ >= 0) return true;
  std::vector<std::string> folders;
  if (!folder_.empty()) {
    folders.push_back(folder_);
  } else {
    if (const std::string runtime = RuntimeFolder(); !runtime.empty()) folders.push_back(runtime);
    folders.push_back(CacheFolder());
  }
  for (const std::string& folder : folders) {
    const int folderFd = OpenPrivateFolder(folder);
    if (folderFd < 0) continue;
    const std::string name = name_ + ".lock";
    const int fd = OpenLockFile(folderFd, name);
    if (fd < 0) {
      ::close(folderFd);
      continue;
    }
    int result = 0;
    do {
      result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    const int error = errno;
    if (result == 0 || error == EWOULDBLOCK) {
      if (folderFd_ >= 0) ::close(folderFd_);
      folderFd_ = folderFd;
      path_ = folder + name;
      if (result != 0) {
        ::close(fd);
        return false;
      }
      lockFd_ = fd;
      return true;
    }
    ::close(fd);
    ::close(folderFd);
  }
  return true;  // no usable lock anywhere: run unguarded rather than not at all
}

std::string SingleInstance::SocketPath() const {
  if (folderFd_ < 0) return {};
  return "/proc/self/fd/" + std::to_string(folderFd_) + "/" + name_ + ".socket";
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

}  // namespace orvalis
