#include "batch/page_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace orvalis {

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::unique_ptr<PageFolder> PageFolder::Create(std::string* error) {
  std::string pattern = TemporaryFolder() + "mtmp_XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    *error =
        "Cannot create a temporary folder in " + TemporaryFolder() + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<PageFolder>(new PageFolder(pattern + "/"));
}

PageFolder::~PageFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace orvalis
