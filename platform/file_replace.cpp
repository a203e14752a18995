#include "platform/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

namespace orvalis {

namespace {

namespace fs = std::filesystem;

// Longest file name the file systems we write to take (NAME_MAX on Linux).
constexpr size_t kMaxNameBytes = 255;

// ".name.ab12cd.part" in the final file's folder. A final name near the longest a file name may
// be is shortened here (at a UTF-8 character boundary).
std::string TemporaryNameFor(const fs::path& finalPath, std::mt19937_64& random) {
  static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static constexpr std::string_view kEnding = ".part";
  std::string suffix(6, 'x');
  for (char& c : suffix) c = kDigits[random() % (sizeof kDigits - 1)];
  std::string base = finalPath.filename().string();
  const size_t room = kMaxNameBytes - 2 - suffix.size() - kEnding.size();
  if (base.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
    base.resize(cut);
  }
  std::string name = ".";
  name.append(base).append(".").append(suffix).append(kEnding);
  return (finalPath.parent_path() / name).string();
}

// ".<name>.<6 letters or digits>.part", as TemporaryNameFor makes them.
bool LooksLikeTemporary(std::string_view name) {
  constexpr std::string_view kEnding = ".part";
  constexpr size_t kSuffix = 6;
  if (name.size() < 2 + 1 + kSuffix + kEnding.size() || name.front() != '.' ||
      !name.ends_with(kEnding))
    return false;
  const std::string_view suffix = name.substr(name.size() - kEnding.size() - kSuffix, kSuffix);
  return name[name.size() - kEnding.size() - kSuffix - 1] == '.' &&
         std::all_of(suffix.begin(), suffix.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// Follows symbolic links (at most a few levels, so a loop cannot hang) to the file they name.
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

// Why the name cannot be replaced, or "" when it can (nothing there, a writable regular file or
// a symbolic link). `mode` receives the permission bits the new file should get.
std::string Refusal(const std::string& target, mode_t* mode) {
  *mode = 0666 & ~CurrentUmask();
  struct stat standing {};
  if (::lstat(target.c_str(), &standing) != 0) return "";
  const mode_t type = standing.st_mode & S_IFMT;
  if (type == S_IFLNK) return "";
  if (type == S_IFREG) {
    if ((standing.st_mode & 0222) == 0) return "the file there is read-only";
    *mode = standing.st_mode & 07777;
    return "";
  }
  if (type == S_IFDIR) return "it is a folder";
  if (type == S_IFIFO) return "it is a named pipe";
  if (type == S_IFCHR || type == S_IFBLK) return "it is a device";
  if (type == S_IFSOCK) return "it is a socket";
  return "it is not a regular file";
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Gives the complete file `tempPath` the permission bits the rules give a file at `target` and
// renames it over `target`, then makes the rename durable. `finalPath` names the file in
// messages.
bool RenameIntoPlace(const std::string& tempPath, const std::string& target,
                     const std::string& finalPath, std::string* error) {
  mode_t mode = 0;
  if (const std::string refusal = Refusal(target, &mode); !refusal.empty()) {
    *error = "Cannot write " + Quoted(finalPath) + ": " + refusal;
    return false;
  }
  if (::chmod(tempPath.c_str(), mode) != 0 || std::rename(tempPath.c_str(), target.c_str()) != 0) {
    *error = "Cannot write " + Quoted(finalPath) + ": " + std::strerror(errno);
    return false;
  }
  fs::path folder = fs::path(target).parent_path();
  SyncFolder(folder.empty() ? "." : folder.string());
  return true;
}

}  // namespace

std::vector<std::string> RemoveAbandonedReplacements(const std::string& folder) {
  constexpr time_t kQuietSeconds = 60;
  std::vector<std::string> removed;
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return removed;
  DIR* dir = ::fdopendir(::dup(dirFd));
  if (dir == nullptr) {
    ::close(dirFd);
    return removed;
  }
  const time_t now = ::time(nullptr);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!LooksLikeTemporary(name)) continue;
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat opened {};
    struct stat named {};
    // Ours, a plain file, quiet for a while, and nobody's lock on it: then, once locked, still
    // the file under that name.
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid() &&
        now - opened.st_mtime >= kQuietSeconds && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == opened.st_dev && named.st_ino == opened.st_ino &&
        ::unlinkat(dirFd, name.c_str(), 0) == 0) {
      removed.push_back((fs::path(folder) / name).string());
    }
    ::close(fd);
  }
  ::closedir(dir);
  ::close(dirFd);
  return removed;
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

std::unique_ptr<ReplacementFile> ReplacementFile::Open(const std::string& finalPath,
                                                       LinkAtFinalName links, std::string* error) {
  if (finalPath.empty()) {
    *error = "No output file name was given";
    return nullptr;
  }
  std::string target = links == LinkAtFinalName::Follow ? ResolveLinks(finalPath) : finalPath;
  if (fs::path(target).filename().empty()) {
    *error = "Cannot write " + Quoted(finalPath) + ": no file name";
    return nullptr;
  }
  mode_t mode = 0;
  if (const std::string refusal = Refusal(target, &mode); !refusal.empty()) {
    *error = "Cannot write " + Quoted(finalPath) + ": " + refusal;
    return nullptr;
  }
  std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string tempPath = TemporaryNameFor(target, random);
    const int fd = ::open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *error = "Cannot create " + Quoted(finalPath) + ": " + std::strerror(errno);
      return nullptr;
    }
    // Locked while it exists: its lock tells a live writer's temporary from an abandoned one.
    // It stays private until it is put in place, where it takes the mode the rules give it.
    ::flock(fd, LOCK_EX);
    std::FILE* file = ::fdopen(fd, "w+b");
    if (file == nullptr) {
      *error = "Cannot create " + Quoted(finalPath) + ": " + std::strerror(errno);
      ::close(fd);
      ::unlink(tempPath.c_str());
      return nullptr;
    }
    return std::unique_ptr<ReplacementFile>(
        new ReplacementFile(finalPath, std::move(target), std::move(tempPath), file));
  }
  *error = "Cannot create " + Quoted(finalPath) + ": no free temporary name";
  return nullptr;
}

