#pragma once
// Path helpers shared by the layers above.

#include <string>

namespace orvalis {

// `path` made absolute against the current folder and tidied ("a/./b/../c" becomes "a/c");
// the text as given when the current folder cannot be named.
std::string AbsolutePath(const std::string& path);

}  // namespace orvalis
