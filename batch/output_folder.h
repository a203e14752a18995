#pragma once
// Where a source file's images go, and what to say when that folder cannot be made.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "settings/conversion_settings.h"

namespace orvalis {

// An output folder, ending in '/'. A relative or empty one is taken against the current folder
// (an empty text must not become the root folder).
std::string OutputFolder(const std::string& folder);

// The sub-folder of one source file, named after it by the run's naming rule (output_names.h).
// By default that is its name without the extension; "..ps" and "...ps" would give "." and "..",
// the destination itself and its parent, so they keep their whole name. With full names it is
// the whole name followed by "_images" ("a.pdf_images"): beside the source, a folder of the
// source's own name could not be made.
std::string EachFolderName(const std::filesystem::path& source, bool fullNames);
inline constexpr std::string_view kFullNameFolderSuffix = "_images";

// The folder the images of `source` go into, ending in '/': beside it or in the destination
// folder, and in its own sub-folder with "each".
std::string OutputFolderOf(const std::string& source, const ConversionSettings& settings);

// Why `folder` could not be made, as ": reason" for a message: "File exists" alone does not say
// that the thing in the way is a file, or a link to nothing.
std::string FolderProblem(const std::string& folder, const std::error_code& error);

// The output folders a run writes into, made when the first file needs one. A folder the run
// made is removed again when the last file using it is done with it, when that file asks for it
// (its output went nowhere) and the folder is empty. The first time the run writes into a
// folder, the temporaries a killed run left there are removed (RemoveAbandonedReplacements).
class OutputFolders {
 public:
  struct Use {
    bool ready = false;
    std::string error;                     // why the folder could not be made
    std::vector<std::string> madeFolders;  // the folders it took to make it, deepest first
  };
  // Makes `folder` (and the folders above it) if needed, and counts one more user of it.
  Use Acquire(const std::string& folder);
  // One user fewer; removes the folders `use` made when `removeMade` and nobody uses them.
  void Release(const std::string& folder, const Use& use, bool removeMade);

 private:
  std::mutex mutex_;
  std::map<std::string, int> users_;
  std::set<std::string> cleaned_;  // folders cleared of abandoned temporaries this run
};

}  // namespace orvalis
