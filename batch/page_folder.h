#pragma once
// A private temporary folder for one file's rendered pages ("mtmp_<pid>_XXXXXX", mode 0700,
// under $TMPDIR or /tmp), removed with its contents when the object goes.
//
// Who owns a folder is decided by a lock, never by a process id: beside each folder lies its
// lock file ("mtmp_<pid>_XXXXXX.lock"), created and locked (flock) before the folder is made and
// held by the owner until the folder is gone. The kernel lets the lock go when the owner ends,
// however it ends, so a lock file nobody holds marks a folder whose owner is gone. A process id
// says nothing when runs share the temporary folder but not the process id space (a container
// with the host's /tmp, two machines on one shared home); the lock does (NFS clients share
// flock locks through the server). The process id stays in the name only to help a person.

#include <memory>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"

namespace orvalis {

class PageFolder {
 public:
  // nullptr with the reason in `error` when the folder cannot be made.
  static std::unique_ptr<PageFolder> Create(std::string* error);
  // Removes the folder with its contents, then its lock file, then lets the lock go.
  ~PageFolder();
  PageFolder(const PageFolder&) = delete;
  PageFolder& operator=(const PageFolder&) = delete;

  // The folder's path, ending in '/'.
  const std::string& Path() const { return path_; }

 private:
  PageFolder(std::string path, std::string lockPath, FileDescriptor lock)
      : path_(std::move(path)), lockPath_(std::move(lockPath)), lock_(std::move(lock)) {}
  std::string path_;
  std::string lockPath_;
  FileDescriptor lock_;  // the open lock file, locked; closed (and so unlocked) last
};

// $TMPDIR, else /tmp, ending in '/'.
std::string TemporaryFolder();

// Removes the page folders in TemporaryFolder() that belong to this user and whose lock nobody
// holds (their owner ended before it could clean up), with everything in them and their lock
// files; returns the folders it removed. So are those of this program's naming
// ("mtmp_<digits>_XXXXXX") whose lock file is gone and that have not changed for an hour (a run
// that could not remove its folder keeps its lock file, but something else may remove it).
// Folders of other users, folders whose lock is held or cannot be taken, younger folders without
// a lock file, and anything that is not a real folder are left alone.
std::vector<std::string> RemoveAbandonedPageFolders();

}  // namespace orvalis
