#pragma once
// DiskGuard: keeps a reserve free on every file system a run writes to (the page folders and
// the output folders), in bytes and in inodes. A file system is counted once, however many of
// the run's folders it holds, so rendering and conversion share one reserve on it.
//
// The reserve of a file system is fixed when the guard first sees it: kReserveBytes, or half of
// what was free then when that is less (a small disk may still be used, but only half of it);
// the same for inodes with kReserveInodes. File systems that report no inode count (some
// network and copy-on-write ones) are watched in bytes only.
//
// What a write will take is the caller's estimate: the driver counts an output by what the
// pages of its file took as written (FileConversion::OutputEstimate).

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/limits.h"

namespace orvalis {

class DiskGuard {
 public:
  static constexpr uint64_t kReserveBytes = limits::kDiskReserveBytes;
  static constexpr uint64_t kReserveInodes = limits::kDiskReserveFiles;

  // Starts watching the file system holding `folder` (an existing folder). False when it
  // cannot be examined; it is then not watched.
  bool Watch(const std::string& folder);

  // "" while every watched file system keeps its reserve; otherwise the reason, "the disk
  // holding <folder> is nearly full (<left> left)".
  std::string Check();

  // Whether `bytes` more bytes and `files` more files may be written into `folder` without
  // eating into the reserve of its file system (which is watched from then on). "" when they
  // may, the reason when not.
  std::string CheckWrite(const std::string& folder, uint64_t bytes, uint64_t files = 1);

  // Test hook: the reserve of the file system holding `folder`, in place of the rule above.
  void SetReserve(const std::string& folder, uint64_t bytes, uint64_t inodes);

 private:
  struct FileSystem {
    std::string folder;  // the first folder seen on it, named in messages
    uint64_t reserveBytes = 0;
    uint64_t reserveInodes = 0;
  };
  struct Space {
    uint64_t bytes = 0;
    uint64_t inodes = 0;
    bool countsInodes = false;
  };

  static std::optional<Space> FreeSpace(const std::string& folder);
  FileSystem* Find(const std::string& folder, dev_t* device);
  std::string Judge(const FileSystem& fs, const Space& free, uint64_t bytes, uint64_t files) const;

  std::mutex mutex_;
  std::map<dev_t, FileSystem> watched_;
};

// "1.5 GiB", "12 MiB", "800 KiB", "312 bytes".
std::string DescribeBytes(uint64_t bytes);

}  // namespace orvalis
