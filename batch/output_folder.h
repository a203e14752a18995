#pragma once
// Where a source file's images go, and what to say when that folder cannot be made.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace orvalis {

// An output folder, ending in '/'. A relative or empty one is taken against the current folder
// (an empty text must not become the root folder).
std::string OutputFolder(const std::string& folder);

// The sub-folder of one source file: its name without the extension. "..ps" and "...ps" would
// give "." and "..", the destination itself and its parent; they keep their whole name.
std::string EachFolderName(const std::filesystem::path& source);

// Why `folder` could not be made, as ": reason" for a message: "File exists" alone does not say
// that the thing in the way is a file, or a link to nothing.
std::string FolderProblem(const std::string& folder, const std::error_code& error);

}  // namespace orvalis
