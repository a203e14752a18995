#pragma once
// AppPaths: stateless path helpers shared by the settings store, the window, the batch driver and
// the about box. Paths are POSIX paths; folders returned end in '/'.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvalis {

class AppPaths {
 public:
  // The folder of the running program (from /proc/self/exe), ending in '/', followed by
  // `fileName`. When the program's path cannot be read, `fileName` alone (relative to the
  // working folder).
  static std::string ModuleFilePath(std::string_view fileName);

  // The user's home folder with a trailing '/': $HOME, else the password database's entry.
  // When neither names a folder, the temporary folder ($TMPDIR, else /tmp) with a trailing '/'.
  static std::string DocumentsFolder();

  // Creates every folder along `path`: for each '/' from left to right, the text before it; the
  // last component only when `path` ends with '/'. Folders that exist already are fine. Returns
  // true when the folder part of `path` (the text up to its last '/') exists as a folder
  // afterwards; otherwise false, with the reason of the first failure in `error` when given.
  static bool CreateFolderChain(std::string_view path, std::string* error = nullptr);

  // True when `path` names something that can be opened for reading and is not a folder.
  // Never blocks (a named pipe is opened without waiting for a writer).
  static bool FileExists(std::string_view path);

  // The file's size in KiB as the window shows it: the low 32 bits of its length in bytes,
  // divided by 1024, plus 0.9, truncated (0..102 bytes give 0, 103..1126 give 1, 1127 gives 2).
  // 0 for an empty path, a missing file or a folder.
  static uint32_t FileSizeKB(std::string_view path);
};

}  // namespace orvalis
