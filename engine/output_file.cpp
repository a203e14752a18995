#include "engine/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>

namespace orvalis {

namespace {

// Longest file name the file systems we write to take (NAME_MAX on Linux).
constexpr size_t kMaxNameBytes = 255;

// ".name.ab12cd.part" in the final file's folder, so that the rename stays on one file system.
// A final name near the longest a file name may be is shortened in the temporary name (at a
// UTF-8 character boundary), so that every output whose own name fits can be written.
std::string TemporaryNameFor(const std::filesystem::path& finalPath, std::mt19937_64& random) {
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

}  // namespace

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

std::unique_ptr<PendingOutput> PendingOutput::Open(const std::string& finalPath, const char* mode,
                                                   std::string* error) {
  if (finalPath.empty()) {
    *error = "No output file name was given";
    return nullptr;
  }
  std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string tempPath = TemporaryNameFor(finalPath, random);
    // O_EXCL: never reuse a name that is there already; 0666 lets the umask decide, as for any
    // file the user creates.
    const int fd = ::open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *error = "Cannot create " + Quoted(finalPath) + ": " + std::strerror(errno);
      return nullptr;
    }
    std::FILE* file = ::fdopen(fd, mode);
    if (file == nullptr) {
      *error = "Cannot create " + Quoted(finalPath) + ": " + std::strerror(errno);
      ::close(fd);
      ::unlink(tempPath.c_str());
      return nullptr;
    }
    return std::unique_ptr<PendingOutput>(new PendingOutput(finalPath, std::move(tempPath), file));
  }
  *error = "Cannot create " + Quoted(finalPath) + ": no free temporary name";
  return nullptr;
}

PendingOutput::~PendingOutput() {
  if (file_ != nullptr) std::fclose(file_);
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

bool PendingOutput::Commit(std::string* error) {
  const bool written = std::ferror(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!written || !closed) {
    *error = "Cannot write " + Quoted(finalPath_) + ": " + std::strerror(errno ? errno : EIO);
    return false;
  }
  // A file the user made read-only is one they want kept: it is not replaced (a rename would
  // replace it regardless of its permissions).
  struct stat standing {};
  if (::lstat(finalPath_.c_str(), &standing) == 0 && S_ISREG(standing.st_mode) &&
      (standing.st_mode & 0222) == 0) {
    *error = "Cannot write " + Quoted(finalPath_) + ": the file there is read-only";
    return false;
  }
  if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
    *error = "Cannot write " + Quoted(finalPath_) + ": " + std::strerror(errno);
    return false;
  }
  tempPath_.clear();
  return true;
}

}  // namespace orvalis
