#pragma once
// A private temporary folder for one file's rendered pages ("mtmp_<pid>_XXXXXX", mode 0700,
// under $TMPDIR or /tmp), removed with its contents when the object goes. The process id in the
// name marks the folder's owner, so that a folder left by a process that was killed can be
// recognised and removed later.

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace orvalis {

class PageFolder {
 public:
  // nullptr with the reason in `error` when the folder cannot be made.
  static std::unique_ptr<PageFolder> Create(std::string* error);
  ~PageFolder();
  PageFolder(const PageFolder&) = delete;
  PageFolder& operator=(const PageFolder&) = delete;

  // The folder's path, ending in '/'.
  const std::string& Path() const { return path_; }

 private:
  explicit PageFolder(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

// $TMPDIR, else /tmp, ending in '/'.
std::string TemporaryFolder();

struct AbandonedFolder {
  std::string path;
  pid_t owner = 0;
};

// Removes the page folders in TemporaryFolder() that belong to this user and whose owning
// process is gone (killed before it could clean up), with everything in them; returns what it
// removed. Folders of other users, of running processes, and anything that is not a real
// folder are left alone.
std::vector<AbandonedFolder> RemoveAbandonedPageFolders();

}  // namespace orvalis
