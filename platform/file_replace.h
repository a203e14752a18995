#pragma once
// Replacing a whole file so that a crash or a full disk never leaves it half-written.

#include <string>
#include <string_view>

namespace orvalis {

// Writes `bytes` to a temporary file in the same folder as `path`, flushes it to disk and renames
// it over `path`. Readers see the old content or the new one, never a mix. An existing file keeps
// its permission bits; a new one gets 0666 less the process's umask. A symbolic link at `path` is
// followed, so the file it names is replaced and the link stays. On failure the old file is
// untouched, the temporary file is removed, and `error` (when given) says what failed.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                           std::string* error = nullptr);

}  // namespace orvalis
