#include "settings/app_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace orvalis {

namespace {

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string HomeFromPasswordDatabase() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr) {
    return {};
  }
  return found->pw_dir;
}

}  // namespace

std::string AppPaths::ModuleFilePath(std::string_view fileName) {
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || program.empty()) return std::string(fileName);
  std::string folder = program.string();
  folder.erase(folder.rfind('/') + 1);
  return folder + std::string(fileName);
}

std::string AppPaths::DocumentsFolder() {
  const char* home = std::getenv("HOME");
  std::string folder = (home != nullptr && home[0] == '/') ? home : HomeFromPasswordDatabase();
  if (folder.empty() || folder[0] != '/') {
    const char* temporary = std::getenv("TMPDIR");
    folder = (temporary != nullptr && temporary[0] == '/') ? temporary : "/tmp";
  }
  return WithTrailingSlash(std::move(folder));
}

bool AppPaths::CreateFolderChain(std::string_view path, std::string* error) {
  const size_t last = path.rfind('/');
  if (path.empty() || last == std::string_view::npos) return true;
  int firstFailure = 0;
  std::string failedFolder;
  for (size_t slash = path.find('/'); slash != std::string_view::npos;
       slash = path.find('/', slash + 1)) {
    if (slash == 0) continue;  // the root
    const std::string folder(path.substr(0, slash));
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST && firstFailure == 0) {
      firstFailure = errno;
      failedFolder = folder;
    }
  }
  const std::string wanted = last == 0 ? "/" : std::string(path.substr(0, last));
  struct stat info {};
  if (::stat(wanted.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  if (error != nullptr) {
    if (firstFailure != 0) {
      *error = "cannot create the folder " + failedFolder + ": " + std::strerror(firstFailure);
    } else {
      *error = "cannot create the folder " + wanted + ": " + std::strerror(ENOTDIR);
    }
  }
  return false;
}

bool AppPaths::FileExists(std::string_view path) {
  if (path.empty()) return false;
  const std::string name(path);
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info {};
  const bool file = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
  ::close(fd);
  return file;
}

uint32_t AppPaths::FileSizeKB(std::string_view path) {
  if (path.empty()) return 0;
  const std::string name(path);
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return 0;
  // length / 1024 + 0.9, truncated, in whole numbers: (length + 921.6) / 1024. The whole
  // 64-bit length counts, so a file past 4 GiB does not show as a small one.
  const uint64_t length = static_cast<uint64_t>(info.st_size);
  const uint64_t kb = length / 1024 + ((length % 1024) * 10 + 9216) / 10240;
  return static_cast<uint32_t>(std::min<uint64_t>(kb, UINT32_MAX));
}

}  // namespace orvalis
