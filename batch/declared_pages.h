#pragma once
// What a PostScript file says of its own page count in its structuring comments. Only a hint:
// a document may say anything, so nothing but how a file is rendered (one interpreter or two)
// rides on it.

#include <optional>
#include <string>
#include <string_view>

namespace orvalis {

// The page count `text` declares: "%%Pages: N" among the header comments (the "%%" lines at
// the start, up to "%%EndComments"), or in the trailer when the header says "(atend)", or 1
// for an encapsulated file ("EPSF" on its first line). nullopt when it declares none.
// `header` is the start of the file, `trailer` its end (they may overlap or be equal).
std::optional<int> DeclaredPageCount(std::string_view header, std::string_view trailer);

// The same for a file, reading its first and last few kilobytes; nullopt when it cannot be read.
std::optional<int> DeclaredPageCount(const std::string& path);

}  // namespace orvalis
