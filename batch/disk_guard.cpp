#include "batch/disk_guard.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>

namespace orvalis {

std::string DescribeBytes(uint64_t bytes) {
  char text[64];
  if (bytes >= (uint64_t{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1 << 30));
  } else if (bytes >= (uint64_t{1} << 20)) {
    std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
  } else if (bytes >= 1024) {
    std::snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(bytes >> 10));
  } else {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  }
  return text;
}

std::optional<DiskGuard::Space> DiskGuard::FreeSpace(const std::string& folder) {
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
  Space space;
  space.bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  space.countsInodes = info.f_files != 0;
  space.inodes = info.f_favail;
  return space;
}

DiskGuard::FileSystem* DiskGuard::Find(const std::string& folder, dev_t* device) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return nullptr;
  *device = info.st_dev;
  const auto it = watched_.find(info.st_dev);
  return it == watched_.end() ? nullptr : &it->second;
}

bool DiskGuard::Watch(const std::string& folder) {
  std::lock_guard lock(mutex_);
  dev_t device = 0;
  if (Find(folder, &device) != nullptr) return true;
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return false;
  const std::optional<Space> free = FreeSpace(folder);
  if (!free) return false;
  FileSystem fs;
  fs.folder = folder;
  fs.reserveBytes = std::min(kReserveBytes, free->bytes / 2);
  fs.reserveInodes = free->countsInodes ? std::min(kReserveInodes, free->inodes / 2) : 0;
  watched_.emplace(info.st_dev, std::move(fs));
  return true;
}

void DiskGuard::SetReserve(const std::string& folder, uint64_t bytes, uint64_t inodes) {
  Watch(folder);
  std::lock_guard lock(mutex_);
  dev_t device = 0;
  if (FileSystem* fs = Find(folder, &device)) {
    fs->reserveBytes = bytes;
    fs->reserveInodes = inodes;
  }
}

std::string DiskGuard::Judge(const FileSystem& fs, const Space& free, uint64_t bytes,
                             uint64_t files) const {
  if (free.bytes < fs.reserveBytes + bytes) {
    return "the disk holding " + fs.folder + " is nearly full (" + DescribeBytes(free.bytes) +
           " left)";
  }
  if (free.countsInodes && free.inodes < fs.reserveInodes + files) {
    return "the disk holding " + fs.folder + " is nearly full (" + std::to_string(free.inodes) +
           " more files left)";
  }
  return "";
}

std::string DiskGuard::Check() {
  std::lock_guard lock(mutex_);
  for (const auto& [device, fs] : watched_) {
    const std::optional<Space> free = FreeSpace(fs.folder);
    if (!free) continue;  // a folder that went away is not a full disk
    std::string reason = Judge(fs, *free, 0, 0);
    if (!reason.empty()) return reason;
  }
  return "";
}

std::string DiskGuard::CheckWrite(const std::string& folder, uint64_t bytes, uint64_t files) {
  Watch(folder);
  std::lock_guard lock(mutex_);
  dev_t device = 0;
  const FileSystem* fs = Find(folder, &device);
  const std::optional<Space> free = FreeSpace(folder);
  if (fs == nullptr || !free) return "";  // not examinable: the write itself will tell
  return Judge(*fs, *free, bytes, files);
}

}  // namespace orvalis
