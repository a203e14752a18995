#pragma once
// An output file that appears under its final name only when it is complete: it is written
// under a temporary name in the target folder and renamed over the final name on Commit.
// Dropped without Commit, the temporary is removed and a file already standing under the
// final name stays untouched.

#include <cstdio>
#include <memory>
#include <string>

namespace orvalis {

class PendingOutput {
 public:
  // Creates the temporary beside `finalPath` and opens it with stdio `mode` ("wb", "w+b").
  // nullptr with the reason in `error` when the folder does not take the file.
  static std::unique_ptr<PendingOutput> Open(const std::string& finalPath, const char* mode,
                                             std::string* error);
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  std::FILE* File() const { return file_; }
  const std::string& FinalPath() const { return finalPath_; }
  // Closes the file and renames it into place; false with the reason when either fails.
  bool Commit(std::string* error);

 private:
  PendingOutput(std::string finalPath, std::string tempPath, std::FILE* file)
      : finalPath_(std::move(finalPath)), tempPath_(std::move(tempPath)), file_(file) {}

  std::string finalPath_;
  std::string tempPath_;
  std::FILE* file_;
};

// "'path'": how paths appear in messages.
std::string Quoted(const std::string& path);

}  // namespace orvalis
