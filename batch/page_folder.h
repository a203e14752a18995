#pragma once
// A private temporary folder for one file's rendered pages ("mtmp_XXXXXX", mode 0700, under
// $TMPDIR or /tmp), removed with its contents when the object goes.

#include <memory>
#include <string>

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

}  // namespace orvalis