ReplacementFile::~ReplacementFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

bool ReplacementFile::Commit(std::string* error) {
  // Keeps the first failure: later steps fail as a consequence of it.
  int code = 0;
  auto step = [&code](bool ok) {
    if (!ok && code == 0) code = errno != 0 ? errno : EIO;
  };
  errno = 0;
  step(std::fflush(file_) == 0);
  step(std::ferror(file_) == 0);
  step(::fsync(::fileno(file_)) == 0);
  step(std::fclose(file_) == 0);
  file_ = nullptr;
  if (code != 0) {
    *error = "Cannot write " + Quoted(finalPath_) + ": " + std::strerror(code);
    return false;
  }
  // The name is checked again: something may have been put there while the file was written.
  if (!RenameIntoPlace(tempPath_, target_, finalPath_, error)) return false;
  tempPath_.clear();
  return true;
}

bool PutInPlace(const std::string& tempPath, const std::string& finalPath, LinkAtFinalName links,
                std::string* error) {
  const std::string target = links == LinkAtFinalName::Follow ? ResolveLinks(finalPath) : finalPath;
  return RenameIntoPlace(tempPath, target, finalPath, error);
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  std::string reason;
  std::unique_ptr<ReplacementFile> file =
      ReplacementFile::Open(path, LinkAtFinalName::Follow, &reason);
  bool ok = file != nullptr;
  if (ok && !bytes.empty() &&
      std::fwrite(bytes.data(), 1, bytes.size(), file->File()) != bytes.size()) {
    reason = "Cannot write " + Quoted(path) + ": " + std::strerror(errno != 0 ? errno : EIO);
    ok = false;
  }
  ok = ok && file->Commit(&reason);
  if (!ok && error != nullptr) *error = reason;
  return ok;
}

}  // namespace orvalis
