#pragma once
// The list of --files-from: paths one per line, or separated by NUL bytes (find -print0), from
// a file, a pipe or standard input.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvalis {

// The longest entry a list may hold: the longest path the system takes (PATH_MAX, its NUL
// included) ...
inline constexpr size_t kLongestListEntry = 4095;
// ... and the most a list may hold in all, so that a list that never ends (/dev/zero, a pipe
// left open) stops the run with a reason instead of filling the memory.
inline constexpr uint64_t kLargestList = uint64_t{1} << 30;

// The paths of a list: one per line, or separated by NUL bytes with `nullSeparated`. Empty
// entries are skipped; a line may end in "\r\n". `-` reads standard input. An entry longer than
// kLongestListEntry, a line holding a NUL byte (it would name one file and be shown as
// another) and a list larger than kLargestList are errors.
std::optional<std::vector<std::string>> ReadPathList(const std::string& file, bool nullSeparated,
                                                     std::string* error);

}  // namespace orvalis
