#pragma once
// What Add Folder lists: the entries of one folder that are not folders, in the order in which
// the original platform's file system lists a folder, by name without regard to case
// ("brochure.ps" before "REPORT.PS").

#include <string>
#include <string_view>
#include <vector>

namespace orvalis {

// True when the file name `a` is listed before `b`: the names compared as UTF-16 with every
// unit in upper case (as that file system's case table does); names equal that way in byte
// order, so that the order is total.
bool ListedBefore(std::string_view a, std::string_view b);

// The full paths of the entries directly in `folder` that are not folders (sub-folders are not
// entered), in ListedBefore order of their names. Empty when the folder cannot be read.
std::vector<std::string> FolderFiles(const std::string& folder);

}  // namespace orvalis
