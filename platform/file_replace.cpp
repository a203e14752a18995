#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace orvalis {

namespace {

namespace fs = std::filesystem;

bool Fail(std::string* error, const std::string& what, int code) {
  if (error != nullptr) *error = what + ": " + std::strerror(code);
  return false;
}

// Follows symbolic links (at most a few levels, so a loop cannot hang) to the file to replace.
std::string ResolveLinks(std::string path) {
  for (int depth = 0; depth < 16; ++depth) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec)) break;
    fs::path target = fs::read_symlink(path, ec);
    if (ec) break;
    path =
        target.is_absolute() ? target.string() : (fs::path(path).parent_path() / target).string();
  }
  return path;
}

// The process's umask, read without changing it (umask() itself would race with other threads).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
    }
  }
  return 022;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string target = ResolveLinks(path);
  fs::path folder = fs::path(target).parent_path();
  if (folder.empty()) folder = ".";
  const std::string name = fs::path(target).filename().string();
  if (name.empty()) return Fail(error, "no file name in " + path, EINVAL);

  mode_t mode = 0666 & ~CurrentUmask();
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) mode = old.st_mode & 07777;

  std::string temporary = (folder / ("." + name + ".XXXXXX")).string();
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return Fail(error, "cannot create a temporary file in " + folder.string(), errno);

  int code = 0;
  std::string what;
  // Keeps the first failure only: later steps fail as a consequence of it.
  auto note = [&](std::string failure) {
    if (code != 0) return;
    code = errno;
    what = std::move(failure);
  };
  if (!WriteAll(fd, bytes)) {
    note("cannot write " + temporary);
  } else if (::fchmod(fd, mode) != 0) {
    note("cannot set the permissions of " + temporary);
  } else if (::fsync(fd) != 0) {
    note("cannot flush " + temporary);
  }
  if (::close(fd) != 0) note("cannot close " + temporary);
  if (code == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
    note("cannot replace " + target);
  }
  if (code != 0) {
    ::unlink(temporary.c_str());
    return Fail(error, what, code);
  }
  SyncFolder(folder.string());
  return true;
}

}  // namespace orvalis
